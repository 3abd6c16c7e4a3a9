// The engine through whole runs: the listing line for line, pages and headings, the DD
// bindings and their messages, every function, renumbering and deletion, in-place updates,
// and that nothing is lost when a replacement fails.
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "update_support.h"

using namespace updatetest;
namespace fs = std::filesystem;

namespace {

const std::string kE = "KDU805E Control statement error: ";

std::string heading(unsigned page) {
    std::string h(120, ' ');
    h.replace(0, 28, "Quorin Update Utility 3.0.07");
    h.replace(111, 4, "PAGE");
    char n[8];
    std::snprintf(n, sizeof n, "%4u", page);
    h.replace(116, 4, n);
    return "1" + h;
}

// A listing line of a record in an 80-column form with its tag.
std::string tagged(const std::string& record, const char* tag) {
    return std::string(16, ' ') +
           card(record.substr(0, 72), record.size() > 72 ? record.substr(72) : "") + "        " +
           tag;
}

bool listedStart(const Result& r, const std::string& prefix) {
    for (const auto& l : r.listingLines())
        if (l.compare(1, prefix.size(), prefix) == 0) return true;
    return false;
}

std::vector<std::string> numberedLines(const std::vector<std::pair<std::string, unsigned>>& v) {
    std::vector<std::string> out;
    for (const auto& [text, n] : v) out.push_back(numbered(text, n));
    return out;
}

} // namespace

TEST(UpdateListing, LineForLine) {
    TempDir dir;
    standardData(dir);
    const std::string deck = "./ ADD NAME=C,LIST=ALL\n./ NUMBER NEW1=10,INCR=10\nFIRST\nSECOND\n"
                             "./ CHANGE NAME=A\n" +
                             numbered("NEW 25", 25) + "\n" + numbered("RECORD 30 CHANGED", 30) +
                             "\n./ DELETE SEQ1=40,SEQ2=40\n./ REPRO NAME=B,LIST=ALL\n./ ENDUP\n";
    const Result r = runDeck(dir, deck, pdsJob());
    ASSERT_EQ(r.cc, 0);
    const std::string pds = (dir / "pds").string();
    const std::vector<std::string> expected = {
        heading(1),
        " ",
        " UFXCORE.DLL - Quorin Toolbench update utility",
        " ",
        "         ./ ADD NAME=C,LIST=ALL",
        "         ./ NUMBER NEW1=10,INCR=10",
        "                 FIRST                                                                   "
        "00000010",
        "                 SECOND                                                                  "
        "00000020",
        " KDU817I Member name C added to SYSUT2 with 2 records, PATH=" + pds + "/C",
        " ",
        "         ./ CHANGE NAME=A",
        " " + tagged(numbered("NEW 25", 25), "INSERTED"),
        " " + tagged(numbered("RECORD 30 CHANGED", 30), "REPLACED"),
        "         ./ DELETE SEQ1=40,SEQ2=40",
        " " + tagged(numbered("RECORD 40", 40), "DELETED"),
        " KDU817I Member name A replaced in SYSUT2 with 5 records, PATH=" + pds + "/A",
        " ",
        "         ./ REPRO NAME=B,LIST=ALL",
        "                 ONLY                                                                    "
        "00000100",
        " KDU817I Member name B replaced in SYSUT2 with 1 record, PATH=" + pds + "/B",
        " ",
        "         ./ ENDUP",
        " ",
        " KDU818I Highest condition code was 0",
    };
    EXPECT_EQ(r.listingLines(), expected);
    // The heading carries the date and time of the run from column 57.
    EXPECT_TRUE(
        std::regex_match(r.listing.substr(57, 19), std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)")))
        << r.listing.substr(0, 121);
    EXPECT_EQ(fileLines(dir / "pds/A"),
              (std::vector<std::string>{numbered("RECORD 10", 10), numbered("RECORD 20", 20),
                                        numbered("NEW 25", 25), numbered("RECORD 30 CHANGED", 30),
                                        numbered("RECORD 50", 50)}));
    EXPECT_EQ(fileLines(dir / "pds/C"),
              (std::vector<std::string>{numbered("FIRST", 10), numbered("SECOND", 20)}));
}

TEST(UpdateListing, PagesOfSixtyLinesAfterTheHeading) {
    TempDir dir;
    standardData(dir);
    std::string deck = "./ ADD NAME=C\n";
    for (int i = 0; i < 150; ++i) deck += "LINE " + std::to_string(i) + "\n";
    Job job = pdsJob();
    job.page = 12345; // taken modulo 10000
    const Result r = runDeck(dir, deck, job);
    ASSERT_EQ(r.cc, 0);
    const auto got = r.listingLines();
    std::vector<size_t> headings;
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i][0] == '1') headings.push_back(i);
    // A page is started once its line count passes 60; the count is 2 after the heading and
    // the blank line that follows it.
    ASSERT_EQ(headings, (std::vector<size_t>{0, 61, 122}));
    EXPECT_EQ(got[61], heading(2346));
    EXPECT_EQ(got[62], " ");
    EXPECT_EQ(got[60], "         LINE 55");
    EXPECT_EQ(got[63], "         LINE 56");
    EXPECT_EQ(got[122], heading(2347));
    EXPECT_EQ(r.page, 2348u) << "the page after the last heading goes back to the caller";
    for (const auto& l : got) EXPECT_TRUE(l[0] == '1' || l[0] == ' ') << l;

    // After page 9999 comes page 0.
    job.page = 9999;
    const Result wrap = runDeck(dir, "./ ADD NAME=D\n" + deck.substr(14), job);
    EXPECT_EQ(wrap.listingLines()[61], heading(0));
    EXPECT_EQ(wrap.page, 2u);
}

