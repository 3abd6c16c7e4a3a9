// The code page directory and character sets: every row loads with its kind, flags, line-end,
// tab and substitution bytes; masks and departures; the switches; the environment.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codexa.h"
#include "shared_dir.h"

namespace {

struct Free {
    void operator()(Charset* c) const { vCharsetFree(c); }
};
using CharsetPtr = std::unique_ptr<Charset, Free>;

CharsetPtr load(uint32_t cp, uint32_t variant = 0) {
    return CharsetPtr(pCharsetLoad(cp, variant));
}
CharsetPtr loadCcsid(uint32_t ccsid) {
    return CharsetPtr(pCharsetLoadCCSID(ccsid));
}

// The directory as a user of the library sees it: code page, variant, CCSID, kind, euro
// position and mask, in directory order.
struct Row {
    uint16_t cp, variant, ccsid;
    uint32_t kind;
    uint16_t euro;
    char mask;
};
const Row kRows[] = {
    {37, 0, 0, 2, 0x9F, 0},          {37, 101, 5033, 2, 0x9F, 'a'},
    {37, 101, 8229, 2, 0x9F, 'a'},   {37, 697, 37, 2, 0x9F, 0},
    {37, 905, 0, 2, 0x9F, 'c'},      {37, 1114, 0, 2, 0x9F, 'd'},
    {37, 1175, 937, 2, 0x9F, 'b'},   {264, 0, 0, 2, 0x0, 0},
    {273, 0, 0, 2, 0x9F, 0},         {273, 265, 4369, 2, 0x9F, 'a'},
    {273, 697, 273, 2, 0x9F, 0},     {274, 0, 0, 2, 0x9F, 0},
    {274, 269, 0, 2, 0x9F, 'a'},     {275, 0, 0, 2, 0x9F, 0},
    {275, 273, 4371, 2, 0x9F, 'a'},  {277, 0, 0, 2, 0x5A, 0},
    {277, 281, 4373, 2, 0x5A, 'a'},  {277, 697, 277, 2, 0x5A, 0},
    {278, 0, 0, 2, 0x5A, 0},         {278, 285, 4374, 2, 0x5A, 'a'},
    {278, 697, 278, 2, 0x5A, 0},     {280, 0, 0, 2, 0x9F, 0},
    {280, 293, 4376, 2, 0x9F, 'a'},  {280, 697, 280, 2, 0x9F, 0},
    {281, 0, 0, 2, 0x9F, 0},         {281, 297, 0, 2, 0x9F, 'a'},
    {284, 0, 0, 2, 0x9F, 0},         {284, 309, 4380, 2, 0x9F, 'a'},
    {284, 650, 8476, 2, 0x9F, 'e'},  {284, 697, 284, 2, 0x9F, 0},
    {285, 0, 0, 2, 0x9F, 0},         {285, 313, 4381, 2, 0x9F, 'a'},
    {285, 697, 285, 2, 0x9F, 0},     {290, 0, 0, 2, 0x0, 0},
    {290, 332, 9122, 2, 0x0, 'f'},   {290, 1172, 930, 2, 0xE1, 'g'},
    {293, 0, 0, 2, 0x0, 0},          {297, 0, 0, 2, 0x9F, 0},
    {297, 697, 297, 2, 0x9F, 0},     {297, 1129, 4393, 2, 0x9F, 'h'},
    {310, 0, 0, 3, 0x0, 0},          {351, 0, 0, 3, 0x0, 0},
    {367, 0, 0, 1, 0x0, 0},          {420, 0, 0, 2, 0xFA, 0},
    {420, 235, 420, 2, 0xFA, 'i'},   {420, 1461, 16804, 2, 0xFA, 0},
    {423, 0, 0, 2, 0x0, 0},          {423, 1124, 0, 2, 0x0, 'j'},
    {424, 0, 0, 2, 0x9C, 0},         {424, 941, 424, 2, 0x9C, 'k'},
    {424, 1357, 12712, 2, 0x9C, 0},  {437, 0, 0, 1, 0x0, 0},
    {500, 0, 0, 2, 0x9F, 0},         {500, 103, 0, 2, 0x9F, 'a'},
    {500, 697, 500, 2, 0x9F, 0},     {500, 908, 45556, 2, 0x9F, 'l'},
    {500, 1114, 0, 2, 0x9F, 'm'},    {720, 0, 0, 1, 0x0, 0},
    {737, 0, 0, 1, 0x0, 0},          {775, 0, 0, 1, 0x0, 0},
    {803, 1147, 803, 2, 0x9C, 0},    {803, 1356, 4899, 2, 0x9C, 0},
    {838, 0, 0, 2, 0xFE, 0},         {838, 938, 4934, 2, 0xFE, 'n'},
    {838, 1176, 838, 2, 0xFE, 0},    {850, 0, 0, 1, 0x0, 0},
    {852, 0, 0, 1, 0x0, 0},          {855, 0, 0, 1, 0x0, 0},
    {856, 0, 0, 1, 0x0, 0},          {857, 0, 0, 1, 0x0, 0},
    {858, 0, 0, 1, 0xD5, 0},         {860, 0, 0, 1, 0x0, 0},
    {861, 0, 0, 1, 0x0, 0},          {862, 0, 0, 1, 0x0, 0},
    {863, 0, 0, 1, 0x0, 0},          {864, 0, 0, 1, 0xA7, 0},
    {865, 0, 0, 1, 0x0, 0},          {866, 0, 0, 1, 0x0, 0},
    {869, 0, 0, 1, 0x0, 0},          {870, 0, 0, 2, 0x9F, 0},
    {870, 959, 4966, 2, 0x9F, 'o'},  {870, 1128, 0, 2, 0x9F, 'p'},
    {871, 0, 0, 2, 0x9F, 0},         {871, 697, 871, 2, 0x9F, 0},
    {871, 1126, 0, 2, 0x9F, 'q'},    {875, 0, 0, 2, 0xFC, 0},
    {875, 923, 875, 2, 0xFC, 'r'},   {875, 1159, 0, 2, 0xFC, 'r'},
    {875, 1371, 4971, 2, 0xFC, 0},   {878, 0, 0, 1, 0x0, 0},
    {880, 0, 0, 2, 0xE1, 0},         {880, 960, 4976, 2, 0xE1, 0},
    {880, 1125, 0, 2, 0xE1, 's'},    {907, 0, 0, 1, 0x0, 0},
    {910, 0, 0, 1, 0x0, 0},          {924, 1353, 924, 2, 0x9F, 0},
    {1005, 0, 0, 2, 0x0, 0},         {1006, 0, 0, 1, 0x0, 0},
    {1025, 0, 0, 2, 0xE1, 0},        {1025, 1150, 0, 2, 0xE1, 's'},
    {1026, 0, 0, 2, 0x9F, 0},        {1026, 1126, 1026, 2, 0x9F, 0},
    {1027, 0, 0, 2, 0x0, 0},         {1027, 101, 931, 2, 0x0, 'a'},
    {1027, 1172, 939, 2, 0xE1, 't'}, {1030, 0, 0, 2, 0x0, 0},
    {1031, 0, 0, 2, 0x0, 0},         {1047, 0, 0, 2, 0x9F, 0},
    {1047, 697, 1047, 2, 0x9F, 0},   {1122, 0, 0, 2, 0x5A, 0},
    {1123, 0, 0, 2, 0xE1, 0},        {1123, 1326, 1123, 2, 0xE1, 0},
    {1130, 0, 0, 2, 0x9F, 0},        {1139, 0, 0, 1, 0x0, 0},
    {1140, 0, 0, 2, 0x9F, 0},        {1140, 695, 1140, 2, 0x9F, 0},
    {1141, 0, 0, 2, 0x9F, 0},        {1141, 695, 1141, 2, 0x9F, 0},
    {1142, 0, 0, 2, 0x5A, 0},        {1142, 695, 1142, 2, 0x5A, 0},
    {1143, 0, 0, 2, 0x5A, 0},        {1143, 695, 1143, 2, 0x5A, 0},
    {1144, 0, 0, 2, 0x9F, 0},        {1144, 695, 1144, 2, 0x9F, 0},
    {1145, 0, 0, 2, 0x9F, 0},        {1145, 695, 1145, 2, 0x9F, 0},
    {1146, 0, 0, 2, 0x9F, 0},        {1146, 695, 1146, 2, 0x9F, 0},
    {1147, 0, 0, 2, 0x9F, 0},        {1147, 695, 1147, 2, 0x9F, 0},
    {1148, 0, 0, 2, 0x9F, 0},        {1148, 695, 1148, 2, 0x9F, 0},
    {1149, 0, 0, 2, 0x9F, 0},        {1149, 695, 1149, 2, 0x9F, 0},
    {1153, 0, 0, 2, 0x9F, 0},        {1153, 1375, 1153, 2, 0x9F, 0},
    {1154, 0, 0, 2, 0xE1, 0},        {1154, 1381, 1154, 2, 0xE1, 0},
    {1155, 0, 0, 2, 0x9F, 0},        {1155, 1378, 1155, 2, 0x9F, 0},
    {1156, 0, 0, 2, 0x9F, 0},        {1157, 0, 0, 2, 0x5A, 0},
    {1158, 0, 0, 2, 0xE1, 0},        {1158, 1388, 1158, 2, 0xE1, 0},
    {1160, 0, 0, 2, 0xFE, 0},        {1160, 1395, 1160, 2, 0xFE, 0},
    {1164, 0, 0, 2, 0x9F, 0},        {1165, 0, 0, 2, 0x9F, 0},
    {1200, 0, 0, 0, 0x20AC, 0},      {1201, 0, 0, 0, 0x20AC, 0},
    {1202, 0, 0, 0, 0x20AC, 0},      {1208, 0, 0, 0, 0x20AC, 0},
    {1232, 0, 0, 0, 0x20AC, 0},      {1233, 0, 0, 0, 0x20AC, 0},
    {1234, 0, 0, 0, 0x20AC, 0},      {1250, 0, 0, 1, 0x80, 0},
    {1251, 0, 0, 1, 0x88, 0},        {1252, 0, 0, 1, 0x80, 0},
    {1253, 0, 0, 1, 0x80, 0},        {1254, 0, 0, 1, 0x80, 0},
    {1255, 0, 0, 1, 0x80, 0},        {1256, 0, 0, 1, 0x80, 0},
    {1257, 0, 0, 1, 0x80, 0},        {1258, 0, 0, 1, 0x80, 0},
    {8859, 1, 819, 1, 0x0, 0},       {8859, 2, 912, 1, 0x0, 0},
    {8859, 3, 913, 1, 0x0, 0},       {8859, 4, 914, 1, 0x0, 0},
    {8859, 5, 915, 1, 0x0, 0},       {8859, 6, 1089, 1, 0x0, 0},
    {8859, 7, 813, 1, 0x0, 0},       {8859, 8, 916, 1, 0x0, 0},
    {8859, 9, 920, 1, 0x0, 0},       {8859, 10, 919, 1, 0x0, 0},
    {8859, 11, 874, 1, 0x0, 0},      {8859, 13, 921, 1, 0x0, 0},
    {8859, 14, 0, 1, 0x0, 0},        {8859, 15, 923, 1, 0xA4, 0},
    {8859, 16, 0, 1, 0xA4, 0},
};

// The bytes each mask marks undefined.
const std::map<char, const char*> kMasks = {
    {'a', "41-49 51-59 62-69 70-78 80 8A-90 9A-A0 AA-BF CA-CF DA-DF E1 EA-EF FA-FE"},
    {'b', "41-49 51-59 62-69 70-78 80 8A-90 9A-A0 AA-AF B1-B9 BC-BF CA-CF DA-DF E1 EA-EF FA-FE"},
    {'c', "41 43 45-47 49 55 58-59 63 65-67 69 70 75 78 80 8A-90 9A-9C 9E-A0 AA-AF B1-BC BF CA "
          "CC-CF DA DE-DF E1 EA EC-EF FA FE"},
    {'d', "41 8A-8F 9A-A0 AA-AF B3-B4 B6-B9 BF CA DA DF E1 EA FA"},
    {'e', "41-43 46-47 49 52-53 56 58-59 62-63 66-67 69 70 72-73 76 78 80 8A-90 9C-A0 AC-B2 "
          "B4-B9 BC-BD BF CA-CC CF DA-DB DD DF E1 EA-EC EF FA-FB FD"},
    {'f', "57 59 62-6A 70-79 80 8B 9B-9C A0 AB B0-B9 C0 CA-D0 DA-DF E1 EA-EF FA-FE"},
    {'g', "57 59 6A 9C CA-CF DA-DF E1 EA-EF FA-FE"},
    {'h', "41 44-49 51 54-55 58-59 62-69 70-78 80 8A-90 9A-A0 AA-BF CA CD-CF DA DD-DE E1 EA-EF "
          "FA-FE"},
    {'i', "53-54 B6-B7 CC CE E1 EC FA"},
    {'j', "68-6A 70 74 B0 CA E1 FD-FE"},
    {'k', "70 72-73 75-77 80 8C-8E 9A-9C 9E AA-AE CB-CF DB-DF EB-EF FB-FE"},
    {'l', "41 46-47 59 62 64-68 72-78 80 8A-8F 9A-A0 AA-AF B2-B4 B6-B9 BC BF CA CF DA E1 EA-EB "
          "ED-EF FA-FB FD-FE"},
    {'m', "41 8A-8F 9A-9B 9D A0 AA-AF B3-B4 B6-B9 BC BF CA DA DF E1 EA FA"},
    {'n', "41 49 51 59 69 71 80 90 A0 CA E1 FD-FE"},
    {'o', "42 44 56 62 66 76 8F AF B3"},
    {'p', "42 44 52 56 62 66 72 76 8F AF B3"},
    {'q', "41 66 9D B2 B9 CA DA E1 EF FD"},
    {'r', "68-69 A1 DC E1 EC-ED FC-FD"},
    {'s', "45 55 64 73-74 79 A1 C0 D0"},
    {'t', "41 6A 80 90 CA-CF DA-DF E1 EA-EF FA-FE"},
};

std::vector<bool> maskBytes(char mask) {
    std::vector<bool> marked(256, false);
    std::istringstream in(kMasks.at(mask));
    std::string span;
    while (in >> span) {
        auto dash = span.find('-');
        unsigned lo = std::stoul(span.substr(0, dash), nullptr, 16);
        unsigned hi =
            dash == std::string::npos ? lo : std::stoul(span.substr(dash + 1), nullptr, 16);
        for (unsigned b = lo; b <= hi; ++b) marked[b] = true;
    }
    return marked;
}

// Is this row the one a lookup by number and variant finds? Only the second 37/101 is not.
bool reachableByNumber(const Row& r) {
    return !(r.cp == 37 && r.variant == 101 && r.ccsid == 8229);
}

void expectRow(const Charset* cs, const Row& r) {
    ASSERT_NE(cs, nullptr);
    EXPECT_EQ(cs->codePage, r.cp);
    EXPECT_EQ(cs->variant, r.variant);
    EXPECT_EQ(cs->ccsid, r.ccsid);
    EXPECT_EQ(cs->kind, r.kind);
    EXPECT_EQ(cs->euroPosition, r.euro);
    EXPECT_EQ(cs->cr, 0x0D);
    if (r.kind == CODEXA_KIND_UNICODE) {
        EXPECT_EQ(cs->maxCodePoint, 0x10FFFFu);
        EXPECT_EQ(cs->substitution, 0xFFFD);
        EXPECT_EQ(cs->lf, 0x0A);
        EXPECT_EQ(cs->nl, 0x85);
        EXPECT_EQ(cs->ht, 0x09);
        EXPECT_EQ(cs->toUnicode, nullptr);
        EXPECT_EQ(cs->fromUnicode, nullptr);
        EXPECT_TRUE(cs->flags & CODEXA_EURO_PRESENT);
        return;
    }
    EXPECT_EQ(cs->flags & ~3u, 0u) << "a single-byte page has one-byte code units";
    if (r.kind == CODEXA_KIND_EBCDIC) {
        EXPECT_EQ(cs->substitution, 0x3F);
        EXPECT_EQ(cs->lf, 0x25);
        EXPECT_EQ(cs->nl, 0x15);
        EXPECT_EQ(cs->ht, 0x05);
    } else {
        EXPECT_EQ(cs->substitution, 0x1A);
        EXPECT_EQ(cs->lf, 0x0A);
        EXPECT_EQ(cs->ht, 0x09);
        EXPECT_EQ(cs->nl, cs->toUnicode[0x85] == 0x85 ? 0x85 : 0);
    }
    if (r.euro != 0) {
        const uint32_t euroFlags = cs->flags & 3u;
        EXPECT_TRUE(euroFlags == 1 || euroFlags == 2);
        EXPECT_EQ(euroFlags == 1, cs->toUnicode[r.euro] == 0x20AC);
        EXPECT_GE(cs->maxCodePoint, 0x20ACu);
    } else {
        EXPECT_EQ(cs->flags, 0u);
    }
    // Every defined byte maps back to itself, or to a higher byte with the same character.
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t ch = cs->toUnicode[b];
        if (ch == 0xFFFD) continue;
        ASSERT_LE(ch, cs->maxCodePoint);
        uint8_t back = cs->fromUnicode[ch];
        EXPECT_TRUE(back == b || (back > b && cs->toUnicode[back] == ch)) << "byte " << b;
    }
    if (r.mask != 0) {
        auto marked = maskBytes(r.mask);
        for (unsigned b = 0; b < 256; ++b) {
            if (marked[b]) {
                EXPECT_EQ(cs->toUnicode[b], 0xFFFD) << "masked byte " << std::hex << b;
            }
        }
    }
}

} // namespace

