#include "sourceeditor.h"

#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTextBlock>

namespace pelda {

SourceEditor::SourceEditor(QWidget* parent) : QPlainTextEdit(parent) {
    // Assembler statements are column-bound: never wrap them.
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(true);
}

bool SourceEditor::load(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = f.errorString();
        return false;
    }
    const QByteArray bytes = f.readAll();
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    latin1_ = utf8.hasError();
    if (latin1_) text = QString::fromLatin1(bytes);
    crlf_ = bytes.contains("\r\n");
    if (crlf_) text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(text);
    document()->setModified(false);
    path_ = QFileInfo(path).absoluteFilePath();
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
    document()->setModified(false);
    return true;
}

void SourceEditor::setUntitledName(const QString& name) {
    untitled_ = name;
}

QString SourceEditor::displayName() const {
    return path_.isEmpty() ? untitled_ : QFileInfo(path_).fileName();
}

QString SourceEditor::positionText() const {
    QTextCursor c = textCursor();
    return tr("Line %1,Col %2").arg(c.blockNumber() + 1).arg(c.positionInBlock() + 1);
}

bool SourceEditor::goToLine(int line) {
    if (line < 1 || line > document()->blockCount()) return false;
    QTextBlock block = document()->findBlockByNumber(line - 1);
    QTextCursor c(block);
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    setTextCursor(c);
    centerCursor();
    return true;
}

void SourceEditor::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::NoModifier) {
        setOverwriteMode(!overwriteMode());
        emit overwriteChanged(overwriteMode());
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

} // namespace pelda
