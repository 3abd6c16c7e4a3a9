// The Unicode property lookups against the Unicode 5.0 character database, for every BMP code
// point, with the class bits derived from the general categories independently here.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codexa.h"
#include "shared_dir.h"

namespace {

struct Entry {
    bool assigned = false;
    std::string gc;
    std::string decomposition;
    std::string numeric;
    uint32_t upper = 0, lower = 0;
};

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ';')) fields.push_back(field);
    if (!line.empty() && line.back() == ';') fields.push_back("");
    return fields;
}

std::vector<Entry> readDatabase(const std::string& path) {
    std::vector<Entry> db(0x10000);
    std::ifstream in(path);
    std::string line;
    bool inRange = false;
    while (std::getline(in, line)) {
        auto f = split(line);
        f.resize(15);
        uint32_t cp = std::stoul(f[0], nullptr, 16);
        if (f[1].find(", First>") != std::string::npos) {
            inRange = true;
            continue;
        }
        if (f[1].find(", Last>") != std::string::npos) {
            inRange = false;
            continue;
        }
        if (inRange || cp > 0xFFFF) continue;
        Entry& e = db[cp];
        e.assigned = true;
        e.gc = f[2];
        e.decomposition = f[5];
        e.numeric = f[8];
        e.upper = f[12].empty() ? cp : std::stoul(f[12], nullptr, 16);
        e.lower = f[13].empty() ? cp : std::stoul(f[13], nullptr, 16);
    }
    return db;
}

uint32_t expectedClass(uint32_t cp, const Entry& e) {
    if (!e.assigned) return 0;
    const std::string& gc = e.gc;
    const bool letter = gc[0] == 'L';
    const bool control = gc == "Cc" || gc == "Cf" || gc == "Zl" || gc == "Zp";
    uint32_t bits = 0;
    if (gc == "Lu") bits |= 0x001;
    if (gc == "Ll") bits |= 0x002;
    if (letter && gc != "Lm") bits |= 0x004;
    if (gc == "Nd") bits |= 0x008;
    if ((cp >= '0' && cp <= '9') || (cp >= 'A' && cp <= 'F') || (cp >= 'a' && cp <= 'f'))
        bits |= 0x010;
    if (gc == "Zs" || gc == "Zl" || gc == "Zp" || (cp >= 0x09 && cp <= 0x0D) || cp == 0x85)
        bits |= 0x020;
    if (!control) bits |= 0x040;
    if (!control && gc != "Zs") bits |= 0x080;
    if (control) bits |= 0x200;
    if (gc[0] == 'P' || gc == "Lm" || gc[0] == 'M') bits |= 0x400;
    if ((letter && gc != "Lm") || gc == "Nd" || gc == "Nl") bits |= 0x800;
    return bits;
}

const char* const kTags[] = {"font",   "noBreak", "initial",  "medial",   "final", "isolated",
                             "circle", "super",   "sub",      "vertical", "wide",  "narrow",
                             "small",  "square",  "fraction", "compat"};

} // namespace

TEST(Unicode, EveryBmpCodePointAgreesWithTheDatabase) {
    REQUIRE_SHARED(path, "ucd/UnicodeData-5.0.0.txt");
    const std::vector<Entry> db = readDatabase(path);
    int records = 0, noBreak = 0;
    size_t longest = 0;
    for (uint32_t cp = 0; cp <= 0xFFFF; ++cp) {
        const Entry& e = db[cp];
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << cp);
        ASSERT_EQ(uUnicodeCtype(cp), expectedClass(cp, e));
        ASSERT_EQ(uUnicodeToUpper(cp), e.assigned ? e.upper : cp);
        ASSERT_EQ(uUnicodeToLower(cp), e.assigned ? e.lower : cp);

        uint32_t number = 0;
        if (e.assigned && (e.gc == "Nd" || e.gc == "Nl") && !e.numeric.empty())
            number = std::stoul(e.numeric);
        if ((cp >= 'A' && cp <= 'F') || (cp >= 'a' && cp <= 'f')) number = (cp & 0x7) + 9;
        ASSERT_EQ(uUnicodeNumber(cp), number);

        const DecompRecord* r = pDecompUnicode(cp);
        if (!e.assigned || e.decomposition.empty()) {
            ASSERT_EQ(r, nullptr);
            continue;
        }
        ASSERT_NE(r, nullptr);
        ASSERT_EQ(reinterpret_cast<uintptr_t>(r) % 4, 0u) << "records are 4-byte aligned";
        ++records;
        std::istringstream in(e.decomposition);
        std::string word;
        uint16_t tag = 0;
        std::vector<uint16_t> units;
        while (in >> word) {
            if (word[0] == '<') {
                std::string name = word.substr(1, word.size() - 2);
                for (uint16_t i = 0; i < 16; ++i)
                    if (name == kTags[i]) tag = static_cast<uint16_t>(i + 1);
                ASSERT_NE(tag, 0) << name;
                noBreak += name == "noBreak";
                continue;
            }
            uint32_t v = std::stoul(word, nullptr, 16);
            if (v > 0xFFFF) {
                v -= 0x10000;
                units.push_back(static_cast<uint16_t>(0xD800 + (v >> 10)));
                units.push_back(static_cast<uint16_t>(0xDC00 + (v & 0x3FF)));
            } else {
                units.push_back(static_cast<uint16_t>(v));
            }
        }
        ASSERT_EQ(r->tag, tag);
        ASSERT_EQ(r->count, units.size());
        ASSERT_EQ(
            std::vector<uint16_t>(DecompRecordCodePoints(r), DecompRecordCodePoints(r) + r->count),
            units);
        longest = std::max(longest, units.size());
    }
    // Every decomposition of the data file has its record, the five <noBreak> ones included.
    EXPECT_EQ(records, 3851);
    EXPECT_EQ(noBreak, 5);
    EXPECT_EQ(longest, 18u);
}

