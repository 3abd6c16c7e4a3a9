// Delink: the sections of a load module written back as object modules, followed by the
// control statements that rebuild the module from them.
//
//    SYM ...                         symbol cards of a TEST module, before their sections
//    ESD  SD MAIN 000000, PC 000148, LD ENTRY2, ER SUB1        one object module per group
//    TXT  ...                        text with every address constant unrelocated again
//    RLD  ...                        the constants, pointing at the object module's ESDIDs
//    END  entry MAIN +000000, translator 5695HLASM 0106 25005
//    ...                             the next group
//     SETSSI 01020304
//     MODE RMODE(ANY),AMODE(31)
//     ALIAS OTHER(ENTRY2)
//     NAME PROG(R)
//
// A group is a control section with the private code that its constants refer to; its
// sections are laid out one after the other from origin 0 in module address order, as a
// translator lays them out, and the linkage editor puts them back where they were.
#include "delink.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "linkedit/obj_format.h"
#include "loadmod_format.h"
#include "runtime.h"

namespace opx {

namespace {

using loadmod::CesdType;

constexpr uint8_t kBlank = 0x40;
constexpr unsigned kStatementColumns = 71;  // columns 1-71; 72 marks a continuation
constexpr unsigned kContinuationColumn = 2; // continued text resumes in column 3

// ---- cards -----------------------------------------------------------------------------------

class Deck {
  public:
    explicit Deck(std::vector<uint8_t>& out) : out_(out) {}
    // An object card of a type: X'02', the type, blanks.
    uint8_t* card(const uint8_t (&type)[3]) {
        const size_t at = out_.size();
        out_.resize(at + obj::kCardLength, kBlank);
        uint8_t* c = out_.data() + at;
        c[0] = obj::kCardId;
        std::memcpy(c + obj::kType, type, 3);
        number(c);
        return c;
    }
    // A card copied as it is, with the next sequence number.
    void copy(const uint8_t* from) {
        const size_t at = out_.size();
        out_.insert(out_.end(), from, from + obj::kCardLength);
        number(out_.data() + at);
    }
    // The card last begun (the pointer stays valid until the next card).
    uint8_t* last() { return out_.data() + out_.size() - obj::kCardLength; }

  private:
    // The sequence number of object cards in columns 73-80, counting from 1 over the deck.
    void number(uint8_t* c) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%.8lu", ++sequence_ % 100000000UL);
        const uint8_t* a2e = rt::asciiToEbcdic();
        for (int i = 0; i < 8; ++i) c[obj::kSequence + i] = a2e[static_cast<uint8_t>(digits[i])];
    }
    std::vector<uint8_t>& out_;
    unsigned long sequence_ = 0;
};

// The name of a CESD entry in workstation characters, up to its first blank.
std::string nameOf(const uint8_t* ebcdic) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    std::string name;
    for (int i = 0; i < 8 && ebcdic[i] != kBlank; ++i)
        name.push_back(static_cast<char>(e2a[ebcdic[i]]));
    return name;
}

bool named(const CesdEntry& e) {
    return e.bytes[loadmod::kEntryName] >= 0x41;
}

// ---- groups ----------------------------------------------------------------------------------

struct DeckSection {
    const CesdEntry* entry;
    uint32_t origin = 0;
    uint16_t esdid = 0;
};

// One other symbol of an object module: a reference, a common or a pseudo register.
struct DeckSymbol {
    uint8_t name[8];
    uint8_t type;    // obj::ItemType
    uint8_t flags;   // the alignment of a pseudo register
    uint32_t length; // of a common or pseudo register
    uint16_t esdid;
};

struct Group {
    std::vector<DeckSection> sections;
    std::vector<DeckSymbol> symbols; // in order of first use
    std::vector<uint8_t> sym;        // symbol cards of its sections
};

