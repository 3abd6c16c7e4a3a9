// The builder interface: patterns, file checks, member and data set names, the default
// origin, member lists, member files, sorting, the message queue and the connection.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include <gmock/gmock.h>

#include "build_support.h"
#include "members.h"

using namespace btest;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

class Interface : public testing::Test {
  protected:
    void SetUp() override { connect(); }
    void touch(const std::string& name, const std::string& data = "x\n") {
        fs::create_directories((dir_ / name).parent_path());
        testsupport::writeFile(dir_ / name, data);
    }
    std::vector<std::string> list(const std::string& pattern, std::string* message = nullptr) {
        Request q("out.xmi", (dir_ / pattern).string());
        const std::string m = q.listMembers();
        if (message != nullptr) *message = m;
        std::vector<std::string> names;
        for (uint32_t i = 0; i < q.r.memberCount; ++i) names.push_back(q.r.members[i]);
        std::sort(names.begin(), names.end());
        return names;
    }
    testsupport::TempDir dir_;
};

// Runs `check` as an unprivileged user when the tests run as root (who may read anything), so
// that files without read permission cannot be read. Returns its result.
bool withoutPrivileges(const std::function<bool()>& check) {
    if (geteuid() != 0) return check();
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST_F(Interface, Patterns) {
    struct Case {
        const char* text;
        int mode;
        uint32_t prefix;
        const char* suffix;
    } cases[] = {
        {"src/*.asm", PATTERN_ANY, 4, ".asm"},  {"src/&M", PATTERN_UPPER, 4, ""},
        {"&m.txt", PATTERN_LOWER, 0, ".txt"},   {"a/b/&M.tar.gz", PATTERN_UPPER, 4, ".tar.gz"},
        {"src/*x", PATTERN_FILE, 6, nullptr},   {"src/x&M.txt", PATTERN_FILE, 11, nullptr},
        {"file.txt", PATTERN_FILE, 8, nullptr}, {"*/file", PATTERN_FILE, 6, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        MemberPattern p{};
        p.text = c.text;
        vCheckPattern(&p);
        EXPECT_EQ(p.caseMode, c.mode);
        EXPECT_EQ(p.prefixLength, c.prefix);
        if (c.suffix == nullptr) {
            EXPECT_EQ(p.suffix, nullptr);
            EXPECT_EQ(p.suffixLength, 0u);
        } else {
            ASSERT_NE(p.suffix, nullptr);
            EXPECT_EQ(std::string(p.suffix, p.suffixLength), c.suffix);
        }
    }
}

TEST_F(Interface, ReadableFiles) {
    touch("readable.txt");
    touch("secret.txt");
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    fs::permissions(dir_ / "secret.txt", fs::perms::none);
    const std::string readable = (dir_ / "readable.txt").string(),
                      secret = (dir_ / "secret.txt").string();
    EXPECT_EQ(pszCanReadFile(readable.c_str()), nullptr);
    EXPECT_STREQ(pszCanReadFile((dir_ / "none").string().c_str()), "File not found");
    EXPECT_EQ(pszCanReadFile(dir_.path().c_str()), nullptr); // a folder counts as readable
    EXPECT_TRUE(withoutPrivileges([&] {
        const char* m = pszCanReadFile(secret.c_str());
        return m != nullptr && std::strcmp(m, "File cannot be read") == 0;
    }));
    // A member whose file cannot be read, or is not there.
    touch("pds/A.txt");
    touch("pds/B.txt");
    fs::permissions(dir_ / "pds",
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir_ / "pds" / "B.txt", fs::perms::none);
    Request q("out.xmi", (dir_ / "pds" / "&M.txt").string());
    q.setMembers({"A", "B"});
    const std::string b = (dir_ / "pds" / "B.txt").string();
    EXPECT_TRUE(withoutPrivileges([&] {
        const char* m = pszCheckIfMembersExist(&q.r);
        return m != nullptr && m == "Cannot read member B as file \"" + b + "\"";
    }));
    q.setMembers({"A", "C"});
    EXPECT_EQ(pszCheckIfMembersExist(&q.r),
              "Member C does not exist as file \"" + (dir_ / "pds" / "C.txt").string() + "\"");
}

TEST_F(Interface, MemberAndDataSetNames) {
    for (const char* good : {"ABC", "abc", "A$#@", "A{", "Z9999999"})
        EXPECT_EQ(iBrenIsMemberName(good), 1) << good;
    for (const char* bad : {"", "1AB", "{AB", "ABCDEFGHI", "A B", "A-B"})
        EXPECT_EQ(iBrenIsMemberName(bad), 0) << bad;
    for (const char* good :
         {"SYS1.MACLIB", "A.B$", "A-B.C{", "$#@.X", "A.B.C.D.E.F.G.H.I.J.K.L.M.N.O.P.Q.R.S.T.U.V"})
        EXPECT_EQ(uIsDsnValid(good), 1u) << good;
    const std::string longName = "ABCDEFGH.ABCDEFGH.ABCDEFGH.ABCDEFGH.ABCDEFGH"; // 44
    EXPECT_EQ(uIsDsnValid(longName.c_str()), 1u);
    for (const std::string& bad :
         {std::string("SYS1..MACLIB"), std::string("SYS1.MACLIB."), std::string(".SYS1"),
          std::string("sys1.maclib"), std::string("1ABC"), std::string("ABCDEFGHI.X"),
          longName + "X", std::string(""), std::string("A.1B"), std::string("A.{B"),
          std::string("A B"), std::string("A.B\tC")})
        EXPECT_EQ(uIsDsnValid(bad.c_str()), 0u) << bad;
}

TEST_F(Interface, DefaultOrigin) {
    char out[9];
    struct Case {
        const char* raw;
        size_t max;
        const char* expected;
    } cases[] = {
        {"build-pc", 15, "BUILD-PC"},     {"j.smith", 31, "J"}, {"", 15, "QUORIN"},
        {nullptr, 15, "QUORIN"},          {" x", 15, "QUORIN"}, {"averylongname", 15, "AVERYLON"},
        {"host.example.org", 15, "HOST"}, {"abc", 2, "AB"}};
    for (const Case& c : cases) {
        bren::normalizeOriginName(c.raw, c.max, out);
        EXPECT_STREQ(out, c.expected) << (c.raw ? c.raw : "(null)");
    }
    char node[9] = "........", user[9] = "........";
    vGetDefaultOriginNode(node);
    vGetDefaultOriginUser(user);
    for (const char* v : {node, user}) {
        EXPECT_GE(std::strlen(v), 1u);
        EXPECT_LE(std::strlen(v), 8u);
        for (const char* p = v; *p; ++p) EXPECT_FALSE(*p >= 'a' && *p <= 'z') << v;
    }
}

TEST_F(Interface, MemberLists) {
    for (const char* f : {"src/hello.asm", "src/hello.txt", "src/toolongname.asm", "src/9lives.asm",
                          "src/$x.asm", "src/a{b.ASM", "src/noext", "src/.asm"})
        touch(f);
    fs::create_directories(dir_ / "src" / "SRC.asm"); // a folder is not a member
    EXPECT_EQ(list("src/*.asm"), (std::vector<std::string>{"$X", "A{B", "HELLO"}));
    EXPECT_EQ(list("src/*"), (std::vector<std::string>{"NOEXT"}));
    touch("txt/Hello.txt");
    std::string message;
    EXPECT_TRUE(list("txt/&M.txt", &message).empty());
    EXPECT_EQ(message,
              "No matching files found for \"" + (dir_ / "txt" / "&M.txt").string() + "\"");
    EXPECT_TRUE(list("txt/&m.txt").empty());
    touch("txt/hello.txt");
    EXPECT_EQ(list("txt/&m.txt"), std::vector<std::string>{"HELLO"});
    EXPECT_EQ(list("txt/&M.TXT"), std::vector<std::string>{}); // no upper-case name
    // Two files that would both be member HELLO.
    EXPECT_TRUE(list("txt/*.txt", &message).empty());
    EXPECT_THAT(message, HasSubstr("Duplicate member HELLO: files \""));
    // Lists grow past their first 28 entries.
    for (int i = 0; i < 30; ++i) touch("many/M" + std::to_string(i) + ".dat");
    EXPECT_EQ(list("many/&M.dat").size(), 30u);
    // Traces: every name the folder gave, then the members.
    connect(3);
    list("txt/&m.txt");
    const std::string search = (dir_ / "txt").string() + "/*.txt";
    EXPECT_THAT(traced(), HasSubstr("FindFirstFile(" + search + "): \"."));
    EXPECT_THAT(traced(), HasSubstr("FindNextFile(" + search + "): \"hello.txt\"\n"));
    EXPECT_THAT(traced(), HasSubstr("FindNextFile(" + search + "): no more files\n"));
    EXPECT_THAT(traced(), HasSubstr("paszIoGetMembers: 1 members\n    HELLO\n"));
    connect(1);
    EXPECT_TRUE(list("absent/&M.txt", &message).empty());
    EXPECT_THAT(traced(),
                HasSubstr("FindFirstFile(" + (dir_ / "absent").string() + "/*.txt): 2\n"));
    connect();
}

TEST_F(Interface, MemberFilesAreFoundWhateverTheirCase) {
    touch("src/hello.asm");
    touch("src/World.ASM");
    Request q("out.xmi", (dir_ / "src" / "*.asm").string());
    ASSERT_EQ(q.listMembers(), "");
    EXPECT_EQ(pszCheckIfMembersExist(&q.r), nullptr);
    // The name the pattern builds wins when it is there; two other spellings are ambiguous.
    touch("up/HELLO.txt");
    touch("up/hello.TXT");
    Request exact("out.xmi", (dir_ / "up" / "&M.txt").string());
    exact.setMembers({"HELLO"});
    EXPECT_EQ(pszCheckIfMembersExist(&exact.r), nullptr);
    touch("two/Hello.txt");
    touch("two/hello.TXT");
    Request two("out.xmi", (dir_ / "two" / "&M.txt").string());
    two.setMembers({"HELLO"});
    EXPECT_THAT(pszCheckIfMembersExist(&two.r), HasSubstr("Duplicate member HELLO: files \""));
    // A built file holds the member's lines.
    q.out = (dir_ / "out.xmi").string();
    q.r.transmitFile = q.out.c_str();
    ASSERT_EQ(q.create(), 0) << q.message;
}

TEST_F(Interface, SortingAndTheMessageQueue) {
    auto sorted = [](std::vector<std::string> names) {
        std::vector<std::array<char, 9>> list(names.size());
        for (size_t i = 0; i < names.size(); ++i)
            std::snprintf(list[i].data(), 9, "%s", names[i].c_str());
        vSortMembers(reinterpret_cast<MemberName*>(list.data()),
                     static_cast<uint32_t>(list.size()));
        std::vector<std::string> out;
        for (const auto& n : list) out.emplace_back(n.data());
        return out;
    };
    EXPECT_EQ(sorted({"B", "A1", "A"}), (std::vector<std::string>{"A", "A1", "B"}));
    EXPECT_EQ(sorted({"A1", "AB"}), (std::vector<std::string>{"AB", "A1"}));
    EXPECT_EQ(sorted({"A", "$X"}), (std::vector<std::string>{"$X", "A"}));
    EXPECT_EQ(sorted({"Z"}), std::vector<std::string>{"Z"});
    vSortMembers(nullptr, 0);
    // Nothing of the builder queues messages: no queue, or an unknown function.
    UtilityMessageQueue* queue = nullptr;
    char buffer[UTILITY_MESSAGE_BUFFER_SIZE];
    void* args[2] = {&queue, buffer};
    EXPECT_EQ(UtilityMessageGet(UTILITY_MESSAGE_TAKE, args), UTILITY_MESSAGE_NO_QUEUE);
    EXPECT_EQ(UtilityMessageGet(3, args), UTILITY_MESSAGE_NO_QUEUE);
    EXPECT_EQ(pszBrenSetConversion(), nullptr);
    EXPECT_EQ(pszBrenSetConversion(), nullptr);
}

TEST(InterfaceDeathTest, VersionMismatchEndsTheProcess) {
    int status = 0;
    ConnectionRecord* record = nullptr;
    EXPECT_EXIT(pszBrenDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.0",
                                  nullptr, nullptr),
                testing::ExitedWithCode(20),
                "Quorin Toolbench BRENCORE.DLL version 3.0.07 is\nincompatible with Quorin "
                "Toolbench version 3.0.0");
    EXPECT_EXIT(pszBrenDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench ", "3.0.07",
                                  nullptr, nullptr),
                testing::ExitedWithCode(20), "incompatible");
    connect();
    ConnectionRecord* r = nullptr;
    pszBrenDllConnect(&status, &r, 2, nullptr, "Quorin Toolbench", "3.0.07", keepLine, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->productName, "Quorin Brenmar");
    EXPECT_EQ(r->traceLevel, 2);
    connect();
}
