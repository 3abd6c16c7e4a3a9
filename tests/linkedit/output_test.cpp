// The saved member: the bytes of each output format, the records read back by the extractor's
// load-module reader and through bren and opx, the rules for replacing and for modules with
// errors, the save summaries of the listing, aliases, and a member that is replaced only when
// the new one is complete.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "linkedit_support.h"
#include "loadmodule.h"

using namespace lt;

namespace {

uint32_t be(const std::string& s, size_t at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
    return v;
}

std::string hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (char c : bytes) {
        std::snprintf(b, sizeof b, "%02X", static_cast<unsigned char>(c));
        out += b;
    }
    return out;
}

// A module saved with COMPAT=LKED, read by the extractor's reader from its records and the
// directory entry of its header.
struct ReadBack {
    opx::LoadModuleImage image;
    std::string error;
};
ReadBack readBack(const std::string& file) {
    ReadBack r;
    if (file.size() < 256) {
        r.error = "short";
        return r;
    }
    const unsigned userLength = static_cast<uint8_t>(file[28]) - 4u;
    std::vector<uint8_t> entry(12, 0);
    entry[11] = static_cast<uint8_t>(file[33]);
    entry.insert(entry.end(), file.begin() + 34, file.begin() + 34 + userLength);
    opx::LoadModuleReader reader(entry.data(), static_cast<unsigned>(entry.size()), r.image);
    size_t at = be(file, 204, 4);
    const uint32_t count = be(file, at + 8, 4);
    at += 16;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t n = be(file, at, 2);
        if (!reader.record(reinterpret_cast<const uint8_t*>(file.data() + at + 2), n)) break;
        at += 2 + n;
    }
    if (!reader.finish() || !reader.error().empty()) r.error = reader.error();
    return r;
}

struct Save {
    TempDir dir;
    JobSpec setup;
    std::string obj(const std::string& name, const std::vector<Card>& cards) {
        writeFile(dir / name, deck(cards));
        return (dir / name).string();
    }
    std::string text(const std::string& name, const std::vector<std::string>& lines) {
        writeFile(dir / name, statements(lines));
        return (dir / name).string();
    }
    JobResult run(const std::vector<std::string>& syslin, const char* parm) {
        setup.parm = parm;
        setup.syslin = syslin;
        return runJob(dir, setup);
    }
};

// One section A of 8 bytes.
std::vector<Card> small() {
    return {esd(1, {sd("A", 0, 8)}), txt(1, 0, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)),
            end()};
}

} // namespace

// COMPAT=LMF: the records alone, each behind its length; every byte written out here.
TEST(Output, LoadModuleRecords) {
    Save s;
    s.setup.member = "PROG";
    const JobResult r = s.run({s.obj("a.obj", small())}, "COMPAT=LMF,NCAL");
    EXPECT_EQ(r.rc, 0);
    const std::string expected =
        // CESD: X'20', flags kept, first ESDID 1, 16 bytes; A, SD, address 0, AMODE 24, length 8.
        "0018"
        "20800000"
        "0001"
        "0010"
        "C1404040404040400000000011000008"
        // IDR of the linkage editor: "5695DF108 ", version 1, modification 4, 2025 day 5, 13:45:30.
        "0016"
        "801582"
        "F5F6F9F5C4C6F1F0F840"
        "0104"
        "25005F"
        "0134530F"
        // Control record (text follows, end of module), text of 8 bytes at 0, section 1.
        "0014"
        "0D000000"
        "0004"
        "0000"
        "0600000000000008"
        "00010008"
        // The text.
        "0008"
        "0102030405060708";
    EXPECT_EQ(hex(readFile(s.dir / "load/PROG")), expected);
}