// Where a relocation pointer leads within an object module.
struct Target {
    enum Kind { kNone, kSection, kLabel, kOther } kind = kNone;
    const DeckSection* section = nullptr; // kSection, kLabel: the section of the group
    uint32_t objectAddress = 0;           // kSection, kLabel: the target's address in the deck
    uint16_t esdid = 0;                   // the ESDID the RLD card names
    bool vToA = false;                    // a V-type constant that becomes an A-type one
};

class Delinker {
  public:
    Delinker(const LoadModuleImage& image, const std::string& member)
        : m_(image), member_(member), text_(image.text) {}
    std::vector<uint8_t> run();

  private:
    void formGroups();
    void matchSymbolData();
    const DeckSection* sectionOf(const Group& g, uint16_t esdid) const;
    const DeckSection* ownerIn(const Group& g, uint32_t address, uint16_t owner) const;
    uint16_t symbolEsdid(Group& g, const CesdEntry& e, uint8_t type);
    Target target(Group& g, const RelocationItem& item);
    void restore(const DeckSection& s, const RelocationItem& item, const Target& t);
    void writeGroup(Deck& deck, Group& g);
    void writeSetopt();

    const LoadModuleImage& m_;
    std::string member_;
    std::vector<uint8_t> text_; // the module's text, constants unrelocated as groups are written
    std::vector<Group> groups_;
    std::vector<uint8_t> out_;
    bool entryPlaced_ = false;
};

// Groups: each control section starts one, in table order; private code joins the group of
// the first section whose constants refer to it (following references from private code that
// has joined). Private code that no section refers to makes a group of its own, so that no
// section is lost.
void Delinker::formGroups() {
    std::vector<const CesdEntry*> privateCode;
    for (const CesdEntry& e : m_.cesd) {
        if (loadmod::isControlSection(e.type()))
            groups_.push_back(Group{{DeckSection{&e}}, {}, {}});
        else if (e.type() == loadmod::kPC || e.type() == loadmod::kPC2)
            privateCode.push_back(&e);
    }
    auto refersTo = [](const Group& g, uint16_t esdid) {
        for (const DeckSection& s : g.sections)
            for (const RelocationItem& r : s.entry->relocation)
                if (r.relocationPointer == esdid) return true;
        return false;
    };
    bool joined = true;
    while (joined) {
        joined = false;
        for (auto it = privateCode.begin(); it != privateCode.end();) {
            auto g = std::find_if(groups_.begin(), groups_.end(),
                                  [&](const Group& gr) { return refersTo(gr, (*it)->esdid); });
            if (g == groups_.end()) {
                ++it;
                continue;
            }
            g->sections.push_back(DeckSection{*it});
            it = privateCode.erase(it);
            joined = true;
        }
    }
    for (const CesdEntry* pc : privateCode) groups_.push_back(Group{{DeckSection{pc}}, {}, {}});
    // Groups in module address order, and the sections of each in module address order from
    // origin 0, each next one at the previous one's end rounded up to a doubleword.
    for (Group& g : groups_) {
        std::stable_sort(g.sections.begin(), g.sections.end(),
                         [](const DeckSection& a, const DeckSection& b) {
                             return a.entry->address < b.entry->address;
                         });
        uint64_t origin = 0;
        uint16_t esdid = 1;
        for (DeckSection& s : g.sections) {
            s.origin = static_cast<uint32_t>(origin);
            s.esdid = esdid++;
            origin = (origin + s.entry->length + 7) / 8 * 8;
        }
    }
    std::stable_sort(groups_.begin(), groups_.end(), [](const Group& a, const Group& b) {
        return a.sections.front().entry->address < b.sections.front().entry->address;
    });
}

