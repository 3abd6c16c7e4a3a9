// The tip of the day. Tips come from "PeldaTips.txt" in the installation directory, one tip a
// line; blank lines and lines starting with ';' are skipped. The profile keeps the byte
// position of the next tip ("FilePos") and the file's modification time ("TimeStamp"): a
// changed file starts again at its first tip, and the end of the file wraps to its start.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;

namespace pelda {

class AppProfile;

class TipDialog : public QDialog {
    Q_OBJECT
  public:
    TipDialog(const QString& tipsFile, AppProfile& profile, QWidget* parent = nullptr);
    ~TipDialog() override;

    QString tip() const;
    void nextTip();

    static QString missingText();
    static QString troubleText();

  private:
    void store();

    QString file_;
    AppProfile& profile_;
    qint64 pos_ = 0;
    QLabel* text_;
    QCheckBox* startUp_;
};

} // namespace pelda
