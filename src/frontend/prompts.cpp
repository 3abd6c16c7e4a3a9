#include "prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QPushButton>

namespace opxwin {

namespace {

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                 const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

int askOverwrite(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Overwrite File"), text,
                    QMessageBox::NoButton, parent);
    const char* answers[] = {"Replace", "Skip", "Replace All", "Skip All", "Cancel"};
    QList<QPushButton*> buttons;
    for (const char* a : answers)
        buttons << box.addButton(QString::fromLatin1(a), QMessageBox::ActionRole);
    box.setDefaultButton(buttons.at(1));
    box.setEscapeButton(buttons.at(4));
    box.exec();
    const int index = static_cast<int>(buttons.indexOf(box.clickedButton()));
    return index < 0 ? 4 : index;
}

bool askLoadModuleFailed(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Load Module Extract Failed"), text,
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

QString askFileName(QWidget* parent, const QString& caption, const QString& filter, bool save) {
    return save ? QFileDialog::getSaveFileName(parent, caption, QString(), filter)
                : QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

int runModal(QDialog* dialog) {
    return dialog->exec();
}

Prompts defaults() {
    return {showMessage, askOverwrite, askLoadModuleFailed, askFileName, runModal};
}

} // namespace

Prompts& prompts() {
    static Prompts p = defaults();
    return p;
}

void resetPrompts() {
    prompts() = defaults();
}

} // namespace opxwin
