#include "connections.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

#include "opx.h"
#include "platform/install_layout.h"
#include "xmitfile.h"

namespace opxwin {

namespace {

// The bridge's answer as a text; a null answer is empty.
QString answer(const char* text) {
    return fromCore(text);
}

void writeError(const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

// ---- BridgeConnection -----------------------------------------------------------------------

BridgeConnection::BridgeConnection(const QString& libraryName) : libraryName_(libraryName) {}

QString BridgeConnection::libraryFileName(const QString& name) {
#ifdef Q_OS_WIN
    return name + QStringLiteral(".dll");
#else
    return name + QStringLiteral(".so");
#endif
}

bool BridgeConnection::load(const char* const* names, QFunctionPointer* functions, int count) {
    const QString failure = libraryFileName(libraryName_) + QStringLiteral(" could not be loaded");
    // Beside the program first (the build tree), then in the libraries' folder of an
    // installation (P/lib for P/bin/opxwin), then by name alone wherever the system looks.
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString beside = programDir.filePath(libraryName_);
    const QString installed = QDir::cleanPath(
        programDir.filePath(QStringLiteral(OPX_LAYOUT_BIN_TO_LIB "/") + libraryName_));
    QString reason;
    for (const QString& candidate : {beside, installed, libraryName_}) {
        auto lib = std::make_unique<QLibrary>(candidate);
        if (!lib->load()) {
            reason = lib->errorString();
            continue;
        }
        int i = 0;
        for (; i < count; ++i) {
            functions[i] = lib->resolve(names[i]);
            if (functions[i] == nullptr) break;
        }
        if (i == count) {
            library_ = std::move(lib);
            return true;
        }
        reason = QString::fromLatin1(names[i]) + QStringLiteral(" not found in ") + lib->fileName();
        for (int k = 0; k < count; ++k) functions[k] = nullptr;
        lib->unload();
    }
    writeError(failure);
    if (!reason.isEmpty()) writeError(reason);
    sConnectMessage = failure;
    return false;
}

BridgeConnectSink BridgeConnection::connectSink() {
    return BridgeConnectSink{this, &BridgeConnection::init};
}

void BridgeConnection::init(void* context, int64_t started, int64_t, const char* modulePath,
                            const char* productName, const char* productVersion,
                            const char* connectMessage, const char*, int) {
    auto* self = static_cast<BridgeConnection*>(context);
    self->dateStarted = QDateTime::fromSecsSinceEpoch(started);
    const QString path = pathFromCore(modulePath);
    self->sProductDir = path.left(Opx::lastSep(path) + 1);
    self->sProductName = fromCore(productName);
    self->sProductVersion = fromCore(productVersion);
    self->sConnectMessage = fromCore(connectMessage);
    self->initCalled_ = true;
}

void BridgeConnection::connected(const char* failure) {
    // The connection counts as made once the bridge has called init.
    bConnected = failure == nullptr && initCalled_;
    if (failure != nullptr) sConnectMessage = fromCore(failure);
    if (!sConnectMessage.isEmpty()) writeError(sConnectMessage);
}

// ---- OpxConnection --------------------------------------------------------------------------

QString OpxConnection::sLibraryName = QStringLiteral("opxbridge");

OpxConnection* OpxConnection::theConnection() {
    static OpxConnection* connection = new OpxConnection;
    return connection;
}

OpxConnection::OpxConnection() : BridgeConnection(sLibraryName) {
    static const char* const names[] = {"OpxBridgeConnect",
                                        "OpxBridgeOpen",
                                        "OpxBridgeClose",
                                        "OpxBridgeGetDe",
                                        "OpxBridgeReqBuild",
                                        "OpxBridgeReqAddMember",
                                        "OpxBridgeReqText",
                                        "OpxBridgeReqConvert",
                                        "OpxBridgeReqRelink",
                                        "OpxBridgeReqExtract",
                                        "OpxBridgeReqStop",
                                        "OpxBridgeReqGetFileName",
                                        "OpxBridgeReqGetMember",
                                        "OpxBridgeReqGetErrorMessage",
                                        "OpxBridgeReqGetRecordsWritten",
                                        "OpxBridgeReqGetFilesCreated",
                                        "OpxBridgeReqGetFilesReplaced",
                                        "OpxBridgeReqGetFilesSkipped"};
    static_assert(sizeof(Api) == sizeof(names) / sizeof(names[0]) * sizeof(QFunctionPointer));
    if (!load(names, reinterpret_cast<QFunctionPointer*>(&api_),
              static_cast<int>(sizeof(names) / sizeof(names[0]))))
        return;
    const BridgeConnectSink sink = connectSink();
    connected(api_.connect(Opx::iTraceLevel, &sink));
}

QString OpxConnection::open(XmitFile* file, const QString& canonicalPath) {
    if (!bConnected) return sConnectMessage;
    const OpxFileSink sink = XmitFile::sinkFor(file);
    const QByteArray path = pathToCore(canonicalPath);
    return answer(api_.open(&sink, path.constData()));
}

void OpxConnection::close(qint64 handle) {
    if (bConnected) api_.close(handle);
}

std::optional<QString> OpxConnection::getDe(qint64 handle, int fileNumber, int memberNumber) {
    if (!bConnected) return std::nullopt;
    const char* line = api_.getDe(handle, fileNumber, memberNumber);
    if (line == nullptr) return std::nullopt;
    return fromCore(line);
}

qint64 OpxConnection::reqBuild(int type, int dataSet, int members, const QString& target) {
    if (!bConnected) return 0;
    return api_.reqBuild(type, dataSet, members, pathToCore(target).constData());
}

void OpxConnection::reqAddMember(qint64 request, int position, const QString& name) {
    if (bConnected) api_.reqAddMember(request, position, toCore(name).constData());
}

void OpxConnection::reqText(qint64 request, int lrecl, int lineEnd, int tabs, bool strip,
                            bool truncate) {
    if (bConnected) api_.reqText(request, lrecl, lineEnd, tabs, strip, truncate);
}

void OpxConnection::reqConvert(qint64 request, int format, int lrecl, int blksize, int padChar,
                               bool strip, bool translate, bool blocked, bool spanned,
                               bool truncate) {
    if (bConnected)
        api_.reqConvert(request, format, lrecl, blksize, padChar, strip, translate, blocked,
                        spanned, truncate);
}

void OpxConnection::reqRelink(qint64 request, const QString& listing, const QString& parameters) {
    if (bConnected)
        api_.reqRelink(request, pathToCore(listing).constData(), toCore(parameters).constData());
}

int OpxConnection::reqExtract(int action, qint64 file, qint64 request) {
    return bConnected ? api_.reqExtract(action, file, request) : 0;
}

void OpxConnection::reqStop(qint64 request) {
    if (bConnected) api_.reqStop(request);
}

QString OpxConnection::reqGetFileName(qint64 request) {
    return bConnected ? pathFromCore(api_.reqGetFileName(request)) : QString();
}

QString OpxConnection::reqGetMember(qint64 request) {
    return bConnected ? answer(api_.reqGetMember(request)) : QString();
}

QString OpxConnection::reqGetErrorMessage(qint64 request) {
    return bConnected ? answer(api_.reqGetErrorMessage(request)) : QString();
}

qint64 OpxConnection::reqGetRecordsWritten(qint64 request) {
    return bConnected ? api_.reqGetRecordsWritten(request) : 0;
}

qint64 OpxConnection::reqGetFilesCreated(qint64 request) {
    return bConnected ? api_.reqGetFilesCreated(request) : 0;
}

qint64 OpxConnection::reqGetFilesReplaced(qint64 request) {
    return bConnected ? api_.reqGetFilesReplaced(request) : 0;
}

qint64 OpxConnection::reqGetFilesSkipped(qint64 request) {
    return bConnected ? api_.reqGetFilesSkipped(request) : 0;
}

// ---- BrenConnection -------------------------------------------------------------------------

QString BrenConnection::sLibraryName = QStringLiteral("brenbridge");

BrenConnection* BrenConnection::theConnection() {
    static BrenConnection* connection = new BrenConnection;
    return connection;
}

BrenConnection::BrenConnection() : BridgeConnection(sLibraryName) {
    static const char* const names[] = {"BrenBridgeConnect",
                                        "BrenBridgeGetDefaultOriginNode",
                                        "BrenBridgeGetDefaultOriginUser",
                                        "BrenBridgeIsDsnValid",
                                        "BrenBridgeDoesFileExist",
                                        "BrenBridgeGetMembers",
                                        "BrenBridgeGetBinderData",
                                        "BrenBridgeGetDevices",
                                        "BrenBridgeGetMaxBlksize",
                                        "BrenBridgeGetGoodBlksize",
                                        "BrenBridgeGetMaxTrks",
                                        "BrenBridgeGetTrksPerCyl",
                                        "BrenBridgeCreateXmitFile"};
    static_assert(sizeof(Api) == sizeof(names) / sizeof(names[0]) * sizeof(QFunctionPointer));
    if (!load(names, reinterpret_cast<QFunctionPointer*>(&api_),
              static_cast<int>(sizeof(names) / sizeof(names[0]))))
        return;
    const BridgeConnectSink sink = connectSink();
    connected(api_.connect(Opx::iTraceLevel, &sink));
    if (bConnected) sProgramName = QCoreApplication::applicationName();
}

QString BrenConnection::getDefaultOriginNode() {
    return bConnected ? answer(api_.getDefaultOriginNode()) : QString();
}

QString BrenConnection::getDefaultOriginUser() {
    return bConnected ? answer(api_.getDefaultOriginUser()) : QString();
}

bool BrenConnection::isDsnValid(const QString& dsname) {
    return bConnected && api_.isDsnValid(toCore(dsname).constData()) != 0;
}

bool BrenConnection::doesFileExist(const QString& path) {
    return bConnected && api_.doesFileExist(pathToCore(path).constData()) != 0;
}

int BrenConnection::getMembers(const BrenMemberSink& sink, const QString& pattern) {
    return bConnected ? api_.getMembers(&sink, pathToCore(pattern).constData()) : -1;
}

QString BrenConnection::getBinderData(const BrenRequestSink& sink, const QString& pattern,
                                      const QStringList& members) {
    if (!bConnected) return sConnectMessage;
    QList<QByteArray> bytes;
    std::vector<const char*> names;
    for (const QString& m : members) bytes << toCore(m);
    for (const QByteArray& b : bytes) names.push_back(b.constData());
    return answer(api_.getBinderData(&sink, pathToCore(pattern).constData(), names.data(),
                                     static_cast<int>(names.size())));
}

void BrenConnection::getDevices(const BrenDeviceSink& sink, int minimumBlksize) {
    if (bConnected) api_.getDevices(&sink, minimumBlksize);
}

int BrenConnection::getMaxBlksize(const QString& device) {
    return bConnected ? api_.getMaxBlksize(toCore(device).constData()) : -1;
}

int BrenConnection::getGoodBlksize(const QString& device) {
    return bConnected ? api_.getGoodBlksize(toCore(device).constData()) : -1;
}

int BrenConnection::getMaxTrks(const QString& device) {
    return bConnected ? api_.getMaxTrks(toCore(device).constData()) : -1;
}

int BrenConnection::getTrksPerCyl(const QString& device) {
    return bConnected ? api_.getTrksPerCyl(toCore(device).constData()) : -1;
}

QString BrenConnection::createXmitFile(const BrenRequestSink& sink, const BrenBuild& build) {
    if (!bConnected) return sConnectMessage;
    return answer(api_.createXmitFile(&sink, &build));
}

} // namespace opxwin