TEST(UpdateListing, LongPathGoesOnALineOfItsOwn) {
    TempDir dir;
    std::string folder = dir.path().string() + "/";
    folder += std::string(115 - folder.size() - 2, 'p');
    fs::create_directories(folder);
    Job job;
    job.parm = "NEW";
    job.sysut2 = folder + "/&M";
    Result r = runDeck(dir, "./ ADD NAME=C\nX\n", job);
    ASSERT_EQ(r.cc, 0) << r.listing;
    ASSERT_EQ((folder + "/C").size(), 115u);
    const auto got = r.listingLines();
    EXPECT_NE(
        std::find(got.begin(), got.end(), " KDU817I Member name C added to SYSUT2 with 1 record,"),
        got.end());
    EXPECT_NE(std::find(got.begin(), got.end(), "         PATH=" + folder + "/C"), got.end());

    // To the callback the message and its path stay one text.
    job.sysprint = "<stdout>";
    r = runDeck(dir, "./ ADD NAME=D\nX\n", job);
    EXPECT_TRUE(
        r.told("KDU817I Member name D added to SYSUT2 with 1 record, PATH=" + folder + "/D"));
}

TEST(UpdateListing, WithoutAListingFile) {
    TempDir dir;
    standardData(dir);
    const std::string deck = "./ ADD NAME=C,LIST=NONE\n./ ADD NAME=D\nX\n";
    Job job = pdsJob();
    job.sysprint = "<stdout>";
    Result r = runDeck(dir, deck, job);
    EXPECT_EQ(r.cc, 12);
    const std::vector<std::pair<int, std::string>> expected = {
        {2, "./ ADD NAME=C,LIST=NONE"},
        {2, kE + "invalid LIST parameter value"},
        {2, "KDU808I Function terminated, will attempt next function"},
        {2,
         "KDU817I Member name D added to SYSUT2 with 1 record, PATH=" + (dir / "pds/D").string()},
        {2, "KDU818I Highest condition code was 12"},
    };
    EXPECT_EQ(r.messages, expected);

    // "nul" and an empty path: no listing and no messages; the condition code still counts.
    for (const char* quiet : {"nul", ""}) {
        job.sysprint = quiet;
        r = runDeck(dir, "./ ADD NAME=E,LIST=NONE\n", job);
        EXPECT_EQ(r.cc, 12);
        EXPECT_TRUE(r.messages.empty());
    }
    EXPECT_FALSE(fs::exists(dir / "nul")) << "nul is the null device, not a file";
}

