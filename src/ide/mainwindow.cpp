#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFontMetrics>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include "assembler.h"
#include "finddialog.h"
#include "outputwindow.h"
#include "preferencesdialog.h"
#include "privateprofile.h"
#include "prompts.h"
#include "sourceeditor.h"
#include "tabstops.h"
#include "tipdialog.h"

namespace pelda {

namespace {

// An MDI child that asks before a document with changes is closed.
class EditorSubWindow : public QMdiSubWindow {
  public:
    EditorSubWindow(MainWindow* main, SourceEditor* editor) : main_(main), editor_(editor) {
        setWidget(editor);
        setAttribute(Qt::WA_DeleteOnClose);
    }

  protected:
    void closeEvent(QCloseEvent* event) override {
        if (main_->maybeSave(editor_))
            event->accept();
        else
            event->ignore();
    }

  private:
    MainWindow* main_;
    SourceEditor* editor_;
};

QString canonical(const QString& path) {
    QFileInfo fi(path);
    QString c = fi.canonicalFilePath();
    return c.isEmpty() ? fi.absoluteFilePath() : c;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), mdi_(new QMdiArea(this)), position_(new QLabel(this)),
      overwrite_(new QLabel(this)), outputDock_(new QDockWidget(this)),
      outputs_(new QStackedWidget(outputDock_)), watcher_(new QFileSystemWatcher(this)) {
    // Start-up: the installation directory becomes the current directory.
    const QString path = profile_.installPath();
    if (!QDir::setCurrent(path))
        prompts().message(this, QMessageBox::Warning,
                          tr("The installation directory %1 does not exist; using %2.")
                              .arg(QDir::toNativeSeparators(path),
                                   QDir::toNativeSeparators(QDir::currentPath())));
    installDir_ = QDir::currentPath();
    work_.removeResults();

    assembler_ = new Assembler(work_, this);
    connect(assembler_, &Assembler::finished, this, &MainWindow::onAssemblerFinished);
    connect(assembler_, &Assembler::failed, this, &MainWindow::onAssemblerFailed);

    find_ = new FindDialog([this]() -> QPlainTextEdit* { return activeEditor(); }, this);

    setWindowTitle(appTitle());
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this] {
        updateStatus();
        updateActions();
        if (SourceEditor* e = activeEditor()) showOutputFor(e);
        showLineMessage();
    });
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &MainWindow::onFileChanged);

    // The assembler's messages, docked under the documents.
    outputDock_->setObjectName(QStringLiteral("outputDock"));
    outputDock_->setWindowTitle(tr("Assembler output"));
    outputDock_->setWidget(outputs_);
    outputDock_->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);
    addDockWidget(Qt::BottomDockWidgetArea, outputDock_);
    outputDock_->hide();

    createActions();
    createMenus();
    position_->setMinimumWidth(
        QFontMetrics(position_->font()).horizontalAdvance(QStringLiteral("Line 99999,Col 999")));
    overwrite_->setMinimumWidth(
        QFontMetrics(overwrite_->font()).horizontalAdvance(QStringLiteral(" OVR ")));
    overwrite_->setAlignment(Qt::AlignCenter);
    position_->setObjectName(QStringLiteral("position"));
    statusBar()->addPermanentWidget(position_);
    statusBar()->addPermanentWidget(overwrite_);
    statusBar()->showMessage(tr("Ready"));

    recent_ = profile_.recentFiles();
    updateRecentMenu();
    updateStatus();
    updateActions();
    resize(1000, 720);
}

MainWindow::~MainWindow() {
    // The children go after this object has stopped being a MainWindow: their signals must not
    // reach it any more.
    mdi_->disconnect(this);
    watcher_->disconnect(this);
    for (int i = 0; i < outputs_->count(); ++i) outputs_->widget(i)->disconnect(this);
    for (QMdiSubWindow* w : mdi_->subWindowList())
        if (w->widget()) w->widget()->disconnect(this);
    assembler_->kill();
    profile_.setRecentFiles(recent_);
    profile_.sync();
}

QString MainWindow::qconfigPath() const {
    return AppProfile::optionsFilePath(installDir_, profile_.profileFolder());
}

