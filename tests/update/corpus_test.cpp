// Update decks taken from real jobs (../shared/corpus/iebupdte). The JCL around the statements
// is not for this utility, so each deck is cut out of its job first:
//
// - A job step that runs the utility (EXEC PGM=IEBUPDTE) gives one run. Its SYSIN is the
//   in-stream data of the step's SYSIN DD statement (an unqualified //SYSIN or an
//   //IEBUPDTE.SYSIN override): for DD * up to "/*" or the next "//" statement, for DD DATA up
//   to the DLM string (or "/*"). A data set concatenated to SYSIN (// DD DSN=LIB(MEMBER)) is
//   the member that an earlier step of the same job wrote to LIB. PARM=NEW or PARM='NEW' is
//   passed on; every SYSUT2 data set name of the job is a folder of members, shared by the
//   steps that name it.
// - Update statements carried inside SMP/E ++SRCUPD and ++MACUPD statements are cut from the
//   line after each "++" statement up to the next SMP/E statement ("++"), the end of the
//   in-stream data ("/*", "??", "><") or the next JCL statement; the "++" lines belong to
//   SMP/E and stay out. Their CHANGE statements run against members made here: a record with
//   a blank sequence field, one old record under each sequence number the deck uses, and a
//   record with a higher number than any of them.
// - ALIAS statements are taken out: there is no ALIAS statement in this utility (a folder of
//   member files has no directory entry to hold an alias). One test keeps them in and shows
//   what they earn.
//
// Each run must end with condition code 0 and leave the members its statements describe.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shared_dir.h"
#include "update_support.h"

using namespace updatetest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> jclLines(const std::string& path) {
    std::vector<std::string> out;
    for (std::string& l : fileLines(path)) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        out.push_back(l);
    }
    return out;
}

bool startsWith(const std::string& s, const char* p) {
    return s.rfind(p, 0) == 0;
}
bool isStatement(const std::string& l, const char* op) {
    return std::regex_search(l, std::regex(std::string(R"(^\./\S*\s+)") + op + R"((\s|$))"));
}

struct Deck {
    std::string parm;
    std::vector<std::string> lines;
};

// One piece of a SYSIN concatenation: in-stream lines, or a member of a data set.
struct Piece {
    std::vector<std::string> lines;
    std::string dsn, member;
};

struct Step {
    std::string parm;
    std::string sysut2; // the data set name
    std::vector<Piece> sysin;
};

// The in-stream data that starts at jcl[k]: its lines, and the index of the line after it.
size_t inStream(const std::vector<std::string>& jcl, size_t k, const std::string& operands,
                std::vector<std::string>* out) {
    std::smatch m;
    const bool data = operands.rfind("DATA", 0) == 0;
    std::string dlm;
    if (std::regex_search(operands, m, std::regex(R"(DLM=?'?([^', ]+))"))) dlm = m[1];
    for (; k < jcl.size(); ++k) {
        const std::string& l = jcl[k];
        if (!dlm.empty() ? startsWith(l, dlm.c_str()) : startsWith(l, "/*")) return k + 1;
        if (dlm.empty() && !data && startsWith(l, "//")) return k;
        if (out != nullptr) out->push_back(l);
    }
    return k;
}

// Walks the DD statements of a step from jcl[k] to the next EXEC statement.
void walkStep(const std::vector<std::string>& jcl, size_t k, Step& step) {
    static const std::regex dd(R"(^//(\S*)\s+DD\s+(.*)$)");
    static const std::regex exec(R"(^//\S*\s+EXEC\s)");
    static const std::regex dsn(R"(DSN=([^,( ]+)(\(([^) ]+)\))?)");
    std::string current;
    while (k < jcl.size()) {
        const std::string& l = jcl[k];
        std::smatch m;
        if (std::regex_search(l, exec)) return;
        if (!std::regex_search(l, m, dd)) {
            ++k;
            continue;
        }
        // A DD of this step, or an override of the procedure step that runs the utility.
        if (!m[1].str().empty()) current = m[1].str() == "IEBUPDTE.SYSIN" ? "SYSIN" : m[1].str();
        const std::string operands = m[2];
        std::smatch n;
        if (operands.rfind("*", 0) == 0 || operands.rfind("DATA", 0) == 0) {
            Piece piece;
            k = inStream(jcl, k + 1, operands, current == "SYSIN" ? &piece.lines : nullptr);
            if (current == "SYSIN") step.sysin.push_back(piece);
            continue;
        }
        if (std::regex_search(operands, n, dsn)) {
            if (current == "SYSUT2") step.sysut2 = n[1];
            if (current == "SYSIN") step.sysin.push_back(Piece{{}, n[1], n[3]});
        }
        ++k;
    }
}

