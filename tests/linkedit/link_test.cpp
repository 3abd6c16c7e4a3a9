// Resolution and layout: merging (first definition wins, commons, CHANGE and REPLACE),
// automatic call with LIBRARY, AUTOCALL and UPCASE, the unresolved report, the entry point,
// AMODE and RMODE, classes and alignment, the relocated address constants, and the messages of
// each check with their severities.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "linkedit_support.h"
#include "resolution.h"

using namespace lt;

namespace {

// A folder with object decks and statement files, linked by one job step.
struct Link {
    TempDir dir;
    JobSpec setup;
    std::string obj(const std::string& name, const std::vector<Card>& cards) {
        writeFile(dir / name, deck(cards));
        return (dir / name).string();
    }
    std::string text(const std::string& name, const std::vector<std::string>& lines) {
        std::filesystem::create_directories((dir / name).parent_path());
        writeFile(dir / name, statements(lines));
        return (dir / name).string();
    }
    // Each run saves a new member PROG.
    JobResult run(const std::vector<std::string>& syslin, const char* parm = "NCAL") {
        std::filesystem::remove(dir / "load/PROG");
        setup.parm = parm;
        setup.syslin = syslin;
        if (!setup.member) setup.member = "PROG";
        return runJob(dir, setup);
    }
    std::string module(const std::string& member = "PROG") {
        return readFile(dir / "load" / member);
    }
};

// The text of a program object saved by the tests (one segment): the runs of its text table.
std::string text(const std::string& file) {
    auto be32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(file[at])) << 24 |
               static_cast<uint32_t>(static_cast<uint8_t>(file[at + 1])) << 16 |
               static_cast<uint32_t>(static_cast<uint8_t>(file[at + 2])) << 8 |
               static_cast<uint8_t>(file[at + 3]);
    };
    if (file.size() < 256 + 64) return "";
    const size_t d = 256;
    const uint32_t runs = be32(d + 24), runTable = be32(d + 40), data = be32(d + 48);
    const uint32_t size = be32(116);
    std::string out(size, '\0');
    for (uint32_t i = 0; i < runs; ++i) {
        const size_t e = d + runTable + 32 * i;
        const uint32_t offset = be32(e), length = be32(e + 4), at = be32(e + 8);
        out.replace(offset, std::min<size_t>(length, size - offset),
                    file.substr(d + data + at, length));
    }
    return out;
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

} // namespace

// A-type and V-type constants: module offset of the target minus its assembled origin added,
// V-type overwritten; the threaded assembly's second section has a nonzero origin.
TEST(Link, RelocatedConstants) {
    Link l;
    // Object module 1: sections A (8 bytes at 0) and B (8 bytes, assembled at 8):
    // A holds A(B+4) (assembled 0x0C) and V(SUB) ; B holds A(A) and a negative A(B).
    const std::string a = l.obj("a.obj", {esd(1, {sd("A", 0, 8), sd("B", 8, 8), er("SUB")}),
                                          txt(1, 0, std::string("\0\0\0\x0C\0\0\0\0", 8)),
                                          txt(2, 8, std::string("\0\0\0\0\0\0\0\x10", 8)),
                                          rld(rldEntry(2, 1, 0x0C, 0) + rldEntry(3, 1, 0x1C, 4) +
                                              rldEntry(1, 2, 0x0C, 8) + rldEntry(2, 2, 0x0E, 12)),
                                          end(1, 0)});
    // Object module 2: SUB, 16 bytes, with label SUBE at 4 and a 3-byte A(SUBE) at 8.
    const std::string b = l.obj("b.obj", {esd(1, {sd("SUB", 0, 16), ld("SUBE", 4, 1)}),
                                          txt(1, 0, std::string(16, '\0')), esd(2, {er("SUBE")}),
                                          rld(rldEntry(2, 1, 0x08, 8)), end()});
    const JobResult r = l.run({b, a}, "NCAL,MAP,XREF,AMODE=24");
    EXPECT_EQ(r.rc, 0);
    // SUB first (0-15), then A at 16, B at 24.
    const std::string image = text(l.module());
    ASSERT_EQ(image.size(), 32u);
    EXPECT_EQ(hex(image.substr(8, 3)), "000004");    // A(SUBE): SUBE at 4
    EXPECT_EQ(hex(image.substr(16, 4)), "0000001C"); // A(B+4): B at 24
    EXPECT_EQ(hex(image.substr(20, 4)), "00000000"); // V(SUB): SUB at 0
    EXPECT_EQ(hex(image.substr(24, 4)), "00000010"); // A(A): A at 16
    EXPECT_EQ(hex(image.substr(28, 4)), "00000000"); // 0x10 - (24 - 8)
    // The map: class offset (ending in column 17), name from column 20, type from column 55,
    // length ending in column 68, source from column 71; labels with their section offset.
    EXPECT_TRUE(
        r.listed("               10  " + pad("A", 32) + "   CSECT        8  SYSLIN      2"));
    EXPECT_TRUE(r.listed("       4        4  " + pad("SUBE", 32) + "   LABEL"));
    // The cross reference.
    EXPECT_TRUE(r.listedPrefix("      14 " + pad("A", 24) + "      4 V-CON | " + pad("SUB", 22) +
                               " " + pad("SUB", 24) + "      0 B_TEXT"));
}

