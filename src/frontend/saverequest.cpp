#include "saverequest.h"

#include <QDir>
#include <QProgressBar>
#include <memory>

#include "connections.h"
#include "opx.h"
#include "prompts.h"
#include "savedialogs.h"
#include "statusdialog.h"

namespace opxwin {

const QStringList SaveRequest::asFiledata = {QStringLiteral("None"), QStringLiteral("Text"),
                                             QStringLiteral("Record"), QStringLiteral("Binder")};

SaveRequest::SaveRequest(QWidget* frame, const QString& dir, const QString& name)
    : sCaption(QStringLiteral("Creating ") + name), sXmitFileName(name),
      sXmitFileDir(QDir::toNativeSeparators(dir)), parentFrame_(frame),
      bren_(BrenConnection::theConnection()) {
    if (!sXmitFileDir.isEmpty() && Opx::lastSep(sXmitFileDir) != sXmitFileDir.size() - 1)
        sXmitFileDir += Opx::cFileSeparator();
}

SaveRequest::~SaveRequest() {
    if (saveThread_ != nullptr) {
        saveThread_->wait();
        delete saveThread_;
    }
    delete statusDialog_;
}

void SaveRequest::setPdsData(int minimumBlksize, int minimumDirBlocks) {
    iMinBlksize = minimumBlksize;
    iMinDirBlocks = minimumDirBlocks;
}

BrenRequestSink SaveRequest::sink() {
    BrenRequestSink s{};
    s.context = this;
    s.setPdsData = [](void* c, int blksize, int blocks) {
        static_cast<SaveRequest*>(c)->setPdsData(blksize, blocks);
    };
    s.setCreationOk = [](void* c) { static_cast<SaveRequest*>(c)->setCreationOk(); };
    return s;
}

bool SaveRequest::showSaveDialogs() {
    int page = 1;
    for (;;) {
        std::unique_ptr<WizardPage> p;
        switch (page) {
        case 1:
            p = std::make_unique<SaveDialog>(this);
            break;
        case 2:
            p = std::make_unique<SaveDialog2>(this);
            break;
        case 3:
            p = std::make_unique<SaveDialog3>(this);
            break;
        case 4:
            p = std::make_unique<SaveDialog4>(this);
            break;
        default:
            p = std::make_unique<SaveDialog5>(this);
            break;
        }
        const int answer = prompts().runDialog(p.get());
        if (answer == WizardPage::Back) {
            page = page == 5 ? (bIsPds ? 4 : 2) : page - 1;
            continue;
        }
        if (answer != WizardPage::Ok) return false;
        if (page == 5) return true;
        page = page == 2 && !bIsPds ? 5 : page + 1;
    }
}

bool SaveRequest::save() {
    bSuccess = false;
    if (!showSaveDialogs()) return false;
    statusDialog_ = new StatusDialog(parentFrame_, sCaption);
    connect(statusDialog_, &StatusDialog::firstShown, this, &SaveRequest::startWorker);
    prompts().runDialog(statusDialog_);
    // The worker sets the outcome: read it only once the worker has ended.
    if (saveThread_ != nullptr) saveThread_->wait();
    return bSuccess;
}

void SaveRequest::startWorker() {
    if (saveThread_ != nullptr) return;
    saveThread_ = new SaveWorker(this);
    saveThread_->setObjectName(QStringLiteral("Save"));
    connect(saveThread_, &SaveWorker::status, statusDialog_, &StatusDialog::append);
    connect(saveThread_, &SaveWorker::done, statusDialog_, [this] {
        statusDialog_->setProgress(statusDialog_->progressBar()->maximum());
        statusDialog_->setDone();
    });
    saveThread_->start();
}

void SaveRequest::showCreateFailed(const QString& text) {
    prompts().message(statusDialog_, QMessageBox::Critical, QStringLiteral("Create Failed"), text);
}

QString SaveRequest::summary() const {
    QString s = QStringLiteral("Creating ") + xmitPath();
    if (!bIsPds)
        s += QStringLiteral("\n    For sequential data set ") + sDsn;
    else if (iMembers == 1)
        s += QStringLiteral("\n    For 1 member of PDS ") + sDsn;
    else
        s += QStringLiteral("\n    For %1 members of PDS ").arg(iMembers) + sDsn;
    s += QStringLiteral("\n    From ") + sInputPath;
    if (!sMsgFileName.isEmpty()) s += QStringLiteral("\n    With message file ") + sMsgFileName;
    s += QStringLiteral("\n    Origin:           ") + sOriginNode + QLatin1Char('.') + sOriginUser;
    s += QStringLiteral("\n    Target:           ") + sTargetNode + QLatin1Char('.') + sTargetUser;
    s += QStringLiteral("\n    Filedata:         ") + asFiledata.value(iFiledata);
    if (bIsPds) {
        s += QStringLiteral("\n    Device:           ") + sDevice;
        s += QStringLiteral("\n    Directory Blocks: %1 (%2 used)")
                 .arg(iDirBlocks)
                 .arg(iMinDirBlocks);
        s += QStringLiteral("\n    Space:            ") +
             (bIsSpaceCyls ? QStringLiteral("Cyl,") : QStringLiteral("Trk,")) +
             (bIsPriSpaceInc ? QStringLiteral("+") : QString()) +
             QStringLiteral("%1,%2").arg(iPriSpace).arg(iSecSpace);
    }
    s += QStringLiteral("\n    Recfm:            ") + sRecfm;
    s += QStringLiteral("\n    Blksize:          %1").arg(iBlksize);
    s += QStringLiteral("\n    Lrecl:            %1").arg(iLrecl);
    if (iFiledata == FILEDATA_TEXT) s += QStringLiteral("\n    Exapand Tabs:     %1").arg(iTabs);
    return s;
}

void SaveWorker::run() {
    SaveRequest& r = *r_;
    emit status(r.summary());

    // Everything the bridge is given lives until it returns.
    const QByteArray xmit = pathToCore(r.xmitPath());
    const QByteArray message = pathToCore(r.sMsgFileName);
    const QByteArray dsn = toCore(r.sDsn);
    const QByteArray input = pathToCore(r.sInputPath);
    const QByteArray originNode = toCore(r.sOriginNode), originUser = toCore(r.sOriginUser);
    const QByteArray targetNode = toCore(r.sTargetNode), targetUser = toCore(r.sTargetUser);
    const QByteArray recfm = toCore(r.sRecfm);
    const QByteArray device = toCore(r.bIsPds ? r.sDevice : QString());
    QList<QByteArray> names;
    std::vector<const char*> members;
    if (r.bIsPds)
        for (const QString& m : r.asSelected) names << toCore(m);
    for (const QByteArray& n : names) members.push_back(n.constData());

    BrenBuild b{};
    b.xmitFile = xmit.constData();
    b.messageFile = r.sMsgFileName.isEmpty() ? nullptr : message.constData();
    b.dsname = dsn.constData();
    b.inputPath = input.constData();
    b.originNode = originNode.constData();
    b.originUser = originUser.constData();
    b.targetNode = targetNode.constData();
    b.targetUser = targetUser.constData();
    b.recfm = recfm.constData();
    b.members = members.empty() ? nullptr : members.data();
    b.memberCount = static_cast<int>(members.size());
    b.spaceInCylinders = r.bIsSpaceCyls ? 1 : 0;
    b.primaryIsIncrement = r.bIsPriSpaceInc ? 1 : 0;
    b.filedata = r.iFiledata;
    b.lrecl = r.iLrecl;
    b.blksize = r.iBlksize;
    b.tabs = r.iTabs;
    b.device = device.constData();
    b.primarySpace = r.iPriSpace;
    b.secondarySpace = r.iSecSpace;
    b.dirBlocks = r.iDirBlocks;
    b.minimumDirBlocks = r.iMinDirBlocks;

    const QString answer = r.bren()->createXmitFile(r.sink(), b);
    emit status(QStringLiteral("\n"));
    if (!answer.isEmpty()) emit status(QStringLiteral("\n") + answer);
    if (!r.bSuccess && !answer.isEmpty())
        QMetaObject::invokeMethod(
            &r, [&r, &answer] { r.showCreateFailed(answer); }, Qt::BlockingQueuedConnection);
    emit done();
}

} // namespace opxwin
