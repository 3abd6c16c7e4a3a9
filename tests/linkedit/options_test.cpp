// The option language: every option of the table with its synonyms and bad forms, the
// messages of the parser, the defaults and the derived values, and OPTIONS files.
#include <cstring>
#include <functional>
#include <memory>

#include "linkedit.h"
#include "linkedit_support.h"
#include "runtime.h"

using namespace lt;
using vrl::Job;
using vrl::OptionBlock;

namespace {

std::unique_ptr<Job> parse(const char* parm, int mode = 0) {
    auto job = std::make_unique<Job>();
    job->dd[vrl::kSysprint].given = true;
    job->dd[vrl::kSysprint].path = "list";
    job->dd[vrl::kSysterm].given = true;
    job->dd[vrl::kSysterm].path = "term";
    vrl::setDefaults(*job, mode);
    vrl::parseOptions(*job, parm, job->invocation, vrl::OptionSource::kParm);
    vrl::deriveOptions(*job);
    return job;
}

std::vector<std::string> queued(Job& job) {
    std::vector<std::string> out;
    std::vector<uint8_t> buffer(UTILITY_MESSAGE_BUFFER_SIZE);
    void* args[2] = {&job.queue, buffer.data()};
    while (job.queue != nullptr && UtilityMessageGet(2, args) == 0) {
        uint16_t n = 0;
        std::memcpy(&n, buffer.data() + 2, 2);
        out.emplace_back(reinterpret_cast<char*>(buffer.data()) + 4, n);
    }
    return out;
}

std::string invalid(const std::string& option) {
    return "VRL110E Parameter error: \"" + option + "\" is invalid or not supported";
}

} // namespace

TEST(Options, Defaults) {
    auto job = parse("");
    const OptionBlock& b = job->invocation;
    EXPECT_EQ(b.list, vrl::kListSummary);
    EXPECT_EQ(b.let, 4);
    EXPECT_EQ(b.flags, uint32_t{vrl::kTerm});
    EXPECT_EQ(b.maxblk, 32760u);
    EXPECT_EQ(job->linect, 60u);
    EXPECT_FALSE(parse("", LINKEDIT_MODE_NOTERM)->invocation.on(vrl::kTerm));
    EXPECT_TRUE(queued(*job).empty());
}