// The symbol cards of a TEST module go before the group of the sections they describe: a
// card belongs to the section of the first section item (type 1 or 3) that begins in it, or
// to that of the card before.
void Delinker::matchSymbolData() {
    if (m_.sym.empty()) return;
    const size_t cards = m_.sym.size() / loadmod::kSymCard;
    Group* current = &groups_.front();
    // Walk the items over the cards' data, as the linkage editor concatenates it.
    std::vector<uint8_t> data;
    std::vector<size_t> cardOf;
    for (size_t c = 0; c < cards; ++c) {
        const uint8_t* card = m_.sym.data() + c * loadmod::kSymCard;
        const unsigned n = std::min<unsigned>(card[11], obj::kMaxData);
        data.insert(data.end(), card + obj::kSymData, card + obj::kSymData + n);
        cardOf.insert(cardOf.end(), n, c);
    }
    std::vector<Group*> owner(cards, nullptr);
    size_t at = 0;
    while (at < data.size()) {
        const uint8_t head = data[at];
        const unsigned type = head >> 4;
        const bool noName = (head & obj::kSymNoName) != 0;
        const size_t nameLength = noName ? 0 : (head & 0x07) + 1u;
        if (type < 1 || type > 3 || data.size() - at < obj::kSymItemHeader + nameLength) break;
        if (type == 1 || type == 3) {
            uint8_t name[8];
            std::memset(name, kBlank, sizeof name);
            std::memcpy(name, data.data() + at + obj::kSymItemHeader, nameLength);
            for (Group& g : groups_)
                for (const DeckSection& s : g.sections)
                    if (noName ? !named(*s.entry)
                               : std::memcmp(s.entry->bytes, name, 8) == 0 && named(*s.entry))
                        current = &g;
            if (owner[cardOf[at]] == nullptr) owner[cardOf[at]] = current;
        }
        at += obj::kSymItemHeader + nameLength;
    }
    Group* last = &groups_.front();
    for (size_t c = 0; c < cards; ++c) {
        if (owner[c] != nullptr) last = owner[c];
        const uint8_t* card = m_.sym.data() + c * loadmod::kSymCard;
        last->sym.insert(last->sym.end(), card, card + loadmod::kSymCard);
    }
}

const DeckSection* Delinker::sectionOf(const Group& g, uint16_t esdid) const {
    for (const DeckSection& s : g.sections)
        if (s.entry->esdid == esdid) return &s;
    return nullptr;
}

// The section of a group that a label reference belongs to.
const DeckSection* Delinker::ownerIn(const Group& g, uint32_t address, uint16_t owner) const {
    if (const DeckSection* s = sectionOf(g, owner)) return s;
    for (const DeckSection& s : g.sections)
        if (address >= s.entry->address && address < uint64_t{s.entry->address} + s.entry->length)
            return &s;
    return nullptr;
}

// The ESDID of a reference, common or pseudo register in a group: a new item on first use.
uint16_t Delinker::symbolEsdid(Group& g, const CesdEntry& e, uint8_t type) {
    for (const DeckSymbol& s : g.symbols)
        if (s.type == type && std::memcmp(s.name, e.bytes, 8) == 0) return s.esdid;
    DeckSymbol s{};
    std::memcpy(s.name, e.bytes, 8);
    s.type = type;
    if (type == obj::kCM || type == obj::kCMQ || type == obj::kXD) s.length = e.length;
    if (type == obj::kXD) {
        // The alignment as stored (0, 1, 3, 7 or 15), doubleword when it is none of those.
        const uint8_t a = e.sectionFlags();
        s.flags = a == 0 || a == 1 || a == 3 || a == 7 || a == 15 ? a : uint8_t{7};
    }
    s.esdid = static_cast<uint16_t>(g.sections.size() + g.symbols.size() + 1);
    g.symbols.push_back(s);
    return s.esdid;
}

