// The terminal's code page, as the workstation code page number of the locale's character set.
#pragma once

#include <cstdio>

namespace platform {

// Maps the character set of the user's locale (LC_ALL, LC_CTYPE, LANG) to a code page number:
// ISO-8859-1 gives 819, CP1252 gives 1252, UTF-8 gives 1208, the other ISO 8859 parts their
// CCSIDs, and so on. Anything unknown, and the plain "C" locale, gives 819. The process-wide
// locale is not changed.
unsigned consoleCodePage();

// The same mapping for a character-set name as nl_langinfo(CODESET) spells it; 0 if unknown.
unsigned codePageOfCharsetName(const char* name);

// True when the stream is a terminal (a console window on Windows).
bool isTerminal(FILE* stream);

} // namespace platform
