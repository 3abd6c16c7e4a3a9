// The saved member: a laid-out module written as one workstation file of SYSLMOD, in the
// format its COMPAT level asks for, replacing an old member only when everything was written.
//
//   LMF       load-module records (SYM, CESD, scatter, IDR, control, text, RLD), each behind a
//             2-byte length
//   LKED      the 256-byte header with the directory entry, an "LM" descriptor, the records
//   TEXTONLY  the module's text alone
//   PM1, PM2, MIN  the header, an "LD" descriptor, segment, class, text and relocation
//             tables, then the text
//
//    VRL020I PROG has been added with AMODE=31 and RMODE=ANY as file "/work/load/PROG".
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "loadmod_format.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "resolution.h"
#include "runtime.h"
#include "unload_format.h"

namespace vrl {

namespace {

using obj::put16;
using obj::put24;
using obj::put32;

constexpr unsigned kMaxRldData = 240;
constexpr unsigned kMaxCesdEntries = 15;
constexpr unsigned kMaxIdrData = 250;
constexpr unsigned kMaxScatterData = 1024;

// Program object descriptor and tables.
constexpr unsigned kLdLength = 64;
constexpr unsigned kSegmentEntry = 0x20, kClassEntry = 0x30, kTextEntry = 0x20,
                   kRelocationEntry = 0x10;

using Bytes = std::vector<uint8_t>;

// The save time and the texts and packed fields made from it.
struct Stamp {
    int t[6] = {};
    int dayOfYear = 1;
    std::string text; // YYYYMMDDhhmmss
    uint8_t date[3] = {};
    uint8_t time[4] = {};
};

Stamp stamp() {
    Stamp s;
    takeTime(s.t);
    std::tm tm{};
    tm.tm_year = s.t[0] - 1900;
    tm.tm_mon = s.t[1] - 1;
    tm.tm_mday = s.t[2];
    tm.tm_hour = 12;
    const std::time_t when = platform::fromUtc(tm);
    std::tm back{};
    platform::utcTime(when, back);
    s.dayOfYear = back.tm_yday + 1;
    s.text = format("%d%.2d%.2d%.2d%.2d%.2d", s.t[0], s.t[1], s.t[2], s.t[3], s.t[4], s.t[5]);
    // Packed decimal: X'YYDDDF' and X'0HHMMSSF'.
    const int yy = s.t[0] % 100, ddd = s.dayOfYear;
    s.date[0] = static_cast<uint8_t>((yy / 10) << 4 | yy % 10);
    s.date[1] = static_cast<uint8_t>((ddd / 100) << 4 | (ddd / 10) % 10);
    s.date[2] = static_cast<uint8_t>((ddd % 10) << 4 | 0x0F);
    const int h = s.t[3], mi = s.t[4], se = s.t[5];
    s.time[0] = static_cast<uint8_t>(h / 10);
    s.time[1] = static_cast<uint8_t>((h % 10) << 4 | mi / 10);
    s.time[2] = static_cast<uint8_t>((mi % 10) << 4 | se / 10);
    s.time[3] = static_cast<uint8_t>((se % 10) << 4 | 0x0F);
    return s;
}

// An 8-byte EBCDIC name field, blank-padded (longer names are cut).
void putName(uint8_t* p, const std::string& name) {
    std::memset(p, obj::kEbcdicBlank, 8);
    std::memcpy(p, name.data(), std::min<size_t>(8, name.size()));
}

uint8_t amodeBits(int amode) {
    switch (amode) {
    case kMode31:
        return 2;
    case kModeAny:
        return 3;
    case kMode64:
        return 1;
    default:
        return 0;
    }
}

// CESD section flags: AMODE given (X'10') with its value, RMODE ANY (X'04').
uint8_t sectionFlags(const Element& e) {
    uint8_t f = 0x10;
    f |= e.amode == kMode31 ? 2 : e.amode == kModeAny ? 3 : e.amode == kMode64 ? 0 : 1;
    if (e.rmode == kModeAny) f |= 0x04;
    if (e.amode == kMode64) f |= 0x20;
    return f;
}

// The records of a load module and what the directory entry needs to know of them.
struct LoadModule {
    std::vector<Bytes> records;
    size_t firstText = 0; // 1-based record number of the first text record
    uint32_t firstTextLength = 0;
    bool anyRld = false;
    bool symWritten = false;
    uint16_t scatterList = 0, translationTable = 0;
    uint16_t firstTextEsdid = 0, entryEsdid = 0;
    uint32_t largest = 0;
};

// The external symbols of the module as numbered in its CESD.
struct Cesd {
    struct Entry {
        uint8_t bytes[16];
    };
    std::vector<Entry> entries; // ESDID = index + 1
    std::unordered_map<const Element*, uint16_t> elements;
    std::unordered_map<const Label*, uint16_t> labels;
    std::unordered_map<const Symbol*, uint16_t> missing;
    std::unordered_map<const PseudoRegister*, uint16_t> registers;
    std::vector<const Element*> sections; // in ESDID order