// Every keyword that stands alone, with the block it leaves behind.
TEST(Options, KeywordsAlone) {
    struct Case {
        const char* parm;
        std::function<bool(const OptionBlock&)> check;
    };
    using B = const OptionBlock&;
    const Case cases[] = {
        {"NCAL", [](B b) { return b.on(vrl::kNcal); }},
        {"NOCALL", [](B b) { return b.on(vrl::kNcal); }},
        {"NCAL,CALL", [](B b) { return !b.on(vrl::kNcal); }},
        {"DC", [](B b) { return b.on(vrl::kDc); }},
        {"DC,NODC", [](B b) { return !b.on(vrl::kDc); }},
        {"DCBS", [](B b) { return b.on(vrl::kDcbs); }},
        {"DCBS,NODCBS", [](B b) { return !b.on(vrl::kDcbs); }},
        {"NE", [](B b) { return b.on(vrl::kNotEditable); }},
        {"NOEDIT", [](B b) { return b.on(vrl::kNotEditable); }},
        {"NE,EDIT", [](B b) { return !b.on(vrl::kNotEditable); }},
        {"LET", [](B b) { return b.let == 8; }},
        {"NOLET", [](B b) { return b.let == 0; }},
        {"NOLIST", [](B b) { return b.list == vrl::kListOff; }},
        {"NOLIST,LIST", [](B b) { return b.list == vrl::kListSummary; }},
        {"MAP", [](B b) { return b.on(vrl::kMap); }},
        {"MAP,NOMAP", [](B b) { return !b.on(vrl::kMap); }},
        {"OL", [](B b) { return b.on(vrl::kOl); }},
        {"OL,NOOL", [](B b) { return !b.on(vrl::kOl); }},
        {"REUS", [](B b) { return b.reus == vrl::kReusSerial; }},
        {"NOREUS", [](B b) { return b.reus == vrl::kReusNone; }},
        {"NORENT", [](B b) { return b.reus == vrl::kReusNone; }},
        {"NOREFR", [](B b) { return b.reus == vrl::kReusNone; }},
        {"RENT", [](B b) { return b.reus == vrl::kReusRent; }},
        {"REFR", [](B b) { return b.reus == vrl::kReusRefr; }},
        {"SCTR", [](B b) { return b.sctr == vrl::kSctrYes; }},
        {"SCTR,NOSCTR", [](B b) { return b.sctr == vrl::kSctrNo; }},
        {"NOTERM", [](B b) { return !b.on(vrl::kTerm); }},
        {"NOTERM,TERM", [](B b) { return b.on(vrl::kTerm); }},
        {"TEST", [](B b) { return b.on(vrl::kTest); }},
        {"TEST,NOTEST", [](B b) { return !b.on(vrl::kTest); }},
        {"XREF", [](B b) { return b.on(vrl::kXref); }},
        {"XREF,NOXREF", [](B b) { return !b.on(vrl::kXref); }},
        {"DEBUG", [](B b) { return b.debug == vrl::kDebugYes; }},
        {"NODEBUG", [](B b) { return b.debug == vrl::kDebugNo; }},
        {"NOPRINT", [](B b) { return b.on(vrl::kNoPrint); }},
        {"NOPRINT,PRINT", [](B b) { return !b.on(vrl::kNoPrint); }},
        {"TRACE", [](B b) { return b.on(vrl::kTrace); }},
        {"TRACE,NOTRACE", [](B b) { return !b.on(vrl::kTrace); }},
        {"ALIGN2", [](B b) { return b.on(vrl::kAlign2); }},
        {"ALIGN2,NOALIGN2", [](B b) { return !b.on(vrl::kAlign2); }},
        {"HOBSET", [](B b) { return b.on(vrl::kHobset); }},
        {"HOBSET,NOHOBSET", [](B b) { return !b.on(vrl::kHobset); }},
        {"UPCASE", [](B b) { return b.on(vrl::kUpcase); }},
        {"UPCASE,NOUPCASE", [](B b) { return !b.on(vrl::kUpcase); }},
        {"STORENX", [](B b) { return b.storenx == vrl::kStorenxYes; }},
        {"STORENX,NOSTORENX", [](B b) { return b.storenx == vrl::kStorenxNoReplace; }},
        {"LISTPRIV", [](B b) { return b.on(vrl::kListPriv); }},
        {"LISTPRIV,NOLISTPRIV", [](B b) { return !b.on(vrl::kListPriv); }},
        {"list,xref,let", [](B b) { return b.list == 3 && b.on(vrl::kXref) && b.let == 8; }},
    };
    for (const Case& c : cases) {
        auto job = parse(c.parm);
        EXPECT_TRUE(c.check(job->invocation)) << c.parm;
        EXPECT_TRUE(queued(*job).empty()) << c.parm;
    }
}

