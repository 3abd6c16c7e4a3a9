// Object module input: the checks of each record type, the naming and attaching done after
// END, the messages of a deck in a job step, and the real decks of the corpus, whose sections,
// symbols, text lengths and relocation counts are derived here from the cards themselves.
#include <filesystem>
#include <map>

#include "linkedit.h"
#include "linkedit_support.h"
#include "shared_dir.h"

using namespace lt;

namespace {

struct Read {
    vrl::ObjectModule image;
    std::vector<std::string> problems; // one per card: "" or the message
    bool ended = false;
};

// Feeds cards to a reader; stops after END.
Read readCards(const std::vector<Card>& cards) {
    Read r;
    vrl::ObjectReader reader(r.image);
    for (const Card& c : cards) {
        bool end = false;
        r.problems.push_back(reader.record(c.data(), end));
        if (end) {
            r.ended = true;
            break;
        }
    }
    return r;
}

// The first message of a deck, or "".
std::string firstProblem(const std::vector<Card>& cards) {
    for (const std::string& p : readCards(cards).problems)
        if (!p.empty()) return p;
    return "";
}

const std::string kEsd = "VRL151S Invalid object module ESD record";
const std::string kTxt = "VRL151S Invalid object module TXT record";
const std::string kRld = "VRL151S Invalid object module RLD record";
const std::string kEnd = "VRL151S Invalid object module END record";
const std::string kXsd = "VRL151S Invalid object module XSD record";
const std::string kXsdItem = "VRL151S Invalid object module XSD records";
const std::string kXsdPart = "VRL152S Invalid object module XSD continuation record";

// An XSD record: one part of a long name.
Card xsd(unsigned esdid, const std::string& name, unsigned total, unsigned position,
         const std::string& item) {
    Card c("XSD");
    c.be16(10, static_cast<unsigned>(16 + name.size())).be16(14, esdid).be32(16, total);
    c.be32(20, position).bytes(24, item.substr(8)).text(32, name);
    if (position > 1) c.u8(4, 0x40);
    return c;
}

} // namespace

