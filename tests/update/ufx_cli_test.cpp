// ufx from the outside: DD options, the listing on standard output, the exit status as the
// condition code, JSON, one-line errors, and a write failure that leaves the old member.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "run_command.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kUfx = UFX_PATH;

CommandResult ufx(const std::string& args) {
    return runCommand(quote(kUfx) + " " + args);
}

} // namespace

TEST(UfxCommand, ListingOnStandardOutputAndExitStatus) {
    TempDir dir;
    fs::create_directories(dir / "lib");
    writeFile(dir / "deck",
              "./ ADD NAME=HELLO\n./ NUMBER NEW1=10,INCR=10\nLINE ONE\nLINE TWO\n./ ENDUP\n");
    const std::string lib = quote((dir / "lib/&m.txt").string());
    CommandResult r = ufx("--parm NEW --sysin " + quote((dir / "deck").string()) +
                          " --sysprint - --sysut2 " + lib);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("1Quorin Update Utility 3.0.07", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" KDU817I Member name HELLO added to SYSUT2 with 2 records, PATH="),
              std::string::npos);
    EXPECT_NE(r.out.find(" KDU818I Highest condition code was 0\n"), std::string::npos);
    EXPECT_EQ(readFile(dir / "lib/hello.txt"), "LINE ONE" + std::string(64, ' ') +
                                                   "00000010\nLINE TWO" + std::string(64, ' ') +
                                                   "00000020\n");

    // Standard input as SYSIN; an error gives condition code 12 as the exit status; a
    // listing file is written where asked.
    r = runCommand("printf './ ADD NAME=HELLO\\nX\\n' | " + quote(kUfx) + " --sysin - --sysprint " +
                   quote((dir / "list").string()) + " --sysut1 " + lib + " --sysut2 " + lib);
    EXPECT_EQ(r.exitCode, 12);
    EXPECT_NE(readFile(dir / "list").find(" KDU816E Member name HELLO found in SYSUT1,"),
              std::string::npos);

    // An omitted DD option is a missing DD statement.
    r = ufx("--sysprint - --sysut2 " + lib);
    EXPECT_EQ(r.exitCode, 12);
    EXPECT_NE(r.err.find("ufx: KEC130I SYSIN DD statement missing"), std::string::npos) << r.err;
}

TEST(UfxCommand, JsonHelpAndUsageErrors) {
    TempDir dir;
    fs::create_directories(dir / "lib");
    writeFile(dir / "deck", "./ ADD NAME=A\nX\n./ ADD NAME=B,LIST=NO\n");
    const CommandResult r = ufx("--json --parm NEW --sysin " + quote((dir / "deck").string()) +
                                " --sysprint - --sysut2 " + quote((dir / "lib/&M").string()));
    EXPECT_EQ(r.exitCode, 12);
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["conditionCode"], 12);
    ASSERT_GE(j["messages"].size(), 2u);
    EXPECT_EQ(j["messages"][0]["text"],
              "KDU817I Member name A added to SYSUT2 with 1 record, PATH=" +
                  (dir / "lib/A").string());
    EXPECT_EQ(j["messages"].back()["text"], "KDU818I Highest condition code was 12");

    const CommandResult help = ufx("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--sysut2"), std::string::npos);
    EXPECT_NE(help.out.find("&M"), std::string::npos);

    const CommandResult bad = ufx("--sysin");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
    EXPECT_EQ(bad.err.rfind("ufx: ", 0), 0u);
    EXPECT_EQ(ufx("--trace 9").exitCode, 2);
}

TEST(UfxCommand, WriteFailureLeavesTheOldMember) {
    TempDir dir;
    fs::create_directories(dir / "lib");
    const std::string old = "OLD MEMBER\n";
    writeFile(dir / "lib/BIG", old);
    writeFile(dir / "lib/SEQ", old);
    std::string deck = "./ REPL NAME=BIG\n";
    for (int i = 0; i < 400; ++i)
        deck += "A RECORD THAT MAKES THE NEW MEMBER LARGER THAN THE FILE SIZE LIMIT " +
                std::to_string(i) + "\n";
    writeFile(dir / "deck", deck);
    // Files may grow to 16 KiB only; writes beyond fail instead of ending the process.
    const std::string limited = "trap '' XFSZ; ulimit -f 32; exec " + quote(kUfx);
    const std::string lib = quote((dir / "lib/&M").string());
    CommandResult r =
        runCommand("sh -c " + quote(limited + " --sysin " + quote((dir / "deck").string()) +
                                    " --sysprint '<stdout>' --sysut1 " + lib + " --sysut2 " + lib));
    EXPECT_EQ(r.exitCode, 12) << r.out << r.err;
    EXPECT_NE(r.out.find("KDU802E SYSUT2 I/O ERROR, "), std::string::npos) << r.out;
    EXPECT_EQ(readFile(dir / "lib/BIG"), old);
    for (const auto& e : fs::directory_iterator(dir / "lib"))
        EXPECT_TRUE(e.path().filename() == "BIG" || e.path().filename() == "SEQ")
            << "left behind: " << e.path();

    // The same for a sequential data set that is being replaced.
    deck.replace(0, deck.find('\n'), "./ ADD");
    writeFile(dir / "deck", deck);
    r = runCommand("sh -c " +
                   quote(limited + " --parm NEW --sysin " + quote((dir / "deck").string()) +
                         " --sysprint '<stdout>' --sysut2 " + quote((dir / "lib/SEQ").string())));
    EXPECT_EQ(r.exitCode, 12) << r.out << r.err;
    EXPECT_EQ(readFile(dir / "lib/SEQ"), old);
    for (const auto& e : fs::directory_iterator(dir / "lib"))
        EXPECT_TRUE(e.path().filename() == "BIG" || e.path().filename() == "SEQ")
            << "left behind: " << e.path();
}
