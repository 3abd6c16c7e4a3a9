// Windows paths and command lines. The quoting is checked against a parser written here from
// the C run-time's documented rules for splitting a command line into arguments, so that what
// the relink passes to vrl.exe arrives unchanged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows_rules.h"

namespace win = platform::windows;

namespace {

// Splits a command line as the Microsoft C run-time does for main's argv: blanks and tabs
// outside quotes end an argument; a quote opens or closes a quoted part; 2n backslashes before
// a quote give n backslashes and the quote keeps its meaning, 2n+1 give n backslashes and a
// literal quote; other backslashes are literal.
std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false, quoted = false;
    for (size_t i = 0; i < line.size();) {
        const char c = line[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument) args.push_back(current);
            current.clear();
            inArgument = false;
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            size_t n = 0;
            while (i < line.size() && line[i] == '\\') ++n, ++i;
            if (i < line.size() && line[i] == '"') {
                current.append(n / 2, '\\');
                if (n % 2 == 1) {
                    current += '"';
                    ++i;
                }
            } else {
                current.append(n, '\\');
            }
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (inArgument) args.push_back(current);
    return args;
}

std::string joined(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) {
        if (!line.empty()) line += ' ';
        line += win::quotedArgument(a);
    }
    return line;
}

} // namespace

TEST(WindowsRules, AbsolutePaths) {
    struct Case {
        const char* path;
        bool absolute;
    };
    const Case cases[] = {
        {"C:\\data\\in.xmi", true},
        {"c:/data/in.xmi", true},
        {"Z:\\", true},
        {"\\\\server\\share\\f", true},
        {"//server/share/f", true},
        {"\\/mixed", true},
        {"C:in.xmi", false},
        {"C:", false},
        {"\\data\\in.xmi", false},
        {"/data/in.xmi", false},
        {"data\\in.xmi", false},
        {"1:\\x", false},
        {":\\x", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(win::isAbsolutePath(c.path), c.absolute) << c.path;
    EXPECT_FALSE(win::isAbsolutePath(nullptr));
}

TEST(WindowsRules, LastSeparatorOfEitherKind) {
    const std::string mixed = "C:\\a/b\\c";
    EXPECT_EQ(win::lastSeparator(mixed.c_str()), mixed.c_str() + 6);
    const std::string forward = "C:\\a\\b/c";
    EXPECT_EQ(win::lastSeparator(forward.c_str()), forward.c_str() + 6);
    EXPECT_EQ(win::lastSeparator("name.xmi"), nullptr);
    EXPECT_EQ(win::lastSeparator(nullptr), nullptr);
    EXPECT_TRUE(win::isSeparator('\\') && win::isSeparator('/'));
    EXPECT_FALSE(win::isSeparator(':'));
}

TEST(WindowsRules, QuotedArguments) {
    struct Case {
        std::string arg, quoted;
    };
    const Case cases[] = {
        {"vrl", "vrl"},
        {"C:\\dir\\file", "C:\\dir\\file"}, // backslashes alone stay as they are
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"tab\there", "\"tab\there\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\"b", "\"a\\\"b\""},
        {"C:\\Program Files\\", "\"C:\\Program Files\\\\\""}, // doubled before the closing quote
        {"a\\\"b", "\"a\\\\\\\"b\""},                         // 1 backslash + quote: 3 + quote
        {"x\\\\ y", "\"x\\\\ y\""},                           // not before a quote: kept
    };
    for (const Case& c : cases) EXPECT_EQ(win::quotedArgument(c.arg), c.quoted) << c.arg;
}

// Every string of up to six characters over blank, tab, backslash, quote and a letter, as one
// argument among others, comes back unchanged.
TEST(WindowsRules, QuotingRoundTripsEveryShortString) {
    const std::string alphabet = " \t\\\"a";
    std::vector<std::string> strings = {""};
    for (size_t length = 1, from = 0; length <= 6; ++length) {
        const size_t to = strings.size();
        for (size_t i = from; i < to; ++i)
            for (char c : alphabet) strings.push_back(strings[i] + c);
        from = to;
    }
    size_t failures = 0;
    for (const std::string& s : strings) {
        const std::vector<std::string> args = {"C:\\bin\\vrl.exe", s, "last\\"};
        if (splitCommandLine(joined(args)) != args && ++failures <= 5)
            ADD_FAILURE() << "[" << s << "] -> [" << joined(args) << "]";
    }
    EXPECT_EQ(failures, 0u) << "of " << strings.size();
    EXPECT_GT(strings.size(), 19000u);
}
