// The questions and messages that the editor puts to the user, in one place. Each goes through a
// replaceable function, so that tests can answer them without a modal dialog; the defaults show
// the ordinary message boxes and dialogs.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QListWidget;
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
    // Files to open, the dialog starting in folder; empty when the user cancels.
    std::function<QStringList(QWidget* parent, const QString& folder)> openPaths;
    // A line to go to, from 1 to last, offering current; 0 when the user cancels.
    std::function<int(QWidget* parent, int current, int last)> goToLine;
    // Yes or no to reloading a document whose file another program changed.
    std::function<bool(QWidget* parent, const QString& text)> reloadChanged;
};

// The prompts in use. Tests replace members and restore them with resetPrompts().
Prompts& prompts();
void resetPrompts();

// The title of every message box of the program.
QString appTitle();

// The dialog behind chooseZoom: the file references in a list wide enough to show them whole,
// as far as the screen allows; a longer one is cut in the middle, where its folders are, and
// shows in full as its tool tip.
class ZoomChooser : public QDialog {
    Q_OBJECT
  public:
    ZoomChooser(QWidget* parent, const QStringList& choices);
    QListWidget* list() const { return list_; }

  private:
    QListWidget* list_;
};

} // namespace pelda
