// Runs of the update utility for the tests: a connected library, jobs with paths inside a
// temporary folder, and the listing and messages that came back.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "run_command.h"
#include "ufxcore.h"

namespace updatetest {

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// Connects once per test program, with the default code pages 819 and 1047.
class Connected : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("CODEPAGE_ASCII", "819", 1);
        ::setenv("CODEPAGE_EBCDIC", "1047", 1);
        int status = -1;
        ConnectionRecord* record = nullptr;
        ASSERT_EQ(pszDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr,
                                nullptr),
                  nullptr);
        ASSERT_EQ(pszUfxSetConversion(), nullptr);
    }
};

inline ::testing::Environment* const kConnected =
    ::testing::AddGlobalTestEnvironment(new Connected);

// An 80-column card: the text in columns 1-72 (column 72 included when the text is 72 long)
// and the sequence field in columns 73-80.
inline std::string card(const std::string& text, const std::string& sequence = "") {
    std::string c = text;
    c.resize(72, ' ');
    c += sequence;
    c.resize(80, ' ');
    return c;
}
// A data card numbered as 8 digits.
inline std::string numbered(const std::string& text, unsigned n) {
    char seq[16];
    std::snprintf(seq, sizeof seq, "%08u", n);
    return card(text, seq);
}

inline std::string lines(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& l : v) s += l + "\n";
    return s;
}

// Text of a member or output file as lines (line ends removed).
inline std::vector<std::string> fileLines(const std::filesystem::path& p) {
    std::vector<std::string> out;
    std::string text = readFile(p), line;
    for (char c : text) {
        if (c == '\n') {
            out.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) out.push_back(line);
    return out;
}

// The utility's EBCDIC card image of a text line (code page 1047 through the library itself
// is not reachable from here, so letters, digits and blanks are mapped directly).
inline std::string ebcdic(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        unsigned char e = 0x40;
        if (c >= 'A' && c <= 'I')
            e = static_cast<unsigned char>(0xC1 + (c - 'A'));
        else if (c >= 'J' && c <= 'R')
            e = static_cast<unsigned char>(0xD1 + (c - 'J'));
        else if (c >= 'S' && c <= 'Z')
            e = static_cast<unsigned char>(0xE2 + (c - 'S'));
        else if (c >= '0' && c <= '9')
            e = static_cast<unsigned char>(0xF0 + (c - '0'));
        else if (c == '.')
            e = 0x4B;
        else if (c == '/')
            e = 0x61;
        else if (c == '=')
            e = 0x7E;
        else if (c == ',')
            e = 0x6B;
        out += static_cast<char>(e);
    }
    return out;
}

struct Result {
    int cc = -1;
    std::string listing;                               // SYSPRINT file contents
    std::vector<std::pair<int, std::string>> messages; // what reached the callback
    unsigned page = 0;

    // Listing lines with the date and time of the headings blanked out.
    std::vector<std::string> listingLines() const {
        std::vector<std::string> out;
        std::string line;
        for (char c : listing) {
            if (c != '\n') {
                line += c;
                continue;
            }
            if (!line.empty() && line[0] == '1' && line.size() >= 76)
                line.replace(57, 19, std::string(19, ' '));
            out.push_back(line);
            line.clear();
        }
        return out;
    }
    // Whether a listing line (after the carriage control) is `text`, alone or followed by its
    // path.
    bool listed(const std::string& text) const {
        for (const auto& l : listingLines())
            if (matches(l.substr(std::min<size_t>(1, l.size())), text)) return true;
        return false;
    }
    bool told(const std::string& text) const {
        for (const auto& m : messages)
            if (matches(m.second, text)) return true;
        return false;
    }
    static bool matches(const std::string& line, const std::string& text) {
        return line == text || line.rfind(text + " PATH=", 0) == 0;
    }
};

// One job step. Relative paths are taken inside `dir`; std::nullopt is a missing DD.
struct Job {
    std::string parm;
    std::optional<std::string> sysin = "sysin.txt";
    std::optional<std::string> sysprint = "sysprint.txt";
    std::optional<std::string> sysut1;
    std::optional<std::string> sysut2;
    unsigned printFlags = 0, ut1Flags = 0, ut2Flags = 0;
    std::optional<unsigned> page;
};

// A job on the partitioned data set "pds" as both old and new master.
inline Job pdsJob() {
    Job j;
    j.sysut1 = "pds/&M";
    j.sysut2 = "pds/&M";
    return j;
}

inline void collect(void* argument, int level, const char* text) {
    static_cast<Result*>(argument)->messages.emplace_back(level, text);
}

inline Result run(const TempDir& dir, const Job& job) {
    auto place = [&](const std::optional<std::string>& p) -> std::optional<std::string> {
        if (!p) return std::nullopt;
        if (p->empty() || (*p)[0] == '/' || *p == "nul" || *p == "<stdin>" || *p == "<stdout>")
            return p;
        return (dir.path() / *p).string();
    };
    const auto in = place(job.sysin), print = place(job.sysprint), ut1 = place(job.sysut1),
               ut2 = place(job.sysut2);
    auto c = [](const std::optional<std::string>& p) { return p ? p->c_str() : nullptr; };
    Result r;
    unsigned page = job.page.value_or(1), reserved = 99;
    r.cc = iUpdateUtility(job.parm.c_str(), c(in), "SYSIN", c(print), "SYSPRINT", c(ut1), "SYSUT1",
                          c(ut2), "SYSUT2", collect, &r, job.page ? &page : nullptr, &reserved,
                          job.printFlags, job.ut1Flags, job.ut2Flags);
    EXPECT_EQ(reserved, 0u);
    r.page = page;
    if (print && !print->empty() && (*print)[0] == '/' && std::filesystem::is_regular_file(*print))
        r.listing = readFile(*print);
    return r;
}

// Runs a deck (written to sysin.txt) as a job.
inline Result runDeck(const TempDir& dir, const std::string& deck, Job job = {}) {
    writeFile(dir / "sysin.txt", deck);
    return run(dir, job);
}

// A folder "pds" with members A (records 10, 20, 30, 40, 50) and B (one record), a sequential
// file "seq.txt" like A, and an empty folder "out".
inline void standardData(const TempDir& dir) {
    std::filesystem::create_directories(dir / "pds");
    std::filesystem::create_directories(dir / "out");
    std::vector<std::string> a;
    for (unsigned n = 10; n <= 50; n += 10) a.push_back(numbered("RECORD " + std::to_string(n), n));
    writeFile(dir / "pds" / "A", lines(a));
    writeFile(dir / "seq.txt", lines(a));
    writeFile(dir / "pds" / "B", lines({numbered("ONLY", 100)}));
}

} // namespace updatetest
