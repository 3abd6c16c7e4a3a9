#include "extractdialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include "opx.h"
#include "xmitfile.h"

namespace opxwin {

namespace {

QString yesNo(bool b) {
    return b ? QStringLiteral("Yes") : QStringLiteral("No");
}

bool startsWithMemberMarker(const QString& name) {
    return name.startsWith(QLatin1String("&M")) || name.startsWith(QLatin1String("&m"));
}

// A row of radio buttons.
QWidget* radioRow(QWidget* parent, std::initializer_list<QRadioButton*> buttons) {
    auto* w = new QWidget(parent);
    auto* row = new QHBoxLayout(w);
    row->setContentsMargins(0, 0, 0, 0);
    auto* group = new QButtonGroup(w);
    for (QRadioButton* b : buttons) {
        b->setParent(w);
        group->addButton(b);
        row->addWidget(b);
    }
    row->addStretch(1);
    return w;
}

} // namespace

// ---- first page ----------------------------------------------------------------------------

ExtractDialog::ExtractDialog(QWidget* frame, const SourceFile* file)
    : WizardPage(frame, QStringLiteral("Extracting ") + file->toString(), false), file_(file) {
    if (file->bIsLoadLib)
        types_ = {ExtractReqType::EXTRACT_TYPE_DELINK, ExtractReqType::EXTRACT_TYPE_RELINK,
                  ExtractReqType::EXTRACT_TYPE_TEXT, ExtractReqType::EXTRACT_TYPE_DUMP,
                  ExtractReqType::EXTRACT_TYPE_CONVERT};
    else
        types_ = {ExtractReqType::EXTRACT_TYPE_TEXT, ExtractReqType::EXTRACT_TYPE_DUMP,
                  ExtractReqType::EXTRACT_TYPE_PREFIX, ExtractReqType::EXTRACT_TYPE_IBM,
                  ExtractReqType::EXTRACT_TYPE_CONVERT};
    list_ = new QListWidget(this);
    for (int id : types_) list_->addItem(ExtractReqType::of(id).toString());
    list_->setCurrentRow(0);
    list_->setMaximumHeight(list_->sizeHintForRow(0) * 6 + 8);
    form()->addRow(new QLabel(QStringLiteral("Select output file format:"), this));
    form()->addRow(list_);

    path_ = new QLineEdit(Opx::property(QStringLiteral("ExtractPath") + kindKey(file)), this);
    path_->setMinimumWidth(380);
    form()->addRow(new QLabel(file->isPds() ? QStringLiteral("Output file path pattern:")
                                            : QStringLiteral("Output file path:"),
                              this));
    form()->addRow(path_);

    always_ = new QRadioButton(QStringLiteral("Always"));
    never_ = new QRadioButton(QStringLiteral("Never"));
    prompt_ = new QRadioButton(QStringLiteral("Prompt"));
    form()->addRow(QStringLiteral("Replace existing file?"),
                   radioRow(this, {always_, never_, prompt_}));
    const QString replace = Opx::property(QStringLiteral("ExtractReplace"));
    if (replace == QLatin1String("Always"))
        always_->setChecked(true);
    else if (replace == QLatin1String("Never"))
        never_->setChecked(true);
    else
        prompt_->setChecked(true);
}

QString ExtractDialog::kindKey(const SourceFile* file) {
    if (file->bIsLoadLib) return QStringLiteral("Loadlib");
    return file->isPds() ? QStringLiteral("Pds") : QStringLiteral("Seq");
}

int ExtractDialog::selectedType() const {
    const int row = list_->currentRow();
    return types_.value(row < 0 ? 0 : row);
}

void ExtractDialog::selectType(int id) {
    const qsizetype row = types_.indexOf(id);
    if (row >= 0) list_->setCurrentRow(static_cast<int>(row));
}

int ExtractDialog::overwrite() const {
    if (always_->isChecked()) return 1;
    if (never_->isChecked()) return 0;
    return -1;
}

QString ExtractDialog::checkPathName(const QString& path, bool partitioned) {
    const QString failure = partitioned
                                ? QStringLiteral("Please enter an output file path pattern.")
                                : QStringLiteral("Please enter an output file path name.");
    if (path.isEmpty()) return failure;
    const int sep = Opx::lastSep(path);
    if (sep == path.size() - 1) return failure;
    const QString name = path.mid(sep + 1);
    if (startsWithMemberMarker(name) != partitioned) return failure;
    return QString();
}

QString ExtractDialog::getPathName(const QString& text) {
    if (text.size() >= 2 && Opx::lastSep(text) < 0 && !text.startsWith(QLatin1String("&D")) &&
        !text.startsWith(QLatin1String("&d")))
        return QStringLiteral("&D") + text;
    return text;
}

QString ExtractDialog::pathName() const {
    return getPathName(path_->text());
}

QString ExtractDialog::check() {
    return checkPathName(path_->text(), file_->isPds());
}

void ExtractDialog::store() {
    Opx::setProperty(QStringLiteral("ExtractPath") + kindKey(file_), path_->text());
    Opx::setProperty(QStringLiteral("ExtractReplace"),
                     always_->isChecked()  ? QStringLiteral("Always")
                     : never_->isChecked() ? QStringLiteral("Never")
                                           : QStringLiteral("Prompt"));
}

// ---- text options --------------------------------------------------------------------------

ExtractTextDialog::ExtractTextDialog(QWidget* frame, const QString& caption, const SourceFile* file)
    : WizardPage(frame, caption, true) {
    // Without a remembered value the field offers the data set's own record length (what the
    // core would take for 0).
    QString lrecl = Opx::property(QStringLiteral("ExtractTextLrecl"));
    if (lrecl.isEmpty()) {
        int length = file->iLrecl;
        if (file->sRecfm.startsWith(QLatin1Char('U')))
            length = file->iBlksize;
        else if (file->sRecfm.startsWith(QLatin1Char('V')))
            length = file->iLrecl - 4;
        if (length >= 1 && length <= 32767) lrecl = QString::number(length);
    }
    lrecl_ = new QLineEdit(lrecl, this);
    form()->addRow(QStringLiteral("Maximum Record Length:"), lrecl_);
    tabs_ = new QComboBox(this);
    tabs_->addItems({QStringLiteral("None"), QStringLiteral("4"), QStringLiteral("8")});
    const QString tabs = Opx::property(QStringLiteral("ExtractTextTabs"));
    tabs_->setCurrentIndex(tabs == QLatin1String("4") ? 1 : tabs == QLatin1String("8") ? 2 : 0);
    form()->addRow(QStringLiteral("Tab Compression:"), tabs_);
    strip_ = new QCheckBox(QStringLiteral("Strip ending white space"), this);
    strip_->setChecked(Opx::property(QStringLiteral("ExtractTextStrip")) != QLatin1String("No"));
    form()->addRow(strip_);
    lineEnd_ = new QComboBox(this);
    lineEnd_->addItems({QStringLiteral("Dos/Windows"), QStringLiteral("Unix")});
    const QString lineEnd = Opx::property(QStringLiteral("ExtractTextLineEnd"));
#ifdef Q_OS_WIN
    const bool unixEnd = lineEnd == QLatin1String("Unix");
#else
    const bool unixEnd = lineEnd != QLatin1String("Dos");
#endif
    lineEnd_->setCurrentIndex(unixEnd ? 1 : 0);
    form()->addRow(QStringLiteral("Line End Style:"), lineEnd_);
}

int ExtractTextDialog::lrecl() const {
    return static_cast<int>(decimal(lrecl_->text()).value_or(0));
}

int ExtractTextDialog::tabs() const {
    return tabs_->currentIndex() == 1 ? 4 : tabs_->currentIndex() == 2 ? 8 : 0;
}

bool ExtractTextDialog::strip() const {
    return strip_->isChecked();
}

bool ExtractTextDialog::unixLineEnd() const {
    return lineEnd_->currentIndex() == 1;
}

QString ExtractTextDialog::check() {
    const auto v = decimal(lrecl_->text());
    if (!v || *v < 1 || *v > 32767)
        return QStringLiteral("Please enter a maximum record length between 1 and 32767.");
    return QString();
}

void ExtractTextDialog::store() {
    Opx::setProperty(QStringLiteral("ExtractTextLrecl"), lrecl_->text().trimmed());
    Opx::setProperty(QStringLiteral("ExtractTextTabs"),
                     tabs() == 0 ? QStringLiteral("None") : QString::number(tabs()));
    Opx::setProperty(QStringLiteral("ExtractTextLineEnd"),
                     unixLineEnd() ? QStringLiteral("Unix") : QStringLiteral("Dos"));
    Opx::setProperty(QStringLiteral("ExtractTextStrip"), yesNo(strip()));
}

// ---- dump options --------------------------------------------------------------------------

ExtractDumpDialog::ExtractDumpDialog(QWidget* frame, const QString& caption)
    : WizardPage(frame, caption, true) {
    wide_ = new QRadioButton(QStringLiteral("Wide (120)"));
    narrow_ = new QRadioButton(QStringLiteral("Narrow (67)"));
    form()->addRow(QStringLiteral("Record Length:"), radioRow(this, {wide_, narrow_}));
    if (Opx::property(QStringLiteral("ExtractDumpLrecl")) == QLatin1String("67"))
        narrow_->setChecked(true);
    else
        wide_->setChecked(true);
}

int ExtractDumpDialog::lrecl() const {
    return narrow_->isChecked() ? 67 : 120;
}

void ExtractDumpDialog::store() {
    Opx::setProperty(QStringLiteral("ExtractDumpLrecl"), QString::number(lrecl()));
}

// ---- conversion options --------------------------------------------------------------------

ExtractConvertDialog::ExtractConvertDialog(QWidget* frame, const QString& caption,
                                           const SourceFile* file)
    : WizardPage(frame, caption, true), file_(file) {
    format_ = new QComboBox(this);
    for (int id = 0; id <= ConvertFormat::CONVERT_FORMAT_LAST; ++id)
        format_->addItem(ConvertFormat::of(id).toString());
    form()->addRow(QStringLiteral("Record format:"), format_);
    lrecl_ = new QLineEdit(this);
    form()->addRow(QStringLiteral("Logical Record Length:"), lrecl_);
    blksize_ = new QLineEdit(this);
    form()->addRow(QStringLiteral("Block Size:"), blksize_);
    pad_ = new QLineEdit(Opx::property(QStringLiteral("ExtractConvertChar"), QStringLiteral("00")),
                         this);
    pad_->setMaxLength(8);
    form()->addRow(QStringLiteral("Strip/Pad Character (hex):"), pad_);
    strip_ = new QCheckBox(QStringLiteral("Strip trailing characters from end of records"), this);
    translate_ = new QCheckBox(QStringLiteral("Translate to ASCII"), this);
    truncate_ = new QCheckBox(QStringLiteral("Truncate records longer than maximim"), this);
    strip_->setChecked(Opx::property(QStringLiteral("ExtractConvertStrip")) ==
                       QLatin1String("Yes"));
    translate_->setChecked(Opx::property(QStringLiteral("ExtractConvertTranslate")) ==
                           QLatin1String("Yes"));
    truncate_->setChecked(Opx::property(QStringLiteral("ExtractConvertTrunc")) ==
                          QLatin1String("Yes"));
    form()->addRow(strip_);
    form()->addRow(translate_);
    form()->addRow(truncate_);

    // The starting format and the length of the data in a record follow the data set.
    int id;
    const QString& recfm = file->sRecfm;
    if (recfm.contains(QLatin1Char('U'))) {
        id = ConvertFormat::CONVERT_FORMAT_STREAM;
        dataLength_ = file->iBlksize;
    } else if (recfm.contains(QLatin1Char('F'))) {
        id = ConvertFormat::CONVERT_FORMAT_FIXED;
        dataLength_ = file->iLrecl;
    } else {
        id = ConvertFormat::CONVERT_FORMAT_V + (recfm.contains(QLatin1Char('B')) ? 1 : 0) +
             (recfm.contains(QLatin1Char('S')) ? 2 : 0);
        dataLength_ = file->iLrecl - 4;
    }
    connect(format_, &QComboBox::currentIndexChanged, this, &ExtractConvertDialog::formatChanged);
    format_->setCurrentIndex(id);
    formatChanged();
}

const ConvertFormat& ExtractConvertDialog::format() const {
    return ConvertFormat::of(format_->currentIndex());
}

void ExtractConvertDialog::setFormat(int id) {
    format_->setCurrentIndex(id);
}

void ExtractConvertDialog::formatChanged() {
    const ConvertFormat& f = format();
    const int length = dataLength_ + f.rdwSize;
    lrecl_->setText(QString::number(length));
    pad_->setEnabled(f.isFixed());
    if (f.blocked || f.spanned) {
        const int b = file_->iBlksize;
        const bool valid = f.spanned ? b >= 9 && b <= 32767 : b >= length + 4 && b <= 32767;
        blksize_->setText(QString::number(valid ? b : 32767));
        blksize_->setEnabled(true);
    } else {
        blksize_->clear();
        blksize_->setEnabled(false);
    }
}

int ExtractConvertDialog::lrecl() const {
    return static_cast<int>(decimal(lrecl_->text()).value_or(0));
}

int ExtractConvertDialog::blksize() const {
    return blksize_->isEnabled() ? static_cast<int>(decimal(blksize_->text()).value_or(0)) : 0;
}

int ExtractConvertDialog::padChar() const {
    bool ok = false;
    const int v = pad_->text().trimmed().toInt(&ok, 16);
    return ok ? v : 0;
}

bool ExtractConvertDialog::strip() const {
    return strip_->isChecked();
}
bool ExtractConvertDialog::translate() const {
    return translate_->isChecked();
}
bool ExtractConvertDialog::truncate() const {
    return truncate_->isChecked();
}

QString ExtractConvertDialog::check() {
    const ConvertFormat& f = format();
    const qint64 minimum = f.rdwSize == 4 ? 5 : 1;
    const qint64 maximum = f.spanned ? 16777215 : f.rdwSize == 4 ? 32763 : 32767;
    const auto lrecl = decimal(lrecl_->text());
    if (!lrecl || *lrecl < minimum || *lrecl > maximum)
        return QStringLiteral("Please enter a logical record length between %1 and %2.")
            .arg(minimum)
            .arg(maximum);
    if (blksize_->isEnabled()) {
        const qint64 low = f.spanned ? 9 : *lrecl + 4;
        const auto b = decimal(blksize_->text());
        if (!b || *b < low || *b > 32767)
            return QStringLiteral("Please enter a block size between %1 and 32767.").arg(low);
    }
    const QString pad = pad_->text();
    bool hex = pad.size() == 2;
    for (QChar c : pad) hex = hex && QStringLiteral("0123456789ABCDEFabcdef").contains(c);
    if (!hex)
        return QStringLiteral("Please enter a 2 hexadecimal digit strip/pad character value.");
    return QString();
}

void ExtractConvertDialog::store() {
    Opx::setProperty(QStringLiteral("ExtractConvertChar"), pad_->text().toUpper());
    Opx::setProperty(QStringLiteral("ExtractConvertStrip"), yesNo(strip()));
    Opx::setProperty(QStringLiteral("ExtractConvertTrunc"), yesNo(truncate()));
    Opx::setProperty(QStringLiteral("ExtractConvertTranslate"), yesNo(translate()));
}

// ---- relink options ------------------------------------------------------------------------

ExtractRelinkDialog::ExtractRelinkDialog(QWidget* frame, const QString& caption)
    : WizardPage(frame, caption, true) {
    listing_ = new QLineEdit(Opx::property(QStringLiteral("ExtractBindListing")), this);
    listing_->setMinimumWidth(380);
    form()->addRow(new QLabel(QStringLiteral("Binder listing file name or path pattern:"), this));
    form()->addRow(listing_);
    parameters_ = new QComboBox(this);
    parameters_->addItems(
        {QStringLiteral("NOMAP,NOXREF"), QStringLiteral("MAP,NOXREF"), QStringLiteral("MAP,XREF")});
    const int stored = parameters_->findText(Opx::property(QStringLiteral("ExtractBindParm")));
    parameters_->setCurrentIndex(stored >= 0 ? stored : 1);
    form()->addRow(QStringLiteral("Binder Parameters:"), parameters_);
}

QString ExtractRelinkDialog::check() {
    if (listing_->text().isEmpty())
        return QStringLiteral("Please enter a binder listing file name or path pattern.");
    return QString();
}

void ExtractRelinkDialog::store() {
    Opx::setProperty(QStringLiteral("ExtractBindListing"), listing_->text());
    Opx::setProperty(QStringLiteral("ExtractBindParm"), parameters_->currentText());
}

QString ExtractRelinkDialog::listingPath() const {
    return ExtractDialog::getPathName(listing_->text());
}

QString ExtractRelinkDialog::parameters() const {
    return parameters_->currentText() + QStringLiteral(",NCAL");
}

} // namespace opxwin
