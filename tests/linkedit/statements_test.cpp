// Control statements: syntax and continuation, every message of the operations with its
// severity, the statement echo and the error report line for line, INCLUDE with its input
// stack (and recursion by file identity), and the three forms of input file.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "linkedit_support.h"

using namespace lt;

namespace {

// The three lines that show a record in an error report: text, high and low hex digits.
std::vector<std::string> recordLines(const std::string& text) {
    std::string card = text;
    card.resize(80, ' ');
    const std::string e = ebcdic(card);
    std::string high, low;
    const char* digits = "0123456789ABCDEF";
    for (char c : e) {
        high += digits[static_cast<unsigned char>(c) >> 4];
        low += digits[static_cast<unsigned char>(c) & 15];
    }
    std::string shown = card;
    while (!shown.empty() && shown.back() == ' ') shown.pop_back();
    return {"        " + shown, "        " + high, "        " + low};
}

// A statement error as listed: the message with its place, then each record.
std::vector<std::string> reported(const std::string& message, const std::string& where,
                                  const std::vector<std::string>& records) {
    std::vector<std::string> out{message + "; " + where};
    for (size_t i = 0; i < records.size(); ++i) {
        if (i > 0) out.push_back("        " + std::string(80, '-'));
        for (auto& l : recordLines(records[i])) out.push_back(l);
    }
    return out;
}

struct Deck {
    TempDir dir;
    JobSpec setup;
    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string file(const std::string& name, const std::vector<std::string>& text) {
        std::filesystem::create_directories((dir / name).parent_path());
        writeFile(dir / name, statements(text));
        return path(name);
    }
    JobResult run(const std::vector<std::string>& text, const char* parm = "") {
        setup.parm = parm;
        setup.syslin = {file("ctl.txt", text)};
        return runJob(dir, setup);
    }
    std::string at(unsigned record) const {
        return "SYSLIN record " + std::to_string(record) + " PATH=" + path("ctl.txt");
    }
};

// The first message of a job's statements, with its severity seen in the return code.
struct Case {
    std::vector<std::string> text;
    std::string message; // the statement error (without its place)
    int rc;
};

void expectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        Deck d;
        const JobResult r = d.run(c.text);
        EXPECT_EQ(r.rc, c.rc) << c.text.front();
        auto body = r.body();
        body.erase(std::remove_if(body.begin(), body.end(),
                                  [](const std::string& l) { return l.rfind("VRL100I", 0) == 0; }),
                   body.end());
        ASSERT_FALSE(body.empty()) << c.text.front();
        EXPECT_EQ(body.front().substr(0, body.front().find("; SYSLIN")), c.message)
            << c.text.front();
    }
}

} // namespace

TEST(Statements, ErrorReportAndEcho) {
    Deck d;
    const JobResult r = d.run({" ENTRY MAIN", "* comment", "", " XYZ  FOO  bar", " ENTRY SUB"});
    EXPECT_EQ(r.rc, 8);
    std::vector<std::string> expected{"VRL100I  ENTRY MAIN"};
    for (auto& l :
         reported("VRL106E Operation XYZ is invalid or not supported", d.at(4), {" XYZ  FOO  bar"}))
        expected.push_back(l);
    expected.push_back("VRL100I  ENTRY SUB");
    expected.push_back("VRL009I Processing completed, return code is 8");
    EXPECT_EQ(r.body(), expected);
}

TEST(Statements, Syntax) {
    expectCases({
        {{"ENTRY MAIN"}, "VRL101E Invalid control statement", 8},
        {{std::string(66, ' ') + "ENTRY X"}, "VRL101E Invalid control statement", 8},
        {{" ENTRYPOINT X"}, "VRL101E Invalid control statement", 8},
        {{" ENT1RY X"}, "VRL101E Invalid control statement", 8},
        {{std::string(64, ' ') + "IDENTIFY X"}, "VRL101E Invalid control statement", 8},
        {{" ENTRY"}, "VRL102E Missing operand field", 8},
        {{" ENTRY" + std::string(65, ' ') + "X"}, "VRL102E Missing operand field", 8},
        {{" INCLUDE SYSLIB(A,"}, "VRL103E End-of-file encountered in continuation", 8},
        {{" XYZ A"}, "VRL106E Operation XYZ is invalid or not supported", 8},
        {{" xyz A"}, "VRL106E Operation XYZ is invalid or not supported", 8},
    });
}

