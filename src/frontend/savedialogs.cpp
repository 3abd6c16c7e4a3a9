#include "savedialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "connections.h"
#include "opx.h"
#include "prompts.h"
#include "saverequest.h"

namespace opxwin {

namespace {

// A path field with a "Find..." button that asks for a file with the given caption.
QWidget* withFind(WizardPage* page, QLineEdit* edit, const QString& caption) {
    auto* w = new QWidget(page);
    auto* row = new QHBoxLayout(w);
    row->setContentsMargins(0, 0, 0, 0);
    edit->setParent(w);
    edit->setMinimumWidth(320);
    row->addWidget(edit, 1);
    auto* find = new QPushButton(QStringLiteral("Find..."), w);
    find->setAutoDefault(false);
    row->addWidget(find);
    QObject::connect(find, &QPushButton::clicked, page, [page, edit, caption] {
        const QString chosen =
            prompts().fileName(page, caption, QStringLiteral("All Files (*)"), false);
        if (!chosen.isEmpty()) edit->setText(QDir::toNativeSeparators(chosen));
    });
    return w;
}

// The first non-empty of the request's value and the remembered one.
QString either(const QString& value, const QString& key, const QString& fallback = QString()) {
    return !value.isEmpty() ? value : Opx::property(key, fallback);
}

} // namespace

// ---- page 1: data set and origin ------------------------------------------------------------

SaveDialog::SaveDialog(SaveRequest* request)
    : WizardPage(request->parentFrame(), request->sCaption, false), r_(request) {
    BrenConnection* bren = request->bren();
    dsn_ = new QLineEdit(either(request->sDsn, QStringLiteral("SaveDsn")), this);
    form()->addRow(QStringLiteral("Data Set Name:"), dsn_);
    pds_ = new QCheckBox(QStringLiteral("PDS"), this);
    pds_->setChecked(Opx::property(QStringLiteral("SaveDsorg")) != QLatin1String("Seq"));
    form()->addRow(pds_);
    message_ = new QLineEdit(either(request->sMsgFileName, QStringLiteral("SaveMsgPath")));
    // The long label stands above its field.
    form()->addRow(new QLabel(QStringLiteral("Message file path (optional):"), this));
    form()->addRow(withFind(this, message_, QStringLiteral("Open Message File")));
    const QString node = either(request->sOriginNode, QStringLiteral("SaveOriginNode"),
                                bren->getDefaultOriginNode());
    const QString user = either(request->sOriginUser, QStringLiteral("SaveOriginUser"),
                                bren->getDefaultOriginUser());
    originNode_ = new QLineEdit(node, this);
    originUser_ = new QLineEdit(user, this);
    // Without a remembered target the file goes back to where it comes from.
    targetNode_ =
        new QLineEdit(either(request->sTargetNode, QStringLiteral("SaveTargetNode"), node), this);
    targetUser_ =
        new QLineEdit(either(request->sTargetUser, QStringLiteral("SaveTargetUser"), user), this);
    form()->addRow(QStringLiteral("Origin Node:"), originNode_);
    form()->addRow(QStringLiteral("Origin User:"), originUser_);
    form()->addRow(QStringLiteral("Target Node:"), targetNode_);
    form()->addRow(QStringLiteral("Target User:"), targetUser_);
}

bool SaveDialog::isNameOk(const QString& name) {
    if (name.isEmpty() || name.size() > 8) return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        const bool letter = c >= QLatin1Char('A') && c <= QLatin1Char('Z');
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!letter && (i == 0 || !digit)) return false;
    }
    return true;
}

QString SaveDialog::check() {
    if (dsn_->text().isEmpty()) return QStringLiteral("Please enter a Data Set Name.");
    if (!r_->bren()->isDsnValid(dsn_->text()))
        return QStringLiteral("Invalid Data Set Name entered.");
    const QString message = message_->text();
    if (!message.isEmpty() && !r_->bren()->doesFileExist(message))
        return QStringLiteral("Message file \"") + message + QStringLiteral("\" not found.");
    if (!isNameOk(originNode_->text())) return QStringLiteral("Invalid Origin Node entered.");
    if (!isNameOk(originUser_->text())) return QStringLiteral("Invalid Origin User entered.");
    if (!isNameOk(targetNode_->text())) return QStringLiteral("Invalid Target Node entered.");
    if (!isNameOk(targetUser_->text())) return QStringLiteral("Invalid Target User entered.");
    return QString();
}

