// The connections to the two bridge libraries. Each class loads its bridge by name the first
// time it is used (beside the program first, then wherever the system looks for libraries),
// connects the core behind it with the trace level, and forwards the program's operations.
// When the library cannot be loaded, "<name>.so could not be loaded" goes to the error
// stream, the connection reports not connected, and that text is its connect message.
#pragma once

#include <QDateTime>
#include <QLibrary>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "brenbridge.h"
#include "opxbridge.h"

namespace opxwin {

class XmitFile;

// What both connections share: the library, the init call-back and the connection's facts.
class BridgeConnection {
  public:
    virtual ~BridgeConnection() = default;

    bool isConnected() const { return bConnected; }

    QDateTime dateStarted;
    QString sProductDir;
    QString sProductName;
    QString sProductVersion;
    QString sConnectMessage;

    // The library's file name as messages show it.
    static QString libraryFileName(const QString& name);

  protected:
    explicit BridgeConnection(const QString& libraryName);
    // Loads the library; false (with the message written) when it cannot be loaded or lacks
    // one of the names.
    bool load(const char* const* names, QFunctionPointer* functions, int count);
    // The call-back table for connect.
    BridgeConnectSink connectSink();
    // Takes the answer of the bridge's connect.
    void connected(const char* failure);

    bool bConnected = false;

  private:
    static void init(void* context, int64_t started, int64_t connected, const char* modulePath,
                     const char* productName, const char* productVersion,
                     const char* connectMessage, const char* productFamily, int traceLevel);
    QString libraryName_;
    std::unique_ptr<QLibrary> library_;
    bool initCalled_ = false;
};

class OpxConnection : public BridgeConnection {
  public:
    // The name the bridge is loaded by; tests may change it before the first use.
    static QString sLibraryName;

    // The single instance, created and connected on the first call.
    static OpxConnection* theConnection();

    // Opens a transmit file: empty on success, else the bridge's message.
    QString open(XmitFile* file, const QString& canonicalPath);
    void close(qint64 handle);
    std::optional<QString> getDe(qint64 handle, int fileNumber, int memberNumber);

    qint64 reqBuild(int type, int dataSet, int members, const QString& target);
    void reqAddMember(qint64 request, int position, const QString& name);
    void reqText(qint64 request, int lrecl, int lineEnd, int tabs, bool strip, bool truncate);
    void reqConvert(qint64 request, int format, int lrecl, int blksize, int padChar, bool strip,
                    bool translate, bool blocked, bool spanned, bool truncate);
    void reqRelink(qint64 request, const QString& listing, const QString& parameters);
    int reqExtract(int action, qint64 file, qint64 request);
    void reqStop(qint64 request);
    QString reqGetFileName(qint64 request);
    QString reqGetMember(qint64 request);
    QString reqGetErrorMessage(qint64 request);
    qint64 reqGetRecordsWritten(qint64 request);
    qint64 reqGetFilesCreated(qint64 request);
    qint64 reqGetFilesReplaced(qint64 request);
    qint64 reqGetFilesSkipped(qint64 request);

  private:
    OpxConnection();

    struct Api {
        decltype(&OpxBridgeConnect) connect;
        decltype(&OpxBridgeOpen) open;
        decltype(&OpxBridgeClose) close;
        decltype(&OpxBridgeGetDe) getDe;
        decltype(&OpxBridgeReqBuild) reqBuild;
        decltype(&OpxBridgeReqAddMember) reqAddMember;
        decltype(&OpxBridgeReqText) reqText;
        decltype(&OpxBridgeReqConvert) reqConvert;
        decltype(&OpxBridgeReqRelink) reqRelink;
        decltype(&OpxBridgeReqExtract) reqExtract;
        decltype(&OpxBridgeReqStop) reqStop;
        decltype(&OpxBridgeReqGetFileName) reqGetFileName;
        decltype(&OpxBridgeReqGetMember) reqGetMember;
        decltype(&OpxBridgeReqGetErrorMessage) reqGetErrorMessage;
        decltype(&OpxBridgeReqGetRecordsWritten) reqGetRecordsWritten;
        decltype(&OpxBridgeReqGetFilesCreated) reqGetFilesCreated;
        decltype(&OpxBridgeReqGetFilesReplaced) reqGetFilesReplaced;
        decltype(&OpxBridgeReqGetFilesSkipped) reqGetFilesSkipped;
    };
    Api api_{};
};

class BrenConnection : public BridgeConnection {
  public:
    static QString sLibraryName;
    QString sProgramName;

    static BrenConnection* theConnection();

    QString getDefaultOriginNode();
    QString getDefaultOriginUser();
    bool isDsnValid(const QString& dsname);
    bool doesFileExist(const QString& path);
    // The member files of a pattern through the sink; negative when the text is no pattern.
    int getMembers(const BrenMemberSink& sink, const QString& pattern);
    // Empty when the load modules can be sent (after sink.setPdsData), else the reason.
    QString getBinderData(const BrenRequestSink& sink, const QString& pattern,
                          const QStringList& members);
    void getDevices(const BrenDeviceSink& sink, int minimumBlksize);
    int getMaxBlksize(const QString& device);
    int getGoodBlksize(const QString& device);
    int getMaxTrks(const QString& device);
    int getTrksPerCyl(const QString& device);
    // The builder's message (empty when it gave none); sink.setCreationOk on success.
    QString createXmitFile(const BrenRequestSink& sink, const BrenBuild& build);

  private:
    BrenConnection();

    struct Api {
        decltype(&BrenBridgeConnect) connect;
        decltype(&BrenBridgeGetDefaultOriginNode) getDefaultOriginNode;
        decltype(&BrenBridgeGetDefaultOriginUser) getDefaultOriginUser;
        decltype(&BrenBridgeIsDsnValid) isDsnValid;
        decltype(&BrenBridgeDoesFileExist) doesFileExist;
        decltype(&BrenBridgeGetMembers) getMembers;
        decltype(&BrenBridgeGetBinderData) getBinderData;
        decltype(&BrenBridgeGetDevices) getDevices;
        decltype(&BrenBridgeGetMaxBlksize) getMaxBlksize;
        decltype(&BrenBridgeGetGoodBlksize) getGoodBlksize;
        decltype(&BrenBridgeGetMaxTrks) getMaxTrks;
        decltype(&BrenBridgeGetTrksPerCyl) getTrksPerCyl;
        decltype(&BrenBridgeCreateXmitFile) createXmitFile;
    };
    Api api_{};
};

} // namespace opxwin
