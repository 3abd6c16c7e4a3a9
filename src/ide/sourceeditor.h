// The editor of one assembler source document.
//
// The text is kept as it was read: a file with CRLF line ends is saved with CRLF again, and a
// file that is not valid UTF-8 is read and saved as Latin-1, so that no byte changes unless
// the user changed it. The Insert key switches between inserting and overwriting.
#pragma once

#include <QPlainTextEdit>

namespace pelda {

class SourceEditor : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit SourceEditor(QWidget* parent = nullptr);

    // Reads path into the editor; false with the reason in error.
    bool load(const QString& path, QString* error);
    // Writes the text to path, whole or not at all, and makes it the document's path.
    bool save(const QString& path, QString* error);

    QString path() const { return path_; }
    bool isUntitled() const { return path_.isEmpty(); }
    void setUntitledName(const QString& name);
    // The name in the window title: the file name, or the untitled name.
    QString displayName() const;

    // "Line %d,Col %d" for the caret, both counted from 1.
    QString positionText() const;
    // Shows and selects line (from 1); false when the document has no such line.
    bool goToLine(int line);

  signals:
    void overwriteChanged(bool on);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QString path_;
    QString untitled_;
    bool crlf_ = false;
    bool latin1_ = false;
};

} // namespace pelda