TEST(Directory, EveryRowLoadsByNumberAndVariant) {
    EXPECT_EQ(sizeof kRows / sizeof kRows[0], 179u);
    for (const Row& r : kRows) {
        SCOPED_TRACE(testing::Message() << r.cp << "/" << r.variant);
        if (r.kind == CODEXA_KIND_UNICODE && (r.cp == 1200 || r.cp == 1232)) {
            auto cs = load(r.cp, r.variant);
            ASSERT_NE(cs, nullptr);
            EXPECT_EQ(cs->codePage, r.cp + 2) << "plain UTF-16/32 are little-endian";
            continue;
        }
        auto cs = load(r.cp, r.variant);
        if (reachableByNumber(r)) {
            expectRow(cs.get(), r);
        } else {
            ASSERT_NE(cs, nullptr);
            EXPECT_EQ(cs->ccsid, 5033) << "37/101 finds the first of its two rows";
        }
    }
}

TEST(Directory, EveryCcsidFindsItsRow) {
    std::map<uint16_t, const Row*> first;
    for (const Row& r : kRows)
        if (r.ccsid != 0 && !first.count(r.ccsid)) first[r.ccsid] = &r;
    EXPECT_EQ(first.size(), 71u);
    for (auto [ccsid, r] : first) {
        SCOPED_TRACE(ccsid);
        auto cs = loadCcsid(ccsid);
        expectRow(cs.get(), *r);
    }
}

