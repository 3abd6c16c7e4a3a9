#include "console.h"

#include <langinfo.h>
#include <locale.h>
#include <string>
#include <unistd.h>

namespace platform {

unsigned consoleCodePage() {
    // A locale object of our own, built from the environment, leaves the process's global
    // locale (which a library must not touch) as it is.
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return 819;
    unsigned cp = codePageOfCharsetName(nl_langinfo_l(CODESET, loc));
    freelocale(loc);
    return cp != 0 ? cp : 819;
}

bool isTerminal(FILE* stream) {
    return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

} // namespace platform