void MainWindow::createActions() {
    QStyle* st = style();
    newAct_ = new QAction(st->standardIcon(QStyle::SP_FileIcon), tr("&New"), this);
    newAct_->setShortcut(QKeySequence::New);
    newAct_->setStatusTip(tr("Create a new document"));
    connect(newAct_, &QAction::triggered, this, &MainWindow::newDocument);

    openAct_ = new QAction(st->standardIcon(QStyle::SP_DialogOpenButton), tr("&Open..."), this);
    openAct_->setShortcut(QKeySequence::Open);
    openAct_->setStatusTip(tr("Open an existing document"));
    connect(openAct_, &QAction::triggered, this, &MainWindow::openDialog);

    closeAct_ = new QAction(tr("&Close"), this);
    closeAct_->setStatusTip(tr("Close the active document"));
    connect(closeAct_, &QAction::triggered, this, [this] {
        if (QMdiSubWindow* w = mdi_->activeSubWindow()) w->close();
    });

    saveAct_ = new QAction(st->standardIcon(QStyle::SP_DialogSaveButton), tr("&Save"), this);
    saveAct_->setShortcut(QKeySequence::Save);
    saveAct_->setStatusTip(tr("Save the active document"));
    connect(saveAct_, &QAction::triggered, this, [this] {
        if (SourceEditor* e = activeEditor()) save(e);
    });

    saveAsAct_ = new QAction(tr("Save &As..."), this);
    saveAsAct_->setStatusTip(tr("Save the active document under a new name"));
    connect(saveAsAct_, &QAction::triggered, this, [this] {
        if (SourceEditor* e = activeEditor()) saveAs(e);
    });

    printAct_ =
        new QAction(QIcon::fromTheme(QStringLiteral("document-print")), tr("&Print..."), this);
    printAct_->setShortcut(QKeySequence::Print);
    printAct_->setStatusTip(tr("Print the active document"));
    connect(printAct_, &QAction::triggered, this, &MainWindow::printCurrent);

    exitAct_ = new QAction(tr("E&xit"), this);
    exitAct_->setShortcut(QKeySequence::Quit);
    exitAct_->setStatusTip(tr("Quit the application; prompts to save documents"));
    connect(exitAct_, &QAction::triggered, this, &QWidget::close);

    auto editAction = [this](const QString& text, QKeySequence key, const QString& icon,
                             void (QPlainTextEdit::*slot)()) {
        auto* a = new QAction(QIcon::fromTheme(icon), text, this);
        a->setShortcut(key);
        connect(a, &QAction::triggered, this, [this, slot] {
            if (SourceEditor* e = activeEditor()) (e->*slot)();
        });
        return a;
    };
    undoAct_ = editAction(tr("&Undo"), QKeySequence::Undo, QStringLiteral("edit-undo"),
                          &QPlainTextEdit::undo);
    redoAct_ = editAction(tr("&Redo"), QKeySequence::Redo, QStringLiteral("edit-redo"),
                          &QPlainTextEdit::redo);
    cutAct_ =
        editAction(tr("Cu&t"), QKeySequence::Cut, QStringLiteral("edit-cut"), &QPlainTextEdit::cut);
    copyAct_ = editAction(tr("&Copy"), QKeySequence::Copy, QStringLiteral("edit-copy"),
                          &QPlainTextEdit::copy);
    pasteAct_ = editAction(tr("&Paste"), QKeySequence::Paste, QStringLiteral("edit-paste"),
                           &QPlainTextEdit::paste);
    selectAllAct_ = editAction(tr("Select &All"), QKeySequence::SelectAll, QString(),
                               &QPlainTextEdit::selectAll);
    // The editor handles its own shortcuts while it has the focus; the menu ones serve the rest.
    for (QAction* a : {undoAct_, redoAct_, cutAct_, copyAct_, pasteAct_, selectAllAct_})
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);

    findAct_ = new QAction(tr("&Find..."), this);
    findAct_->setShortcut(QKeySequence::Find);
    connect(findAct_, &QAction::triggered, find_, &FindDialog::showFind);
    findNextAct_ = new QAction(tr("Find &Next"), this);
    findNextAct_->setShortcut(QKeySequence::FindNext);
    connect(findNextAct_, &QAction::triggered, this, [this] {
        if (find_->hasSearch())
            find_->findNext();
        else
            find_->showFind();
    });
    replaceAct_ = new QAction(tr("R&eplace..."), this);
    replaceAct_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(replaceAct_, &QAction::triggered, find_, &FindDialog::showReplace);

    goToLineAct_ = new QAction(tr("&Go to Line..."), this);
    goToLineAct_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    goToLineAct_->setStatusTip(tr("Show a line of the active document by its number"));
    connect(goToLineAct_, &QAction::triggered, this, &MainWindow::goToLine);

    // The View menu's switches for the editors, kept in the profile.
    auto viewSwitch = [this](const QString& text, const QString& key, bool byDefault,
                             const QString& tip) {
        auto* a = new QAction(text, this);
        a->setCheckable(true);
        a->setChecked(profile_.viewOption(key, byDefault));
        a->setStatusTip(tip);
        connect(a, &QAction::toggled, this, [this, key](bool on) {
            profile_.setViewOption(key, on);
            applyEditorSettings();
        });
        return a;
    };
    lineNumbersAct_ = viewSwitch(tr("&Line Numbers"), QStringLiteral("LineNumbers"), true,
                                 tr("Show the line numbers beside the text"));
    rulerAct_ = viewSwitch(tr("Column &Ruler and Guides"), QStringLiteral("Ruler"), true,
                           tr("Show the columns: a ruler above the text, guides before columns "
                              "10, 16 and 72, the sequence field dimmed"));
    highlightAct_ = viewSwitch(tr("S&yntax Colours"), QStringLiteral("Highlighting"), true,
                               tr("Colour the fields of the statements"));
    upperCaseAct_ = viewSwitch(tr("&Upper Case"), QStringLiteral("UpperCase"), false,
                               tr("Type letters in upper case"));

    statusBarAct_ = new QAction(tr("&Status Bar"), this);
    statusBarAct_->setCheckable(true);
    statusBarAct_->setChecked(true);
    connect(statusBarAct_, &QAction::toggled, statusBar(), &QWidget::setVisible);

    assembleAct_ =
        new QAction(st->standardIcon(QStyle::SP_MediaPlay), tr("&Assemble Current File"), this);
    assembleAct_->setShortcut(QKeySequence(Qt::Key_F7));
    assembleAct_->setStatusTip(tr("Save the active document and run the assembler on it"));
    connect(assembleAct_, &QAction::triggered, this, &MainWindow::assembleCurrent);
    nextMessageAct_ = new QAction(tr("&Next Message"), this);
    nextMessageAct_->setShortcut(QKeySequence(Qt::Key_F4));
    nextMessageAct_->setStatusTip(tr("Go to the source line of the next assembler message"));
    connect(nextMessageAct_, &QAction::triggered, this, [this] { nextMessage(1); });
    previousMessageAct_ = new QAction(tr("&Previous Message"), this);
    previousMessageAct_->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F4));
    previousMessageAct_->setStatusTip(
        tr("Go to the source line of the previous assembler message"));
    connect(previousMessageAct_, &QAction::triggered, this, [this] { nextMessage(-1); });
    settingsAct_ = new QAction(tr("Assembly &Settings..."), this);
    settingsAct_->setStatusTip(tr("Set the assembler's options and the editor's settings"));
    connect(settingsAct_, &QAction::triggered, this, &MainWindow::showPreferences);

    helpAct_ = new QAction(st->standardIcon(QStyle::SP_DialogHelpButton), tr("&Help Topics"), this);
    helpAct_->setShortcut(QKeySequence::HelpContents);
    connect(helpAct_, &QAction::triggered, this, [this] { showHelp(QStringLiteral("zrh.htm")); });
    tipAct_ = new QAction(tr("Ti&p of the Day..."), this);
    connect(tipAct_, &QAction::triggered, this, &MainWindow::showTip);
    aboutAct_ = new QAction(tr("&About Pelda..."), this);
    connect(aboutAct_, &QAction::triggered, this, &MainWindow::about);
}