TEST(UpdateRunStart, SysprintSysinAndParameter) {
    TempDir dir;
    standardData(dir);
    writeFile(dir / "sysin.txt", "./ ADD NAME=C\nX\n");
    Job job = pdsJob();

    job.sysprint = std::nullopt;
    Result r = run(dir, job);
    EXPECT_EQ(r.cc, 12);
    EXPECT_EQ(r.messages.front(),
              (std::pair<int, std::string>{1, "KEC130I SYSPRINT DD statement missing"}));
    EXPECT_FALSE(fs::exists(dir / "pds/C"));

    job.sysprint = "sysprint.txt";
    job.printFlags = UPDATE_DD_BINARY;
    r = run(dir, job);
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(r.told("KDU814E DDNAME SYSPRINT cannot be opened, FILEDATA=TEXT is required"));
    job.printFlags = 0;

    job.sysprint = "no/such/folder/list.txt";
    r = run(dir, job);
    EXPECT_EQ(r.cc, 12);
    ASSERT_FALSE(r.messages.empty());
    EXPECT_EQ(r.messages[0].second.rfind("KDU814E DDNAME SYSPRINT cannot be opened, ", 0), 0u);
    EXPECT_NE(r.messages[0].second.find(", PATH=" + (dir / "no/such/folder/list.txt").string()),
              std::string::npos);
    job.sysprint = "sysprint.txt";

    job.sysin = std::nullopt;
    r = run(dir, job);
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(r.told("KEC130I SYSIN DD statement missing"));
    EXPECT_TRUE(r.listed("KDU814E DDNAME SYSIN cannot be opened"));

    writeFile(dir / "empty.txt", "");
    for (const char* none : {"empty.txt", "nul", ""}) {
        job.sysin = none;
        r = run(dir, job);
        EXPECT_EQ(r.cc, 12);
        EXPECT_TRUE(r.listed("KDU823E SYSIN has no records")) << none;
    }
    job.sysin = "missing.txt";
    r = run(dir, job);
    EXPECT_TRUE(listedStart(r, "KDU814E DDNAME SYSIN cannot be opened, ")) << r.listing;
    job.sysin = "pds"; // a folder opens but cannot be read
    r = run(dir, job);
    EXPECT_TRUE(listedStart(r, "KDU802E SYSIN I/O ERROR, ")) << r.listing;
    job.sysin = "sysin.txt";

    for (const char* ok : {"", "MOD"}) {
        job.parm = ok;
        fs::remove(dir / "pds/C");
        EXPECT_EQ(run(dir, job).cc, 0);
    }
    job.parm = "new";
    r = run(dir, job);
    EXPECT_TRUE(r.listed("KDU827E Invalid parameter: 'new'"));
    job.parm = std::string(90, 'P');
    r = run(dir, job);
    EXPECT_TRUE(r.listed("KDU827E Invalid parameter: '" + std::string(80, 'P') + "'..."));
    EXPECT_EQ(r.cc, 12);
}

