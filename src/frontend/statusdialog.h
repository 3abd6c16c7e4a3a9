// The status dialog of a running extraction or build: the status lines, a progress bar and one
// button. While the request runs the button reads "Cancel" and pressing it (or Esc, or the
// window's close button) only records the wish to cancel, which the worker reads; once the
// request has ended the button reads "OK" and closes the dialog.
#pragma once

#include <QDialog>
#include <atomic>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace opxwin {

class StatusDialog : public QDialog {
    Q_OBJECT
  public:
    StatusDialog(QWidget* parent, const QString& caption);

    bool wasCancelPressed() const { return cancel_.load(); }
    bool isDone() const { return done_; }
    QString text() const;
    QPushButton* button() const { return button_; }
    QProgressBar* progressBar() const { return progress_; }

  public slots:
    // Appends a text as it stands (status lines begin with "\n").
    void append(const QString& text);
    void setMembers(int count);
    void setProgress(int value);
    void advance();
    // The request has ended: the button becomes "OK".
    void setDone();
    // What the Cancel button does while the request runs.
    void pressCancel();

  signals:
    // Emitted once, when the dialog is first on the screen: the worker starts then.
    void firstShown();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    QPlainTextEdit* text_;
    QProgressBar* progress_;
    QPushButton* button_;
    std::atomic<bool> cancel_{false};
    bool done_ = false;
    bool shown_ = false;
};

} // namespace opxwin