// Every job step that runs the utility.
std::vector<Step> utilitySteps(const std::vector<std::string>& jcl) {
    std::vector<Step> steps;
    for (size_t i = 0; i < jcl.size(); ++i) {
        if (!startsWith(jcl[i], "//") || jcl[i].find("EXEC PGM=IEBUPDTE") == std::string::npos)
            continue;
        Step step;
        if (jcl[i].find("PARM=NEW") != std::string::npos ||
            jcl[i].find("PARM='NEW'") != std::string::npos)
            step.parm = "NEW";
        walkStep(jcl, i + 1, step);
        if (step.sysin.empty()) {
            // A step of a procedure gets its SYSIN from an override after the EXEC of the
            // procedure.
            for (size_t k = i + 1; k < jcl.size(); ++k)
                if (startsWith(jcl[k], "//IEBUPDTE.SYSIN ")) {
                    walkStep(jcl, k, step);
                    break;
                }
        }
        steps.push_back(step);
    }
    return steps;
}

// The update statements of SMP/E ++SRCUPD and ++MACUPD statements, as one deck.
Deck smpUpdates(const std::vector<std::string>& jcl) {
    Deck d;
    for (size_t i = 0; i < jcl.size(); ++i) {
        if (!startsWith(jcl[i], "++ SRCUPD") && !startsWith(jcl[i], "++ MACUPD")) continue;
        for (size_t k = i + 1; k < jcl.size(); ++k) {
            const std::string& l = jcl[k];
            if (startsWith(l, "++") || startsWith(l, "/*") || startsWith(l, "//") ||
                startsWith(l, "??") || startsWith(l, "><"))
                break;
            d.lines.push_back(l);
        }
    }
    return d;
}

Deck withoutAliases(Deck d) {
    d.lines.erase(std::remove_if(d.lines.begin(), d.lines.end(),
                                 [](const std::string& l) { return isStatement(l, "ALIAS"); }),
                  d.lines.end());
    return d;
}

// The value of KEY= in a statement, or "".
std::string parameter(const std::string& statement, const std::string& key) {
    std::smatch m;
    if (std::regex_search(statement, m, std::regex("[ ,]" + key + "=([^, ]+)"))) return m[1];
    return "";
}

// What a line becomes in a text member: 80 columns, trailing blanks gone.
std::string asStored(std::string line) {
    line.resize(80, ' ');
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.pop_back();
    return line;
}

struct Member {
    std::string name;
    std::vector<std::string> records;
};

// The members that the ADD statements of a deck describe, NUMBER applied.
std::vector<Member> addedMembers(const Deck& d) {
    std::vector<Member> members;
    unsigned next = 0, increment = 0;
    bool numbering = false;
    for (const std::string& l : d.lines) {
        if (isStatement(l, "ADD")) {
            members.push_back({parameter(l, "NAME"), {}});
            numbering = false;
        } else if (isStatement(l, "NUMBER")) {
            numbering = true;
            next = static_cast<unsigned>(std::stoul(parameter(l, "NEW1")));
            increment = static_cast<unsigned>(std::stoul(parameter(l, "INCR")));
        } else if (isStatement(l, "ENDUP")) {
            break;
        } else if (!members.empty()) {
            std::string record = l;
            record.resize(80, ' ');
            if (numbering) {
                record.replace(72, 8,
                               card("", std::to_string(100000000 + next).substr(1)).substr(72));
                next += increment;
            }
            members.back().records.push_back(asStored(record));
        }
    }
    return members;
}