namespace {

struct Case {
    const char* what;
    std::string deck;
    std::string message;
    std::string ut1 = "pds/&M";
    std::string ut2 = "pds/&M";
    unsigned ut1Flags = 0;
    bool prefixOnly = false; // the message ends with a system error text
};

std::vector<Case> engineCases() {
    const std::string change = "./ CHANGE NAME=A\n";
    return {
        {"REPL to a sequential data set", "./ REPL\n",
         "KDU807E Operation error: REPL function is not allowed with output sequential data set",
         "seq.txt", "out.txt"},
        {"NEW=PO without MEMBER", "./ ADD NEW=PO\n",
         kE + "MEMBER parameter is required with NEW=PO", "seq.txt", "out/&M"},
        {"NEW=PO with NAME", "./ ADD MEMBER=C,NAME=C,NEW=PO\n",
         kE + "NAME parameter is not allowed with NEW=PO", "seq.txt", "out/&M"},
        {"MEMBER without NEW=PO", "./ ADD MEMBER=C\n", kE + "MEMBER parameter requires NEW=PO"},
        {"NAME for a sequential data set", "./ ADD NAME=C\n",
         kE + "NAME parameter is not allowed for new sequential data set", "seq.txt", "out.txt"},
        {"no NAME", "./ ADD LIST=ALL\n", kE + "NAME parameter is required"},
        {"ADD of an existing member", "./ ADD NAME=A\n", "KDU816E Member name A found in SYSUT1,"},
        {"CHANGE of a missing member", "./ CHANGE NAME=Z\n",
         "KDU816E Member name Z not found in SYSUT1,"},
        {"organizations differ", "./ REPRO NAME=A\n",
         "KDU807E Operation error: NEW parameter is required because old and new data set "
         "organizations do not match",
         "pds/&M", "out.txt"},
        {"NEW names the wrong one", "./ REPRO NAME=A,NEW=PO\n",
         "KDU807E Operation error: NEW parameter value does not match old and new data set "
         "organizations",
         "pds/&M", "out.txt"},
        {"NEW with equal organizations", "./ REPRO NAME=A,NEW=PO\n",
         "KDU807E Operation error: NEW parameter value does not match old and new data set "
         "organizations"},
        {"same sequential data set", "./ REPRO\n",
         "KDU807E Operation error: old and new sequential data sets must be different", "seq.txt",
         "seq.txt"},
        {"same sequential data set, two spellings", "./ REPRO\n",
         "KDU807E Operation error: old and new sequential data sets must be different", "seq.txt",
         "out/../seq.txt"},
        {"CHANGE at the end of the input", change,
         "KDU807E Operation error: no data or detail statements follow CHANGE function statement"},
        {"CHANGE followed by a function", change + "./ ADD NAME=C\n",
         "KDU807E Operation error: no data or detail statements follow CHANGE function statement"},
        {"NUMBER without NEW1", change + "./ NUMBER SEQ1=10,SEQ2=20,INCR=5\n",
         kE + "NEW1 parameter is required"},
        {"NUMBER without INCR", change + "./ NUMBER SEQ1=10,SEQ2=20,NEW1=15\n",
         kE + "INCR parameter is required"},
        {"two renumberings",
         change + "./ NUMBER SEQ1=ALL,NEW1=5,INCR=5\n./ NUMBER SEQ1=20,SEQ2=30,NEW1=25,INCR=1\n",
         "KDU807E Operation error: renumbering operation is already active"},
        {"two data statements with one key",
         change + numbered("X", 15) + "\n" + numbered("Y", 15) + "\n",
         "KDU806E Statement sequence error"},
        {"keys going down", change + numbered("X", 25) + "\n" + numbered("Y", 15) + "\n",
         "KDU806E Statement sequence error"},
        {"NUMBER inside an active range",
         change +
             "./ NUMBER SEQ1=10,SEQ2=30,NEW1=11,INCR=1\n./ NUMBER SEQ1=20,SEQ2=40,NEW1=21,INCR=1\n",
         "KDU806E Statement sequence error"},
        {"data after a DELETE at its SEQ2",
         change + "./ DELETE SEQ1=10,SEQ2=20\n" + numbered("X", 20) + "\n",
         "KDU806E Statement sequence error"},
        {"SEQ1=ALL later", change + numbered("X", 15) + "\n./ NUMBER SEQ1=ALL,NEW1=1,INCR=1\n",
         kE + "SEQ1=ALL is only allowed on the first statement following the CHANGE function "
              "statement"},
        {"sequential SYSUT1 read twice",
         "./ CHANGE\n" + numbered("X", 15) + "\n./ CHANGE\n" + numbered("Y", 15) + "\n",
         "KDU815E Cannot read old sequential data set more than once per utility execution.",
         "seq.txt", "out.txt"},
        {"in place on text", "./ CHANGE NAME=A,UPDATE=INPLACE\n" + numbered("X", 20) + "\n",
         "KDU814E DDNAME SYSUT1 cannot be opened: UPDATE=INPLACE cannot be used with text file,"},
        {"in-place insertion", "./ CHANGE NAME=A,UPDATE=INPLACE\n" + numbered("X", 15) + "\n",
         "KDU806E Statement sequence error", "bin/&M", "", UPDATE_DD_BINARY},
        {"missing sequential SYSUT1", "./ CHANGE\n" + numbered("X", 15) + "\n",
         "KDU814E DDNAME SYSUT1 cannot be opened: ", "none.txt", "out.txt", 0, true},
        {"sequential SYSUT2 in a missing folder", "./ REPRO\n",
         "KDU814E DDNAME SYSUT2 cannot be opened: ", "seq.txt", "none/out.txt", 0, true},
        {"member that cannot be opened in place",
         "./ CHANGE NAME=DIR,UPDATE=INPLACE\n" + numbered("X", 10) + "\n",
         "KDU812E Cannot access member DIR in SYSUT1: ", "bin/&M", "", UPDATE_DD_BINARY, true},
        {"member in a missing folder", "./ REPRO MEMBER=A,NEW=PO\n",
         "KDU812E Cannot create member A in SYSUT2: ", "seq.txt", "none/&M", 0, true},
        {"short binary record", "./ REPRO NAME=SHORT\n",
         "KDU802E SYSUT1 I/O ERROR, Last record is less than 80 bytes,", "bin/&M", "out/&M",
         UPDATE_DD_BINARY},
        {"SYSUT1 missing", "./ REPRO NAME=A\n", "KDU814E DDNAME SYSUT1 cannot be opened", "-",
         "pds/&M"},
        {"SYSUT2 missing", "./ REPRO NAME=A\n", "KDU814E DDNAME SYSUT2 cannot be opened", "pds/&M",
         "-"},
    };
}

} // namespace