// What a relocation item of a group's section refers to in the object module.
Target Delinker::target(Group& g, const RelocationItem& item) {
    Target t;
    const uint8_t kind = item.flags & 0x30;
    const bool relative = (item.flags & 0x74) == 0x70;
    if (loadmod::isCxd(item.flags, item.relocationPointer)) return t; // no target
    const CesdEntry* e = m_.find(item.relocationPointer);
    if (e == nullptr) return t;
    const bool vType = kind == 0x10 && !relative;
    switch (e->type()) {
    case loadmod::kSD:
    case loadmod::kSD2:
    case loadmod::kPC:
    case loadmod::kPC2: {
        const DeckSection* s = sectionOf(g, e->esdid);
        if (s != nullptr && !(vType && named(*e))) {
            t.kind = Target::kSection;
            t.section = s;
            t.objectAddress = s->origin;
            t.esdid = s->esdid;
            t.vToA = vType; // a V-type constant to private code of the group
            return t;
        }
        // A section of another object module is reached by its name.
        t.kind = Target::kOther;
        t.esdid = symbolEsdid(g, *e, obj::kER);
        return t;
    }
    case loadmod::kLR: {
        const DeckSection* s = ownerIn(g, e->address, e->owner);
        if (s != nullptr && !vType) {
            t.kind = Target::kLabel;
            t.section = s;
            t.objectAddress = e->address - s->entry->address + s->origin;
            t.esdid = s->esdid;
            return t;
        }
        t.kind = Target::kOther;
        t.esdid = symbolEsdid(g, *e, obj::kER);
        return t;
    }
    case loadmod::kCM:
    case loadmod::kCM2:
        t.kind = Target::kOther;
        // Commons are defined by the last object module, so that they follow every section as
        // they did in the module; the others, and V-type constants, name them as external
        // symbols.
        if (named(*e) && (vType || &g != &groups_.back())) {
            t.esdid = symbolEsdid(g, *e, obj::kER);
            return t;
        }
        t.esdid = symbolEsdid(g, *e, e->type() == loadmod::kCM2 ? obj::kCMQ : obj::kCM);
        return t;
    case loadmod::kPR:
        t.kind = Target::kOther;
        t.esdid = symbolEsdid(g, *e, obj::kXD);
        return t;
    case loadmod::kWX:
        t.kind = Target::kOther;
        t.esdid = symbolEsdid(g, *e, obj::kWX);
        return t;
    default:
        t.kind = Target::kOther;
        t.esdid = symbolEsdid(g, *e, obj::kER);
        return t;
    }
}

