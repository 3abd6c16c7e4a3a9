#include "prompts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QVBoxLayout>

namespace pelda {

namespace {

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, appTitle(), text, QMessageBox::Ok, parent);
    box.exec();
}

QMessageBox::StandardButton askSave(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, appTitle(), text,
                                 QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                 QMessageBox::Save);
}

int askZoom(QWidget* parent, const QStringList& choices) {
    ZoomChooser dlg(parent, choices);
    if (dlg.exec() != QDialog::Accepted) return -1;
    return dlg.list()->currentRow();
}

QString askSavePath(QWidget* parent, const QString& suggested) {
    QFileDialog dlg(parent, QObject::tr("Save As"), suggested,
                    QObject::tr("390 Assembler Source (*.390 *.asm *.mac);;All Files (*)"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QStringLiteral("390"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
    return dlg.selectedFiles().front();
}

QStringList askOpenPaths(QWidget* parent, const QString& folder) {
    return QFileDialog::getOpenFileNames(
        parent, QObject::tr("Open"), folder,
        QObject::tr("390 Assembler Source (*.390 *.asm *.mac);;All Files (*)"));
}

int askLine(QWidget* parent, int current, int last) {
    bool ok = false;
    const int line = QInputDialog::getInt(parent, QObject::tr("Go to Line"),
                                          QObject::tr("&Line number (1 - %1):").arg(last), current,
                                          1, last, 1, &ok);
    return ok ? line : 0;
}

bool askReload(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, appTitle(), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

Prompts defaults() {
    return {showMessage, askSave, askZoom, askSavePath, askOpenPaths, askLine, askReload};
}

} // namespace

ZoomChooser::ZoomChooser(QWidget* parent, const QStringList& choices)
    : QDialog(parent), list_(new QListWidget(this)) {
    setWindowTitle(appTitle());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Choose the file to which you wish to Zoom..."), this));
    for (const QString& c : choices) {
        auto* item = new QListWidgetItem(c, list_);
        item->setToolTip(c);
    }
    list_->setCurrentRow(0);
    list_->setTextElideMode(Qt::ElideMiddle);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Wide enough for the longest reference, as far as the screen allows.
    int widest = 0;
    for (const QString& c : choices)
        widest = std::max(widest, list_->fontMetrics().horizontalAdvance(c));
    int width = widest + 2 * list_->frameWidth() + 24;
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        width = std::min(width, screen->availableGeometry().width() * 9 / 10 - 40);
    list_->setMinimumWidth(std::max(width, 320));
    list_->setMinimumHeight(list_->sizeHintForRow(0) * (static_cast<int>(choices.size()) + 1) +
                            2 * list_->frameWidth());
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

Prompts& prompts() {
    static Prompts p = defaults();
    return p;
}

void resetPrompts() {
    prompts() = defaults();
}

QString appTitle() {
    return QStringLiteral("Pelda");
}

} // namespace pelda