TEST(Directory, MasksLeaveTheBaseRowDefined) {
    for (const Row& r : kRows) {
        if (r.mask == 0 || !reachableByNumber(r)) continue;
        SCOPED_TRACE(testing::Message() << r.cp << "/" << r.variant << " mask " << r.mask);
        auto variant = load(r.cp, r.variant);
        auto base = load(r.cp);
        ASSERT_NE(variant, nullptr);
        ASSERT_NE(base, nullptr);
        auto marked = maskBytes(r.mask);
        for (unsigned b = 0; b < 256; ++b) {
            if (marked[b]) {
                EXPECT_EQ(variant->toUnicode[b], 0xFFFD);
                EXPECT_EQ(variant->classBits[b], 0);
            } else {
                EXPECT_EQ(variant->toUnicode[b], base->toUnicode[b]);
            }
        }
        // The maximum code point comes from the page's own table, so it does not shrink.
        EXPECT_EQ(variant->maxCodePoint, base->maxCodePoint);
    }
}

TEST(Directory, LookupRules) {
    EXPECT_EQ(load(1200)->codePage, 1202);
    EXPECT_EQ(load(1232)->codePage, 1234);
    EXPECT_EQ(load(1200, 5), nullptr);
    EXPECT_EQ(load(0), nullptr);
    EXPECT_EQ(loadCcsid(0), nullptr);
    EXPECT_EQ(load(9999), nullptr);

    auto cs = load(37, 101);
    EXPECT_EQ(cs->ccsid, 5033);
    for (unsigned b = 0x41; b <= 0x49; ++b) EXPECT_EQ(cs->toUnicode[b], 0xFFFD);
    auto base = load(37);
    for (unsigned b = 0x41; b <= 0x49; ++b) EXPECT_NE(base->toUnicode[b], 0xFFFD);

    // A CCSID given as a code page number finds its row; the last such row wins.
    cs = load(4369);
    EXPECT_EQ(cs->codePage, 273);
    EXPECT_EQ(cs->variant, 265);
    cs = load(819);
    EXPECT_EQ(cs->codePage, 8859);
    EXPECT_EQ(cs->variant, 1);
    EXPECT_EQ(load(4369, 1), nullptr) << "the CCSID fallback needs variant 0";

    cs = loadCcsid(273);
    EXPECT_EQ(cs->variant, 697);
    cs = loadCcsid(37);
    EXPECT_EQ(cs->variant, 697);
    cs = loadCcsid(1140);
    EXPECT_EQ(cs->variant, 695);
    cs = loadCcsid(1252);
    EXPECT_EQ(cs->codePage, 1252);
    EXPECT_STREQ(cs->name, "Windows Latin-1");
    cs = loadCcsid(1200);
    EXPECT_EQ(cs->codePage, 1202);
    EXPECT_EQ(cs->flags, unsigned(CODEXA_EURO_PRESENT | CODEXA_UNIT16 | CODEXA_LITTLE_ENDIAN));
}