// YES and NO (upper case only) have the effect of the keyword and of its negative form.
TEST(Options, YesAndNo) {
    struct Case {
        const char* keyword;
        std::function<bool(const OptionBlock&)> yes;
    };
    using B = const OptionBlock&;
    const Case cases[] = {
        {"DC", [](B b) { return b.on(vrl::kDc); }},
        {"OL", [](B b) { return b.on(vrl::kOl); }},
        {"MAP", [](B b) { return b.on(vrl::kMap); }},
        {"CALL", [](B b) { return !b.on(vrl::kNcal); }},
        {"DCBS", [](B b) { return b.on(vrl::kDcbs); }},
        {"EDIT", [](B b) { return !b.on(vrl::kNotEditable); }},
        {"SCTR", [](B b) { return b.sctr == vrl::kSctrYes; }},
        {"TERM", [](B b) { return b.on(vrl::kTerm); }},
        {"TEST", [](B b) { return b.on(vrl::kTest); }},
        {"XREF", [](B b) { return b.on(vrl::kXref); }},
        {"DEBUG", [](B b) { return b.debug == vrl::kDebugYes; }},
        {"PRINT", [](B b) { return !b.on(vrl::kNoPrint); }},
        {"TRACE", [](B b) { return b.on(vrl::kTrace); }},
        {"ALIGN2", [](B b) { return b.on(vrl::kAlign2); }},
        {"HOBSET", [](B b) { return b.on(vrl::kHobset); }},
        {"UPCASE", [](B b) { return b.on(vrl::kUpcase); }},
        {"STORENX", [](B b) { return b.storenx == vrl::kStorenxYes; }},
        {"LISTPRIV", [](B b) { return b.on(vrl::kListPriv); }},
    };
    for (const Case& c : cases) {
        const std::string k = c.keyword;
        auto yes = parse((k + "=YES").c_str());
        EXPECT_TRUE(c.yes(yes->invocation)) << k;
        auto no = parse((k + "(NO)").c_str());
        EXPECT_FALSE(c.yes(no->invocation)) << k;
        auto lower = parse((k + "=yes").c_str());
        EXPECT_EQ(queued(*lower), std::vector<std::string>{invalid(k + "=yes")}) << k;
    }
    EXPECT_EQ(parse("DEBUG=NO")->invocation.debug, vrl::kDebugNo);
    EXPECT_EQ(parse("SCTR=NO")->invocation.sctr, vrl::kSctrNo);
}

