// opx from the outside: info and list as text and JSON, a refused file, and the trace option.
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "run_command.h"
#include "shared_dir.h"
#include "xmit_writer.h"

using namespace testsupport;

namespace {

const std::string kOpx = OPX_PATH;

CommandResult opx(const std::string& args) {
    return runCommand(quote(kOpx) + " " + args);
}

std::string makeFile(const TempDir& dir, bool load = false) {
    xmitw::Pds pds;
    pds.dsname = load ? "DEMO.LOAD" : "DEMO.SOURCE";
    if (load) {
        pds.recfm = 0xC0;
        pds.lrecl = 0;
        pds.blksize = 6144;
        xmitw::Member m;
        m.name = "PROGA";
        m.records = {xmitw::Bytes(32, 0x07)};
        m.userData = xmitw::Bytes(22, 0);
        m.userData[8] = 0x82;  // RENT, executable
        m.userData[12] = 0x30; // size 0x30
        m.userData[19] = 0x02; // AMODE 31
        m.aliases = {"PROGB"};
        pds.members.push_back(m);
    } else {
        for (const char* name : {"ALPHA", "BETA"}) {
            xmitw::Member m;
            m.name = name;
            m.records = {xmitw::ebcdic(std::string(80, 'A'))};
            m.stats = xmitw::IspfStats{1, 2, 121063, 123324, 0x14, 0x05, "IBMUSER", false};
            pds.members.push_back(m);
        }
    }
    std::vector<std::string> message = {"A MESSAGE LINE"};
    auto image = xmitw::fileImage(xmitw::collect([&](const xmitw::Emit& e) {
        xmitw::pdsTransmit(pds, e, {"NODEX", "USERX", "20261208101010"}, load ? nullptr : &message);
    }));
    const std::string path = (dir / (load ? "load.xmit" : "source.xmit")).string();
    writeFile(path, std::string(image.begin(), image.end()));
    return path;
}

} // namespace

TEST(Opx, InfoAndList) {
    TempDir dir;
    const std::string file = makeFile(dir);
    CommandResult r = opx("info " + quote(file));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Origin:   node NODEX, user USERX, time 20261208101010"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Data set 1: message"), std::string::npos);
    EXPECT_NE(r.out.find("    A MESSAGE LINE\n"), std::string::npos);
    EXPECT_NE(r.out.find("Data set 2: partitioned\n  Name:          DEMO.SOURCE"),
              std::string::npos);
    EXPECT_NE(r.out.find("  Members:       2\n"), std::string::npos);

    r = opx("list " + quote(file));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Member    Alias of  Ver.Mod  -Created--  --Last Changed--  User     "
                     "  Records      Bytes  Content\n"
                     "ALPHA                 1.002  2021-03-04  2023-11-20 14:05  IBMUSER  "
                     "        1         80  text\n"
                     "BETA                  1.002  2021-03-04  2023-11-20 14:05  IBMUSER  "
                     "        1         80  text\n");
    EXPECT_EQ(opx("list " + quote(file) + " 2").out, r.out) << "data set 2 is the default";
    r = opx("list " + quote(file) + " 1");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("Directory information is not available"), std::string::npos);
    r = opx("list " + quote(file) + " 3");
    EXPECT_NE(r.err.find("Data set 3 was not transmitted"), std::string::npos);
}

