// One extraction: the wizard, the request built in the extractor core through the bridge, the
// worker thread that runs it step by step, and the status dialog that shows it.
//
// The worker never touches a widget: status lines and progress travel as queued signals, and
// the questions (overwrite a file? go on after a failed member?) are asked on the interface
// thread while the worker waits for the answer. The status dialog starts the worker when it is
// first on the screen and cannot be closed while the request runs; the worker is joined before
// the request is stopped.
#pragma once

#include <QList>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <vector>

#include "extracttypes.h"

class QWidget;

namespace opxwin {

class OpxConnection;
class SourceFile;
class SourceMember;
class StatusDialog;

class ExtractRequest : public QObject {
    Q_OBJECT
  public:
    // The answers of the overwrite question, in this order.
    static const QStringList sExistOptions;

    // members: the data set's members or null; selected: the indices of the selected table
    // rows (empty: all members).
    ExtractRequest(QWidget* frame, SourceFile* file, std::vector<SourceMember>* members,
                   const QList<int>& selected);
    ~ExtractRequest() override;

    // Runs the wizard and, unless it is cancelled, the extraction; returns when the status
    // dialog has closed. False when the wizard was cancelled.
    bool extract();

    // The wizard alone: true when it ended with OK and the request was built.
    bool showExtractDialog();

    // What the wizard collected.
    const ExtractReqType* extractReqType = nullptr;
    QString sTargetPathName;
    QString sListingPath;
    QString sBinderParm;
    int iOverwrite = -1; // -1 prompt, 0 never, 1 always
    const ConvertFormat* convertFormat = nullptr;
    int iLrecl = 0;
    int iBlksize = 0;
    int iStripPadChar = 0;
    int iTabs = 0;
    QString sLineEnd;
    bool bStrip = false;
    bool bTranslate = false;
    bool bTrunc = false;
    qint64 lReqHandle = 0;

    StatusDialog* statusDialog() const { return statusDialog_; }
    // The member names of the selection, in ascending row order.
    QStringList selectedNames() const;

  private:
    friend class ExtractWorker;
    void buildRequest();
    void startWorker();
    // Asked on the interface thread.
    int askOverwrite(const QString& name);
    bool askLoadModuleFailed(const QString& text);
    void showExtractFailed(const QString& text);

    QWidget* parentFrame_;
    SourceFile* sourceFile_;
    std::vector<SourceMember>* sourceMembers_;
    QList<int> selectedMembers_;
    OpxConnection* conn_;
    StatusDialog* statusDialog_ = nullptr;
    class ExtractWorker* extractThread_ = nullptr;
};

// The worker: writes the summary, drives the request through its events and writes the end.
class ExtractWorker : public QThread {
    Q_OBJECT
  public:
    explicit ExtractWorker(ExtractRequest* request);

  signals:
    void status(const QString& text);
    void progress();
    void done();

  protected:
    void run() override;

  private:
    void summary();
    // The "created with"/"replaced with" line of a written file.
    QString writtenLine(const QString& file, qint64 records, bool replacing) const;
    ExtractRequest* r_;
};

} // namespace opxwin
