// The code pages that the core libraries use, chosen by four environment variables.
#include <cstdlib>

#include "codexa.h"
#include "directory.h"
#include "platform/console.h"

using namespace codexa;

namespace {

// Reads a variable as a code page number: decimal digits only, no sign or blanks, 1..65535.
// The value is rejected as soon as it passes 65535, so that a long run of digits cannot wrap
// around into a valid number. Returns 0 for anything else.
uint32_t numberFromEnvironment(const char* variable) {
    const char* text = std::getenv(variable);
    if (text == nullptr || *text == '\0') return 0;
    uint32_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return 0;
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        if (value > 65535) return 0;
    }
    return value;
}

// The kind of a number as the lookup by number with variant 0 finds it; -1 when unknown.
int kindOfNumber(uint32_t number) {
    const CodePageEntry* row = findByNumber(number, 0);
    return row == nullptr ? -1 : static_cast<int>(row->kind);
}

uint32_t choose(const char* variable, uint32_t preset, uint32_t fallback, bool (*accept)(int)) {
    uint32_t n = numberFromEnvironment(variable);
    if (n != 0 && accept(kindOfNumber(n))) return n;
    return preset != 0 ? preset : fallback;
}

bool isAscii(int kind) {
    return kind == CODEXA_KIND_ASCII;
}
bool isEbcdic(int kind) {
    return kind == CODEXA_KIND_EBCDIC;
}
// Any kind listed for reports: Unicode, ASCII or EBCDIC (the "other" pages 310 and 351 are not).
bool isReportKind(int kind) {
    return kind >= CODEXA_KIND_UNICODE && kind <= CODEXA_KIND_EBCDIC;
}

} // namespace

OPX_EXTERN_C OPX_API uint32_t uGetCodePageEnv(CodePageEnv* env) {
    if (env != nullptr) {
        env->ascii = choose("CODEPAGE_ASCII", env->ascii, 819, isAscii);
        env->ebcdic = choose("CODEPAGE_EBCDIC", env->ebcdic, 1047, isEbcdic);
        uint32_t terminalDefault = env->terminal != 0 ? env->terminal : platform::consoleCodePage();
        env->terminal = choose("CODEPAGE_TERMINAL", terminalDefault, terminalDefault, isAscii);
        env->report = choose("CODEPAGE_REPORT", env->report, env->ascii, isReportKind);
    }
    return 819;
}
