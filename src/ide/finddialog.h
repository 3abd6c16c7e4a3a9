// Find and Replace for the active editor: one small dialog that stays open beside the
// documents. Searches wrap around the end (or the start, searching up) of the document.
#pragma once

#include <QDialog>
#include <QTextDocument>
#include <functional>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QLabel;

namespace pelda {

class FindDialog : public QDialog {
    Q_OBJECT
  public:
    FindDialog(std::function<QPlainTextEdit*()> editor, QWidget* parent = nullptr);

    void showFind();
    void showReplace();

    // Sets what to look for without showing the dialog.
    void setSearch(const QString& what, const QString& with, bool matchCase, bool wholeWord,
                   bool up = false);
    bool hasSearch() const;

    // Selects the next match; false (after saying so) when there is none.
    bool findNext();
    // Replaces the selected match, if the selection is one, and finds the next.
    bool replaceOne();
    // Replaces every match in the document as one undo step; returns the count.
    int replaceAll();

  private:
    QTextDocument::FindFlags flags(bool forceForward = false) const;
    bool selectionMatches(QPlainTextEdit* e) const;
    void setReplaceMode(bool on);

    std::function<QPlainTextEdit*()> editor_;
    QLineEdit* what_;
    QLineEdit* with_;
    QLabel* withLabel_;
    QCheckBox* matchCase_;
    QCheckBox* wholeWord_;
    QRadioButton* up_;
    QRadioButton* down_;
    QPushButton* findButton_;
    QPushButton* replaceButton_;
    QPushButton* replaceAllButton_;
};

} // namespace pelda
