// cpconv from the outside: conversions through files and pipes, line-end pairs across the
// program's buffer boundaries, and its one-line errors.
#include <filesystem>
#include <string>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "run_command.h"

using namespace testsupport;

namespace {

const std::string kCpconv = CPCONV_PATH;

CommandResult cpconv(const std::string& args) {
    return runCommand(quote(kCpconv) + " " + args);
}

size_t count(const std::string& s, char c) {
    return static_cast<size_t>(std::count(s.begin(), s.end(), c));
}

} // namespace

TEST(Cpconv, RoundTripThroughFiles) {
    TempDir dir;
    std::string text;
    for (int b = 0; b < 256; ++b) text.push_back(static_cast<char>(b));
    writeFile(dir / "in", text);
    ASSERT_EQ(cpconv("-f 819 -t 1047 -o " + quote((dir / "e").string()) + " " +
                     quote((dir / "in").string()))
                  .exitCode,
              0);
    ASSERT_EQ(cpconv("-f 1047 -t 819 -o " + quote((dir / "back").string()) + " " +
                     quote((dir / "e").string()))
                  .exitCode,
              0);
    EXPECT_EQ(readFile(dir / "back"), text);
    EXPECT_EQ(readFile(dir / "e")['A'], '\xC1');
}

TEST(Cpconv, LineEndPairsAcrossBufferBoundaries) {
    TempDir dir;
    // CR LF pairs placed across every plausible buffer boundary (powers of two near 64 KiB to
    // 1 MiB, and one byte either side) must each stay one line end.
    std::string text;
    size_t lines = 0;
    for (size_t boundary : {65536u, 131072u, 262144u, 524288u, 1048576u}) {
        for (long shift : {-2L, -1L, 0L}) {
            size_t at = static_cast<size_t>(static_cast<long>(boundary) + shift);
            if (text.size() < at) text.append(at - text.size(), 'x');
            text += "\r\n";
            ++lines;
        }
    }
    text += "\r\r\n\n\r";
    lines += 3; // CR, CR LF, LF CR
    writeFile(dir / "in", text);
    CommandResult r = cpconv("-f 1252 -t 1047 --newline nl " + quote((dir / "in").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(count(r.out, '\x15'), lines);
    EXPECT_EQ(count(r.out, '\x25'), 0u);

    // UTF-8 input: CR followed by NEL (C2 85) split over the boundary.
    std::string utf8(262143, 'y');
    utf8 += "\r\xC2\x85z";
    writeFile(dir / "u", utf8);
    r = cpconv("-f utf-8 -t 1047 -n lf " + quote((dir / "u").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(count(r.out, '\x25'), 1u);
    EXPECT_EQ(r.out.size(), 262143u + 2);

    // UTF-16: a surrogate pair split over the boundary.
    std::string utf16;
    for (int i = 0; i < 131071; ++i) utf16 += std::string("a\0", 2);
    utf16 += std::string("\x3D\xD8\x00\xDE", 4);
    writeFile(dir / "w", utf16);
    r = cpconv("-f utf-16 -t utf-8 " + quote((dir / "w").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string(131071, 'a') + "\xF0\x9F\x98\x80");
}

TEST(Cpconv, StandardInputAndConcatenation) {
    TempDir dir;
    writeFile(dir / "a", "AB");
    writeFile(dir / "b", "CD");
    CommandResult r = runCommand("printf 'xy' | " + quote(kCpconv) + " -f 819 -t 500 " +
                                 quote((dir / "a").string()) + " - " + quote((dir / "b").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "\xC1\xC2\xA7\xA8\xC3\xC4");
}

TEST(Cpconv, Errors) {
    TempDir dir;
    CommandResult r = cpconv("-f 9999 -t 1047 /dev/null");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("unknown code page '9999'"), std::string::npos) << r.err;
    EXPECT_EQ(count(r.err, '\n'), 1u);

    writeFile(dir / "bad", "abc\xFF"
                           "def");
    writeFile(dir / "target", "keep me");
    r = cpconv("-f utf-8 -t 1047 -o " + quote((dir / "target").string()) + " " +
               quote((dir / "bad").string()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("at byte offset 3"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(dir / "target"), "keep me") << "a failed run leaves the target as it was";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2)
        << "no temporary file is left behind";

    writeFile(dir / "short", "abc\xE2\x82");
    r = cpconv("-f utf-8 -t 819 " + quote((dir / "short").string()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("ends inside a character at byte offset 3"), std::string::npos) << r.err;

    r = cpconv("-f 819 -t 1047 " + quote((dir / "missing").string()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos);
    r = cpconv("-f 819 -t 1047 --newline sideways /dev/null");
    EXPECT_EQ(r.exitCode, 2);
    r = cpconv("-f 819");
    EXPECT_EQ(r.exitCode, 2);
}

TEST(Cpconv, ListAndNames) {
    CommandResult r = cpconv("--list");
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(count(r.out, '\n'), 180u) << "a heading and 179 rows";
    r = cpconv("--list --json");
    EXPECT_EQ(r.out.front(), '[');
    EXPECT_NE(r.out.find("\"name\": \"EBCDIC Latin-1\""), std::string::npos);
    // 37/101 masks byte 0x41; ccsid:37 is 37 variant 697 which keeps it.
    r = runCommand("printf '\\101' | " + quote(kCpconv) + " -f 37/101 -t utf-8");
    EXPECT_EQ(r.out, "\xEF\xBF\xBD");
    r = runCommand("printf '\\101' | " + quote(kCpconv) + " -f ccsid:37 -t utf-8");
    EXPECT_EQ(r.out, "\xC2\xA0");
}

// Memory stays flat: streaming 256 MiB takes no more memory than streaming 1 MiB.
TEST(Cpconv, MemoryStaysFlat) {
    auto peakAfter = [](const std::string& bytes) {
        runCommand("{ head -c " + bytes + " /dev/zero | " + quote(kCpconv) +
                   " -f 819 -t 1047 -n crlf >/dev/null; }");
        struct rusage usage {};
        getrusage(RUSAGE_CHILDREN, &usage);
        return usage.ru_maxrss; // KiB, the largest child so far
    };
    const long small = peakAfter("1048576");
    const long large = peakAfter("268435456");
    EXPECT_LT(large - small, 8 * 1024)
        << "peak memory grew from " << small << " KiB to " << large << " KiB";
}
