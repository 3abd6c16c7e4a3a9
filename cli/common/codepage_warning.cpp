#include "codepage_warning.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "codexa.h"

namespace cli {

int warnIgnoredCodePages(const char* program) {
    CodePageEnv env{};
    uGetCodePageEnv(&env);
    const struct {
        const char* variable;
        uint32_t taken;
        const char* kind;
    } pages[] = {{"CODEPAGE_ASCII", env.ascii, "an ASCII"},
                 {"CODEPAGE_EBCDIC", env.ebcdic, "an EBCDIC"},
                 {"CODEPAGE_TERMINAL", env.terminal, "an ASCII"},
                 {"CODEPAGE_REPORT", env.report, "an ASCII, EBCDIC or Unicode"}};
    int printed = 0;
    for (const auto& p : pages) {
        const char* value = std::getenv(p.variable);
        if (value == nullptr || *value == '\0') continue;
        // A value is taken when it is the number of the page in use (leading zeros allowed).
        std::string digits(value);
        while (digits.size() > 1 && digits[0] == '0') digits.erase(0, 1);
        if (digits == std::to_string(p.taken)) continue;
        std::fprintf(stderr,
                     "%s: warning: %s=%s is not %s code page number; using %u instead "
                     "(cpconv --list shows the code pages)\n",
                     program, p.variable, value, p.kind, static_cast<unsigned>(p.taken));
        ++printed;
    }
    return printed;
}

} // namespace cli
