#include "prompts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
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
    QDialog dlg(parent);
    dlg.setWindowTitle(appTitle());
    auto* layout = new QVBoxLayout(&dlg);
    layout->addWidget(
        new QLabel(QObject::tr("Choose the file to which you wish to Zoom..."), &dlg));
    auto* list = new QListWidget(&dlg);
    list->addItems(choices);
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dlg, &QDialog::accept);
    if (dlg.exec() != QDialog::Accepted) return -1;
    return list->currentRow();
}

QString askSavePath(QWidget* parent, const QString& suggested) {
    QFileDialog dlg(parent, QObject::tr("Save As"), suggested,
                    QObject::tr("390 Assembler Source (*.390 *.asm *.mac);;All Files (*)"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(QStringLiteral("390"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
    return dlg.selectedFiles().front();
}

Prompts defaults() {
    return {showMessage, askSave, askZoom, askSavePath};
}

} // namespace

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