TEST(UpdateEngine, EveryMessageWithConditionCode12) {
    for (const Case& c : engineCases()) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        standardData(dir);
        fs::create_directories(dir / "bin" / "DIR");
        writeFile(dir / "bin/A", ebcdic(numbered("RECORD 10", 10) + numbered("RECORD 20", 20)));
        writeFile(dir / "bin/SHORT", ebcdic(numbered("RECORD 10", 10) + "HALF"));
        Job job;
        job.sysut1 = c.ut1 == "-" ? std::nullopt : std::optional<std::string>(c.ut1);
        job.sysut2 = c.ut2 == "-" ? std::nullopt : std::optional<std::string>(c.ut2);
        job.ut1Flags = c.ut1Flags;
        const Result r = runDeck(dir, c.deck, job);
        EXPECT_EQ(r.cc, 12);
        EXPECT_TRUE(c.prefixOnly ? listedStart(r, c.message) : r.listed(c.message)) << r.listing;
        if (c.ut1 == "-" || c.ut2 == "-") {
            EXPECT_TRUE(r.told("KEC130I " + std::string(c.ut1 == "-" ? "SYSUT1" : "SYSUT2") +
                               " DD statement missing"));
        }
    }
}

TEST(UpdateEngine, AddReplaceReproToMembersAndSequentialDataSets) {
    TempDir dir;
    standardData(dir);
    // PARM NEW with a member pattern: only ADD, NAME required, no SYSUT1; "&m" gives
    // lower-case file names.
    Job job;
    job.parm = "NEW";
    job.sysut2 = "new/&m.txt";
    fs::create_directories(dir / "new");
    Result r = runDeck(dir, "./ ADD NAME=PAY$ROLL\nONE\n./ ADD NAME=X2\n", job);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "new/pay$roll.txt"), std::vector<std::string>{"ONE"});
    EXPECT_TRUE(fs::exists(dir / "new/x2.txt"));
    EXPECT_TRUE(r.listed("KDU817I Member name X2 added to SYSUT2 with 0 records, PATH=" +
                         (dir / "new/x2.txt").string()));

    // REPL replaces; REPRO copies a member to another folder.
    r = runDeck(dir, "./ REPL NAME=B\nNEW ONLY\n./ REPRO NAME=A\n", [&] {
        Job j = pdsJob();
        return j;
    }());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/B"), std::vector<std::string>{"NEW ONLY"});

    // Successive functions append to one sequential SYSUT2, each with its own count.
    job = Job();
    job.parm = "NEW";
    job.sysut2 = "out.txt";
    r = runDeck(dir, "./ ADD\nONE\n./ ADD\nTWO\nTHREE\n", job);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "out.txt"), (std::vector<std::string>{"ONE", "TWO", "THREE"}));
    EXPECT_TRUE(r.listed("KDU817I 1 record written to SYSUT2, PATH=" + (dir / "out.txt").string()));
    EXPECT_TRUE(
        r.listed("KDU817I 2 records written to SYSUT2, PATH=" + (dir / "out.txt").string()));

    // Member to sequential (NEW=PS) and sequential to member (NEW=PO), in binary records.
    job = Job();
    job.sysut1 = "pds/&M";
    job.sysut2 = "a.bin";
    job.ut2Flags = UPDATE_DD_BINARY;
    r = runDeck(dir, "./ REPRO NAME=A,NEW=PS\n", job);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(readFile(dir / "a.bin").size(), 5u * 80);
    EXPECT_EQ(readFile(dir / "a.bin").substr(0, 80), ebcdic(numbered("RECORD 10", 10)));
    job.sysut1 = "a.bin";
    job.ut1Flags = UPDATE_DD_BINARY;
    job.sysut2 = "out/&M";
    job.ut2Flags = 0;
    r = runDeck(dir, "./ REPRO MEMBER=COPY,NEW=PO\n", job);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(readFile(dir / "out/COPY"), readFile(dir / "pds/A"));

    // DISP=MOD appends to what the sequential data set holds.
    writeFile(dir / "log.txt", "BEFORE\n");
    job = Job();
    job.parm = "NEW";
    job.sysut2 = "log.txt";
    job.ut2Flags = UPDATE_DD_APPEND;
    EXPECT_EQ(runDeck(dir, "./ ADD\nAFTER\n", job).cc, 0);
    EXPECT_EQ(readFile(dir / "log.txt"), "BEFORE\nAFTER\n");
}

