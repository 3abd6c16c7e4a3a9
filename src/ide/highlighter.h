// Syntax colours for an assembler source, given to the lines as they come into view.
//
// A highlighter that colours the whole document whenever it is set or loaded would make a
// 60,000-line source take a noticeable moment longer to open. This one works on demand: the
// editor asks for the blocks that it is about to paint, and only those get their formats. What
// a line's classification needs from the lines before it (the state that classifyLine returns)
// is kept in each block's user state together with the state it was computed from, so that the
// walk from the last known line to the one in view is a cheap comparison for every line that
// has not changed, and a line is classified again only when its text or the state before it
// changed.
#pragma once

#include <QObject>
#include <QTextBlock>
#include <QTextCharFormat>
#include <array>

#include "asmsyntax.h"

class QTextDocument;

namespace pelda {

class AsmHighlighter : public QObject {
    Q_OBJECT
  public:
    explicit AsmHighlighter(QTextDocument* document);

    void setEnabled(bool on);
    bool isEnabled() const { return enabled_; }
    // Colours for a dark background instead of a light one.
    void setDarkBackground(bool dark);

    // Gives the blocks from first to last (both included) their formats where they lack them.
    void formatBlocks(const QTextBlock& first, const QTextBlock& last);
    // The state that the lines before block leave (see classifyLine).
    int stateBefore(const QTextBlock& block);
    // The format of each kind of text.
    const QTextCharFormat& format(Syntax syntax) const {
        return formats_[static_cast<size_t>(syntax)];
    }

  private:
    void onContentsChange(int position, int removed, int added);
    void clearFormats();

    QTextDocument* document_;
    bool enabled_ = true;
    // Blocks 0 to validThrough_ hold states computed from their present text and from the
    // state before them; -1 when none does.
    int validThrough_ = -1;
    std::array<QTextCharFormat, kSyntaxCount> formats_;
};

} // namespace pelda