// Restores an address constant to the value a translator wrote: the module address of its
// target taken out, the target's address in the object module put in where the target is part
// of it.
void Delinker::restore(const DeckSection& s, const RelocationItem& item, const Target& t) {
    if (item.flags & loadmod::kRldUnresolved) return; // never relocated
    const unsigned length = loadmod::constantLength(item.flags);
    if (length < 2) return;
    const uint8_t kind = item.flags & 0x30;
    const bool relative = (item.flags & 0x74) == 0x70;
    const bool negative = (item.flags & loadmod::kRldNegative) != 0;
    // The bytes rewritten: 2 and 3 in place, longer constants in their last 4 bytes.
    const unsigned bytes = std::min(length, 4u);
    const uint32_t at = item.address + (length - bytes);
    if (uint64_t{at} + bytes > text_.size()) return;
    uint8_t* p = text_.data() + at;
    uint32_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) value = value << 8 | p[i];
    const CesdEntry* e = m_.find(item.relocationPointer);
    const uint32_t moduleAddress = e != nullptr ? e->address : 0;
    const bool inGroup = t.kind == Target::kSection || t.kind == Target::kLabel;
    if (relative) {
        // The halfword distance from the instruction (2 bytes before the field) changes by half
        // the change of the two addresses.
        const int64_t instructionModule = int64_t{item.address} - 2;
        const int64_t instructionObject = int64_t{item.address} - s.entry->address + s.origin - 2;
        const int64_t targetObject = inGroup ? t.objectAddress : 0;
        const int64_t change =
            (targetObject - instructionObject) - (int64_t{moduleAddress} - instructionModule);
        value = static_cast<uint32_t>(value + change / 2);
    } else if (t.vToA) {
        value = t.objectAddress; // the address of the private code, as an A-type constant
    } else if (kind == 0x10 || kind == 0x30) {
        value = 0; // V-type and cumulative length: the linkage editor fills them in
    } else {
        // A-type: out goes the target's module address, in its address in the object module
        // (none for a symbol of another module). Q-type: out goes the pseudo register's offset.
        const int64_t delta =
            (inGroup && kind == 0x00 ? int64_t{t.objectAddress} : 0) - int64_t{moduleAddress};
        value = static_cast<uint32_t>(value + (negative ? -delta : delta));
    }
    for (unsigned i = 0; i < bytes; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

// A translator item of the load module (translator 10, version and modification one packed
// byte each, date yyddd packed in 3 bytes) as an END card writes it (19 characters).
void translatorItem(const uint8_t* in, uint8_t* out) {
    std::memcpy(out, in, 10);
    auto digit = [](unsigned d) { return static_cast<uint8_t>(0xF0 + (d > 9 ? 0 : d)); };
    out[10] = digit(in[10] >> 4);
    out[11] = digit(in[10] & 0x0F);
    out[12] = digit(in[11] >> 4);
    out[13] = digit(in[11] & 0x0F);
    out[14] = digit(in[12] >> 4);
    out[15] = digit(in[12] & 0x0F);
    out[16] = digit(in[13] >> 4);
    out[17] = digit(in[13] & 0x0F);
    out[18] = digit(in[14] >> 4);
}

void Delinker::writeGroup(Deck& deck, Group& g) {
    // Relocation first: it names the symbols and restores the constants.
    struct Item {
        uint16_t r, p;
        uint8_t flags;
        uint32_t address;
    };
    std::vector<Item> items;
    if (&g == &groups_.front())
        for (const CesdEntry& e : m_.cesd)
            if (e.type() == loadmod::kPR) symbolEsdid(g, e, obj::kXD);
    for (const DeckSection& s : g.sections) {
        for (const RelocationItem& r : s.entry->relocation) {
            const Target t = target(g, r);
            restore(s, r, t);
            uint8_t flags = r.flags & static_cast<uint8_t>(~(loadmod::kRldUnresolved | 0x01));
            if (t.vToA) flags &= 0x4F;
            items.push_back({t.esdid, s.esdid, flags, r.address - s.entry->address + s.origin});
        }
    }

    // Commons and pseudo registers belong to the module whether or not a constant refers to
    // them: the last object module defines the commons, after its sections; the first defines
    // the pseudo registers in the order of their offsets, which the linkage editor then gives
    // them again.
    if (&g == &groups_.back())
        for (const CesdEntry& e : m_.cesd)
            if (e.type() == loadmod::kCM || e.type() == loadmod::kCM2)
                symbolEsdid(g, e, e.type() == loadmod::kCM2 ? obj::kCMQ : obj::kCM);

    for (size_t c = 0; c + obj::kCardLength <= g.sym.size(); c += obj::kCardLength)
        deck.copy(g.sym.data() + c);

    // ESD: the sections, the labels they own, the other symbols in order of first use.
    std::vector<std::array<uint8_t, 16>> esd;
    std::vector<bool> takesEsdid;
    for (const DeckSection& s : g.sections) {
        std::array<uint8_t, 16> item;
        item.fill(kBlank);
        const CesdEntry& e = *s.entry;
        if (named(e)) std::memcpy(item.data(), e.bytes, 8);
        switch (e.type()) {
        case loadmod::kSD2:
            item[8] = obj::kSDQ;
            break;
        case loadmod::kPC:
            item[8] = obj::kPC;
            break;
        case loadmod::kPC2:
            item[8] = obj::kPCQ;
            break;
        default:
            item[8] = obj::kSD;
            break;
        }
        obj::put24(item.data() + 9, s.origin);
        // Residence and addressing modes: RMODE ANY (or 64), and the AMODE when one is given.
        const uint8_t f = e.sectionFlags();
        item[12] = static_cast<uint8_t>(((f & 0x10) ? (f & 0x03) : 0) |
                                        ((f & 0x24) ? obj::kFlagRmodeAny : 0));
        obj::put24(item.data() + 13, e.length);
        esd.push_back(item);
        takesEsdid.push_back(true);
    }
    for (const CesdEntry& e : m_.cesd) {
        if (e.type() != loadmod::kLR) continue;
        const DeckSection* s = ownerIn(g, e.address, e.owner);
        if (s == nullptr || !named(e)) continue;
        std::array<uint8_t, 16> item;
        item.fill(kBlank);
        std::memcpy(item.data(), e.bytes, 8);
        item[8] = obj::kLD;
        obj::put24(item.data() + 9, e.address - s->entry->address + s->origin);
        item[12] = 0;
        obj::put24(item.data() + 13, s->esdid);
        esd.push_back(item);
        takesEsdid.push_back(false);
    }
    for (const DeckSymbol& s : g.symbols) {
        std::array<uint8_t, 16> item;
        item.fill(kBlank);
        std::memcpy(item.data(), s.name, 8);
        item[8] = s.type;
        obj::put24(item.data() + 9, 0);
        if (s.type == obj::kER || s.type == obj::kWX) {
            item[12] = kBlank;
        } else {
            item[12] = s.type == obj::kXD ? s.flags : uint8_t{0};
            obj::put24(item.data() + 13, s.length);
        }
        esd.push_back(item);
        takesEsdid.push_back(true);
    }
    uint16_t nextEsdid = 1;
    for (size_t i = 0; i < esd.size(); i += 3) {
        uint8_t* c = deck.card(obj::kEsdType);
        const size_t n = std::min<size_t>(3, esd.size() - i);
        obj::put16(c + obj::kEsdCount, static_cast<unsigned>(n * obj::kEsdItemLength));
        bool any = false;
        for (size_t k = 0; k < n; ++k) {
            std::memcpy(c + obj::kEsdItems + k * obj::kEsdItemLength, esd[i + k].data(), 16);
            if (takesEsdid[i + k] && !any) {
                obj::put16(c + obj::kEsdFirstId, nextEsdid);
                any = true;
            }
            if (takesEsdid[i + k]) ++nextEsdid;
        }
    }

    // TXT: the text of each section, 56 bytes a card.
    for (const DeckSection& s : g.sections) {
        const uint32_t length = s.entry->length;
        for (uint32_t off = 0; off < length; off += obj::kMaxData) {
            const uint32_t n = std::min<uint32_t>(obj::kMaxData, length - off);
            if (uint64_t{s.entry->address} + off + n > text_.size()) break;
            uint8_t* c = deck.card(obj::kTxtType);
            obj::put24(c + obj::kTxtAddress, s.origin + off);
            obj::put16(c + obj::kTxtCount, n);
            obj::put16(c + obj::kTxtEsdid, s.esdid);
            std::memcpy(c + obj::kTxtData, text_.data() + s.entry->address + off, n);
        }
    }

    // RLD: items of one section together; an item with the pointers and constant type of the
    // item before it on the card takes the short form, the one before marked.
    uint8_t* card = nullptr;
    unsigned fill = 0;
    const Item* previous = nullptr;
    uint8_t* previousFlags = nullptr;
    for (const Item& it : items) {
        const bool same = card != nullptr && previous != nullptr && previous->r == it.r &&
                          previous->p == it.p && (previous->flags & 0x30) == (it.flags & 0x30);
        if (same && fill + obj::kRldShortEntry <= obj::kMaxData) {
            *previousFlags |= obj::kRldSamePointers;
            uint8_t* d = card + obj::kRldData + fill;
            d[0] = it.flags;
            obj::put24(d + 1, it.address);
            previousFlags = d;
            fill += obj::kRldShortEntry;
        } else {
            if (card == nullptr || fill + obj::kRldEntry > obj::kMaxData) {
                card = deck.card(obj::kRldType);
                fill = 0;
            }
            uint8_t* d = card + obj::kRldData + fill;
            obj::put16(d, it.r);
            obj::put16(d + 2, it.p);
            d[4] = it.flags;
            obj::put24(d + 5, it.address);
            previousFlags = d + 4;
            fill += obj::kRldEntry;
        }
        obj::put16(card + obj::kRldCount, fill);
        // The rest of the card's data area is zero, as translators leave it.
        std::memset(card + obj::kRldData + fill, 0, obj::kMaxData - fill);
        previous = &it;
    }

    // END: the entry point when it lies in one of the sections; the translators of the first.
    uint8_t* c = deck.card(obj::kEndType);
    const uint32_t entry = m_.info.entryPoint;
    if (!entryPlaced_) {
        for (const DeckSection& s : g.sections) {
            if (entry < s.entry->address || entry >= uint64_t{s.entry->address} + s.entry->length)
                continue;
            obj::put24(c + obj::kEndAddress, entry - s.entry->address + s.origin);
            obj::put16(c + obj::kEndEsdid, s.esdid);
            entryPlaced_ = true;
            break;
        }
    }
    const CesdEntry& first = *g.sections.front().entry;
    const unsigned count = std::min<unsigned>(first.translatorCount, 2);
    if (count > 0) {
        c[obj::kEndIdCount] = static_cast<uint8_t>(0xF0 + count);
        for (unsigned i = 0; i < count; ++i)
            translatorItem(first.translator[i], c + obj::kEndIdItems + i * obj::kEndIdItemLength);
    }
}

// Reusability and the attributes that go with it, before the object modules.
void Delinker::writeSetopt() {
    const uint32_t f = m_.info.flags;
    if (!(f & (DE_REFR | DE_RENT | DE_REUS | DE_SCTR | DE_ONLY | DE_TEST))) return;
    std::string s = " SETOPT PARM(REUS=";
    s += (f & DE_REFR) ? "REFR" : (f & DE_RENT) ? "RENT" : (f & DE_REUS) ? "SERIAL" : "NONE";
    if (f & DE_TEST) s += ",TEST";
    if (f & DE_SCTR) s += ",SCTR";
    if (f & DE_ONLY) s += ",OL";
    statementCards(s + ")", out_);
}

std::vector<uint8_t> Delinker::run() {
    writeSetopt();
    formGroups();
    if (!groups_.empty()) matchSymbolData();
    {
        Deck deck(out_);
        for (Group& g : groups_) writeGroup(deck, g);
    }
    const DirectoryEntryInfo& info = m_.info;
    const uint32_t f = info.flags;
    auto put = [this](const std::string& text) { statementCards(text, out_); };
    // 3. Never-call references, identification data, page alignment.
    for (const CesdEntry& e : m_.cesd) {
        const uint8_t type = e.type();
        const std::string name = nameOf(e.bytes);
        if ((type == loadmod::kER || type == loadmod::kWX) &&
            (e.bytes[loadmod::kEntryErFlags] & loadmod::kNeverCall) == loadmod::kNeverCall)
            put(" LIBRARY *(" + name + ")");
        if (loadmod::isSection(type) && named(e) && e.identifyLength > 0) {
            const uint8_t* e2a = rt::ebcdicToAscii();
            std::string data;
            for (unsigned i = 0; i < e.identifyLength; ++i) {
                const char ch = static_cast<char>(e2a[e.identify[i]]);
                data += ch;
                if (ch == '\'') data += '\''; // quotes doubled inside the quoted string
            }
            put(" IDENTIFY " + name + "('" + data + "')");
        }
        if (loadmod::isSection(type) && named(e) && (f & DE_PAGE_ALIGNED) && e.address % 4096 == 0)
            put(" PAGE " + name);
    }
    // 4. System status index and authorization code.
    char buffer[64];
    if (f & DE_SSI) {
        std::snprintf(buffer, sizeof buffer, " SETSSI %.2X%.2X%.2X%.2X", info.ssi[0], info.ssi[1],
                      info.ssi[2], info.ssi[3]);
        put(buffer);
    }
    if (f & DE_APF) {
        std::snprintf(buffer, sizeof buffer, " SETCODE AC(%u)", f & 0xFFu);
        put(buffer);
    }
    // 5. Residence and addressing mode.
    std::string mode = " MODE RMODE(";
    mode += (f & DE_RMODE_ANY) ? "ANY)" : "24)";
    switch ((f & DE_AMODE_MASK) >> 10) {
    case 1:
        mode += ",AMODE(64)";
        break;
    case 2:
        mode += ",AMODE(31)";
        break;
    case 3:
        mode += ",AMODE(ANY)";
        break;
    default:
        break;
    }
    put(mode);
    // 6. An entry point at the start of a control section that no END card gave.
    if (!entryPlaced_) {
        for (const CesdEntry& e : m_.cesd)
            if (loadmod::isControlSection(e.type()) && e.address == info.entryPoint) {
                put(" ENTRY " + nameOf(e.bytes));
                break;
            }
    }
    // 7. Aliases, with the symbol at their entry point when it bears another name.
    for (const AliasEntry& a : m_.aliases) {
        const CesdEntry* symbol = nullptr;
        for (const CesdEntry& e : m_.cesd)
            if (std::memcmp(e.bytes, a.ebcdicName, 8) == 0 && e.type() != loadmod::kER &&
                e.type() != loadmod::kWX)
                symbol = &e;
        for (const CesdEntry& e : m_.cesd)
            if (symbol == nullptr && e.type() == loadmod::kLR && e.address == a.entryPoint)
                symbol = &e;
        for (const CesdEntry& e : m_.cesd)
            if (symbol == nullptr && loadmod::isSection(e.type()) && e.length > 0 &&
                e.address == a.entryPoint && named(e))
                symbol = &e;
        for (const CesdEntry& e : m_.cesd)
            if (symbol == nullptr && loadmod::isSection(e.type()) && e.address == a.entryPoint &&
                named(e))
                symbol = &e;
        // The symbol is named when it bears another name, and also when it bears the alias's
        // own name but the alias is not entered at the module's entry point: the linkage editor
        // gives an alias without a symbol the module's entry point.
        std::string s = " ALIAS " + a.name;
        if (symbol != nullptr &&
            (std::memcmp(symbol->bytes, a.ebcdicName, 8) != 0 || a.entryPoint != info.entryPoint))
            s += "(" + nameOf(symbol->bytes) + ")";
        put(s);
    }
    // 8. The module's name.
    put(" NAME " + member_ + "(R)");
    return std::move(out_);
}

} // namespace

void statementCards(const std::string& text, std::vector<uint8_t>& deck) {
    const uint8_t* a2e = rt::asciiToEbcdic();
    size_t at = 0;
    bool first = true;
    do {
        const size_t start = deck.size();
        deck.resize(start + obj::kCardLength, kBlank);
        uint8_t* c = deck.data() + start;
        const size_t column = first ? 0 : kContinuationColumn;
        const size_t n = std::min(text.size() - at, kStatementColumns - column);
        for (size_t i = 0; i < n; ++i) c[column + i] = a2e[static_cast<uint8_t>(text[at + i])];
        at += n;
        if (at < text.size()) c[kStatementColumns] = a2e[static_cast<uint8_t>('X')];
        first = false;
    } while (at < text.size());
}

std::vector<uint8_t> delinkModule(const LoadModuleImage& image, const std::string& member) {
    return Delinker(image, member).run();
}

} // namespace opx