// Each COMPAT level writes its own format, named in the save summary.
TEST(Output, Formats) {
    Save s;
    s.setup.member = "PROG";
    const std::string a = s.obj("a.obj", small());
    struct Case {
        const char* parm;
        const char* format;
        std::string start; // the first bytes of the file, in hexadecimal
    };
    const Case cases[] = {
        {"COMPAT=LMF", "LOAD MODULE FORMAT RECORDS", "001820"},
        {"COMPAT=LKED", "PROGRAM OBJECT (LKED COMPATIBLE)", "F3F9F04000000002"},
        {"COMPAT=PM1", "PROGRAM OBJECT", "F3F9F04000000002"},
        {"COMPAT=PM2", "PROGRAM OBJECT", "F3F9F04000000002"},
        {"", "PROGRAM OBJECT", "F3F9F04000000002"},
        {"COMPAT=TEXTONLY", "LOAD IMAGE FILE", "0102030405060708"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(s.dir / "load/PROG");
        const JobResult r = s.run({a}, (std::string(c.parm) + ",NCAL").c_str());
        EXPECT_TRUE(r.listed("   FORMAT           " + std::string(c.format))) << c.parm;
        const std::string file = readFile(s.dir / "load/PROG");
        EXPECT_EQ(hex(file.substr(0, c.start.size() / 2)), c.start) << c.parm;
        if (c.start.rfind("F3F9", 0) == 0) {
            // The program object header: save time, module size, LKED part or LD descriptor.
            EXPECT_EQ(file.substr(10, 14), ebcdic("20250105134530")) << c.parm;
            EXPECT_EQ(be(file, 116, 4), 8u) << c.parm;
            const bool lked = std::string(c.parm) == "COMPAT=LKED";
            EXPECT_EQ(be(file, 196, 4) != 0, lked) << c.parm;
            EXPECT_EQ(hex(file.substr(256, 2)), lked ? "D3D4" : "D3C4") << c.parm;
        }
    }
    EXPECT_EQ(readFile(s.dir / "load/PROG").size(), 8u); // TEXTONLY: the text alone
}

// A module of two object modules with A- and V-type constants, an entry point and aliases,
// saved with COMPAT=LKED: the extractor reads it back with the same sections, text,
// relocation, entry point and attributes; bren transmits it and opx lists it.
TEST(Output, ReadBackThroughTheExtractor) {
    Save s;
    const std::string main =
        s.obj("main.obj", {esd(1, {sd("MAIN", 0, 16), er("SUB")}),
                           txt(1, 0, std::string("\x05\xEF\0\0\0\0\0\0\0\0\0\x08\0\0\0\0", 16)),
                           rld(rldEntry(2, 1, 0x1C, 4) + rldEntry(1, 1, 0x0C, 8)),
                           end(1, 0, "",
                               {"5695HLASM 0106"
                                "25005"})});
    const std::string sub =
        s.obj("sub.obj", {esd(1, {sd("SUB", 0, 8), ld("SUBE", 4, 1)}),
                          txt(1, 0, std::string("\x07\xFE\0\0\x07\xFE\0\0", 8)), end()});
    const std::string ctl =
        s.text("ctl.txt", {" ALIAS OTHER,SECOND(SUBE),PROG", " IDENTIFY MAIN('v1')",
                           " SETCODE AC(1)", " NAME PROG(R)"});
    const JobResult r = s.run({main, sub, ctl}, "COMPAT=LKED,NCAL,RENT,LIST=ALL");
    EXPECT_EQ(r.rc, 0);
    const ReadBack back = readBack(readFile(s.dir / "load/PROG"));
    ASSERT_EQ(back.error, "");
    const opx::LoadModuleImage& m = back.image;
    EXPECT_EQ(m.info.moduleSize, 24u);
    EXPECT_EQ(m.info.entryPoint, 0u);
    EXPECT_EQ(m.info.flags & 0xFF, 1u); // AC 1
    EXPECT_TRUE(m.info.flags & DE_RENT);
    EXPECT_TRUE(m.info.flags & DE_REUS);
    EXPECT_FALSE(m.info.flags & DE_NOT_EXECUTABLE);
    ASSERT_EQ(m.cesd.size(), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.cesd[0].bytes), 8), ebcdic("MAIN    "));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.cesd[1].bytes), 8), ebcdic("SUB     "));
    EXPECT_EQ(m.cesd[1].address, 16u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.cesd[2].bytes), 8), ebcdic("SUBE    "));
    EXPECT_EQ(m.cesd[2].address, 20u);
    // V(SUB) holds SUB's offset; A(MAIN+8) stays 8.
    EXPECT_EQ(hex(std::string(m.text.begin(), m.text.end())),
              "05EF000000000010000000080000000007FE000007FE0000");
    ASSERT_EQ(m.cesd[0].relocation.size(), 2u);
    EXPECT_EQ(m.cesd[0].relocation[0].flags, 0x1C);
    EXPECT_EQ(m.cesd[0].relocation[0].address, 4u);
    EXPECT_EQ(m.cesd[0].relocation[0].relocationPointer, m.cesd[1].esdid);
    EXPECT_EQ(m.cesd[0].relocation[1].relocationPointer, m.cesd[0].esdid);
    EXPECT_EQ(m.cesd[0].translatorCount, 1u);
    EXPECT_EQ(m.cesd[0].identifyLength, 2u);
    EXPECT_EQ(m.linkEditLength, 19u);

    // The aliases: their own files, marked as aliases, with their entry points; an alias of the
    // member's own name does not write over the member.
    EXPECT_FALSE(static_cast<uint8_t>(readFile(s.dir / "load/PROG")[33]) & 0x80);
    const std::string second = readFile(s.dir / "load/SECOND");
    ASSERT_GT(second.size(), 256u);
    EXPECT_TRUE(static_cast<uint8_t>(second[33]) & 0x80);
    EXPECT_EQ(be(second, 34 + 15, 3), 20u);
    EXPECT_TRUE(r.listed("   OTHER        ALIAS         24    00000000   added"));
    EXPECT_TRUE(r.listed("   SECOND       ALIAS         24    00000014   added"));
    EXPECT_TRUE(r.listed("   MAIN         MAIN_EP       24    00000000   B_TEXT"));

    // bren accepts the module and opx shows it.
    std::filesystem::create_directories(s.dir / "xmit");
    std::filesystem::copy_file(s.dir / "load/PROG", s.dir / "xmit/PROG");
    const std::string env = "CODEPAGE_ASCII=819 CODEPAGE_EBCDIC=1047 ";
    auto bren = testsupport::runCommand(env + BREN_PATH + " create " +
                                        testsupport::quote((s.dir / "load.xmi").string()) +
                                        " --dsn USER.LOAD --recfm U --input-kind load " +
                                        testsupport::quote((s.dir / "xmit/&M").string()));
    ASSERT_EQ(bren.exitCode, 0) << bren.err;
    auto opx = testsupport::runCommand(env + OPX_PATH + " extract --type text -o " +
                                       testsupport::quote((s.dir / "out/&M.txt").string()) + " " +
                                       testsupport::quote((s.dir / "load.xmi").string()));
    ASSERT_EQ(opx.exitCode, 0) << opx.err;
    const std::string listing = readFile(s.dir / "out/PROG.txt");
    EXPECT_NE(listing.find("CESD 0001  CSECT MAIN"), std::string::npos) << listing;
    EXPECT_NE(listing.find("CESD 0002  CSECT SUB"), std::string::npos);
    EXPECT_NE(listing.find("ENTRY SUBE"), std::string::npos);
    // bren refuses an alias member.
    std::filesystem::copy_file(s.dir / "load/SECOND", s.dir / "xmit/SECOND");
    bren = testsupport::runCommand(env + BREN_PATH + " create " +
                                   testsupport::quote((s.dir / "load2.xmi").string()) +
                                   " --dsn USER.LOAD --recfm U --input-kind load " +
                                   testsupport::quote((s.dir / "xmit/&M").string()));
    EXPECT_NE(bren.err.find("Member SECOND is an alias and cannot be transmitted."),
              std::string::npos);
}

