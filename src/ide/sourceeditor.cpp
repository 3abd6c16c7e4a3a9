#include "sourceeditor.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <cmath>

#include "asmsyntax.h"
#include "highlighter.h"
#include "tabstops.h"

namespace pelda {

namespace {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < 128;
}

// The guide before column: a strong one for the continuation column, light ones for the
// operation and operand columns.
QColor guideColour(int column, bool dark) {
    if (column == kContinuationColumn)
        return dark ? QColor(0xc0, 0x70, 0x30) : QColor(0xe0, 0x8a, 0x3c);
    return dark ? QColor(0x48, 0x48, 0x48) : QColor(0xdc, 0xdc, 0xdc);
}

} // namespace

SourceEditor::SourceEditor(QWidget* parent)
    : QPlainTextEdit(parent), tabStops_(defaultTabStops()),
      highlighter_(new AsmHighlighter(document())), numbers_(new LineNumberArea(this)),
      ruler_(new ColumnRuler(this)) {
    // Assembler statements are column-bound: never wrap them.
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(true);
    numbers_->setObjectName(QStringLiteral("lineNumbers"));
    ruler_->setObjectName(QStringLiteral("ruler"));
    highlighter_->setDarkBackground(isDark(palette()));
    connect(this, &QPlainTextEdit::blockCountChanged, this, &SourceEditor::updateMargins);
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (dy)
            numbers_->scroll(0, dy);
        else
            numbers_->update(0, rect.y(), numbers_->width(), rect.height());
    });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, ruler_,
            qOverload<>(&QWidget::update));
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        updateCurrentLine();
        ruler_->update();
        numbers_->update();
    });
    updateMargins();
    updateCurrentLine();
}

// Files -----------------------------------------------------------------------------------------

bool SourceEditor::readFile(const QString& path, QString* text, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = f.errorString();
        return false;
    }
    const QByteArray bytes = f.readAll();
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    *text = utf8.decode(bytes);
    latin1_ = utf8.hasError();
    if (latin1_) *text = QString::fromLatin1(bytes);
    crlf_ = bytes.contains("\r\n");
    if (crlf_) text->replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return true;
}

bool SourceEditor::load(const QString& path, QString* error) {
    QString text;
    if (!readFile(path, &text, error)) return false;
    setPlainText(text);
    document()->setModified(false);
    path_ = QFileInfo(path).absoluteFilePath();
    stamp_ = stampOf(path_);
    return true;
}

bool SourceEditor::reload(QString* error) {
    QString text;
    if (path_.isEmpty() || !readFile(path_, &text, error)) return false;
    const int line = caretLine(), column = caretColumn();
    QTextCursor c(document());
    c.beginEditBlock();
    c.select(QTextCursor::Document);
    c.insertText(text);
    c.endEditBlock();
    document()->setModified(false);
    stamp_ = stampOf(path_);
    const QTextBlock b =
        document()->findBlockByNumber(std::min(line, document()->blockCount()) - 1);
    QTextCursor back(b);
    back.setPosition(b.position() + std::min(column - 1, b.length() - 1));
    setTextCursor(back);
    return true;
}

bool SourceEditor::save(const QString& path, QString* error) {
    QString text = toPlainText();
    if (latin1_) {
        for (QChar ch : text) {
            if (ch.unicode() > 0xFF) {
                if (error)
                    *error = tr("The file is kept in Latin-1, which cannot hold the character "
                                "'%1'.")
                                 .arg(ch);
                return false;
            }
        }
    }
    if (crlf_) text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    const QByteArray bytes = latin1_ ? text.toLatin1() : text.toUtf8();
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        if (error) *error = f.errorString();
        return false;
    }
    path_ = QFileInfo(path).absoluteFilePath();
    stamp_ = stampOf(path_);
    document()->setModified(false);
    return true;
}

QString SourceEditor::stampOf(const QString& path) {
    const QFileInfo fi(path);
    if (!fi.exists()) return QString();
    return QStringLiteral("%1:%2").arg(fi.lastModified().toMSecsSinceEpoch()).arg(fi.size());
}

void SourceEditor::setUntitledName(const QString& name) {
    untitled_ = name;
}

QString SourceEditor::displayName() const {
    return path_.isEmpty() ? untitled_ : QFileInfo(path_).fileName();
}

// Caret and lines -------------------------------------------------------------------------------

int SourceEditor::caretLine() const {
    return textCursor().blockNumber() + 1;
}

int SourceEditor::caretColumn() const {
    // A character is a column to the assembler, a tab character included.
    return textCursor().positionInBlock() + 1;
}

QString SourceEditor::positionText() const {
    return tr("Line %1,Col %2").arg(caretLine()).arg(caretColumn());
}

bool SourceEditor::goToLine(int line, bool select) {
    if (line < 1 || line > document()->blockCount()) return false;
    QTextBlock block = document()->findBlockByNumber(line - 1);
    QTextCursor c(block);
    if (select) c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    setTextCursor(c);
    centerCursor();
    return true;
}

