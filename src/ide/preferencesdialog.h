// "Assembly Settings": the five pages of assembler options, kept in QCONFIG.INI, and the
// settings page for the editor (edit window width, font, installation directory), kept in the
// application profile.
#pragma once

#include <QDialog>
#include <QList>
#include <functional>
#include <optional>

#include "appprofile.h"
#include "privateprofile.h"

class QLabel;
class QLineEdit;
class QSpinBox;
class QTabWidget;

namespace pelda {

class OptionPage;

class SettingsPage : public QWidget {
    Q_OBJECT
  public:
    explicit SettingsPage(QWidget* parent = nullptr);

    void load(const AppProfile& profile);
    // Writes the page into profile; false (after telling the user) when a value is wrong.
    bool save(AppProfile& profile);

    // Takes a font chosen in the font dialog: the character height is 1.5 times the point
    // size, and a size above 12 points is set to 12 after telling the user.
    void applyChosenFont(const QFont& font);
    EditorFont editorFont() const { return font_; }
    // The font that the font dialog opens with: the one the editor shows.
    QFont fontDialogStart() const;
    int editWidth() const;
    QString installPath() const;
    // The tab stops as typed; nothing (after telling the user) when they are not a list of
    // ascending columns.
    std::optional<QList<int>> tabStops();

    // Opens the font dialog (the "Font..." button).
    void chooseFont();

  private:
    void chooseFolder();
    void showFont();

    QSpinBox* width_;
    QLabel* fontLabel_;
    QLabel* sample_;
    QLineEdit* path_;
    QLineEdit* tabStops_;
    EditorFont font_;
};

class PreferencesDialog : public QDialog {
    Q_OBJECT
  public:
    // qconfig is the QCONFIG.INI of the installation directory; help opens a help page.
    PreferencesDialog(const QString& qconfig, AppProfile& profile,
                      std::function<void(const QString&)> help, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return tabs_; }
    OptionPage* page(int i) const { return pages_.value(i); }
    SettingsPage* settingsPage() const { return settings_; }

    // Writes every page; false (after telling the user) when QCONFIG.INI cannot be written.
    bool apply();

    void accept() override;

  private:
    PrivateProfile ini_;
    AppProfile& profile_;
    QTabWidget* tabs_;
    QList<OptionPage*> pages_;
    SettingsPage* settings_;
};

} // namespace pelda