TEST(Unicode, PropertyExamples) {
    EXPECT_EQ(uUnicodeToUpper(0x4E00), 0x4E00u) << "CJK ideographs come as a range: no properties";
    EXPECT_EQ(uUnicodeCtype(0x4E00), 0u);
    EXPECT_EQ(uUnicodeCtype(0xAC00), 0u) << "Hangul syllables";
    EXPECT_EQ(uUnicodeCtype(0xE000), 0u) << "private use";
    EXPECT_EQ(uUnicodeCtype(0xD800), 0u) << "surrogates";
    EXPECT_EQ(uUnicodeNumber(0x2182), 10000u);
    EXPECT_EQ(uUnicodeNumber(0x00BD), 0u) << "fractions have no value";
    EXPECT_EQ(uUnicodeNumber(0x00B2), 0u) << "superscripts have no value";
    EXPECT_EQ(uUnicodeNumber(0x0669), 9u);
    EXPECT_EQ(uUnicodeNumber(0xFF21), 0u) << "only the ASCII letters A-F count as hex digits";
    const DecompRecord* r = pDecompUnicode(0x00BC);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->tag, 15);
    ASSERT_EQ(r->count, 3);
    EXPECT_EQ(DecompRecordCodePoints(r)[0], 0x0031);
    EXPECT_EQ(DecompRecordCodePoints(r)[1], 0x2044);
    EXPECT_EQ(DecompRecordCodePoints(r)[2], 0x0034);
    r = pDecompUnicode(0x1E9B);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->tag, 0);
    ASSERT_EQ(r->count, 2);
    EXPECT_EQ(DecompRecordCodePoints(r)[0], 0x017F) << "one level deep";
    EXPECT_EQ(pDecompUnicode(0xAC00), nullptr) << "Hangul decompositions are algorithmic";
    r = pDecompUnicode(0xFDFA);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->count, 18);
    EXPECT_EQ(uUnicodeCtype(0x0047), 0x8C5u);
    EXPECT_EQ(uUnicodeCtype(0x0067), 0x8C6u);
    EXPECT_EQ(uUnicodeCtype(0x0041), 0x8D5u);
    EXPECT_EQ(uUnicodeCtype(0x01C5), 0x8C4u) << "title case: alpha, not upper or lower";
    EXPECT_EQ(uUnicodeCtype(0x02B0), 0x4C0u) << "modifier letters count as punctuation";
    EXPECT_EQ(uUnicodeCtype(0x0035), 0x8D8u);
    EXPECT_EQ(uUnicodeCtype(0x0665), 0x8C8u);
    EXPECT_EQ(uUnicodeCtype(0x2160), 0x8C0u);
    EXPECT_EQ(uUnicodeCtype(0x20AC), 0xC0u);
    EXPECT_EQ(uUnicodeCtype(0x0021), 0x4C0u);
    EXPECT_EQ(uUnicodeCtype(0x0020), 0x060u);
    EXPECT_EQ(uUnicodeCtype(0x2028), 0x220u);
    EXPECT_EQ(uUnicodeCtype(0x0001), 0x200u);
    EXPECT_EQ(uUnicodeCtype(0x0085), 0x220u);
    EXPECT_EQ(uUnicodeCtype(0xFFFD), 0xC0u) << "the lookup gives the database's value";
}

TEST(Unicode, BeyondTheBmp) {
    EXPECT_EQ(uUnicodeCtype(0x10000), 0u);
    EXPECT_EQ(uUnicodeNumber(0x10107), 0u);
    EXPECT_EQ(uUnicodeToUpper(0x10428), 0x10428u);
    EXPECT_EQ(uUnicodeToLower(0x10400), 0x10400u);
    EXPECT_EQ(pDecompUnicode(0x1D15E), nullptr);
    EXPECT_EQ(uUnicodeCtype(0xFFFFFFFFu), 0u);
}