TEST(UpdateEngine, ChangeReplacesDeletesAndKeepsColumns) {
    TempDir dir;
    standardData(dir);
    // COLUMN=10 keeps columns 1-9 of the old record; DELETE SEQ1=20,SEQ2=40 drops three.
    Result r = runDeck(dir,
                       "./ CHANGE NAME=A,COLUMN=10\n" + numbered("XXXXXXXXXREPLACED", 10) +
                           "\n./ DELETE SEQ1=20,SEQ2=40\n",
                       pdsJob());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/A"), (std::vector<std::string>{numbered("RECORD 10REPLACED", 10),
                                                                  numbered("RECORD 50", 50)}));
    int deleted = 0;
    for (const auto& l : r.listingLines())
        deleted += l.size() > 7 && l.compare(l.size() - 7, 7, "DELETED") == 0;
    EXPECT_EQ(deleted, 3);
}

TEST(UpdateEngine, Renumbering) {
    TempDir dir;
    standardData(dir);
    // SEQ1=ALL renumbers every record written, and the counter wraps at 100000000.
    Result r = runDeck(dir,
                       "./ CHANGE NAME=A\n./ NUMBER SEQ1=ALL,NEW1=99999900,INCR=100\n" +
                           numbered("NEW", 35) + "\n",
                       pdsJob());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/A"), numberedLines({{"RECORD 10", 99999900},
                                                       {"RECORD 20", 0},
                                                       {"RECORD 30", 100},
                                                       {"NEW", 200},
                                                       {"RECORD 40", 300},
                                                       {"RECORD 50", 400}}));

    // A range: 20 to 40 becomes 21, 22, 23; the rest stays.
    standardData(dir);
    r = runDeck(dir, "./ CHANGE NAME=A\n./ NUMBER SEQ1=20,SEQ2=40,NEW1=21,INCR=1\n", pdsJob());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/A"), numberedLines({{"RECORD 10", 10},
                                                       {"RECORD 20", 21},
                                                       {"RECORD 30", 22},
                                                       {"RECORD 40", 23},
                                                       {"RECORD 50", 50}}));

    // INSERT=YES after record 30: blank-keyed records are numbered 31, 32; the first record
    // with a key ends the insertion and is merged by its key.
    standardData(dir);
    r = runDeck(dir,
                "./ CHANGE NAME=A\n./ NUMBER SEQ1=30,NEW1=31,INCR=1,INSERT=YES\nIN ONE\nIN TWO\n" +
                    numbered("KEYED", 45) + "\n",
                pdsJob());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/A"), numberedLines({{"RECORD 10", 10},
                                                       {"RECORD 20", 20},
                                                       {"RECORD 30", 30},
                                                       {"IN ONE", 31},
                                                       {"IN TWO", 32},
                                                       {"RECORD 40", 40},
                                                       {"KEYED", 45},
                                                       {"RECORD 50", 50}}));

    // NUMBER under ADD: a sequence field with a fixed part keeps it.
    Job job;
    job.parm = "NEW";
    job.sysut2 = "out/&M";
    r = runDeck(dir,
                "./ ADD NAME=N,SEQFLD=(738,783)\n./ NUMBER NEW1=AB000,INCR=5\n" +
                    card("ONE", "XYZ") + "\nTWO\n",
                job);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "out/N"),
              (std::vector<std::string>{card("ONE", "000AB000"), card("TWO", "000AB005")}));
}