TEST(Opx, Json) {
    TempDir dir;
    CommandResult r = opx("info --json " + quote(makeFile(dir)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["origin"]["user"], "USERX");
    ASSERT_EQ(doc["dataSets"].size(), 2u);
    EXPECT_EQ(doc["dataSets"][0]["kind"], "message");
    EXPECT_EQ(doc["dataSets"][0]["message"], "A MESSAGE LINE\n");
    EXPECT_EQ(doc["dataSets"][1]["kind"], "partitioned");
    EXPECT_EQ(doc["dataSets"][1]["lrecl"], 80);
    EXPECT_EQ(doc["dataSets"][1]["members"], 2);
    EXPECT_EQ(doc["dataSets"][1]["encrypted"], false);

    r = opx("list --json " + quote(makeFile(dir)));
    doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["members"][1]["name"], "BETA");
    EXPECT_EQ(doc["members"][1]["version"], 1);
    EXPECT_EQ(doc["members"][1]["modification"], 2);
    EXPECT_EQ(doc["members"][1]["created"], "2021-03-04");
    EXPECT_EQ(doc["members"][1]["user"], "IBMUSER");
    EXPECT_EQ(doc["members"][1]["changed"], "2023-11-20");
    EXPECT_EQ(doc["members"][1]["changedTime"], "14:05");

    r = opx("list --json " + quote(makeFile(dir, true)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["loadLibrary"], true);
    EXPECT_EQ(doc["members"][0]["name"], "PROGA");
    EXPECT_EQ(doc["members"][0]["size"], 0x30);
    EXPECT_EQ(doc["members"][0]["amode"], "31");
    EXPECT_EQ(doc["members"][0]["attributes"], nlohmann::json::array({"RN"}));
    EXPECT_EQ(doc["members"][1]["name"], "PROGB");
    EXPECT_EQ(doc["members"][1]["aliasOf"], "PROGA");
}

TEST(Opx, LoadLibraryHeading) {
    TempDir dir;
    CommandResult r = opx("list " + quote(makeFile(dir, true)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "Member    Alias of  Size    Entry   AMODE  RMODE  AC  ------Attributes-------"
              "   Records      Bytes  Content");
    // The alias shares its member's data: one block of 32 bytes, binary.
    EXPECT_NE(r.out.find("PROGB     PROGA     000030  000000   31     24           RN" +
                         std::string(27, ' ') + "1         32  binary\n"),
              std::string::npos)
        << r.out;
}

TEST(Opx, RefusedFilesAndTrace) {
    TempDir dir;
    writeFile(dir / "bad.xmit", std::string(80, 'x'));
    CommandResult r = opx("info " + quote((dir / "bad.xmit").string()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Invalid TSO TRANSMIT file (bad file size)"), std::string::npos) << r.err;
    r = opx("list " + quote((dir / "missing.xmit").string()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos);
    const std::string file = makeFile(dir);
    r = opx("--trace 2 info " + quote(file));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("File \"" + file + "\" opened for rb.\n"), std::string::npos) << r.err;
    r = opx("--trace 9 info " + quote(file));
    EXPECT_NE(r.exitCode, 0);
    // Code pages that do not fit together are refused with the library's message.
    r = runCommand("CODEPAGE_ASCII=1252 CODEPAGE_EBCDIC=1026 " + quote(kOpx) + " info " +
                   quote(file));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(
        r.err.find("KDU804E ASCII code page 1252 and EBCDIC code page 1026 are incompatible."),
        std::string::npos)
        << r.err;
    r = opx("");
    EXPECT_NE(r.exitCode, 0);
}

TEST(OpxExtract, MembersIntoAFolder) {
    TempDir dir;
    const std::string file = makeFile(dir);
    const std::string folder = (dir / "out").string();
    CommandResult r = opx("extract " + quote(file) + " -o " + quote(folder + "/") + " --strip");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "created  " + folder + "/ALPHA (1 records)\ncreated  " + folder +
                         "/BETA (1 records)\n"
                         "2 created, 0 replaced, 0 skipped, 2 records\n");
    EXPECT_EQ(readFile(dir / "out" / "ALPHA"), std::string(80, 'A') + "\n");
    // Again: existing files are skipped by default, replaced on request.
    r = opx("extract " + quote(file) + " -o " + quote(folder));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("skipped  ALPHA " + folder + "/ALPHA: exists"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("0 created, 0 replaced, 2 skipped"), std::string::npos);
    r = opx("extract " + quote(file) + " -o " + quote(folder + "/&m.txt") +
            " --replace always BETA");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "out" / "beta.txt"), std::string(80, 'A') + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "alpha.txt"));
    r = opx("extract --json " + quote(file) + " -o " + quote(folder + "/&M.dump") + " --type dump");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["created"], 2);
    EXPECT_EQ(doc["results"][0]["result"], "created");
    EXPECT_EQ(doc["results"][0]["member"], "ALPHA");
    EXPECT_EQ(readFile(dir / "out" / "ALPHA.dump").rfind("Dump of DEMO.SOURCE(ALPHA)\n", 0), 0u);
}

// -o without "&M" names a folder for members (made when missing) and a file for a sequential
// data set; a file where members need a folder is refused with a message that says what to do.
TEST(OpxExtract, OutputFolderIsMadeForMembers) {
    TempDir dir;
    const std::string file = makeFile(dir);
    const std::string folder = (dir / "new" / "out").string();
    CommandResult r = opx("extract " + quote(file) + " -o " + quote(folder));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "new" / "out" / "ALPHA"), std::string(80, 'A') + "\n");
    const std::string seq = (dir / "seq" / "message").string();
    r = opx("extract " + quote(file) + " 1 -o " + quote(seq));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(seq)) << "a sequential data set goes to a file";
    r = opx("extract " + quote(file) + " -o " + quote(seq));
    EXPECT_EQ(r.exitCode, 12);
    EXPECT_EQ(r.err, "opx: " + seq +
                         " is a file: for the members of a partitioned data set, -o names a "
                         "folder or a pattern with &M or &m (such as out/&m.txt)\n");
}