std::string deckText(const Deck& d) {
    std::string s;
    for (const auto& l : d.lines) s += l + "\n";
    return s;
}

// The report of a member: "KDU817I Member name X added to SYSUT2 with 3 records, PATH=...".
std::string reportOf(const fs::path& folder, const Member& m, const char* how) {
    const size_t n = m.records.size();
    return "KDU817I Member name " + m.name + " " + how + " SYSUT2 with " + std::to_string(n) +
           " record" + (n == 1 ? "" : "s") + ", PATH=" + (folder / m.name).string();
}

// The folder that stands for a data set name of the job.
fs::path folderOf(const TempDir& dir, std::string dsn) {
    for (char& c : dsn)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
    const fs::path p = dir / dsn;
    fs::create_directories(p);
    return p;
}

// Runs the utility steps of a job in order (ALIAS statements taken out) and checks every
// member that their ADD statements describe.
void runJobSteps(const std::string& jobPath, size_t expectedSteps, size_t expectedMembers) {
    const auto steps = utilitySteps(jclLines(jobPath));
    ASSERT_EQ(steps.size(), expectedSteps);
    TempDir dir;
    size_t checked = 0;
    for (size_t s = 0; s < steps.size(); ++s) {
        SCOPED_TRACE("step " + std::to_string(s + 1));
        ASSERT_FALSE(steps[s].sysut2.empty());
        Deck deck{steps[s].parm, {}};
        for (const Piece& piece : steps[s].sysin) {
            if (piece.dsn.empty()) {
                deck.lines.insert(deck.lines.end(), piece.lines.begin(), piece.lines.end());
            } else {
                const fs::path member = folderOf(dir, piece.dsn) / piece.member;
                ASSERT_TRUE(fs::exists(member))
                    << piece.dsn << "(" << piece.member << ") is written by an earlier step";
                for (const std::string& l : fileLines(member)) deck.lines.push_back(l);
            }
        }
        deck = withoutAliases(deck);
        const fs::path lib = folderOf(dir, steps[s].sysut2);
        const auto members = addedMembers(deck);
        ASSERT_FALSE(members.empty());
        std::vector<bool> existed;
        for (const Member& m : members) existed.push_back(fs::exists(lib / m.name));
        Job job;
        job.parm = deck.parm;
        job.sysut1 = (lib / "&M").string();
        job.sysut2 = (lib / "&M").string();
        const Result r = runDeck(dir, deckText(deck), job);
        ASSERT_EQ(r.cc, 0) << r.listing;
        checked += members.size();
        for (size_t i = 0; i < members.size(); ++i) {
            SCOPED_TRACE(members[i].name);
            EXPECT_EQ(fileLines(lib / members[i].name), members[i].records);
            EXPECT_TRUE(
                r.listed(reportOf(lib, members[i], existed[i] ? "replaced in" : "added to")))
                << r.listing;
        }
    }
    EXPECT_EQ(checked, expectedMembers) << "every ADD statement of the job";
}

