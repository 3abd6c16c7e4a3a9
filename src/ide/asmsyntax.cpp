// The statement classifier: one pass over a line, name, operation, operands, remarks, then the
// continuation and sequence columns.
#include "asmsyntax.h"

#include "mnemonics.h"

#include <optional>

namespace pelda {

namespace {

// The state between lines: bit 0 says that the line continues a statement, bits 1-2 say in
// which part the statement was when it reached column 71, bit 3 that the next statement is the
// prototype of a macro definition, bit 4 that a string reaching column 71 is a term (X'..').
constexpr int kContinued = 1;
constexpr int kAfterMacro = 8;
constexpr int kTermString = 16;
enum Field { InOperand = 0, InRemark = 1, InComment = 2, InString = 3 };

int fieldOf(int state) {
    return (state >> 1) & 3;
}

bool isSymbolChar(char16_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '@' ||
           c == '#' || c == '$' || c == '_';
}
bool isDigit(char16_t c) {
    return c >= '0' && c <= '9';
}
char16_t upper(char16_t c) {
    return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 'a' + 'A') : c;
}
bool isBlank(char16_t c) {
    return c == ' ' || c == '\t';
}

bool equalsUpper(QStringView s, const char* word) {
    qsizetype i = 0;
    for (; word[i]; ++i)
        if (i >= s.size() || upper(s[i].unicode()) != static_cast<char16_t>(word[i])) return false;
    return i == s.size();
}

// One line's classification.
class LineScanner {
  public:
    LineScanner(QStringView line, QList<SyntaxSpan>* spans)
        : s_(line), n_(static_cast<int>(line.size())), end_(std::min(n_, kLastStatementColumn)),
          out_(spans) {}

    int run(int state);

  private:
    char16_t at(int i) const { return s_[i].unicode(); }
    void mark(int from, int to, Syntax syntax) {
        if (out_ && to > from) out_->append({from, to - from, syntax});
    }
    int skipBlanks(int i) const {
        while (i < end_ && isBlank(at(i))) ++i;
        return i;
    }
    int tokenEnd(int i) const {
        while (i < end_ && !isBlank(at(i))) ++i;
        return i;
    }
    // Classifies the operand field from i; inString continues a string of kind stringKind.
    // Returns the field in which column 71 was reached (when the statement is continued).
    int operands(int i, bool inString, Syntax stringKind);
    // The rest of the statement from i as a remark.
    int remark(int i) {
        i = skipBlanks(i);
        mark(i, end_, Syntax::Remark);
        return InRemark;
    }
    // Scans a string body from i (after its opening quote) to its closing quote, emitting it as
    // kind and variable symbols inside it as such; returns the index after the closing quote,
    // or -1 when column 71 came first.
    int stringBody(int from, int i, Syntax kind);
    int variable(int i) const {
        int j = i + 1;
        while (j < end_ && isSymbolChar(at(j))) ++j;
        return j;
    }