// Records of undefined format are as long as their blocks: the default record length for them
// is the block size, whatever LRECL the file gives.
TEST(OpxExtract, UndefinedRecordsDefaultToTheBlockSize) {
    TempDir dir;
    xmitw::Pds pds;
    pds.dsname = "DEMO.LOAD";
    pds.recfm = 0xC0;
    pds.lrecl = 256;
    pds.blksize = 6144;
    xmitw::Member m;
    m.name = "BIG";
    m.records = {xmitw::Bytes(1000, 0x47), xmitw::Bytes(300, 0x11)};
    pds.members.push_back(m);
    auto image =
        xmitw::fileImage(xmitw::collect([&](const xmitw::Emit& e) { xmitw::pdsTransmit(pds, e); }));
    const std::string file = (dir / "u.xmit").string();
    writeFile(file, std::string(image.begin(), image.end()));
    CommandResult r = opx("extract " + quote(file) + " -o " + quote((dir / "out").string()) +
                          " --type convert --format bytes");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "out" / "BIG"), std::string(1000, '\x47') + std::string(300, '\x11'));
    r = opx("extract " + quote(file) + " -o " + quote((dir / "cut").string()) +
            " --type convert --format bytes --lrecl 256");
    EXPECT_EQ(r.exitCode, 8) << "a record length given is kept";
}

TEST(OpxExtract, ErrorsGiveTheSeverity) {
    TempDir dir;
    const std::string file = makeFile(dir);
    CommandResult r =
        opx("extract " + quote(file) + " -o " + quote((dir / "x").string() + "/") + " NOSUCH");
    EXPECT_EQ(r.exitCode, 12);
    EXPECT_NE(r.err.find("Member \"NOSUCH\" not found in"), std::string::npos) << r.err;
    r = opx("extract " + quote(file) + " 1 -o " + quote((dir / "msg.txt").string()));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "msg.txt").substr(0, 14), "A MESSAGE LINE");
    r = opx("extract " + quote(file) + " -o " + quote((dir / "y").string() + "/") +
            " --lrecl 10 --type convert --format bytes");
    EXPECT_EQ(r.exitCode, 8) << r.err;
    EXPECT_NE(r.err.find("Record would be truncated"), std::string::npos);
    r = opx("extract " + quote(file) + " --type sideways");
    EXPECT_EQ(r.exitCode, 2);
}

TEST(OpxExtract, PdseUnloads) {
    REQUIRE_SHARED(file, "corpus/xmit/pdse/ibm_Pwdcopy_jcl_old_PDSE.xmit");
    CommandResult r = opx("info " + quote(file));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Data set 1: partitioned (PDSE)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  Members:       2\n"), std::string::npos) << r.out;
    r = opx("list " + quote(file));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Member    Alias of  Ver.Mod  -Created--  --Last Changed--  User     "
                     "  Records      Bytes  Content\n"
                     "ICHPSIN               1.002  2011-09-21  2011-09-21 10:41  DPFTC    "
                     "       77       6160  text\n"
                     "ICHPSOUT              1.001  2011-09-21  2011-09-21 10:42  DPFTC    "
                     "       78       6240  text\n");
    TempDir dir;
    r = opx("extract " + quote(file) + " -o " + quote((dir / "jcl").string() + "/"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("2 created, 0 replaced, 0 skipped, 155 records"), std::string::npos)
        << r.out;
}

namespace {

unsigned modeOf(const std::filesystem::path& p) {
    return static_cast<unsigned>(std::filesystem::status(p).permissions()) & 0777u;
}

} // namespace