// The first definition of a section wins; commons give way to sections and to longer commons.
TEST(Link, MergeRules) {
    Link l;
    const std::string a1 = l.obj("a1.obj", {esd(1, {sd("A", 0, 8)}), end()});
    const std::string a2 = l.obj("a2.obj", {esd(1, {sd("A", 0, 16)}), end()});
    const std::string withCommon = l.obj("cm.obj", {esd(1, {sd("M", 0, 8), cm("C", 32)}), end()});
    const std::string cs = l.obj("cs.obj", {esd(1, {sd("C", 0, 8)}), end()});
    const std::string c2 = l.obj("c2.obj", {esd(1, {sd("N", 0, 8), cm("C", 64)}), end()});
    JobResult r = l.run({a1, a2, withCommon, cs, c2}, "NCAL,LIST=ALL,MAP");
    const std::string a2path = (l.dir / "a2.obj").string();
    EXPECT_TRUE(r.listedPrefix("VRL201I Section A from SYSLIN path \"" + a2path +
                               "\" already added, new section discarded."));
    EXPECT_TRUE(r.listedPrefix("VRL205W Common section C discarded because it is longer than an "
                               "existing control section of the same name."));
    // The section took the common's length (32) and is shown merged.
    EXPECT_TRUE(
        r.listedPrefix("               10  " + pad("C", 32) + " * CSECT       20  SYSLIN      4"));
    EXPECT_EQ(r.rc, 4);
    r = l.run({a1, a2}, "NCAL");
    EXPECT_FALSE(r.listedPrefix("VRL201I")); // only with LIST=ALL

    // Classes an old definition had are added (VRL200I); differing attributes drop the new one.
    const std::string rmodeAny =
        l.obj("any.obj", {esd(1, {sd("X", 0, 8), esdItem("D", 0x05, 0, 0x04, 8)}), end()});
    const std::string plain = l.obj("plain.obj", {esd(1, {sd("D", 0, 8)}), end()});
    r = l.run({rmodeAny, plain}, "NCAL,LIST=ALL");
    EXPECT_TRUE(
        r.listed("VRL207W Attributes of class B_TEXT of section D conflict with those in an "
                 "existing section, section discarded."));
    const std::string common = l.obj("common.obj", {esd(1, {sd("Y", 0, 8), cm("E", 8)}), end()});
    const std::string section = l.obj("section.obj", {esd(1, {sd("E", 0, 8)}), end()});
    r = l.run({common, l.text("exp.txt", {" EXPAND E(8,C_DATA)"}), section}, "NCAL,LIST=ALL");
    EXPECT_TRUE(r.listed("VRL200I Section E has been merged."));
}