void MainWindow::createMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(newAct_);
    file->addAction(openAct_);
    file->addAction(closeAct_);
    file->addAction(saveAct_);
    file->addAction(saveAsAct_);
    file->addSeparator();
    file->addAction(printAct_);
    file->addSeparator();
    recentMenu_ = file->addMenu(tr("Recent &Files"));
    file->addSeparator();
    file->addAction(exitAct_);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    edit->addAction(undoAct_);
    edit->addAction(redoAct_);
    edit->addSeparator();
    edit->addAction(cutAct_);
    edit->addAction(copyAct_);
    edit->addAction(pasteAct_);
    edit->addAction(selectAllAct_);
    edit->addSeparator();
    edit->addAction(findAct_);
    edit->addAction(findNextAct_);
    edit->addAction(replaceAct_);
    edit->addSeparator();
    edit->addAction(goToLineAct_);

    toolBar_ = addToolBar(tr("Toolbar"));
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->addAction(newAct_);
    toolBar_->addAction(openAct_);
    toolBar_->addAction(saveAct_);
    toolBar_->addSeparator();
    toolBar_->addAction(cutAct_);
    toolBar_->addAction(copyAct_);
    toolBar_->addAction(pasteAct_);
    toolBar_->addSeparator();
    toolBar_->addAction(printAct_);
    toolBar_->addAction(assembleAct_);
    toolBar_->addSeparator();
    toolBar_->addAction(helpAct_);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* toolbarAct = toolBar_->toggleViewAction();
    toolbarAct->setText(tr("&Toolbar"));
    view->addAction(toolbarAct);
    view->addAction(statusBarAct_);
    QAction* dockAct = outputDock_->toggleViewAction();
    dockAct->setText(tr("&Error List"));
    view->addAction(dockAct);
    view->addSeparator();
    view->addAction(lineNumbersAct_);
    view->addAction(rulerAct_);
    view->addAction(highlightAct_);
    view->addAction(upperCaseAct_);

    QMenu* assemble = menuBar()->addMenu(tr("&Assemble"));
    assemble->addAction(assembleAct_);
    assemble->addAction(nextMessageAct_);
    assemble->addAction(previousMessageAct_);
    assemble->addSeparator();
    assemble->addAction(settingsAct_);

    windowMenu_ = menuBar()->addMenu(tr("&Window"));
    connect(windowMenu_, &QMenu::aboutToShow, this, &MainWindow::updateWindowMenu);
    updateWindowMenu();

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(helpAct_);
    help->addAction(tipAct_);
    help->addSeparator();
    help->addAction(aboutAct_);
}

