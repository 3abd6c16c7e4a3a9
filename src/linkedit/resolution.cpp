// Symbol resolution: object modules merged into the module being built (sections, labels,
// references, pseudo registers, address constants), CHANGE and REPLACE applied to their names,
// automatic library call for the names still missing, and the report of those that remain.
//
//    VRL201I Section IO from SYSLIB(IO) path "/lib/io.obj" already added, new section discarded.
//    VRL250W Autocalled member SYSLIB(CALC) did not resolve reference.
//    VRL254E Symbol PRINTF   unresolved.
#include "resolution.h"

#include <algorithm>
#include <cstring>

#include "runtime.h"

namespace vrl {

namespace {

Module& moduleOf(Job& job) {
    if (!job.module) job.module = std::make_unique<Module>();
    return *job.module;
}

// The addressing mode of ESD section flags: X'10' 64, else the two low bits (0 and 1 24,
// 2 31, 3 ANY).
int amodeOf(uint8_t flags) {
    if (flags & obj::kFlagAmode64) return kMode64;
    switch (flags & obj::kFlagAmodeMask) {
    case 2:
        return kMode31;
    case 3:
        return kModeAny;
    default:
        return kMode24;
    }
}

// Whether a name was read in mixed case (lower-case letters or "_"): the UPCASE pass may try
// it in upper case.
bool mixedCase(const std::string& ebcdic) {
    for (char c : ebcdic) {
        const auto b = static_cast<uint8_t>(c);
        if ((b >= 0x81 && b <= 0x89) || (b >= 0x91 && b <= 0x99) || (b >= 0xA2 && b <= 0xA9) ||
            b == 0x6D)
            return true;
    }
    return false;
}

// The source entry of the current input file.
size_t sourceOf(Job& job, Module& m) {
    const InputFile* f = job.current();
    Source s;
    if (f != nullptr) {
        s.sequence = f->sequence;
        s.ddName = f->ddName;
        s.member = f->member;
        s.path = f->path;
    }
    const std::string key =
        std::to_string(s.sequence) + '\n' + s.ddName + '\n' + s.member + '\n' + s.path;
    const auto it = m.sourceIndex.find(key);
    if (it != m.sourceIndex.end()) return it->second;
    m.sourceIndex.emplace(key, m.sources.size());
    m.sources.push_back(s);
    return m.sources.size() - 1;
}

// Takes a section out of the module (CHANGE of a name it holds, or a common that gives way):
// its name and labels become free, and constants aimed at it go by name.
void removeSection(Module& m, Section& s) {
    s.deleted = true;
    if (Symbol* sym = m.find(s.name); sym != nullptr && sym->section == &s) sym->section = nullptr;
    for (const auto& e : s.elements) {
        for (Label* l : e->labels)
            if (l->symbol->label == l) l->symbol->label = nullptr;
        e->labels.clear();
    }
    Symbol* own = m.symbol(s.name);
    for (const auto& other : m.sections) {
        if (other->deleted) continue;
        for (const auto& e : other->elements)
            for (Relocation& r : e->rld)
                if (r.element != nullptr && r.element->section == &s) {
                    r.element = nullptr;
                    r.symbol = own;
                }
    }
}

void queueForAutocall(Module& m, Symbol* s) {
    if (m.autocallQueue != nullptr && !s->defined() && s->queuedIn != m.autocallRun) {
        s->queuedIn = m.autocallRun;
        m.autocallQueue->push_back(s);
    }
}

// A new section of the module from a section item of an object module.
// The element of a section item: its class (B_TEXT unless a GOFF element names another), its
// text and attributes.
std::unique_ptr<Element> makeElement(EsdItem& item, Section* s) {
    auto e = std::make_unique<Element>();
    e->section = s;
    e->className = item.className.empty() ? toEbcdic("B_TEXT") : item.className;
    e->alignment = item.alignment;
    e->origin = item.address;
    e->length = item.length;
    e->text = std::move(item.text);
    e->amode = amodeOf(item.flags);
    e->rmode = (item.flags & obj::kFlagRmodeAny) ? kModeAny : kMode24;
    e->rsect = (item.flags & obj::kFlagRsect) != 0;
    e->sym = std::move(item.sym);
    return e;
}

Section* addSection(Job& job, Module& m, EsdItem& item, const ObjectModule& image) {
    auto s = std::make_unique<Section>();
    s->name = item.name;
    s->common = item.isCommon();
    s->privateCode = item.isPrivate();
    s->source = sourceOf(job, m);
    s->esdFlags = item.flags;
    std::memcpy(s->identification, image.identification, sizeof s->identification);
    s->identificationCount = image.identificationCount;
    s->elements.push_back(makeElement(item, s.get()));
    m.sections.push_back(std::move(s));
    return m.sections.back().get();
}

// A section kept under a name that had a definition: classes the old one lacked are added,
// B_TEXT must agree in its attributes. False (VRL207W) when it does not.
bool mergeClasses(Job& job, Section& kept, Section& old) {
    const Element* a = kept.text();
    const Element* b = old.text();
    if (a != nullptr && b != nullptr &&
        (a->amode != b->amode || a->rmode != b->rmode || a->rsect != b->rsect)) {
        issue(job, kWarning,
              "VRL207W Attributes of class " + displayName(a->className) + " of section " +
                  displayName(kept.name) +
                  " conflict with those in an existing section, section discarded.");
        return false;
    }
    bool added = false;
    for (auto& e : old.elements) {
        const bool present =
            std::any_of(kept.elements.begin(), kept.elements.end(),
                        [&](const auto& k) { return k->className == e->className; });
        if (present) continue;
        e->section = &kept;
        kept.elements.push_back(std::move(e));
        added = true;
    }
    old.elements.erase(std::remove(old.elements.begin(), old.elements.end(), nullptr),
                       old.elements.end());
    if (added && job.options.list == kListAll)
        issue(job, kInfo, "VRL200I Section " + displayName(kept.name) + " has been merged.");
    kept.merged = true;
    return true;
}

void alreadyAdded(Job& job, const std::string& name) {
    if (job.options.list != kListAll) return;
    const InputFile* f = job.current();
    std::string text = "VRL201I Section " + displayName(name) + " from ";
    if (f != nullptr) {
        text += f->ddName;
        if (!f->member.empty()) text += "(" + f->member + ")";
        text += " path \"" + f->path + "\"";
    }
    text += " already added, new section discarded.";
    issue(job, kInfo, text);
}

// Applies CHANGE and REPLACE requests to the names of an object module. Items that a REPLACE
// deletes come back in `deleted`.
// RENAME requests rename incoming names the way CHANGE does, for the whole module.
void applyRequests(Job& job, Module& m, ObjectModule& image, std::vector<EsdItem*>& deleted) {
    if (job.changes.empty() && job.renames.empty()) return;
    for (const auto& item : image.items) {
        if (item->name.empty() || item->type == obj::kXD) continue;
        Request* req = nullptr;
        for (Request& r : job.changes)
            if (r.oldName == item->name) req = &r;
        for (Request& r : job.renames)
            if (req == nullptr && r.oldName == item->name) req = &r;
        if (req == nullptr) continue;
        req->processed = true;
        const bool definition = item->isSection() || item->type == obj::kLD;
        if (!req->hasNew) {
            if (definition) deleted.push_back(item.get());
            continue;
        }
        if (req->kind != 'R' && definition) {
            if (Section* s = m.section(req->newName)) {
                removeSection(m, *s);
                issue(job, kInfo,
                      "VRL202I Section " + displayName(req->newName) +
                          " deleted by CHANGE statement.");
            } else if (Symbol* sym = m.find(req->newName);
                       sym != nullptr && sym->label != nullptr) {
                Label* l = sym->label;
                auto& list = l->element->labels;
                list.erase(std::remove(list.begin(), list.end(), l), list.end());
                sym->label = nullptr;
                issue(job, kInfo,
                      "VRL202I Entry " + displayName(req->newName) +
                          " deleted by CHANGE statement.");
            }
        }
        if (image.entryName == item->name) image.entryName = req->newName;
        item->name = req->newName;
        item->nameLength = static_cast<uint16_t>(item->name.size());
    }
}

} // namespace

uint64_t Element::moduleOffset() const {
    return (cls != nullptr ? cls->offset : 0) + offset;
}

Element* Section::text() const {
    static const std::string kText = [] {
        // "B_TEXT" in EBCDIC.
        const uint8_t b[] = {0xC2, 0x6D, 0xE3, 0xC5, 0xE7, 0xE3};
        return std::string(reinterpret_cast<const char*>(b), sizeof b);
    }();
    for (const auto& e : elements)
        if (e->className == kText) return e.get();
    return elements.empty() ? nullptr : elements.front().get();
}

Symbol* Module::find(const std::string& name) const {
    const auto it = symbolIndex.find(name);
    return it == symbolIndex.end() ? nullptr : it->second;
}

Symbol* Module::symbol(const std::string& name) {
    if (Symbol* s = find(name)) return s;
    auto s = std::make_unique<Symbol>();
    s->name = name;
    if (mixedCase(name)) s->flags |= kMayUpcase;
    symbolIndex.emplace(name, s.get());
    symbols.push_back(std::move(s));
    return symbols.back().get();
}

Section* Module::section(const std::string& name) const {
    const Symbol* s = find(name);
    return s != nullptr && s->section != nullptr && !s->section->deleted ? s->section : nullptr;
}

std::string symbolName(const Symbol& s, size_t pad) {
    return displayName(s.name, pad);
}

void mergeObjectModule(Job& job, ObjectModule& image) {
    Module& m = moduleOf(job);
    ++m.objectCount;
    std::vector<EsdItem*> deleted;
    applyRequests(job, m, image, deleted);
    auto isDeleted = [&](const EsdItem* item) {
        return std::find(deleted.begin(), deleted.end(), item) != deleted.end();
    };

    // Sections, in input order; each kept item is mapped to its module section, and to its
    // element when it is another class of a section of this object module (GOFF).
    std::unordered_map<const EsdItem*, Section*> kept;
    std::unordered_map<const EsdItem*, Element*> classOf;
    for (const auto& itemPtr : image.items) {
        EsdItem& item = *itemPtr;
        if (!item.isSection() || isDeleted(&item)) continue;
        if (!item.className.empty() || std::any_of(image.items.begin(), image.items.end(),
                                                   [&](const auto& other) {
                                                       return other.get() != &item &&
                                                              !other->className.empty() &&
                                                              other->name == item.name;
                                                   })) {
            // A class of a section whose other class this object module has already added.
            Section* same = nullptr;
            for (const auto& [k, sec] : kept)
                if (k->name == item.name && k->className != item.className) same = sec;
            if (same != nullptr) {
                same->elements.push_back(makeElement(item, same));
                kept[&item] = same;
                classOf[&item] = same->elements.back().get();
                continue;
            }
        }
        Symbol* sym = m.symbol(item.name);
        if (sym->label != nullptr) {
            issue(job, kWarning,
                  "VRL203W Section " + displayName(item.name) +
                      " already defined as a label, section discarded.");
            continue;
        }
        Section* existing = m.section(item.name);
        if (existing == nullptr) {
            Section* s = addSection(job, m, item, image);
            sym->section = s;
            kept[&item] = s;
            classOf[&item] = s->elements.front().get();
            continue;
        }
        const uint64_t existingLength = existing->text() ? existing->text()->length : 0;
        if (!existing->common && !item.isCommon()) {
            alreadyAdded(job, item.name); // the first definition wins
        } else if (existing->common && !item.isCommon()) {
            // A section replaces a common of its name, at least as long as the common was.
            const uint64_t commonLength = existingLength;
            Section* s = addSection(job, m, item, image);
            if (!mergeClasses(job, *s, *existing)) {
                s->deleted = true;
                continue;
            }
            if (s->text() && s->text()->length < commonLength) s->text()->length = commonLength;
            removeSection(m, *existing);
            sym->section = s;
            kept[&item] = s;
        } else if (!existing->common && item.isCommon()) {
            if (item.length > existingLength)
                issue(job, kWarning,
                      "VRL205W Common section " + displayName(item.name) +
                          " discarded because it is longer than an existing control section of "
                          "the same name.");
        } else if (item.length > existingLength) {
            // Of two commons the longer stays.
            Section* s = addSection(job, m, item, image);
            if (!mergeClasses(job, *s, *existing)) {
                s->deleted = true;
                continue;
            }
            removeSection(m, *existing);
            sym->section = s;
            kept[&item] = s;
        } else {
            alreadyAdded(job, item.name);
        }
    }

    // The names each kept section refers to, then its address constants.
    for (const auto& itemPtr : image.items) {
        EsdItem& item = *itemPtr;
        const auto k = kept.find(&item);
        if (k == kept.end()) continue;
        Section* s = k->second;
        const auto cls = classOf.find(&item);
        Element* text = cls != classOf.end() ? cls->second : s->text();
        for (EsdItem* ref : item.refs) {
            if (isDeleted(ref)) continue;
            Symbol* sym = m.symbol(ref->name);
            if (ref->type == obj::kLD) {
                const Section* other = sym->label != nullptr ? sym->label->element->section
                                       : sym->section != nullptr && sym->section != s ? sym->section
                                                                                      : nullptr;
                if (other != nullptr) {
                    issue(job, kWarning,
                          "VRL204W Label " + displayName(ref->name) + " in section " +
                              displayName(s->name) + " discarded, already defined in section " +
                              displayName(other->name) + ".");
                    continue;
                }
                if (sym->section == s) continue; // the section's own name
                auto l = std::make_unique<Label>();
                l->symbol = sym;
                l->element = text;
                l->offset = ref->address - item.address;
                l->amode = (ref->flags & (obj::kFlagAmode64 | obj::kFlagAmodeMask))
                               ? amodeOf(ref->flags)
                               : text->amode;
                sym->label = l.get();
                text->labels.push_back(l.get());
                m.labels.push_back(std::move(l));
            } else if (ref->type == obj::kXD) {
                if (sym->pseudoRegister == nullptr) {
                    auto pr = std::make_unique<PseudoRegister>();
                    pr->symbol = sym;
                    sym->pseudoRegister = pr.get();
                    m.pseudoRegisters.push_back(std::move(pr));
                }
                PseudoRegister* pr = sym->pseudoRegister;
                pr->length = std::max<uint64_t>(pr->length, ref->length);
                pr->alignment = std::max(pr->alignment, ref->alignment);
            } else if (ref->isReference()) {
                sym->refs.push_back({s, ref->type == obj::kWX});
                queueForAutocall(m, sym);
            }
        }
        for (const RldEntry& e : item.rld) {
            Relocation r;
            r.offset = e.address - item.address;
            r.kind = e.kind;
            r.length = e.length;
            r.negative = e.negative;
            r.flags = e.flags;
            if (EsdItem* t = e.target) {
                if (t->isSection()) {
                    r.origin = t->address;
                    const auto target = kept.find(t);
                    const auto targetClass = classOf.find(t);
                    if (targetClass != classOf.end())
                        r.element = targetClass->second;
                    else if (target != kept.end())
                        r.element = target->second->text();
                    else
                        r.symbol = m.symbol(t->name);
                } else {
                    r.symbol = m.symbol(t->name);
                    r.weak = t->type == obj::kWX;
                }
            }
            text->rld.push_back(r);
        }
    }

    // The first entry point given by an END record.
    if (!m.entrySet) {
        if (image.entrySection != nullptr) {
            const auto k = kept.find(image.entrySection);
            m.entrySet = true;
            if (k != kept.end()) {
                const auto cls = classOf.find(image.entrySection);
                m.entryElement = cls != classOf.end() ? cls->second : k->second->text();
                m.entryOffset = image.entryAddress - image.entrySection->address;
            } else {
                m.entrySymbol = m.symbol(image.entrySection->name);
                m.entryOffset = image.entryAddress - image.entrySection->address;
            }
        } else if (!image.entryName.empty()) {
            m.entrySet = true;
            m.entrySymbol = m.symbol(image.entryName);
        }
    }
}

int expandSection(Job& job, const std::string& section, const std::string& className,
                  uint64_t bytes) {
    Module& m = moduleOf(job);
    Section* s = m.section(section);
    if (s == nullptr) return 1;
    for (const auto& e : s->elements) {
        if (e->className != className) continue;
        if (e->length + bytes > (uint64_t{1} << 30)) return 2;
        e->length += bytes;
        return 0;
    }
    auto e = std::make_unique<Element>();
    e->section = s;
    e->className = className;
    e->length = bytes;
    if (const Element* text = s->text()) {
        e->amode = text->amode;
        e->rmode = text->rmode;
    }
    s->elements.push_back(std::move(e));
    return 0;
}

bool identifySection(Job& job, const std::string& section, const std::string& data) {
    Section* s = moduleOf(job).section(section);
    if (s == nullptr) return false;
    s->identify = data;
    return true;
}

void registerLibrary(Job& job, const LibraryRequest& request) {
    job.library.push_back(request);
    Symbol* s = moduleOf(job).symbol(request.symbol);
    if (request.neverCall)
        s->flags |= kNeverCall;
    else if (request.ddName.empty())
        s->flags |= kNoCall;
    else
        s->libraryDd = request.ddName;
}

namespace {

// The member name automatic call looks for: the symbol in workstation characters; in the
// UPCASE pass upper-cased, with "_" as the character of EBCDIC X'7C'.
std::string memberNameOf(const Symbol& s, bool upper) {
    std::string name = fromEbcdic(s.name);
    if (upper) {
        const char at = static_cast<char>(rt::ebcdicToAscii()[0x7C]);
        for (char& c : name) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            if (c == '_') c = at;
        }
    }
    return name;
}

// One run of automatic call. Every name that is still missing is tried once (names that the
// members read on the way refer to are queued behind them), until nothing is left to try.
void autocallRun(Job& job, const std::string& autocallDd, bool upper) {
    Module& m = moduleOf(job);
    std::deque<Symbol*> queue;
    ++m.autocallRun;
    for (const auto& s : m.symbols)
        if (!s->defined() && !s->refs.empty()) {
            s->queuedIn = m.autocallRun;
            queue.push_back(s.get());
        }
    m.autocallQueue = &queue;
    while (!queue.empty() && !job.stopped()) {
        Symbol* s = queue.front();
        queue.pop_front();
        if (s->defined() || !s->strongReference() || s->name.size() > 8) continue;
        if (s->flags & (kNoCall | kNeverCall)) continue;
        if (!autocallDd.empty() && !s->libraryDd.empty() && s->libraryDd != autocallDd) continue;
        const std::string member = memberNameOf(*s, upper);
        if (upper) {
            if (s->triedUpper || !(s->flags & kMayUpcase) ||
                ((s->flags & kTried) && s->triedMember == member))
                continue;
        } else if (s->flags & kTried) {
            continue;
        }
        if (!rt::isMemberName(member.c_str(), member.size(), rt::kAnyCase)) continue;
        if (upper) {
            s->triedUpper = true;
        } else {
            s->flags |= kTried;
            s->triedMember = member;
        }
        const std::string ddName = !autocallDd.empty()     ? autocallDd
                                   : !s->libraryDd.empty() ? s->libraryDd
                                                           : job.dd[kSyslib].ddName;
        const int dd = ddName == job.dd[kSyslmod].ddName ? kSyslmod : kSyslib;
        if (dd == kSyslib && !syslibPatterns(job)) break;
        if (dd == kSyslmod && !job.dd[kSyslmod].pattern.valid) continue;
        uint16_t sequence = 0;
        const std::string path = findMember(job, dd, member, &sequence);
        if (path.empty()) continue;
        auto f = std::make_unique<InputFile>();
        f->path = path;
        f->ddName = ddName;
        f->member = member;
        f->sequence = sequence;
        if (!openInput(*f)) {
            issue(job, kError,
                  format("VRL015E Error opening %s(%s) as file \"%s\": %s", ddName.c_str(),
                         member.c_str(), path.c_str(), systemError(f->io.errnum)));
            continue;
        }
        if (onInputStack(job, *f, false) || !inUseAsOutput(job, *f).empty()) {
            rt::ioClose(f->io, false);
            continue;
        }
        const size_t depth = job.stack.size();
        job.stack.push_back(std::move(f));
        const uint32_t saved = job.output & kOutputAutocall;
        job.output |= kOutputAutocall;
        processInput(job, depth);
        while (job.stack.size() > depth) popInput(job);
        job.output = (job.output & ~kOutputAutocall) | saved;
        if (!s->defined() && !job.stopped())
            issue(job, kWarning,
                  format("VRL250W Autocalled member %s(%s) did not resolve reference.",
                         ddName.c_str(), member.c_str()));
    }
    m.autocallQueue = nullptr;
}

} // namespace

