#include "tabstops.h"

#include <QRegularExpression>

#include "asmsyntax.h"

namespace pelda {

QList<int> defaultTabStops() {
    return {kOperationColumn, kOperandColumn, 36, kContinuationColumn};
}

int nextTabStop(const QList<int>& stops, int column) {
    for (int s : stops)
        if (s > column) return s;
    return column;
}

int previousTabStop(const QList<int>& stops, int column) {
    int prev = 1;
    for (int s : stops) {
        if (s >= column) break;
        prev = s;
    }
    return prev;
}

std::optional<QList<int>> parseTabStops(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    QList<int> stops;
    for (const QString& part : text.split(separators, Qt::SkipEmptyParts)) {
        bool ok = false;
        const int column = part.toInt(&ok);
        if (!ok || column < 2 || column > kMaxTabStopColumn) return std::nullopt;
        if (!stops.isEmpty() && column <= stops.back()) return std::nullopt;
        stops << column;
    }
    if (stops.isEmpty()) return std::nullopt;
    return stops;
}

QString formatTabStops(const QList<int>& stops) {
    QStringList parts;
    for (int s : stops) parts << QString::number(s);
    return parts.join(QStringLiteral(", "));
}

} // namespace pelda
