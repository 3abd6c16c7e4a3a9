// Member patterns, the member files they match, finding a member's file, the mainframe order
// of member names, and the default origin of a transmit file.
//
// With trace level 3 a listing shows every name the directory gave:
//
//   FindFirstFile(src/*.asm): "HELLO.asm"
//   FindNextFile(src/*.asm): no more files
//   paszIoGetMembers: 1 members
//       HELLO
#include "members.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "platform/paths.h"
#include "runtime.h"

namespace bren {

namespace {

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string folded(std::string s) {
    for (char& c : s) c = lowerAscii(c);
    return s;
}

std::string prefixOf(const MemberPattern& p) {
    return std::string(p.text, p.prefixLength);
}
std::string suffixOf(const MemberPattern& p) {
    return p.suffix != nullptr ? std::string(p.suffix, p.suffixLength) : std::string();
}

// The folder a pattern lists: its prefix, or the current folder.
std::string folderOf(const MemberPattern& p) {
    const std::string prefix = prefixOf(p);
    return prefix.empty() ? std::string(".") : prefix;
}

// Every name in a folder, in byte order; false when the folder cannot be read (errno set).
bool folderNames(const std::string& folder, std::vector<std::string>& names) {
    return platform::folderNames(folder, names);
}

// The member name of a file name under the pattern's case mode, or "" when the file is not a
// member file: up to 8 characters before the first period, letters (in the mode's case),
// digits and the national characters, not starting with a digit or the X'C0' character, then
// the suffix (in any case).
std::string candidateName(const char* name, int mode, const std::string& suffix) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    const unsigned char national[3] = {e2a[0x5B], e2a[0x7B], e2a[0x7C]};
    const unsigned char brace = e2a[0xC0];
    std::string member;
    size_t i = 0;
    for (; name[i] != '\0' && name[i] != '.'; ++i) {
        if (i == 8) return "";
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= 'A' && c <= 'Z') {
            if (mode == PATTERN_LOWER) return "";
        } else if (c >= 'a' && c <= 'z') {
            if (mode == PATTERN_UPPER) return "";
        } else if ((c >= '0' && c <= '9') || c == brace) {
            if (i == 0) return "";
        } else if (c != national[0] && c != national[1] && c != national[2]) {
            return "";
        }
        member += upperAscii(static_cast<char>(c));
    }
    if (member.empty()) return "";
    if (folded(name + i) != folded(suffix)) return "";
    return member;
}

} // namespace

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

void checkPattern(MemberPattern& p) {
    p.suffix = nullptr;
    p.suffixLength = 0;
    p.caseMode = PATTERN_FILE;
    if (p.text == nullptr) {
        p.prefixLength = 0;
        return;
    }
    const size_t length = std::strlen(p.text);
    const char* separator = platform::lastSeparator(p.text);
    const char* component = separator != nullptr ? separator + 1 : p.text;
    int mode = PATTERN_FILE;
    const char* rest = component;
    if (std::strncmp(component, "&M", 2) == 0)
        mode = PATTERN_UPPER, rest = component + 2;
    else if (std::strncmp(component, "&m", 2) == 0)
        mode = PATTERN_LOWER, rest = component + 2;
    else if (component[0] == '*')
        mode = PATTERN_ANY, rest = component + 1;
    if (mode != PATTERN_FILE && (rest[0] == '\0' || rest[0] == '.')) {
        p.caseMode = mode;
        p.prefixLength = static_cast<uint32_t>(component - p.text);
        p.suffix = rest;
        p.suffixLength = static_cast<uint32_t>(std::strlen(rest));
        return;
    }
    p.prefixLength = static_cast<uint32_t>(length);
}