void autocall(Job& job, const std::string& ddName) {
    autocallRun(job, ddName, false);
    if (job.options.on(kUpcase) && !job.stopped()) autocallRun(job, ddName, true);
}

void autocallAtFinish(Job& job) {
    if (job.options.on(kNcal) || job.syslib.empty()) return;
    autocall(job, "");
}

void reportUnresolved(Job& job) {
    Module& m = moduleOf(job);
    std::vector<Symbol*> missing;
    for (const auto& s : m.symbols) {
        if (s->defined() || s->refs.empty()) continue;
        if (!s->strongReference()) {
            s->flags |= kWeakOnly;
            continue;
        }
        missing.push_back(s.get());
    }
    std::sort(missing.begin(), missing.end(),
              [](const Symbol* a, const Symbol* b) { return a->name < b->name; });
    for (Symbol* s : missing) {
        const std::string name = symbolName(*s, 8);
        if (s->flags & (kNoCall | kNeverCall))
            issue(job, kWarning,
                  "VRL251W Symbol " + name +
                      " unresolved, symbol specified for never-call or no-call.");
        else if (s->flags & kTried)
            issue(job, kError, "VRL255E Symbol " + name + " remains unresolved.");
        else if (!job.options.on(kNcal) && !job.syslib.empty())
            issue(job, kError, "VRL254E Symbol " + name + " unresolved.");
        else if (!job.options.on(kNcal))
            issue(job, kError,
                  "VRL253E Symbol " + name + " unresolved, " + job.dd[kSyslib].ddName +
                      " not specified.");
        else
            issue(job, kWarning, "VRL252W Symbol " + name + " unresolved, NCAL option specified.");
    }
}

} // namespace vrl