void SourceEditor::updateCurrentLine() {
    QTextEdit::ExtraSelection line;
    line.format.setBackground(isDark(palette()) ? QColor(0x2a, 0x2f, 0x3a)
                                                : QColor(0xee, 0xf3, 0xfc));
    line.format.setProperty(QTextFormat::FullWidthSelection, true);
    line.cursor = textCursor();
    line.cursor.clearSelection();
    setExtraSelections({line});
}

// Typing ----------------------------------------------------------------------------------------

void SourceEditor::setTabStops(const QList<int>& stops) {
    tabStops_ = stops.isEmpty() ? defaultTabStops() : stops;
}

void SourceEditor::tabForward() {
    QTextCursor c = textCursor();
    if (c.hasSelection() &&
        document()->findBlock(c.selectionStart()) != document()->findBlock(c.selectionEnd()))
        return; // Tab does not indent a block of lines: that would move statements' columns
    c.beginEditBlock();
    c.removeSelectedText();
    const int column = c.positionInBlock() + 1;
    const int next = nextTabStop(tabStops_, column);
    if (next > column) {
        const int length = c.block().length() - 1;
        if (!overwriteMode()) {
            c.insertText(QString(next - column, QLatin1Char(' ')));
        } else if (next - 1 <= length) {
            c.setPosition(c.block().position() + next - 1); // overwriting moves over the text
        } else {
            c.movePosition(QTextCursor::EndOfBlock);
            c.insertText(QString(next - 1 - length, QLatin1Char(' ')));
        }
    }
    c.endEditBlock();
    setTextCursor(c);
}

void SourceEditor::tabBack() {
    QTextCursor c = textCursor();
    const int column = c.positionInBlock() + 1;
    c.setPosition(c.block().position() + previousTabStop(tabStops_, column) - 1);
    setTextCursor(c);
}

void SourceEditor::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool plain = !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (event->key() == Qt::Key_Insert && mods == Qt::NoModifier) {
        setOverwriteMode(!overwriteMode());
        emit overwriteChanged(overwriteMode());
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Tab && plain && !isReadOnly()) {
        tabForward();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Backtab && plain) {
        tabBack();
        event->accept();
        return;
    }
    if (upperCase_ && plain && !event->text().isEmpty()) {
        const QString text = event->text();
        const QString upper = text.toUpper();
        if (upper != text && upper.size() == text.size()) {
            QKeyEvent shifted(event->type(), event->key(), mods, upper, event->isAutoRepeat(),
                              static_cast<ushort>(event->count()));
            QPlainTextEdit::keyPressEvent(&shifted);
            event->setAccepted(shifted.isAccepted());
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

// Columns ---------------------------------------------------------------------------------------

qreal SourceEditor::columnWidth() const {
    return QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' '));
}

qreal SourceEditor::columnX(int column) const {
    return contentOffset().x() + document()->documentMargin() + (column - 1) * columnWidth();
}

int SourceEditor::guideX(int column) const {
    return static_cast<int>(std::floor(columnX(column))) - 1;
}

QList<int> SourceEditor::guideColumns() {
    return {kOperationColumn, kOperandColumn, kContinuationColumn};
}

// What is shown ---------------------------------------------------------------------------------

QWidget* SourceEditor::lineNumberArea() const {
    return numbers_;
}

void SourceEditor::setLineNumbersVisible(bool on) {
    numbersVisible_ = on;
    updateMargins();
}

void SourceEditor::setRulerVisible(bool on) {
    rulerVisible_ = on;
    updateMargins();
    viewport()->update();
}

void SourceEditor::setHighlighting(bool on) {
    highlighter_->setEnabled(on);
    viewport()->update();
}

bool SourceEditor::highlighting() const {
    return highlighter_->isEnabled();
}

void SourceEditor::setMessageMarks(const QMap<int, QChar>& marks) {
    marks_ = marks;
    numbers_->update();
}

QColor SourceEditor::severityColour(QChar severity) {
    switch (severity.unicode()) {
    case 'W':
        return QColor(0xe6, 0x9a, 0x00);
    case 'I':
    case 'N':
        return QColor(0x3b, 0x7d, 0xd8);
    default:
        return QColor(0xd3, 0x2f, 0x2f);
    }
}

int SourceEditor::lineNumberAreaWidth() const {
    int digits = 1;
    for (int n = std::max(1, document()->blockCount()); n >= 10; n /= 10) ++digits;
    digits = std::max(digits, 3);
    return fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits + 14;
}

int SourceEditor::rulerHeight() const {
    return fontMetrics().height() + 6;
}

void SourceEditor::updateMargins() {
    const int left = numbersVisible_ ? lineNumberAreaWidth() : 0;
    const int top = rulerVisible_ ? rulerHeight() : 0;
    setViewportMargins(left, top, 0, 0);
    const QRect cr = contentsRect();
    numbers_->setVisible(numbersVisible_);
    ruler_->setVisible(rulerVisible_);
    numbers_->setGeometry(cr.left(), cr.top() + top, left, cr.height() - top);
    ruler_->setGeometry(cr.left() + left, cr.top(), viewport()->width(), top);
}

void SourceEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    updateMargins();
}

void SourceEditor::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        // A tab character that a file brings takes one column, as it does for the assembler.
        setTabStopDistance(columnWidth());
        updateMargins();
    } else if (event->type() == QEvent::PaletteChange) {
        highlighter_->setDarkBackground(isDark(palette()));
        updateCurrentLine();
    }
}

void SourceEditor::paintEvent(QPaintEvent* event) {
    // The lines about to be painted get their colours first.
    const QTextBlock first = firstVisibleBlock();
    QTextBlock last = first;
    const qreal bottom = viewport()->height();
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        last = b;
        if (blockBoundingGeometry(b).translated(contentOffset()).bottom() >= bottom) break;
    }
    highlighter_->formatBlocks(first, last);
    QPlainTextEdit::paintEvent(event);
    if (!rulerVisible_) return;

    QPainter p(viewport());
    const bool dark = isDark(palette());
    const int height = viewport()->height();
    // The sequence field, dimmed.
    const qreal seq = columnX(kSequenceColumn);
    if (seq < viewport()->width())
        p.fillRect(QRectF(seq, 0, viewport()->width() - seq, height),
                   dark ? QColor(0, 0, 0, 70) : QColor(0x80, 0x80, 0x80, 28));
    for (int column : guideColumns()) {
        p.setPen(guideColour(column, dark));
        const int x = guideX(column);
        p.drawLine(x, 0, x, height);
    }
    // A statement continued on the next line: its column 72 framed.
    const qreal cw = columnWidth();
    const qreal x72 = columnX(kContinuationColumn);
    p.setPen(guideColour(kContinuationColumn, dark));
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        const QRectF r = blockBoundingGeometry(b).translated(contentOffset());
        if (r.top() > height) break;
        const QString text = b.text();
        if (text.size() >= kContinuationColumn && text[kContinuationColumn - 1] != QLatin1Char(' '))
            p.drawRect(QRectF(x72, r.top(), cw, r.height() - 1));
        if (b == last) break;
    }
}

void SourceEditor::paintLineNumbers(QPaintEvent* event) {
    QPainter p(numbers_);
    const bool dark = isDark(palette());
    p.fillRect(event->rect(), dark ? QColor(0x26, 0x26, 0x26) : QColor(0xf4, 0xf4, 0xf4));
    const int current = textCursor().blockNumber();
    const int width = numbers_->width();
    QTextBlock b = firstVisibleBlock();
    qreal top = blockBoundingGeometry(b).translated(contentOffset()).top();
    for (; b.isValid() && top <= event->rect().bottom(); b = b.next()) {
        const qreal h = blockBoundingRect(b).height();
        if (b.isVisible() && top + h >= event->rect().top()) {
            const int number = b.blockNumber() + 1;
            if (marks_.contains(number))
                p.fillRect(QRectF(0, top, 4, h), severityColour(marks_.value(number)));
            p.setPen(b.blockNumber() == current ? palette().color(QPalette::Text)
                                                : QColor(0x90, 0x90, 0x90));
            p.drawText(QRectF(0, top, width - 6, h), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(number));
        }
        top += h;
    }
}

QString ColumnRuler::rulerText(int columns) {
    QString text(columns, QLatin1Char('-'));
    for (int c = 5; c <= columns; c += 5)
        text[c - 1] = c % 10 ? QLatin1Char('+') : QChar(u'0' + (c / 10) % 10);
    return text;
}

QColor ColumnRuler::caretMarkColour() {
    return QColor(0x9e, 0xc5, 0xfe);
}

void SourceEditor::paintRuler(QPaintEvent* event) {
    QPainter p(ruler_);
    const bool dark = isDark(palette());
    p.fillRect(event->rect(), dark ? QColor(0x26, 0x26, 0x26) : QColor(0xf4, 0xf4, 0xf4));
    const qreal cw = columnWidth();
    const int h = ruler_->height();
    // The caret's column.
    p.fillRect(QRectF(columnX(caretColumn()), 0, cw, h), ColumnRuler::caretMarkColour());
    // Ticks below the guide columns.
    for (int column : guideColumns()) {
        p.setPen(guideColour(column, dark).darker(column == kContinuationColumn ? 100 : 130));
        const int x = guideX(column);
        p.drawLine(x, 0, x, h);
    }
    const int columns =
        std::max(kSequenceEndColumn, static_cast<int>((ruler_->width() - columnX(1)) / cw) + 2);
    p.setFont(font());
    p.setPen(dark ? QColor(0xa0, 0xa0, 0xa0) : QColor(0x70, 0x70, 0x70));
    p.drawText(QPointF(columnX(1), (h + fontMetrics().ascent() - fontMetrics().descent()) / 2.0),
               ColumnRuler::rulerText(columns));
}

} // namespace pelda