void SaveDialog::store() {
    r_->sDsn = dsn_->text();
    r_->bIsPds = pds_->isChecked();
    r_->sMsgFileName = message_->text();
    r_->sOriginNode = originNode_->text();
    r_->sOriginUser = originUser_->text();
    r_->sTargetNode = targetNode_->text();
    r_->sTargetUser = targetUser_->text();
    Opx::setProperty(QStringLiteral("SaveMsgPath"), r_->sMsgFileName);
    Opx::setProperty(QStringLiteral("SaveDsn"), r_->sDsn);
    Opx::setProperty(QStringLiteral("SaveOriginNode"), r_->sOriginNode);
    Opx::setProperty(QStringLiteral("SaveOriginUser"), r_->sOriginUser);
    Opx::setProperty(QStringLiteral("SaveTargetNode"), r_->sTargetNode);
    Opx::setProperty(QStringLiteral("SaveTargetUser"), r_->sTargetUser);
    Opx::setProperty(QStringLiteral("SaveDsorg"),
                     r_->bIsPds ? QStringLiteral("PDS") : QStringLiteral("Seq"));
}

// ---- page 2: input -------------------------------------------------------------------------

SaveDialog2::SaveDialog2(SaveRequest* request)
    : WizardPage(request->parentFrame(), request->sCaption, true), r_(request) {
    const QString kind = request->bIsPds ? QStringLiteral("Pds") : QStringLiteral("Seq");
    path_ = new QLineEdit(Opx::property(QStringLiteral("ExtractPath") + kind));
    form()->addRow(request->bIsPds ? QStringLiteral("Input members path pattern:")
                                   : QStringLiteral("Input File Name:"),
                   withFind(this, path_, QStringLiteral("Open Input File")));
    filedata_ = new QComboBox(this);
    filedata_->addItems({QStringLiteral("Text"), QStringLiteral("Record")});
    // Load modules are members of a load library only.
    if (request->bIsPds) filedata_->addItem(QStringLiteral("Binder"));
    const int stored = filedata_->findText(Opx::property(QStringLiteral("SaveFiledata")));
    filedata_->setCurrentIndex(stored >= 0 ? stored : 0);
    form()->addRow(QStringLiteral("FILEDATA:"), filedata_);
}

QString SaveDialog2::check() {
    const QString path = path_->text();
    if (path.isEmpty()) {
        if (!r_->bIsPds) return QStringLiteral("Please enter a file name.");
#ifdef Q_OS_WIN
        return QStringLiteral("Please enter a path pattern. (e.g. C:\\directory\\*.txt)");
#else
        return QStringLiteral("Please enter a path pattern. (e.g. /directory/&m.txt)");
#endif
    }
    if (!r_->bIsPds) {
        if (!r_->bren()->doesFileExist(path))
            return QStringLiteral("File \"") + path + QStringLiteral("\" not found.");
        return QString();
    }
    members_.clear();
    BrenMemberSink sink{};
    sink.context = this;
    sink.setMembers = [](void* c, int count) {
        static_cast<SaveDialog2*>(c)->members_.reserve(count > 0 ? count : 0);
    };
    sink.addMember = [](void* c, const char* name) {
        static_cast<SaveDialog2*>(c)->members_ << fromCore(name);
    };
    const int count = r_->bren()->getMembers(sink, path);
    if (count < 0)
        return QStringLiteral("Path pattern \"") + path + QStringLiteral("\" is not valid.");
    if (count == 0)
        return QStringLiteral("No members found for pattern \"") + path + QStringLiteral("\".");
    return QString();
}

void SaveDialog2::store() {
    r_->sInputPath = path_->text();
    r_->iFiledata = filedata_->currentIndex() + 1;
    if (r_->bIsPds) r_->asMembers = members_;
    Opx::setProperty(QStringLiteral("ExtractPath") +
                         (r_->bIsPds ? QStringLiteral("Pds") : QStringLiteral("Seq")),
                     r_->sInputPath);
    Opx::setProperty(QStringLiteral("SaveFiledata"), filedata_->currentText());
}