TEST(Link, ChangeReplaceAndLabels) {
    Link l;
    const std::string y =
        l.obj("y.obj", {esd(1, {sd("Y", 0, 8), sd("W", 8, 8), ld("ENT", 10, 2)}), end()});
    const std::string x = l.obj("x.obj", {esd(1, {sd("X", 0, 8), ld("XL", 4, 1)}), end()});
    JobResult r =
        l.run({y, l.text("c.txt", {" CHANGE X(Y),XL(ENT)", " REPLACE Q"}), x}, "NCAL,MAP,LIST=ALL");
    EXPECT_TRUE(r.listed("VRL202I Section Y deleted by CHANGE statement."));
    EXPECT_TRUE(r.listed("VRL202I Entry ENT deleted by CHANGE statement."));
    EXPECT_TRUE(r.listed("VRL109W REPLACE request for Q was not processed."));
    EXPECT_TRUE(
        r.listed("                8  " + pad("Y", 32) + "   CSECT        8  SYSLIN      3"));
    // REPLACE of a bare name deletes the section: no VRL109W.
    const std::string q = l.obj("q.obj", {esd(1, {sd("Q", 0, 8), sd("R", 8, 8)}), end()});
    r = l.run({l.text("r.txt", {" REPLACE Q"}), q}, "NCAL,MAP");
    EXPECT_FALSE(r.listedPrefix("VRL109W"));
    EXPECT_FALSE(r.listedPrefix("                0  Q "));
    EXPECT_TRUE(r.listedPrefix("                0  R "));
    // A section whose name is a label; a label defined twice.
    const std::string lab = l.obj("lab.obj", {esd(1, {sd("S", 0, 8), ld("L", 2, 1)}), end()});
    const std::string twice = l.obj("twice.obj", {esd(1, {sd("T", 0, 8), ld("L", 4, 1)}), end()});
    const std::string named = l.obj("named.obj", {esd(1, {sd("L", 0, 8)}), end()});
    r = l.run({lab, twice, named});
    EXPECT_TRUE(r.listed("VRL204W Label L in section T discarded, already defined in section S."));
    EXPECT_TRUE(r.listed("VRL203W Section L already defined as a label, section discarded."));
    EXPECT_EQ(r.rc, 4);
}

