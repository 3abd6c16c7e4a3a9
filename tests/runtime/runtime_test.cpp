// The core library runtime, linked straight into the test: connection and handshake, fatal
// stops, storage, translation setup, member names, the traced file operations and the message
// queue.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_command.h"
#include "runtime.h"

using testsupport::TempDir;

// Under AddressSanitizer an impossible allocation must fail the way malloc does (returning
// null), so that the runtime's own heap-exhaustion stop is what the test sees.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

namespace {

const rt::LibraryIdentity kId{"TESTCORE.DLL", "Quorin Test",
                              reinterpret_cast<const void*>(&rt::connect)};

std::vector<std::string>& lines() {
    static std::vector<std::string> v;
    return v;
}
void collect(const char* line) {
    lines().push_back(line);
}

void connectAt(int level) {
    int status = -1;
    ConnectionRecord* record = nullptr;
    ASSERT_EQ(rt::connect(kId, &status, &record, level, nullptr, "Quorin Toolbench", "3.0.07",
                          collect, nullptr),
              nullptr);
    ASSERT_EQ(status, 0);
    ASSERT_NE(record, nullptr);
    lines().clear();
}

std::string joined() {
    std::string s;
    for (auto& l : lines()) s += l;
    return s;
}

void fatalToStderr(const char* text) {
    std::fprintf(stderr, "FATAL[%s]", text);
}

} // namespace

TEST(RuntimeConnect, RecordAndModulePath) {
    int status = -1;
    ConnectionRecord* record = nullptr;
    EXPECT_EQ(rt::connect(kId, &status, &record, 2, nullptr, "Quorin Toolbench", "3.0.07", nullptr,
                          nullptr),
              nullptr);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->productName, "Quorin Test");
    EXPECT_STREQ(record->productFamily, "Quorin Toolbench");
    EXPECT_STREQ(record->version, "3.0.07");
    EXPECT_EQ(record->traceLevel, 2);
    EXPECT_GT(record->connectTime, 1700000000);
    ASSERT_NE(record->modulePath, nullptr);
    EXPECT_EQ(record->modulePath[0], '/') << "the module's own full path";
    EXPECT_TRUE(rt::isConnected());

    rt::connect(kId, &status, &record, 0, "/opt/tools/opx", "Quorin Toolbench", "3.0.07", nullptr,
                nullptr);
    EXPECT_STREQ(record->modulePath, "/opt/tools/opx") << "an absolute path is kept";
    rt::connect(kId, &status, &record, 0, "opx", "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(record->modulePath, program) << "a bare name is replaced by the program's path";
    rt::connect(kId, &status, &record, 0, "bin/opx", "Quorin Toolbench", "3.0.07", nullptr,
                nullptr);
    EXPECT_EQ(record->modulePath, program) << "a relative path is replaced by the program's path";
}

// A caller of another version, or of another family, ends the process with exit code 20 after
// the fatal callback and standard error have the message.
TEST(RuntimeConnectDeathTest, VersionMismatch) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto connectWith = [](const char* family, const char* version) {
        int status;
        ConnectionRecord* record;
        rt::connect(kId, &status, &record, 0, nullptr, family, version, nullptr, fatalToStderr);
    };
    EXPECT_EXIT(connectWith("Quorin Toolbench", "3.0.0"), testing::ExitedWithCode(20),
                "Quorin Toolbench TESTCORE.DLL version 3.0.07 is\nincompatible with Quorin "
                "Toolbench version 3.0.0");
    EXPECT_EXIT(connectWith("Quorin Toolbench ", "3.0.07"), testing::ExitedWithCode(20),
                "incompatible");
    EXPECT_EXIT(connectWith(nullptr, nullptr), testing::ExitedWithCode(20),
                "version 3.0.07 is\nincompatible with  version \n");
    EXPECT_EXIT(
        {
            connectWith("Quorin Toolbench", "3.0.08");
            std::fflush(stdout);
        },
        testing::ExitedWithCode(20), "");
}

TEST(RuntimeConnectDeathTest, FatalCallbackGetsTheText) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The callback has the text first; then the runtime writes it to standard error itself.
    EXPECT_EXIT(
        {
            int status;
            ConnectionRecord* record;
            rt::connect(kId, &status, &record, 0, nullptr, "Other", "1", nullptr, fatalToStderr);
        },
        testing::ExitedWithCode(20),
        "FATAL\\[Quorin Toolbench TESTCORE.DLL version 3.0.07 is\nincompatible with Other version "
        "1\n\\]"
        "Quorin Toolbench TESTCORE.DLL version 3.0.07 is\nincompatible with Other version 1\n");
}

