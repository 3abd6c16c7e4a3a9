// bren from the outside: create (quiet, verbose, JSON), every kind of refusal as one line on
// standard error, devices, and a library that is used without connecting.
#include <filesystem>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include "run_command.h"

using namespace testsupport;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

CommandResult bren(const std::string& args) {
    return runCommand(quote(BREN_PATH) + " " + args);
}

// Standard error holds exactly one line.
bool oneLine(const std::string& err) {
    return !err.empty() && err.find('\n') == err.size() - 1;
}

} // namespace

TEST(Bren, CreatesSequentialAndPartitionedFiles) {
    TempDir dir;
    writeFile(dir / "in.txt", "hello\nworld\n");
    const std::string out = (dir / "seq.xmi").string();
    CommandResult r =
        bren("create " + quote(out) + " --dsn my.data " + quote((dir / "in.txt").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    r = bren("create -v " + quote(out) + " --dsn MY.DATA --recfm vb " +
             quote((dir / "in.txt").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("successfully created with 2 records from data set MY.DATA"));
    r = runCommand(quote(OPX_PATH) + " info --json " + quote(out));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto info = nlohmann::json::parse(r.out);
    EXPECT_EQ(info["dataSets"][0]["recfm"], "VB");
    EXPECT_EQ(info["dataSets"][0]["lrecl"], 255);
    EXPECT_EQ(info["dataSets"][0]["blksize"], 27998);

    fs::create_directories(dir / "src");
    writeFile(dir / "src" / "beta.cbl", "B\n");
    writeFile(dir / "src" / "alpha.cbl", "A\n");
    writeFile(dir / "msg.txt", "a message\n");
    const std::string pds = (dir / "pds.xmi").string();
    r = bren("create --json " + quote(pds) +
             " --dsn USER.COBOL --device 3380 --dir-blocks 4 --space +2,5,TRK " + "--message " +
             quote((dir / "msg.txt").string()) + " --from node1.user1 --to node2 " +
             quote((dir / "src" / "&m.cbl").string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["organization"], "partitioned");
    EXPECT_EQ(doc["members"], (std::vector<std::string>{"ALPHA", "BETA"}));
    EXPECT_EQ(doc["directoryBlocks"], 4);
    EXPECT_EQ(doc["blksize"], 23440); // the 3380's half-track size in whole records
    EXPECT_EQ(doc["device"], "3380");
    EXPECT_EQ(doc["size"], fs::file_size(pds));
    r = runCommand(quote(OPX_PATH) + " info --json " + quote(pds));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto pdsInfo = nlohmann::json::parse(r.out);
    EXPECT_EQ(pdsInfo["origin"]["node"], "NODE1");
    EXPECT_EQ(pdsInfo["origin"]["user"], "USER1");
    EXPECT_EQ(pdsInfo["dataSets"][0]["message"], "a message\n");
    EXPECT_EQ(pdsInfo["dataSets"][1]["members"], 2);
}

TEST(Bren, RefusalsAreOneLine) {
    TempDir dir;
    writeFile(dir / "in.txt", std::string(100, 'x') + "\n");
    const std::string in = quote((dir / "in.txt").string()), out = quote((dir / "o.xmi").string());
    struct Case {
        std::string args, text;
    } cases[] = {
        {"create " + out + " --dsn 1BAD " + in, "bren: invalid data set name \"1BAD\""},
        {"create " + out + " --dsn A.B --device 3391 " + in, "bren: unknown device \"3391\""},
        {"create " + out + " --dsn A.B --recfm FBXX1 " + in,
         "bren: invalid record format \"FBXX1\""},
        {"create " + out + " --dsn A.B --recfm FBX " + in,
         "bren: Invalid record format specified!"},
        {"create " + out + " --dsn A.B " + in,
         "bren: Error reading \"" + (dir / "in.txt").string() + "\" record 1: Record is too long"},
        {"create " + out + " --dsn A.B " + quote((dir / "none.txt").string()),
         "bren: Error opening \""},
        {"create " + out + " --dsn A.B --space 5,x " + in, "bren: --space takes"},
        {"create " + out + " --dsn A.B " + quote((dir / "&M.none").string()),
         "bren: No matching files found for"},
        {"create " + out + " --dsn A.B --input-kind cards " + in, "bren: --input-kind must be"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const CommandResult r = bren(c.args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_THAT(r.err, HasSubstr(c.text));
        EXPECT_TRUE(oneLine(r.err)) << r.err;
        EXPECT_FALSE(fs::exists(dir / "o.xmi"));
    }
    const CommandResult usage = bren("create " + out + " " + in);
    EXPECT_NE(usage.exitCode, 0);
    EXPECT_THAT(usage.err, HasSubstr("--dsn is required"));
    const CommandResult help = bren("create --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("--input-kind"));
}

TEST(Bren, CodePagesThatDoNotPair) {
    TempDir dir;
    writeFile(dir / "in.txt", "x\n");
    const CommandResult r = runCommand("CODEPAGE_EBCDIC=290 " + quote(BREN_PATH) + " create " +
                                       quote((dir / "o.xmi").string()) + " --dsn A.B " +
                                       quote((dir / "in.txt").string()));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_THAT(
        r.err,
        HasSubstr("bren: KDU804E ASCII code page 819 and EBCDIC code page 290 are incompatible."));
    EXPECT_TRUE(oneLine(r.err)) << r.err;
}

TEST(Bren, Devices) {
    CommandResult r = bren("devices");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(
        r.out,
        HasSubstr(
            "3390            15          32760       27998             2     27920       16680"));
    r = bren("devices --json --lrecl 133");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(list[6]["name"], "3390");
    EXPECT_EQ(list[6]["bestFixedBlock"], 27930); // 210 records of 133
    EXPECT_EQ(list[0]["blocksPerTrack"], 1);     // the 3330's good block is a whole track
    EXPECT_EQ(list[0]["capacityBytes"], uint64_t(7657) * 13030);
    EXPECT_EQ(list[6]["capacityBytes"], uint64_t(16680) * 2 * 27998);
}

TEST(Bren, UnconnectedLibraryStopsTheProcess) {
    const CommandResult r = runCommand(quote(UNCONNECTED_PATH));
    EXPECT_EQ(r.exitCode, 20);
    EXPECT_THAT(r.err, HasSubstr("DLL is not connected"));
}