// The save rules: a member name, an existing member, modules with errors, STORENX.
TEST(Output, SaveRules) {
    Save s;
    const std::string a = s.obj("a.obj", small());
    const std::string bad = s.text("bad.txt", {" XYZ A"});
    JobResult r = s.run({a}, "NCAL");
    EXPECT_TRUE(r.listed("VRL022S Module not saved because NAME statement is missing."));
    EXPECT_EQ(r.rc, 12);
    r = s.run({a, s.text("n.txt", {" NAME PROG"})}, "NCAL");
    EXPECT_EQ(r.rc, 0);
    EXPECT_TRUE(r.listedPrefix("VRL020I PROG has been added with AMODE=24 and RMODE=24 as file"));
    r = s.run({a, s.text("n.txt", {" NAME PROG"})}, "NCAL");
    EXPECT_TRUE(
        r.listed("VRL021S Module not saved because SYSLMOD(PROG) already exists as file \"" +
                 (s.dir / "load/PROG").string() + "\"."));
    r = s.run({a, s.text("r.txt", {" NAME PROG(R)"})}, "NCAL");
    EXPECT_TRUE(r.listedPrefix("VRL020I PROG has been replaced"));
    // Errors above LET: stored not executable only when STORENX allows it.
    r = s.run({a, bad, s.text("r.txt", {" NAME PROG(R)"})}, "NCAL");
    // A message of more than 120 characters goes on in a second listing line.
    EXPECT_TRUE(r.listed("VRL023S Module not replaced because of previous errors with a severity "
                         "greater than LET=4 option with STORENX=NOREPLACE"));
    EXPECT_TRUE(r.listed("option."));
    r = s.run({a, bad, s.text("r.txt", {" NAME NEW(R)"})}, "NCAL");
    EXPECT_TRUE(r.listedPrefix("VRL020I NEW has been added"));
    EXPECT_TRUE(r.listed("   EXECUTABLE       NO"));
    r = s.run({a, bad, s.text("r.txt", {" NAME NEVER(R)"})}, "NCAL,STORENX=NEVER");
    EXPECT_TRUE(r.listed("VRL023S Module not saved because of previous errors with a severity "
                         "greater than LET=4 option with STORENX=NEVER option."));
    EXPECT_EQ(r.rc, 12);
    EXPECT_FALSE(std::filesystem::exists(s.dir / "load/NEVER"));
    r = s.run({a, bad, s.text("r.txt", {" NAME PROG(R)"})}, "NCAL,STORENX");
    EXPECT_TRUE(r.listedPrefix("VRL020I PROG has been replaced"));
    r = s.run({a, bad, s.text("r.txt", {" NAME PROG(R)"})}, "NCAL,LET=8");
    EXPECT_TRUE(r.listed("   EXECUTABLE       YES"));
    // A pattern with &m: the member in lower case.
    s.setup.syslmod = (s.dir / "load/&m.bin").string();
    r = s.run({a, s.text("n.txt", {" NAME PROG"})}, "NCAL");
    EXPECT_TRUE(std::filesystem::exists(s.dir / "load/prog.bin"));
    // The folder is not there: the member cannot be created.
    s.setup.syslmod = (s.dir / "none/&M").string();
    r = s.run({a, s.text("n.txt", {" NAME PROG"})}, "NCAL");
    EXPECT_TRUE(r.listedPrefix("VRL018S Error creating SYSLMOD(PROG): No such file or directory"));
    EXPECT_EQ(r.rc, 12);
}