TEST(RuntimeConnectDeathTest, NotConnectedAndHeapExhaustion) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({ rt::fatal("stop here"); }, testing::ExitedWithCode(20), "stop here");
    EXPECT_EXIT(
        {
            int status;
            ConnectionRecord* record;
            rt::connect(kId, &status, &record, 0, nullptr, "x", "y", nullptr, nullptr);
        },
        testing::ExitedWithCode(20), "");
    // After a fatal stop in a child the parent is untouched; in the child the guard stops.
    EXPECT_EXIT(
        {
            int status;
            ConnectionRecord* record;
            rt::connect(kId, &status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr,
                        nullptr);
            rt::requireConnected();
            rt::fatal("first");
        },
        testing::ExitedWithCode(20), "first");
    EXPECT_EXIT(rt::allocArray(SIZE_MAX / 2, 4), testing::ExitedWithCode(20),
                "Heap storage allocation failed for");
    EXPECT_EXIT(rt::allocZeroed(SIZE_MAX - 16), testing::ExitedWithCode(20),
                "Heap storage allocation failed for 18446744073709551599 bytes!");
}

TEST(RuntimeStorage, GrowAndDuplicate) {
    auto* p = static_cast<unsigned char*>(rt::allocZeroed(16));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0);
    std::memset(p, 0xAB, 16);
    EXPECT_EQ(rt::grow(p, 16, 8), p) << "not larger: the same storage, untouched";
    EXPECT_EQ(p[15], 0xAB);
    p = static_cast<unsigned char*>(rt::grow(p, 16, 4096));
    EXPECT_EQ(p[15], 0xAB);
    for (int i = 16; i < 4096; ++i) ASSERT_EQ(p[i], 0);
    // A live block whose recorded size is 0 is grown in place, not leaked.
    p = static_cast<unsigned char*>(rt::grow(p, 0, 8192));
    rt::release(p);
    p = static_cast<unsigned char*>(rt::grow(nullptr, 0, 10));
    EXPECT_EQ(p[9], 0);
    rt::release(p);
    char* d = rt::duplicate("member");
    EXPECT_STREQ(d, "member");
    rt::release(d);
}

TEST(RuntimeTranslation, BuiltInTablesAndSetConversion) {
    // Before any conversion: 1047 / ISO 8859-1, NL paired with LF.
    EXPECT_EQ(rt::ebcdicToAscii()[0xC1], 'A');
    EXPECT_EQ(rt::ebcdicToAscii()[0x15], 0x0A);
    EXPECT_EQ(rt::ebcdicToAscii()[0x25], 0x85);
    EXPECT_EQ(rt::asciiToEbcdic()[0x0A], 0x15);
    EXPECT_EQ(rt::asciiToEbcdic()['{'], 0xC0);
    for (int b = 0; b < 256; ++b) ASSERT_EQ(rt::ebcdicToAscii()[rt::asciiToEbcdic()[b]], b);
    EXPECT_EQ(rt::displayTable()[0xC1], 'A');
    EXPECT_EQ(rt::displayTable()[0xE0], '\\');
    EXPECT_EQ(rt::displayTable()[0x4A], ' ') << "the cent sign has no ASCII form";

    unsetenv("CODEPAGE_ASCII");
    setenv("CODEPAGE_EBCDIC", "1047", 1);
    EXPECT_EQ(rt::setConversion(), nullptr);
    EXPECT_EQ(rt::ebcdicToAscii()[0x25], 0x0A) << "after the conversion, 1047's own LF";
    EXPECT_EQ(rt::ebcdicToAscii()[0x15], 0x85);
    // A second call does not consult the translation library again.
    setenv("CODEPAGE_EBCDIC", "37", 1);
    EXPECT_EQ(rt::setConversion(), nullptr);
    EXPECT_EQ(rt::ebcdicToAscii()[0x5F], 0x5E)
        << "still 1047: X'5F' is the circumflex, not 37's not sign";
    unsetenv("CODEPAGE_EBCDIC");

    char text[6];
    const uint8_t ebcdic[] = {0xC8, 0xC5, 0xD3, 0xD3, 0xD6, 0xE6, 0xD6};
    rt::translateText(ebcdic, sizeof ebcdic, text, sizeof text);
    EXPECT_STREQ(text, "HELLO");
    const uint8_t withZero[] = {0xC1, 0x00, 0xC2};
    std::memset(text, 'x', sizeof text);
    rt::translateText(withZero, sizeof withZero, text, sizeof text);
    EXPECT_EQ(std::string(text, 6), std::string("A\0\0\0\0\0", 6));
}