// ---- page 3: members -----------------------------------------------------------------------

SaveDialog3::SaveDialog3(SaveRequest* request)
    : WizardPage(request->parentFrame(), request->sCaption, true), r_(request) {
    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->addItems(request->asMembers);
    list_->setMinimumHeight(220);
    for (int i = 0; i < list_->count(); ++i)
        if (request->asSelected.size() < request->asMembers.size() &&
            request->asSelected.contains(list_->item(i)->text()))
            list_->item(i)->setSelected(true);
    form()->addRow(new QLabel(QStringLiteral("Select members:"), this));
    form()->addRow(list_);
}

QStringList SaveDialog3::chosen() const {
    QStringList names;
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->isSelected()) names << list_->item(i)->text();
    return names.isEmpty() ? r_->asMembers : names;
}

QString SaveDialog3::check() {
    const QStringList names = chosen();
    if (r_->iFiledata == SaveRequest::FILEDATA_BINDER)
        return r_->bren()->getBinderData(r_->sink(), r_->sInputPath, names);
    r_->iMinBlksize = 0;
    r_->iMinDirBlocks = static_cast<int>(names.size()) / 21 + 1;
    return QString();
}

void SaveDialog3::store() {
    r_->asSelected = chosen();
    r_->iMembers = static_cast<int>(r_->asSelected.size());
}

// ---- page 4: device and space --------------------------------------------------------------

SaveDialog4::SaveDialog4(SaveRequest* request)
    : WizardPage(request->parentFrame(), request->sCaption, true), r_(request) {
    device_ = new QComboBox(this);
    BrenDeviceSink sink{};
    sink.context = device_;
    sink.addDevice = [](void* c, const char* name) {
        static_cast<QComboBox*>(c)->addItem(fromCore(name));
    };
    request->bren()->getDevices(sink, request->iMinBlksize);
    const int previous = device_->findText(request->sDevice);
    if (previous >= 0) device_->setCurrentIndex(previous);
    form()->addRow(QStringLiteral("Device Type:"), device_);
    dirBlocks_ = new QLineEdit(QString::number(std::max(request->iMinDirBlocks, 1)), this);
    form()->addRow(QStringLiteral("Directory Blocks:"), dirBlocks_);
    tracks_ = new QRadioButton(QStringLiteral("Tracks"));
    cylinders_ = new QRadioButton(QStringLiteral("Cylinders"));
    auto* units = new QWidget(this);
    auto* row = new QHBoxLayout(units);
    row->setContentsMargins(0, 0, 0, 0);
    auto* group = new QButtonGroup(units);
    for (QRadioButton* b : {tracks_, cylinders_}) {
        b->setParent(units);
        group->addButton(b);
        row->addWidget(b);
    }
    row->addStretch(1);
    (Opx::property(QStringLiteral("SaveSpaceUnits")) == QLatin1String("Cyls") ? cylinders_
                                                                              : tracks_)
        ->setChecked(true);
    form()->addRow(QStringLiteral("Space:"), units);
    primary_ =
        new QLineEdit(Opx::property(QStringLiteral("SaveSpacePri"), QStringLiteral("+0")), this);
    secondary_ =
        new QLineEdit(Opx::property(QStringLiteral("SaveSpaceSec"), QStringLiteral("1")), this);
    form()->addRow(QStringLiteral("Primary:"), primary_);
    form()->addRow(QStringLiteral("Secondary:"), secondary_);
}

int SaveDialog4::largestSpace() const {
    const QString device = device_->currentText();
    const int tracks = std::max(r_->bren()->getMaxTrks(device), 0);
    if (!cylinders_->isChecked()) return tracks;
    const int perCylinder = r_->bren()->getTrksPerCyl(device);
    return perCylinder > 0 ? tracks / perCylinder : 0;
}