// Written files get the mode a new file gets from the umask; a replaced file keeps its own.
TEST(OutputModes, NewFilesFollowTheUmaskReplacedFilesKeepTheirs) {
    TempDir dir;
    const std::string file = makeFile(dir);
    const std::string cpconvPath = CPCONV_PATH;
    const std::string seq = (dir / "seq.txt").string(), conv = (dir / "conv.txt").string();
    writeFile(seq, "text\n");
    for (const char* umask : {"022", "027"}) {
        const std::filesystem::path out = dir / (std::string("out") + umask);
        CommandResult r =
            runCommand("umask " + std::string(umask) + "; " + quote(kOpx) + " extract " +
                       quote(file) + " -o " + quote(out.string() + "/"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const unsigned expected = 0666u & ~std::stoul(umask, nullptr, 8);
        EXPECT_EQ(modeOf(out / "ALPHA"), expected) << umask;
        r = runCommand("umask " + std::string(umask) + "; " + quote(cpconvPath) +
                       " -f 819 -t 1047 -o " + quote(conv) + " " + quote(seq));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(modeOf(conv), expected) << umask;
        std::filesystem::remove(conv);
    }
    // Replaced: the old mode stays, whatever the umask.
    const std::filesystem::path alpha = dir / "out022" / "ALPHA";
    std::filesystem::permissions(alpha, static_cast<std::filesystem::perms>(0640));
    CommandResult r = runCommand("umask 077; " + quote(kOpx) + " extract " + quote(file) +
                                 " --replace always -o " + quote((dir / "out022").string() + "/"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("replaced"), std::string::npos);
    EXPECT_EQ(modeOf(alpha), 0640u);
    writeFile(conv, "old");
    std::filesystem::permissions(conv, static_cast<std::filesystem::perms>(0604));
    r = runCommand("umask 077; " + quote(cpconvPath) + " -f 819 -t 1047 -o " + quote(conv) + " " +
                   quote(seq));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(modeOf(conv), 0604u);
}

// A code page variable whose value is not taken gets one warning line naming the page in use.
TEST(Opx, IgnoredCodePageVariablesAreReported) {
    TempDir dir;
    const std::string file = makeFile(dir);
    const struct {
        const char* environment;
        const char* warning; // "" for none
    } cases[] = {
        {"CODEPAGE_EBCDIC=9999",
         "opx: warning: CODEPAGE_EBCDIC=9999 is not an EBCDIC code page "
         "number; using 1047 instead (cpconv --list shows the code pages)\n"},
        {"CODEPAGE_EBCDIC=819",
         "opx: warning: CODEPAGE_EBCDIC=819 is not an EBCDIC code page "
         "number; using 1047 instead (cpconv --list shows the code pages)\n"},
        {"CODEPAGE_ASCII=latin1",
         "opx: warning: CODEPAGE_ASCII=latin1 is not an ASCII code page "
         "number; using 819 instead (cpconv --list shows the code pages)\n"},
        {"CODEPAGE_EBCDIC=037", ""},
        {"CODEPAGE_ASCII=1252 CODEPAGE_REPORT=1208", ""},
    };
    for (const auto& c : cases) {
        CommandResult r = runCommand(std::string("env ") + c.environment + " " + quote(kOpx) +
                                     " list " + quote(file));
        EXPECT_EQ(r.exitCode, 0) << c.environment;
        EXPECT_EQ(r.err, c.warning) << c.environment;
    }
}

// A sequential data set without a name is written under the transmit file's name, and opx info
// says so; a data set name is used as it is.
TEST(OpxExtract, UnnamedSequentialDataSetsTakeTheFileName) {
    TempDir dir;
    const std::vector<xmitw::Bytes> records = {xmitw::ebcdic(std::string(80, 'Q'))};
    auto write = [&](const std::string& name, const std::string& dsname) {
        auto image = xmitw::fileImage(xmitw::collect([&](const xmitw::Emit& e) {
            xmitw::sequentialTransmit(dsname, 0x90, 80, 800, records, e);
        }));
        const std::string path = (dir / name).string();
        writeFile(path, std::string(image.begin(), image.end()));
        return path;
    };
    const struct {
        const char* file;
        const char* dsname;
        const char* target;
    } cases[] = {{"test_seq.xmi", "", "test_seq"},
                 {"plain", "", "plain.data"},
                 {"named.xmit", "USER.DATA.SET", "USER.DATA.SET"}};
    for (const auto& c : cases) {
        const std::string file = write(c.file, c.dsname);
        CommandResult r = opx("info " + quote(file));
        EXPECT_NE(r.out.find(std::string("  Extracts to:   ") + c.target + "\n"), std::string::npos)
            << r.out;
        r = opx("extract " + quote(file) + " -o " + quote((dir / "out").string() + "/"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(readFile(dir / "out" / c.target), std::string(80, 'Q') + "\n") << c.file;
    }
}
