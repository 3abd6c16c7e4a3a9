// The editor of one assembler source document.
//
// The text is kept as it was read: a file with CRLF line ends is saved with CRLF again, and a
// file that is not valid UTF-8 is read and saved as Latin-1, so that no byte changes unless
// the user changed it. The Insert key switches between inserting and overwriting.
//
// Assembler source lives in columns, and the editor shows them:
//
//   ----+----1----+----2 ...  ----7--+-    the ruler above the text, following the scroll
//    12 |LOOP     A     R4,0(,R2)      X12345678
//       |         :     :              |░░░░░░░░  guides before columns 10, 16 and 72,
//                                                  columns 73-80 dimmed, column 72 marked
//
// with line numbers in a margin on the left (and a mark beside each line that the assembler
// has a message for), syntax colours (see AsmHighlighter), Tab and Shift+Tab moving between
// the assembler tab stops by blanks, and an optional upper-case mode for typing.
#pragma once

#include <QMap>
#include <QPlainTextEdit>

class QFileInfo;

namespace pelda {

class AsmHighlighter;
class LineNumberArea;
class ColumnRuler;

class SourceEditor : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit SourceEditor(QWidget* parent = nullptr);

    // Reads path into the editor; false with the reason in error.
    bool load(const QString& path, QString* error);
    // Reads the document's file again as one step that Undo takes back; false with the reason.
    bool reload(QString* error);
    // Writes the text to path, whole or not at all, and makes it the document's path.
    bool save(const QString& path, QString* error);

    QString path() const { return path_; }
    bool isUntitled() const { return path_.isEmpty(); }
    void setUntitledName(const QString& name);
    // The name in the window title: the file name, or the untitled name.
    QString displayName() const;
    // The file's modification time and size when it was last read or written here, to tell
    // another program's change from the editor's own.
    QString diskStamp() const { return stamp_; }
    // Takes the file as it is on disk now as the one the document was read from.
    void acceptDiskStamp() { stamp_ = stampOf(path_); }
    static QString stampOf(const QString& path);

    // "Line %d,Col %d" for the caret, both counted from 1; the column is the assembler's.
    QString positionText() const;
    int caretLine() const;
    int caretColumn() const;
    // Shows line (from 1), selected, or with the caret at its start; false when the document
    // has no such line.
    bool goToLine(int line, bool select = true);

    // Columns ---------------------------------------------------------------------------------
    void setTabStops(const QList<int>& stops);
    QList<int> tabStops() const { return tabStops_; }
    void setUpperCase(bool on) { upperCase_ = on; }
    bool upperCase() const { return upperCase_; }
    // The width of one column and the viewport x of the left edge of column (from 1).
    qreal columnWidth() const;
    qreal columnX(int column) const;
    // The viewport x of the guide before column.
    int guideX(int column) const;
    static QList<int> guideColumns();

    // What is shown -------------------------------------------------------------------------
    void setLineNumbersVisible(bool on);
    bool lineNumbersVisible() const { return numbersVisible_; }
    void setRulerVisible(bool on);
    bool rulerVisible() const { return rulerVisible_; }
    void setHighlighting(bool on);
    bool highlighting() const;
    AsmHighlighter* highlighter() const { return highlighter_; }
    ColumnRuler* ruler() const { return ruler_; }
    QWidget* lineNumberArea() const;

    // The lines that the assembler has messages for, with the severity letter of the most
    // severe; shown beside the line numbers.
    void setMessageMarks(const QMap<int, QChar>& marks);
    QMap<int, QChar> messageMarks() const { return marks_; }
    static QColor severityColour(QChar severity);

    // Painting of the margins (the margin widgets call these).
    int lineNumberAreaWidth() const;
    int rulerHeight() const;
    void paintLineNumbers(QPaintEvent* event);
    void paintRuler(QPaintEvent* event);

  signals:
    void overwriteChanged(bool on);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    bool readFile(const QString& path, QString* text, QString* error);
    void updateMargins();
    void updateCurrentLine();
    void tabForward();
    void tabBack();

    QString path_;
    QString untitled_;
    QString stamp_;
    bool crlf_ = false;
    bool latin1_ = false;
    QList<int> tabStops_;
    bool upperCase_ = false;
    bool numbersVisible_ = true;
    bool rulerVisible_ = true;
    QMap<int, QChar> marks_;
    AsmHighlighter* highlighter_;
    LineNumberArea* numbers_;
    ColumnRuler* ruler_;
};

// The margin widgets: they only hand their painting to the editor.
class LineNumberArea : public QWidget {
    Q_OBJECT
  public:
    explicit LineNumberArea(SourceEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return {editor_->lineNumberAreaWidth(), 0}; }

  protected:
    void paintEvent(QPaintEvent* event) override { editor_->paintLineNumbers(event); }

  private:
    SourceEditor* editor_;
};

class ColumnRuler : public QWidget {
    Q_OBJECT
  public:
    explicit ColumnRuler(SourceEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return {0, editor_->rulerHeight()}; }
    // The ruler's text: "----+----1----+----2..." with the tens digit at every tenth column.
    static QString rulerText(int columns);
    // The colour that marks the caret's column.
    static QColor caretMarkColour();

  protected:
    void paintEvent(QPaintEvent* event) override { editor_->paintRuler(event); }

  private:
    SourceEditor* editor_;
};

} // namespace pelda