void MainWindow::updateWindowMenu() {
    windowMenu_->clear();
    windowMenu_->addAction(tr("&Cascade"), this, &MainWindow::cascade);
    windowMenu_->addAction(tr("&Tile"), mdi_, &QMdiArea::tileSubWindows);
    windowMenu_->addAction(tr("Ne&xt"), QKeySequence::NextChild, mdi_,
                           &QMdiArea::activateNextSubWindow);
    windowMenu_->addAction(tr("Pre&vious"), QKeySequence::PreviousChild, mdi_,
                           &QMdiArea::activatePreviousSubWindow);
    windowMenu_->addAction(tr("Close &All"), mdi_, &QMdiArea::closeAllSubWindows);
    const QList<QMdiSubWindow*> windows = mdi_->subWindowList();
    if (!windows.isEmpty()) windowMenu_->addSeparator();
    int n = 0;
    for (QMdiSubWindow* w : windows) {
        QString title = w->windowTitle().replace(QStringLiteral("[*]"), QString());
        QAction* a = windowMenu_->addAction(QStringLiteral("&%1 %2").arg(++n).arg(title));
        a->setCheckable(true);
        a->setChecked(w == mdi_->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, w] { mdi_->setActiveSubWindow(w); });
    }
}

void MainWindow::updateRecentMenu() {
    recentMenu_->clear();
    int n = 0;
    for (const QString& f : recent_) {
        QAction* a = recentMenu_->addAction(
            QStringLiteral("&%1 %2").arg(++n).arg(QDir::toNativeSeparators(f)));
        connect(a, &QAction::triggered, this, [this, f] { openFile(f); });
    }
    recentMenu_->setEnabled(!recent_.isEmpty());
}

void MainWindow::addRecent(const QString& path) {
    recent_.removeAll(path);
    recent_.prepend(path);
    while (recent_.size() > 4) recent_.removeLast();
    updateRecentMenu();
    profile_.setRecentFiles(recent_);
}

SourceEditor* MainWindow::activeEditor() const {
    QMdiSubWindow* w = mdi_->activeSubWindow();
    if (!w) w = mdi_->currentSubWindow();
    return w ? qobject_cast<SourceEditor*>(w->widget()) : nullptr;
}

SourceEditor* MainWindow::editorFor(const QString& path) const {
    const QString want = canonical(path);
    for (QMdiSubWindow* w : mdi_->subWindowList()) {
        auto* e = qobject_cast<SourceEditor*>(w->widget());
        if (e && !e->isUntitled() && canonical(e->path()) == want) return e;
    }
    return nullptr;
}

OutputWindow* MainWindow::outputFor(const QString& source) const {
    const QString want = canonical(source);
    for (int i = 0; i < outputs_->count(); ++i) {
        auto* o = qobject_cast<OutputWindow*>(outputs_->widget(i));
        if (o && canonical(o->source()) == want) return o;
    }
    return nullptr;
}

OutputWindow* MainWindow::currentOutput() const {
    return qobject_cast<OutputWindow*>(outputs_->currentWidget());
}

QString MainWindow::documentFolder() const {
    if (SourceEditor* e = activeEditor(); e && !e->isUntitled())
        return QFileInfo(e->path()).absolutePath();
    for (const QString& f : recent_)
        if (QFileInfo(f).absoluteDir().exists()) return QFileInfo(f).absolutePath();
    return QDir::homePath();
}

QMdiSubWindow* MainWindow::subWindowOf(QWidget* widget) const {
    for (QMdiSubWindow* w : mdi_->subWindowList())
        if (w->widget() == widget) return w;
    return nullptr;
}