// Automatic call: members of SYSLIB for missing names, LIBRARY restrictions, AUTOCALL, the
// UPCASE pass, and the report of the names that remain.
TEST(Link, AutomaticCall) {
    Link l;
    std::filesystem::create_directories(l.dir / "lib");
    l.obj("lib/SUB1",
          {esd(1, {sd("SUB1", 0, 8), er("SUB2")}), rld(rldEntry(2, 1, 0x1C, 4)), end()});
    l.obj("lib/SUB2", {esd(1, {sd("SUB2", 0, 8)}), end()});
    l.obj("lib/WRONG", {esd(1, {sd("OTHER", 0, 8)}), end()});
    l.obj("lib/GET@DATA", {esd(1, {sd("get_data", 0, 8)}), end()});
    l.text("lib/LIBSTMT", {" LIBRARY (X)"});
    l.setup.syslib = {(l.dir / "lib/&M").string()};
    const std::string main =
        l.obj("main.obj",
              {esd(1, {sd("MAIN", 0, 32), er("SUB1"), er("WRONG")}), esd(4, {er("NOTTHERE")}),
               xsdItem(5, "LONGNAME9", er("")), esd(6, {wx("WEAK"), er("get_data"), er("NEVER")}),
               esd(9, {er("NOCALL")}),
               rld(rldEntry(2, 1, 0x1C, 0) + rldEntry(3, 1, 0x1C, 4) + rldEntry(4, 1, 0x1C, 8) +
                   rldEntry(5, 1, 0x1C, 12) + rldEntry(6, 1, 0x1C, 16) + rldEntry(7, 1, 0x1C, 20)),
               rld(rldEntry(8, 1, 0x1C, 24) + rldEntry(9, 1, 0x1C, 28)), end()});
    const std::string lib =
        l.text("lib.txt", {" LIBRARY *(NEVER),(NOCALL)", " INCLUDE SYSLIB(LIBSTMT)"});
    JobResult r = l.run({lib, main}, "MAP,XREF");
    EXPECT_EQ(r.rc, 8);
    EXPECT_FALSE(r.listedPrefix("VRL131E")); // LIBSTMT was included, not autocalled
    EXPECT_TRUE(r.listed("VRL250W Autocalled member SYSLIB(WRONG) did not resolve reference."));
    EXPECT_TRUE(r.listed("VRL251W Symbol NEVER    unresolved, symbol specified for never-call or "
                         "no-call."));
    EXPECT_TRUE(r.listed("VRL251W Symbol NOCALL   unresolved, symbol specified for never-call or "
                         "no-call."));
    EXPECT_TRUE(r.listed("VRL255E Symbol NOTTHERE remains unresolved."));
    EXPECT_TRUE(r.listed("VRL255E Symbol WRONG    remains unresolved."));
    EXPECT_TRUE(r.listed("VRL254E Symbol LONGNAME9 unresolved."));
    EXPECT_TRUE(r.listed("VRL254E Symbol get_data unresolved.")); // no UPCASE
    EXPECT_FALSE(r.listedPrefix("VRL255E Symbol WEAK"));
    EXPECT_TRUE(r.listedPrefix("      18 " + pad("MAIN", 24) + "     18 V-CON | " +
                               pad("NEVER", 22) + " NEVER-CALL"));
    EXPECT_TRUE(r.listedPrefix("      10 " + pad("MAIN", 24) + "     10 V-CON | " +
                               pad("WEAK", 22) + " UNRESOLVED(W)"));
    // The library routines arrived in the order their names were met.
    EXPECT_TRUE(r.listedPrefix("               20  SUB1 "));
    EXPECT_TRUE(r.listedPrefix("               28  OTHER "));
    EXPECT_TRUE(r.listedPrefix("               30  SUB2 "));

    r = l.run({lib, main}, "UPCASE,MAP");
    EXPECT_FALSE(r.listedPrefix("VRL254E Symbol get_data"));
    EXPECT_TRUE(r.listedPrefix("               38  get_data "));

    // LIBRARY inside an autocalled member; AUTOCALL from SYSLMOD at once.
    l.text("lib/CALLSTMT", {" LIBRARY (Z)"});
    const std::string caller = l.obj("caller.obj", {esd(1, {sd("C", 0, 8), er("CALLSTMT")}),
                                                    rld(rldEntry(2, 1, 0x1C, 0)), end()});
    r = l.run({caller}, "");
    EXPECT_TRUE(r.listedPrefix("VRL131E LIBRARY statement is invalid when read from autocall "
                               "member; SYSLIB(CALLSTMT) record 1"));
    l.obj("load/SUB2", {esd(1, {sd("SUB2", 0, 8)}), end()});
    const std::string wants = l.obj(
        "wants.obj", {esd(1, {sd("W", 0, 8), er("SUB2")}), rld(rldEntry(2, 1, 0x1C, 0)), end()});
    l.setup.syslib.clear();
    r = l.run({wants, l.text("auto.txt", {" AUTOCALL SYSLMOD"})}, "MAP");
    EXPECT_TRUE(r.listedPrefix("                8  SUB2 "));
    EXPECT_FALSE(r.listedPrefix("VRL25"));
    r = l.run({wants}, "");
    EXPECT_TRUE(r.listed("VRL253E Symbol SUB2     unresolved, SYSLIB not specified."));
    r = l.run({wants}, "NCAL");
    EXPECT_TRUE(r.listed("VRL252W Symbol SUB2     unresolved, NCAL option specified."));
    EXPECT_EQ(r.rc, 4);
}

