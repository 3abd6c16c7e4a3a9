// The source reference in one line of the assembler's error or message file.
//
// The line number is the text between the first "(" and the ")" that follows it:
//
//   ZORA057E (12) Undefined operation code - LRX          line 12 of the assembled source
//   ZORA057E (14,SAVEAREA.mac(3)) Undefined operation ... line 14 of the source, which
//                                                         comes from line 3 of SAVEAREA.mac
//   ZORA099I (SAVEAREA.mac(3)) ...                        line 3 of SAVEAREA.mac only
//
// Anything else between the parentheses (a word, a signed number, nothing) names no line.
#pragma once

#include <QString>

namespace pelda {

struct ErrorRef {
    int line = 0;     // line of the assembled source; 0 when the text names none
    QString file;     // the nested file reference, empty when there is none
    int fileLine = 0; // its line
    bool isValid() const { return line > 0 || (!file.isEmpty() && fileLine > 0); }
    bool isNested() const { return !file.isEmpty() && fileLine > 0; }
};

ErrorRef parseErrorRef(const QString& text);

// The severity letter of a message: the last character of its identifier, the first word of
// the line, when that is letters and digits ending in a digit and a letter ("ZORA057E" gives
// 'E', "ASMA303W" gives 'W'); a null character when the line has no such identifier.
QChar severityLetter(const QString& text);

// Reads a text file as lines (a CR before LF dropped, no empty line after the last line end).
// Text that is not valid UTF-8 is read as Latin-1, so no byte is lost. exists tells whether the
// file was there at all.
QStringList readTextLines(const QString& path, bool* exists = nullptr);

} // namespace pelda