    uint16_t add(const std::string& name, uint8_t type, uint32_t address, uint8_t flags) {
        Entry e{};
        putName(e.bytes, name);
        e.bytes[loadmod::kEntryType] = type;
        put24(e.bytes + loadmod::kEntryAddress, address);
        e.bytes[loadmod::kEntrySectionFlags] = flags;
        entries.push_back(e);
        return static_cast<uint16_t>(entries.size());
    }
    uint8_t* bytes(uint16_t esdid) { return entries[esdid - 1u].bytes; }
};

Cesd buildCesd(const Module& m) {
    Cesd c;
    for (const auto& cls : m.classes) {
        if (cls->segment == 0) continue;
        for (const Element* e : cls->elements) {
            const Section& s = *e->section;
            const bool first = e == s.text();
            const uint8_t type = s.common                    ? loadmod::kCM
                                 : (s.privateCode || !first) ? loadmod::kPC
                                                             : loadmod::kSD;
            const std::string name = (s.privateCode || !first) ? std::string() : s.name;
            const uint16_t id =
                c.add(name, type, static_cast<uint32_t>(e->moduleOffset()), sectionFlags(*e));
            put24(c.bytes(id) + loadmod::kEntryLength, static_cast<uint32_t>(e->length));
            c.elements[e] = id;
            c.sections.push_back(e);
        }
    }
    for (const auto& cls : m.classes)
        for (const Element* e : cls->elements)
            for (const Label* l : e->labels) {
                if (l->symbol->label != l) continue;
                const uint16_t id = c.add(l->symbol->name, loadmod::kLR,
                                          static_cast<uint32_t>(e->moduleOffset() + l->offset),
                                          static_cast<uint8_t>(0x10 | amodeBits(l->amode)));
                put16(c.bytes(id) + loadmod::kEntryOwner, c.elements[e]);
                c.labels[l] = id;
            }
    for (const auto& pr : m.pseudoRegisters) {
        const uint16_t id =
            c.add(pr->symbol->name, loadmod::kPR, static_cast<uint32_t>(pr->offset), pr->alignment);
        put24(c.bytes(id) + loadmod::kEntryLength, static_cast<uint32_t>(pr->length));
        c.registers[pr.get()] = id;
    }
    for (const auto& s : m.symbols) {
        if (s->defined() || s->refs.empty()) continue;
        const uint16_t id =
            c.add(s->name, (s->flags & kWeakOnly) ? loadmod::kWX : loadmod::kER, 0, 0);
        std::memset(c.bytes(id) + 12, 0, 4);
        if (s->flags & kNeverCall) c.bytes(id)[loadmod::kEntryErFlags] = loadmod::kNeverCall;
        c.missing[s.get()] = id;
    }
    return c;
}

// The CESD entry a constant points at (0 for a cumulative length).
uint16_t relocationPointer(const Cesd& c, const Relocation& r) {
    auto find = [](const auto& map, const auto* key) -> uint16_t {
        const auto it = map.find(key);
        return it == map.end() ? 0 : it->second;
    };
    if (r.kind == ConstantKind::kCxd) return 0;
    if (r.kind == ConstantKind::kQ)
        return r.symbol != nullptr && r.symbol->pseudoRegister != nullptr
                   ? find(c.registers, r.symbol->pseudoRegister)
                   : 0;
    if (r.element != nullptr && !r.element->section->deleted) return find(c.elements, r.element);
    if (r.symbol == nullptr) return 0;
    if (r.symbol->section != nullptr && !r.symbol->section->deleted)
        return find(c.elements, r.symbol->section->text());
    if (r.symbol->label != nullptr) return find(c.labels, r.symbol->label);
    return find(c.missing, r.symbol);
}

Bytes controlRecord(uint8_t id, size_t controlLength, size_t rldLength) {
    Bytes r(16, 0);
    r[0] = id;
    put16(r.data() + loadmod::kCtlControlLength, static_cast<unsigned>(controlLength));
    put16(r.data() + loadmod::kCtlRelocationLength, static_cast<unsigned>(rldLength));
    return r;
}

// The IDR records of one block (subtype), the last marked.
void idrBlock(std::vector<Bytes>& out, uint8_t subtype, const Bytes& data) {
    if (data.empty()) return;
    for (size_t at = 0; at < data.size(); at += kMaxIdrData) {
        const size_t n = std::min<size_t>(kMaxIdrData, data.size() - at);
        Bytes r(3 + n);
        r[0] = loadmod::kIdr;
        r[1] = static_cast<uint8_t>(r.size() - 1);
        r[2] = static_cast<uint8_t>(subtype | (at + n == data.size() ? loadmod::kIdrLast : 0));
        std::memcpy(r.data() + 3, data.data() + at, n);
        out.push_back(std::move(r));
    }
}

// A translator item of an END record (translator 10, version and modification as EBCDIC
// digits, date yyddd) as the 15 bytes of an IDR entry: version and modification packed in a
// byte each, the date as X'YYDDDF'.
void translatorEntry(const uint8_t* item, Bytes& out) {
    out.insert(out.end(), item, item + 10);
    auto digit = [&](unsigned i) { return static_cast<uint8_t>(item[i] & 0x0F); };
    out.push_back(static_cast<uint8_t>(digit(10) << 4 | digit(11)));
    out.push_back(static_cast<uint8_t>(digit(12) << 4 | digit(13)));
    out.push_back(static_cast<uint8_t>(digit(14) << 4 | digit(15)));
    out.push_back(static_cast<uint8_t>(digit(16) << 4 | digit(17)));
    out.push_back(static_cast<uint8_t>(digit(18) << 4 | 0x0F));
}

LoadModule buildLoadModule(Job& job, Module& m, const Stamp& st, uint32_t blockSize) {
    LoadModule lm;
    Cesd cesd = buildCesd(m);

    // Symbol records: the symbol cards of each section, then ESD cards of the sections,
    // labels and pseudo registers, three cards a record.
    if (job.options.on(kTest)) {
        std::vector<Bytes> cards;
        for (const Element* e : cesd.sections)
            for (size_t at = 0; at < e->sym.size(); at += obj::kMaxData) {
                const size_t n = std::min<size_t>(obj::kMaxData, e->sym.size() - at);
                Bytes card(obj::kCardLength, obj::kEbcdicBlank);
                card[0] = obj::kCardId;
                std::memcpy(card.data() + 1, obj::kSymType, 3);
                put16(card.data() + obj::kSymCount, static_cast<unsigned>(n));
                std::memcpy(card.data() + obj::kSymData, e->sym.data() + at, n);
                cards.push_back(std::move(card));
            }
        if (!cards.empty()) {
            std::vector<const Cesd::Entry*> items;
            for (const Cesd::Entry& e : cesd.entries)
                if (e.bytes[loadmod::kEntryType] != loadmod::kER &&
                    e.bytes[loadmod::kEntryType] != loadmod::kWX)
                    items.push_back(&e);
            for (size_t at = 0; at < items.size(); at += 3) {
                Bytes card(obj::kCardLength, obj::kEbcdicBlank);
                card[0] = obj::kCardId;
                std::memcpy(card.data() + 1, obj::kEsdType, 3);
                const size_t n = std::min<size_t>(3, items.size() - at);
                put16(card.data() + obj::kEsdCount, static_cast<unsigned>(n * 16));
                put16(card.data() + obj::kEsdFirstId, static_cast<unsigned>(at + 1));
                for (size_t k = 0; k < n; ++k) {
                    uint8_t* item = card.data() + obj::kEsdItems + 16 * k;
                    std::memcpy(item, items[at + k]->bytes, 16);
                    // Label references are LD items in an ESD card.
                    if (item[obj::kItemType] == loadmod::kLR) {
                        item[obj::kItemType] = obj::kLD;
                        put24(item + obj::kItemLength, obj::be16(items[at + k]->bytes + 14));
                    }
                }
                cards.push_back(std::move(card));
            }
            for (size_t at = 0; at < cards.size(); at += 3) {
                const size_t n = std::min<size_t>(3, cards.size() - at);
                Bytes r(loadmod::kSymData);
                r[0] = loadmod::kSym;
                put16(r.data() + loadmod::kSymLength, static_cast<unsigned>(n * obj::kCardLength));
                for (size_t k = 0; k < n; ++k)
                    r.insert(r.end(), cards[at + k].begin(), cards[at + k].end());
                lm.records.push_back(std::move(r));
            }
            lm.symWritten = true;
        }
    }

    // CESD records.
    for (size_t at = 0; at < cesd.entries.size(); at += kMaxCesdEntries) {
        const size_t n = std::min<size_t>(kMaxCesdEntries, cesd.entries.size() - at);
        Bytes r(loadmod::kCesdEntries + n * loadmod::kCesdEntrySize);
        r[0] = loadmod::kCesd;
        r[loadmod::kCesdFlags] = 0x80;
        put16(r.data() + loadmod::kCesdFirstEsdid, static_cast<unsigned>(at + 1));
        put16(r.data() + loadmod::kCesdDataLength,
              static_cast<unsigned>(n * loadmod::kCesdEntrySize));
        for (size_t k = 0; k < n; ++k)
            std::memcpy(r.data() + loadmod::kCesdEntries + k * loadmod::kCesdEntrySize,
                        cesd.entries[at + k].bytes, loadmod::kCesdEntrySize);
        lm.records.push_back(std::move(r));
    }

    // Scatter list (section lengths) and translation table (ESDID to scatter list index).
    if (m.flags & kModScatter) {
        Bytes list, table;
        std::vector<uint16_t> index(cesd.entries.size(), 0xFFFF);
        for (size_t i = 0; i < cesd.sections.size(); ++i) {
            Bytes v(4);
            put32(v.data(), static_cast<uint32_t>((cesd.sections[i]->length + 7) & ~uint64_t{7}));
            list.insert(list.end(), v.begin(), v.end());
            index[cesd.elements[cesd.sections[i]] - 1u] = static_cast<uint16_t>(i);
        }
        for (uint16_t v : index)
            table.push_back(static_cast<uint8_t>(v >> 8)), table.push_back(static_cast<uint8_t>(v));
        while (list.size() + table.size() < loadmod::kScatterMinData) table.push_back(0xFF);
        lm.scatterList = static_cast<uint16_t>(list.size());
        lm.translationTable = static_cast<uint16_t>(table.size());
        Bytes data = list;
        data.insert(data.end(), table.begin(), table.end());
        for (size_t at = 0; at < data.size();) {
            size_t n = std::min<size_t>(kMaxScatterData, data.size() - at);
            if (data.size() - at - n > 0 && data.size() - at - n < loadmod::kScatterMinData)
                n -= loadmod::kScatterMinData;
            Bytes r(loadmod::kScatterData + n);
            r[0] = loadmod::kScatter;
            put16(r.data() + loadmod::kScatterLength, static_cast<unsigned>(n));
            std::memcpy(r.data() + loadmod::kScatterData, data.data() + at, n);
            lm.records.push_back(std::move(r));
            at += n;
        }
        lm.firstTextEsdid = cesd.sections.empty() ? 0 : 1;
    }

    // IDR records: the linkage editor, the translators, IDENTIFY data.
    const std::string program = toEbcdic("5695DF108 ");
    Bytes linkEdit(program.begin(), program.end());
    linkEdit.push_back(0x01);
    linkEdit.push_back(0x04);
    linkEdit.insert(linkEdit.end(), st.date, st.date + 3);
    linkEdit.insert(linkEdit.end(), st.time, st.time + 4);
    idrBlock(lm.records, loadmod::kIdrLinkEdit, linkEdit);
    Bytes translators;
    for (size_t i = 0; i < cesd.sections.size(); ++i) {
        const Element* e = cesd.sections[i];
        const Section& s = *e->section;
        if (e != s.text() || s.identificationCount == 0 || s.common) continue;
        const uint16_t id = cesd.elements[e];
        translators.push_back(static_cast<uint8_t>((id >> 8) | 0x80));
        translators.push_back(static_cast<uint8_t>(id));
        translators.push_back(static_cast<uint8_t>(s.identificationCount - 1));
        for (unsigned k = 0; k < s.identificationCount; ++k)
            translatorEntry(s.identification + k * obj::kEndIdItemLength, translators);
    }
    idrBlock(lm.records, loadmod::kIdrTranslator, translators);
    Bytes identify;
    for (const Element* e : cesd.sections) {
        const Section& s = *e->section;
        if (e != s.text() || s.identify.empty() || s.common || s.privateCode) continue;
        const size_t n = std::min<size_t>(loadmod::kMaxIdentify, s.identify.size());
        const uint16_t id = cesd.elements[e];
        identify.push_back(static_cast<uint8_t>(id >> 8));
        identify.push_back(static_cast<uint8_t>(id));
        identify.insert(identify.end(), st.date, st.date + 3);
        identify.push_back(static_cast<uint8_t>(n));
        identify.insert(identify.end(), s.identify.begin(),
                        s.identify.begin() + static_cast<long>(n));
    }
    idrBlock(lm.records, loadmod::kIdrIdentify, identify);

    // Text in records of at most the block size, each announced by a control record that
    // names the sections in it; the relocation data of each text record follows it.
    struct Item {
        uint32_t address;
        uint16_t r, p;
        uint8_t flags;
    };
    std::vector<Item> items;
    for (const Element* e : cesd.sections)
        for (const Relocation& r : e->rld) {
            Item it;
            it.address = static_cast<uint32_t>(e->moduleOffset() + r.offset);
            it.r = relocationPointer(cesd, r);
            it.p = cesd.elements[e];
            it.flags =
                static_cast<uint8_t>((r.flags & ~obj::kRldSamePointers) |
                                     (r.unresolved && r.kind != ConstantKind::kCxd ? 0x80 : 0));
            items.push_back(it);
        }
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.address < b.address; });
    lm.anyRld = !items.empty();
    const Bytes& text = m.image[1];
    const uint32_t chunk = std::max<uint32_t>(8, blockSize);
    size_t nextItem = 0;
    size_t lastControl = 0;
    for (size_t at = 0; at < text.size(); at += chunk) {
        const size_t n = std::min<size_t>(chunk, text.size() - at);
        Bytes control;
        for (const Element* e : cesd.sections) {
            const uint64_t from = std::max<uint64_t>(e->moduleOffset(), at);
            const uint64_t to = std::min<uint64_t>(e->moduleOffset() + e->length, at + n);
            if (e->length == 0 || from >= to || e->section->common) continue;
            Bytes d(4);
            put16(d.data(), cesd.elements[e]);
            put16(d.data() + 2, static_cast<unsigned>(to - from));
            control.insert(control.end(), d.begin(), d.end());
        }
        Bytes r = controlRecord(loadmod::kTextFollows, control.size(), 0);
        r[loadmod::kCtlCcw] = 0x06;
        put24(r.data() + loadmod::kCtlTextAddress, static_cast<uint32_t>(at));
        put16(r.data() + 14, static_cast<unsigned>(n));
        r.insert(r.end(), control.begin(), control.end());
        lm.records.push_back(std::move(r));
        lastControl = lm.records.size() - 1;
        lm.records.emplace_back(text.begin() + static_cast<long>(at),
                                text.begin() + static_cast<long>(at + n));
        if (lm.firstText == 0) {
            lm.firstText = lm.records.size();
            lm.firstTextLength = static_cast<uint32_t>(n);
        }
        // The relocation items of this text, in RLD records of at most 240 bytes.
        Bytes rld;
        auto flush = [&] {
            if (rld.empty()) return;
            Bytes c = controlRecord(loadmod::kRelocationPresent, 0, rld.size());
            c.insert(c.end(), rld.begin(), rld.end());
            lm.records.push_back(std::move(c));
            lastControl = lm.records.size() - 1;
            rld.clear();
        };
        const size_t end = at + n;
        while (nextItem < items.size() && items[nextItem].address < end) {
            const Item& it = items[nextItem];
            const bool same = !rld.empty() && it.r == items[nextItem - 1].r &&
                              it.p == items[nextItem - 1].p && rld.size() + 4 <= kMaxRldData;
            if (!same && rld.size() + 8 > kMaxRldData) flush();
            if (same) {
                rld[rld.size() - 4] |= obj::kRldSamePointers;
            } else {
                rld.push_back(static_cast<uint8_t>(it.r >> 8));
                rld.push_back(static_cast<uint8_t>(it.r));
                rld.push_back(static_cast<uint8_t>(it.p >> 8));
                rld.push_back(static_cast<uint8_t>(it.p));
            }
            rld.push_back(it.flags);
            rld.push_back(static_cast<uint8_t>(it.address >> 16));
            rld.push_back(static_cast<uint8_t>(it.address >> 8));
            rld.push_back(static_cast<uint8_t>(it.address));
            ++nextItem;
        }
        flush();
    }
    // The last control or RLD record ends the module.
    if (!lm.records.empty()) lm.records[lastControl][0] |= 0x0C;
    if (m.entry != nullptr) {
        const Section* s = m.entry->section;
        lm.entryEsdid = cesd.elements.count(s->text()) ? cesd.elements[s->text()] : 0;
    }
    for (const Bytes& r : lm.records)
        lm.largest = std::max<uint32_t>(lm.largest, static_cast<uint32_t>(r.size()));
    return lm;
}