TEST(Directory, UnicodeFormFlags) {
    const struct {
        uint32_t cp, flags;
    } kForms[] = {
        {1201, 0x01 | 0x08}, {1202, 0x01 | 0x08 | 0x20}, {1208, 0x01 | 0x04},
        {1233, 0x01 | 0x10}, {1234, 0x01 | 0x10 | 0x20},
    };
    for (auto f : kForms) {
        auto cs = load(f.cp);
        ASSERT_NE(cs, nullptr);
        EXPECT_EQ(cs->flags, f.flags) << f.cp;
        EXPECT_EQ(cs->euroPosition, 0x20AC);
    }
}

TEST(Directory, Departures) {
    struct Expect {
        uint32_t cp, variant;
        unsigned byte;
        uint16_t ch;
    };
    const Expect kDepartures[] = {
        {273, 0, 0xBC, 0x00AF},  {424, 0, 0x9C, 0x20AC},  {424, 0, 0x9E, 0x20AA},
        {424, 0, 0xBC, 0x203E},  {424, 0, 0xDB, 0x202D},  {424, 0, 0xDC, 0x202E},
        {424, 0, 0xDD, 0x202C},  {424, 0, 0xFB, 0x202A},  {424, 0, 0xFC, 0x202B},
        {424, 0, 0xFD, 0x200E},  {424, 0, 0xFE, 0x200F},  {720, 0, 0x80, 0xFFFD},
        {720, 0, 0x81, 0xFFFD},  {720, 0, 0x84, 0xFFFD},  {720, 0, 0x86, 0xFFFD},
        {720, 0, 0x8D, 0xFFFD},  {720, 0, 0x8E, 0xFFFD},  {720, 0, 0x8F, 0xFFFD},
        {720, 0, 0x90, 0xFFFD},  {864, 0, 0xA7, 0x20AC},  {875, 0, 0xFC, 0x20AC},
        {875, 0, 0xDC, 0xFFFD},  {875, 0, 0xE1, 0xFFFD},  {875, 0, 0xEC, 0xFFFD},
        {875, 0, 0xED, 0xFFFD},  {875, 0, 0xFD, 0xFFFD},  {8859, 7, 0xA4, 0xFFFD},
        {8859, 7, 0xA5, 0xFFFD}, {8859, 7, 0xAA, 0xFFFD}, {8859, 7, 0xB7, 0x0387},
        {8859, 8, 0xAF, 0x203E}, {8859, 8, 0xFD, 0xFFFD}, {8859, 8, 0xFE, 0xFFFD},
    };
    for (const Expect& e : kDepartures) {
        auto cs = load(e.cp, e.variant);
        ASSERT_NE(cs, nullptr);
        EXPECT_EQ(cs->toUnicode[e.byte], e.ch) << e.cp << "/" << e.variant << " byte " << e.byte;
    }
    // 864 and 875 then carry their euro sign natively.
    EXPECT_EQ(load(864)->flags, unsigned(CODEXA_EURO_PRESENT));
    EXPECT_EQ(load(875)->flags, unsigned(CODEXA_EURO_PRESENT));
    EXPECT_EQ(load(424)->flags, unsigned(CODEXA_EURO_PRESENT));
}

