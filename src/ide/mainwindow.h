// The main window: the documents as children of an MDI area, the menus and the tool bar, the
// status bar with the caret position and the overwrite indicator, and the assembler runs with
// their output windows.
//
// At start-up the installation directory ("General"/"Path" of the profile, default ".") becomes
// the current directory; the assembler, QCONFIG.INI, PeldaTips.txt and the "doc" folder lie
// there.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include "appprofile.h"
#include "helplauncher.h"
#include "workfiles.h"

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPrinter;

namespace pelda {

class Assembler;
class FindDialog;
class OutputWindow;
class SourceEditor;

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    QString installDir() const { return installDir_; }
    QString qconfigPath() const;
    const WorkFiles& workFiles() const { return work_; }
    Assembler* assembler() const { return assembler_; }
    QMdiArea* mdiArea() const { return mdi_; }
    FindDialog* findDialog() const { return find_; }
    HelpLauncher& helpLauncher() { return help_; }
    AppProfile& profile() { return profile_; }

    SourceEditor* newDocument();
    // Opens path, or shows it when it is open already; null (after saying why) on failure.
    SourceEditor* openFile(const QString& path);
    SourceEditor* activeEditor() const;
    SourceEditor* editorFor(const QString& path) const;
    OutputWindow* outputFor(const QString& source) const;
    QStringList recentFiles() const { return recent_; }

    QString positionText() const;
    QString overwriteText() const;

    // Saves, asking for a name when the document has none; false when not saved.
    bool save(SourceEditor* editor);
    bool saveAs(SourceEditor* editor);
    // Asks about unsaved changes; false when the user cancels.
    bool maybeSave(SourceEditor* editor);

    void assembleCurrent();
    void printDocument(SourceEditor* editor, QPrinter* printer);
    void showHelp(const QString& page);
    void showTip();
    void showTipAtStartUp();

    // Takes the editor to line of file, opening the file when needed.
    void zoomTo(const QString& file, int line);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void createActions();
    void createMenus();
    void updateStatus();
    void updateActions();
    void updateRecentMenu();
    void updateWindowMenu();
    void addRecent(const QString& path);
    void applyEditorSettings();
    QMdiSubWindow* addEditor(SourceEditor* editor);
    QMdiSubWindow* subWindowOf(QWidget* w) const;
    OutputWindow* showOutput(const QString& source);
    void onAssemblerFinished(const QString& source, bool crashed, int exitCode);
    void onAssemblerFailed(const QString& source, const QString& reason, bool processStart);
    void openDialog();
    void printCurrent();
    void showPreferences();
    void about();

    AppProfile profile_;
    QString installDir_;
    WorkFiles work_;
    Assembler* assembler_;
    QMdiArea* mdi_;
    FindDialog* find_;
    HelpLauncher help_;
    QLabel* position_;
    QLabel* overwrite_;
    QStringList recent_;
    int untitled_ = 0;

    QAction* newAct_;
    QAction* openAct_;
    QAction* closeAct_;
    QAction* saveAct_;
    QAction* saveAsAct_;
    QAction* printAct_;
    QAction* exitAct_;
    QAction* undoAct_;
    QAction* cutAct_;
    QAction* copyAct_;
    QAction* pasteAct_;
    QAction* selectAllAct_;
    QAction* findAct_;
    QAction* findNextAct_;
    QAction* replaceAct_;
    QAction* statusBarAct_;
    QAction* assembleAct_;
    QAction* settingsAct_;
    QAction* helpAct_;
    QAction* tipAct_;
    QAction* aboutAct_;
    QMenu* recentMenu_;
    QMenu* windowMenu_;
    QToolBar* toolBar_;
    QList<QAction*> recentActs_;
};

} // namespace pelda