QString MainWindow::positionText() const {
    return position_->text();
}
QString MainWindow::overwriteText() const {
    return overwrite_->text();
}

void MainWindow::updateStatus() {
    SourceEditor* e = activeEditor();
    position_->setText(e ? e->positionText() : QString());
    overwrite_->setText(e && e->overwriteMode() ? tr("OVR") : QString());
}

void MainWindow::showLineMessage() {
    QStringList messages;
    if (SourceEditor* e = activeEditor(); e && !e->isUntitled())
        for (int i = 0; i < outputs_->count(); ++i)
            if (auto* o = qobject_cast<OutputWindow*>(outputs_->widget(i)))
                messages << o->messagesAt(e->path(), e->caretLine());
    const QString text = messages.join(QStringLiteral("  |  "));
    if (!text.isEmpty())
        statusBar()->showMessage(text);
    else if (!lineMessage_.isEmpty() && statusBar()->currentMessage() == lineMessage_)
        statusBar()->clearMessage();
    lineMessage_ = text;
}

void MainWindow::updateActions() {
    const bool doc = activeEditor() != nullptr;
    for (QAction* a : {saveAct_, saveAsAct_, printAct_, cutAct_, copyAct_, pasteAct_, selectAllAct_,
                       findAct_, findNextAct_, replaceAct_, goToLineAct_})
        a->setEnabled(doc);
    SourceEditor* e = activeEditor();
    undoAct_->setEnabled(e && e->document()->isUndoAvailable());
    redoAct_->setEnabled(e && e->document()->isRedoAvailable());
    closeAct_->setEnabled(mdi_->activeSubWindow() != nullptr);
    assembleAct_->setEnabled(doc && !assembler_->isRunning());
}

void MainWindow::applyEditorSettings() {
    for (QMdiSubWindow* w : mdi_->subWindowList())
        if (auto* e = qobject_cast<SourceEditor*>(w->widget())) applyEditorSettings(e);
}

void MainWindow::applyEditorSettings(SourceEditor* editor) {
    editor->setFont(profile_.editorFont().shownFont());
    editor->setTabStops(profile_.tabStops());
    editor->setLineNumbersVisible(lineNumbersAct_->isChecked());
    editor->setRulerVisible(rulerAct_->isChecked());
    editor->setHighlighting(highlightAct_->isChecked());
    editor->setUpperCase(upperCaseAct_->isChecked());
}

QRect MainWindow::fitInside(const QRect& r, const QRect& area) {
    QRect fit(r.topLeft(), r.size().boundedTo(area.size()));
    if (fit.right() > area.right()) fit.moveRight(area.right());
    if (fit.bottom() > area.bottom()) fit.moveBottom(area.bottom());
    if (fit.left() < area.left()) fit.moveLeft(area.left());
    if (fit.top() < area.top()) fit.moveTop(area.top());
    return fit;
}

QSize MainWindow::documentWindowSize() const {
    // Wide enough for nWidth columns of the editor font, with the line numbers, the scroll bar
    // and the window frame.
    SourceEditor probe;
    probe.setFont(profile_.editorFont().shownFont());
    const int columns = profile_.editWidth();
    const int width = static_cast<int>(std::ceil(probe.columnWidth() * columns)) +
                      (lineNumbersAct_->isChecked() ? probe.lineNumberAreaWidth() : 0) +
                      probe.verticalScrollBar()->sizeHint().width() + 2 * probe.frameWidth() +
                      2 * static_cast<int>(probe.document()->documentMargin()) + 16;
    const QSize area = mdi_->viewport()->size();
    return {width, std::max(area.height() * 3 / 5, 240)};
}

void MainWindow::cascade() {
    const QRect area(QPoint(0, 0), mdi_->viewport()->size());
    const QSize size = documentWindowSize().boundedTo(area.size());
    const int step = style()->pixelMetric(QStyle::PM_TitleBarHeight) + 4;
    const int room = std::min(area.width() - size.width(), area.height() - size.height());
    const int places = std::max(room, 0) / step + 1;
    int i = 0;
    for (QMdiSubWindow* w : mdi_->subWindowList(QMdiArea::StackingOrder)) {
        if (w->isMinimized() || w->isHidden()) continue;
        if (w->isMaximized()) w->showNormal();
        const int offset = (i++ % places) * step;
        w->setGeometry(fitInside(QRect(QPoint(offset, offset), size), area));
        w->raise();
    }
}