// The entry point, AMODE and RMODE.
TEST(Link, EntryAndModes) {
    Link l;
    const std::string a31 = l.obj(
        "a31.obj", {esd(1, {sd("A", 0, 16, 0x02), ld("ODD", 3, 1), ld("EVEN", 4, 1)}), end()});
    const std::string b24 = l.obj("b24.obj", {esd(1, {sd("B", 0, 8, 0x00)}), end()});
    const std::string bAny = l.obj("bany.obj", {esd(1, {sd("BA", 0, 8, 0x07)}), end()});
    const std::string endOdd =
        l.obj("endodd.obj", {esd(1, {sd("Z", 0, 8), er("ODD")}), end(0, 0, "ODD")});
    struct Case {
        std::vector<std::string> syslin;
        const char* parm;
        std::string message;
        int rc;
    };
    const std::string entryOdd = l.text("eo.txt", {" ENTRY ODD"});
    const std::string entryNone = l.text("en.txt", {" ENTRY NONE"});
    const Case cases[] = {
        {{a31}, "NCAL", "VRL210I ENTRY defaults to section A.", 0},
        {{a31, entryNone}, "NCAL", "VRL211E ENTRY name NONE not found in loadable text.", 8},
        {{a31, entryOdd}, "NCAL", "VRL212E ENTRY name ODD is not halfword aligned.", 8},
        {{l.obj("ext.obj", {esd(1, {sd("Q", 0, 8), er("GONE")}), end(0, 0, "GONE")})},
         "NCAL",
         "VRL213E Entry point is not in loadable text.",
         8},
        {{a31, endOdd}, "NCAL", "VRL214E Entry point is not halfword aligned.", 8},
        {{a31, b24},
         "NCAL,AMODE=24",
         "VRL216W Possible conflict between assigned AMODE and entry "
         "point ESD AMODE of 31.",
         4},
        {{a31},
         "NCAL,AMODE=24,RMODE=ANY",
         "VRL218E RMODE=ANY is incompatible with AMODE=24, RMODE set to 24.",
         8},
        {{a31, b24},
         "NCAL,AMODE=31,RMODE=ANY",
         "VRL217W Possible conflict between assigned RMODE=31 and class B_TEXT in section B.",
         4},
        {{a31, b24},
         "NCAL,RMODE=SPLIT",
         "VRL220I RMODE=SPLIT ignored because all text has the same RMODE.",
         0},
        {{bAny, b24},
         "NCAL,RMODE=SPLIT,COMPAT=LKED",
         "VRL221E RMODE=SPLIT is incompatible with COMPAT=LKED, RMODE option setting ignored.",
         8},
        {{bAny, b24},
         "NCAL,RMODE=SPLIT,COMPAT=PM2,AMODE=ANY",
         "VRL215E AMODE=ANY is incompatible with RMODE=SPLIT when the entry point is not in "
         "RMODE=24 storage, RMODE set to 24.",
         8},
    };
    for (const Case& c : cases) {
        const JobResult r = l.run(c.syslin, c.parm);
        EXPECT_TRUE(r.listed(c.message)) << c.message;
        EXPECT_EQ(r.rc, c.rc) << c.message;
    }
    // AMODE=MIN takes the most restrictive; an unspecified AMODE the entry point's; an entry of
    // AMODE ANY has no conflict to report.
    JobResult r = l.run({a31, b24}, "NCAL,AMODE=MIN");
    EXPECT_TRUE(r.listedPrefix("VRL020I PROG has been added with AMODE=24 and RMODE=24"));
    r = l.run({a31, b24}, "NCAL");
    EXPECT_TRUE(r.listedPrefix("VRL020I PROG has been added with AMODE=31 and RMODE=24"));
    r = l.run({bAny}, "NCAL,AMODE=31");
    EXPECT_FALSE(r.listedPrefix("VRL216W"));
    // RMODE=SPLIT with program objects: the RMODE 31 text in a second segment.
    r = l.run({b24, l.obj("c.obj", {esd(1, {sd("C", 0, 8, 0x06)}), end()})},
              "NCAL,RMODE=SPLIT,COMPAT=PM2,MAP");
    EXPECT_TRUE(r.listedPrefix("VRL020I PROG has been added with AMODE=24 and RMODE=SPLIT"));
    EXPECT_TRUE(r.listed("                         OFFSET=       0  IN SEGMENT 2"));
}