// Block sizes: 1024 with DC, else MAXBLK, or the caller's smaller SYSLMOD block size.
TEST(Output, BlockSize) {
    Save s;
    s.setup.member = "PROG";
    const std::string a = s.obj("a.obj", small());
    struct Case {
        const char* parm;
        unsigned blksize;
        const char* shown;
    };
    for (const Case c :
         {Case{"COMPAT=LKED,NCAL,DC", 0, "1024"}, Case{"COMPAT=LKED,NCAL", 6144, "6144"},
          Case{"COMPAT=LKED,NCAL", 200, "32760"},
          Case{"COMPAT=LKED,NCAL,MAXBLK=4099", 0, "4096"}}) {
        s.setup.blksize = c.blksize;
        const JobResult r = s.run({a}, c.parm);
        EXPECT_TRUE(r.listed(std::string("   BLOCK SIZE       ") + c.shown)) << c.parm << c.blksize;
    }
}

// A write that fails leaves the old member as it was: the new one is written beside it and
// renamed only when complete.
TEST(Output, FailedWriteKeepsTheOldMember) {
    Save s;
    s.setup.member = "PROG";
    s.setup.sysprint = "";
    const std::string big = s.obj("big.obj", {esd(1, {sd("A", 0, 4096)}), end()});
    std::filesystem::create_directories(s.dir / "load");
    writeFile(s.dir / "load/PROG", "the old member");
    const std::string term = (s.dir / "term.txt").string();
    s.setup.systerm = term;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const JobResult r = runJob(s.dir, [&] {
            JobSpec setup = s.setup;
            setup.parm = "NCAL";
            setup.syslin = {big};
            return setup;
        }());
        ::_exit(r.rc);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 16);
    EXPECT_EQ(readFile(s.dir / "load/PROG"), "the old member");
    const std::string messages = readFile(term);
    EXPECT_NE(messages.find("VRL017T Error writing to SYSLMOD(PROG): File too large, PATH=" +
                            (s.dir / "load/PROG").string()),
              std::string::npos)
        << messages;
    for (const auto& e : std::filesystem::directory_iterator(s.dir / "load"))
        EXPECT_EQ(e.path().filename(), "PROG"); // no temporary file left behind
}

