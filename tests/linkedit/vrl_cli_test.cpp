// vrl: the response file of the extractor's relink, quoted values, the command-line options,
// the exit status and the JSON output.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "run_command.h"

using testsupport::quote;
using testsupport::readFile;
using testsupport::runCommand;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string vrl(const std::string& args) {
    return std::string("CODEPAGE_ASCII=819 CODEPAGE_EBCDIC=1047 ") + VRL_PATH + " " + args;
}

} // namespace

TEST(VrlCli, Help) {
    const auto r = runCommand(vrl("--help"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("-@FILE"), std::string::npos);
    EXPECT_NE(r.out.find("--syslmod"), std::string::npos);
}

// Exactly what the relink writes: listing appended, PARM and SYSLMOD, the deck; a value with
// blanks in double quotes.
TEST(VrlCli, RelinkResponseFile) {
    TempDir dir;
    std::filesystem::create_directories(dir / "load dir");
    writeFile(dir / "deck.txt", " ENTRY MAIN\n XYZ  A\n");
    writeFile(dir / "relink list.txt", "first member\n");
    const std::string listing = (dir / "relink list.txt").string();
    writeFile(dir / "response",
              "-asa -sysprint+ \"" + listing + "\"\n" + "-parm \"LET,LIST=ALL\" -syslmod \"" +
                  (dir / "load dir/&M").string() + "\"\n" + (dir / "deck.txt").string() + "\n");
    const auto r = runCommand(vrl("-@" + quote((dir / "response").string())));
    EXPECT_EQ(r.exitCode, 8) << r.err;
    const std::string text = readFile(listing);
    EXPECT_EQ(text.rfind("first member\n1Quorin Linkage Editor 3.0.07", 0), 0u);
    EXPECT_NE(text.find(" VRL000I PARAMETERS - LET,LIST=ALL\n"), std::string::npos);
    EXPECT_NE(text.find(" SYSLMOD          " + (dir / "load dir/&M").string() + "\n"),
              std::string::npos);
    // SYSTERM is standard error.
    EXPECT_NE(r.err.find("VRL106E Operation XYZ is invalid or not supported"), std::string::npos);
    EXPECT_NE(r.err.find("VRL009I Processing completed, return code is 8"), std::string::npos);
}

TEST(VrlCli, Options) {
    TempDir dir;
    writeFile(dir / "a.txt", " INCLUDE SYSLIB(M)\n");
    std::filesystem::create_directories(dir / "lib2");
    writeFile(dir / "lib2/m.obj", " ENTRY FROMLIB\n");
    const std::string args = "--syslib " + quote((dir / "lib1/&m.obj").string()) + " -syslib " +
                             quote((dir / "lib2/&m.obj").string()) + " -syslmod " +
                             quote((dir / "&M").string()) + " -systerm " +
                             quote((dir / "term.txt").string()) + " -sysprint - " +
                             quote((dir / "a.txt").string());
    const auto r = runCommand(vrl(args));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(" VRL100I  ENTRY FROMLIB\n"), std::string::npos);
    EXPECT_EQ(readFile(dir / "term.txt"), "VRL009I Processing completed, return code is 0\n");
    EXPECT_EQ(r.err, "");
}

TEST(VrlCli, Json) {
    TempDir dir;
    writeFile(dir / "a.txt", " XYZ A\n");
    const auto r = runCommand(vrl("--json -parm LET=5 -syslmod " + quote((dir / "&M").string()) +
                                  " " + quote((dir / "a.txt").string())));
    EXPECT_EQ(r.exitCode, 8);
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["returnCode"], 8);
    const auto& messages = j["messages"];
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[0], "VRL110E Parameter error: \"LET=5\" is invalid or not supported");
    EXPECT_EQ(messages.back(), "VRL009I Processing completed, return code is 8");
}

TEST(VrlCli, UsageErrors) {
    TempDir dir;
    for (const std::string& args : {std::string("--nonsense"), "-@" + (dir / "none").string(),
                                    std::string("-parm"), std::string("--trace 9")}) {
        const auto r = runCommand(vrl(args));
        EXPECT_EQ(r.exitCode, 16) << args;
        EXPECT_EQ(r.err.rfind("vrl: ", 0), 0u) << args;
    }
    writeFile(dir / "bad", "-parm \"LET\n");
    const auto r = runCommand(vrl("-@" + quote((dir / "bad").string())));
    EXPECT_EQ(r.exitCode, 16);
    EXPECT_NE(r.err.find("no closing quote"), std::string::npos);
}
