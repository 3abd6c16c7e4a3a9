// The splash and about box: the logo, the product name and the extractor connection's
// connect message. Shown at start-up over the main frame, it closes itself after three
// seconds; without a main frame (no connection) closing it ends the program with code 16.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace opxwin {

class OpxFrame;

class ConnectDialog : public QDialog {
    Q_OBJECT
  public:
    // frame may be null: the program has no main window.
    explicit ConnectDialog(OpxFrame* frame);

    QString messageText() const;
    QPushButton* okButton() const { return ok_; }
    // Whether this box will close itself (the first box shown over a main frame).
    bool closesItself() const { return timed_; }

    // The exit code of the program when it ends without a main frame.
    static constexpr int kExitNoConnection = 16;

  protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

  private:
    OpxFrame* frame_;
    QPlainTextEdit* message_;
    QPushButton* ok_;
    bool timed_ = false;
    bool shownOnce_ = false;
};

} // namespace opxwin