// The listing of a saved module, line for line: map, options, save summary, attributes, entry.
TEST(Output, SaveSummaryListing) {
    Save s;
    s.setup.member = "PROG";
    const JobResult r = s.run({s.obj("a.obj", small())}, "NCAL,MAP,WKSPACE=(200,2048)");
    EXPECT_EQ(r.rc, 0);
    const std::string path = (s.dir / "load/PROG").string();
    const std::string source = (s.dir / "a.obj").string();
    std::vector<std::string> expected{
        "VRL210I ENTRY defaults to section A.",
        std::string(45, ' ') + "***  M O D U L E   M A P  ***",
        "-----------------------",
        "CLASS  B_TEXT            LENGTH=       8  ATTRIBUTES=CAT,LOAD,RMODE=24,ALIGN=8",
        " SECTION    CLASS                                                     "
        "--------SOURCE--------",
        "  OFFSET   OFFSET  NAME                               TYPE    LENGTH  DDNAME   SEQ  "
        "MEMBER",
        "                0  " + pad("A", 32) + "   CSECT        8  SYSLIN      1",
        "***  SOURCE SUMMARY   ***",
        "DDNAME     SEQ   PATH",
        "--------   ---   ----------------",
        "SYSLIN       1   " + source,
        std::string(38, ' ') + "***  E N D   O F   M O D U L E   M A P  ***",
        "VRL020I PROG has been added with AMODE=24 and RMODE=24 as file \"" + path + "\".",
        "PROCESSING OPTIONS:",
        "   AC               0",
        "   ALIGN2           NO",
        "   AMODE            UNSPECIFIED",
        "   CALL             NO",
        "   CASE             UPPER",
        "   COMPAT           UNSPECIFIED",
        "   DC               NO",
        "   DCBS             NO",
        "   DEBUG            UNSPECIFIED",
        "   EDIT             YES",
        "   EP               UNSPECIFIED",
        "   FETCHOPT         NOPACK,NOPRIME",
        "   HOBSET           NO",
        "   LET              4",
        "   LINECT           60",
        "   LIST             SUMMARY",
        "   LISTPRIV         NO",
        "   MAP              YES",
        "   MAXBLK           32760",
        "   MSGLEVEL         0",
        "   OL               NO",
        "   PRINT            YES",
        "   REUS             UNSPECIFIED",
        "   RMODE            UNSPECIFIED",
        "   SCTR             NO",
        "   SSI              UNSPECIFIED",
        "   STORENX          NOREPLACE",
        "   TERM             YES",
        "   TEST             NO",
        "   UPCASE           NO",
        "   WKSPACE          200K,2048K",
        "   XREF             NO",
        "SAVE OPERATION SUMMARY:",
        "   MEMBER NAME      PROG",
        "   FILE NAME        " + path,
        "   FORMAT           PROGRAM OBJECT",
        "   DISPOSITION      ADDED",
        "   DATE AND TIME    2025-01-05 13.45.30",
        "SAVED MODULE ATTRIBUTES:",
        "   AC               0",
        "   AMODE            24",
        "   COMPAT           MIN",
        "   DEBUG            YES",
        "   EDITABLE         YES",
        "   EXCEEDS 16 MB    NO",
        "   EXECUTABLE       YES",
        "   OL               NO",
        "   PAGE ALIGNED     NO",
        "   REFR             NO",
        "   RENT             NO",
        "   SSI              UNSPECIFIED",
        "   SYM GENERATED    NO",
        "   MODULE SIZE      00000008",
        "ENTRY POINT AND ALIAS SUMMARY:",
        "   NAME        ENTRY TYPE   AMODE    OFFSET    CLASS/STATUS",
        "   --------    ----------   -----   --------   ----------------",
        "   A            MAIN_EP       24    00000000   B_TEXT",
        "VRL009I Processing completed, return code is 0",
    };
    EXPECT_EQ(r.body(), expected);
    // With LIST=STMT only the message of the save.
    std::filesystem::remove(s.dir / "load/PROG");
    const JobResult brief = s.run({s.obj("a.obj", small())}, "NCAL,LIST=STMT");
    EXPECT_EQ(
        brief.body(),
        (std::vector<std::string>{
            "VRL210I ENTRY defaults to section A.",
            "VRL020I PROG has been added with AMODE=24 and RMODE=24 as file \"" + path + "\".",
            "VRL009I Processing completed, return code is 0"}));
}

