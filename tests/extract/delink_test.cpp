// Delink: the cards of a delinked deck, field by field: the object modules of a module's
// sections with their constants unrelocated, the short form of relocation items, and the
// control statements with continuation cards.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "delink.h"
#include "loadmod_fixture.h"

using namespace xtest;

namespace {

using Card = std::vector<uint8_t>;

std::vector<Card> cards(const std::vector<uint8_t>& deck) {
    EXPECT_EQ(deck.size() % 80, 0u);
    std::vector<Card> out;
    for (size_t at = 0; at + 80 <= deck.size(); at += 80)
        out.emplace_back(deck.begin() + at, deck.begin() + at + 80);
    return out;
}

// A statement card as the deck should hold it: EBCDIC, blank-padded to 80 columns.
Card statement(const std::string& text) {
    Bytes b = ebcdic(text);
    b.resize(80, 0x40);
    return b;
}

bool isType(const Card& c, const char* type) {
    return c[0] == 0x02 && Bytes(c.begin() + 1, c.begin() + 4) == ebcdic(type);
}
unsigned u16(const Card& c, size_t at) {
    return static_cast<unsigned>(c[at]) << 8 | c[at + 1];
}
unsigned u24(const Card& c, size_t at) {
    return static_cast<unsigned>(c[at]) << 16 | u16(c, at + 1);
}

// The text of an object module of the deck (the cards up to its END), by ESDID.
std::map<unsigned, Bytes> objectText(const std::vector<Card>& deck, size_t module) {
    std::map<unsigned, Bytes> text;
    size_t seen = 0;
    for (const Card& c : deck) {
        if (isType(c, "END")) {
            if (seen++ == module) break;
            continue;
        }
        if (seen != module || !isType(c, "TXT")) continue;
        Bytes& t = text[u16(c, 14)];
        const unsigned address = u24(c, 5), n = u16(c, 10);
        if (t.size() < address + n) t.resize(address + n, 0);
        std::memcpy(t.data() + address, c.data() + 16, n);
    }
    return text;
}

unsigned value4(const Bytes& text, size_t at) {
    return static_cast<unsigned>(text[at]) << 24 | static_cast<unsigned>(text[at + 1]) << 16 |
           static_cast<unsigned>(text[at + 2]) << 8 | text[at + 3];
}

Bytes rldItem(unsigned r, unsigned p, uint8_t flags, uint32_t address) {
    return cat({b16(r), b16(p), {flags}, b24(address)});
}

} // namespace

TEST(Delink, DeckOfASmallModule) {
    Read m = readModule(moduleEntry(16), smallModule());
    ASSERT_EQ(m.error, "");
    const std::vector<Card> deck = cards(opx::delinkModule(m.image, "MAIN"));
    ASSERT_EQ(deck.size(), 6u);
    // ESD: MAIN at origin 0, then the reference.
    EXPECT_TRUE(isType(deck[0], "ESD"));
    EXPECT_EQ(u16(deck[0], 10), 32u);
    EXPECT_EQ(u16(deck[0], 14), 1u);
    EXPECT_EQ(Bytes(deck[0].begin() + 16, deck[0].begin() + 32),
              cat({name8("MAIN"), {0x00}, b24(0), {0x00}, b24(16)}));
    EXPECT_EQ(Bytes(deck[0].begin() + 32, deck[0].begin() + 48),
              cat({name8("EXT"), {0x02}, b24(0), {0x40}, {0x40, 0x40, 0x40}}));
    // TXT: the V-type constant at 8 holds 0 again.
    EXPECT_TRUE(isType(deck[1], "TXT"));
    EXPECT_EQ(u24(deck[1], 5), 0u);
    EXPECT_EQ(u16(deck[1], 10), 16u);
    EXPECT_EQ(u16(deck[1], 14), 1u);
    EXPECT_EQ(Bytes(deck[1].begin() + 16, deck[1].begin() + 32),
              cat({Bytes(8, 0x47), Bytes(4, 0), Bytes(4, 0x47)}));
    // RLD: R = EXT (2), P = MAIN (1).
    EXPECT_TRUE(isType(deck[2], "RLD"));
    EXPECT_EQ(u16(deck[2], 10), 8u);
    EXPECT_EQ(Bytes(deck[2].begin() + 16, deck[2].begin() + 24), rldItem(2, 1, 0x1C, 8));
    // END: the entry point, MAIN + 0.
    EXPECT_TRUE(isType(deck[3], "END"));
    EXPECT_EQ(u24(deck[3], 5), 0u);
    EXPECT_EQ(u16(deck[3], 14), 1u);
    EXPECT_EQ(deck[3][32], 0x40) << "no translator items";
    // Object cards are numbered; statements are not.
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(Bytes(deck[i].begin() + 72, deck[i].end()),
                  ebcdic("0000000" + std::to_string(i + 1)));
    EXPECT_EQ(deck[4], statement(" MODE RMODE(24)"));
    EXPECT_EQ(deck[5], statement(" NAME MAIN(R)"));
}