// Each refused pair is tested in a child process, since the conversion can be set only once.
TEST(RuntimeTranslationDeathTest, RefusedCodePages) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto attempt = [](const char* ascii, const char* ebcdic) {
        if (ascii)
            setenv("CODEPAGE_ASCII", ascii, 1);
        else
            unsetenv("CODEPAGE_ASCII");
        if (ebcdic)
            setenv("CODEPAGE_EBCDIC", ebcdic, 1);
        else
            unsetenv("CODEPAGE_EBCDIC");
        const char* m = rt::setConversion();
        std::fprintf(stderr, "[%s]", m ? m : "null");
        // The tables stay the built-in ones after a refusal.
        std::fprintf(stderr, "{%02X}", rt::ebcdicToAscii()[0x15]);
        std::exit(0);
    };
    // The environment ignores code pages of the wrong kind, so a valid default stays in force:
    EXPECT_EXIT(attempt("1047", nullptr), testing::ExitedWithCode(0), "\\[null\\]");
    // Katakana EBCDIC has no small a at X'81'.
    EXPECT_EXIT(
        attempt("437", "290"), testing::ExitedWithCode(0),
        "\\[KDU804E ASCII code page 437 and EBCDIC code page 290 are incompatible.\\]\\{0A\\}");
    // Turkish EBCDIC has I with dot and S with cedilla at X'5B' and X'7C': Windows Latin-1 lacks
    // them, Windows Turkish has them.
    EXPECT_EXIT(attempt("1252", "1026"), testing::ExitedWithCode(0),
                "\\[KDU804E ASCII code page 1252 and EBCDIC code page 1026 are incompatible.\\]");
    EXPECT_EXIT(attempt("1254", "1026"), testing::ExitedWithCode(0), "\\[null\\]");
    EXPECT_EXIT(attempt("1252", "273"), testing::ExitedWithCode(0), "\\[null\\]");
}

TEST(RuntimeMemberNames, Rules) {
    using rt::isMemberName;
    auto ok = [](const char* n, rt::CaseRule r = rt::kAnyCase) {
        return isMemberName(n, std::strlen(n), r);
    };
    EXPECT_TRUE(ok("A"));
    EXPECT_TRUE(ok("ABCDEFGH"));
    EXPECT_TRUE(ok("a1b2"));
    EXPECT_FALSE(ok("ABCDEFGHI")) << "nine characters";
    EXPECT_FALSE(ok("1ABC")) << "starts with a digit";
    EXPECT_FALSE(ok("{ABC")) << "starts with the character of X'C0'";
    EXPECT_FALSE(ok("AB CD"));
    EXPECT_FALSE(ok(""));
    EXPECT_FALSE(isMemberName(nullptr, 3, rt::kAnyCase));
    EXPECT_FALSE(ok("AB.C"));
    EXPECT_FALSE(ok("abc", rt::kUpperCase));
    EXPECT_TRUE(ok("ABC", rt::kUpperCase));
    EXPECT_FALSE(ok("ABC", rt::kLowerCase));
    EXPECT_TRUE(ok("abc", rt::kLowerCase));
    EXPECT_FALSE(ok("A\xC4"
                    "B"))
        << "bytes above 0x7F are not letters, whatever the locale";
    EXPECT_TRUE(isMemberName("ABCDEFGH", 5, rt::kAnyCase)) << "only the given length is examined";
    EXPECT_FALSE(isMemberName("AB", 5, rt::kAnyCase)) << "the given length must be reached";
}

// The national characters come from the current EBCDIC code page: in 1047 they are $ # @ {,
// in 273 (Germany) X'5B' X'7B' X'7C' X'C0' are $ # § ä.
TEST(RuntimeMemberNamesDeathTest, NationalCharactersOfTheCodePage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto check = [](const char* ebcdic) {
        unsetenv("CODEPAGE_ASCII");
        setenv("CODEPAGE_EBCDIC", ebcdic, 1);
        if (rt::setConversion() != nullptr) std::exit(3);
        const char* n1 = "A$#@";
        const char* n2 = "A$#\xA7\xE4";
        const char* n3 = "A{";
        std::fprintf(stderr, "%d%d%d", rt::isMemberName(n1, 4, rt::kAnyCase),
                     rt::isMemberName(n2, 5, rt::kAnyCase), rt::isMemberName(n3, 2, rt::kAnyCase));
        std::exit(0);
    };
    EXPECT_EXIT(check("1047"), testing::ExitedWithCode(0), "101");
    EXPECT_EXIT(check("273"), testing::ExitedWithCode(0), "010");
}

