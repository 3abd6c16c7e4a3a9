// The assembler tab stops: Tab moves the caret to the next stop by inserting blanks (the file
// never gets a tab character from the editor), Shift+Tab back to the previous one. The default
// stops are the operation (10), operand (16) and remark (36) columns and the continuation
// column (72); the settings page takes them as a list such as "10, 16, 36, 72".
#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace pelda {

inline constexpr int kMaxTabStopColumn = 255;

QList<int> defaultTabStops();

// The first stop after column, or column itself when there is none.
int nextTabStop(const QList<int>& stops, int column);
// The last stop before column, or 1 when there is none.
int previousTabStop(const QList<int>& stops, int column);

// Columns from 2 to kMaxTabStopColumn in ascending order, separated by commas or blanks;
// nothing when text is not such a list.
std::optional<QList<int>> parseTabStops(const QString& text);
QString formatTabStops(const QList<int>& stops);

} // namespace pelda
