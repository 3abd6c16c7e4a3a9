// The code page numbers of character-set names, the same on every platform.
#include "console.h"

#include <cctype>
#include <cstring>
#include <string>

namespace platform {

namespace {

// Upper-cases a name and drops '-' and '_', so that "iso-8859-1", "ISO_8859-1" and "ISO8859-1"
// compare equal.
std::string normalise(const char* name) {
    std::string out;
    for (const char* p = name; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '-' || c == '_') continue;
        out.push_back(static_cast<char>(std::toupper(c)));
    }
    return out;
}

// Returns the number after a prefix when the whole rest is decimal digits, else 0.
unsigned numberAfter(const std::string& s, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (s.size() <= n || s.compare(0, n, prefix) != 0 || s.size() - n > 5) return 0;
    unsigned v = 0;
    for (size_t i = n; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return 0;
        v = v * 10 + static_cast<unsigned>(s[i] - '0');
    }
    return v;
}

} // namespace

unsigned codePageOfCharsetName(const char* name) {
    if (name == nullptr || *name == '\0') return 0;
    const std::string s = normalise(name);
    if (s == "UTF8") return 1208;
    if (s == "ANSIX3.41968" || s == "ASCII" || s == "USASCII") return 819;
    if (s == "KOI8R") return 878;
    // ISO 8859 parts by their CCSIDs (part 14 and 16 have none and are left to the default).
    static const unsigned kIsoCcsid[17] = {0,   819, 912, 913, 914, 915, 1089, 813, 916,
                                           920, 919, 874, 0,   921, 0,   923,  0};
    if (unsigned part = numberAfter(s, "ISO8859"); part > 0 && part <= 16) return kIsoCcsid[part];
    if (unsigned cp = numberAfter(s, "CP"); cp != 0) return cp;
    if (unsigned cp = numberAfter(s, "IBM"); cp != 0) return cp;
    if (unsigned cp = numberAfter(s, "WINDOWS"); cp != 0) return cp;
    return 0;
}

} // namespace platform