TEST(UpdateEngine, InPlaceUpdateOfBinaryRecords) {
    TempDir dir;
    fs::create_directories(dir / "bin");
    std::string records;
    for (unsigned n = 10; n <= 30; n += 10)
        records += ebcdic(numbered("RECORD " + std::to_string(n), n));
    writeFile(dir / "bin/A", records);
    Job job;
    job.sysut1 = "bin/&M";
    job.ut1Flags = UPDATE_DD_BINARY;
    Result r =
        runDeck(dir, "./ CHANGE NAME=A,UPDATE=INPLACE\n" + numbered("NEW 20", 20) + "\n", job);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(readFile(dir / "bin/A"), ebcdic(numbered("RECORD 10", 10) + numbered("NEW 20", 20) +
                                              numbered("RECORD 30", 30)));
    EXPECT_TRUE(r.listed("KDU817I Member name A replaced in SYSUT1 with 3 records, PATH=" +
                         (dir / "bin/A").string()));

    // A renumbering in place rewrites every record it numbers.
    r = runDeck(dir, "./ CHANGE NAME=A,UPDATE=INPLACE\n./ NUMBER SEQ1=ALL,NEW1=100,INCR=100\n",
                job);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(readFile(dir / "bin/A"), ebcdic(numbered("RECORD 10", 100) + numbered("NEW 20", 200) +
                                              numbered("RECORD 30", 300)));

    // A file that cannot be positioned: the rewrite fails with the seek message.
    const std::string fifo = (dir / "bin/PIPE").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    const std::string one = ebcdic(numbered("RECORD 10", 10));
    ASSERT_EQ(::write(fd, one.data(), one.size()), 80);
    r = runDeck(dir, "./ CHANGE NAME=PIPE,UPDATE=INPLACE\n" + numbered("NEW 10", 10) + "\n", job);
    ::close(fd);
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(listedStart(r, "KDU802E SYSUT1 I/O ERROR, fseek(-80,1): ")) << r.listing;
}

TEST(UpdateNothingLost, TemporaryMembersAndReplacements) {
    TempDir dir;
    standardData(dir);
    // A member being replaced is written as 0000TEMP first; when that name is taken, 0001TEMP.
    writeFile(dir / "pds/0000TEMP", "SOMEONE ELSE'S\n");
    Result r = runDeck(dir, "./ CHANGE NAME=B\n" + numbered("NEW", 100) + "\n", pdsJob());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/B"), std::vector<std::string>{numbered("NEW", 100)});
    EXPECT_EQ(readFile(dir / "pds/0000TEMP"), "SOMEONE ELSE'S\n");
    EXPECT_FALSE(fs::exists(dir / "pds/0001TEMP"));

    // A CHANGE that fails halfway leaves the member as it was, and no temporary member.
    const std::string before = readFile(dir / "pds/A");
    r = runDeck(dir, "./ CHANGE NAME=A\n" + numbered("X", 25) + "\n" + numbered("Y", 15) + "\n",
                pdsJob());
    EXPECT_EQ(r.cc, 12);
    EXPECT_EQ(readFile(dir / "pds/A"), before);
    EXPECT_FALSE(fs::exists(dir / "pds/0001TEMP"));

    // A replacement that cannot be renamed over the member (here a folder in its way) leaves
    // the member alone and removes the temporary one.
    fs::create_directories(dir / "pds/DIR/inside");
    r = runDeck(dir, "./ REPL NAME=DIR\nNEW\n", pdsJob());
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(listedStart(r, "KDU813E Rename of temporary SYSUT2 member failed, ")) << r.listing;
    EXPECT_TRUE(fs::is_directory(dir / "pds/DIR/inside"));
    EXPECT_FALSE(fs::exists(dir / "pds/0001TEMP"));

    // A replacement whose temporary member cannot be created names the member it replaces.
    Job proc;
    proc.sysut1 = "/proc/self/&m";
    proc.sysut2 = "/proc/self/&m";
    r = runDeck(dir, "./ REPL NAME=STATUS\nX\n", proc);
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(listedStart(r, "KDU812E Cannot replace member STATUS in SYSUT2: ")) << r.listing;

    // A member copied onto itself under another spelling is left as it is.
    Job spelled = pdsJob();
    spelled.sysut2 = "out/../pds/&M";
    r = runDeck(dir, "./ REPRO NAME=A\n", spelled);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(readFile(dir / "pds/A"), before);

    // A sequential SYSUT2 that is the member being read: the old data stays readable until
    // the new data set is complete.
    Job ps;
    ps.sysut1 = "pds/&M";
    ps.sysut2 = "pds/A";
    r = runDeck(dir, "./ CHANGE NAME=A,NEW=PS\n" + numbered("NEW 15", 15) + "\n", ps);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/A").size(), 6u);
    EXPECT_EQ(fileLines(dir / "pds/A")[1], numbered("NEW 15", 15));

    // Appending (DISP=MOD) to the data set that is being read is refused: the copy would read
    // its own output.
    ps.ut2Flags = UPDATE_DD_APPEND;
    r = runDeck(dir, "./ REPRO NAME=A,NEW=PS\n", ps);
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(
        r.listed("KDU807E Operation error: old and new sequential data sets must be different"))
        << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/A").size(), 6u);
}

