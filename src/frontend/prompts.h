// The questions, messages and modal dialogs of the program, in one place. Each goes through a
// replaceable function, so that tests can answer without a modal loop; the defaults show the
// ordinary message boxes, file dialogs and modal dialogs.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace opxwin {

struct Prompts {
    // A message to acknowledge, in a box with the given caption.
    std::function<void(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                       const QString& text)>
        message;
    // "Overwrite File": the index of the answer in ExtractRequest::sExistOptions ("Replace",
    // "Skip", "Replace All", "Skip All", "Cancel"); closing the box answers "Cancel".
    std::function<int(QWidget* parent, const QString& text)> overwrite;
    // "Load Module Extract Failed": true for OK, false for Cancel or closing the box.
    std::function<bool(QWidget* parent, const QString& text)> loadModuleFailed;
    // A file to open (save false) or to create (save true); empty when the user cancels.
    std::function<QString(QWidget* parent, const QString& caption, const QString& filter,
                          bool save)>
        fileName;
    // Runs a modal dialog (a wizard page, the status dialog, the about box) and returns its
    // result.
    std::function<int(QDialog* dialog)> runDialog;
};

// The prompts in use. Tests replace members and restore them with resetPrompts().
Prompts& prompts();
void resetPrompts();

} // namespace opxwin
