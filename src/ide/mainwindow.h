// The main window: the documents as children of an MDI area, the menus and the tool bar, the
// status bar with the caret position and the overwrite indicator, and the assembler runs with
// their output windows, docked under the documents so that the messages stay in view. The
// output of the active document's last run is the one shown; F4 and Shift+F4 step through its
// messages, and the status bar shows the message of the line the caret is on.
//
// Document windows open inside the work area, at most as wide and high as it is, and Window ›
// Cascade keeps them at a size to work in. Each document's file is watched: when another
// program changes it, the editor offers to read it again.
//
// At start-up the installation directory ("General"/"Path" of the profile, default ".") becomes
// the current directory; the assembler, QCONFIG.INI, PeldaTips.txt and the "doc" folder lie
// there.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSet>

#include "appprofile.h"
#include "helplauncher.h"
#include "workfiles.h"

class QAction;
class QDockWidget;
class QFileSystemWatcher;
class QLabel;
class QStackedWidget;
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
    // The output shown in the dock, and the dock.
    OutputWindow* currentOutput() const;
    QDockWidget* outputDock() const { return outputDock_; }
    QStringList recentFiles() const { return recent_; }
    // The folder that Open and Save As start in: the active document's, else the last file's.
    QString documentFolder() const;

    // Window placement: r moved (and cut, when it is larger) to lie inside area.
    static QRect fitInside(const QRect& r, const QRect& area);
    // The size of a new document window: wide enough for the edit width in columns.
    QSize documentWindowSize() const;
    // Window › Cascade: every window at the size of a new one (as far as the area allows),
    // each a title bar lower and further right, starting again at the top left when the next
    // would not fit.
    void cascade();

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
    // F4 and Shift+F4: the next or previous message of the output in view.
    void nextMessage(int direction);
    // Go to Line: asks for a line of the active document and shows it.
    void goToLine();
    // Checks whether another program changed the file of editor, and offers to reload it.
    void checkDiskChange(SourceEditor* editor);

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
    void applyEditorSettings(SourceEditor* editor);
    void showOutputFor(SourceEditor* editor);
    void updateMarks();
    void showLineMessage();
    void watch(const QString& path);
    void onFileChanged(const QString& path);
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
    QDockWidget* outputDock_;
    QStackedWidget* outputs_;
    QFileSystemWatcher* watcher_;
    QSet<SourceEditor*> asking_;
    QString lineMessage_; // the message that the status bar shows for the caret's line
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
    QAction* redoAct_;
    QAction* goToLineAct_;
    QAction* lineNumbersAct_;
    QAction* rulerAct_;
    QAction* highlightAct_;
    QAction* upperCaseAct_;
    QAction* nextMessageAct_;
    QAction* previousMessageAct_;
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
