// Fuzz target for the assembler editor's highlighter classification: the input is cut into
// lines (Latin-1) and classified one after the other with the state carried over, as the
// editor does when a file is opened. Every line's spans must lie inside the line, in order and
// without overlap, and the state must stay one that the classifier gives back for a line.
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

#include "asmsyntax.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    int state = pelda::kStartState;
    QList<pelda::SyntaxSpan> spans;
    for (QStringView line : QStringView(text).split(u'\n')) {
        spans.clear();
        const int next = pelda::classifyLine(line, state, &spans);
        int end = 0;
        for (const pelda::SyntaxSpan& s : spans) {
            if (s.start < end || s.length <= 0 || s.start + s.length > line.size() ||
                static_cast<int>(s.syntax) >= pelda::kSyntaxCount)
                std::abort();
            end = s.start + s.length;
        }
        // The state alone (without spans) must come out the same.
        if (pelda::classifyLine(line, state, nullptr) != next) std::abort();
        state = next;
    }
    return 0;
}