TEST(UpdateNothingLost, NoTemporaryMemberName) {
    TempDir dir;
    standardData(dir);
    for (unsigned i = 0; i <= 9999; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%04uTEMP", i);
        const int fd = ::open((dir / "pds" / name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    const std::string before = readFile(dir / "pds/A");
    const Result r = runDeck(dir, "./ CHANGE NAME=A\n" + numbered("X", 15) + "\n", pdsJob());
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(listedStart(r, "KDU812E Cannot create member 9999TEMP in SYSUT2: ")) << r.listing;
    EXPECT_TRUE(r.listed("KDU808I Function terminated, will attempt next function"));
    EXPECT_EQ(readFile(dir / "pds/A"), before);
}

TEST(UpdateNothingLost, ListingOrOutputNamingAnInputIsRefused) {
    TempDir dir;
    standardData(dir);
    const std::string deck = "./ ADD\nX\n";
    const std::string seq = readFile(dir / "seq.txt");
    Job job;
    job.sysut1 = "seq.txt";
    job.sysut2 = "out.txt";
    job.sysprint = "sysin.txt";
    Result r = runDeck(dir, deck, job);
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(r.told("KDU814E DDNAME SYSPRINT cannot be opened, same file as DDNAME SYSIN,"));
    EXPECT_EQ(readFile(dir / "sysin.txt"), deck);
    job.sysprint = "out/../seq.txt";
    r = runDeck(dir, deck, job);
    EXPECT_TRUE(r.told("KDU814E DDNAME SYSPRINT cannot be opened, same file as DDNAME SYSUT1,"));
    EXPECT_EQ(readFile(dir / "seq.txt"), seq);

    job = Job();
    job.parm = "NEW";
    job.sysut2 = "sysin.txt";
    r = runDeck(dir, deck, job);
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(r.listed("KDU814E DDNAME SYSUT2 cannot be opened: same file as DDNAME SYSIN,"))
        << r.listing;
    EXPECT_EQ(readFile(dir / "sysin.txt"), deck);
}

TEST(UpdateEngine, NumberingWithoutNew1KeepsTheFixedPartOfTheField) {
    TempDir dir;
    Job job;
    job.parm = "NEW";
    job.sysut2 = "out/&M";
    fs::create_directories(dir / "out");
    // Without NEW1 there is no base value: the bytes outside the numeric portion stay as the
    // record has them instead of turning into X'00'.
    const Result r = runDeck(dir,
                             "./ ADD NAME=N,SEQFLD=(738,783)\n./ NUMBER INCR=5\n" +
                                 card("ONE", "ABCDE999") + "\nTWO\n",
                             job);
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "out/N"),
              (std::vector<std::string>{card("ONE", "ABCDE000"), card("TWO", "     005")}));
}

TEST(UpdateListing, AListingThatCannotBeWrittenIsNoSuccess) {
    TempDir dir;
    standardData(dir);
    Job job = pdsJob();
    job.sysprint = "/dev/full";
    const Result r = runDeck(dir, "./ ADD NAME=C\nX\n", job);
    EXPECT_EQ(r.cc, 12);
    ASSERT_FALSE(r.messages.empty());
    EXPECT_EQ(r.messages[0].second.rfind("KDU802E SYSPRINT I/O ERROR, ", 0), 0u)
        << r.messages[0].second;
    EXPECT_TRUE(r.told("KDU818I Highest condition code was 12"));
}