// The directory entry's user data (offsets from the entry's 12-byte header, see the
// extractor's reader): TTRs, attributes, sizes, the entry point and the optional fields.
Bytes userData(const Job& job, const Module& m, const LoadModule* lm, bool programObject,
               const uint32_t entryPoint, const std::string* aliasOf) {
    const OptionBlock& o = job.options;
    auto at = [](unsigned entryOffset) { return entryOffset - unload::kEntryHeader; };
    Bytes u(at(unload::kLmOptional), 0);
    const uint32_t firstText = lm != nullptr ? static_cast<uint32_t>(lm->firstText) : 0;
    put24(u.data() + at(unload::kLmTextTtr), firstText);
    uint8_t a1 = 0, a2 = 0x40 | 0x02; // origin of the first text block zero; linkage edited
    if (o.reus == kReusRent || o.reus == kReusRefr) a1 |= unload::kAttr1Rent;
    if (o.reus >= kReusSerial) a1 |= unload::kAttr1Reus;
    if (o.on(kTest) && lm != nullptr && lm->symWritten) a1 |= unload::kAttr1Test;
    if (o.on(kOl)) a1 |= unload::kAttr1Only;
    if (m.flags & kModScatter) a1 |= unload::kAttr1Sctr;
    if (!(m.flags & kModNotExecutable)) a1 |= unload::kAttr1Exec;
    if (programObject || !o.on(kDc)) a2 |= 0x80; // F-level
    if (entryPoint == 0) a2 |= 0x20;
    if (lm != nullptr && !lm->anyRld) a2 |= 0x10;
    if (m.flags & kModNotEditable) a2 |= unload::kAttr2NotEditable;
    if (o.reus == kReusRefr) a2 |= unload::kAttr2Refr;
    u[at(unload::kLmAttr1)] = a1;
    u[at(unload::kLmAttr2)] = a2;
    const bool large = m.moduleSize > 0xFFFFFF;
    put24(u.data() + at(unload::kLmSize), large ? 0xFFFFFF : static_cast<uint32_t>(m.moduleSize));
    put16(u.data() + at(unload::kLmSize) + 3, lm != nullptr ? lm->firstTextLength : 0);
    put24(u.data() + at(unload::kLmEntry), entryPoint);
    uint8_t a3 = 0;
    if (m.flags & kModAligned) a3 |= unload::kAttr3PageAligned;
    if (o.on(kSsiGiven)) a3 |= unload::kAttr3Ssi;
    const bool apf = !o.on(kDc) || o.ac != 0;
    if (apf) a3 |= unload::kAttr3Apf;
    if (programObject) a3 |= unload::kAttr3ProgramObject;
    if (large) a3 |= 0x01;
    u[at(unload::kLmAttr3)] = a3;
    u[at(unload::kLmAttr4)] = static_cast<uint8_t>(
        (m.rmode == kRmodeAny ? unload::kAttr4RmodeAny : 0) | amodeBits(m.amode));
    if (m.flags & kModScatter) {
        Bytes sc(8, 0);
        put16(sc.data(), lm != nullptr ? lm->scatterList : 0);
        put16(sc.data() + 2, lm != nullptr ? lm->translationTable : 0);
        put16(sc.data() + 4, lm != nullptr ? lm->firstTextEsdid : 0);
        put16(sc.data() + 6, lm != nullptr ? lm->entryEsdid : 0);
        u.insert(u.end(), sc.begin(), sc.end());
    }
    if (aliasOf != nullptr) {
        // The main entry point and the member name of the module an alias names.
        Bytes al(unload::kLmAliasData, obj::kEbcdicBlank);
        uint32_t main = m.entry != nullptr
                            ? static_cast<uint32_t>(m.entry->moduleOffset() + m.entryInElement)
                            : 0;
        put24(al.data(), main);
        const std::string name = toEbcdic(*aliasOf);
        std::memcpy(al.data() + 3, name.data(), std::min<size_t>(8, name.size()));
        u.insert(u.end(), al.begin(), al.end());
    }
    if (o.on(kSsiGiven)) {
        if (u.size() % 2 != 0) u.push_back(0);
        u.insert(u.end(), o.ssi, o.ssi + 4);
    }
    if (apf) {
        u.push_back(0x01);
        u.push_back(o.ac);
    }
    if (large) {
        Bytes size(4);
        put32(size.data(), static_cast<uint32_t>(m.moduleSize));
        u.insert(u.end(), size.begin(), size.end());
    }
    if (u.size() % 2 != 0) u.push_back(0);
    return u;
}