// The tables equal the published mappings, with the departures above and the masks applied.
TEST(Directory, TablesFollowThePublishedMappings) {
    REQUIRE_SHARED(folder, "codepages");
    const std::map<std::string, std::map<unsigned, uint16_t>> departures = {
        {"273", {{0xBC, 0x00AF}}},
        {"424",
         {{0x9C, 0x20AC},
          {0x9E, 0x20AA},
          {0xBC, 0x203E},
          {0xDB, 0x202D},
          {0xDC, 0x202E},
          {0xDD, 0x202C},
          {0xFB, 0x202A},
          {0xFC, 0x202B},
          {0xFD, 0x200E},
          {0xFE, 0x200F}}},
        {"720",
         {{0x80, 0xFFFD},
          {0x81, 0xFFFD},
          {0x84, 0xFFFD},
          {0x86, 0xFFFD},
          {0x8D, 0xFFFD},
          {0x8E, 0xFFFD},
          {0x8F, 0xFFFD},
          {0x90, 0xFFFD}}},
        {"864", {{0xA7, 0x20AC}}},
        {"875",
         {{0xFC, 0x20AC},
          {0xDC, 0xFFFD},
          {0xE1, 0xFFFD},
          {0xEC, 0xFFFD},
          {0xED, 0xFFFD},
          {0xFD, 0xFFFD}}},
        {"8859-7", {{0xA4, 0xFFFD}, {0xA5, 0xFFFD}, {0xAA, 0xFFFD}, {0xB7, 0x0387}}},
        {"8859-8", {{0xAF, 0x203E}, {0xFD, 0xFFFD}, {0xFE, 0xFFFD}}},
    };
    int tables = 0;
    for (const Row& r : kRows) {
        if (r.kind == CODEXA_KIND_UNICODE || !reachableByNumber(r)) continue;
        char file[32];
        std::string label =
            r.cp == 8859 ? "8859-" + std::to_string(r.variant) : std::to_string(r.cp);
        if (r.cp == 8859)
            std::snprintf(file, sizeof file, "cp8859-%02u.txt", unsigned(r.variant));
        else
            std::snprintf(file, sizeof file, "cp%05u.txt", unsigned(r.cp));
        std::ifstream in(folder + "/" + file);
        ASSERT_TRUE(in) << file;
        std::string line;
        std::getline(in, line); // header
        auto cs = load(r.cp, r.variant);
        ASSERT_NE(cs, nullptr);
        std::vector<bool> marked = r.mask ? maskBytes(r.mask) : std::vector<bool>(256, false);
        for (unsigned b = 0; b < 256; ++b) {
            std::string byte, value;
            in >> byte >> value;
            uint32_t want = value == "-" ? 0xFFFD : std::stoul(value, nullptr, 16);
            if (want > 0xFFFF) want = 0xFFFD; // the tables hold BMP characters only
            if (auto d = departures.find(label); d != departures.end() && d->second.count(b))
                want = d->second.at(b);
            if (marked[b]) want = 0xFFFD;
            EXPECT_EQ(cs->toUnicode[b], want) << label << " byte " << std::hex << b;
        }
        ++tables;
    }
    EXPECT_EQ(tables, 171);
}

