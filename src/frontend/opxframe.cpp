#include "opxframe.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "connectdialog.h"
#include "connections.h"
#include "extractrequest.h"
#include "filetree.h"
#include "opx.h"
#include "prompts.h"
#include "saverequest.h"

namespace opxwin {

namespace {

const char kFileFilter[] = "TSO XMIT Files (*.xmit *.xmi *.xmt *.bin);;All Files (*)";

// The tool bar's picture from doc/, or the style's own when the file is missing or cannot be
// read (no icon theme is needed either way).
QIcon toolIcon(const char* file, QStyle::StandardPixmap fallback) {
    const QPixmap p = Opx::image(QStringLiteral("doc/") + QString::fromLatin1(file));
    return p.isNull() ? QApplication::style()->standardIcon(fallback) : QIcon(p);
}

} // namespace

OpxFrame::OpxFrame(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Quorin Opalex"));
    setWindowIcon(Opx::iconImage());
    Opx::theFrame = this;

    new_ = new QAction(toolIcon("new.gif", QStyle::SP_FileIcon), QStringLiteral("New..."), this);
    new_->setToolTip(QStringLiteral("Create a TSO XMIT file"));
    open_ = new QAction(toolIcon("open.gif", QStyle::SP_DialogOpenButton),
                        QStringLiteral("Open..."), this);
    open_->setToolTip(QStringLiteral("Open a TSO XMIT file"));
    extract_ = new QAction(toolIcon("save.gif", QStyle::SP_DialogSaveButton),
                           QStringLiteral("Extract"), this);
    extract_->setToolTip(QStringLiteral("Extract the selected data set"));
    about_ = new QAction(toolIcon("about.gif", QStyle::SP_MessageBoxInformation),
                         QStringLiteral("About..."), this);
    about_->setToolTip(QStringLiteral("Display program information, version number and copyright"));
    exit_ = new QAction(QStringLiteral("Exit"), this);

    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->addAction(new_);
    file->addAction(open_);
    file->addAction(extract_);
    file->addSeparator();
    file->addAction(exit_);
    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->addAction(about_);

    QToolBar* bar = addToolBar(QStringLiteral("Tools"));
    bar->setObjectName(QStringLiteral("tools"));
    bar->setMovable(false);
    bar->addAction(new_);
    bar->addAction(open_);
    bar->addAction(extract_);
    bar->addAction(about_);
    // The buttons' names read "New", "Open", "Extract", "About".
    for (QAction* a : {new_, open_, about_})
        a->setIconText(a->text().remove(QStringLiteral("...")));

    connect(new_, &QAction::triggered, this, &OpxFrame::handleFileNew);
    connect(open_, &QAction::triggered, this, [this] { handleFileOpen(false); });
    connect(extract_, &QAction::triggered, this, &OpxFrame::handleExtract);
    connect(about_, &QAction::triggered, this, &OpxFrame::handleAbout);
    connect(exit_, &QAction::triggered, this, &OpxFrame::exitApplication);

    split_ = new QSplitter(Qt::Horizontal, this);
    tree_ = new QTreeView(split_);
    tree_->setHeaderHidden(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    // The right side sits in a plain holder: a splitter nested directly in another one shrinks
    // to nothing while all its panes are hidden, and does not come back when they show.
    auto* right = new QWidget(split_);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightSplit_ = new QSplitter(Qt::Vertical, right);
    rightLayout->addWidget(rightSplit_);
    description_ = new QPlainTextEdit(rightSplit_);
    description_->setReadOnly(true);
    description_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table_ = new QTableView(rightSplit_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->hide();
    description_->hide();
    split_->addWidget(tree_);
    split_->addWidget(right);
    setCentralWidget(split_);
    resize(900, 620);
}

OpxFrame::~OpxFrame() {
    discardRoot();
    if (Opx::theFrame == this) Opx::theFrame = nullptr;
}

void OpxFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (opened_) return;
    opened_ = true;
    // The dividers need real sizes: set them once the window is laid out.
    QTimer::singleShot(0, this, [this] {
        placeDividers();
        handleFileOpen(true);
    });
}

void OpxFrame::placeDividers() {
    const int w = split_->width();
    split_->setSizes({w * 35 / 100, w - w * 35 / 100});
    const int h = split_->height();
    rightSplit_->setSizes({h * 35 / 100, h - h * 35 / 100});
}

void OpxFrame::closeEvent(QCloseEvent* event) {
    discardRoot();
    QMainWindow::closeEvent(event);
}

void OpxFrame::handleFileOpen(bool initial) {
    if (initial && !Opx::sInitialFileName.isEmpty()) {
        openXmitFile(QString(), Opx::sInitialFileName);
        return;
    }
    const QString chosen = prompts().fileName(this, QStringLiteral("Open TSO XMIT File"),
                                              QString::fromLatin1(kFileFilter), false);
    if (chosen.isEmpty()) return;
    const QFileInfo info(chosen);
    openXmitFile(info.absolutePath(), info.fileName());
}

QString OpxFrame::openFailedText(const QString& message) {
    QString text = message.trimmed();
    const qsizetype blank = text.indexOf(QLatin1Char(' '));
    if (blank > 20) text[blank] = QLatin1Char('\n');
    return text;
}

bool OpxFrame::openXmitFile(const QString& dir, const QString& name) {
    auto file = std::make_unique<XmitFile>(dir, name);
    QString failure;
    const QString path = file->canonicalPath();
    if (!file->exists()) {
        failure = QStringLiteral("File \"") + path + QStringLiteral("\" does not exist.");
    } else {
        const QString message = file->open(OpxConnection::theConnection());
        if (!message.isEmpty()) failure = path + QStringLiteral(": ") + message;
    }
    if (!failure.isEmpty()) {
        prompts().message(this, QMessageBox::Critical, QStringLiteral("Open Failed"),
                          openFailedText(failure));
        return false;
    }
    // The tree is frozen (not hidden, which would give its room away) while it is rebuilt.
    tree_->setUpdatesEnabled(false);
    discardRoot();
    root_ = std::make_unique<XmitFileTreeNode>(std::move(file));
    model_ = std::make_unique<XmitTreeModel>(root_.get());
    tree_->setModel(model_.get());
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &OpxFrame::onTreeSelection);
    tree_->expandAll();
    tree_->setUpdatesEnabled(true);
    setWindowTitle(QStringLiteral("Quorin Opalex - ") + root_->getXmitFile()->name());
    return true;
}

void OpxFrame::discardRoot() {
    selected_ = nullptr;
    table_->setModel(nullptr);
    tree_->setModel(nullptr);
    model_.reset();
    root_.reset();
}

void OpxFrame::onTreeSelection() {
    selectNode(model_ ? model_->nodeAt(tree_->currentIndex()) : nullptr);
}

void OpxFrame::selectNode(OpxFileTreeNode* node) {
    selected_ = node;
    const QString text = node != nullptr ? node->getFileDescription() : QString();
    if (!text.isEmpty()) {
        description_->setPlainText(text);
        description_->show();
    } else {
        description_->hide();
    }
    MemberTableModel* members = node != nullptr ? node->getTableModel() : nullptr;
    if (members != nullptr) {
        table_->setModel(members);
        const QList<int> widths = members->columnWidths(table_->fontMetrics());
        for (int i = 0; i < widths.size(); ++i) table_->setColumnWidth(i, widths.at(i));
        table_->show();
    } else {
        table_->setModel(nullptr);
        table_->hide();
    }
}

QList<int> OpxFrame::selectedRows() const {
    QList<int> rows;
    if (table_->selectionModel() == nullptr) return rows;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows()) rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void OpxFrame::handleExtract() {
    if (selected_ == nullptr) return;
    if (!selected_->isExtractable()) {
        prompts().message(this, QMessageBox::Information, QStringLiteral("Extract Failed"),
                          QStringLiteral("Cannot extract ") + selected_->label() +
                              QLatin1Char('\n') + selected_->getUnextractableReason());
        return;
    }
    std::vector<SourceMember>* members = selected_->getSourceMembers();
    ExtractRequest request(this, selected_->getSourceFile(), members,
                           members != nullptr ? selectedRows() : QList<int>());
    request.extract();
}

void OpxFrame::handleFileNew() {
    BrenConnection* bren = BrenConnection::theConnection();
    if (!bren->isConnected()) {
        prompts().message(this, QMessageBox::Critical,
                          QStringLiteral("Quorin Brenmar is Unavailable"), bren->sConnectMessage);
        return;
    }
    const QString chosen = prompts().fileName(this, QStringLiteral("Create TSO XMIT File"),
                                              QString::fromLatin1(kFileFilter), true);
    if (chosen.isEmpty()) return;
    const QFileInfo info(chosen);
    if (runBuildWizard(info.absolutePath(), info.fileName()))
        openXmitFile(info.absolutePath(), info.fileName());
}

bool OpxFrame::runBuildWizard(const QString& dir, const QString& name) {
    SaveRequest request(this, dir, name);
    return request.save();
}

void OpxFrame::handleAbout() {
    ConnectDialog about(this);
    prompts().runDialog(&about);
}

void OpxFrame::exitApplication() {
    discardRoot();
    // Closing the last window ends the program.
    close();
}

} // namespace opxwin