// The 256-byte header of a member file.
Bytes header(const Job& job, const Module& m, const Stamp& st, const Bytes& user, bool alias,
             bool symWritten) {
    Bytes h(loadmod::kHeaderLength, 0);
    std::memcpy(h.data(), loadmod::kHeaderId, 4);
    put32(h.data() + loadmod::kHeaderVersion, 2);
    put16(h.data() + loadmod::kHeaderSize, loadmod::kHeaderLength);
    const std::string time = toEbcdic(st.text);
    std::memcpy(h.data() + loadmod::kHeaderTime, time.data(), std::min<size_t>(14, time.size()));
    h[loadmod::kHeaderLevel] = 0x03;
    h[loadmod::kHeaderLevel + 2] = 0x07;
    h[loadmod::kHeaderEntryLength] = static_cast<uint8_t>(user.size() + 4);
    h[loadmod::kHeaderIndicator] =
        static_cast<uint8_t>((alias ? unload::kAlias : 0) | (user.size() / 2));
    std::memcpy(h.data() + loadmod::kHeaderUserData, user.data(), user.size());
    put32(h.data() + loadmod::kHeaderModuleSize, static_cast<uint32_t>(m.moduleSize));
    put32(h.data() + loadmod::kHeaderConstant, 0x100);
    h[loadmod::kHeaderEntrySegment] = static_cast<uint8_t>(
        m.entry != nullptr && m.entry->cls != nullptr ? m.entry->cls->segment : 1);
    h[loadmod::kHeaderAmode] = static_cast<uint8_t>(m.amode == kMode24    ? 1
                                                    : m.amode == kMode31  ? 2
                                                    : m.amode == kModeAny ? 3
                                                                          : 4);
    h[loadmod::kHeaderRmode] = static_cast<uint8_t>(m.rmode == kRmodeAny ? 3 : 1);
    const int reus = job.options.reus;
    h[loadmod::kHeaderReus] = static_cast<uint8_t>(reus == kReusSerial ? 1
                                                   : reus == kReusRent ? 2
                                                   : reus == kReusRefr ? 3
                                                                       : 0);
    h[loadmod::kHeaderAc] = job.options.ac;
    uint8_t f = 0;
    if (job.options.on(kOl)) f |= loadmod::kHeaderOl;
    if (job.options.on(kTest) && symWritten) f |= loadmod::kHeaderTest;
    if (m.flags & kModNotEditable) f |= loadmod::kHeaderNotEditable;
    if (m.debug == kDebugNo) f |= loadmod::kHeaderDebugNo;
    if (m.flags & kModNotExecutable) f |= loadmod::kHeaderNotExecutable;
    if (m.flags & kModAligned) f |= loadmod::kHeaderAligned;
    h[loadmod::kHeaderFlags] = f;
    return h;
}

