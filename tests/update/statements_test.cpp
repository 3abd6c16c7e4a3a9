// The statement reader through whole runs: every message a statement can earn, with the
// condition code, and the rules of fields, continuations, keywords and sequence values.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "update_support.h"

using namespace updatetest;

namespace {

const std::string kPds = "pds/&M";
const std::string kE = "KDU805E Control statement error: ";

// Column 72 set: the card continues.
std::string continued(const std::string& text) {
    return card(text.substr(0, 71) + std::string(71 - std::min<size_t>(71, text.size()), ' ') +
                "X");
}

struct Case {
    const char* what;
    std::string deck;
    std::string message;
    std::string parm = "";
    std::string ut1 = kPds;
    std::string ut2 = kPds;
};

std::vector<Case> statementCases() {
    const std::string add = "./ ADD NAME=C\n";
    const std::string change = "./ CHANGE NAME=A\n";
    return {
        {"data before any function", "STRAY DATA\n./ ADD NAME=C\n",
         "KDU805E Control statement error"},
        {"detail first", "./ NUMBER NEW1=10,INCR=10\n",
         kE + "no function statement for this detail statement"},
        {"comma, no continuation", "./ ADD NAME=C,\nX\n", kE + "invalid continuation"},
        {"continuation without comma", continued("./ ADD NAME=C") + "\n./             LIST=ALL\n",
         kE + "invalid continuation"},
        {"continuation without parameters", continued("./ ENDUP") + "\n./             LIST=ALL\n",
         kE + "invalid continuation"},
        {"broken continuation record", continued("./ ADD NAME=C,") + "\n./   LIST=ALL\n",
         kE + "invalid continuation"},
        {"continuation with a trailing comma",
         continued("./ ADD NAME=C,") + "\n./             LIST=ALL,\n", kE + "invalid continuation"},
        {"input ends in a continuation", continued("./ ADD NAME=C,") + "\n",
         kE + "invalid continuation"},
        {"ENDUP with parameters", "./ ENDUP NOW=YES\n", kE + "invalid parameter field"},
        {"lower-case operation", "./ add NAME=C\n", kE + "invalid operation field"},
        {"ten-character operation", "./ ADDADDADDA NAME=C\n", kE + "invalid operation field"},
        {"unknown keyword", "./ ADD NAMES=C\n", kE + "invalid parameter name"},
        {"keyword without =", "./ ADD LIST\n", kE + "invalid parameter name"},
        {"unbalanced )", "./ ADD NAME=C)\n", kE + "unbalanced ')' in parameter value"},
        {"unbalanced (", "./ ADD NAME=(C\n", kE + "unbalanced '(' in parameter value"},
        {"COLUMN 81", "./ CHANGE NAME=A,COLUMN=81\n", kE + "invalid COLUMN parameter value"},
        {"COLUMN twice", "./ CHANGE NAME=A,COLUMN=5,COLUMN=6\n",
         kE + "COLUMN parameter already specified"},
        {"COLUMN on ADD", "./ ADD NAME=C,COLUMN=5\n",
         kE + "COLUMN parameter is only valid for CHANGE function"},
        {"LEVEL not hex", "./ ADD NAME=C,LEVEL=0G\n", kE + "invalid LEVEL parameter value"},
        {"LEVEL twice", "./ ADD NAME=C,LEVEL=01,LEVEL=02\n",
         kE + "LEVEL parameter already specified"},
        {"LIST value", "./ ADD NAME=C,LIST=NONE\n", kE + "invalid LIST parameter value"},
        {"LIST twice", "./ ADD NAME=C,LIST=ALL,LIST=ALL\n",
         kE + "LIST parameter already specified"},
        {"MEMBER starts with a digit", "./ ADD MEMBER=1AB\n",
         kE + "invalid MEMBER parameter value"},
        {"MEMBER twice", "./ ADD MEMBER=X,MEMBER=Y\n", kE + "MEMBER parameter already specified"},
        {"NAME of nine characters", "./ ADD NAME=ABCDEFGHI\n", kE + "INVALID NAME parameter value"},
        {"NAME in lower case", "./ ADD NAME=abc\n", kE + "INVALID NAME parameter value"},
        {"NAME twice", "./ ADD NAME=C,NAME=D\n", kE + "NAME parameter already specified"},
        {"NEW value", "./ ADD NAME=C,NEW=XX\n", kE + "invalid NEW parameter value"},
        {"NEW twice", "./ ADD NAME=C,NEW=PO,NEW=PO\n", kE + "NEW parameter already specified"},
        {"NEW on a later statement", add + "X\n./ ADD NAME=D,NEW=PS\n",
         kE + "NEW parameter is only valid on the first function statement"},
        {"NEW with PARM NEW", "./ ADD NAME=C,NEW=PO\n",
         kE + "NEW parameter is not valid with new output data set", "NEW"},
        {"SEQFLD numeric portion outside", "./ CHANGE NAME=A,SEQFLD=(738,768)\n",
         kE + "invalid SEQFLD parameter value"},
        {"SEQFLD of two digits", "./ CHANGE NAME=A,SEQFLD=73\n",
         kE + "invalid SEQFLD parameter value"},
        {"SEQFLD past column 80", "./ CHANGE NAME=A,SEQFLD=758\n",
         kE + "invalid SEQFLD parameter value"},
        {"SEQFLD twice", "./ CHANGE NAME=A,SEQFLD=738,SEQFLD=738\n",
         kE + "SEQFLD parameter already specified"},
        {"SOURCE value", "./ ADD NAME=C,SOURCE=2\n", kE + "invalid SOURCE parameter value"},
        {"SOURCE twice", "./ ADD NAME=C,SOURCE=0,SOURCE=1\n",
         kE + "SOURCE parameter already specified"},
        {"SSI of seven digits", "./ ADD NAME=C,SSI=1234567\n", kE + "invalid SSI parameter value"},
        {"SSI twice", "./ ADD NAME=C,SSI=0000ABCD,SSI=0000ABCD\n",
         kE + "SSI parameter already specified"},
        {"UPDATE value", "./ CHANGE NAME=A,UPDATE=YES\n", kE + "invalid UPDATE parameter value"},
        {"UPDATE twice", "./ CHANGE NAME=A,UPDATE=INPLACE,UPDATE=INPLACE\n",
         kE + "UPDATE parameter already specified"},
        {"UPDATE on ADD", "./ ADD NAME=C,UPDATE=INPLACE\n",
         kE + "UPDATE parameter is only valid for CHANGE function"},
        {"UPDATE on a later CHANGE",
         change + numbered("X", 15) + "\n./ CHANGE NAME=B,UPDATE=INPLACE\n",
         kE + "UPDATE parameter is only valid on the first CHANGE statement"},
        {"UPDATE with PARM NEW", "./ CHANGE NAME=A,UPDATE=INPLACE\n",
         "KDU807E Operation error: UPDATE=INPLACE is not valid with new output data set", "NEW"},
        {"UPDATE with NEW", "./ CHANGE NAME=A,UPDATE=INPLACE,NEW=PS\n",
         kE + "UPDATE parameter is not allowed with NEW parameter"},
        {"CHANGE with PARM NEW", "./ CHANGE NAME=A\n",
         "KDU807E Operation error: only ADD function statements are allowed with new output data "
         "set",
         "NEW"},
        {"ADD after an in-place CHANGE", "./ CHANGE NAME=Z,UPDATE=INPLACE\n./ ADD NAME=C\n",
         "KDU807E Operation error: only CHANGE function statements are allowed with "
         "UPDATE=INPLACE"},
        // Detail statements.
        {"SEQ1 under ADD", add + "./ NUMBER SEQ1=10\n",
         kE + "SEQ1 parameter is only valid with CHANGE function statement"},
        {"SEQ1 twice", change + "./ DELETE SEQ1=10,SEQ1=20\n",
         kE + "SEQ1 parameter already specified"},
        {"SEQ1=ALL on DELETE", change + "./ DELETE SEQ1=ALL\n",
         kE + "SEQ1=ALL is only valid on NUMBER statement"},
        {"SEQ1 of nine digits", change + "./ DELETE SEQ1=123456789\n",
         kE + "invalid SEQ1 parameter length"},
        {"SEQ1 empty", change + "./ DELETE SEQ1=,SEQ2=10\n", kE + "invalid SEQ1 parameter length"},
        {"SEQ1 not numeric", change + "./ DELETE SEQ1=1A\n",
         kE + "invalid numeric portion of SEQ1 parameter"},
        {"SEQ2 under ADD", add + "./ NUMBER SEQ2=10\n",
         kE + "SEQ2 parameter is only valid with CHANGE function statement"},
        {"SEQ2 of nine digits", change + "./ DELETE SEQ2=123456789\n",
         kE + "invalid SEQ2 parameter length"},
        {"SEQ2 not numeric", change + "./ DELETE SEQ2=X\n",
         kE + "invalid numeric portion of SEQ2 parameter"},
        {"SEQ2 twice", change + "./ DELETE SEQ2=10,SEQ2=20\n",
         kE + "SEQ2 parameter already specified"},
        {"NEW1 on DELETE", change + "./ DELETE NEW1=10\n",
         kE + "NEW1 parameter is not valid on DELETE statement"},
        {"NEW1 of nine digits", add + "./ NUMBER NEW1=123456789\n",
         kE + "invalid NEW1 parameter length"},
        {"NEW1 not numeric", add + "./ NUMBER NEW1=1X\n",
         kE + "invalid numeric portion of NEW1 parameter"},
        {"NEW1 twice", add + "./ NUMBER NEW1=1,NEW1=2\n", kE + "NEW1 parameter already specified"},
        {"INCR on DELETE", change + "./ DELETE INCR=1\n",
         kE + "INCR parameter is not valid on DELETE statement"},
        {"INCR empty", add + "./ NUMBER INCR=\n", kE + "invalid INCR parameter value"},
        {"INCR of nine digits", add + "./ NUMBER INCR=123456789\n",
         kE + "INVALID INCR parameter value"},
        {"INCR with a letter", add + "./ NUMBER INCR=1X\n", kE + "INVALID INCR parameter value"},
        {"INCR zero", add + "./ NUMBER INCR=0\n", kE + "invalid INCR parameter value"},
        {"INCR twice", add + "./ NUMBER INCR=1,INCR=2\n", kE + "INCR parameter already specified"},
        {"INSERT on DELETE", change + "./ DELETE INSERT=YES\n",
         kE + "INSERT parameter is not valid on DELETE statement"},
        {"INSERT under ADD", add + "./ NUMBER INSERT=YES\n",
         kE + "INSERT parameter is only valid with CHANGE function statement"},
        {"INSERT in place", "./ CHANGE NAME=A,UPDATE=INPLACE\n./ NUMBER SEQ1=10,INSERT=YES\n",
         "KDU807E Operation error: INSERT parameter is not valid with CHANGE UPDATE=INPLACE "
         "function"},
        {"INSERT value", change + "./ NUMBER SEQ1=10,INSERT=NO\n",
         kE + "invalid INSERT parameter value"},
        {"INSERT twice", change + "./ NUMBER SEQ1=10,INSERT=YES,INSERT=YES\n",
         kE + "INSERT parameter already specified"},
        {"DELETE under ADD", add + "./ DELETE SEQ1=1,SEQ2=2\n",
         kE + "DELETE statement is only valid with CHANGE function statement"},
        {"DELETE in place", "./ CHANGE NAME=A,UPDATE=INPLACE\n./ DELETE SEQ1=10,SEQ2=20\n",
         "KDU807E Operation error: DELETE statement is not valid with CHANGE UPDATE=INPLACE "
         "function"},
        {"detail under REPRO", "./ REPRO NAME=A\n./ NUMBER NEW1=1,INCR=1\n",
         kE + "detail statements are not valid with REPRO function statement"},
        {"SEQ2 below SEQ1", change + "./ NUMBER SEQ1=20,SEQ2=10,NEW1=30,INCR=1\n",
         kE + "SEQ2 parameter value must not be less than SEQ1 parameter value"},
        {"DELETE without SEQ1", change + "./ DELETE SEQ2=10\n",
         kE + "SEQ1 parameter is required on DELETE statement"},
        {"DELETE without SEQ2", change + "./ DELETE SEQ1=10\n",
         kE + "SEQ2 parameter is required on DELETE statement"},
        {"NUMBER without SEQ1", change + "./ NUMBER NEW1=10,INCR=1\n",
         kE + "SEQ1 parameter is required on NUMBER statement for CHANGE function"},
        {"NEW1 not above SEQ1", change + "./ NUMBER SEQ1=10,SEQ2=20,NEW1=10,INCR=1\n",
         kE + "NEW1 parameter value must be greater than SEQ1 parameter value"},
        {"SEQ1=ALL with INSERT", change + "./ NUMBER SEQ1=ALL,NEW1=10,INCR=1,INSERT=YES\n",
         kE + "SEQ1=ALL is not allowed with INSERT=YES"},
        {"NUMBER without SEQ2", change + "./ NUMBER SEQ1=10,NEW1=20,INCR=1\n",
         kE + "SEQ2 parameter is required"},
    };
}

Job binaryOut() {
    Job j = pdsJob();
    j.ut2Flags = UPDATE_DD_BINARY;
    return j;
}

} // namespace

