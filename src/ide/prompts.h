// The questions and messages that the editor puts to the user, in one place. Each goes through a
// replaceable function, so that tests can answer them without a modal dialog; the defaults show
// the ordinary message boxes and dialogs.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace pelda {

struct Prompts {
    // A message to acknowledge.
    std::function<void(QWidget* parent, QMessageBox::Icon icon, const QString& text)> message;
    // Save, Discard or Cancel for a document with changes.
    std::function<QMessageBox::StandardButton(QWidget* parent, const QString& text)> saveChanges;
    // One of several file references to zoom to; -1 when the user cancels.
    std::function<int(QWidget* parent, const QStringList& choices)> chooseZoom;
    // A path to save a document under; empty when the user cancels.
    std::function<QString(QWidget* parent, const QString& suggested)> saveAsPath;
};

// The prompts in use. Tests replace members and restore them with resetPrompts().
Prompts& prompts();
void resetPrompts();

// The title of every message box of the program.
QString appTitle();

} // namespace pelda