// The records, each behind its 2-byte length.
Bytes records(const LoadModule& lm) {
    Bytes out;
    for (const Bytes& r : lm.records) {
        out.push_back(static_cast<uint8_t>(r.size() >> 8));
        out.push_back(static_cast<uint8_t>(r.size()));
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

// A program object: the "LD" descriptor, segment, class, text and relocation tables, then the
// text of the runs.
Bytes programObject(const Module& m, Bytes& tables) {
    struct Run {
        const Class* cls;
        uint64_t offset, length;
    };
    std::vector<Bytes> segments, classes, runs, relocations;
    Bytes text;
    std::vector<const Class*> loadable;
    for (const auto& c : m.classes)
        if (c->segment != 0 && c->length > 0) loadable.push_back(c.get());
    for (int s = 1; s <= 3; ++s) {
        if (m.segmentSize[s] == 0) continue;
        Bytes e(kSegmentEntry, 0);
        uint32_t count = 0;
        for (const Class* c : loadable) count += c->segment == s;
        put32(e.data(), static_cast<uint32_t>(m.segmentSize[s]));
        put32(e.data() + 4, count);
        e[8] = static_cast<uint8_t>(s == 1 && m.rmode != kRmodeAny ? 1 : 3);
        e[9] = (m.flags & kModAligned) ? 12 : 3;
        segments.push_back(e);
    }
    for (size_t ci = 0; ci < loadable.size(); ++ci) {
        const Class* c = loadable[ci];
        const auto& image = m.image[static_cast<size_t>(c->segment)];
        const size_t firstRun = runs.size(), firstRelocation = relocations.size();
        // A run is text that follows on directly with the same kind (section or common).
        uint64_t runStart = 0, runEnd = 0;
        bool open = false, runCommon = false;
        auto close = [&] {
            if (!open) return;
            const uint64_t length = (runEnd - runStart + 7) & ~uint64_t{7};
            Bytes e(kTextEntry, 0);
            put32(e.data(), static_cast<uint32_t>(runStart));
            put32(e.data() + 4, static_cast<uint32_t>(length));
            put32(e.data() + 8, static_cast<uint32_t>(text.size()));
            const uint64_t from = c->offset + runStart;
            for (uint64_t i = 0; i < length; ++i)
                text.push_back(from + i < image.size() ? image[static_cast<size_t>(from + i)] : 0);
            runs.push_back(e);
            open = false;
        };
        for (const Element* e : c->elements) {
            const bool common = e->section->common;
            if (open && (e->offset != runEnd || common != runCommon)) close();
            if (!open) {
                runStart = e->offset;
                runEnd = e->offset;
                runCommon = common;
                open = true;
            }
            runEnd = e->offset + e->length;
            for (const Relocation& r : e->rld) {
                if (r.unresolved || r.kind == ConstantKind::kQ || r.kind == ConstantKind::kCxd ||
                    r.length < 3)
                    continue;
                bool resolved = false;
                int segment = 1;
                targetOffset(r, &resolved, nullptr, &segment);
                if (r.kind == ConstantKind::kRelative && segment == c->segment) continue;
                Bytes x(kRelocationEntry, 0);
                put32(x.data(), static_cast<uint32_t>(e->moduleOffset() + r.offset));
                put16(x.data() + 4, static_cast<unsigned>(c->segment));
                put16(x.data() + 6, static_cast<unsigned>(ci + 1));
                x[8] = r.negative ? 0x80 : 0;
                x[9] = r.length;
                x[10] = static_cast<uint8_t>(segment);
                x[11] = static_cast<uint8_t>(r.kind);
                relocations.push_back(x);
            }
        }
        close();
        Bytes e(kClassEntry, obj::kEbcdicBlank);
        std::memcpy(e.data(), c->name.data(), std::min<size_t>(16, c->name.size()));
        std::fill(e.begin() + 16, e.end(), 0);
        put32(e.data() + 16, static_cast<uint32_t>(c->offset));
        put32(e.data() + 20, static_cast<uint32_t>(c->length));
        put32(e.data() + 24, static_cast<uint32_t>(firstRun));
        put32(e.data() + 28, static_cast<uint32_t>(runs.size() - firstRun));
        put32(e.data() + 32, static_cast<uint32_t>(firstRelocation));
        put32(e.data() + 36, static_cast<uint32_t>(relocations.size() - firstRelocation));
        e[40] = static_cast<uint8_t>(c->segment);
        e[41] = c->alignment;
        classes.push_back(e);
    }
    Bytes d(kLdLength, 0);
    d[0] = 0xD3; // "LD"
    d[1] = 0xC4;
    put16(d.data() + 2, 1);
    put32(d.data() + 4, kLdLength);
    put16(d.data() + 8, kSegmentEntry);
    put16(d.data() + 10, kClassEntry);
    put16(d.data() + 12, kTextEntry);
    put16(d.data() + 14, kRelocationEntry);
    put32(d.data() + 16, static_cast<uint32_t>(segments.size()));
    put32(d.data() + 20, static_cast<uint32_t>(classes.size()));
    put32(d.data() + 24, static_cast<uint32_t>(runs.size()));
    put32(d.data() + 28, static_cast<uint32_t>(relocations.size()));
    tables.clear();
    uint32_t at = kLdLength;
    auto table = [&](unsigned field, const std::vector<Bytes>& entries) {
        put32(d.data() + field, at);
        for (const Bytes& e : entries) tables.insert(tables.end(), e.begin(), e.end());
        at +=
            static_cast<uint32_t>(entries.size() * (entries.empty() ? 0 : entries.front().size()));
    };
    table(32, segments);
    table(36, classes);
    table(40, runs);
    table(44, relocations);
    put32(d.data() + 48, at);
    put32(d.data() + 52, static_cast<uint32_t>(text.size()));
    tables.insert(tables.end(), text.begin(), text.end());
    return d;
}

// Writes a file completely or not at all: a temporary file in the same folder, synced, then
// renamed over the target. A new file gets the mode that the umask gives, a replaced one
// keeps its mode. "" or the system error text.
std::string writeAtomically(const std::string& path, const Bytes& data, bool& createFailed) {
    createFailed = false;
    // The temporary file goes into the target's folder, so that the rename cannot cross file
    // systems; it is made with the mode the target should have.
    std::string temp;
    const int fd = platform::createBeside(path, ".vrl.", temp);
    if (fd < 0) {
        createFailed = true;
        return systemError(errno);
    }
    int error = 0;
    if (!platform::writeAll(fd, data.data(), data.size())) error = errno;
    if (error == 0 && !platform::syncFile(fd)) error = errno;
    if (!platform::closeFile(fd) && error == 0) error = errno;
    if (error == 0 && !platform::replaceFile(temp, path)) error = errno;
    if (error != 0) {
        std::remove(temp.c_str());
        return systemError(error);
    }
    return "";
}

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

} // namespace

SaveResult saveModule(Job& job, bool saveable) {
    Module& m = *job.module;
    SaveResult result;
    const OptionBlock& o = job.options;
    const DdSlot& lmod = job.dd[kSyslmod];
    if (o.member.empty()) {
        issue(job, kSevere, "VRL022S Module not saved because NAME statement is missing.");
        return result;
    }
    result.member = o.member;
    result.path = lmod.pattern.memberPath(o.member);
    const bool existed = exists(result.path);
    if (existed) m.flags |= kModReplaced;
    if (!saveable) return result;
    if (job.moduleSeverity > o.let) m.flags |= kModNotExecutable;
    if ((m.flags & kModNotExecutable) &&
        (o.storenx == kStorenxNever || (o.storenx == kStorenxNoReplace && existed))) {
        issue(job, kSevere,
              format("VRL023S Module not %s because of previous errors with a severity greater "
                     "than LET=%u option with STORENX=%s option.",
                     existed ? "replaced" : "saved", static_cast<unsigned>(o.let),
                     o.storenx == kStorenxNever ? "NEVER" : "NOREPLACE"));
        return result;
    }
    if (existed && !o.on(kReplace)) {
        issue(job, kSevere,
              format("VRL021S Module not saved because %s(%s) already exists as file \"%s\".",
                     lmod.ddName.c_str(), o.member.c_str(), result.path.c_str()));
        return result;
    }

    const Stamp st = stamp();
    result.timestamp = st.text;
    uint32_t block = o.on(kDc) ? 1024 : o.maxblk;
    if (job.syslmodBlksize >= 256 && job.syslmodBlksize < block) block = job.syslmodBlksize;
    block &= ~uint32_t{7};
    result.blockSize = block;
    const uint32_t entryPoint =
        m.entry != nullptr ? static_cast<uint32_t>(m.entry->moduleOffset() + m.entryInElement) : 0;

    // The bytes of the member, and of each alias (the same module under another name with
    // its own entry point).
    auto build = [&](const std::string* aliasOf, uint32_t entry) {
        Bytes out;
        if (m.compat == kCompatTextOnly) {
            for (int s = 1; s <= 3; ++s)
                out.insert(out.end(), m.image[static_cast<size_t>(s)].begin(),
                           m.image[static_cast<size_t>(s)].end());
            return out;
        }
        if (loadModuleFormat(m.compat)) {
            const LoadModule lm = buildLoadModule(job, m, st, block);
            const Bytes recs = records(lm);
            if (m.compat == kCompatLmf) return recs;
            const Bytes user = userData(job, m, &lm, false, entry, aliasOf);
            out = header(job, m, st, user, aliasOf != nullptr, lm.symWritten);
            put32(out.data() + loadmod::kHeaderLkedLength,
                  static_cast<uint32_t>(loadmod::kDescriptorLength + recs.size()));
            put32(out.data() + loadmod::kHeaderDescriptor, loadmod::kHeaderLength);
            Bytes d(loadmod::kDescriptorLength, 0);
            std::memcpy(d.data(), loadmod::kDescriptorId, 2);
            put16(d.data() + loadmod::kDescriptorBlockLength, lm.largest);
            put32(d.data() + loadmod::kDescriptorRecords, static_cast<uint32_t>(lm.records.size()));
            out.insert(out.end(), d.begin(), d.end());
            out.insert(out.end(), recs.begin(), recs.end());
            return out;
        }
        const Bytes user = userData(job, m, nullptr, true, entry, aliasOf);
        out = header(job, m, st, user, aliasOf != nullptr, false);
        Bytes tables;
        const Bytes descriptor = programObject(m, tables);
        put32(out.data() + loadmod::kHeaderTables, static_cast<uint32_t>(tables.size()));
        out.insert(out.end(), descriptor.begin(), descriptor.end());
        out.insert(out.end(), tables.begin(), tables.end());
        return out;
    };

    bool createFailed = false;
    const std::string problem =
        writeAtomically(result.path, build(nullptr, entryPoint), createFailed);
    if (!problem.empty()) {
        if (createFailed)
            issueWithPath(job, kSevere,
                          format("VRL018S Error creating %s(%s): %s", lmod.ddName.c_str(),
                                 o.member.c_str(), problem.c_str()),
                          result.path);
        else
            issueWithPath(job, kTerminal,
                          format("VRL017T Error writing to %s(%s): %s,", lmod.ddName.c_str(),
                                 o.member.c_str(), problem.c_str()),
                          result.path);
        return result;
    }
    result.saved = true;
    result.replaced = existed;

    for (const AliasRequest& a : job.aliases) {
        // An alias of the member's own name would write over the member.
        if (a.name == o.member) continue;
        uint32_t entry = entryPoint;
        if (!a.symbol.empty()) {
            const Symbol* s = m.find(a.symbol);
            if (s != nullptr && s->section != nullptr && !s->section->deleted && s->section->text())
                entry = static_cast<uint32_t>(s->section->text()->moduleOffset());
            else if (s != nullptr && s->label != nullptr)
                entry = static_cast<uint32_t>(s->label->element->moduleOffset() + s->label->offset);
        }
        const std::string path = lmod.pattern.memberPath(a.name);
        const bool aliasExisted = exists(path);
        if (aliasExisted && !o.on(kReplace)) {
            issue(job, kSevere,
                  format("VRL021S Module not saved because %s(%s) already exists as file \"%s\".",
                         lmod.ddName.c_str(), a.name.c_str(), path.c_str()));
            continue;
        }
        const std::string aliasProblem =
            writeAtomically(path, build(&o.member, entry), createFailed);
        if (!aliasProblem.empty()) {
            if (createFailed)
                issueWithPath(job, kSevere,
                              format("VRL018S Error creating %s(%s): %s", lmod.ddName.c_str(),
                                     a.name.c_str(), aliasProblem.c_str()),
                              path);
            else
                issueWithPath(job, kTerminal,
                              format("VRL017T Error writing to %s(%s): %s,", lmod.ddName.c_str(),
                                     a.name.c_str(), aliasProblem.c_str()),
                              path);
            continue;
        }
        result.aliases.emplace_back(a.name, aliasExisted);
    }
    return result;
}

} // namespace vrl