    QStringView s_;
    int n_;
    int end_;
    QList<SyntaxSpan>* out_;
    bool constantOperands_ = false;      // DC, DS: a letter before a quote types a constant
    bool blanksInParentheses_ = false;   // conditional assembly: (&A EQ 1) is one operand
    Syntax openString_ = Syntax::String; // the kind of a string that reaches column 71
};

int LineScanner::stringBody(int from, int i, Syntax kind) {
    while (i < end_) {
        const char16_t c = at(i);
        if (c == '\'') {
            if (i + 1 < end_ && at(i + 1) == '\'') {
                i += 2;
                continue;
            }
            mark(from, i + 1, kind);
            return i + 1;
        }
        if (c == '&') {
            if (i + 1 < end_ && at(i + 1) == '&') {
                i += 2;
                continue;
            }
            int j = variable(i);
            if (j > i + 1) {
                mark(from, i, kind);
                mark(i, j, Syntax::Variable);
                from = i = j;
                continue;
            }
        }
        ++i;
    }
    mark(from, end_, kind);
    return -1;
}

int LineScanner::operands(int i, bool inString, Syntax stringKind) {
    const int start = i;
    if (inString) {
        openString_ = stringKind;
        i = stringBody(i, i, stringKind);
        if (i < 0) return InString;
    }
    int plain = i; // start of the current run of plain operand text
    int depth = 0; // parentheses open
    while (i < end_) {
        const char16_t c = at(i);
        if (c == '(') ++depth;
        if (c == ')' && depth > 0) --depth;
        if (isBlank(c) && depth > 0 && blanksInParentheses_) {
            ++i;
            continue;
        }
        if (isBlank(c)) {
            mark(plain, i, Syntax::Operand);
            // "OPERAND,  remark" on a continued line: the operands go on in the next line.
            const bool more = i > start && at(i - 1) == ',';
            remark(i);
            return more ? InOperand : InRemark;
        }
        if (c == '\'') {
            int w = i; // the letters and digits just before the quote
            while (w > plain && isSymbolChar(at(w - 1))) --w;
            const QStringView word = s_.mid(w, i - w);
            const bool literal = w > 0 && at(w - 1) == '=';
            const bool constantStart =
                literal || (constantOperands_ && (w == start || at(w - 1) == ','));
            if (word.size() == 1 && !constantStart &&
                QStringView(u"LTKNDIOS").contains(QChar(upper(word[0].unicode())))) {
                ++i; // an attribute reference: L'FIELD
                continue;
            }
            int t = 0; // the type letter after a duplication factor
            while (t < word.size() && isDigit(word[t].unicode())) ++t;
            const char16_t type = t < word.size() ? upper(word[t].unicode()) : u'C';
            const Syntax kind = type == 'C' || type == 'G' ? Syntax::String : Syntax::Term;
            mark(plain, w, Syntax::Operand);
            openString_ = kind;
            i = stringBody(w, i + 1, kind);
            if (i < 0) return InString;
            plain = i;
            continue;
        }
        if (c == '&') {
            if (i + 1 < end_ && at(i + 1) == '&') {
                i += 2;
                continue;
            }
            int j = variable(i);
            mark(plain, i, Syntax::Operand);
            mark(i, j, Syntax::Variable);
            plain = i = j;
            continue;
        }
        if (isDigit(c) && (i == start || !isSymbolChar(at(i - 1)))) {
            int j = i;
            while (j < end_ && isDigit(at(j))) ++j;
            if (j == end_ || !(isSymbolChar(at(j)) || at(j) == '\'')) {
                mark(plain, i, Syntax::Operand);
                mark(i, j, Syntax::Term);
                plain = i = j;
                continue;
            }
        }
        ++i;
    }
    mark(plain, end_, Syntax::Operand);
    return InOperand;
}

int LineScanner::run(int state) {
    int field = InOperand;
    bool afterMacro = (state & kAfterMacro) != 0;
    if (state & kContinued) {
        // Columns 1-15 of a continuation line stay blank; the statement goes on in column 16.
        const int from = skipBlanks(std::min(kOperandColumn - 1, end_));
        switch (fieldOf(state)) {
        case InComment:
            mark(skipBlanks(0), end_, Syntax::Comment);
            field = InComment;
            break;
        case InRemark:
            field = remark(from);
            break;
        case InString:
            field = operands(std::min(kOperandColumn - 1, end_), true,
                             (state & kTermString) ? Syntax::Term : Syntax::String);
            break;
        default:
            field = operands(from, false, Syntax::String);
            break;
        }
    } else if (skipBlanks(0) < end_) {
        if (end_ >= 8 && equalsUpper(s_.left(8), "*PROCESS") && (end_ == 8 || isBlank(at(8)))) {
            // A process statement: options for the assembler ahead of the source.
            mark(0, 8, Syntax::Assembler);
            field = operands(skipBlanks(8), false, Syntax::String);
        } else if (at(0) == '*') {
            mark(0, end_, Syntax::Comment);
            field = InComment;
        } else if (at(0) == '.' && end_ > 1 && at(1) == '*') {
            mark(0, end_, Syntax::Comment);
            field = InComment;
        } else {
            int i = 0;
            if (!isBlank(at(0))) {
                i = tokenEnd(0);
                mark(0, i, at(0) == '&' ? Syntax::Variable : Syntax::Name);
            }
            i = skipBlanks(i);
            const int opEnd = tokenEnd(i);
            const QStringView op = s_.mid(i, opEnd - i);
            const OpInfo info = lookupOperation(op);
            Syntax opSyntax = Syntax::MacroCall;
            if (op.startsWith(QLatin1Char('&')))
                opSyntax = Syntax::Variable;
            else if (afterMacro)
                opSyntax = Syntax::Prototype;
            else if (info.kind == OpKind::Machine)
                opSyntax = Syntax::Machine;
            else if (info.kind == OpKind::Assembler)
                opSyntax = Syntax::Assembler;
            mark(i, opEnd, opSyntax);
            constantOperands_ = equalsUpper(op, "DC") || equalsUpper(op, "DS");
            blanksInParentheses_ = info.conditional;
            afterMacro = opSyntax != Syntax::Prototype && equalsUpper(op, "MACRO");
            const int operandStart = skipBlanks(opEnd);
            if (opEnd == end_)
                field = InOperand;
            else if (info.noOperands && opSyntax != Syntax::Prototype)
                field = remark(operandStart);
            else
                field = operands(operandStart, false, Syntax::String);
        }
    }

    int next = afterMacro ? kAfterMacro : 0;
    const int cc = kContinuationColumn - 1;
    if (n_ > cc && !isBlank(at(cc))) {
        mark(cc, cc + 1, Syntax::Continuation);
        next |= kContinued | (field << 1);
        if (field == InString && openString_ == Syntax::Term) next |= kTermString;
    }
    mark(kSequenceColumn - 1, n_, Syntax::Sequence);
    return next;
}

// The state after line when nothing is continued into it or out of it: only whether the next
// statement is a macro prototype. Walking up to a line far down a long source takes this path
// for nearly every line.
std::optional<int> quickState(QStringView line, int state) {
    if (state & kContinued) return std::nullopt;
    const qsizetype cc = kContinuationColumn - 1;
    if (line.size() > cc && !isBlank(line[cc].unicode())) return std::nullopt;
    const qsizetype end = std::min<qsizetype>(line.size(), kLastStatementColumn);
    qsizetype i = 0;
    while (i < end && isBlank(line[i].unicode())) ++i;
    if (i == end || line[0] == QLatin1Char('*') ||
        (end > 1 && line[0] == QLatin1Char('.') && line[1] == QLatin1Char('*')))
        return state & kAfterMacro; // no statement: the flag waits for the next one
    i = 0;
    while (i < end && !isBlank(line[i].unicode())) ++i; // the name field
    while (i < end && isBlank(line[i].unicode())) ++i;
    qsizetype j = i;
    while (j < end && !isBlank(line[j].unicode())) ++j;
    return !(state & kAfterMacro) && equalsUpper(line.mid(i, j - i), "MACRO") ? kAfterMacro : 0;
}

} // namespace

int classifyLine(QStringView line, int state, QList<SyntaxSpan>* spans) {
    if (!spans) {
        if (auto quick = quickState(line, state)) return *quick;
    } else {
        spans->clear();
    }
    return LineScanner(line, spans).run(state);
}

} // namespace pelda