// Classes and alignment, ORDER and PAGE.
TEST(Link, Placement) {
    Link l;
    const std::string a = l.obj("a.obj", {esd(1, {sd("A", 0, 8)}), end()});
    const std::string q = l.obj("q.obj", {esd(1, {esdItem("Q", 0x0D, 0, 0, 8)}), end()});
    const std::string b = l.obj("b.obj", {esd(1, {sd("B", 0, 4)}), end()});
    JobResult r = l.run({a, q, b}, "NCAL,MAP");
    EXPECT_TRUE(r.listedPrefix("               10  Q ")); // quadword: 16, not 8
    EXPECT_TRUE(r.listedPrefix(
        "CLASS  B_TEXT            LENGTH=      1C  ATTRIBUTES=CAT,LOAD,RMODE=24,ALIGN=16"));
    r = l.run({a, q, b, l.text("o.txt", {" ORDER B,A(P)", " PAGE NONE", " ORDER GONE"})},
              "NCAL,MAP");
    EXPECT_TRUE(r.listedPrefix("                0  B "));
    EXPECT_TRUE(r.listedPrefix("             1000  A "));
    EXPECT_TRUE(r.listedPrefix("             1010  Q "));
    EXPECT_TRUE(r.listed("VRL209W PAGE request for NONE was not processed."));
    EXPECT_TRUE(r.listed("VRL209W ORDER request for GONE was not processed."));
    // EXPAND adds to a class of a section already read, within 1 GB.
    r = l.run({a, l.text("x.txt", {" EXPAND A(24)", " EXPAND A(1073741800)"})}, "NCAL,MAP");
    EXPECT_TRUE(r.listedPrefix("                0  " + pad("A", 32) + "   CSECT       20"));
    EXPECT_TRUE(r.listedPrefix("VRL112E Invalid size increment \"1073741800\""));
}

// Address constant checks.
TEST(Link, ConstantChecks) {
    Link l;
    const std::string overlap =
        l.obj("ov.obj", {esd(1, {sd("A", 0, 16)}),
                         rld(rldEntry(1, 1, 0x0C, 0) + rldEntry(1, 1, 0x0C, 2)), end()});
    JobResult r = l.run({overlap});
    EXPECT_TRUE(r.listed(
        "VRL229E Address constants overlap at offset X'02' in class B_TEXT of section A."));
    EXPECT_EQ(r.rc, 8);
    const std::string odd = l.obj("odd.obj", {esd(1, {sd("O", 0, 8), ld("ODDL", 3, 1)}), end()});
    const std::string ri =
        l.obj("ri.obj", {esd(1, {sd("R", 0, 8), er("ODDL")}), rld(rldEntry(2, 1, 0x78, 2)), end()});
    r = l.run({odd, ri});
    EXPECT_TRUE(r.listed(
        "VRL228E Odd relative address constant reference at offset X'0A' in class B_TEXT."));
    EXPECT_EQ(r.rc, 12);
    const std::string three =
        l.obj("three.obj", {esd(1, {sd("T", 0, 8, 0x06)}), rld(rldEntry(1, 1, 0x08, 0)), end()});
    r = l.run({three}, "NCAL,AMODE=31,RMODE=ANY");
    EXPECT_TRUE(r.listed("VRL230W 3-byte address constant in section T at offset 0 in class B_TEXT "
                         "cannot be saved with COMPAT=MIN."));
}