// Constants of every kind go back to what a translator writes: A-type constants hold the
// target's address in the object module (or only the addend for a symbol of another module),
// Q-type constants the offset within the pseudo register, V-type and cumulative lengths 0;
// relative-immediate fields the distance in the object module; unresolved constants stay.
TEST(Delink, ConstantsAreUnrelocated) {
    // A (SD, 0, 0x18) with private code P (0x40, 0x10) that it refers to; B (SD, 0x80, 0x10) in
    // an object module of its own; a pseudo register and an unresolved reference.
    Bytes text(0x90, 0);
    auto put4 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) text[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    put4(0x00, 0x44);       // A(P+4)
    put4(0x04, 0x86);       // A(B+6)
    put4(0x08, 0x0C);       // Q(PR1)+4, the register at 8
    put4(0x0C, 0x40);       // V(P)
    put4(0x10, 0x99);       // CXD
    text[0x16] = 0x00;      // relative-immediate to B from the instruction at 0x14
    text[0x17] = 0x36;      // (0x80 - 0x14) / 2
    put4(0x40, 0x11223344); // A(EXT), unresolved
    put4(0x80, 0x18);       // V(A) from B
    put4(0x84, 0xFFFFFF8C); // -A(B) + 0x0C: 0x0C less B's module address
    const Bytes rldA = cat({rldItem(2, 1, 0x0D, 0x00),
                            {0x1C},
                            b24(0x0C), // A and V to P
                            rldItem(4, 1, 0x0C, 0x04),
                            rldItem(5, 1, 0x2C, 0x08),
                            rldItem(0, 1, 0x3C, 0x10),
                            rldItem(4, 1, 0x70, 0x16)});
    const Bytes rldP = rldItem(6, 2, 0x8C, 0x40);
    const Bytes rldB = cat({rldItem(1, 4, 0x1C, 0x80), rldItem(4, 4, 0x0E, 0x84)});
    const std::vector<Bytes> records = {
        cesdRecord(1, {cesdEntry("A", 0, 0, 0x18), cesdEntry("", 4, 0x40, 0x10),
                       cesdEntry("", 7, 0, 0), cesdEntry("B", 0, 0x80, 0x10),
                       cesdEntry("PR1", 6, 8, 4, 3), cesdEntry("EXT", 2, 0, 0)}),
        controlRecord(0x01, 0, {}, cat({b16(1), b16(0x90)})), text,
        controlRecord(0x02, 0, cat({rldA, rldP, rldB}), {})};
    Read m = readModule(moduleEntry(0x90), records);
    ASSERT_EQ(m.error, "");
    // A at origin 0, P right after it at 0x18 (the module had it at 0x40).
    const std::vector<Card> deck = cards(opx::delinkModule(m.image, "TWO"));
    std::map<unsigned, Bytes> first = objectText(deck, 0);
    ASSERT_EQ(first[1].size(), 0x18u);
    EXPECT_EQ(value4(first[1], 0x00), 0x1Cu);
    EXPECT_EQ(value4(first[1], 0x04), 0x06u);
    EXPECT_EQ(value4(first[1], 0x08), 0x04u);
    EXPECT_EQ(value4(first[1], 0x0C), 0x18u) << "V(P) becomes an A-type constant of P";
    EXPECT_EQ(value4(first[1], 0x10), 0u);
    EXPECT_EQ(first[1][0x16], 0xFF);
    EXPECT_EQ(first[1][0x17], 0xF6) << "(0 - 0x14) / 2";
    EXPECT_EQ(value4(first[2], 0x18), 0x11223344u) << "P's text from its origin";
    std::map<unsigned, Bytes> second = objectText(deck, 1);
    EXPECT_EQ(value4(second[1], 0x00), 0u);
    EXPECT_EQ(value4(second[1], 0x04), 0x0Cu) << "a subtracted address put back";

    // The first object module: ESD of A and P, the pseudo register (the first object module
    // defines them all, in offset order), then B and EXT (ER) in order of first use; its RLD
    // items, the V-type one as an A-type one.
    ASSERT_TRUE(isType(deck[0], "ESD") && isType(deck[1], "ESD"));
    EXPECT_EQ(Bytes(deck[0].begin() + 16, deck[0].begin() + 64), cat({name8("A"),
                                                                      {0x00},
                                                                      b24(0),
                                                                      {0},
                                                                      b24(0x18),
                                                                      Bytes(8, 0x40),
                                                                      {0x04},
                                                                      b24(0x18),
                                                                      {0},
                                                                      b24(0x10),
                                                                      name8("PR1"),
                                                                      {0x06},
                                                                      b24(0),
                                                                      {0x03},
                                                                      b24(4)}));
    EXPECT_EQ(Bytes(deck[1].begin() + 16, deck[1].begin() + 48), cat({name8("B"),
                                                                      {0x02},
                                                                      b24(0),
                                                                      {0x40},
                                                                      Bytes(3, 0x40),
                                                                      name8("EXT"),
                                                                      {0x02},
                                                                      b24(0),
                                                                      {0x40},
                                                                      Bytes(3, 0x40)}));
    const Card* rld = nullptr;
    for (const Card& c : deck)
        if (isType(c, "RLD") && rld == nullptr) rld = &c;
    ASSERT_NE(rld, nullptr);
    EXPECT_EQ(Bytes(rld->begin() + 16, rld->begin() + 16 + u16(*rld, 10)),
              cat({rldItem(2, 1, 0x0D, 0x00),
                   {0x0C},
                   b24(0x0C),
                   rldItem(4, 1, 0x0C, 0x04),
                   rldItem(3, 1, 0x2C, 0x08),
                   rldItem(0, 1, 0x3C, 0x10),
                   rldItem(4, 1, 0x70, 0x16),
                   rldItem(5, 2, 0x0C, 0x18)}));
}