std::string listMembers(MemberPattern& p, std::vector<std::string>& names,
                        std::vector<std::string>* files) {
    checkPattern(p);
    names.clear();
    if (files != nullptr) files->clear();
    const int level = rt::traceLevel();
    const std::string prefix = prefixOf(p), suffix = suffixOf(p);
    const std::string search = prefix + "*" + suffix;
    std::vector<std::string> found;
    if (p.caseMode != PATTERN_FILE) {
        if (!folderNames(folderOf(p), found)) {
            if (level > 0)
                rt::printf(found.empty() ? "FindFirstFile(%s): %lu\n" : "FindNextFile(%s): %lu\n",
                           search.c_str(), static_cast<unsigned long>(errno));
            found.clear();
        }
    }
    std::map<std::string, std::string> taken; // member -> file
    for (size_t i = 0; i < found.size(); ++i) {
        const char* name = found[i].c_str();
        if (level > 2)
            rt::printf(i == 0 ? "FindFirstFile(%s): \"%s\"\n" : "FindNextFile(%s): \"%s\"\n",
                       search.c_str(), name);
        const std::string member = candidateName(name, p.caseMode, suffix);
        if (member.empty()) continue;
        const std::string file = prefix + found[i];
        // Only regular files are members: a folder named like one is not.
        if (!isRegularFile(file)) continue;
        auto [at, inserted] = taken.emplace(member, file);
        if (!inserted)
            return rt::message("Duplicate member %s: files \"%s\" and \"%s\"", member.c_str(),
                               at->second.c_str(), file.c_str());
        names.push_back(member);
        if (files != nullptr) files->push_back(file);
    }
    if (level > 2 && p.caseMode != PATTERN_FILE)
        rt::printf("FindNextFile(%s): no more files\n", search.c_str());
    if (names.empty())
        return rt::message("No matching files found for \"%s\"", p.text != nullptr ? p.text : "");
    if (level > 2) {
        rt::printf("paszIoGetMembers: %u members\n", static_cast<unsigned>(names.size()));
        for (const std::string& n : names) rt::printf("    %s\n", n.c_str());
    }
    return "";
}

std::string memberFileName(const MemberPattern& p, const char* member) {
    std::string name(member);
    if (p.caseMode == PATTERN_LOWER)
        for (char& c : name) c = lowerAscii(c);
    return prefixOf(p) + name + suffixOf(p);
}

MemberFiles::Result MemberFiles::find(const char* member, std::string* path, std::string* other) {
    const std::string exact = memberFileName(pattern_, member);
    *path = exact;
    if (isRegularFile(exact)) return kFound;
    if (!listed_) {
        listed_ = true;
        std::vector<std::string> names;
        folderNames(folderOf(pattern_), names);
        for (std::string& n : names) byFolded_.emplace(folded(n), std::move(n));
    }
    const std::string key = folded(exact.substr(pattern_.prefixLength));
    const std::string prefix = prefixOf(pattern_);
    std::vector<std::string> candidates;
    auto [from, to] = byFolded_.equal_range(key);
    for (auto it = from; it != to; ++it)
        if (isRegularFile(prefix + it->second)) candidates.push_back(prefix + it->second);
    if (candidates.empty()) return kMissing;
    *path = candidates[0];
    if (candidates.size() == 1) return kFound;
    if (other != nullptr) *other = candidates[1];
    return kAmbiguous;
}

int compareMemberNames(const char* a, const char* b) {
    const uint8_t* a2e = rt::asciiToEbcdic();
    for (size_t i = 0;; ++i) {
        const unsigned char ca = static_cast<unsigned char>(a[i]),
                            cb = static_cast<unsigned char>(b[i]);
        if (ca == 0 || cb == 0) return ca == cb ? 0 : (ca == 0 ? -1 : 1);
        const uint8_t ea = a2e[ca], eb = a2e[cb];
        if (ea != eb) return ea < eb ? -1 : 1;
    }
}

void normalizeOriginName(const char* raw, size_t maxLength, char out[9]) {
    size_t n = 0;
    if (raw != nullptr) {
        for (size_t i = 0;
             i < maxLength && i < 8 && raw[i] != '\0' && raw[i] != '.' && raw[i] != ' '; ++i)
            out[n++] = upperAscii(raw[i]);
    }
    if (n == 0) {
        std::memcpy(out, "QUORIN", 7);
        std::memset(out + 7, 0, 2);
        return;
    }
    std::memset(out + n, 0, 9 - n);
}

} // namespace bren