// Checks of the output format and the size limits.
TEST(Link, FormatChecks) {
    Link l;
    const std::string a = l.obj("a.obj", {esd(1, {sd("A", 0, 8)}), end()});
    const std::string longName = l.obj("long.obj", {xsdItem(1, "LONGNAME10", sd("", 0, 8)), end()});
    const std::string ri =
        l.obj("ri.obj", {esd(1, {sd("R", 0, 8), er("A")}), rld(rldEntry(2, 1, 0x78, 2)), end()});
    struct Case {
        std::vector<std::string> syslin;
        const char* parm;
        std::vector<std::string> messages;
        int rc;
    };
    const Case cases[] = {
        {{a, l.text("id.txt", {" IDENTIFY A('" + std::string(41, 'I') + "')"})},
         "NCAL,COMPAT=LKED",
         {"VRL223W IDENTIFY data for section A truncated to 40 characters."},
         4},
        {{a, l.text("ex.txt", {" EXPAND A(8,C_DATA)"})},
         "NCAL,COMPAT=LKED",
         {"VRL234W Text class C_DATA cannot be saved with COMPAT=LKED.",
          "VRL239W Load module will be saved with EDIT=NO option."},
         4},
        {{a, ri},
         "NCAL,COMPAT=LMF",
         {"VRL235W Extended RLD data cannot be saved with COMPAT=LMF.",
          "VRL239W Load module will be saved with EDIT=NO option."},
         4},
        {{longName},
         "NCAL",
         {"VRL236W External name LONGNAME10 is too long to be saved with COMPAT=MIN.",
          "VRL239W Load module will be saved with EDIT=NO option."},
         4},
        {{longName}, "NCAL,COMPAT=PM2", {}, 0},
        {{l.obj("c.obj", {esd(1, {cm("C", 8)}), end()})},
         "NCAL",
         {"VRL240S Empty module cannot be saved."},
         12},
        {{l.obj("big.obj", {esd(1, {sd("A", 0, 0xFFFFF8), sd("B", 0, 16)}), end()})},
         "NCAL,COMPAT=LKED",
         {"VRL241S Load module size exceeds 16 Megabytes."},
         12},
        {{l.obj("big2.obj", {esd(1, {sd("A", 0, 0xFFFFF8)}), end()}),
          l.text("x.txt", {" EXPAND A(16)"})},
         "NCAL,COMPAT=LKED",
         {"VRL242S Control section A size exceeds 16 Megabytes."},
         12},
        {{l.obj("big3.obj", {esd(1, {sd("A", 0, 0xFFFFF8), sd("B", 0, 0xFFFFF8)}), end()})},
         "NCAL",
         {"VRL245S RMODE=24 size exceeds 16 Megabytes."},
         12},
        {{l.obj("huge.obj", {esd(1, {sd("A", 0, 8), sd("B", 0, 8)}), end()}),
          l.text("h.txt", {" EXPAND A(1000000000)", " EXPAND B(1000000000)"})},
         "NCAL,RMODE=ANY,AMODE=31",
         {"VRL243S Class B_TEXT size exceeds 1 Gigabyte.",
          "VRL244S Load module size exceeds 1 Gigabyte."},
         12},
    };
    for (const Case& c : cases) {
        const JobResult r = l.run(c.syslin, c.parm);
        for (const std::string& m : c.messages) EXPECT_TRUE(r.listed(m)) << m;
        EXPECT_EQ(r.rc, c.rc) << (c.messages.empty() ? c.parm : c.messages.front());
    }
    // 65 pseudo registers of 16 MB each: B_PRV passes 1 GB.
    std::vector<Card> cards{esd(1, {sd("P", 0, 8)})};
    for (unsigned i = 0; i < 65; i += 3) {
        std::vector<std::string> items;
        for (unsigned k = i; k < std::min(65u, i + 3); ++k)
            items.push_back(xd("PR" + std::to_string(k), 0xFFFFFF, 0));
        cards.push_back(esd(2 + i, items));
    }
    cards.push_back(end());
    const JobResult r = l.run({l.obj("prv.obj", cards)});
    EXPECT_TRUE(r.listed("VRL247S Class B_PRV size exceeds 1 Gigabyte."));
}

// Many ESD items and relocation items: SCTR is given up, the load module saved not editable.
TEST(Link, ManyItems) {
    Link l;
    std::vector<Card> cards{esd(1, {sd("A", 0, 8)})};
    for (unsigned i = 0; i < 32768; i += 3)
        cards.push_back(esd(2 + i, {wx("E" + std::to_string(i)), wx("E" + std::to_string(i + 1)),
                                    wx("E" + std::to_string(i + 2))}));
    cards.push_back(end());
    const std::string many = l.obj("many.obj", cards);
    const JobResult r = l.run({many}, "NCAL,COMPAT=LKED,SCTR,MSGLEVEL=4");
    EXPECT_TRUE(r.listed("VRL237W Too many ESD items to be saved with COMPAT=LKED."));
    EXPECT_TRUE(r.listed("VRL239W Load module will be saved with EDIT=NO option."));
    EXPECT_TRUE(r.listed("VRL222W Too many ESD items, SCTR option disabled."));
}