// ---------------------------------------------------------------------------------------------

TEST(Charset, LineEndsAndSubstitution) {
    EXPECT_EQ(load(1252)->nl, 0) << "1252's byte 0x85 is an ellipsis";
    EXPECT_EQ(load(8859, 1)->nl, 0x85);
    auto e = load(1047);
    EXPECT_EQ(e->substitution, 0x3F);
    EXPECT_EQ(e->nl, 0x15);
    EXPECT_EQ(e->lf, 0x25);
    EXPECT_EQ(e->toUnicode[0x15], 0x0085);
    EXPECT_EQ(e->toUnicode[0x25], 0x000A);
}

TEST(Charset, CaseAndClassTables) {
    auto cs = load(37);
    EXPECT_EQ(cs->upper[0x81], 0xC1);
    EXPECT_EQ(cs->lower[0xC1], 0x81);
    EXPECT_EQ(cs->upper[0x59], 0x59) << "sharp s has no capital in the page";
    EXPECT_EQ(cs->upper[0xC1], 0xC1);
    EXPECT_EQ(cs->classBits[0xC7], 0x8C5) << "G";
    EXPECT_EQ(cs->classBits[0x87], 0x8C6) << "g";
    EXPECT_EQ(cs->classBits[0xC1], 0x8D5) << "A is a hex digit too";
    EXPECT_EQ(cs->classBits[0xF0], 0x8D8);
    EXPECT_EQ(cs->classBits[0x40], 0x060);
    EXPECT_EQ(cs->classBits[0x25], 0x220);
    EXPECT_EQ(cs->numeric[0xF7], 7);
    EXPECT_EQ(cs->numeric[0xC6], 15) << "F is a hex digit";
    EXPECT_EQ(cs->numeric[0x86], 15);
    auto masked = load(37, 101);
    EXPECT_EQ(masked->classBits[0x41], 0);
    EXPECT_EQ(masked->numeric[0x41], 0);
}

