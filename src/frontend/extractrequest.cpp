#include "extractrequest.h"

#include "connections.h"
#include "extractdialogs.h"
#include "prompts.h"
#include "statusdialog.h"
#include "xmitfile.h"

namespace opxwin {

// ---- the kinds ------------------------------------------------------------------------------

const ExtractReqType& ExtractReqType::of(int id) {
    static const ExtractReqType types[] = {{0, "Text"},  {1, "Dump"},    {2, "Prefixed"},
                                           {3, "IBM"},   {4, "Convert"}, {5, "Delink"},
                                           {6, "Relink"}};
    return types[id >= 0 && id <= 6 ? id : 0];
}

const ConvertFormat& ConvertFormat::of(int id) {
    static const ConvertFormat formats[] = {{0, "Fixed Length Records", 0, false, false, 0},
                                            {1, "Variable Unblocked Records", 5, false, false, 4},
                                            {2, "Variable Blocked Records", 5, true, false, 4},
                                            {3, "Spanned Unblocked Records", 5, false, true, 4},
                                            {4, "Spanned Blocked Records", 5, true, true, 4},
                                            {5, "No Record Separators", 1, false, false, 0},
                                            {6, "2-byte exclusive RDW", 2, false, false, 0},
                                            {7, "2-byte inclusive RDW", 3, false, false, 0},
                                            {8, "4-byte standard RDW", 4, false, false, 4},
                                            {9, "4-byte spanned RDW", 4, false, true, 4}};
    return formats[id >= 0 && id <= CONVERT_FORMAT_LAST ? id : 0];
}

// ---- the request ----------------------------------------------------------------------------

const QStringList ExtractRequest::sExistOptions = {
    QStringLiteral("Replace"), QStringLiteral("Skip"), QStringLiteral("Replace All"),
    QStringLiteral("Skip All"), QStringLiteral("Cancel")};

ExtractRequest::ExtractRequest(QWidget* frame, SourceFile* file, std::vector<SourceMember>* members,
                               const QList<int>& selected)
    : parentFrame_(frame), sourceFile_(file), sourceMembers_(members),
      selectedMembers_(members != nullptr ? selected : QList<int>()),
      conn_(OpxConnection::theConnection()) {
    std::sort(selectedMembers_.begin(), selectedMembers_.end());
    // Only rows that stand for a member count.
    const int count = members != nullptr ? static_cast<int>(members->size()) : 0;
    selectedMembers_.erase(std::remove_if(selectedMembers_.begin(), selectedMembers_.end(),
                                          [count](int row) { return row < 0 || row >= count; }),
                           selectedMembers_.end());
}

ExtractRequest::~ExtractRequest() {
    if (extractThread_ != nullptr) {
        extractThread_->wait();
        delete extractThread_;
    }
    if (lReqHandle != 0) conn_->reqStop(lReqHandle);
    delete statusDialog_;
}

QStringList ExtractRequest::selectedNames() const {
    QStringList names;
    for (int row : selectedMembers_)
        names << (*sourceMembers_)[static_cast<size_t>(row)].sMemberName;
    return names;
}

bool ExtractRequest::showExtractDialog() {
    ExtractDialog first(parentFrame_, sourceFile_);
    const QString caption = first.windowTitle();
    for (;;) {
        if (prompts().runDialog(&first) != WizardPage::Ok) return false;
        extractReqType = &ExtractReqType::of(first.selectedType());
        sTargetPathName = first.pathName();
        iOverwrite = first.overwrite();
        const int type = extractReqType->id;
        int answer = WizardPage::Ok;
        if (type == ExtractReqType::EXTRACT_TYPE_TEXT && !sourceFile_->bIsLoadLib) {
            ExtractTextDialog page(parentFrame_, caption, sourceFile_);
            answer = prompts().runDialog(&page);
            iLrecl = page.lrecl();
            iTabs = page.tabs();
            bStrip = page.strip();
            sLineEnd = page.unixLineEnd() ? QStringLiteral("Unix") : QStringLiteral("Dos");
        } else if (type == ExtractReqType::EXTRACT_TYPE_DUMP) {
            ExtractDumpDialog page(parentFrame_, caption);
            answer = prompts().runDialog(&page);
            iLrecl = page.lrecl();
        } else if (type == ExtractReqType::EXTRACT_TYPE_CONVERT) {
            ExtractConvertDialog page(parentFrame_, caption, sourceFile_);
            answer = prompts().runDialog(&page);
            convertFormat = &page.format();
            iLrecl = page.lrecl();
            iBlksize = page.blksize();
            iStripPadChar = page.padChar();
            bStrip = page.strip();
            bTranslate = page.translate();
            bTrunc = page.truncate();
        } else if (type == ExtractReqType::EXTRACT_TYPE_RELINK) {
            ExtractRelinkDialog page(parentFrame_, caption);
            answer = prompts().runDialog(&page);
            sListingPath = page.listingPath();
            sBinderParm = page.parameters();
        }
        if (answer == WizardPage::Back) continue;
        if (answer != WizardPage::Ok) return false;
        buildRequest();
        return true;
    }
}

void ExtractRequest::buildRequest() {
    const int type = extractReqType->id;
    lReqHandle = conn_->reqBuild(type, sourceFile_->iFileNumber + 1,
                                 static_cast<int>(selectedMembers_.size()), sTargetPathName);
    const QStringList names = selectedNames();
    for (int i = 0; i < names.size(); ++i) conn_->reqAddMember(lReqHandle, i, names.at(i));
    if (type == ExtractReqType::EXTRACT_TYPE_TEXT && !sourceFile_->bIsLoadLib)
        conn_->reqText(lReqHandle, iLrecl, sLineEnd == QLatin1String("Unix") ? 2 : 3, iTabs, bStrip,
                       bTrunc);
    else if (type == ExtractReqType::EXTRACT_TYPE_DUMP)
        conn_->reqText(lReqHandle, iLrecl, 0, 0, false, false);
    else if (type == ExtractReqType::EXTRACT_TYPE_CONVERT)
        conn_->reqConvert(lReqHandle, convertFormat->getFormat(), iLrecl, iBlksize, iStripPadChar,
                          bStrip, bTranslate, convertFormat->blocked, convertFormat->spanned,
                          bTrunc);
    else if (type == ExtractReqType::EXTRACT_TYPE_RELINK)
        conn_->reqRelink(lReqHandle, sListingPath, sBinderParm);
}

bool ExtractRequest::extract() {
    if (!showExtractDialog()) return false;
    statusDialog_ =
        new StatusDialog(parentFrame_, QStringLiteral("Extracting ") + sourceFile_->toString());
    if (sourceMembers_ != nullptr)
        statusDialog_->setMembers(selectedMembers_.isEmpty()
                                      ? static_cast<int>(sourceMembers_->size())
                                      : static_cast<int>(selectedMembers_.size()));
    // The worker starts once the dialog is on the screen.
    connect(statusDialog_, &StatusDialog::firstShown, this, &ExtractRequest::startWorker);
    prompts().runDialog(statusDialog_);
    // The dialog closes only after the worker has said it is done; join it before the request
    // it drives is stopped.
    if (extractThread_ != nullptr) extractThread_->wait();
    conn_->reqStop(lReqHandle);
    lReqHandle = 0;
    return true;
}

void ExtractRequest::startWorker() {
    if (extractThread_ != nullptr) return;
    extractThread_ = new ExtractWorker(this);
    extractThread_->setObjectName(QStringLiteral("Extract"));
    connect(extractThread_, &ExtractWorker::status, statusDialog_, &StatusDialog::append);
    connect(extractThread_, &ExtractWorker::progress, statusDialog_, &StatusDialog::advance);
    connect(extractThread_, &ExtractWorker::done, statusDialog_, &StatusDialog::setDone);
    extractThread_->start();
}

int ExtractRequest::askOverwrite(const QString& name) {
    const int answer = prompts().overwrite(statusDialog_, QStringLiteral("File exists: ") + name);
    return answer >= 0 && answer < sExistOptions.size() ? answer : 4;
}

bool ExtractRequest::askLoadModuleFailed(const QString& text) {
    return prompts().loadModuleFailed(statusDialog_, text);
}

void ExtractRequest::showExtractFailed(const QString& text) {
    prompts().message(statusDialog_, QMessageBox::Critical, QStringLiteral("Extract Failed"), text);
}

// ---- the worker -----------------------------------------------------------------------------

ExtractWorker::ExtractWorker(ExtractRequest* request) : r_(request) {}

namespace {
QString yesNo(bool b) {
    return b ? QStringLiteral("Yes") : QStringLiteral("No");
}
} // namespace

void ExtractWorker::summary() {
    const ExtractRequest& r = *r_;
    QString s = QStringLiteral("Extracting ") + r.sourceFile_->toString();
    s += QStringLiteral("\n    From ") + r.sourceFile_->xmitFile->sPathName;
    s += QStringLiteral("\n    Target path: ") + r.sTargetPathName;
    s += QStringLiteral("\n    Overwrite?:          ") +
         (r.iOverwrite < 0    ? QStringLiteral("Prompt")
          : r.iOverwrite == 0 ? QStringLiteral("Never")
                              : QStringLiteral("Always"));
    s += QStringLiteral("\n    Extract format:      ") + r.extractReqType->toString();
    switch (r.extractReqType->id) {
    case ExtractReqType::EXTRACT_TYPE_TEXT:
        if (r.sourceFile_->bIsLoadLib) break;
        s += QStringLiteral("\n    Maxmimum Lrecl:      ") + QString::number(r.iLrecl);
        s += QStringLiteral("\n    Tabs:                ") + QString::number(r.iTabs);
        s += QStringLiteral("\n    Line End Style:      ") + r.sLineEnd;
        s += QStringLiteral("\n    Strip?:              ") + yesNo(r.bStrip);
        break;
    case ExtractReqType::EXTRACT_TYPE_DUMP:
        s += QStringLiteral("\n    Lrecl:               ") + QString::number(r.iLrecl);
        break;
    case ExtractReqType::EXTRACT_TYPE_CONVERT:
        s += QStringLiteral("\n    Convert format:      ") + r.convertFormat->toString();
        s += QStringLiteral("\n    Lrecl:               ") + QString::number(r.iLrecl);
        s += QStringLiteral("\n    Blksize:             ") + QString::number(r.iBlksize);
        s += QStringLiteral("\n    Strip/Pad character: ") +
             QStringLiteral("%1").arg(r.iStripPadChar, 2, 16, QLatin1Char('0')).toUpper();
        s += QStringLiteral("\n    Translate?:          ") + yesNo(r.bTranslate);
        s += QStringLiteral("\n    Truncate?:           ") + yesNo(r.bTrunc);
        break;
    case ExtractReqType::EXTRACT_TYPE_RELINK:
        s += QStringLiteral("\n    Binder listing path: ") + r.sListingPath;
        s += QStringLiteral("\n    Binber parameters:   ") + r.sBinderParm;
        break;
    default:
        break;
    }
    if (r.sourceMembers_ != nullptr) {
        const QStringList names = r.selectedNames();
        if (names.isEmpty())
            s += QStringLiteral("\n    All members selected.");
        else if (names.size() == 1)
            s += QStringLiteral("\n    1 member selected:");
        else
            s += QStringLiteral("\n    %1 members selected:").arg(names.size());
        for (const QString& n : names) s += QStringLiteral("\n      ") + n;
    }
    emit status(s);
}

QString ExtractWorker::writtenLine(const QString& file, qint64 records, bool replacing) const {
    return QStringLiteral("\n") + file +
           (replacing ? QStringLiteral(" replaced with ") : QStringLiteral(" created with ")) +
           (records == 1 ? QStringLiteral("1 record.")
                         : QStringLiteral("%1 records.").arg(records));
}

void ExtractWorker::run() {
    ExtractRequest& r = *r_;
    OpxConnection* c = r.conn_;
    StatusDialog* dialog = r.statusDialog_;
    summary();

    enum { GO = 0, SKIP = 1, STOP = 2 };
    int action = GO;
    bool replacing = false;
    bool terminated = false;
    QString pending; // a file announced and answered with go on, not yet reported
    const qint64 file = r.sourceFile_->xmitFile->lHandle;
    for (;;) {
        if (dialog->wasCancelPressed() && !terminated) {
            terminated = true;
            action = STOP;
            emit status(QStringLiteral("\nExtract Terminated!"));
        }
        const int event = c->reqExtract(action, file, r.lReqHandle);
        // A stop ends the request whatever the core answers.
        if (event <= 0 || action == STOP) break;
        switch (event) {
        case 1: {
            QString name = c->reqGetFileName(r.lReqHandle);
            if (name.isEmpty()) name = pending;
            emit status(writtenLine(name, c->reqGetRecordsWritten(r.lReqHandle), replacing));
            pending.clear();
            action = GO;
            emit progress();
            break;
        }
        case 2:
            // The next file is new.
            replacing = false;
            pending = c->reqGetFileName(r.lReqHandle);
            action = GO;
            break;
        case 3: {
            // The next file exists.
            const QString name = c->reqGetFileName(r.lReqHandle);
            if (r.iOverwrite < 0) {
                QString line = QStringLiteral("\nFile exists: ") + name + QStringLiteral(" ... ");
                int answer = 4;
                QMetaObject::invokeMethod(
                    &r, [&r, &name] { return r.askOverwrite(name); }, Qt::BlockingQueuedConnection,
                    &answer);
                switch (answer) {
                case 0:
                    action = GO;
                    break;
                case 1:
                    action = SKIP;
                    break;
                case 2:
                    r.iOverwrite = 1;
                    action = GO;
                    break;
                case 3:
                    r.iOverwrite = 0;
                    action = SKIP;
                    break;
                default:
                    action = STOP;
                    terminated = true;
                    break;
                }
                emit status(line + ExtractRequest::sExistOptions.value(answer));
            } else if (r.iOverwrite == 0) {
                action = SKIP;
                emit status(QStringLiteral("\n") + name + QStringLiteral(" exists, skipped"));
            } else {
                action = GO;
            }
            replacing = action == GO;
            pending = action == GO ? name : QString();
            if (action == SKIP) emit progress();
            break;
        }
        case 4: {
            const QString name = c->reqGetFileName(r.lReqHandle);
            const QString member = c->reqGetMember(r.lReqHandle);
            const QString error = c->reqGetErrorMessage(r.lReqHandle);
            QString text;
            if (name.isEmpty())
                text = error;
            else if (member.isEmpty())
                text = name + QStringLiteral(": ") + error;
            else
                text = name + QStringLiteral(" member ") + member + QStringLiteral(": ") + error;
            emit status(QStringLiteral("\n") + text);
            bool goOn = false;
            QMetaObject::invokeMethod(
                &r, [&r, &text] { return r.askLoadModuleFailed(text); },
                Qt::BlockingQueuedConnection, &goOn);
            action = goOn ? GO : STOP;
            if (!goOn) terminated = true;
            pending.clear();
            emit progress();
            break;
        }
        default:
            action = GO;
            break;
        }
    }

    // The end of the request.
    const QString error = terminated ? QString() : c->reqGetErrorMessage(r.lReqHandle);
    if (error.isEmpty()) {
        if (!pending.isEmpty() && !terminated) {
            emit status(writtenLine(pending, c->reqGetRecordsWritten(r.lReqHandle), replacing));
            emit progress();
        }
    } else {
        const QString name = c->reqGetFileName(r.lReqHandle);
        const QString text = name.isEmpty() ? error : name + QStringLiteral(": ") + error;
        emit status(QStringLiteral("\n") + text);
        QMetaObject::invokeMethod(
            &r, [&r, &text] { r.showExtractFailed(text); }, Qt::BlockingQueuedConnection);
    }
    emit status(QStringLiteral("\nFiles created:  %1").arg(c->reqGetFilesCreated(r.lReqHandle)));
    emit status(QStringLiteral("\nFiles replaced: %1").arg(c->reqGetFilesReplaced(r.lReqHandle)));
    emit status(QStringLiteral("\nFiles skipped:  %1").arg(c->reqGetFilesSkipped(r.lReqHandle)));
    const qint64 records = c->reqGetRecordsWritten(r.lReqHandle);
    if (records > 0) emit status(QStringLiteral("\nTotal records written:  %1").arg(records));
    emit done();
}

} // namespace opxwin