// The checks that object decks cannot reach (classes that are not loadable, constants too
// short for a third segment, pseudo registers over 16 MB), on a module built here.
TEST(Link, ChecksOfOtherInputs) {
    std::vector<std::string> messages;
    vrl::Job job;
    job.callback = [](void* user, int, const char* text) {
        static_cast<std::vector<std::string>*>(user)->push_back(text);
    };
    job.user = &messages;
    job.options.compat = vrl::kCompatLked;
    job.module = std::make_unique<vrl::Module>();
    vrl::Module& m = *job.module;
    auto section = std::make_unique<vrl::Section>();
    section->name = ebcdic("S");
    auto text = std::make_unique<vrl::Element>();
    text->section = section.get();
    text->className = ebcdic("B_TEXT");
    text->length = 16;
    text->rmode = vrl::kModeAny;
    vrl::Relocation r;
    r.offset = 0;
    r.length = 1;
    r.kind = vrl::ConstantKind::kA;
    r.element = text.get();
    text->rld.push_back(r);
    for (const char* name : {"C_NOLOAD", "C_ATTR"}) {
        auto e = std::make_unique<vrl::Element>();
        e->section = section.get();
        e->className = ebcdic(name);
        e->loadable = false;
        e->classAttributes = name[2] == 'A' ? 0x10 : 0;
        e->length = 8;
        section->elements.push_back(std::move(e));
    }
    section->elements.insert(section->elements.begin(), std::move(text));
    m.symbol(section->name)->section = section.get();
    m.sections.push_back(std::move(section));
    auto pr = std::make_unique<vrl::PseudoRegister>();
    pr->symbol = m.symbol(ebcdic("BIGPR"));
    pr->length = 0x1000000;
    m.pseudoRegisters.push_back(std::move(pr));
    vrl::settleAttributes(job);
    EXPECT_FALSE(vrl::layoutModule(job));
    const std::vector<std::string> expected{
        "VRL233E Text class C_NOLOAD cannot be saved with COMPAT=LKED.",
        "VRL232W Class C_ATTR cannot be saved with COMPAT=LKED.",
        "VRL210I ENTRY defaults to section S.",
        "VRL246S External dummy section BIGPR size exceeds 16 Megabytes."};
    for (const std::string& e : expected)
        EXPECT_NE(std::find(messages.begin(), messages.end(), e), messages.end()) << e;
    // Relocation of the one-byte constant, once the module may be laid out.
    m.pseudoRegisters.clear();
    messages.clear();
    vrl::settleAttributes(job);
    vrl::layoutModule(job);
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "VRL231S 1-byte address constant in section S at offset 0 in class B_TEXT "
                        "is not relocatable."),
              messages.end());
}

// A library member that automatic call cannot open or read.
TEST(Link, AutomaticCallFailures) {
    Link l;
    const std::string wants =
        l.obj("mem.obj", {esd(1, {sd("W", 0, 8), er("MEM")}), rld(rldEntry(2, 1, 0x1C, 0)), end()});
    l.setup.syslib = {"/proc/self/&m"};
    JobResult r = l.run({wants}, "");
    EXPECT_TRUE(r.listedPrefix("VRL016T Error reading SYSLIB(MEM): "));
    EXPECT_EQ(r.rc, 16);

    // No descriptor left for the member: SYSLIN is standard input, and the limit leaves room
    // for the listing and the terminal file only.
    std::filesystem::create_directories(l.dir / "lib");
    l.obj("lib/MEM", {esd(1, {sd("MEM", 0, 8)}), end()});
    l.setup.syslib = {(l.dir / "lib/&M").string()};
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int deck = ::open(wants.c_str(), O_RDONLY);
        ::dup2(deck, 0);
        ::close(deck);
        int highest = 0;
        for (int fd = 0; fd < 4096; ++fd)
            if (::fcntl(fd, F_GETFD) != -1) highest = fd;
        // Fill the holes below, so that only the descriptors above are free.
        for (int fd = 0; fd < highest; ++fd)
            if (::fcntl(fd, F_GETFD) == -1) ::dup2(0, fd);
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(highest + 1 + 2);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        JobSpec setup = l.setup;
        setup.parm = "";
        setup.syslin = {"<stdin>"};
        setup.member = "PROG";
        const JobResult result = runJob(l.dir, setup);
        const bool found =
            result.listedPrefix("VRL015E Error opening SYSLIB(MEM) as file \"" +
                                (l.dir / "lib/MEM").string() + "\": Too many open files");
        if (!found)
            for (const std::string& line : result.listing)
                std::fprintf(stderr, "%s\n", line.c_str());
        ::_exit(found ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