TEST(Charset, EuroSwitch) {
    auto cs = load(37);
    ASSERT_EQ(cs->flags, unsigned(CODEXA_EURO_SWITCHABLE));
    EXPECT_EQ(cs->toUnicode[0x9F], 0x00A4);
    vCharsetEnableEuro(cs.get());
    EXPECT_EQ(cs->flags, 3u);
    EXPECT_EQ(cs->toUnicode[0x9F], 0x20AC);
    EXPECT_EQ(cs->classBits[0x9F], 0xC0);
    EXPECT_EQ(cs->fromUnicode[0x20AC], 0x9F);
    EXPECT_EQ(cs->fromUnicode[0x00A4], 0x3F);
    vCharsetEnableEuro(cs.get()); // already on: nothing changes
    EXPECT_EQ(cs->fromUnicode[0x00A4], 0x3F);
    vCharsetDisableEuro(cs.get());
    EXPECT_EQ(cs->flags, unsigned(CODEXA_EURO_SWITCHABLE));
    EXPECT_EQ(cs->toUnicode[0x9F], 0x00A4);
    EXPECT_EQ(cs->classBits[0x9F], uUnicodeCtype(0xA4));
    EXPECT_EQ(cs->fromUnicode[0x00A4], 0x9F);
    EXPECT_EQ(cs->fromUnicode[0x20AC], 0x3F);

    auto native = load(1140);
    ASSERT_EQ(native->flags, unsigned(CODEXA_EURO_PRESENT));
    vCharsetEnableEuro(native.get());
    vCharsetDisableEuro(native.get());
    EXPECT_EQ(native->flags, unsigned(CODEXA_EURO_PRESENT));
    EXPECT_EQ(native->toUnicode[0x9F], 0x20AC);

    auto none = load(264);
    EXPECT_EQ(none->flags, 0u);
    vCharsetEnableEuro(none.get());
    EXPECT_EQ(none->flags, 0u);
    vCharsetEnableEuro(nullptr);
    vCharsetDisableEuro(nullptr);
}

// A masked euro position and an undefined one: switching never touches an entry beyond the
// from-Unicode table, and switching off restores the object's own (undefined) character.
TEST(Charset, EuroSwitchOnUndefinedOrMaskedByte) {
    for (auto [cp, variant] : {std::pair{290u, 1172u}, {1027u, 1172u}, {37u, 101u}}) {
        SCOPED_TRACE(testing::Message() << cp << "/" << variant);
        auto cs = load(cp, variant);
        ASSERT_NE(cs, nullptr);
        const unsigned p = cs->euroPosition;
        ASSERT_NE(p, 0u);
        ASSERT_EQ(cs->toUnicode[p], 0xFFFD);
        ASSERT_EQ(cs->flags, unsigned(CODEXA_EURO_SWITCHABLE));
        std::vector<uint8_t> before(cs->fromUnicode, cs->fromUnicode + cs->maxCodePoint + 1);
        vCharsetEnableEuro(cs.get());
        EXPECT_EQ(cs->toUnicode[p], 0x20AC);
        EXPECT_EQ(cs->fromUnicode[0x20AC], p);
        vCharsetDisableEuro(cs.get());
        EXPECT_EQ(cs->toUnicode[p], 0xFFFD);
        EXPECT_EQ(cs->classBits[p], 0);
        std::vector<uint8_t> after(cs->fromUnicode, cs->fromUnicode + cs->maxCodePoint + 1);
        EXPECT_EQ(before, after);
    }
    // Base rows of 290 and 1027 have no euro position.
    EXPECT_EQ(load(290)->euroPosition, 0);
    EXPECT_EQ(load(1027, 101)->euroPosition, 0);
    EXPECT_EQ(load(290, 332)->euroPosition, 0);
}

TEST(Charset, SubstitutionCharacter) {
    auto cs = load(1047);
    vCharsetSetSubChar(cs.get(), 0x6F); // '?'
    EXPECT_EQ(cs->substitution, 0x6F);
    EXPECT_EQ(cs->fromUnicode[0x20AC], 0x6F);
    EXPECT_EQ(cs->fromUnicode['?'], 0x6F);
    EXPECT_EQ(cs->fromUnicode['A'], 0xC1);
    auto masked = load(37, 101);
    vCharsetSetSubChar(masked.get(), 0x41); // undefined in this variant: ignored
    EXPECT_EQ(masked->substitution, 0x3F);
    vCharsetSetSubChar(cs.get(), 0x100);
    EXPECT_EQ(cs->substitution, 0x6F);
    auto utf8 = load(1208);
    vCharsetSetSubChar(utf8.get(), 0x3F);
    EXPECT_EQ(utf8->substitution, 0xFFFD);
}

TEST(Charset, SwapNewLine) {
    auto cs = load(1047);
    vCharsetSwapNewLine(cs.get());
    EXPECT_EQ(cs->nl, 0x25);
    EXPECT_EQ(cs->lf, 0x15);
    EXPECT_EQ(cs->toUnicode[0x15], 0x000A);
    EXPECT_EQ(cs->toUnicode[0x25], 0x0085);
    EXPECT_EQ(cs->fromUnicode[0x0A], 0x15);
    EXPECT_EQ(cs->fromUnicode[0x85], 0x25);
    vCharsetSwapNewLine(cs.get());
    auto fresh = load(1047);
    EXPECT_EQ(0, std::memcmp(cs->toUnicode, fresh->toUnicode, 512));
    EXPECT_EQ(0, std::memcmp(cs->fromUnicode, fresh->fromUnicode, cs->maxCodePoint + 1));
    auto ascii = load(819);
    vCharsetSwapNewLine(ascii.get());
    EXPECT_EQ(ascii->nl, 0x85);
    EXPECT_EQ(ascii->lf, 0x0A);
}

