// The parts of an assembler statement, for the highlighter. A statement lives in columns:
//
//   NAME     OPER  OPERANDS                   REMARKS                     C SEQUENCE
//   1        10    16                                                     72 73     80
//
// The name field starts in column 1, the fields are separated by blanks, column 72 marks a
// statement continued on the next line (which goes on in column 16), and columns 73 to 80 hold
// the sequence field. "*" or ".*" in column 1 starts a comment statement. In the operand field
// a quote starts a string or a self-defining term or constant, typed by the letters before it
// (C'TEXT', CL8'TEXT', X'FF', B'1010', F'1', 4F'0', =H'2'); a single attribute letter before a
// quote outside a constant is an attribute reference (L'FIELD, T'&PARM). A blank outside quotes
// ends the operand field, and what follows it on the line is a remark.
//
// Lines are classified one at a time; what carries over from one line to the next (a statement
// continued in the middle of its operands, of a string or of its remarks, and whether the next
// statement is the prototype of a macro definition) is a small state number.
#pragma once

#include <QList>
#include <QStringView>

namespace pelda {

// Columns of the statement format, counted from 1.
inline constexpr int kOperationColumn = 10;
inline constexpr int kOperandColumn = 16;
inline constexpr int kLastStatementColumn = 71;
inline constexpr int kContinuationColumn = 72;
inline constexpr int kSequenceColumn = 73;
inline constexpr int kSequenceEndColumn = 80;

enum class Syntax : unsigned char {
    Comment,      // a comment statement
    Name,         // the name field: an ordinary or a sequence symbol
    Machine,      // a machine instruction
    Assembler,    // an assembler instruction (conditional assembly and MACRO/MEND among them)
    MacroCall,    // any other operation: a macro instruction
    Prototype,    // the macro name on the prototype statement after MACRO
    Operand,      // symbols, registers and expressions of the operand field
    String,       // a character string or constant: 'TEXT', C'TEXT', CL8'TEXT'
    Term,         // a number, self-defining term or constant: 12, X'FF', B'101', F'1', 4F'0'
    Variable,     // a variable symbol: &NAME, &SYSNDX
    Remark,       // a remark after the operand field
    Continuation, // the non-blank continuation column 72
    Sequence,     // the sequence field, columns 73 and on
};
inline constexpr int kSyntaxCount = static_cast<int>(Syntax::Sequence) + 1;

struct SyntaxSpan {
    int start; // index in the line, from 0 (column start + 1)
    int length;
    Syntax syntax;
    bool operator==(const SyntaxSpan&) const = default;
};

// The state before the first line of a source.
inline constexpr int kStartState = 0;

// Classifies one line, given the state that the line before left (kStartState for the first),
// into spans (in order, not overlapping; blanks belong to none), and returns the state for the
// next line. spans may be null when only the state is wanted.
int classifyLine(QStringView line, int state, QList<SyntaxSpan>* spans);

} // namespace pelda