TEST(UpdateStatements, EveryMessageWithConditionCode12) {
    for (const Case& c : statementCases()) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        standardData(dir);
        Job job;
        job.parm = c.parm;
        job.sysut1 = c.ut1;
        job.sysut2 = c.ut2;
        const Result r = runDeck(dir, c.deck, job);
        EXPECT_EQ(r.cc, 12);
        EXPECT_TRUE(r.listed(c.message)) << r.listing;
        EXPECT_TRUE(r.listed("KDU818I Highest condition code was 12"));
    }
}

TEST(UpdateStatements, RejectedStatementIsEchoedThenSkippedToTheNextFunction) {
    TempDir dir;
    standardData(dir);
    const Result r = runDeck(dir, "./ ADD NAME=C,LIST=NONE\nLOST\n./ ADD NAME=D\nKEPT\n", pdsJob());
    const std::vector<std::string> expected = {
        "         ./ ADD NAME=C,LIST=NONE",
        " KDU805E Control statement error: invalid LIST parameter value",
        " KDU808I Function terminated, will attempt next function",
        // No blank line yet: no function statement has been taken so far.
        "         ./ ADD NAME=D",
        "         KEPT",
        " KDU817I Member name D added to SYSUT2 with 1 record, PATH=" + (dir / "pds/D").string(),
        " ",
        " ",
        " KDU818I Highest condition code was 12",
    };
    const auto got = r.listingLines();
    ASSERT_GE(got.size(), 4u + expected.size());
    EXPECT_EQ(std::vector<std::string>(got.begin() + 4, got.end()), expected);
    EXPECT_FALSE(std::filesystem::exists(dir / "pds/C"));
    EXPECT_EQ(fileLines(dir / "pds/D"), std::vector<std::string>{"KEPT"});
}