// Continuations: after a comma or a character in column 72; a quoted name resumes at column 3;
// a comment continued by column 72 runs to a record with a blank column 72.
TEST(Statements, Continuation) {
    Deck d;
    std::string first = " ENTRY '" + std::string(63, 'A');
    JobResult r = d.run({first, "  BC'", " ENTRY '" + std::string(63, 'A'), "   BC'"});
    auto body = r.body();
    ASSERT_GE(body.size(), 3u);
    EXPECT_EQ(body[0], "VRL100I " + first);
    EXPECT_EQ(body[1], "          BC'");
    EXPECT_EQ(body[2].substr(0, 40), "VRL115E Invalid entry point name; SYSLIN");

    std::string commented = " ENTRY MAIN   this is a comment";
    commented.resize(71, ' ');
    commented += 'X';
    std::string more = "still the comment";
    more.resize(71, ' ');
    more += 'Y';
    r = d.run({commented, more, "and its end", " MODE AMODE(31),", "               RMODE(ANY)"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.body(), (std::vector<std::string>{
                            "VRL100I " + commented, "        " + more, "        and its end",
                            "VRL100I  MODE AMODE(31),", "                       RMODE(ANY)",
                            "VRL009I Processing completed, return code is 0"}));

    // An invalid continuation record is shown with the statement; an all-blank one ends it.
    r = d.run({" INCLUDE SYSLIB(A,", "X  B)"});
    EXPECT_EQ(r.rc, 8);
    auto expected =
        reported("VRL105E Invalid continuation record", d.at(1), {" INCLUDE SYSLIB(A,", "X  B)"});
    body = r.body();
    body.pop_back();
    EXPECT_EQ(body, expected);
    r = d.run({" ALIAS A,", "", " ENTRY X"});
    EXPECT_EQ(r.body().front(), "VRL113E Invalid ALIAS operand; " + d.at(1));
}

// An object record in a continuation ends the statement (VRL104E) and is read as the start of
// an object module.
TEST(Statements, ObjectRecordInContinuation) {
    Deck d;
    auto record = [](std::string text) {
        text.resize(80, ' ');
        return ebcdic(text);
    };
    writeFile(d.dir / "ctl.txt", record(" ENTRY A,") +
                                     deck({esd(1, {sd("A", 0, 8)}), txt(1, 0, "12345678"), end()}) +
                                     record(" ENTRY B"));
    d.setup.syslin = {d.path("ctl.txt")};
    d.setup.member = "PROG";
    const JobResult r = runJob(d.dir, d.setup);
    EXPECT_EQ(r.rc, 8);
    const auto body = r.body();
    ASSERT_GE(body.size(), 5u);
    EXPECT_EQ(body[0], "VRL104E Object module record encountered in continuation; " + d.at(1));
    EXPECT_EQ(body[4], "VRL100I  ENTRY B"); // the deck was read without an error
}

TEST(Statements, InvalidNames) {
    const std::string long40(40, 'N');
    expectCases({
        {{" RENAME A,'B C'"}, "VRL112E Invalid symbol name \"'B C'\"", 8},
        {{" ALIAS 9ABC"}, "VRL112E Invalid member name \"9ABC\"", 8},
        {{" ALIAS " + long40},
         "VRL112E Invalid member name \"" + long40.substr(0, 32) + "\"...",
         8},
        {{" ALIAS ABC(D(E))"}, "VRL112E Invalid symbol name \"D(E)\"", 8},
        {{" PAGE 'X Y'"}, "VRL112E Invalid section name \"'X Y'\"", 8},
        {{" EXPAND A(10,ABCDEFGHIJKLMNOPQ)"},
         "VRL112E Invalid class name \"ABCDEFGHIJKLMNOPQ\"",
         8},
        {{" IDENTIFY A(ABC)"}, "VRL112E Invalid data string \"ABC\"", 8},
        {{" IDENTIFY A('" + std::string(58, 'D'), "  " + std::string(23, 'D') + "')"},
         "VRL112E Invalid data string \"'" + std::string(31, 'D') + "\"...",
         8},
        {{" EXPAND A(0)"}, "VRL112E Invalid size increment \"0\"", 8},
        {{" EXPAND A(1073741825)"}, "VRL112E Invalid size increment \"1073741825\"", 8},
        {{" EXPAND A(99999999999999999999)"},
         "VRL112E Invalid size increment \"99999999999999999999\"",
         8},
        {{" AUTOCALL 1SYSLIB"}, "VRL112E Invalid DDNAME \"1SYSLIB\"", 8},
        {{" INCLUDE 'a b'"}, "VRL112E Invalid path name \"'a b'\"", 8},
        {{" INCLUDE SYSLIB(A,B$C%)"}, "VRL112E Invalid member name \"B$C%\"", 8},
    });
}

TEST(Statements, InvalidOperands) {
    expectCases({
        {{" CHANGE A"}, "VRL113E Invalid CHANGE operand", 8},
        {{" CHANGE (A)B"}, "VRL113E Invalid CHANGE operand", 8},
        {{" CHANGE A(A)"}, "VRL113E Invalid CHANGE operand", 8},
        {{" REPLACE A(B"}, "VRL113E Invalid REPLACE operand", 8},
        {{" RENAME A"}, "VRL113E Invalid RENAME operand", 8},
        {{" RENAME A,A"}, "VRL113E Invalid RENAME operand", 8},
        {{" ALIAS A()"}, "VRL113E Invalid ALIAS operand", 8},
        {{" ALIAS A(B"}, "VRL113E Invalid ALIAS operand", 8},
        {{" LIBRARY SYSLIB(A,B)"}, "VRL113E Invalid LIBRARY operand", 8},
        {{" LIBRARY SYSLIB"}, "VRL113E Invalid LIBRARY operand", 8},
        {{" INCLUDE ,SYSLIB(B)"}, "VRL113E Invalid INCLUDE operand", 8},
        {{" ORDER A,,B"}, "VRL113E Invalid ORDER operand", 8},
        {{" RENAME A,", ""}, "VRL113E Invalid RENAME operand", 8},
        {{" EXPAND A"}, "VRL113E Invalid EXPAND operand", 8},
        {{" EXPAND A(10)"}, "VRL113E Invalid EXPAND operand", 8}, // no section A was read
        {{" IDENTIFY A('X')"}, "VRL113E Invalid IDENTIFY operand", 8},
        {{" PAGE A(P)"}, "VRL113E Invalid PAGE operand", 8},
        {{" ORDER A(Q)"}, "VRL113E Invalid ORDER operand", 8},
        {{" SETCODE AC(256)"}, "VRL114E Invalid AC(value)", 8},
        {{" SETCODE AB(1)"}, "VRL114E Invalid AC(value)", 8},
        {{" SETCODE AC(1A)"}, "VRL114E Invalid AC(value)", 8},
        {{" ENTRY 'A B'"}, "VRL115E Invalid entry point name", 8},
        {{" MODE AMODE(32)"}, "VRL116E Invalid AMODE value", 8},
        {{" MODE RMODE(ANY),AMODE(MAX)"}, "VRL116E Invalid AMODE value", 8},
        {{" MODE RMODE(16)"}, "VRL117E Invalid RMODE value", 8},
        {{" MODE AMODE(31),AMODE(24)"}, "VRL118E Invalid AMODE/RMODE operand", 8},
        {{" MODE XMODE(1)"}, "VRL118E Invalid AMODE/RMODE operand", 8},
        {{" MODE AMODE=31"}, "VRL118E Invalid AMODE/RMODE operand", 8},
        {{" SETSSI 1234567"}, "VRL119E Invalid SSI information", 8},
        {{" SETSSI 1234567X"}, "VRL119E Invalid SSI information", 8},
        {{" SETOPT LIST=ALL"}, "VRL111E Invalid PARM(value)", 8},
        {{" SETOPT PARM(LIST=ALL"}, "VRL111E Invalid PARM(value)", 8},
        {{" SETOPT PARM(SIZE=(512K),XREF)"},
         "VRL110E Parameter error: SIZE is invalid in SETOPT PARM",
         8},
        {{" SETOPT PARM(LINECT=60)"},
         "VRL110E Parameter error: LINECT is invalid in SETOPT PARM",
         8},
        {{" SETOPT PARM(WKSPACE=(96))"},
         "VRL110E Parameter error: WKSPACE is invalid in SETOPT PARM",
         8},
        {{" SETOPT PARM(OPTIONS=x)"},
         "VRL110E Parameter error: OPTIONS is invalid in SETOPT PARM",
         8},
        {{" SETOPT PARM(LET=3)"},
         "VRL110E Parameter error: \"LET=3\" is invalid or not supported",
         8},
        {{" ALIAS A,B,A"}, "VRL120E Duplicate alias name: \"A\"", 8},
        {{" ALIAS A", " ALIAS B(SYM),a"}, "VRL120E Duplicate alias name: \"A\"", 8},
        {{" RENAME A,B", " RENAME B,C"}, "VRL121E Conflicting RENAME", 8},
        {{" RENAME A,B", " RENAME C,B"}, "VRL121E Conflicting RENAME", 8},
        {{" CHANGE A(B)", " CHANGE B(C)"}, "VRL122E Conflicting CHANGE/REPLACE", 8},
        {{" CHANGE A(B),C(A)"}, "VRL122E Conflicting CHANGE/REPLACE", 8},
        {{" REPLACE A", " CHANGE A(C)"}, "VRL122E Conflicting CHANGE/REPLACE", 8},
        {{" INCLUDE OTHER(A)"},
         "VRL124E DDNAME \"OTHER\" is not supported, only SYSLIB and SYSLMOD are allowed",
         8},
        {{" AUTOCALL OTHER"},
         "VRL124E DDNAME \"OTHER\" is not supported, only SYSLIB and SYSLMOD are allowed",
         8},
        {{" INCLUDE SYSLIB"}, "VRL125E Member name list missing for DDNAME: \"SYSLIB\"", 8},
        {{" INCLUDE SYSLMOD"}, "VRL125E Member name list missing for DDNAME: \"SYSLMOD\"", 8},
        {{" ORDER A,B,A"}, "VRL132E ORDER already processed for section A", 8},
        {{" ORDER A(P)", " PAGE A", " ORDER a"},
         "VRL132E ORDER already processed for section A",
         8},
        {{" NAME PROG"}, "VRL134E NAME statement must follow at least one object module", 8},
    });
    // Statements that are accepted.
    Deck d;
    const JobResult r = d.run(
        {" CHANGE A(B),'x''y'(C)", " REPLACE D,E(F)", " RENAME G,H", " ALIAS I(J)", " ORDER K(P),L",
         " PAGE M", " LIBRARY (N),*(O),SYSLIB(P)", " SETCODE AC(1)", " SETSSI 0a0b0C0D",
         " MODE RMODE(SPLIT)", " AUTOCALL SYSLIB", " SETOPT PARM(LIST=ALL,NCAL)", " ENTRY 'x''y'"});
    EXPECT_EQ(r.rc, 4); // the CHANGE and REPLACE requests were never processed
    EXPECT_EQ(std::count_if(r.listing.begin(), r.listing.end(),
                            [](const std::string& l) { return l.rfind(" VRL100I", 0) == 0; }),
              13);
}

// CHANGE and REPLACE requests that no object module used are reported after the next one.
TEST(Statements, UnprocessedRequests) {
    Deck d;
    writeFile(d.dir / "a.obj", deck({esd(1, {sd("A", 0, 8)}), end()}));
    d.setup.syslin = {d.file("c.txt", {" CHANGE X(Y),Z(W)", " REPLACE Q"}), d.path("a.obj"),
                      d.file("d.txt", {" REPLACE R"})};
    d.setup.member = "PROG";
    d.setup.parm = "LIST=STMT";
    const JobResult r = runJob(d.dir, d.setup);
    EXPECT_EQ(r.rc, 4);
    const auto body = r.body();
    const std::vector<std::string> expected{
        "VRL100I  CHANGE X(Y),Z(W)",
        "VRL100I  REPLACE Q",
        "VRL109W REPLACE request for Q was not processed.",
        "VRL109W CHANGE request for Z was not processed.",
        "VRL109W CHANGE request for X was not processed.",
        "VRL100I  REPLACE R",
        "VRL109W REPLACE request for R was not processed.",
        "VRL210I ENTRY defaults to section A.",
        "VRL020I PROG has been added with AMODE=24 and RMODE=24 as file \"" + d.path("load/PROG") +
            "\".",
        "VRL009I Processing completed, return code is 4"};
    EXPECT_EQ(body, expected);
}

// INCLUDE: files in the order written, then the rest of the including file; members from the
// library patterns in concatenation order; the errors of each kind of item.
TEST(Statements, Include) {
    Deck d;
    d.file("lib1/a.obj", {" ENTRY FROMA"});
    d.file("lib2/a.obj", {" ENTRY SHADOWED"});
    d.file("lib2/b.obj", {" ENTRY FROMB", " INCLUDE '" + d.path("c.txt") + "'"});
    d.file("c.txt", {" ENTRY FROMC"});
    d.setup.syslib = {d.path("lib1/&m.obj"), d.path("lib2/&m.obj")};
    JobResult r = d.run({" INCLUDE SYSLIB(A,B)", " ENTRY AFTER"});
    EXPECT_EQ(r.rc, 0);
    const auto body = r.body();
    EXPECT_EQ(body, (std::vector<std::string>{"VRL100I  INCLUDE SYSLIB(A,B)",
                                              "VRL100I  ENTRY FROMA", "VRL100I  ENTRY FROMB",
                                              "VRL100I  INCLUDE '" + d.path("c.txt") + "'",
                                              "VRL100I  ENTRY FROMC", "VRL100I  ENTRY AFTER",
                                              "VRL009I Processing completed, return code is 0"}));

    // An error in a member shows the member and no concatenation number.
    d.file("lib2/bad.obj", {" XYZ A"});
    r = d.run({" INCLUDE SYSLIB(BAD)"});
    EXPECT_TRUE(r.listed("VRL106E Operation XYZ is invalid or not supported; SYSLIB(BAD) record 1 "
                         "PATH=" +
                         d.path("lib2/bad.obj")));
    r = d.run({" INCLUDE SYSLIB(NOPE)"});
    EXPECT_TRUE(r.listedPrefix("VRL126E Member NOPE not found in SYSLIB; SYSLIN record 1"));
    r = d.run({" INCLUDE '" + d.path("none.txt") + "'"});
    EXPECT_TRUE(r.listedPrefix("VRL014E Error opening INCLUDE file \"" + d.path("none.txt") +
                               "\": No such file or directory; SYSLIN record 1"));
    // A file included by path gets a generated DD name.
    d.file("e.txt", {" XYZ B"});
    r = d.run({" INCLUDE '" + d.path("e.txt") + "'"});
    EXPECT_TRUE(r.listedPrefix("VRL106E Operation XYZ is invalid or not supported; SYS00000 "));
}

TEST(Statements, IncludeSyslmodWithCallerMember) {
    Deck d;
    d.file("load/PROG", {" ENTRY FROMPROG"});
    d.setup.member = "prog";
    const JobResult r = d.run({" INCLUDE SYSLMOD", " INCLUDE SYSLMOD(PROG)"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(std::count(r.listing.begin(), r.listing.end(), " VRL100I  ENTRY FROMPROG"), 2);
}

// The same file is never included while it is being read, whatever its spelling.
TEST(Statements, RecursiveInclude) {
    Deck d;
    d.file("a.txt", {" INCLUDE '" + d.path("link.txt") + "'"});
    ASSERT_EQ(::symlink(d.path("a.txt").c_str(), d.path("link.txt").c_str()), 0);
    d.file("b.txt", {" INCLUDE '" + d.dir.path().string() + "/./b.txt'"});
    d.file("lib/m.obj", {" INCLUDE SYSLIB(N)"});
    d.file("lib/n.obj", {" INCLUDE SYSLIB(M)"});
    d.setup.syslib = {d.path("lib/&m.obj")};
    struct Case {
        std::string include;
        std::string message;
    };
    const Case cases[] = {
        {"'" + d.path("a.txt") + "'",
         "VRL123E Recursive INCLUDE for \"" + d.path("link.txt") + "\""},
        {"'" + d.path("b.txt") + "'",
         "VRL123E Recursive INCLUDE for \"" + d.dir.path().string() + "/./b.txt\""},
        {"SYSLIB(M)", "VRL123E Recursive INCLUDE for SYSLIB(M)"},
    };
    for (const Case& c : cases) {
        const JobResult r = d.run({" INCLUDE " + c.include});
        EXPECT_EQ(r.rc, 8) << c.include;
        EXPECT_TRUE(r.listedPrefix(c.message + "; ")) << c.include;
    }
    // The SYSLIN file itself, by another spelling.
    const JobResult r = d.run({" INCLUDE '" + d.dir.path().string() + "//ctl.txt'"});
    EXPECT_TRUE(r.listedPrefix("VRL123E Recursive INCLUDE"));
}

// NAME: only from SYSLIN, only after an object module, with or without (R).
TEST(Statements, Name) {
    Deck d;
    writeFile(d.dir / "a.obj", deck({esd(1, {sd("A", 0, 8)}), end()}));
    d.file("inc.txt", {" NAME PROG(R)"});
    d.setup.syslin = {d.path("a.obj"),
                      d.file("n.txt", {" INCLUDE '" + d.path("inc.txt") + "'", " NAME PROG(X)",
                                       " NAME 1PROG", " NAME PROG(r)"})};
    const JobResult r = runJob(d.dir, d.setup);
    EXPECT_TRUE(r.listedPrefix("VRL133E NAME statement is only valid when read from SYSLIN; "
                               "SYS00000 record 1"));
    EXPECT_TRUE(r.listedPrefix("VRL113E Invalid NAME operand; SYSLIN+1 record 2"));
    EXPECT_TRUE(r.listedPrefix("VRL112E Invalid member name \"1PROG\"; SYSLIN+1 record 3"));
    EXPECT_TRUE(r.listed("VRL100I  NAME PROG(r)"));
}

// Library errors: no SYSLIB, an invalid pattern, a member that cannot be opened or read.
TEST(Statements, LibraryFiles) {
    Deck d;
    JobResult r = d.run({" INCLUDE SYSLIB(A)"});
    EXPECT_EQ(r.rc, 12);
    EXPECT_TRUE(r.listed("VRL010S DDNAME SYSLIB cannot be opened, DD statement is missing."));
    EXPECT_EQ(r.callback, (std::vector<std::pair<int, std::string>>{
                              {1, "KEC130I SYSLIB DD STATEMENT MISSING"}}));

    d.setup.syslib = {d.path("lib/&m.obj"), d.path("lib/x&m")};
    r = d.run({" INCLUDE SYSLIB(A)", " ENTRY NOTREAD"});
    EXPECT_EQ(r.rc, 16);
    EXPECT_TRUE(r.listed("VRL013T DDNAME SYSLIB cannot be opened, invalid path pattern \"" +
                         d.path("lib/x&m") + "\""));
    EXPECT_FALSE(r.listed("VRL100I  ENTRY NOTREAD"));

    // Reading a member fails: the job step ends.
    d.setup.syslib = {"/proc/self/&m"};
    r = d.run({" INCLUDE SYSLIB(MEM)", " ENTRY NOTREAD"});
    EXPECT_EQ(r.rc, 16);
    EXPECT_TRUE(r.listedPrefix("VRL016T Error reading SYSLIB(MEM): "));
    EXPECT_FALSE(r.listed("VRL100I  ENTRY NOTREAD"));

    // All files of a statement are opened first: with too few descriptors one of them fails.
    d.setup.syslib = {d.path("lib/&m.obj")};
    // INCLUDE SYSLIB(M0,M1,...,M39) over several records.
    std::vector<std::string> text{" INCLUDE SYSLIB(M0,"};
    for (int i = 1; i < 40; ++i) {
        d.file("lib/m" + std::to_string(i) + ".obj", {" ENTRY X"});
        if (i % 8 == 0) text.push_back("               ");
        text.back() += "M" + std::to_string(i) + (i == 39 ? ")" : ",");
    }
    d.file("lib/m0.obj", {" ENTRY X"});
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 24;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    r = d.run(text);
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_EQ(r.rc, 8);
    EXPECT_TRUE(r.listedPrefix("VRL015E Error opening SYSLIB(M"));
    EXPECT_FALSE(r.listed("VRL100I  ENTRY X"));
}

TEST(Statements, SyslinReadError) {
    Deck d;
    d.setup.syslin = {d.dir.path().string()};
    const JobResult r = runJob(d.dir, d.setup);
    EXPECT_EQ(r.rc, 16);
    EXPECT_TRUE(
        r.listed("VRL016T Error reading SYSLIN: Is a directory, PATH=" + d.dir.path().string()));
}

// Input files are workstation text (LF, CR or CR LF; X'1A' ends them), EBCDIC text with X'15'
// line ends, or fixed 80-byte records.
TEST(Statements, InputForms) {
    Deck d;
    std::string ebcdicText = ebcdic(" ENTRY E1") + "\x15" + ebcdic(" ENTRY E2") + "\x15";
    std::string fixed = ebcdic(std::string(" ENTRY F1") + std::string(71, ' ')) +
                        ebcdic(" ENTRY F2"); // a short last record
    writeFile(d.dir / "crlf.txt", " ENTRY T1\r\n ENTRY T2\r ENTRY T3\n\x1A");
    writeFile(d.dir / "e.txt", ebcdicText);
    writeFile(d.dir / "f.bin", fixed);
    writeFile(d.dir / "long.txt", " ENTRY L1" + std::string(80, ' ') + "X\n");
    d.setup.syslin = {d.path("crlf.txt"), d.path("e.txt"), d.path("f.bin"), d.path("long.txt")};
    const JobResult r = runJob(d.dir, d.setup);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.body(), (std::vector<std::string>{
                            "VRL100I  ENTRY T1", "VRL100I  ENTRY T2", "VRL100I  ENTRY T3",
                            "VRL100I  ENTRY E1", "VRL100I  ENTRY E2", "VRL100I  ENTRY F1",
                            "VRL100I  ENTRY F2", "VRL100I  ENTRY L1",
                            "VRL009I Processing completed, return code is 0"}));
}

// Reading a file that the job step is writing would never reach its end: the listing and the
// terminal file are refused as input.
TEST(Statements, OutputsAreNotInput) {
    Deck d;
    JobResult r = d.run({" INCLUDE '" + d.path("list.txt") + "'", " ENTRY AFTER"});
    EXPECT_EQ(r.rc, 8);
    EXPECT_TRUE(r.listedPrefix("VRL014E Error opening INCLUDE file \"" + d.path("list.txt") +
                               "\": file is in use as SYSPRINT; SYSLIN record 1"));
    EXPECT_TRUE(r.listed("VRL100I  ENTRY AFTER"));
    d.setup.syslin = {d.path("term.txt")};
    writeFile(d.dir / "term.txt", " ENTRY X\n");
    d.setup.systerm = d.path("term.txt");
    r = runJob(d.dir, d.setup);
    EXPECT_EQ(r.rc, 16);
    EXPECT_TRUE(
        r.listed("VRL011T DDNAME SYSLIN cannot be opened, file is in use as SYSTERM, PATH=" +
                 d.path("term.txt")));
}