QMdiSubWindow* MainWindow::addEditor(SourceEditor* editor) {
    applyEditorSettings(editor);
    auto* sub = new EditorSubWindow(this, editor);
    sub->setWindowIcon(style()->standardIcon(QStyle::SP_FileIcon));
    mdi_->addSubWindow(sub);
    auto retitle = [sub, editor] {
        sub->setWindowTitle(editor->displayName() + QStringLiteral("[*]"));
    };
    retitle();
    connect(editor->document(), &QTextDocument::modificationChanged, sub,
            &QWidget::setWindowModified);
    connect(editor, &QPlainTextEdit::cursorPositionChanged, this, [this, editor] {
        if (editor != activeEditor()) return;
        updateStatus();
        showLineMessage();
    });
    connect(editor->document(), &QTextDocument::undoAvailable, this, [this, editor] {
        if (editor == activeEditor()) updateActions();
    });
    connect(editor->document(), &QTextDocument::redoAvailable, this, [this, editor] {
        if (editor == activeEditor()) updateActions();
    });
    connect(editor, &SourceEditor::overwriteChanged, this, &MainWindow::updateStatus);
    connect(editor, &QObject::destroyed, this, [this] {
        updateStatus();
        updateActions();
        // Stop watching files that no document shows any more.
        QTimer::singleShot(0, this, [this] {
            QStringList shown;
            for (QMdiSubWindow* w : mdi_->subWindowList())
                if (auto* e = qobject_cast<SourceEditor*>(w->widget())) shown << e->path();
            for (const QString& f : watcher_->files())
                if (!shown.contains(f)) watcher_->removePath(f);
        });
    });
    connect(editor->document(), &QTextDocument::modificationChanged, sub, retitle);

    // A new window is wide enough for nWidth columns, and lies inside the area whatever place
    // the area's own cascading gives it.
    sub->resize(documentWindowSize());
    sub->show();
    sub->setGeometry(fitInside(sub->geometry(), QRect(QPoint(0, 0), mdi_->viewport()->size())));
    editor->setFocus();
    if (!editor->isUntitled()) watch(editor->path());
    showOutputFor(editor);
    return sub;
}

SourceEditor* MainWindow::newDocument() {
    auto* e = new SourceEditor;
    e->setUntitledName(tr("Untitled%1").arg(++untitled_));
    addEditor(e);
    return e;
}

SourceEditor* MainWindow::openFile(const QString& path) {
    if (SourceEditor* open = editorFor(path)) {
        mdi_->setActiveSubWindow(subWindowOf(open));
        return open;
    }
    auto* e = new SourceEditor;
    QString error;
    if (!e->load(path, &error)) {
        delete e;
        prompts().message(this, QMessageBox::Warning,
                          tr("Cannot open %1: %2").arg(QDir::toNativeSeparators(path), error));
        if (recent_.removeAll(QFileInfo(path).absoluteFilePath()) > 0) {
            updateRecentMenu();
            profile_.setRecentFiles(recent_);
        }
        return nullptr;
    }
    addEditor(e);
    addRecent(e->path());
    statusBar()->showMessage(tr("Opened %1").arg(QDir::toNativeSeparators(e->path())), 3000);
    return e;
}

void MainWindow::openDialog() {
    const QStringList files = prompts().openPaths(this, documentFolder());
    for (const QString& f : files) openFile(f);
}

bool MainWindow::save(SourceEditor* editor) {
    if (editor->isUntitled()) return saveAs(editor);
    QString error;
    if (!editor->save(editor->path(), &error)) {
        prompts().message(
            this, QMessageBox::Warning,
            tr("Cannot save %1: %2").arg(QDir::toNativeSeparators(editor->path()), error));
        return false;
    }
    statusBar()->showMessage(tr("Saved %1").arg(QDir::toNativeSeparators(editor->path())), 3000);
    return true;
}