TEST(ObjectInput, RecordFrames) {
    Card junk("ESD");
    junk.u8(0, 0x40);
    Card unknown("ABC");
    struct Case {
        const char* name;
        std::vector<Card> cards;
        std::string problem;
    };
    Card esd40 = esd(1, {sd("A", 0, 8), er("B"), er("C")});
    esd40.be16(10, 40);
    Card esdTrailer = esd(1, {sd("A", 0, 8)});
    esdTrailer.u8(70, 0);
    Card txtCount0 = txt(1, 0, "x");
    txtCount0.be16(10, 0);
    Card txtCount57 = txt(1, 0, "x");
    txtCount57.be16(10, 57);
    Card symBad("SYM");
    symBad.be16(10, 0);
    Card sym("SYM");
    sym.be16(10, 4).bytes(16, std::string("\x18\0\0\0", 4));
    const Case cases[] = {
        {"not an object record", {junk}, "VRL150S Invalid object module record"},
        {"unknown type", {unknown}, "VRL150S Invalid object module record"},
        {"ESD count 40", {esd40}, kEsd},
        {"ESD trailer", {esdTrailer}, kEsd},
        {"TXT count 0", {esd(1, {sd("A", 0, 8)}), txtCount0}, kTxt},
        {"TXT count 57", {esd(1, {sd("A", 0, 64)}), txtCount57}, kTxt},
        {"SYM count 0", {symBad}, "VRL151S Invalid object module SYM record"},
        {"SYM after ESD",
         {esd(1, {sd("A", 0, 8)}), sym},
         "VRL153S Object module SYM record is out of sequence"},
        {"SYM first", {sym, esd(1, {sd("A", 0, 8)}), end()}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(firstProblem(c.cards), c.problem) << c.name;
}

TEST(ObjectInput, EsdItems) {
    struct Case {
        const char* name;
        std::vector<std::string> items;
        bool valid;
    };
    const Case cases[] = {
        {"all kinds",
         {sd("A", 0, 16), ld("L", 8, 1), er("E"), pc(16, 8), cm("C", 4), xd("X", 4), wx("W"),
          esdItem("Q", 0x0D, 32, 0, 16), esdItem("", 0x0E, 48, 0, 8), esdItem("CQ", 0x0F, 0, 0, 8)},
         true},
        {"blank common", {esdItem("", 0x05, 0, 0, 8)}, true},
        {"SD without name", {sd("", 0, 8)}, false},
        {"SD address", {sd("A", 4, 8)}, false},
        {"SD flags", {sd("A", 0, 8, 0x20)}, false},
        {"SD flags 40 read as 0", {sd("A", 0, 8, 0x47)}, true},
        {"PC with name", {esdItem("P", 0x04, 0, 0, 8)}, false},
        {"PC flags", {pc(0, 8, 0x08)}, false},
        {"CM address", {esdItem("C", 0x05, 8, 0, 8)}, false},
        {"LD owner unknown", {sd("A", 0, 8), ld("L", 0, 5)}, false},
        {"LD owner not a section", {er("E"), ld("L", 0, 1)}, false},
        {"LD outside", {sd("A", 0, 8), ld("L", 10, 1)}, false},
        {"LD at the end", {sd("A", 0, 8), ld("L", 8, 1)}, true},
        {"LD flags", {sd("A", 0, 8), esdItem("L", 0x01, 0, 0x04, 1)}, false},
        {"ER address", {esdItem("E", 0x02, 4, 0, -1)}, false},
        {"ER length", {esdItem("E", 0x02, 0, 0, 0)}, false},
        {"XD alignment", {xd("X", 4, 0x02)}, false},
        {"XD quadword", {xd("X", 4, 0x0F)}, true},
        {"unknown type", {esdItem("U", 0x03, 0, 0, 0)}, false},
        {"name with a blank inside", {esdItem("A B", 0x00, 0, 0, 8)}, false},
        {"two unnamed PCs", {pc(0, 8), pc(8, 8)}, false},
        {"two blank commons", {esdItem("", 0x05, 0, 0, 8), esdItem("", 0x05, 0, 0, 4)}, false},
        {"SD and LD of one name", {sd("A", 0, 8), ld("A", 0, 1)}, false},
        {"two SDs of one name", {sd("A", 0, 8), sd("A", 8, 8)}, false},
        {"SD and XD of one name", {sd("A", 0, 8), xd("A", 4)}, true},
        {"SD and ER of one name", {sd("A", 0, 8), er("A")}, true},
        {"two XDs of one name", {xd("A", 4), xd("A", 8)}, false},
    };
    for (const Case& c : cases) {
        std::vector<Card> cards;
        unsigned id = 1;
        for (size_t i = 0; i < c.items.size(); i += 3) {
            std::vector<std::string> group(c.items.begin() + static_cast<long>(i),
                                           c.items.begin() +
                                               static_cast<long>(std::min(i + 3, c.items.size())));
            cards.push_back(esd(id, group));
            for (const auto& item : group)
                if (item[8] != 0x01) ++id;
        }
        cards.push_back(end());
        EXPECT_EQ(firstProblem(cards), c.valid ? "" : kEsd) << c.name;
    }
    // ESDIDs: not 0, not given twice, not past X'FFFF'.
    EXPECT_EQ(firstProblem({esd(0, {sd("A", 0, 8)})}), kEsd);
    EXPECT_EQ(firstProblem({esd(0, {ld("L", 0, 1)})}), kEsd); // no section 1
    EXPECT_EQ(firstProblem({esd(1, {sd("A", 0, 8)}), esd(1, {sd("B", 0, 8)})}), kEsd);
    EXPECT_EQ(firstProblem({esd(0xFFFF, {sd("A", 0, 8), sd("B", 8, 8)})}), kEsd);
    EXPECT_EQ(firstProblem({esd(0xFFFF, {sd("A", 0, 8)}), end()}), "");
}

TEST(ObjectInput, Text) {
    const std::string eight = "ABCDEFGH";
    EXPECT_EQ(firstProblem({esd(1, {sd("A", 8, 8)}), txt(1, 8, eight), end()}), "");
    EXPECT_EQ(firstProblem({esd(1, {sd("A", 8, 8)}), txt(1, 0, eight)}), kTxt);
    EXPECT_EQ(firstProblem({esd(1, {sd("A", 8, 8)}), txt(1, 9, eight)}), kTxt);
    EXPECT_EQ(firstProblem({esd(1, {sd("A", 0, 8)}), txt(2, 0, eight)}), kTxt);
    EXPECT_EQ(firstProblem({esd(1, {er("E")}), txt(1, 0, eight)}), kTxt);
    // A section declared with length 0 grows with its text; only one section may.
    Card length = end();
    length.be32(28, 108);
    Read r = readCards(
        {esd(1, {sd("A", 0, 0), sd("B", 0, 0)}), txt(1, 0, eight), txt(1, 100, eight), length});
    EXPECT_EQ(r.problems, (std::vector<std::string>{"", "", "", ""}));
    EXPECT_EQ(r.image.find(1)->length, 108u);
    EXPECT_EQ(r.image.find(1)->text.bytes(), 16u);
    EXPECT_EQ(
        firstProblem({esd(1, {sd("A", 0, 0), sd("B", 0, 0)}), txt(1, 0, eight), txt(2, 0, eight)}),
        kTxt);
}

TEST(ObjectInput, Relocation) {
    const std::vector<std::string> items = {sd("A", 0, 16), er("E"), xd("X", 4), wx("W")};
    struct Case {
        const char* name;
        std::string data;
        bool valid;
    };
    const Case cases[] = {
        {"A-type to SD", rldEntry(1, 1, 0x0C, 0), true},
        {"A-type of 3 bytes", rldEntry(2, 1, 0x08, 0), true},
        {"A-type of 2 bytes", rldEntry(1, 1, 0x04, 0), false},
        {"A-type negative", rldEntry(2, 1, 0x0E, 0), true},
        {"A-type to XD", rldEntry(3, 1, 0x0C, 0), false},
        {"V-type to ER", rldEntry(2, 1, 0x1C, 0), true},
        {"V-type to WX", rldEntry(4, 1, 0x1C, 0), true},
        {"V-type negative", rldEntry(2, 1, 0x1E, 0), false},
        {"V-type to SD", rldEntry(1, 1, 0x1C, 0), false},
        {"Q-type to XD", rldEntry(3, 1, 0x2C, 0), true},
        {"Q-type to ER", rldEntry(2, 1, 0x2C, 0), false},
        {"CXD without target", rldEntry(0, 1, 0x3C, 0), true},
        {"CXD to ER", rldEntry(2, 1, 0x3C, 0), false},
        {"relative-immediate", rldEntry(2, 1, 0x70, 2), true},
        {"relative-immediate odd", rldEntry(2, 1, 0x78, 3), false},
        {"kind X'30' of 6 bytes", rldEntry(2, 1, 0x74, 0), false},
        {"reserved bit", rldEntry(1, 1, 0x8C, 0), false},
        {"P pointer not a section", rldEntry(1, 2, 0x0C, 0), false},
        {"R pointer unknown", rldEntry(9, 1, 0x0C, 0), false},
        {"outside the section", rldEntry(1, 1, 0x0C, 14), false},
        {"same pointers", rldEntry(1, 1, 0x0D, 0) + rldShort(0x1C, 4).replace(0, 0, ""), false},
        {"same pointers continued", rldEntry(2, 1, 0x1D, 0) + rldShort(0x1C, 4), true},
        {"last entry announces another", rldEntry(2, 1, 0x1D, 0) + rldShort(0x1D, 4), false},
        {"short data", rldEntry(1, 1, 0x0C, 0).substr(0, 6) + "\x40\x40", false},
    };
    for (const Case& c : cases) {
        const std::vector<Card> cards = {esd(1, {items[0], items[1], items[2]}), esd(4, {items[3]}),
                                         rld(c.data), end()};
        EXPECT_EQ(firstProblem(cards), c.valid ? "" : kRld) << c.name;
    }
    Card count7 = rld(rldEntry(1, 1, 0x0C, 0));
    count7.be16(10, 7);
    EXPECT_EQ(firstProblem({esd(1, {items[0]}), count7}), kRld);
    // A constant extends the section whose length was left open.
    Card length = end();
    length.be32(28, 16);
    Read r = readCards({esd(1, {sd("A", 0, 0)}), rld(rldEntry(1, 1, 0x0C, 12)), length});
    EXPECT_EQ(r.problems.back(), "");
    EXPECT_EQ(r.image.find(1)->length, 16u);
    EXPECT_EQ(r.image.find(1)->rld.size(), 1u);
}

TEST(ObjectInput, LongNames) {
    const std::string name45 = std::string(40, 'L') + "ONGER";
    Read r = readCards({xsd(1, name45.substr(0, 40), 45, 1, sd("", 0, 8)),
                        xsd(1, name45.substr(40), 45, 41, sd("", 0, 8)),
                        xsd(2, "main", 4, 1, ld("", 2, 1)), end()});
    EXPECT_EQ(r.problems, (std::vector<std::string>{"", "", "", ""}));
    ASSERT_NE(r.image.find(1), nullptr);
    EXPECT_EQ(r.image.find(1)->name, ebcdic(name45));
    EXPECT_EQ(r.image.items.back()->name, ebcdic("main"));
    EXPECT_EQ(r.image.items.back()->owner, r.image.find(1));

    struct Case {
        const char* name;
        std::vector<Card> cards;
        std::string problem;
    };
    const std::string item = sd("", 0, 8);
    const Case cases[] = {
        {"part past the total", {xsd(1, "ABCDEF", 4, 1, item)}, kXsdPart},
        {"short first part", {xsd(1, std::string(39, 'A'), 45, 1, item)}, kXsdPart},
        {"first position not 1", {xsd(1, "ABCD", 4, 2, item)}, kXsdPart},
        {"continuation position",
         {xsd(1, std::string(40, 'A'), 45, 1, item), xsd(1, "BCDEF", 45, 40, item)},
         kXsdPart},
        {"continuation ESDID",
         {xsd(1, std::string(40, 'A'), 45, 1, item), xsd(2, "BCDEF", 45, 41, item)},
         kXsdPart},
        {"continuation total",
         {xsd(1, std::string(40, 'A'), 45, 1, item), xsd(1, "BCDEF", 46, 41, item)},
         kXsdPart},
        {"continuation ends short",
         {xsd(1, std::string(40, 'A'), 90, 1, item), xsd(1, "BCDEF", 90, 41, item)},
         kXsdPart},
        {"another record inside the name",
         {xsd(1, std::string(40, 'A'), 45, 1, item), end()},
         kXsdPart},
        {"ESDID 0", {xsd(0, "ABCD", 4, 1, item)}, kXsd},
        {"total too long", {xsd(1, std::string(40, 'A'), 32768, 1, item)}, kXsd},
        {"invalid item", {xsd(1, "ABCD", 4, 1, sd("", 4, 8))}, kXsdItem},
        {"blank in the name", {xsd(1, "AB D", 4, 1, item)}, kXsdItem},
    };
    for (const Case& c : cases) EXPECT_EQ(firstProblem(c.cards), c.problem) << c.name;
}

TEST(ObjectInput, End) {
    const Card items = esd(1, {sd("A", 0, 16), ld("L", 6, 1), ld("ODD", 5, 1)});
    const Card reference = esd(2, {er("E")});
    Read r = readCards({items, reference, end(1, 4)});
    EXPECT_EQ(r.problems.back(), "");
    EXPECT_EQ(r.image.entrySection, r.image.find(1));
    EXPECT_EQ(r.image.entryAddress, 4u);
    r = readCards({items, reference, end(0, 0, "L")});
    EXPECT_EQ(r.image.entryName, ebcdic("L"));
    r = readCards({items, reference, end(0, 0, "E")});
    EXPECT_EQ(r.image.entryName, ebcdic("E"));
    r = readCards({items, reference, end(0, 0, "A")});
    EXPECT_EQ(r.image.entrySection, r.image.find(1));

    Card blank8 = end();
    blank8.u8(8, 0);
    Card count3 = end();
    count3.text(32, "3");
    Card col72 = end();
    col72.u8(71, 0);
    Card lengthField = end();
    lengthField.u8(28, 1);
    struct Case {
        const char* name;
        std::vector<Card> cards;
        std::string problem;
    };
    const Case cases[] = {
        {"odd entry", {items, reference, end(1, 3)}, kEnd},
        {"entry outside", {items, reference, end(1, 16)}, kEnd},
        {"entry ESDID unknown", {items, reference, end(3, 0)}, kEnd},
        {"entry in a reference", {items, reference, end(2, 0)}, kEnd},
        {"odd label", {items, reference, end(0, 0, "ODD")}, kEnd},
        {"unknown name", {items, reference, end(0, 0, "NONE")}, kEnd},
        {"blanks", {blank8}, kEnd},
        {"count 3", {count3}, kEnd},
        {"column 72", {col72}, kEnd},
        {"length field", {lengthField}, kEnd},
    };
    for (const Case& c : cases) EXPECT_EQ(firstProblem(c.cards), c.problem) << c.name;

    // Translator items: a bad item keeps only the items before it.
    const std::string good = "5695HLASM 0106"
                             "25005";
    const std::string bad = "5695HLASM 0106"
                            "2500X";
    r = readCards({end(0, 0, "", {good, bad})});
    EXPECT_EQ(r.image.identificationCount, 1u);
    r = readCards({end(0, 0, "", {bad, good})});
    EXPECT_EQ(r.image.identificationCount, 0u);
    r = readCards({end(0, 0, "", {good, good})});
    EXPECT_EQ(r.image.identificationCount, 2u);

    // The length of the open section comes from END, and may not shrink it.
    Card length = end();
    length.be32(28, 0x40);
    r = readCards({esd(1, {sd("A", 0, 0)}), txt(1, 0, "12345678"), length});
    EXPECT_EQ(r.problems.back(), "");
    EXPECT_EQ(r.image.find(1)->length, 0x40u);
    length.be32(28, 4);
    EXPECT_EQ(firstProblem({esd(1, {sd("A", 0, 0)}), txt(1, 0, "12345678"), length}), kEnd);
    EXPECT_EQ(firstProblem({esd(1, {sd("A", 0, 0)}), txt(1, 0, "12345678"), end()}), kEnd);
    length.be32(28, 0x20);
    r = readCards({esd(1, {sd("B", 0, 8), pc(8, 0)}), length});
    EXPECT_EQ(r.image.find(2)->length, 0x20u);
}

// After END: generated names, references attached to the sections that use them, symbol data
// split among the sections.
TEST(ObjectInput, Normalize) {
    Read r = readCards(
        {esd(1, {pc(0, 16), sd("S", 16, 16), er("ONE")}),
         esd(4, {er("MANY"), xd("X", 4, 7), esdItem("", 0x05, 0, 0, 8)}), esd(7, {er("NONE")}),
         rld(rldEntry(3, 2, 0x1C, 16) + rldEntry(4, 1, 0x1C, 0) + rldEntry(4, 2, 0x1C, 20)),
         end()});
    ASSERT_EQ(r.problems.back(), "");
    vrl::ObjectReader reader(r.image);
    uint32_t counter = 4;
    EXPECT_EQ(reader.normalize(counter), "");
    vrl::EsdItem* priv = r.image.find(1);
    vrl::EsdItem* named = r.image.find(2);
    EXPECT_EQ(priv->name, ebcdic(" PRIV000005"));
    EXPECT_EQ(priv->nameLength, 11u);
    EXPECT_EQ(r.image.find(6)->name, ebcdic(" BLANKCOM"));
    EXPECT_EQ(r.image.find(3)->owner, named);   // ONE: used by S only
    EXPECT_EQ(r.image.find(4)->owner, nullptr); // MANY: used by both
    EXPECT_EQ(r.image.find(7)->owner, priv);    // NONE: unused, the first section's
    EXPECT_EQ(r.image.find(5)->owner, priv);    // X: unused pseudo register
    EXPECT_EQ(priv->sectionAlignment, vrl::kAlignDouble);
    auto names = [](const vrl::EsdItem* s) {
        std::vector<std::string> out;
        for (const vrl::EsdItem* ref : s->refs) out.push_back(ref->name);
        return out;
    };
    EXPECT_EQ(names(priv), (std::vector<std::string>{ebcdic("X"), ebcdic("NONE"), ebcdic("MANY")}));
    EXPECT_EQ(names(named), (std::vector<std::string>{ebcdic("ONE"), ebcdic("MANY")}));

    // A module of references only gets private code to own them.
    r = readCards({esd(1, {er("A")}), end()});
    vrl::ObjectReader alone(r.image);
    counter = 0;
    alone.normalize(counter);
    ASSERT_EQ(r.image.items.size(), 2u);
    EXPECT_TRUE(r.image.items.back()->isPrivate());
    EXPECT_EQ(r.image.items.front()->owner, r.image.items.back().get());
}

TEST(ObjectInput, SymbolData) {
    auto symCard = [](const std::string& data) {
        Card c("SYM");
        c.be16(10, static_cast<unsigned>(data.size())).bytes(16, data);
        return c;
    };
    // Section A, a DSECT item, section B with a long name in two parts.
    std::string data = std::string("\x10\0\0\0", 4) + ebcdic("A");
    data += std::string("\x28\0\0\0", 4);
    data += std::string("\x17\0\0\0", 4) + ebcdic("02000042");
    data += std::string("\x67\x01", 2) + ebcdic("000042") + ebcdic("BBBBBBB");
    data += std::string("\x62\x02", 2) + ebcdic("000042") + ebcdic("CC");
    std::vector<Card> cards;
    for (size_t at = 0; at < data.size(); at += 56) cards.push_back(symCard(data.substr(at, 56)));
    cards.push_back(esd(1, {sd("A", 0, 8)}));
    cards.push_back(xsd(2, "BBBBBBBCC", 9, 1, sd("", 8, 8)));
    cards.push_back(end());
    Read r = readCards(cards);
    ASSERT_EQ(r.problems.back(), "");
    vrl::ObjectReader reader(r.image);
    uint32_t counter = 0;
    EXPECT_EQ(reader.normalize(counter), "");
    EXPECT_EQ(r.image.find(1)->sym.size(), 9u);
    EXPECT_EQ(r.image.find(2)->sym.size(), 12u + 15u + 10u);

    // Inconsistent data is dropped with VRL158W.
    for (const std::string& broken :
         {std::string("\x40\0\0\0", 4), std::string("\x28\0\0\0", 4),
          std::string("\x10\0\0\0", 4) + ebcdic("Z"), std::string("\x10\0\0", 3)}) {
        Read b = readCards({symCard(broken), esd(1, {sd("A", 0, 8)}), end()});
        vrl::ObjectReader rd(b.image);
        EXPECT_EQ(rd.normalize(counter),
                  "VRL158W Object module SYM data discarded because it is invalid.");
        EXPECT_TRUE(b.image.sym.empty());
    }
}

// In a job step: the deck's errors with the card shown, VRL159W for the module, VRL154S at
// the end of the file.
TEST(ObjectInput, InJobStep) {
    TempDir dir;
    const auto esdCard = esd(1, {sd("A", 0, 8)});
    const Card badText = txt(2, 0, ebcdic("12345678"));
    writeFile(dir / "bad.obj", deck({esdCard, badText, end()}));
    writeFile(dir / "short.obj", deck({esdCard, txt(1, 0, "12345678")}));
    writeFile(dir / "xsd.obj", deck({xsd(1, std::string(40, 'A'), 45, 1, sd("", 0, 8))}));
    JobSpec setup;
    setup.syslin = {(dir / "bad.obj").string(), (dir / "short.obj").string(),
                    (dir / "xsd.obj").string()};
    const JobResult r = runJob(dir, setup);
    EXPECT_EQ(r.rc, 12);
    const auto body = r.body();
    ASSERT_GE(body.size(), 10u);
    EXPECT_EQ(body[0].rfind("VRL151S Invalid object module TXT record; SYSLIN record 2 ", 0), 0u);
    EXPECT_EQ(body[1], "         TXT" + std::string(12, ' ') + "12345678");
    EXPECT_EQ(body[2], "        0EEE40004400440"
                       "0FFFFFFFF" +
                           std::string(56, '4'));
    EXPECT_EQ(body[3], "        23730000000800021234567"
                       "8" +
                           std::string(56, '0'));
    EXPECT_EQ(body[4], "VRL159W Object module discarded due to errors.");
    EXPECT_TRUE(r.listed("VRL154S Unexpected end of file while reading SYSLIN: object module END "
                         "record not read PATH=" +
                         (dir / "short.obj").string()) ||
                r.listed("VRL154S Unexpected end of file while reading SYSLIN: object module END "
                         "record not read"));
    EXPECT_EQ(std::count(r.listing.begin(), r.listing.end(),
                         " VRL159W Object module discarded due to errors."),
              3);
}

// The real decks: every one reads without a message, with what the cards themselves say.
TEST(ObjectInput, CorpusDecks) {
    REQUIRE_SHARED(folder, "corpus/obj");
    std::vector<std::filesystem::path> decks;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.path().extension() == ".obj") decks.push_back(e.path());
    ASSERT_GE(decks.size(), 12u);
    for (const auto& path : decks) {
        const std::string bytes = readFile(path);
        ASSERT_EQ(bytes.size() % 80, 0u) << path;
        // What the cards say, module by module, counted here without the reader.
        struct Expected {
            std::map<unsigned, int> types;   // ESD item types
            std::map<unsigned, size_t> text; // TXT bytes per ESDID
            size_t rld = 0;
        };
        std::vector<Expected> expected(1);
        for (size_t at = 0; at < bytes.size(); at += 80) {
            const auto* c = reinterpret_cast<const uint8_t*>(bytes.data() + at);
            const std::string type = bytes.substr(at + 1, 3);
            const unsigned count = c[10] << 8 | c[11];
            Expected& e = expected.back();
            if (type == ebcdic("ESD")) {
                for (unsigned k = 0; k < count / 16; ++k) ++e.types[c[16 + 16 * k + 8]];
            } else if (type == ebcdic("XSD")) {
                if (c[20] == 0 && c[21] == 0 && c[22] == 0 && c[23] == 1) ++e.types[c[24]];
            } else if (type == ebcdic("TXT")) {
                e.text[c[14] << 8 | c[15]] += count;
            } else if (type == ebcdic("RLD")) {
                bool same = false;
                for (unsigned i = 0; i < count;) {
                    const uint8_t flags = c[16 + i + (same ? 0 : 4)];
                    i += same ? 4 : 8;
                    same = flags & 1;
                    ++e.rld;
                }
            } else if (type == ebcdic("END")) {
                expected.emplace_back();
            }
        }
        expected.pop_back();

        size_t module = 0;
        for (size_t at = 0; at < bytes.size(); ++module) {
            vrl::ObjectModule image;
            vrl::ObjectReader reader(image);
            bool end = false;
            for (; at < bytes.size() && !end; at += 80) {
                EXPECT_EQ(reader.record(reinterpret_cast<const uint8_t*>(bytes.data() + at), end),
                          "")
                    << path << " card " << at / 80 + 1;
            }
            ASSERT_TRUE(end) << path;
            ASSERT_LT(module, expected.size()) << path;
            const Expected& e = expected[module];
            std::map<unsigned, int> types;
            size_t rld = 0;
            for (const auto& item : image.items) {
                ++types[item->type];
                rld += item->rld.size();
                if (item->holdsText()) {
                    const auto it = e.text.find(item->esdid);
                    EXPECT_EQ(item->text.bytes(), it == e.text.end() ? 0 : it->second)
                        << path << " section " << item->esdid;
                }
            }
            EXPECT_EQ(types, e.types) << path << " module " << module;
            EXPECT_EQ(rld, e.rld) << path << " module " << module;
            uint32_t counter = 0;
            EXPECT_EQ(reader.normalize(counter), "") << path;
        }
        EXPECT_EQ(module, expected.size()) << path;

        // The same deck links in a job step, without a message of the object reader.
        TempDir dir;
        JobSpec setup;
        setup.parm = "NCAL";
        setup.member = "TEST";
        setup.syslin = {path.string()};
        const JobResult r = runJob(dir, setup);
        EXPECT_FALSE(r.listedPrefix("VRL15")) << path;
        EXPECT_LE(r.rc, 4) << path;
        EXPECT_TRUE(std::filesystem::exists(dir / "load/TEST")) << path;
    }
}