TEST(Delink, ShortRelocationItems) {
    // Eight A-type constants to one target, then a V-type one to another: the short form while
    // pointers and type stay the same, never past the card's 56 bytes.
    Bytes text(0x40, 0);
    Bytes rld;
    for (unsigned i = 0; i < 14; ++i) append(rld, rldItem(1, 1, 0x0C, 4 * i));
    append(rld, rldItem(2, 1, 0x1C, 0x38));
    Read m = readModule(moduleEntry(0x40),
                        {cesdRecord(1, {cesdEntry("MAIN", 0, 0, 0x40), cesdEntry("EXT", 2, 0, 0)}),
                         controlRecord(0x01, 0, {}, cat({b16(1), b16(0x40)})), text,
                         controlRecord(0x02, 0, rld, {})});
    ASSERT_EQ(m.error, "");
    std::vector<Card> rlds;
    for (const Card& c : cards(opx::delinkModule(m.image, "MAIN")))
        if (isType(c, "RLD")) rlds.push_back(c);
    ASSERT_EQ(rlds.size(), 2u);
    // Card 1: one full item and 12 short ones (8 + 48 = 56 bytes); the last not marked.
    EXPECT_EQ(u16(rlds[0], 10), 56u);
    EXPECT_EQ(rlds[0][16 + 4], 0x0D);
    EXPECT_EQ(rlds[0][16 + 8 + 4 * 10], 0x0D);
    EXPECT_EQ(rlds[0][16 + 8 + 4 * 11], 0x0C);
    // Card 2: the 14th A-type item in full, then the V-type item in full.
    EXPECT_EQ(u16(rlds[1], 10), 16u);
    EXPECT_EQ(Bytes(rlds[1].begin() + 16, rlds[1].begin() + 32),
              cat({rldItem(1, 1, 0x0C, 0x34), rldItem(2, 1, 0x1C, 0x38)}));
}