bool MainWindow::saveAs(SourceEditor* editor) {
    QString suggested =
        editor->isUntitled()
            ? QDir(documentFolder()).filePath(editor->displayName() + QStringLiteral(".390"))
            : editor->path();
    QString path = prompts().saveAsPath(this, suggested);
    if (path.isEmpty()) return false;
    QString error;
    if (!editor->save(path, &error)) {
        prompts().message(this, QMessageBox::Warning,
                          tr("Cannot save %1: %2").arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    if (QMdiSubWindow* w = subWindowOf(editor))
        w->setWindowTitle(editor->displayName() + QStringLiteral("[*]"));
    addRecent(editor->path());
    watch(editor->path());
    return true;
}

bool MainWindow::maybeSave(SourceEditor* editor) {
    if (!editor->document()->isModified()) return true;
    switch (prompts().saveChanges(this, tr("Save changes to %1?").arg(editor->displayName()))) {
    case QMessageBox::Save:
        return save(editor);
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    for (QMdiSubWindow* w : mdi_->subWindowList()) {
        auto* e = qobject_cast<SourceEditor*>(w->widget());
        if (e && !maybeSave(e)) {
            event->ignore();
            return;
        }
    }
    // Every question is answered: nothing asks again while the windows go.
    for (QMdiSubWindow* w : mdi_->subWindowList())
        if (auto* e = qobject_cast<SourceEditor*>(w->widget())) e->document()->setModified(false);
    assembler_->kill();
    find_->hide();
    event->accept();
}

void MainWindow::printDocument(SourceEditor* editor, QPrinter* printer) {
    printer->setDocName(editor->displayName());
    editor->print(printer);
}

void MainWindow::printCurrent() {
    SourceEditor* e = activeEditor();
    if (!e) return;
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dlg(&printer, this);
    dlg.setWindowTitle(tr("Print %1").arg(e->displayName()));
    if (e->textCursor().hasSelection()) dlg.setOption(QAbstractPrintDialog::PrintSelection);
    if (dlg.exec() == QDialog::Accepted) printDocument(e, &printer);
}

void MainWindow::assembleCurrent() {
    SourceEditor* e = activeEditor();
    if (!e || assembler_->isRunning()) return;
    // The assembler reads the file, so what the user sees must be on disk first.
    if ((e->isUntitled() || e->document()->isModified()) && !save(e)) return;
    PrivateProfile ini(qconfigPath());
    if (!ini.load()) {
        prompts().message(
            this, QMessageBox::Warning,
            tr("Cannot read %1: %2").arg(QDir::toNativeSeparators(ini.path()), ini.errorString()));
        return;
    }
    statusBar()->showMessage(tr("Assembling %1...").arg(e->displayName()));
    if (assembler_->start(installDir_, e->path(), ini)) updateActions();
}

OutputWindow* MainWindow::showOutput(const QString& source) {
    OutputWindow* out = outputFor(source);
    if (!out) {
        out = new OutputWindow(source, work_.errorFile(), work_.messageFile());
        connect(out, &OutputWindow::zoomRequested, this, &MainWindow::zoomTo);
        connect(out, &OutputWindow::contentsChanged, this, [this] {
            updateMarks();
            showLineMessage();
        });
        outputs_->addWidget(out);
    }
    outputs_->setCurrentWidget(out);
    outputDock_->setWindowTitle(out->windowTitle());
    if (outputDock_->isHidden()) {
        outputDock_->show();
        resizeDocks({outputDock_}, {std::max(height() / 4, 140)}, Qt::Vertical);
    }
    return out;
}

void MainWindow::showOutputFor(SourceEditor* editor) {
    if (editor->isUntitled()) return;
    if (OutputWindow* out = outputFor(editor->path())) {
        outputs_->setCurrentWidget(out);
        outputDock_->setWindowTitle(out->windowTitle());
    }
    updateMarks();
}

void MainWindow::updateMarks() {
    for (QMdiSubWindow* w : mdi_->subWindowList()) {
        auto* e = qobject_cast<SourceEditor*>(w->widget());
        if (!e || e->isUntitled()) continue;
        QMap<int, QChar> marks;
        for (int i = 0; i < outputs_->count(); ++i)
            if (auto* o = qobject_cast<OutputWindow*>(outputs_->widget(i)))
                marks.insert(o->marksFor(e->path()));
        e->setMessageMarks(marks);
    }
}

void MainWindow::nextMessage(int direction) {
    OutputWindow* out = nullptr;
    if (SourceEditor* e = activeEditor(); e && !e->isUntitled()) out = outputFor(e->path());
    if (!out) out = currentOutput();
    if (!out || !out->step(direction))
        statusBar()->showMessage(tr("There is no assembler message to go to."), 3000);
}

void MainWindow::goToLine() {
    SourceEditor* e = activeEditor();
    if (!e) return;
    const int line = prompts().goToLine(this, e->caretLine(), e->document()->blockCount());
    if (line <= 0) return;
    e->goToLine(line, false);
    e->setFocus();
}

void MainWindow::watch(const QString& path) {
    if (!watcher_->files().contains(path) && QFileInfo::exists(path)) watcher_->addPath(path);
}

void MainWindow::onFileChanged(const QString& path) {
    // A program that saves by writing a new file and renaming it ends the watch: watch again.
    QTimer::singleShot(200, this, [this, path] {
        watch(path);
        for (QMdiSubWindow* w : mdi_->subWindowList())
            if (auto* e = qobject_cast<SourceEditor*>(w->widget()); e && e->path() == path)
                checkDiskChange(e);
    });
}

void MainWindow::checkDiskChange(SourceEditor* editor) {
    if (editor->isUntitled() || asking_.contains(editor)) return;
    const QString now = SourceEditor::stampOf(editor->path());
    if (now == editor->diskStamp()) return; // the editor's own save, or nothing changed
    const QString name = QDir::toNativeSeparators(editor->path());
    if (now.isEmpty()) {
        statusBar()->showMessage(tr("%1 is no longer on disk.").arg(name), 5000);
        return;
    }
    const QString text =
        editor->document()->isModified()
            ? tr("%1\n\nThis file has been changed by another program, and the document has "
                 "changes that are not saved.\n\nReload it and lose those changes?")
                  .arg(name)
            : tr("%1\n\nThis file has been changed by another program.\n\nReload it?").arg(name);
    asking_.insert(editor);
    QPointer<SourceEditor> guard(editor);
    const bool reload = prompts().reloadChanged(this, text);
    if (!guard) return;
    asking_.remove(editor);
    QString error;
    if (reload) {
        if (!editor->reload(&error))
            prompts().message(this, QMessageBox::Warning,
                              tr("Cannot read %1: %2").arg(name, error));
    } else {
        // The document no longer matches the file: saving it is the user's choice now.
        editor->acceptDiskStamp();
        editor->document()->setModified(true);
    }
}

void MainWindow::onAssemblerFinished(const QString& source, bool crashed, int exitCode) {
    updateActions();
    OutputWindow* out = showOutput(source);
    if (crashed)
        out->showAbnormalEnd(tr("The assembler ended abnormally."));
    else
        out->load();
    statusBar()->showMessage(crashed ? tr("The assembler ended abnormally")
                                     : tr("Assembly ended with return code %1").arg(exitCode),
                             5000);
    if (auto line = out->firstErrorLine())
        if (SourceEditor* e = editorFor(source)) e->goToLine(*line);
}

void MainWindow::onAssemblerFailed(const QString& source, const QString& reason,
                                   bool processStart) {
    updateActions();
    statusBar()->clearMessage();
    OutputWindow* out = showOutput(source);
    QStringList lines;
    if (processStart) lines << tr("CreateProcess() Failed");
    lines << reason;
    out->showFailure(lines);
    prompts().message(this, QMessageBox::Warning, lines.join(QStringLiteral("\n\n")));
}

void MainWindow::zoomTo(const QString& file, int line) {
    SourceEditor* e = editorFor(file);
    if (!e) e = openFile(file);
    if (!e) return;
    mdi_->setActiveSubWindow(subWindowOf(e));
    e->setFocus();
    if (!e->goToLine(line))
        statusBar()->showMessage(tr("%1 has no line %2").arg(e->displayName()).arg(line), 5000);
}

void MainWindow::showPreferences() {
    PreferencesDialog dlg(
        qconfigPath(), profile_, [this](const QString& page) { showHelp(page); }, this);
    if (dlg.exec() != QDialog::Accepted) return;
    applyEditorSettings();
    const QString path = profile_.installPath();
    if (QDir(path).absolutePath() != installDir_) {
        if (QDir::setCurrent(path))
            installDir_ = QDir::currentPath();
        else
            prompts().message(this, QMessageBox::Warning,
                              tr("The installation directory %1 does not exist.")
                                  .arg(QDir::toNativeSeparators(path)));
    }
}

void MainWindow::showHelp(const QString& page) {
    switch (help_.open(installDir_, page)) {
    case HelpLauncher::Opened:
    case HelpLauncher::Ignored:
        break;
    case HelpLauncher::Missing:
        prompts().message(
            this, QMessageBox::Information,
            tr("The help file %1 does not exist.")
                .arg(QDir::toNativeSeparators(HelpLauncher::pagePath(installDir_, page))));
        break;
    case HelpLauncher::Failed:
        prompts().message(
            this, QMessageBox::Warning,
            tr("No program could be started to show %1.")
                .arg(QDir::toNativeSeparators(HelpLauncher::pagePath(installDir_, page))));
        break;
    }
}

void MainWindow::showTip() {
    auto* dlg =
        new TipDialog(QDir(installDir_).filePath(QStringLiteral("PeldaTips.txt")), profile_, this);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->show();
}

void MainWindow::showTipAtStartUp() {
    if (profile_.tipAtStartUp()) showTip();
}

void MainWindow::about() {
    QMessageBox::about(this, tr("About Pelda"),
                       tr("<b>Pelda</b> %1<br>An editor for mainframe assembler source that runs "
                          "the assembler and leads from its messages to the source lines.<br><br>"
                          "Installation directory: %2")
                           .arg(QApplication::applicationVersion(),
                                QDir::toNativeSeparators(installDir_).toHtmlEscaped()));
}

} // namespace pelda
