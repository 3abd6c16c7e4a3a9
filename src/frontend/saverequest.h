// One build of a transmit file: the build wizard, then the builder core (through brenbridge)
// writing the file on a worker thread while the status dialog shows the summary and the
// builder's message. The worker never touches a widget; the "Create Failed" box is shown on
// the interface thread while the worker waits, and the outcome is read only after the worker
// has finished.
#pragma once

#include <QObject>
#include <QStringList>
#include <QThread>
#include <atomic>

#include "brenbridge.h"

class QWidget;

namespace opxwin {

class BrenConnection;
class StatusDialog;

class SaveRequest : public QObject {
    Q_OBJECT
  public:
    // FILEDATA kinds.
    enum { FILEDATA_NONE = 0, FILEDATA_TEXT = 1, FILEDATA_RECORD = 2, FILEDATA_BINDER = 3 };
    static const QStringList asFiledata; // "None", "Text", "Record", "Binder"

    SaveRequest(QWidget* frame, const QString& dir, const QString& name);
    ~SaveRequest() override;

    // Runs the wizard and, unless it is cancelled, the build; true when the file was created.
    bool save();
    // The wizard alone: true when it ended with OK.
    bool showSaveDialogs();

    QWidget* parentFrame() const { return parentFrame_; }
    BrenConnection* bren() const { return bren_; }
    StatusDialog* statusDialog() const { return statusDialog_; }
    // The transmit file to create: folder and name.
    QString xmitPath() const { return sXmitFileDir + sXmitFileName; }

    QString sCaption;
    bool bIsPds = true;
    std::atomic<bool> bSuccess{false};
    int iMembers = 0;
    int iMinBlksize = 0;
    QString sXmitFileName;
    QString sXmitFileDir; // ends with the file separator
    QString sMsgFileName;
    QString sDsn;
    QString sInputPath;
    QString sOriginNode;
    QString sOriginUser;
    QString sTargetNode;
    QString sTargetUser;
    QString sRecfm;
    QStringList asMembers;  // the members found on page 2
    QStringList asSelected; // the members chosen on page 3
    bool bIsSpaceCyls = false;
    bool bIsPriSpaceInc = true;
    int iFiledata = FILEDATA_TEXT;
    int iLrecl = 0;
    int iBlksize = 0;
    int iTabs = 0;
    QString sDevice;
    int iPriSpace = 0;
    int iSecSpace = 1;
    int iDirBlocks = 0;
    int iMinDirBlocks = 0;

    // The bridge's call-backs.
    void setCreationOk() { bSuccess = true; }
    void setPdsData(int minimumBlksize, int minimumDirBlocks);
    BrenRequestSink sink();

    // The summary the status dialog starts with.
    QString summary() const;

  private:
    friend class SaveWorker;
    void startWorker();
    void showCreateFailed(const QString& text);

    QWidget* parentFrame_;
    BrenConnection* bren_;
    StatusDialog* statusDialog_ = nullptr;
    class SaveWorker* saveThread_ = nullptr;
};

class SaveWorker : public QThread {
    Q_OBJECT
  public:
    explicit SaveWorker(SaveRequest* request) : r_(request) {}

  signals:
    void status(const QString& text);
    void done();

  protected:
    void run() override;

  private:
    SaveRequest* r_;
};

} // namespace opxwin