TEST(Delink, ControlStatements) {
    // A quote in the identification data is doubled; 40 characters of it make the statement
    // longer than a card: column 72 marks it, the rest goes on in column 3.
    const std::string data = "IT'S ''QUOTED'' AND 'MORE' '''' 01234567";
    ASSERT_EQ(data.size(), 40u);
    Bytes identify = cat({b16(1), b24(0), {static_cast<uint8_t>(data.size())}, ebcdic(data)});
    Bytes never = cesdEntry("NOCALL", 2, 0, 0);
    never[13] = 0x06;
    const std::vector<Bytes> records = {
        cesdRecord(1, {cesdEntry("MAINPROG", 0, 0, 0x1000), cesdEntry("SECOND", 0, 0x1000, 8),
                       cesdEntry("LABEL", 3, 0x1004, 2), never}),
        idrRecord(0x88, identify)};
    Read m = readModule(moduleEntry(0x1008), records);
    ASSERT_EQ(m.error, "");
    m.image.info.flags = DE_RENT | DE_REUS | DE_TEST | DE_ONLY | DE_PAGE_ALIGNED | DE_SSI | DE_APF |
                         1 | DE_RMODE_ANY | (3u << 10);
    std::memcpy(m.image.info.ssi, "\x01\x02\xAB\xCD", 4);
    m.image.info.entryPoint = 0x1000; // SECOND: given by the second END card
    opx::AliasEntry plain{"MAINPROG", {}, 0}, other{"OTHER", {}, 0x1004},
        atSection{"THIRD", {}, 0x1000};
    std::memcpy(plain.ebcdicName, name8("MAINPROG").data(), 8);
    std::memcpy(other.ebcdicName, name8("OTHER").data(), 8);
    std::memcpy(atSection.ebcdicName, name8("THIRD").data(), 8);
    m.image.aliases = {plain, other, atSection};
    const std::vector<Card> deck = cards(opx::delinkModule(m.image, "PROG"));
    std::vector<Card> statements;
    for (const Card& c : deck)
        if (c[0] != 0x02) statements.push_back(c);
    const std::string identifyText =
        " IDENTIFY MAINPROG('IT''S ''''QUOTED'''' AND ''MORE'' '''''''' 01234567')";
    ASSERT_GT(identifyText.size(), 71u);
    Card firstPart = statement(identifyText.substr(0, 71));
    firstPart[71] = ebcdic("X")[0];
    const std::vector<Card> want = {
        statement(" SETOPT PARM(REUS=RENT,TEST,OL)"),
        firstPart,
        statement("  " + identifyText.substr(71)),
        statement(" PAGE MAINPROG"),
        statement(" PAGE SECOND"),
        statement(" LIBRARY *(NOCALL)"),
        statement(" SETSSI 0102ABCD"),
        statement(" SETCODE AC(1)"),
        statement(" MODE RMODE(ANY),AMODE(ANY)"),
        statement(" ALIAS MAINPROG(MAINPROG)"), // not entered at the module's entry point
        statement(" ALIAS OTHER(LABEL)"),
        statement(" ALIAS THIRD(SECOND)"),
        statement(" NAME PROG(R)"),
    };
    ASSERT_EQ(statements.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(statements[i], want[i]) << i;
    // SETOPT stands before the object modules; the entry point is on SECOND's END card.
    EXPECT_EQ(deck[0], want[0]);
    size_t ends = 0;
    for (const Card& c : deck)
        if (isType(c, "END")) {
            EXPECT_EQ(u16(c, 14) == 1 && u24(c, 5) == 0, ends == 1) << "END " << ends;
            ++ends;
        }
    EXPECT_EQ(ends, 2u);
}

TEST(Delink, OnlyUnnamedPrivateCode) {
    // No IDENTIFY or PAGE statements, and still MODE and NAME; RMODE 24 and AMODE 24 give no
    // AMODE part.
    const std::vector<Bytes> records = {cesdRecord(1, {cesdEntry("", 4, 0, 8)}),
                                        controlRecord(0x01, 0, {}, cat({b16(1), b16(8)})),
                                        Bytes(8, 0x07)};
    Read m = readModule(moduleEntry(8), records);
    ASSERT_EQ(m.error, "");
    m.image.info.flags |= DE_PAGE_ALIGNED;
    const std::vector<Card> deck = cards(opx::delinkModule(m.image, "PRIV"));
    ASSERT_EQ(deck.size(), 5u);
    EXPECT_EQ(Bytes(deck[0].begin() + 16, deck[0].begin() + 32),
              cat({Bytes(8, 0x40), {0x04}, b24(0), {0}, b24(8)}));
    EXPECT_TRUE(isType(deck[1], "TXT") && isType(deck[2], "END"));
    EXPECT_EQ(deck[3], statement(" MODE RMODE(24)"));
    EXPECT_EQ(deck[4], statement(" NAME PRIV(R)"));
}
