// The console's code page on Windows: the output code page of the console window, as the
// workstation code page number.
#include "console.h"

#include <io.h>
#include <windows.h>

namespace platform {

namespace {

// The workstation number of a Windows code page identifier: UTF-8 and the ISO 8859 parts have
// identifiers of their own; the others (437, 850, 1252, ...) are the same numbers.
unsigned workstationCodePage(UINT cp) {
    if (cp == CP_UTF8) return 1208;
    if (cp == 20127) return 819; // US-ASCII
    if (cp > 28590 && cp <= 28606) {
        // ISO 8859 part n is Windows code page 28590 + n; the CCSIDs of the parts that have one.
        static const unsigned kIsoCcsid[17] = {0,   819, 912, 913, 914, 915, 1089, 813, 916,
                                               920, 919, 874, 0,   921, 0,   923,  0};
        const unsigned part = cp - 28590;
        return part <= 16 ? kIsoCcsid[part] : 0;
    }
    if (cp == 20866) return 878; // KOI8-R
    return cp;
}

} // namespace

unsigned consoleCodePage() {
    // Without a console (output into a file or a pipe, a program started without a window) the
    // ANSI code page is what text is read in.
    UINT cp = ::GetConsoleOutputCP();
    if (cp == 0) cp = ::GetACP();
    const unsigned result = workstationCodePage(cp);
    return result != 0 ? result : 819;
}

bool isTerminal(FILE* stream) {
    return stream != nullptr && ::_isatty(::_fileno(stream)) != 0;
}

} // namespace platform