TEST(Charset, Mask3270) {
    auto cs = load(1047);
    vCharsetMask3270(cs.get());
    EXPECT_EQ(cs->cr, 0);
    EXPECT_EQ(cs->lf, 0);
    EXPECT_EQ(cs->nl, 0);
    EXPECT_EQ(cs->ht, 0);
    EXPECT_EQ(cs->substitution, 0x3F);
    for (unsigned b = 0x01; b <= 0x3F; ++b) {
        EXPECT_EQ(cs->toUnicode[b], 0xFFFD);
        EXPECT_EQ(cs->classBits[b], 0);
        EXPECT_EQ(cs->upper[b], b);
    }
    EXPECT_EQ(cs->toUnicode[0xFF], 0xFFFD);
    EXPECT_EQ(cs->toUnicode[0x00], 0x0000);
    EXPECT_EQ(cs->fromUnicode[0x0A], 0x3F);
    EXPECT_EQ(cs->fromUnicode[0x0D], 0x3F);
    EXPECT_EQ(cs->fromUnicode['A'], 0xC1);
    auto ascii = load(819);
    vCharsetMask3270(ascii.get());
    EXPECT_EQ(ascii->cr, 0x0D) << "only EBCDIC pages have 3270 control positions";
}

TEST(Charset, FreeAcceptsNull) {
    vCharsetFree(nullptr);
    vCharsetSwapNewLine(nullptr);
    vCharsetMask3270(nullptr);
    vCharsetSetSubChar(nullptr, 1);
}

// ---------------------------------------------------------------------------------------------

class Environment : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* v : kVars) unsetenv(v);
        // The terminal default depends on the host's locale; pin it.
        setenv("LC_ALL", "C", 1);
    }
    void TearDown() override {
        for (const char* v : kVars) unsetenv(v);
        unsetenv("LC_ALL");
    }
    static CodePageEnv get(CodePageEnv preset = {0, 0, 0, 0}) {
        uGetCodePageEnv(&preset);
        return preset;
    }
    static constexpr const char* kVars[] = {"CODEPAGE_ASCII", "CODEPAGE_EBCDIC",
                                            "CODEPAGE_TERMINAL", "CODEPAGE_REPORT"};
};

TEST_F(Environment, Defaults) {
    CodePageEnv env{};
    EXPECT_EQ(uGetCodePageEnv(&env), 819u);
    EXPECT_EQ(env.ascii, 819u);
    EXPECT_EQ(env.ebcdic, 1047u);
    EXPECT_EQ(env.terminal, 819u) << "the C locale's character set maps to 819";
    EXPECT_EQ(env.report, 819u);
    CodePageEnv preset = get({1252, 37, 850, 1208});
    EXPECT_EQ(preset.ascii, 1252u);
    EXPECT_EQ(preset.ebcdic, 37u);
    EXPECT_EQ(preset.terminal, 850u);
    EXPECT_EQ(preset.report, 1208u);
    EXPECT_EQ(get({1252, 0, 0, 0}).report, 1252u) << "the report default follows the ASCII field";
    EXPECT_EQ(uGetCodePageEnv(nullptr), 819u);
}

TEST_F(Environment, AcceptedAndRejectedValues) {
    setenv("CODEPAGE_EBCDIC", "1140", 1);
    EXPECT_EQ(get().ebcdic, 1140u);
    for (const char* bad : {"1252", "1047x", "", " 1140", "+1140", "65536", "4294968343", "0",
                            "99999999999999999999", "9999"}) {
        setenv("CODEPAGE_EBCDIC", bad, 1);
        EXPECT_EQ(get().ebcdic, 1047u) << "'" << bad << "'";
        EXPECT_EQ(get({0, 500, 0, 0}).ebcdic, 500u) << "'" << bad << "'";
    }
    setenv("CODEPAGE_EBCDIC", "4369", 1); // a CCSID that finds an EBCDIC row
    EXPECT_EQ(get().ebcdic, 4369u);

    setenv("CODEPAGE_ASCII", "1252", 1);
    setenv("CODEPAGE_TERMINAL", "437", 1);
    CodePageEnv env = get();
    EXPECT_EQ(env.ascii, 1252u);
    EXPECT_EQ(env.terminal, 437u);
    EXPECT_EQ(env.report, 1252u);
    setenv("CODEPAGE_ASCII", "1047", 1);
    setenv("CODEPAGE_TERMINAL", "1208", 1);
    env = get();
    EXPECT_EQ(env.ascii, 819u);
    EXPECT_EQ(env.terminal, 819u) << "a terminal code page must be ASCII";

    setenv("CODEPAGE_REPORT", "1208", 1);
    EXPECT_EQ(get().report, 1208u);
    setenv("CODEPAGE_REPORT", "1047", 1);
    EXPECT_EQ(get().report, 1047u);
    setenv("CODEPAGE_REPORT", "310", 1);
    EXPECT_EQ(get().report, 819u) << "kind 3 is not a report kind";
    setenv("CODEPAGE_REPORT", "1200", 1);
    EXPECT_EQ(get().report, 1200u);
}

TEST_F(Environment, TerminalFromLocale) {
    setenv("LC_ALL", "C.UTF-8", 1);
    EXPECT_EQ(get().terminal, 1208u);
    EXPECT_EQ(get({0, 0, 1252, 0}).terminal, 1252u);
}