TEST(UpdateStatements, FieldsAndContinuations) {
    TempDir dir;
    standardData(dir);
    // A label in column 3 is ignored and so is a comment after the parameters; a continued
    // value keeps its parentheses and the comma inside them.
    const std::string deck = "./LABEL ADD NAME=C,LIST=ALL   A COMMENT\nONE\n" +
                             continued("./ CHANGE NAME=A,SEQFLD=(738,") + "\n" +
                             card("./             773)") +
                             "\n./ DELETE SEQ1=20,SEQ2=30  DROPS TWO\n";
    Result r = runDeck(dir, deck, pdsJob());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/C"), std::vector<std::string>{"ONE"});
    EXPECT_EQ(fileLines(dir / "pds/A").size(), 3u);

    // A parameter field that reaches column 71 continues without a comma: "LIST=ALL,NAM"
    // and "E=E" join into LIST=ALL,NAME=E.
    std::string upTo71 = "./" + std::string(52, 'L') + " ADD LIST=ALL,NAM";
    ASSERT_EQ(upTo71.size(), 71u);
    r = runDeck(dir, card(upTo71 + "X") + "\n./             E=E\nTWO\n", pdsJob());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/E"), std::vector<std::string>{"TWO"});
}

TEST(UpdateStatements, SequenceFieldsAndValues) {
    TempDir dir;
    standardData(dir);
    // Keys AB12300X in columns 73-80 with a numeric portion in columns 77-79.
    std::vector<std::string> old;
    for (int n : {100, 200, 300, 400})
        old.push_back(card("OLD " + std::to_string(n), "AB12" + std::to_string(n) + "X"));
    writeFile(dir / "pds/K", lines(old));
    // The short form 738 is the default; SEQ1 10 is held right-aligned behind zeros.
    const Result r = runDeck(dir,
                             "./ CHANGE NAME=K,SEQFLD=(738,773),LIST=ALL\n"
                             "./ DELETE SEQ1=AB12200X,SEQ2=AB12300X\n"
                             "./ CHANGE NAME=A,SEQFLD=738\n"
                             "./ DELETE SEQ1=10,SEQ2=20\n",
                             pdsJob());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/K"), (std::vector<std::string>{old[0], old[3]}));
    EXPECT_EQ(fileLines(dir / "pds/A").size(), 3u);

    // The numeric portion is checked where the field has it: a letter there is refused.
    const Result bad =
        runDeck(dir, "./ CHANGE NAME=K,SEQFLD=(738,773)\n./ DELETE SEQ1=AB12X00X,SEQ2=AB12300X\n",
                pdsJob());
    EXPECT_TRUE(bad.listed(kE + "invalid numeric portion of SEQ1 parameter")) << bad.listing;
}