TEST(RuntimeIo, OpenReadWriteSeekClose) {
    connectAt(3);
    TempDir dir;
    const std::string path = (dir / "data.bin").string();
    IoFileCore out{};
    out.path = path.c_str();
    out.mode = IO_WRITE;
    out.binary = 1;
    out.traceLevel = 3;
    ASSERT_EQ(rt::ioOpen(out), IO_OK);
    EXPECT_EQ(rt::ioWrite(out, "abcdefgh", 1, 8), IO_OK);
    EXPECT_EQ(rt::ioWriteString(out, "ij"), IO_OK);
    EXPECT_EQ(rt::ioClose(out, false), IO_OK);
    EXPECT_EQ(out.stream, nullptr);
    std::string t = joined();
    EXPECT_NE(t.find("File \"" + path + "\" opened for wb.\n"), std::string::npos);
    EXPECT_NE(t.find(",1,8,\"" + path + "\")\n"), std::string::npos);
    EXPECT_NE(t.find("File \"" + path + "\" closed.\n"), std::string::npos);

    lines().clear();
    IoFileCore in{};
    in.path = path.c_str();
    in.binary = 1;
    in.traceLevel = 3;
    ASSERT_EQ(rt::ioOpen(in), IO_OK);
    char buf[16];
    EXPECT_EQ(rt::ioRead(in, buf, 1, 4), 4u);
    EXPECT_EQ(in.status, IO_OK);
    EXPECT_EQ(rt::ioSeek(in, 8, SEEK_SET), IO_OK);
    EXPECT_EQ(in.position, 8);
    EXPECT_EQ(rt::ioRead(in, buf, 4, 1), 0u) << "a partial element at the end";
    EXPECT_EQ(in.status, IO_EOF) << "end of file, not an error";
    EXPECT_STREQ(in.operation, "READ");
    EXPECT_EQ(rt::ioSeek(in, -3, SEEK_END), IO_OK);
    EXPECT_EQ(in.position, 7);
    EXPECT_EQ(rt::ioSeek(in, int64_t(1) << 33, SEEK_SET), IO_OK) << "a position beyond 32 bits";
    EXPECT_EQ(in.position, int64_t(1) << 33);
    EXPECT_EQ(rt::ioTell(in), IO_OK);
    EXPECT_EQ(in.position, int64_t(1) << 33);
    t = joined();
    EXPECT_NE(t.find("fseek(\"" + path + "\",8,0)\n"), std::string::npos);
    EXPECT_NE(t.find("): 0\n"), std::string::npos) << t;
    EXPECT_NE(t.find("eIoSeek(\"" + path + "\",8589934592,0)\n"), std::string::npos);
    EXPECT_NE(t.find("fsetpos(\"" + path + "\",8589934592)\n"), std::string::npos);
    EXPECT_NE(t.find("fgetpos(\"" + path + "\"): 8589934592\n"), std::string::npos);
    EXPECT_EQ(rt::ioClose(in, true), IO_OK);
    EXPECT_NE(joined().find("File \"" + path + "\" removed.\n"), std::string::npos);
    EXPECT_EQ(rt::ioAccess(path.c_str(), 0, 0), 1);
}

