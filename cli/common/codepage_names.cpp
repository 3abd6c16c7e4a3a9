#include "codepage_names.h"

#include <cctype>

namespace cli {

bool parseNumber(const std::string& s, uint32_t& out) {
    if (s.empty() || s.size() > 5) return false;
    uint32_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    if (v > 65535) return false;
    out = v;
    return true;
}

CharsetPtr loadNamedCharset(const std::string& text) {
    std::string s = text;
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const struct {
        const char* name;
        uint32_t cp;
    } kNames[] = {
        {"utf-8", 1208},    {"utf8", 1208},     {"utf-16", 1202}, {"utf16", 1202},
        {"utf-16le", 1202}, {"utf-16be", 1201}, {"utf-32", 1234}, {"utf32", 1234},
        {"utf-32le", 1234}, {"utf-32be", 1233}, {"latin1", 819},  {"iso-8859-1", 819},
    };
    for (const auto& n : kNames)
        if (s == n.name) return CharsetPtr(pCharsetLoad(n.cp, 0));
    uint32_t a = 0, b = 0;
    if (s.rfind("ccsid:", 0) == 0) {
        if (parseNumber(s.substr(6), a)) return CharsetPtr(pCharsetLoadCCSID(a));
        return nullptr;
    }
    if (auto slash = s.find('/'); slash != std::string::npos) {
        if (parseNumber(s.substr(0, slash), a) && parseNumber(s.substr(slash + 1), b))
            return CharsetPtr(pCharsetLoad(a, b));
        return nullptr;
    }
    if (parseNumber(s, a)) return CharsetPtr(pCharsetLoad(a, 0));
    return nullptr;
}

} // namespace cli
