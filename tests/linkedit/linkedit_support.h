// Linkage editor tests: a connected library with fixed code pages and a fixed clock, object
// cards built from their fields (with an EBCDIC table of the tests' own), and job steps run
// in a temporary folder with their listing, terminal lines and callback lines collected.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "run_command.h"
#include "vrlcore.h"

namespace lt {

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

inline constexpr const char* kTestTime = "20250105134530";

// The title line of a listing page: product at column 1, the run's date and time at column 57,
// "PAGE" at column 112 and the page number in columns 117-120, after the carriage control "1".
inline std::string titleLine(unsigned page) {
    std::string t(120, ' ');
    t.replace(0, 28, "Quorin Linkage Editor 3.0.07");
    t.replace(56, 19, "2025/01/05 13:45:30");
    t.replace(111, 4, "PAGE");
    const std::string number = std::to_string(page);
    t.replace(120 - number.size(), number.size(), number);
    return "1" + t;
}

// Connects once per test program, with code pages 819 and 1047 and the clock fixed.
class Connected : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("CODEPAGE_ASCII", "819", 1);
        ::setenv("CODEPAGE_EBCDIC", "1047", 1);
        ::setenv("VRLCORE_TEST_TIME", kTestTime, 1);
        int status = -1;
        ConnectionRecord* record = nullptr;
        ASSERT_EQ(pszDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr,
                                nullptr),
                  nullptr);
        ASSERT_EQ(pszVrlSetConversion(), nullptr);
    }
};
inline ::testing::Environment* const kConnected =
    ::testing::AddGlobalTestEnvironment(new Connected);

// Printable ASCII in code page 1047, written out here so that decks do not depend on the
// library's own tables.
inline uint8_t ebcdicOf(char c) {
    static const uint8_t kTable[95] = {
        0x40, 0x5A, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60,
        0x4B, 0x61, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E,
        0x4C, 0x7E, 0x6E, 0x6F, 0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9,
        0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6,
        0xE7, 0xE8, 0xE9, 0xAD, 0xE0, 0xBD, 0x5F, 0x6D, 0x79, 0x81, 0x82, 0x83, 0x84, 0x85,
        0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0xA2,
        0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0x4F, 0xD0, 0xA1};
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7E) ADD_FAILURE() << "no EBCDIC for " << int(u);
    return u >= 0x20 && u <= 0x7E ? kTable[u - 0x20] : 0x40;
}
inline std::string ebcdic(std::string_view ascii) {
    std::string out;
    for (char c : ascii) out += static_cast<char>(ebcdicOf(c));
    return out;
}

// An 80-byte object card: X'02', the type, blanks, and fields put at their offsets.
class Card {
  public:
    explicit Card(const char* type) {
        b_.fill(0x40);
        b_[0] = 0x02;
        for (int i = 0; i < 3; ++i) b_[1 + i] = ebcdicOf(type[i]);
    }
    Card& bytes(size_t at, const std::string& data) {
        std::memcpy(b_.data() + at, data.data(), data.size());
        return *this;
    }
    Card& text(size_t at, std::string_view ascii) { return bytes(at, ebcdic(ascii)); }
    Card& u8(size_t at, unsigned v) {
        b_[at] = static_cast<uint8_t>(v);
        return *this;
    }
    Card& be16(size_t at, unsigned v) { return u8(at, v >> 8).u8(at + 1, v); }
    Card& be24(size_t at, unsigned v) { return u8(at, v >> 16).be16(at + 1, v); }
    Card& be32(size_t at, unsigned v) { return u8(at, v >> 24).be24(at + 1, v); }
    const uint8_t* data() const { return b_.data(); }
    std::string str() const { return std::string(reinterpret_cast<const char*>(b_.data()), 80); }

  private:
    std::array<uint8_t, 80> b_;
};

