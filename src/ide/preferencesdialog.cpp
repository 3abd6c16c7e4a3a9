#include "preferencesdialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "optionpage.h"
#include "prompts.h"
#include "tabstops.h"

namespace pelda {

// Settings page --------------------------------------------------------------------------------

SettingsPage::SettingsPage(QWidget* parent)
    : QWidget(parent), width_(new QSpinBox(this)), fontLabel_(new QLabel(this)),
      sample_(new QLabel(this)), path_(new QLineEdit(this)), tabStops_(new QLineEdit(this)) {
    setObjectName(QStringLiteral("Settings"));
    width_->setObjectName(QStringLiteral("value_nWidth"));
    fontLabel_->setObjectName(QStringLiteral("fontLabel"));
    width_->setRange(20, 400);
    width_->setSuffix(tr(" columns"));
    width_->setToolTip(tr("Width of a new edit window, in characters"));
    width_->setMaximumWidth(160);

    auto* fontButton = new QPushButton(tr("F&ont..."), this);
    fontButton->setObjectName(QStringLiteral("fontButton"));
    auto* fontRow = new QHBoxLayout;
    fontRow->addWidget(fontLabel_, 1);
    fontRow->addWidget(fontButton);
    sample_->setText(QStringLiteral("LOOP     LA    R1,1(,R1)       NEXT ENTRY"));
    sample_->setFrameShape(QFrame::StyledPanel);
    sample_->setMinimumHeight(40);

    tabStops_->setObjectName(QStringLiteral("value_TabStops"));
    tabStops_->setToolTip(tr("The columns that Tab and Shift+Tab move to, for example "
                             "10, 16, 36, 72"));
    tabStops_->setMaximumWidth(260);

    path_->setObjectName(QStringLiteral("value_Path"));
    path_->setToolTip(tr("The folder that holds the assembler, QCONFIG.INI and the help pages"));
    auto* browse = new QPushButton(tr("&Browse..."), this);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(browse);

    auto* form = new QFormLayout;
    form->addRow(tr("Edit window &width:"), width_);
    form->addRow(tr("Editor font:"), fontRow);
    form->addRow(QString(), sample_);
    form->addRow(tr("&Tab stops:"), tabStops_);
    auto* pathLabel = new QLabel(tr("&Installation directory:"), this);
    pathLabel->setBuddy(path_);
    form->addRow(pathLabel, pathRow);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();

    connect(fontButton, &QPushButton::clicked, this, &SettingsPage::chooseFont);
    connect(browse, &QPushButton::clicked, this, &SettingsPage::chooseFolder);
}

void SettingsPage::load(const AppProfile& profile) {
    width_->setValue(profile.editWidth());
    font_ = profile.editorFont();
    path_->setText(QDir::toNativeSeparators(profile.installPath()));
    tabStops_->setText(formatTabStops(profile.tabStops()));
    showFont();
}

bool SettingsPage::save(AppProfile& profile) {
    const auto stops = tabStops();
    if (!stops) return false;
    profile.setEditWidth(width_->value());
    profile.setEditorFont(font_);
    profile.setInstallPath(installPath());
    profile.setTabStops(*stops);
    return true;
}

std::optional<QList<int>> SettingsPage::tabStops() {
    auto stops = parseTabStops(tabStops_->text());
    if (!stops) {
        prompts().message(this, QMessageBox::Warning,
                          tr("The tab stops must be columns from 2 to %1 in ascending order, "
                             "separated by commas, for example: 10, 16, 36, 72.")
                              .arg(kMaxTabStopColumn));
        tabStops_->setFocus();
        tabStops_->selectAll();
    }
    return stops;
}

int SettingsPage::editWidth() const {
    return width_->value();
}

QString SettingsPage::installPath() const {
    QString p = path_->text().trimmed();
    return p.isEmpty() ? QStringLiteral(".") : QDir::fromNativeSeparators(p);
}

void SettingsPage::showFont() {
    QFont f = font_.shownFont();
    QString shown = QFontInfo(f).family();
    QString text = tr("%1, %2 pt").arg(font_.face).arg(pointSizeForHeight(font_.height), 0, 'g', 3);
    if (shown.compare(font_.face, Qt::CaseInsensitive) != 0)
        text += tr(" (shown as %1)").arg(shown);
    fontLabel_->setText(text);
    sample_->setFont(f);
}

void SettingsPage::applyChosenFont(const QFont& font) {
    bool tooBig = false;
    EditorFont chosen = EditorFont::fromFont(font, &tooBig);
    if (tooBig) prompts().message(this, QMessageBox::Information, fontTooBigMessage());
    font_ = chosen;
    showFont();
}

QFont SettingsPage::fontDialogStart() const {
    // The dialog matches a font to its lists by family and style name: a font that names
    // neither ("Courier New" shown as another face, or a face whose regular style is called
    // "Book") would be matched to the first style of the list, which may be an oblique one.
    QFont f = font_.shownFont();
    const QFontInfo shown(f);
    f.setFamily(shown.family());
    f.setStyleName(shown.styleName());
    return f;
}

void SettingsPage::chooseFont() {
    const QFont start = fontDialogStart();
    QFontDialog dlg(start, this);
    dlg.setObjectName(QStringLiteral("fontDialog"));
    dlg.setWindowTitle(tr("Editor Font"));
    dlg.setOption(QFontDialog::MonospacedFonts);
    if (dlg.exec() != QDialog::Accepted) return;
    const QFont chosen = dlg.selectedFont();
    // Accepted as it opened: the choice stays as it was, even when the face shown stands in
    // for one that this machine lacks.
    if (chosen.family() == start.family() && chosen.pointSizeF() == start.pointSizeF() &&
        chosen.weight() == start.weight() && chosen.italic() == start.italic())
        return;
    applyChosenFont(chosen);
}

void SettingsPage::chooseFolder() {
    QString dir =
        QFileDialog::getExistingDirectory(this, tr("Installation Directory"), installPath());
    if (!dir.isEmpty()) path_->setText(QDir::toNativeSeparators(dir));
}

// Preferences dialog ---------------------------------------------------------------------------

PreferencesDialog::PreferencesDialog(const QString& qconfig, AppProfile& profile,
                                     std::function<void(const QString&)> help, QWidget* parent)
    : QDialog(parent), ini_(qconfig), profile_(profile), tabs_(new QTabWidget(this)),
      settings_(new SettingsPage(this)) {
    setWindowTitle(tr("Assembly Settings"));
    if (!ini_.load())
        prompts().message(
            this, QMessageBox::Warning,
            tr("Cannot read %1: %2").arg(QDir::toNativeSeparators(qconfig), ini_.errorString()));
    for (const OptionPageDef& def : optionPages()) {
        auto* page = new OptionPage(def, tabs_);
        page->load(ini_);
        tabs_->addTab(page, page->title());
        pages_.append(page);
    }
    settings_->load(profile_);
    tabs_->addTab(settings_, tr("Settings"));

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PreferencesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PreferencesDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [help] {
        if (help) help(QStringLiteral("zrh4.htm"));
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
}

bool PreferencesDialog::apply() {
    if (!settings_->tabStops()) {
        tabs_->setCurrentWidget(settings_);
        return false;
    }
    for (OptionPage* p : pages_) p->save(ini_);
    if (!ini_.save()) {
        prompts().message(this, QMessageBox::Warning,
                          tr("Cannot save %1: %2")
                              .arg(QDir::toNativeSeparators(ini_.path()), ini_.errorString()));
        return false;
    }
    settings_->save(profile_);
    profile_.sync();
    return true;
}

void PreferencesDialog::accept() {
    if (apply()) QDialog::accept();
}

} // namespace pelda