// Runs the CHANGE statements of an SMP/E deck against members made for them.
void runSmpChanges(const std::string& jobPath, const std::vector<std::string>& expectedMembers) {
    const Deck deck = smpUpdates(jclLines(jobPath));
    TempDir dir;
    fs::create_directories(dir / "lib");
    std::vector<Member> expected;
    for (const std::string& l : deck.lines) {
        if (isStatement(l, "CHANGE")) {
            expected.push_back({parameter(l, "NAME"), {}});
        } else if (!startsWith(l, "./")) {
            ASSERT_FALSE(expected.empty());
            expected.back().records.push_back(asStored(l));
        }
    }
    std::vector<std::string> names;
    for (Member& m : expected) {
        names.push_back(m.name);
        // Old member: a blank-keyed record, one record under each key of the deck, and a
        // record above them all.
        std::vector<std::string> old = {card("OLD FIRST")};
        for (const std::string& r : m.records) old.push_back(card("OLD", r.substr(72)));
        const bool digits = m.records.front()[72] >= '0' && m.records.front()[72] <= '9';
        old.push_back(card("OLD LAST", digits ? "99999999" : "Z9999999"));
        writeFile(dir / "lib" / m.name, lines(old));
        m.records.insert(m.records.begin(), asStored(old.front()));
        m.records.push_back(old.back());
    }
    ASSERT_EQ(names, expectedMembers);
    Job job;
    job.sysut1 = "lib/&M";
    job.sysut2 = "lib/&M";
    const Result r = runDeck(dir, deckText(deck), job);
    ASSERT_EQ(r.cc, 0) << r.listing;
    for (const Member& m : expected) {
        EXPECT_EQ(fileLines(dir / "lib" / m.name), m.records) << m.name;
        EXPECT_TRUE(r.listed(reportOf(dir / "lib", m, "replaced in"))) << r.listing;
    }
    int replaced = 0;
    for (const auto& l : r.listingLines())
        replaced += l.size() > 8 && l.compare(l.size() - 8, 8, "REPLACED") == 0;
    EXPECT_EQ(replaced, static_cast<int>(deck.lines.size() - expected.size() -
                                         std::count_if(deck.lines.begin(), deck.lines.end(),
                                                       [](const std::string& l) {
                                                           return isStatement(l, "ENDUP");
                                                       })));
}

} // namespace

TEST(UpdateCorpus, AddNumberAndAliasOfTheCatlgJob) {
    REQUIRE_SHARED(job, "corpus/iebupdte/sw_JM_CATLG_NUMBER_ALIAS.jcl");
    runJobSteps(job, 1, 3);
}

TEST(UpdateCorpus, AddAndAliasOfTheFindfileJob) {
    REQUIRE_SHARED(job, "corpus/iebupdte/sw_JM_FINDFILE_ALIAS.jcl");
    runJobSteps(job, 1, 1);

    // Left in, the ALIAS statement is an operation this utility does not have: the
    // statements up to the next function statement are skipped.
    const Step step = utilitySteps(jclLines(job)).front();
    ASSERT_EQ(step.sysin.size(), 1u);
    const Deck uncut{"NEW", step.sysin.front().lines};
    TempDir dir;
    fs::create_directories(dir / "lib");
    Job j;
    j.parm = "NEW";
    j.sysut2 = "lib/&M";
    const Result r = runDeck(dir, deckText(uncut), j);
    EXPECT_EQ(r.cc, 12);
    EXPECT_TRUE(r.listed("KDU805E Control statement error: invalid operation field"));
    EXPECT_TRUE(r.listed("KDU808I Function terminated, will attempt next function"));
}

TEST(UpdateCorpus, AddNumberEndupOfTheSysgenJobs) {
    REQUIRE_SHARED(mvs00, "corpus/iebupdte/sysgen_mvs00_ADD_NUMBER_ENDUP.jcl");
    runJobSteps(mvs00, 1, 1);
    REQUIRE_SHARED(sysgen04, "corpus/iebupdte/sysgen_sysgen04_ADD_NUMBER.jcl");
    runJobSteps(sysgen04, 10, 27);
}

TEST(UpdateCorpus, AddWithSsiOfTheLargeJob) {
    REQUIRE_SHARED(job, "corpus/iebupdte/sysgen_ZP60041_ADD_SSI_large.jcl");
    runJobSteps(job, 3, 17);
}

TEST(UpdateCorpus, AddThenChangeWithListAllOfTheDynprocJob) {
    REQUIRE_SHARED(job, "corpus/iebupdte/sysgen_DYNPROC_CHANGE_LISTALL.jcl");
    runJobSteps(job, 1, 1);
    runSmpChanges(job, {"SGIEF441"});
}

TEST(UpdateCorpus, ChangesCarriedBySmpUpdates) {
    REQUIRE_SHARED(tjes, "corpus/iebupdte/sysgen_TJES801_CHANGE.jcl");
    runSmpChanges(tjes, {"HASPINIT", "HASPSSSM"});
    REQUIRE_SHARED(zp, "corpus/iebupdte/sysgen_ZP60015_CHANGE.jcl");
    runSmpChanges(zp, {"HASPXEQ"});
}
