#include "highlighter.h"

#include <QTextDocument>
#include <QTextLayout>

namespace pelda {

namespace {

// A block's user state: -1 when unknown, else the state after the block (bits 0-7), the state
// before it that this was computed from (bits 8-15) and whether the block's formats were set
// from that state (bit 16).
constexpr int kFormatted = 1 << 16;

int pack(int before, int after, bool formatted) {
    return (before << 8) | after | (formatted ? kFormatted : 0);
}
int afterOf(int userState) {
    return userState & 0xFF;
}
int beforeOf(int userState) {
    return (userState >> 8) & 0xFF;
}

QTextCharFormat colour(const QColor& c, bool italic = false) {
    QTextCharFormat f;
    f.setForeground(c);
    if (italic) f.setFontItalic(true);
    return f;
}

} // namespace

AsmHighlighter::AsmHighlighter(QTextDocument* document) : QObject(document), document_(document) {
    setDarkBackground(false);
    connect(document_, &QTextDocument::contentsChange, this, &AsmHighlighter::onContentsChange);
}

void AsmHighlighter::setDarkBackground(bool dark) {
    auto set = [this](Syntax s, const QTextCharFormat& f) { formats_[static_cast<size_t>(s)] = f; };
    set(Syntax::Comment, colour(dark ? QColor(0x7c, 0xc0, 0x7c) : QColor(0x2e, 0x7d, 0x32), true));
    set(Syntax::Name, colour(dark ? QColor(0xc5, 0x9b, 0xff) : QColor(0x6a, 0x1b, 0x9a)));
    set(Syntax::Machine, colour(dark ? QColor(0x82, 0xaa, 0xff) : QColor(0x0d, 0x3b, 0xb8)));
    set(Syntax::Assembler, colour(dark ? QColor(0xe0, 0xa0, 0x70) : QColor(0x9c, 0x45, 0x10)));
    set(Syntax::MacroCall, colour(dark ? QColor(0x5f, 0xd7, 0xd7) : QColor(0x00, 0x79, 0x80)));
    QTextCharFormat prototype = colour(dark ? QColor(0x5f, 0xd7, 0xd7) : QColor(0x00, 0x79, 0x80));
    prototype.setFontUnderline(true);
    set(Syntax::Prototype, prototype);
    set(Syntax::Operand, QTextCharFormat());
    set(Syntax::String, colour(dark ? QColor(0xff, 0x8a, 0x80) : QColor(0xb0, 0x1c, 0x1c)));
    set(Syntax::Term, colour(dark ? QColor(0xff, 0xc0, 0x66) : QColor(0xb3, 0x5c, 0x00)));
    set(Syntax::Variable, colour(dark ? QColor(0xff, 0x79, 0xc6) : QColor(0xc2, 0x18, 0x5b)));
    set(Syntax::Remark, colour(dark ? QColor(0x9a, 0x9a, 0x9a) : QColor(0x6b, 0x6b, 0x6b), true));
    QTextCharFormat continuation =
        colour(dark ? QColor(0x20, 0x20, 0x20) : QColor(0x20, 0x20, 0x20));
    continuation.setBackground(dark ? QColor(0xd0, 0xa0, 0x30) : QColor(0xff, 0xd5, 0x4f));
    set(Syntax::Continuation, continuation);
    set(Syntax::Sequence, colour(dark ? QColor(0x70, 0x70, 0x70) : QColor(0xa0, 0xa0, 0xa0)));
    // Formats set from the old colours are given again as the lines come into view.
    if (enabled_) clearFormats();
}

void AsmHighlighter::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    if (!on) clearFormats();
}

void AsmHighlighter::clearFormats() {
    int from = -1, to = -1;
    for (QTextBlock b = document_->firstBlock(); b.isValid(); b = b.next()) {
        const int us = b.userState();
        if (us < 0 || !(us & kFormatted)) continue;
        b.setUserState(us & ~kFormatted);
        b.layout()->clearFormats();
        if (from < 0) from = b.position();
        to = b.position() + b.length();
    }
    if (from >= 0) document_->markContentsDirty(from, to - from);
}

void AsmHighlighter::onContentsChange(int position, int removed, int added) {
    Q_UNUSED(removed);
    QTextBlock b = document_->findBlock(position);
    const QTextBlock last = document_->findBlock(position + added);
    validThrough_ = std::min(validThrough_, b.blockNumber() - 1);
    for (; b.isValid(); b = b.next()) {
        b.setUserState(-1);
        if (b == last) break;
    }
}

int AsmHighlighter::stateBefore(const QTextBlock& block) {
    const int target = block.blockNumber();
    if (target <= 0) return kStartState;
    if (validThrough_ >= target - 1) return afterOf(block.previous().userState());
    int number = validThrough_ + 1;
    QTextBlock b = number == 0 ? document_->firstBlock() : document_->findBlockByNumber(number);
    int state = number == 0 ? kStartState : afterOf(b.previous().userState());
    for (; b.isValid() && number < target; b = b.next(), ++number) {
        const int us = b.userState();
        int after;
        if (us >= 0 && beforeOf(us) == state) {
            after = afterOf(us);
        } else {
            after = classifyLine(b.text(), state, nullptr);
            b.setUserState(pack(state, after, false));
        }
        validThrough_ = number;
        state = after;
    }
    return state;
}

void AsmHighlighter::formatBlocks(const QTextBlock& first, const QTextBlock& last) {
    if (!enabled_ || !first.isValid()) return;
    int state = stateBefore(first);
    int number = first.blockNumber();
    int from = -1, to = -1;
    QList<SyntaxSpan> spans;
    QList<QTextLayout::FormatRange> ranges;
    for (QTextBlock b = first; b.isValid(); b = b.next(), ++number) {
        const int us = b.userState();
        int after;
        if (us >= 0 && beforeOf(us) == state && (us & kFormatted)) {
            after = afterOf(us);
        } else {
            after = classifyLine(b.text(), state, &spans);
            ranges.clear();
            for (const SyntaxSpan& s : spans)
                if (s.syntax != Syntax::Operand)
                    ranges.append({s.start, s.length, format(s.syntax)});
            b.layout()->setFormats(ranges);
            b.setUserState(pack(state, after, true));
            if (from < 0) from = b.position();
            to = b.position() + b.length();
        }
        if (validThrough_ == number - 1) validThrough_ = number;
        state = after;
        if (b == last) break;
    }
    if (from >= 0) document_->markContentsDirty(from, to - from);
}

} // namespace pelda