// Options with values: accepted values and their effects, and the forms that are refused.
TEST(Options, Values) {
    struct Case {
        const char* parm;
        std::function<bool(const Job&)> check; // null: refused
    };
    using J = const Job&;
    const Case cases[] = {
        {"AC=0", [](J j) { return j.invocation.ac == 0; }},
        {"AC=255", [](J j) { return j.invocation.ac == 255; }},
        {"AC=256", nullptr},
        {"AC=0001", nullptr},
        {"AC=1A", nullptr},
        {"EP=main", [](J j) { return j.invocation.entry == ebcdic("MAIN"); }},
        {"CASE=MIXED,EP=main", [](J j) { return j.invocation.entry == ebcdic("main"); }},
        {"EP='a b'", nullptr},
        {"EP='it''s'", [](J j) { return j.invocation.entry == ebcdic("it's"); }},
        {"LET=0", [](J j) { return j.invocation.let == 0; }},
        {"LET=12", [](J j) { return j.invocation.let == 12; }},
        {"LET=5", nullptr},
        {"LET=012", nullptr},
        {"SSI=0a0B0c0D",
         [](J j) {
             return j.invocation.on(vrl::kSsiGiven) &&
                    std::memcmp(j.invocation.ssi, "\x0A\x0B\x0C\x0D", 4) == 0;
         }},
        {"SSI=1234567", nullptr},
        {"SSI=1234567G", nullptr},
        {"AMODE=24", [](J j) { return j.invocation.amode == vrl::kAmode24; }},
        {"AMOD=31", [](J j) { return j.invocation.amode == vrl::kAmode31; }},
        {"AMODE(any)", [](J j) { return j.invocation.amode == vrl::kAmodeAny; }},
        {"AMODE=MIN", [](J j) { return j.invocation.amode == vrl::kAmodeMin; }},
        {"AMODE=64", [](J j) { return j.invocation.amode == vrl::kAmode64; }},
        {"AMODE=32", nullptr},
        {"RMODE=24", [](J j) { return j.invocation.rmode == vrl::kRmode24; }},
        {"RMOD=ANY", [](J j) { return j.invocation.rmode == vrl::kRmodeAny; }},
        {"RMODE=31", [](J j) { return j.invocation.rmode == vrl::kRmodeAny; }},
        {"RMODE=SPLIT", [](J j) { return j.invocation.rmode == vrl::kRmodeSplit; }},
        {"RMODE=64", nullptr},
        {"CASE=mixed", [](J j) { return j.invocation.on(vrl::kCaseMixed); }},
        {"CASE=MIXED,CASE=UPPER", [](J j) { return !j.invocation.on(vrl::kCaseMixed); }},
        {"CASE=LOWER", nullptr},
        {"LIST=ALL", [](J j) { return j.invocation.list == vrl::kListAll; }},
        {"list=all", [](J j) { return j.invocation.list == vrl::kListAll; }},
        {"LIST=OFF", [](J j) { return j.invocation.list == vrl::kListOff; }},
        {"LIST=STMT", [](J j) { return j.invocation.list == vrl::kListStmt; }},
        {"LIST=SUMMARY", [](J j) { return j.invocation.list == vrl::kListSummary; }},
        {"LIST=NOIMP", [](J j) { return j.invocation.list == vrl::kListNoImp; }},
        {"LIST=NOIMPORT", [](J j) { return j.invocation.list == vrl::kListNoImp; }},
        {"LIST=SOME", nullptr},
        {"REUS=NONE", [](J j) { return j.invocation.reus == vrl::kReusNone; }},
        {"REUS=SERIAL", [](J j) { return j.invocation.reus == vrl::kReusSerial; }},
        {"REUS=RENT", [](J j) { return j.invocation.reus == vrl::kReusRent; }},
        {"REUS=REFR", [](J j) { return j.invocation.reus == vrl::kReusRefr; }},
        {"REUS=YES", nullptr},
        {"SCTR=RSECT", [](J j) { return j.invocation.sctr == vrl::kSctrRsect; }},
        {"SCTR=rsect", nullptr},
        {"DEBUG=OFF", [](J j) { return j.invocation.debug == vrl::kDebugOff; }},
        {"DEBUG=off", [](J j) { return j.invocation.debug == vrl::kDebugOff; }},
        {"COMPAT=LMF", [](J j) { return j.invocation.compat == vrl::kCompatLmf; }},
        {"COMPAT=LKED", [](J j) { return j.invocation.compat == vrl::kCompatLked; }},
        {"COMPAT=PM1", [](J j) { return j.invocation.compat == vrl::kCompatPm1; }},
        {"COMPAT=PM2", [](J j) { return j.invocation.compat == vrl::kCompatPm2; }},
        {"COMPAT=TEXTONLY", [](J j) { return j.invocation.compat == vrl::kCompatTextOnly; }},
        {"COMPAT=MIN", [](J j) { return j.invocation.compat == vrl::kCompatMin; }},
        {"COMPAT=CURR", [](J j) { return j.invocation.compat == vrl::kCompatPm2; }},
        {"COMPAT=current", [](J j) { return j.invocation.compat == vrl::kCompatPm2; }},
        {"COMPAT=PM", nullptr},
        {"COMPAT=PM3", nullptr},
        {"LINECT=0", [](J j) { return j.linect == 0; }},
        {"LINECT=24", [](J j) { return j.linect == 24; }},
        {"LINECT=200", [](J j) { return j.linect == 200; }},
        {"LINECT=23", nullptr},
        {"LINECT=201", nullptr},
        {"MAXBLK=256", [](J j) { return j.invocation.maxblk == 256; }},
        {"MAXBLK=32760", [](J j) { return j.invocation.maxblk == 32760; }},
        {"MAXBLK=255", nullptr},
        {"MAXBLK=32761", nullptr},
        {"MSGLEVEL=8", [](J j) { return j.invocation.msglevel == 8; }},
        {"MSGLEVEL=3", nullptr},
        {"STORENX=NEVER", [](J j) { return j.invocation.storenx == vrl::kStorenxNever; }},
        {"STORENX=NOREPLACE", [](J j) { return j.invocation.storenx == vrl::kStorenxNoReplace; }},
        {"STORENX=never", nullptr},
        {"SIZE=(512K,32K)",
         [](J j) { return j.size1 == 524288 && j.size2 == 32768 && j.invocation.maxblk == 16384; }},
        {"SIZE(16384,512)", [](J j) { return j.size1 == 16384 && j.size2 == 512; }},
        {"SIZE=(,63K)", [](J j) { return j.size2 == 64512 && j.size1 == 0; }},
        {"SIZE=(512K,64K)", nullptr},
        {"SIZE=(16001K)", nullptr},
        {"SIZE=(16383)", nullptr},
        {"SIZE=(512K,511)", nullptr},
        {"WKSPACE=(96,1024)", [](J j) { return j.wkspace1 == 96 && j.wkspace2 == 1024; }},
        {"WKSPACE=(,2000000)", [](J j) { return j.wkspace2 == 2000000; }},
        {"WKSPACE=(95)", nullptr},
        {"WKSPACE=(16001)", nullptr},
        {"WKSPACE=(100,2000001)", nullptr},
        {"FETCHOPT=(PACK,PRIME)",
         [](J j) { return j.invocation.on(vrl::kFetchPack) && j.invocation.on(vrl::kFetchPrime); }},
        {"FETCHOPT=(PRIME,NOPACK)",
         [](J j) {
             return !j.invocation.on(vrl::kFetchPack) && j.invocation.on(vrl::kFetchPrime);
         }},
        {"FETCHOPT(nopack,noprime)",
         [](J j) {
             return !j.invocation.on(vrl::kFetchPack) && !j.invocation.on(vrl::kFetchPrime);
         }},
        {"FETCHOPT=(PACK,NOPRIME)", nullptr},
        {"FETCHOPT=(PACK,NOPACK)", nullptr},
        {"FETCHOPT=(PACK)", nullptr},
        {"NCAL=YES", nullptr},
        {"XREFXREFXREF", nullptr},
        {"OPTIONS", nullptr},
    };
    for (const Case& c : cases) {
        auto job = parse(c.parm);
        const auto messages = queued(*job);
        if (c.check) {
            EXPECT_TRUE(messages.empty()) << c.parm << ": " << messages.front();
            EXPECT_TRUE(c.check(*job)) << c.parm;
        } else {
            EXPECT_EQ(messages, std::vector<std::string>{invalid(c.parm)}) << c.parm;
        }
    }
}