// A 16-byte ESD item; `length` of -1 leaves blanks (references).
inline std::string esdItem(const std::string& name, unsigned type, unsigned address, unsigned flags,
                           long length) {
    std::string item(16, '\x40');
    const std::string n = ebcdic(name);
    item.replace(0, n.size(), n);
    item[8] = static_cast<char>(type);
    item[9] = static_cast<char>(address >> 16);
    item[10] = static_cast<char>(address >> 8);
    item[11] = static_cast<char>(address);
    item[12] = static_cast<char>(flags);
    if (length >= 0) {
        item[13] = static_cast<char>(length >> 16);
        item[14] = static_cast<char>(length >> 8);
        item[15] = static_cast<char>(length);
    }
    return item;
}
inline std::string sd(const std::string& name, unsigned address, unsigned length,
                      unsigned flags = 0) {
    return esdItem(name, 0x00, address, flags, length);
}
inline std::string pc(unsigned address, unsigned length, unsigned flags = 0) {
    return esdItem("", 0x04, address, flags, length);
}
inline std::string ld(const std::string& name, unsigned address, unsigned owner) {
    return esdItem(name, 0x01, address, 0x40, owner);
}
inline std::string er(const std::string& name) {
    return esdItem(name, 0x02, 0, 0x40, -1);
}
inline std::string wx(const std::string& name) {
    return esdItem(name, 0x0A, 0, 0x40, -1);
}
inline std::string xd(const std::string& name, unsigned length, unsigned alignFlags = 3) {
    return esdItem(name, 0x06, 0, alignFlags, length);
}
inline std::string cm(const std::string& name, unsigned length) {
    return esdItem(name, 0x05, 0, 0, length);
}

inline Card esd(unsigned firstId, const std::vector<std::string>& items) {
    Card c("ESD");
    c.be16(10, static_cast<unsigned>(items.size() * 16)).be16(14, firstId);
    for (size_t i = 0; i < items.size(); ++i) c.bytes(16 + 16 * i, items[i]);
    return c;
}
inline Card txt(unsigned esdid, unsigned address, const std::string& data) {
    Card c("TXT");
    c.be24(5, address).be16(10, static_cast<unsigned>(data.size())).be16(14, esdid);
    return c.bytes(16, data);
}
// An RLD entry: full (R, P, flags, address) or short (flags, address).
inline std::string rldEntry(unsigned r, unsigned p, unsigned flags, unsigned address) {
    std::string e(8, '\0');
    e[0] = static_cast<char>(r >> 8);
    e[1] = static_cast<char>(r);
    e[2] = static_cast<char>(p >> 8);
    e[3] = static_cast<char>(p);
    e[4] = static_cast<char>(flags);
    e[5] = static_cast<char>(address >> 16);
    e[6] = static_cast<char>(address >> 8);
    e[7] = static_cast<char>(address);
    return e;
}
inline std::string rldShort(unsigned flags, unsigned address) {
    return rldEntry(0, 0, flags, address).substr(4);
}
inline Card rld(const std::string& data) {
    Card c("RLD");
    c.be16(10, static_cast<unsigned>(data.size()));
    return c.bytes(16, data);
}
// An END card: entry by ESDID (esdid > 0), by name, or none; optional translator items.
inline Card end(unsigned esdid = 0, unsigned address = 0, const std::string& name = "",
                const std::vector<std::string>& ids = {}) {
    Card c("END");
    if (esdid > 0) c.be24(5, address).be16(14, esdid);
    if (!name.empty()) c.text(16, name);
    if (!ids.empty()) {
        c.text(32, std::to_string(ids.size()));
        for (size_t i = 0; i < ids.size(); ++i) c.text(33 + 19 * i, ids[i]);
    }
    return c;
}
// An XSD record holding a whole name (at most 40 characters) for a 16-byte item.
inline Card xsdItem(unsigned esdid, const std::string& name, const std::string& item) {
    Card c("XSD");
    c.be16(10, static_cast<unsigned>(16 + name.size())).be16(14, esdid);
    c.be32(16, static_cast<unsigned>(name.size())).be32(20, 1);
    return c.bytes(24, item.substr(8)).text(32, name);
}
// A text padded with blanks to a width.
inline std::string pad(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}
inline std::string deck(const std::vector<Card>& cards) {
    std::string d;
    for (const Card& c : cards) d += c.str();
    return d;
}

// ---- job steps -----------------------------------------------------------------------------