TEST(UpdateStatements, TextAndCardImageInput) {
    TempDir dir;
    standardData(dir);
    // Text: CR LF, CR and LF all end lines; a line of 100 characters keeps its first 80; a
    // final Ctrl-Z without a line end goes.
    const std::string longLine = std::string(80, 'L') + std::string(20, 'Z');
    writeFile(dir / "sysin.txt", "./ ADD NAME=C\r\nONE\rTWO\n" + longLine + "\n\nLAST\x1A");
    Result r = run(dir, binaryOut());
    EXPECT_EQ(r.cc, 0) << r.listing;
    const std::string member = readFile(dir / "pds/C");
    ASSERT_EQ(member.size(), 5u * 80);
    EXPECT_EQ(member.substr(0, 80), ebcdic(card("ONE")));
    EXPECT_EQ(member.substr(160, 80), ebcdic(std::string(80, 'L')));
    EXPECT_EQ(member.substr(240, 80), ebcdic(std::string(80, ' ')));
    EXPECT_EQ(member.substr(320, 80), ebcdic(card("LAST")));

    // The same statements as EBCDIC card images.
    writeFile(dir / "sysin.txt",
              ebcdic(card("./ ADD NAME=D")) + ebcdic(card("ONE")) + ebcdic(card("./ ENDUP")));
    r = run(dir, pdsJob());
    EXPECT_EQ(r.cc, 0) << r.listing;
    EXPECT_EQ(fileLines(dir / "pds/D"), std::vector<std::string>{"ONE"});
    // A card image cut short is an input error.
    writeFile(dir / "sysin.txt",
              ebcdic(card("./ ADD NAME=F")) + ebcdic(card("ONE")) + ebcdic("HALF"));
    r = run(dir, pdsJob());
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(r.listed("KDU802E SYSIN I/O ERROR, Last record is less than 80 bytes,"))
        << r.listing;
    EXPECT_FALSE(std::filesystem::exists(dir / "pds/F"))
        << "a member whose input failed is not kept";
}