TEST(Options, AmodeAndRmodeFormsAreEquivalent) {
    auto a = parse("AMODE(31),RMODE(ANY)");
    auto b = parse("AMODE=31,RMODE=ANY");
    EXPECT_EQ(a->invocation.amode, b->invocation.amode);
    EXPECT_EQ(a->invocation.rmode, b->invocation.rmode);
    EXPECT_EQ(a->invocation.amode, vrl::kAmode31);
}

// Syntax errors stop the string; value errors skip one option.
TEST(Options, ParserMessages) {
    struct Case {
        const char* parm;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"LIST(ALL", {"VRL110E Parameter error: Missing ')' character in \"LIST(ALL\""}},
        {"MAP,SIZE=(512K,XREF",
         {"VRL110E Parameter error: Missing ')' character in \"SIZE=(512K,XREF\""}},
        {"MAP,=X,XREF", {"VRL110E Parameter error: Unexpected '=' character in \"=X,XREF\""}},
        {"LIST)", {"VRL110E Parameter error: Unexpected ')' character in \")\""}},
        {"MAP LET", {"VRL110E Parameter error: Unexpected ' ' character in \" LET\""}},
        {"MAP;ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
         {"VRL110E Parameter error: Unexpected ';' character in "
          "\";ABCDEFGHIJKLMNOPQRSTUVWXYZ01234\"..."}},
        {"LET=5,XREF,MAP=maybe", {invalid("LET=5"), invalid("MAP=maybe")}},
        {"EP=ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678(",
         {invalid("EP=ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678(")}},
        {"EP=ABCDEFGHIJKLMNOPQRSTUVWXYZ01234567(ABC",
         {"VRL110E Parameter error: \"EP=ABCDEFGHIJKLMNOPQRSTUVWXYZ01234567(AB\" is invalid or not "
          "supported"}},
    };
    for (const Case& c : cases) {
        auto job = parse(c.parm);
        EXPECT_EQ(queued(*job), c.messages) << c.parm;
    }
    // Parsing went on after the value errors.
    EXPECT_TRUE(parse("LET=5,XREF,MAP=maybe")->invocation.on(vrl::kXref));
    // A syntax error ends the string.
    EXPECT_FALSE(parse("MAP,=X,XREF")->invocation.on(vrl::kXref));
}

