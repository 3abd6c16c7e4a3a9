// Module layout: the module's attributes settled from its options, the checks of the chosen
// output format, the entry point, AMODE and RMODE, classes ordered into segments with every
// element at its offset, the size limits, and the address constants relocated into the text
// image of each segment.
//
//    class B_TEXT   segment 1  offset 000000  length 0001A8  (MAIN 000000, SUB1 000100)
//    class B_PRV               offset 000000  length 000010  (pseudo registers)
//    A(SUB1+4) in MAIN at 0040: assembled 00000004 -> 00000104
#include <algorithm>
#include <cstring>
#include <map>

#include "resolution.h"
#include "runtime.h"

namespace vrl {

namespace {

constexpr uint64_t k16M = 16777215;
constexpr uint64_t k1G = uint64_t{1} << 30;
constexpr uint8_t kAlignPage = 12;

const std::string& ebcdicName(const char* ascii) {
    static std::map<std::string, std::string> cache;
    auto it = cache.find(ascii);
    if (it == cache.end()) it = cache.emplace(ascii, toEbcdic(ascii)).first;
    return it->second;
}

uint64_t alignUp(uint64_t v, uint8_t code) {
    const uint64_t a = uint64_t{1} << code;
    return (v + a - 1) & ~(a - 1);
}

bool live(const Section& s) {
    return !s.deleted;
}

// Loadable text: elements of loadable classes in sections that are not commons.
bool loadableText(const Element& e) {
    return e.loadable && !e.section->common && !e.section->deleted;
}

const char* amodeText(int amode) {
    switch (amode) {
    case kMode24:
        return "24";
    case kMode31:
        return "31";
    case kMode64:
        return "64";
    default:
        return "ANY";
    }
}

// The CESD entries the module will have: sections, labels, pseudo registers and the names
// still missing.
size_t esdItems(const Module& m) {
    size_t n = 0;
    for (const auto& s : m.sections)
        if (live(*s)) n += 1 + (s->text() ? s->text()->labels.size() : 0);
    n += m.pseudoRegisters.size();
    for (const auto& s : m.symbols)
        if (!s->defined() && !s->refs.empty()) ++n;
    return n;
}

size_t relocatable(const Module& m) {
    size_t n = 0;
    for (const auto& s : m.sections)
        if (live(*s))
            for (const auto& e : s->elements) n += e->rld.size();
    return n;
}

// The segment code of a class: the order of classes in the module and their segment.
int segmentCode(const std::string& name, bool loadable, int rmode, bool split) {
    const std::string text = toEbcdic("B_TEXT");
    if (name == text || name == toEbcdic("B_TEXT2")) return 0;
    if (name == toEbcdic("B_PRV")) return 6;
    if (!loadable) return 7;
    if (name == toEbcdic("B_TEXT3")) return 2;
    if (name.size() == text.size() + 1 && name.compare(0, text.size(), text) == 0) return 4;
    if (!split || rmode == kMode24) return 1;
    return rmode == kModeAny ? 3 : 5;
}

// The target of an address constant: its module offset (in its segment), addressing mode
// and segment. False when the target is missing.
bool resolveTarget(const Relocation& r, uint64_t& offset, int& amode, int& segment) {
    const Element* e = r.element;
    uint64_t extra = 0;
    if (e == nullptr && r.symbol != nullptr) {
        if (r.symbol->section != nullptr && !r.symbol->section->deleted) {
            e = r.symbol->section->text();
        } else if (r.symbol->label != nullptr) {
            e = r.symbol->label->element;
            extra = r.symbol->label->offset;
            amode = r.symbol->label->amode;
        }
    }
    if (e == nullptr || e->cls == nullptr || e->section->deleted) return false;
    if (extra == 0) amode = e->amode;
    offset = e->moduleOffset() + extra;
    segment = e->cls->segment;
    return true;
}

// Adds (or subtracts) a value to a big-endian field, carrying across the field only.
void addTo(uint8_t* p, unsigned length, int64_t value, bool subtract) {
    uint64_t v = 0;
    for (unsigned i = 0; i < length; ++i) v = v << 8 | p[i];
    v = subtract ? v - static_cast<uint64_t>(value) : v + static_cast<uint64_t>(value);
    for (unsigned i = length; i-- > 0;) {
        p[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

void store(uint8_t* p, unsigned length, uint64_t value) {
    for (unsigned i = length; i-- > 0;) {
        p[i] = static_cast<uint8_t>(value);
        value >>= 8;
    }
}

} // namespace

const char* compatName(int level) {
    switch (level) {
    case 0:
        return "UNSPECIFIED";
    case 1:
        return "LMF";
    case 2:
        return "LKED";
    case 3:
        return "PM1";
    case 4:
        return "OMF";
    case 5:
        return "TEXTONLY";
    case 6:
        return "PM2";
    case 7:
        return "PM3";
    case 8:
        return "PM4";
    default:
        return "MIN";
    }
}

bool loadModuleFormat(int compat) {
    return compat == kCompatLmf || compat == kCompatLked;
}

uint64_t targetOffset(const Relocation& r, bool* resolved, int* amode, int* segment) {
    uint64_t offset = 0;
    int a = kMode24, s = 1;
    *resolved = resolveTarget(r, offset, a, s);
    if (amode != nullptr) *amode = a;
    if (segment != nullptr) *segment = s;
    return offset;
}

void settleAttributes(Job& job) {
    Module& m = *job.module;
    const OptionBlock& o = job.options;
    m.flags = 0;
    if (o.on(kNotEditable)) m.flags |= kModNotEditable;
    m.rmode = o.rmode;
    m.compat = o.compat == kCompatUnset ? kCompatMin : o.compat;
    m.debug = o.debug;
    if (o.sctr == kSctrRsect) m.flags |= kModRsect;
    if (o.sctr == kSctrYes) m.flags |= kModScatter;
    if (m.compat == kCompatLmf) m.debug = kDebugNo;
    if (m.compat == kCompatTextOnly) {
        m.flags |= kModNotEditable;
        m.debug = kDebugNo;
    }
    if (m.debug == kDebugUnset) m.debug = o.ac == 2 ? kDebugNo : o.ac == 3 ? kDebugOff : kDebugYes;
}

namespace {

// The checks of the output format (VRL220I to VRL240S). False after a severity 12 message.
bool formatChecks(Job& job, Module& m) {
    const char* level = compatName(m.compat);
    const bool lmf = loadModuleFormat(m.compat);
    const bool editable = !(m.flags & kModNotEditable);
    bool warned = false;
    for (const auto& s : m.sections)
        if (live(*s) && lmf && s->identify.size() > 40)
            issue(job, kWarning,
                  "VRL223W IDENTIFY data for section " + displayName(s->name) +
                      " truncated to 40 characters.");
    std::vector<std::string> seen;
    for (const auto& s : m.sections) {
        if (!live(*s)) continue;
        for (const auto& e : s->elements) {
            if (e->className == ebcdicName("B_TEXT") || e->className == ebcdicName("B_PRV") ||
                std::find(seen.begin(), seen.end(), e->className) != seen.end())
                continue;
            seen.push_back(e->className);
            const std::string cls = displayName(e->className);
            if (e->loadable) {
                if (editable && m.compat < kCompatPm2) {
                    issue(job, kWarning,
                          format("VRL234W Text class %s cannot be saved with COMPAT=%s.",
                                 cls.c_str(), level));
                    warned = true;
                }
            } else if ((e->classAttributes & 0xF0) == 0) {
                issue(job, kError,
                      format("VRL233E Text class %s cannot be saved with COMPAT=%s.", cls.c_str(),
                             level));
            } else {
                issue(
                    job, kWarning,
                    format("VRL232W Class %s cannot be saved with COMPAT=%s.", cls.c_str(), level));
            }
        }
    }
    if (editable && m.compat < kCompatPm2) {
        bool extended = false;
        for (const auto& s : m.sections)
            if (live(*s))
                for (const auto& e : s->elements)
                    for (const Relocation& r : e->rld)
                        if (r.kind == ConstantKind::kRelative || r.length > 8) extended = true;
        if (extended) {
            issue(job, kWarning,
                  format("VRL235W Extended RLD data cannot be saved with COMPAT=%s.", level));
            warned = true;
        }
    }
    bool text = false;
    for (const auto& s : m.sections)
        if (live(*s))
            for (const auto& e : s->elements)
                if (loadableText(*e) && e->length > 0) text = true;
    if (!text) {
        issue(job, kSevere, "VRL240S Empty module cannot be saved.");
        return false;
    }
    if (editable && (m.compat <= kCompatPm1 || m.compat == kCompatMin)) {
        auto longName = [&](const std::string& name) {
            if (name.size() <= 8 || static_cast<uint8_t>(name[0]) == obj::kEbcdicBlank) return;
            issue(job, kWarning,
                  format("VRL236W External name %s is too long to be saved with COMPAT=%s.",
                         displayName(name).c_str(), level));
            warned = true;
        };
        for (const auto& s : m.sections)
            if (live(*s)) longName(s->name);
        for (const auto& l : m.labels)
            if (l->symbol->label == l.get()) longName(l->symbol->name);
        for (const auto& s : m.symbols)
            if (!s->defined() && !s->refs.empty()) longName(s->name);
        for (const auto& pr : m.pseudoRegisters) longName(pr->symbol->name);
    }
    m.esdCount = esdItems(m);
    m.rldCount = relocatable(m);
    if (editable && lmf && m.esdCount >= 32768) {
        issue(job, kWarning,
              format("VRL237W Too many ESD items to be saved with COMPAT=%s.", level));
        warned = true;
    }
    if (warned && editable) {
        issue(job, kWarning, "VRL239W Load module will be saved with EDIT=NO option.");
        m.flags |= kModNotEditable;
    }
    if (m.rmode == kRmodeSplit) {
        int first = 0;
        bool same = true;
        for (const auto& s : m.sections)
            if (live(*s))
                for (const auto& e : s->elements)
                    if (loadableText(*e)) {
                        if (first == 0) first = e->rmode;
                        if (e->rmode != first) same = false;
                    }
        if (same) {
            issue(job, kInfo, "VRL220I RMODE=SPLIT ignored because all text has the same RMODE.");
            m.rmode = kRmodeUnset;
        } else if (m.compat < kCompatPm2) {
            issue(job, kError,
                  format("VRL221E RMODE=SPLIT is incompatible with COMPAT=%s, RMODE option setting "
                         "ignored.",
                         level));
            m.rmode = kRmodeUnset;
        } else {
            m.split = true;
        }
    }
    if ((m.flags & kModScatter) && (m.esdCount >= 16382 || m.rldCount >= 8191)) {
        issue(job, kWarning, "VRL222W Too many ESD items, SCTR option disabled.");
        m.flags &= ~kModScatter;
    }
    return true;
}

// The entry point: ENTRY (or EP), else the first END record's, else the first section.
void settleEntry(Job& job, Module& m) {
    auto fits = [](const Element* e) { return e != nullptr && loadableText(*e); };
    m.entry = nullptr;
    m.entryInElement = 0;
    if (!job.options.entry.empty()) {
        const std::string name = displayName(job.options.entry);
        const Symbol* s = m.find(job.options.entry);
        const Element* e = nullptr;
        uint32_t offset = 0;
        int amode = kMode24;
        if (s != nullptr && s->section != nullptr && !s->section->deleted) {
            e = s->section->text();
            amode = e != nullptr ? e->amode : kMode24;
        } else if (s != nullptr && s->label != nullptr) {
            e = s->label->element;
            offset = s->label->offset;
            amode = s->label->amode;
        }
        if (!fits(e)) {
            issue(job, kError, "VRL211E ENTRY name " + name + " not found in loadable text.");
        } else if (offset % 2 != 0) {
            issue(job, kError, "VRL212E ENTRY name " + name + " is not halfword aligned.");
        } else {
            m.entry = const_cast<Element*>(e);
            m.entryInElement = offset;
            m.entryAmode = amode;
            return;
        }
    } else if (m.entrySet) {
        const Element* e = m.entryElement;
        uint32_t offset = m.entryOffset;
        int amode = e != nullptr ? e->amode : kMode24;
        if (e == nullptr && m.entrySymbol != nullptr) {
            const Symbol* s = m.entrySymbol;
            if (s->section != nullptr && !s->section->deleted) {
                e = s->section->text();
                amode = e != nullptr ? e->amode : kMode24;
            } else if (s->label != nullptr) {
                e = s->label->element;
                offset = s->label->offset;
                amode = s->label->amode;
            }
        }
        if (e != nullptr && e->section->deleted) e = nullptr;
        if (!fits(e)) {
            issue(job, kError, "VRL213E Entry point is not in loadable text.");
        } else if (offset % 2 != 0) {
            issue(job, kError, "VRL214E Entry point is not halfword aligned.");
        } else {
            m.entry = const_cast<Element*>(e);
            m.entryInElement = offset;
            m.entryAmode = amode;
            return;
        }
    }
    const bool announce = job.options.entry.empty() && !m.entrySet;
    for (const auto& s : m.sections) {
        if (!live(*s) || s->common) continue;
        Element* e = s->text();
        if (!fits(e) || e->length == 0) continue;
        m.entry = e;
        m.entryInElement = 0;
        m.entryAmode = e->amode;
        if (announce)
            issue(job, kInfo, "VRL210I ENTRY defaults to section " + displayName(s->name) + ".");
        return;
    }
}

void settleModes(Job& job, Module& m) {
    // AMODE: as given, the most restrictive of the module (MIN), or the entry point's.
    switch (job.options.amode) {
    case kAmode24:
        m.amode = kMode24;
        break;
    case kAmode31:
        m.amode = kMode31;
        break;
    case kAmodeAny:
        m.amode = kModeAny;
        break;
    case kAmode64:
        m.amode = kMode64;
        break;
    case kAmodeMin: {
        bool any24 = false, any31 = false, anyAny = false;
        auto note = [&](int a) {
            any24 |= a == kMode24;
            any31 |= a == kMode31;
            anyAny |= a == kModeAny;
        };
        for (const auto& s : m.sections)
            if (live(*s) && s->text()) note(s->text()->amode);
        for (const auto& l : m.labels)
            if (l->symbol->label == l.get() && !l->element->section->deleted) note(l->amode);
        m.amode = any24 ? kMode24 : any31 ? kMode31 : anyAny ? kModeAny : kMode64;
        break;
    }
    default:
        m.amode = m.entry != nullptr ? m.entryAmode : kMode24;
        break;
    }
    // RMODE: as given, or 24 when any text is RMODE 24.
    if (m.rmode == kRmodeUnset) {
        m.rmode = kRmodeAny;
        for (const auto& s : m.sections)
            if (live(*s))
                for (const auto& e : s->elements)
                    if (loadableText(*e) && e->rmode == kMode24) m.rmode = kRmode24;
    }
    const bool low = m.amode == kMode24 || m.amode == kModeAny;
    if (m.split && m.entry != nullptr && m.entry->rmode != kMode24 && low) {
        issue(job, kError,
              format("VRL215E AMODE=%s is incompatible with RMODE=SPLIT when the entry point is "
                     "not in RMODE=24 storage, RMODE set to 24.",
                     amodeText(m.amode)));
        m.rmode = kRmode24;
        m.split = false;
    }
    if (low && m.rmode == kRmodeAny) {
        issue(job, kError,
              format("VRL218E RMODE=ANY is incompatible with AMODE=%s, RMODE set to 24.",
                     amodeText(m.amode)));
        m.rmode = kRmode24;
    }
    // An entry whose own AMODE is ANY runs in any assigned AMODE: no conflict to report.
    if (m.entry != nullptr && m.entryAmode != m.amode && m.entryAmode != kModeAny)
        issue(job, kWarning,
              format("VRL216W Possible conflict between assigned AMODE and entry point ESD AMODE "
                     "of %u.",
                     static_cast<unsigned>(m.entryAmode)));
    if (m.rmode == kRmodeAny)
        for (const auto& s : m.sections)
            if (live(*s))
                for (const auto& e : s->elements)
                    if (loadableText(*e) && e->rmode == kMode24)
                        issue(job, kWarning,
                              "VRL217W Possible conflict between assigned RMODE=31 and class " +
                                  displayName(e->className) + " in section " +
                                  displayName(s->name) + ".");
}

// Classes in segment order, every element at its offset. False after a size limit.
bool placeElements(Job& job, Module& m) {
    // ORDER and PAGE requests.
    std::vector<const Section*> ordered;
    std::vector<const Section*> paged;
    for (const OrderRequest& r : job.order) {
        const Section* s = m.section(r.section);
        if (s == nullptr) {
            issue(job, kWarning,
                  std::string("VRL209W ") + (r.ordered ? "ORDER" : "PAGE") + " request for " +
                      displayName(r.section) + " was not processed.");
            continue;
        }
        if (r.ordered) ordered.push_back(s);
        if (r.page) paged.push_back(s);
    }

    m.classes.clear();
    std::map<std::string, Class*> byName;
    for (const auto& s : m.sections) {
        if (!live(*s)) continue;
        for (const auto& e : s->elements) {
            std::string name = e->className;
            if (m.split && name == ebcdicName("B_TEXT") && e->rmode != kMode24)
                name = ebcdicName("B_TEXT3");
            Class*& c = byName[name];
            if (c == nullptr) {
                m.classes.push_back(std::make_unique<Class>());
                c = m.classes.back().get();
                c->name = name;
                c->loadable = e->loadable;
                c->code = segmentCode(name, e->loadable, e->rmode, m.split);
                c->segment = c->code <= 1 ? 1 : c->code <= 3 ? 2 : c->code <= 5 ? 3 : 0;
            }
            e->page = std::find(paged.begin(), paged.end(), s.get()) != paged.end();
            c->elements.push_back(e.get());
            e->cls = c;
        }
    }
    std::stable_sort(m.classes.begin(), m.classes.end(), [](const auto& a, const auto& b) {
        if (a->code != b->code) return a->code < b->code;
        return std::lexicographical_compare(
            a->name.begin(), a->name.end(), b->name.begin(), b->name.end(),
            [](char x, char y) { return static_cast<uint8_t>(x) < static_cast<uint8_t>(y); });
    });
    for (const auto& c : m.classes) {
        // Ordered sections first, in ORDER sequence.
        std::stable_sort(
            c->elements.begin(), c->elements.end(), [&](const Element* a, const Element* b) {
                auto rank = [&](const Element* e) {
                    const auto it = std::find(ordered.begin(), ordered.end(), e->section);
                    return it == ordered.end() ? ordered.size()
                                               : static_cast<size_t>(it - ordered.begin());
                };
                return rank(a) < rank(b);
            });
        uint8_t align = kAlignDouble;
        for (const Element* e : c->elements)
            align = std::max(align, e->page ? kAlignPage : e->alignment);
        c->alignment = align;
        if (align > kAlignDouble && c->loadable) m.flags |= kModAligned;
    }

    bool ok = true;
    uint64_t running[4] = {};
    bool firstOfSegment[4] = {true, true, true, true};
    for (const auto& c : m.classes) {
        uint64_t pos = 0;
        for (Element* e : c->elements) {
            pos = alignUp(pos, e->page ? kAlignPage : e->alignment);
            e->offset = pos;
            pos += e->length;
        }
        c->length = pos;
        if (c->segment == 0) continue;
        uint8_t align = c->alignment;
        if ((m.flags & kModAligned) && c->segment > 1 && firstOfSegment[c->segment])
            align = kAlignPage;
        firstOfSegment[c->segment] = false;
        c->offset = alignUp(running[c->segment], align);
        c->padding = c->offset - running[c->segment];
        running[c->segment] = c->offset + c->length;
        if (c->length > k1G) {
            issue(job, kSevere,
                  "VRL243S Class " + displayName(c->name) + " size exceeds 1 Gigabyte.");
            ok = false;
        }
    }
    m.moduleSize = 0;
    for (int s = 1; s <= 3; ++s) {
        m.segmentSize[s] = alignUp(running[s], kAlignDouble);
        m.moduleSize += m.segmentSize[s];
    }
    if (m.split) {
        m.rmode24Size = m.segmentSize[1];
        m.rmode31Size = m.segmentSize[2] + m.segmentSize[3];
    } else if (m.rmode == kRmode24) {
        m.rmode24Size = m.moduleSize;
    } else {
        m.rmode31Size = m.moduleSize;
    }
    for (const auto& s : m.sections)
        if (live(*s) && s->text() && loadableText(*s->text()) && s->text()->length > 0)
            m.flags |= s->text()->rmode == kMode24 ? (kModRmode24Text | kModRmode24Section)
                                                   : (kModRmode31Text | kModRmode31Section);

    // Pseudo registers, outside the loadable text.
    m.prvClass = nullptr;
    if (!m.pseudoRegisters.empty()) {
        auto prv = std::make_unique<Class>();
        prv->name = ebcdicName("B_PRV");
        prv->loadable = false;
        prv->code = 6;
        prv->segment = 0;
        uint64_t pos = 0;
        for (const auto& pr : m.pseudoRegisters) {
            pos = alignUp(pos, pr->alignment);
            pr->offset = pos;
            pos += pr->length;
            if (loadModuleFormat(m.compat) && pr->length > k16M) {
                issue(job, kSevere,
                      "VRL246S External dummy section " + displayName(pr->symbol->name) +
                          " size exceeds 16 Megabytes.");
                ok = false;
            }
        }
        prv->length = pos;
        if (pos > k1G) {
            issue(job, kSevere, "VRL247S Class B_PRV size exceeds 1 Gigabyte.");
            ok = false;
        }
        m.prvClass = prv.get();
        m.classes.push_back(std::move(prv));
    }

    const bool lmf = loadModuleFormat(m.compat);
    if (lmf && m.moduleSize > k16M) {
        issue(job, kSevere, "VRL241S Load module size exceeds 16 Megabytes.");
        ok = false;
    }
    if (lmf)
        for (const auto& s : m.sections)
            if (live(*s))
                for (const auto& e : s->elements)
                    if (e->length > k16M) {
                        issue(job, kSevere,
                              "VRL242S Control section " + displayName(s->name) +
                                  " size exceeds 16 Megabytes.");
                        ok = false;
                    }
    if (m.moduleSize > k1G) {
        issue(job, kSevere, "VRL244S Load module size exceeds 1 Gigabyte.");
        ok = false;
    }
    if (!lmf && (m.rmode == kRmode24 || m.split) && m.segmentSize[1] > k16M) {
        issue(job, kSevere, "VRL245S RMODE=24 size exceeds 16 Megabytes.");
        ok = false;
    }
    return ok;
}

// The address constants: overlaps and odd relative targets, lengths, then the values.
bool relocate(Job& job, Module& m) {
    bool ok = true;
    const char* level = compatName(m.compat);
    m.image.assign(4, {});
    // placeElements has refused a module above 1 GiB, so every size and offset here fits a
    // size_t, on 32-bit hosts too.
    for (int s = 1; s <= 3; ++s)
        m.image[static_cast<size_t>(s)].assign(static_cast<size_t>(m.segmentSize[s]), 0);
    for (const auto& c : m.classes) {
        if (c->segment == 0) continue;
        auto& image = m.image[static_cast<size_t>(c->segment)];
        for (Element* e : c->elements) {
            if (e->section->common) continue;
            e->text.copyTo(image.data() + e->moduleOffset(), static_cast<size_t>(e->length));
        }
    }
    const uint64_t prvLength = m.prvClass != nullptr ? m.prvClass->length : 0;
    for (const auto& c : m.classes) {
        if (c->segment == 0) continue;
        struct Item {
            uint64_t at;
            Element* e;
            Relocation* r;
        };
        std::vector<Item> items;
        for (Element* e : c->elements)
            for (Relocation& r : e->rld) items.push_back({e->moduleOffset() + r.offset, e, &r});
        std::stable_sort(items.begin(), items.end(),
                         [](const Item& a, const Item& b) { return a.at < b.at; });
        // Several relocation items for one constant (A(X-Y)) share its address and length;
        // constants that only partly cover each other overlap.
        for (size_t i = 1; i < items.size(); ++i)
            if (items[i - 1].at + items[i - 1].r->length > items[i].at &&
                !(items[i - 1].at == items[i].at && items[i - 1].r->length == items[i].r->length))
                issue(job, kError,
                      format("VRL229E Address constants overlap at offset X'%.2lX' in class %s of "
                             "section %s.",
                             static_cast<unsigned long>(items[i].at - c->offset),
                             displayName(c->name).c_str(),
                             displayName(items[i].e->section->name).c_str()));
        auto& image = m.image[static_cast<size_t>(c->segment)];
        for (const Item& it : items) {
            Relocation& r = *it.r;
            uint8_t* p = image.data() + it.at;
            if (it.at + r.length > image.size()) continue;
            if (r.kind == ConstantKind::kCxd) {
                store(p, r.length, prvLength);
                continue;
            }
            if (r.kind == ConstantKind::kQ) {
                const PseudoRegister* pr = r.symbol != nullptr ? r.symbol->pseudoRegister : nullptr;
                if (pr == nullptr) {
                    r.unresolved = true;
                    continue;
                }
                addTo(p, r.length, static_cast<int64_t>(pr->offset), false);
                continue;
            }
            bool resolved = false;
            int amode = kMode24, segment = 1;
            const uint64_t target = targetOffset(r, &resolved, &amode, &segment);
            if (!resolved) {
                r.unresolved = true;
                continue;
            }
            if (r.kind == ConstantKind::kRelative) {
                if (target % 2 != 0) ok = false;
                if (target % 2 != 0)
                    issue(job, kSevere,
                          format("VRL228E Odd relative address constant reference at offset "
                                 "X'%.2lX' in class %s.",
                                 static_cast<unsigned long>(it.at - c->offset),
                                 displayName(c->name).c_str()));
                const int64_t here = static_cast<int64_t>(it.at);
                int64_t distance;
                if (r.element != nullptr) {
                    // Local target: the assembled distance changes by the move of each end.
                    const int64_t assembled = static_cast<int64_t>(it.e->origin) + r.offset;
                    distance = (static_cast<int64_t>(target & ~uint64_t{1}) - r.origin) -
                               (here - assembled);
                } else {
                    distance = static_cast<int64_t>(target & ~uint64_t{1}) - here + 2;
                }
                addTo(p, r.length, distance / 2, false);
                continue;
            }
            // A- and V-type: long enough for where the target lies.
            if (r.length < 4) {
                const unsigned needed = segment >= 3                             ? 8
                                        : (segment == 2 || m.rmode == kRmodeAny) ? 4
                                                                                 : 3;
                if (r.length < needed) {
                    const std::string where =
                        format("-byte address constant in section %s at offset %ld in class %s",
                               displayName(it.e->section->name).c_str(),
                               static_cast<long>(r.offset), displayName(c->name).c_str());
                    if (r.length == 2 || r.length == 3) {
                        issue(job, kWarning,
                              format("VRL230W %u%s cannot be saved with COMPAT=%s.",
                                     static_cast<unsigned>(r.length), where.c_str(), level));
                    } else {
                        issue(job, kSevere,
                              format("VRL231S %u%s is not relocatable.",
                                     static_cast<unsigned>(r.length), where.c_str()));
                        ok = false;
                    }
                }
            }
            if (r.kind == ConstantKind::kV) {
                uint64_t value = target;
                if (job.options.on(kHobset) && r.length == 4) {
                    if (amode == kMode31 || amode == kModeAny)
                        value |= 0x80000000u;
                    else
                        value &= 0x7FFFFFFFu;
                }
                store(p, r.length, value);
            } else {
                addTo(p, r.length, static_cast<int64_t>(target) - r.origin, r.negative);
            }
        }
    }
    return ok;
}

} // namespace

bool layoutModule(Job& job) {
    Module& m = *job.module;
    bool ok = formatChecks(job, m);
    if (!ok) return false;
    settleEntry(job, m);
    settleModes(job, m);
    ok = placeElements(job, m);
    if (!ok) return false;
    return relocate(job, m);
}

} // namespace vrl