QString SaveDialog4::check() {
    if (device_->count() == 0)
        return QStringLiteral("No device can hold the smallest block size of %1 bytes.")
            .arg(r_->iMinBlksize);
    const int minimum = std::max(r_->iMinDirBlocks, 1);
    const auto blocks = decimal(dirBlocks_->text());
    if (!blocks || *blocks < minimum || *blocks > 32767)
        return QStringLiteral("Directory blocks value must be from %1 to 32767.").arg(minimum);
    const int largest = largestSpace();
    const QString unit =
        cylinders_->isChecked() ? QStringLiteral(" cylinders.") : QStringLiteral(" tracks.");
    const QString primary = primary_->text().trimmed();
    const bool increment = primary.startsWith(QLatin1Char('+'));
    const auto p = decimal(increment ? primary.mid(1) : primary);
    if (!p || *p < (increment ? 0 : 1) || *p > largest)
        return QStringLiteral("Primary space value must be from 1 to %1 or +0 to +%1")
                   .arg(largest) +
               unit;
    const auto s = decimal(secondary_->text());
    if (!s || *s > largest)
        return QStringLiteral("Secondary space value must be from 0 to %1").arg(largest) + unit;
    return QString();
}

void SaveDialog4::store() {
    r_->sDevice = device_->currentText();
    r_->iDirBlocks = static_cast<int>(decimal(dirBlocks_->text()).value_or(0));
    r_->bIsSpaceCyls = cylinders_->isChecked();
    const QString primary = primary_->text().trimmed();
    r_->bIsPriSpaceInc = primary.startsWith(QLatin1Char('+'));
    r_->iPriSpace =
        static_cast<int>(decimal(r_->bIsPriSpaceInc ? primary.mid(1) : primary).value_or(0));
    r_->iSecSpace = static_cast<int>(decimal(secondary_->text()).value_or(0));
    Opx::setProperty(QStringLiteral("SaveSpaceUnits"),
                     r_->bIsSpaceCyls ? QStringLiteral("Cyls") : QStringLiteral("Trks"));
    Opx::setProperty(QStringLiteral("SaveSpacePri"), primary);
    Opx::setProperty(QStringLiteral("SaveSpaceSec"), secondary_->text().trimmed());
}

// ---- page 5: record format -----------------------------------------------------------------

SaveDialog5::SaveDialog5(SaveRequest* request)
    : WizardPage(request->parentFrame(), request->sCaption, true), r_(request) {
    recfm_ = new QComboBox(this);
    form()->addRow(QStringLiteral("Record Format:"), recfm_);
    blksize_ = new QLineEdit(this);
    form()->addRow(QStringLiteral("Maximum Block Size:"), blksize_);
    lrecl_ = new QLineEdit(this);
    form()->addRow(QStringLiteral("Logical Record Length:"), lrecl_);
    tabs_ = new QComboBox(this);
    tabs_->addItems({QStringLiteral("None"), QStringLiteral("4"), QStringLiteral("8")});
    form()->addRow(QStringLiteral("Tab Expansion:"), tabs_);
    setup(request->iFiledata, request->bIsPds, request->sDevice);
}

QString SaveDialog5::key() const {
    if (filedata_ == SaveRequest::FILEDATA_BINDER) return QStringLiteral("SaveBinder");
    return (partitioned_ ? QStringLiteral("SavePds") : QStringLiteral("SaveSeq")) +
           (filedata_ == SaveRequest::FILEDATA_TEXT ? QStringLiteral("Text")
                                                    : QStringLiteral("Rec"));
}