TEST(Options, DerivedValues) {
    auto sized = parse("SIZE=(512K)");
    EXPECT_EQ(sized->wkspace1, ((524288u + 65535u) >> 16) << 10);
    auto work = parse("SIZE=(512K),WKSPACE=(200)");
    EXPECT_EQ(work->size1, 200u << 10);
    EXPECT_EQ(parse("MAXBLK=4096,SIZE=(512K,32K)")->invocation.maxblk, 4096u);

    auto job = std::make_unique<Job>();
    job->dd[vrl::kSysprint].given = true; // empty: no listing
    job->dd[vrl::kSysterm].given = true;  // empty: no terminal
    vrl::setDefaults(*job, 0);
    vrl::deriveOptions(*job);
    EXPECT_TRUE(job->invocation.on(vrl::kNoPrint));
    EXPECT_FALSE(job->invocation.on(vrl::kTerm));
}

// OPTIONS files: whole lines, the first word of each, the line number and path in messages,
// options that an OPTIONS file may not give, and files that cannot be read.
TEST(Options, OptionsFile) {
    TempDir dir;
    const std::string path = (dir / "link.opt").string();
    std::string text = "XREF      free text that is not an option\r\n";
    text += "MSGLEVEL=4\r\n";
    text += "\n";
    text += "   LET=9  LET=4\n";
    text += std::string(100, ' ') + "MAP,NOTERM " + std::string(200, 'x') + "\n";
    text += "OPTIONS=other.opt\n";
    text += "AC=1";
    writeFile(path, text);
    auto job = parse(("LIST=ALL,OPTIONS=" + path + ",NCAL").c_str());
    auto where = [&](int line) {
        return " - line " + std::to_string(line) + " of file \"" + path + "\"";
    };
    EXPECT_EQ(queued(*job),
              (std::vector<std::string>{
                  "VRL110E Parameter error: MSGLEVEL is invalid in an OPTIONS file" + where(2),
                  invalid("LET=9") + where(4),
                  "VRL110E Parameter error: NOTERM is invalid in an OPTIONS file" + where(5),
                  "VRL110E Parameter error: OPTIONS is invalid in an OPTIONS file" + where(6)}));
    const OptionBlock& b = job->invocation;
    EXPECT_TRUE(b.on(vrl::kXref) && b.on(vrl::kMap) && b.on(vrl::kNcal) && b.on(vrl::kTerm));
    EXPECT_EQ(b.ac, 1);
    EXPECT_EQ(b.let, 4u); // LET=9 refused, the rest of that line ignored
    EXPECT_EQ(job->ddCounter, 1u);

    auto missing = parse(("OPTIONS=" + (dir / "none.opt").string()).c_str());
    EXPECT_EQ(queued(*missing), std::vector<std::string>{"VRL014E Error opening OPTIONS file \"" +
                                                         (dir / "none.opt").string() +
                                                         "\": No such file or directory"});
    auto folder = parse(("OPTIONS=" + dir.path().string()).c_str());
    EXPECT_EQ(queued(*folder),
              std::vector<std::string>{"VRL016T Error reading OPTIONS file \"" +
                                       dir.path().string() + "\": Is a directory"});
    EXPECT_EQ(queued(*parse(("OPTIONS=" + std::string(261, 'a')).c_str())),
              std::vector<std::string>{"VRL110E Parameter error: \"OPTIONS=" +
                                       std::string(32, 'a') + "\" is invalid or not supported"});
}
