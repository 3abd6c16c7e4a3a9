#include "errorref.h"

#include <QFile>
#include <QStringConverter>
#include <QStringDecoder>

namespace pelda {

namespace {

// A positive decimal line number, or 0 for anything else.
int lineNumber(QStringView s) {
    s = s.trimmed();
    if (s.isEmpty()) return 0;
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return 0;
    bool ok = false;
    int v = s.toInt(&ok);
    return ok ? v : 0;
}

} // namespace

ErrorRef parseErrorRef(const QString& text) {
    ErrorRef ref;
    qsizetype open = text.indexOf(QLatin1Char('('));
    if (open < 0) return ref;
    qsizetype close = text.indexOf(QLatin1Char(')'), open + 1);
    if (close < 0) return ref;
    QStringView inside = QStringView(text).mid(open + 1, close - open - 1);

    qsizetype nested = inside.indexOf(QLatin1Char('('));
    if (nested < 0) {
        ref.line = lineNumber(inside);
        return ref;
    }
    // "line,file(fileLine" or "file(fileLine": the source line is optional.
    ref.fileLine = lineNumber(inside.mid(nested + 1));
    QStringView head = inside.left(nested).trimmed();
    qsizetype sep = 0;
    while (sep < head.size() && head[sep].isDigit()) ++sep;
    if (sep > 0 && sep < head.size() &&
        (head[sep] == QLatin1Char(',') || head[sep] == QLatin1Char(':') || head[sep].isSpace())) {
        ref.line = lineNumber(head.left(sep));
        head = head.mid(sep + 1).trimmed();
    }
    ref.file = head.toString();
    if (ref.fileLine <= 0) ref.file.clear();
    return ref;
}

QChar severityLetter(const QString& text) {
    QStringView s = QStringView(text).trimmed();
    qsizetype end = 0;
    while (end < s.size() && !s[end].isSpace()) ++end;
    const QStringView id = s.left(end);
    if (id.size() < 3) return QChar();
    for (QChar c : id)
        if (c.unicode() > 0x7F || !c.isLetterOrNumber()) return QChar();
    const QChar last = id.back();
    if (!last.isLetter() || !id[id.size() - 2].isDigit()) return QChar();
    return last.toUpper();
}

QStringList readTextLines(const QString& path, bool* exists) {
    QFile f(path);
    if (exists) *exists = f.exists();
    QStringList lines;
    if (!f.open(QIODevice::ReadOnly)) return lines;
    const QByteArray data = f.readAll();
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(data);
    if (utf8.hasError()) text = QString::fromLatin1(data);
    lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    return lines;
}

} // namespace pelda
