// The code page variables of the environment (CODEPAGE_ASCII, CODEPAGE_EBCDIC,
// CODEPAGE_TERMINAL, CODEPAGE_REPORT): the libraries quietly fall back to their defaults when a
// value names no code page of the right kind; the programs say so.
#pragma once

namespace cli {

// Prints one line on standard error for each variable whose value was not taken, naming the
// code page used instead. Returns the number of lines printed.
int warnIgnoredCodePages(const char* program);

} // namespace cli