struct JobSpec {
    const char* parm = "";
    std::vector<std::string> syslin;
    std::vector<std::string> syslib;
    bool noSyslib = true; // null SYSLIB list unless paths are given
    std::optional<std::string> member;
    std::optional<std::string> syslmod;  // default dir/load/&M
    std::optional<std::string> sysprint; // default dir/list.txt
    std::optional<std::string> systerm;  // default dir/term.txt
    bool nullSysprint = false, nullSysterm = false, nullSyslmod = false;
    unsigned printFlags = 0, termFlags = 0, blksize = 0;
    int mode = 0;
};

struct JobResult {
    int rc = -1;
    std::vector<std::string> listing; // with the carriage control character
    std::vector<std::string> term;
    std::vector<std::pair<int, std::string>> callback;
    // The listing lines after the file table, without carriage control, titles and blank
    // lines: what the statements and modules produced.
    std::vector<std::string> body() const;
    // Whether a line of the listing (without carriage control) equals `text`.
    bool listed(const std::string& text) const;
    bool listedPrefix(const std::string& prefix) const;
};

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
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

inline void collect(void* user, int kind, const char* text) {
    static_cast<JobResult*>(user)->callback.emplace_back(kind, text);
}

inline JobResult runJob(const TempDir& dir, const JobSpec& setup) {
    std::filesystem::create_directories(dir / "load");
    const std::string syslmod = setup.syslmod.value_or((dir / "load/&M").string());
    const std::string sysprint = setup.sysprint.value_or((dir / "list.txt").string());
    const std::string systerm = setup.systerm.value_or((dir / "term.txt").string());
    if (!setup.sysprint) std::filesystem::remove(dir / "list.txt");
    if (!setup.systerm) std::filesystem::remove(dir / "term.txt");
    std::vector<const char*> lin, lib;
    for (const auto& s : setup.syslin) lin.push_back(s.c_str());
    lin.push_back(nullptr);
    for (const auto& s : setup.syslib) lib.push_back(s.c_str());
    lib.push_back(nullptr);
    JobResult r;
    int status = -1;
    r.rc = iLinkEdit(setup.mode, setup.parm, lin.data(), "SYSLIN",
                     setup.syslib.empty() && setup.noSyslib ? nullptr : lib.data(), "SYSLIB",
                     setup.member ? setup.member->c_str() : nullptr,
                     setup.nullSyslmod ? nullptr : syslmod.c_str(), "SYSLMOD",
                     setup.nullSysprint ? nullptr : sysprint.c_str(), "SYSPRINT",
                     setup.nullSysterm ? nullptr : systerm.c_str(), "SYSTERM", nullptr, nullptr,
                     collect, &r, &status, setup.blksize, setup.printFlags, setup.termFlags);
    EXPECT_EQ(status, 0);
    if (!setup.sysprint) r.listing = lines(readFile(dir / "list.txt"));
    if (!setup.systerm) r.term = lines(readFile(dir / "term.txt"));
    return r;
}

inline std::vector<std::string> JobResult::body() const {
    // The file table ends with the SYSPRINT and SYSTERM rows.
    size_t from = 0;
    for (size_t i = 0; i < listing.size(); ++i) {
        const std::string& l = listing[i];
        if (l.rfind(" SYSPRINT         ", 0) == 0 || l.rfind(" SYSTERM          ", 0) == 0)
            from = i + 1;
    }
    std::vector<std::string> out;
    for (size_t i = from; i < listing.size(); ++i) {
        const std::string& l = listing[i];
        if (l.empty() || l[0] == '1' || l == " ") continue;
        out.push_back(l.substr(1));
    }
    return out;
}
inline bool JobResult::listed(const std::string& text) const {
    for (const std::string& l : listing)
        if (!l.empty() && l.substr(1) == text) return true;
    return false;
}
inline bool JobResult::listedPrefix(const std::string& prefix) const {
    for (const std::string& l : listing)
        if (!l.empty() && l.compare(1, prefix.size(), prefix) == 0) return true;
    return false;
}

// A text file of statements (lines ending in LF).
inline std::string statements(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& l : v) s += l + "\n";
    return s;
}

} // namespace lt