// TEST with symbol data: SYM records in the module; private code in the unnamed list.
TEST(Output, SymbolRecordsAndUnnamedSections) {
    Save s;
    s.setup.member = "PROG";
    Card symCard("SYM");
    const std::string item = std::string("\x10\0\0\0", 4) + ebcdic("A");
    symCard.be16(10, static_cast<unsigned>(item.size())).bytes(16, item);
    const std::string a = s.obj("a.obj", {symCard, esd(1, {sd("A", 0, 8), pc(8, 8)}), end()});
    const JobResult r = s.run({a}, "NCAL,TEST,COMPAT=LKED,MAP");
    EXPECT_TRUE(r.listed("   SYM GENERATED    YES"));
    EXPECT_TRUE(r.listed("$PRIV000001   SYSLIN      1"));
    EXPECT_TRUE(r.listed(std::string(60, ' ') + "*** U N N A M E D  S E C T I O N S ***"));
    const ReadBack back = readBack(readFile(s.dir / "load/PROG"));
    ASSERT_EQ(back.error, "");
    EXPECT_TRUE(back.image.info.flags & DE_TEST);
    ASSERT_GE(back.image.sym.size(), 160u);
    EXPECT_EQ(std::string(back.image.sym.begin(), back.image.sym.begin() + 4),
              std::string("\x02") + ebcdic("SYM"));
}
