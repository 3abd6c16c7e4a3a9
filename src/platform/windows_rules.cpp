#include "platform/windows_rules.h"

#include <cstring>

namespace platform::windows {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

const char* lastSeparator(const char* path) {
    if (path == nullptr) return nullptr;
    const char* a = std::strrchr(path, '\\');
    const char* b = std::strrchr(path, '/');
    return a > b ? a : b;
}

bool isAbsolutePath(const char* path) {
    if (path == nullptr || path[0] == '\0') return false;
    if (isSeparator(path[0]) && isSeparator(path[1])) return true;
    const char c = path[0];
    return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':' &&
           isSeparator(path[2]);
}

std::string quotedArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

} // namespace platform::windows