void SaveDialog5::setup(int filedata, bool partitioned, const QString& device) {
    filedata_ = filedata;
    partitioned_ = partitioned;
    BrenConnection* bren = r_->bren();
    // A sequential data set may name no device: the builder then allows 32760 bytes.
    const int largest = device.isEmpty() ? -1 : bren->getMaxBlksize(device);
    const int good = device.isEmpty() ? -1 : bren->getGoodBlksize(device);
    maxBlksize_ = largest > 0 ? largest : 32760;
    goodBlksize_ = good > 0 ? good : 27998;
    const QString k = key();
    recfm_->clear();
    if (filedata == SaveRequest::FILEDATA_BINDER) {
        recfm_->addItem(QStringLiteral("U"));
        lrecl_->setText(QStringLiteral("0"));
        lrecl_->setEnabled(false);
        blksize_->setText(
            Opx::property(k + QStringLiteral("Blksize"), QString::number(goodBlksize_)));
    } else {
        static const char* const formats[] = {"F",   "FA",   "FM",   "FS",   "FSA",  "FSM", "FB",
                                              "FBA", "FBM",  "FBS",  "FBSA", "FBSM", "V",   "VA",
                                              "VM",  "VS",   "VSA",  "VSM",  "VB",   "VBA", "VBM",
                                              "VBS", "VBSA", "VBSM", "U",    "UA",   "UM"};
        for (const char* f : formats)
            if (filedata != SaveRequest::FILEDATA_TEXT || !QByteArray(f).contains('M'))
                recfm_->addItem(QString::fromLatin1(f));
        const int stored = recfm_->findText(
            Opx::property(k + QStringLiteral("Recfm"),
                          partitioned ? QStringLiteral("FB") : QStringLiteral("FBS")));
        recfm_->setCurrentIndex(stored >= 0 ? stored : 0);
        lrecl_->setEnabled(true);
        lrecl_->setText(Opx::property(k + QStringLiteral("Lrecl"), QStringLiteral("80")));
        blksize_->setText(
            Opx::property(k + QStringLiteral("Blksize"), QString::number(goodBlksize_)));
    }
    const QString tabs = Opx::property(QStringLiteral("ExtractTextTabs"));
    tabs_->setCurrentIndex(tabs == QLatin1String("4") ? 1 : tabs == QLatin1String("8") ? 2 : 0);
    tabs_->setEnabled(filedata == SaveRequest::FILEDATA_TEXT);
}

QString SaveDialog5::check() {
    const QString format = recfm_->currentText();
    const bool variable = format.startsWith(QLatin1Char('V'));
    // The smallest block: 9 for variable formats, else what the members need and at least 1.
    const int minimum = variable ? 9 : std::max(r_->iMinBlksize, 1);
    const auto blksize = decimal(blksize_->text());
    if (!blksize || *blksize < minimum || *blksize > maxBlksize_)
        return QStringLiteral("Block size must be between %1 and %2.")
            .arg(minimum)
            .arg(maxBlksize_);
    const auto lrecl = decimal(lrecl_->text());
    if (format.startsWith(QLatin1Char('F'))) {
        if (!lrecl || *lrecl < 1)
            return QStringLiteral("Logical record length must be at least 1 for RECFM=") + format;
        if (!format.contains(QLatin1Char('B')) && *blksize != *lrecl)
            return QStringLiteral("Block size and logical record length must be equal for RECFM=") +
                   format;
        if (format.contains(QLatin1Char('B')) && *blksize % *lrecl != 0)
            return QStringLiteral("Block size must be an even multiple of the logical record "
                                  "length for RECFM=") +
                   format;
    } else if (variable) {
        const qint64 maximum = format.contains(QLatin1Char('S')) ? 16777215 : *blksize - 4;
        if (!lrecl || *lrecl < 5 || *lrecl > maximum)
            return QStringLiteral("Logical record length must be between 5 and %1 for RECFM=")
                       .arg(maximum) +
                   format;
    }
    return QString();
}

void SaveDialog5::store() {
    r_->sRecfm = recfm_->currentText();
    r_->iBlksize = static_cast<int>(decimal(blksize_->text()).value_or(0));
    r_->iLrecl = static_cast<int>(decimal(lrecl_->text()).value_or(0));
    r_->iTabs = filedata_ == SaveRequest::FILEDATA_TEXT ? (tabs_->currentIndex() == 1   ? 4
                                                           : tabs_->currentIndex() == 2 ? 8
                                                                                        : 0)
                                                        : 0;
    const QString k = key();
    Opx::setProperty(k + QStringLiteral("Recfm"), r_->sRecfm);
    Opx::setProperty(k + QStringLiteral("Blksize"), blksize_->text().trimmed());
    Opx::setProperty(k + QStringLiteral("Lrecl"), lrecl_->text().trimmed());
    if (filedata_ == SaveRequest::FILEDATA_TEXT)
        Opx::setProperty(QStringLiteral("ExtractTextTabs"),
                         r_->iTabs == 0 ? QStringLiteral("None") : QString::number(r_->iTabs));
}

} // namespace opxwin