TEST(RuntimeIo, ErrorsAndTraceLevels) {
    connectAt(1);
    TempDir dir;
    const std::string missing = (dir / "missing").string();
    IoFileCore f{};
    f.path = missing.c_str();
    f.traceLevel = 1;
    EXPECT_EQ(rt::ioOpen(f), IO_ERROR);
    EXPECT_STREQ(f.operation, "OPEN");
    EXPECT_EQ(f.errnum, ENOENT);
    EXPECT_EQ(joined(), "Error opening \"" + missing + "\": " + std::strerror(ENOENT) + "\n");
    lines().clear();
    const std::string noDir = (dir / "no" / "file").string();
    f = IoFileCore{};
    f.path = noDir.c_str();
    f.mode = IO_WRITE;
    f.traceLevel = 0;
    EXPECT_EQ(rt::ioOpen(f), IO_ERROR);
    EXPECT_STREQ(f.operation, "CREAT");
    EXPECT_TRUE(lines().empty()) << "level 0 prints nothing";
    f.traceLevel = 1;
    rt::ioOpen(f);
    EXPECT_EQ(joined(), "Error creating \"" + noDir + "\": " + std::strerror(ENOENT) + "\n");
    lines().clear();
    EXPECT_EQ(rt::ioRemove(missing.c_str(), 1), 1);
    EXPECT_EQ(joined(), "Error removing \"" + missing + "\": " + std::strerror(ENOENT) + "\n");
    lines().clear();
    EXPECT_EQ(rt::ioAccess(missing.c_str(), 0, 2), 1);
    EXPECT_EQ(joined(), "access(" + missing + ",0): " + std::strerror(ENOENT) + "\n");

    // A text file sets the blank dump style; "nul" is the null device.
    f = IoFileCore{};
    f.path = "NUL";
    f.mode = IO_WRITE;
    EXPECT_EQ(rt::ioOpen(f), IO_OK);
    EXPECT_EQ(f.dumpStyle, ' ');
    EXPECT_EQ(rt::ioWriteString(f, "gone"), IO_OK);
    EXPECT_EQ(rt::ioClose(f, false), IO_OK);
    EXPECT_FALSE(std::filesystem::exists("NUL"));
    EXPECT_FALSE(std::filesystem::exists("nul"));
}

TEST(RuntimeIo, LevelFourDumps) {
    connectAt(4);
    IoFileCore f{};
    f.traceLevel = 4;
    f.dumpStyle = 'E';
    const uint8_t data[20] = {0xC1, 0xC2, 0xC3, 0x40, 0xF1, 0x4A, 0, 0,    0,
                              0,    0,    0,    0,    0,    0,    0, 0xE0, 0xC0};
    rt::ioDump(f, data, sizeof data);
    ASSERT_EQ(lines().size(), 2u);
    EXPECT_EQ(lines()[0].substr(0, 5), "+0000");
    EXPECT_NE(lines()[0].find("C1C2C340 F14A0000"), std::string::npos) << lines()[0];
    EXPECT_NE(lines()[0].find("|ABC 1           |"), std::string::npos) << lines()[0];
    EXPECT_EQ(lines()[1].substr(0, 5), "+0010");
    EXPECT_NE(lines()[1].find("|\\{"), std::string::npos) << lines()[1];
    lines().clear();
    f.dumpStyle = 0;
    std::vector<uint8_t> big(70000, 0x41);
    rt::ioDump(f, big.data(), big.size());
    EXPECT_EQ(lines().size(), (70000u + 31) / 32);
    EXPECT_EQ(lines()[1].substr(0, 6), "+00020") << "five digits above 64 KiB";
    EXPECT_EQ(lines()[0].find('|'), std::string::npos);
}

TEST(RuntimeMessages, Queue) {
    UtilityMessageQueue* q = nullptr;
    std::vector<uint8_t> out(UTILITY_MESSAGE_BUFFER_SIZE);
    void* args[2] = {&q, out.data()};
    EXPECT_EQ(rt::utilityMessageGet(2, args), UTILITY_MESSAGE_NO_QUEUE);
    EXPECT_EQ(rt::utilityMessageGet(2, nullptr), UTILITY_MESSAGE_NO_QUEUE);
    rt::queueMessage(&q, 8, "IEB first");
    rt::queueMessage(&q, 12, std::string(UTILITY_MESSAGE_MAX_TEXT + 50, 'x'));
    EXPECT_EQ(rt::utilityMessageGet(1, args), UTILITY_MESSAGE_NO_QUEUE) << "only function 2";
    ASSERT_EQ(rt::utilityMessageGet(2, args), UTILITY_MESSAGE_TAKEN);
    uint16_t len;
    std::memcpy(&len, out.data() + 2, 2);
    EXPECT_EQ(out[0], 8);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(len, 9);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()) + 4, len), "IEB first");
    ASSERT_NE(q, nullptr);
    ASSERT_EQ(rt::utilityMessageGet(2, args), UTILITY_MESSAGE_TAKEN);
    std::memcpy(&len, out.data() + 2, 2);
    EXPECT_EQ(len, UTILITY_MESSAGE_MAX_TEXT) << "long texts are cut when queued";
    EXPECT_EQ(q, nullptr) << "the emptied queue is freed";
    rt::queueMessage(&q, 0, "left over");
    rt::freeMessageQueue(&q);
    EXPECT_EQ(q, nullptr);
}
