// The listing's report blocks of a module: the unnamed sections, the module map with its
// source summary, the cross reference of address constants, and after the save the options
// in force, what was saved, the saved attributes and the entry points.
//
//                                              ***  M O D U L E   M A P  ***
//    -----------------------
//    CLASS  B_TEXT            LENGTH=     1A8  ATTRIBUTES=CAT,LOAD,RMODE=24,ALIGN=8
//     SECTION    CLASS                                                     --------SOURCE--------
//      OFFSET   OFFSET  NAME                               TYPE    LENGTH  DDNAME   SEQ  MEMBER
//                    0  MAIN                                 CSECT      100  SYSLIN     1
//           40      40  LOOP                                 LABEL
#include <algorithm>
#include <cstring>

#include "resolution.h"
#include "runtime.h"

namespace vrl {

namespace {

constexpr size_t kWidth = 120;

std::string centred(const std::string& text) {
    return std::string((kWidth - text.size()) / 2, ' ') + text;
}

// A name in a 32-column field: longer names show their first 28 characters and "...".
std::string field32(const std::string& ebcdic) {
    std::string n = displayName(ebcdic);
    if (n.size() > 32) n = n.substr(0, 28) + "...";
    return n;
}

const char* yesNo(bool v) {
    return v ? "YES" : "NO";
}

const char* amodeName(int amode) {
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

std::string sourceText(const Module& m, size_t index) {
    if (index >= m.sources.size()) return "";
    const Source& s = m.sources[index];
    return format("%-8s %4u  %s", s.ddName.c_str(), static_cast<unsigned>(s.sequence + 1),
                  s.member.c_str());
}

void unnamedSections(Job& job, const Module& m) {
    std::vector<const Section*> privates;
    for (const auto& s : m.sections)
        if (!s->deleted && s->privateCode) privates.push_back(s.get());
    if (privates.empty()) return;
    printLine(job, std::string(60, ' ') + "*** U N N A M E D  S E C T I O N S ***", 1);
    printLine(job, "              -------  SOURCE  -------", 1);
    printLine(job, "NAME          DDNAME    SEQ     MEMBER");
    for (const Section* s : privates) {
        const Source& src = m.sources[s->source];
        printLine(job,
                  displayName(s->name, 11) + "   " +
                      format("%-8s %4hu   %s", src.ddName.c_str(),
                             static_cast<unsigned short>(src.sequence + 1), src.member.c_str()));
    }
    printLine(job, "*** E N D  O F  U N N A M E D  S E C T I O N S ***");
    printLine(job, "");
}

void moduleMap(Job& job, const Module& m) {
    printLine(job, centred("***  M O D U L E   M A P  ***"), 1);
    int segments = 0;
    for (int s = 1; s <= 3; ++s) segments += m.segmentSize[s] > 0;
    for (const auto& c : m.classes) {
        if (c->segment == 0) continue;
        printLine(job, "-----------------------");
        const int rmode = m.rmode == kRmode24    ? kMode24
                          : m.rmode == kRmodeAny ? kModeAny
                          : c->segment == 1      ? kMode24
                                                 : kModeAny;
        printLine(job, format("CLASS  %-16s  LENGTH=%8lX  ATTRIBUTES=CAT,LOAD,RMODE=%s,ALIGN=%u",
                              displayName(c->name).c_str(), static_cast<unsigned long>(c->length),
                              rmode == kMode24 ? "24" : "ANY", 1u << c->alignment));
        if (segments > 1)
            printLine(job, format("%25sOFFSET=%8lX  IN SEGMENT %d", "",
                                  static_cast<unsigned long>(c->offset), c->segment));
        printLine(job, " SECTION    CLASS                                                     "
                       "--------SOURCE--------");
        printLine(job, "  OFFSET   OFFSET  NAME                               TYPE    LENGTH  "
                       "DDNAME   SEQ  MEMBER");
        for (const Element* e : c->elements) {
            const Section& s = *e->section;
            const char* type = s.common ? "COMMON" : e == s.text() ? "CSECT" : "CATTR";
            printLine(job, format("%17lX  %-32s %c %-6s%8lX  %s",
                                  static_cast<unsigned long>(e->offset), field32(s.name).c_str(),
                                  s.merged ? '*' : ' ', type, static_cast<unsigned long>(e->length),
                                  sourceText(m, s.source).c_str()));
            std::vector<const Label*> labels(e->labels.begin(), e->labels.end());
            std::stable_sort(labels.begin(), labels.end(),
                             [](const Label* a, const Label* b) { return a->offset < b->offset; });
            for (const Label* l : labels)
                printLine(job,
                          format("%8lX %8lX  %-32s   LABEL", static_cast<unsigned long>(l->offset),
                                 static_cast<unsigned long>(e->offset + l->offset),
                                 field32(l->symbol->name).c_str()));
        }
    }
    if (m.prvClass != nullptr) {
        printLine(job, "-----------------------");
        printLine(job, format("CLASS  %-16s  LENGTH=%8lX  ATTRIBUTES=MRG,NOLOAD", "B_PRV",
                              static_cast<unsigned long>(m.prvClass->length)));
        printLine(job, "            CLASS");
        printLine(job, "           OFFSET  NAME                               TYPE    LENGTH");
        for (const auto& pr : m.pseudoRegisters)
            printLine(job,
                      format("%17lX  %-32s   PART  %8lX", static_cast<unsigned long>(pr->offset),
                             field32(pr->symbol->name).c_str(),
                             static_cast<unsigned long>(pr->length)));
    }
    printLine(job, "***  SOURCE SUMMARY   ***", 1);
    printLine(job, "DDNAME     SEQ   PATH", 1);
    printLine(job, "--------   ---   ----------------");
    for (const Source& s : m.sources) {
        std::string path = s.path;
        if (!s.member.empty()) path += "  (" + s.member + ")";
        printLine(job, format("%-8s%6u   %s", s.ddName.c_str(),
                              static_cast<unsigned>(s.sequence + 1), path.c_str()));
    }
    // References that no address constant of their section uses.
    std::vector<std::string> lines;
    for (const auto& sym : m.symbols)
        for (const Reference& r : sym->refs) {
            if (r.from == nullptr || r.from->deleted) continue;
            bool used = false;
            for (const auto& e : r.from->elements)
                for (const Relocation& x : e->rld)
                    if (x.symbol == sym.get()) used = true;
            if (!used)
                lines.push_back(format("%-6s %-7s %-34s %s", r.weak ? "WX" : "ER", "EXTERN",
                                       field32(r.from->name).c_str(),
                                       displayName(sym->name).c_str()));
        }
    if (!lines.empty()) {
        printLine(job, "***  SYMBOL REFERENCES NOT ASSOCIATED WITH ANY ADCON  ***", 1);
        printLine(job, "TYPE   SCOPE   FROM SECTION                       SYMBOL NAME", 1);
        for (const std::string& l : lines) printLine(job, l);
    }
    printLine(job, centred("***  E N D   O F   M O D U L E   M A P  ***"), 1);
}

const char* constantType(const Relocation& r) {
    switch (r.kind) {
    case ConstantKind::kV:
        return "V-CON";
    case ConstantKind::kQ:
        return "Q-CON";
    case ConstantKind::kCxd:
        return " CXD";
    case ConstantKind::kRelative:
        return " R/I";
    default:
        return r.length < 3 ? "NON-RELOCATABLE" : "A-CON";
    }
}

void crossReference(Job& job, const Module& m) {
    printLine(job, centred("C R O S S   R E F E R E N C E   T A B L E"), 1);
    for (const auto& c : m.classes) {
        if (c->segment == 0) continue;
        printLine(job, "TEXT CLASS = " + displayName(c->name), 1);
        printLine(job,
                  "-------------  R E F E R E N C E  -------------|----------------------------  "
                  "T A R G E T  -----------------------------");
        printLine(job, "   CLASS                         SECTION       |                           "
                       "                     ELEMENT");
        printLine(job, "  OFFSET SECTION                  OFFSET  TYPE | SYMBOL                 "
                       "SECTION                  OFFSET CLASS");
        struct Item {
            uint64_t at;
            const Element* e;
            const Relocation* r;
        };
        std::vector<Item> items;
        for (const Element* e : c->elements)
            for (const Relocation& r : e->rld) items.push_back({e->offset + r.offset, e, &r});
        std::stable_sort(items.begin(), items.end(),
                         [](const Item& a, const Item& b) { return a.at < b.at; });
        if (items.empty()) printLine(job, "***  NO ADDRESS CONSTANTS FOR THIS CLASS  ***");
        for (const Item& it : items) {
            const Relocation& r = *it.r;
            std::string symbol, section, offset, cls;
            const Element* target = r.element;
            uint64_t within = 0;
            if (r.symbol != nullptr) symbol = displayName(r.symbol->name);
            if (target == nullptr && r.symbol != nullptr) {
                if (r.symbol->section != nullptr && !r.symbol->section->deleted) {
                    target = r.symbol->section->text();
                } else if (r.symbol->label != nullptr) {
                    target = r.symbol->label->element;
                    within = r.symbol->label->offset;
                }
            }
            if (r.kind == ConstantKind::kQ && r.symbol != nullptr && r.symbol->pseudoRegister) {
                section = "B_PRV";
                offset =
                    format("%lX", static_cast<unsigned long>(r.symbol->pseudoRegister->offset));
                cls = "B_PRV";
            } else if (r.kind == ConstantKind::kCxd) {
                section = "B_PRV";
            } else if (target != nullptr && !target->section->deleted) {
                if (symbol.empty()) symbol = displayName(target->section->name);
                section = displayName(target->section->name);
                offset = format("%lX", static_cast<unsigned long>(within));
                cls = displayName(target->className);
            } else if (r.symbol != nullptr && (r.symbol->flags & kNeverCall)) {
                section = "NEVER-CALL";
            } else if (r.weak || (r.symbol != nullptr && (r.symbol->flags & kWeakOnly))) {
                section = "UNRESOLVED(W)";
            } else {
                section = "UNRESOLVED";
            }
            printLine(job, format("%8lX %-24s %6lX %-5s | %-22s %-24s %6s %s",
                                  static_cast<unsigned long>(it.at),
                                  field32(it.e->section->name).c_str(),
                                  static_cast<unsigned long>(r.offset), constantType(r),
                                  symbol.c_str(), section.c_str(), offset.c_str(), cls.c_str()));
        }
    }
}

} // namespace

void printMap(Job& job) {
    if (!listingOpen(job) || !job.module) return;
    const Module& m = *job.module;
    if (job.options.on(kMap) || job.options.on(kListPriv)) unnamedSections(job, m);
    if (job.options.on(kMap)) moduleMap(job, m);
    if (job.options.on(kXref)) crossReference(job, m);
}

void printSaveSummary(Job& job, const SaveResult& r) {
    const Module& m = *job.module;
    const OptionBlock& o = job.options;
    const char* rmodeText = m.split ? "SPLIT" : m.rmode == kRmodeAny ? "ANY" : "24";
    issue(job, kInfo,
          format("VRL020I %s has been %s with AMODE=%s and RMODE=%s as file \"%s\".",
                 r.member.c_str(), r.replaced ? "replaced" : "added", amodeName(m.amode), rmodeText,
                 r.path.c_str()));
    if (!listingOpen(job) || o.list == kListOff || o.list == kListStmt) return;
    auto line = [&](const char* label, const std::string& value) {
        printLine(job, format("   %-17s%s", label, value.c_str()));
    };
    printLine(job, "PROCESSING OPTIONS:", 1);
    line("AC", std::to_string(o.ac));
    line("ALIGN2", yesNo(o.on(kAlign2)));
    static const char* const kAmodes[] = {"UNSPECIFIED", "MIN", "24", "31", "ANY", "64"};
    line("AMODE", kAmodes[std::clamp(o.amode, 0, 5)]);
    line("CALL", yesNo(!o.on(kNcal)));
    line("CASE", o.on(kCaseMixed) ? "MIXED" : "UPPER");
    line("COMPAT", compatName(o.compat));
    line("DC", yesNo(o.on(kDc)));
    line("DCBS", yesNo(o.on(kDcbs)));
    static const char* const kDebug[] = {"UNSPECIFIED", "YES", "NO", "OFF"};
    line("DEBUG", kDebug[std::clamp(o.debug, 0, 3)]);
    line("EDIT", yesNo(!o.on(kNotEditable)));
    line("EP", o.entry.empty() ? "UNSPECIFIED" : displayName(o.entry));
    line("FETCHOPT", std::string(o.on(kFetchPack) ? "" : "NO") + "PACK," +
                         (o.on(kFetchPrime) ? "" : "NO") + "PRIME");
    line("HOBSET", yesNo(o.on(kHobset)));
    line("LET", std::to_string(o.let));
    line("LINECT", std::to_string(job.linect));
    line("LIST", o.list == kListAll ? "ALL" : o.list == kListNoImp ? "NOIMP" : "SUMMARY");
    line("LISTPRIV", yesNo(o.on(kListPriv)));
    line("MAP", yesNo(o.on(kMap)));
    line("MAXBLK", std::to_string(o.maxblk));
    line("MSGLEVEL", std::to_string(o.msglevel));
    line("OL", yesNo(o.on(kOl)));
    line("PRINT", "YES");
    static const char* const kReus[] = {"UNSPECIFIED", "NONE", "SERIAL", "RENT", "REFR"};
    line("REUS", kReus[std::clamp(o.reus, 0, 4)]);
    line("RMODE", o.rmode == kRmode24      ? "24"
                  : o.rmode == kRmodeAny   ? "ANY"
                  : o.rmode == kRmodeSplit ? "SPLIT"
                                           : "UNSPECIFIED");
    line("SCTR", o.sctr == kSctrRsect ? "RSECT" : o.sctr == kSctrYes ? "YES" : "NO");
    line("SSI", o.on(kSsiGiven) ? format("%.2X%.2X%.2X%.2X", o.ssi[0], o.ssi[1], o.ssi[2], o.ssi[3])
                                : "UNSPECIFIED");
    line("STORENX", o.storenx == kStorenxNever ? "NEVER"
                    : o.storenx == kStorenxYes ? "YES"
                                               : "NOREPLACE");
    line("TERM", yesNo(o.on(kTerm)));
    line("TEST", yesNo(o.on(kTest)));
    line("UPCASE", yesNo(o.on(kUpcase)));
    if (job.wkspace1 == 0 && job.wkspace2 == 0) {
        line("WKSPACE", "UNSPECIFIED");
    } else {
        std::string w = job.wkspace1 != 0 ? format("%uK", job.wkspace1) : "";
        if (job.wkspace2 != 0) w += format(",%uK", job.wkspace2);
        line("WKSPACE", w);
    }
    line("XREF", yesNo(o.on(kXref)));

    const bool lmf = loadModuleFormat(m.compat);
    printLine(job, "SAVE OPERATION SUMMARY:", 1);
    line("MEMBER NAME", r.member);
    line("FILE NAME", r.path);
    line("FORMAT", m.compat == kCompatLmf        ? "LOAD MODULE FORMAT RECORDS"
                   : m.compat == kCompatLked     ? "PROGRAM OBJECT (LKED COMPATIBLE)"
                   : m.compat == kCompatTextOnly ? "LOAD IMAGE FILE"
                                                 : "PROGRAM OBJECT");
    line("DISPOSITION", r.replaced ? "REPLACED" : "ADDED");
    const std::string& t = r.timestamp;
    line("DATE AND TIME",
         format("%.4s-%.2s-%.2s %.2s.%.2s.%s", t.c_str(), t.c_str() + 4, t.c_str() + 6,
                t.c_str() + 8, t.c_str() + 10, t.size() >= 14 ? t.c_str() + 12 : ""));
    if (m.compat != kCompatTextOnly) {
        printLine(job, "SAVED MODULE ATTRIBUTES:", 1);
        line("AC", std::to_string(o.ac));
        line("AMODE", amodeName(m.amode));
        if (lmf) line("BLOCK SIZE", std::to_string(r.blockSize));
        if (m.compat != o.compat || m.compat == kCompatPm1 || m.compat == kCompatPm2)
            line("COMPAT", compatName(m.compat));
        if (lmf) line("DC", yesNo(o.on(kDc)));
        if (!lmf) line("DEBUG", kDebug[std::clamp(m.debug, 0, 3)]);
        line("EDITABLE", yesNo(!(m.flags & kModNotEditable)));
        line("EXCEEDS 16 MB", yesNo(m.moduleSize > 0xFFFFFF));
        line("EXECUTABLE", yesNo(!(m.flags & kModNotExecutable)));
        line("OL", yesNo(o.on(kOl)));
        line("PAGE ALIGNED", yesNo((m.flags & kModAligned) != 0));
        line("REFR", yesNo(o.reus == kReusRefr));
        line("RENT", yesNo(o.reus == kReusRent || o.reus == kReusRefr));
        line("SSI", o.on(kSsiGiven)
                        ? format("%.2X%.2X%.2X%.2X", o.ssi[0], o.ssi[1], o.ssi[2], o.ssi[3])
                        : "UNSPECIFIED");
        bool sym = false;
        for (const auto& s : m.sections)
            if (!s->deleted)
                for (const auto& e : s->elements) sym |= !e->sym.empty();
        line("SYM GENERATED", yesNo(o.on(kTest) && sym && lmf));
        line("MODULE SIZE", format("%.8X", static_cast<unsigned>(m.moduleSize)));
    }
    printLine(job, "ENTRY POINT AND ALIAS SUMMARY:", 1);
    printLine(job, "   NAME        ENTRY TYPE   AMODE    OFFSET    CLASS/STATUS");
    printLine(job, "   --------    ----------   -----   --------   ----------------");
    if (m.entry != nullptr) {
        std::string name = displayName(m.entry->section->name);
        for (const Label* l : m.entry->labels)
            if (l->offset == m.entryInElement && l->symbol->label == l)
                name = displayName(l->symbol->name);
        printLine(job, format("   %-8s     MAIN_EP      %3s    %.8X   %s", name.c_str(),
                              amodeName(m.amode),
                              static_cast<unsigned>(m.entry->moduleOffset() + m.entryInElement),
                              displayName(m.entry->className).c_str()));
    }
    for (const auto& [alias, replaced] : r.aliases) {
        uint32_t offset = m.entry != nullptr
                              ? static_cast<uint32_t>(m.entry->moduleOffset() + m.entryInElement)
                              : 0;
        for (const AliasRequest& a : job.aliases) {
            if (a.name != alias || a.symbol.empty()) continue;
            if (const Symbol* s = m.find(a.symbol)) {
                if (s->section != nullptr && s->section->text())
                    offset = static_cast<uint32_t>(s->section->text()->moduleOffset());
                else if (s->label != nullptr)
                    offset =
                        static_cast<uint32_t>(s->label->element->moduleOffset() + s->label->offset);
            }
        }
        printLine(job, format("   %-8s     ALIAS        %3s    %.8X   %s", alias.c_str(),
                              amodeName(m.amode), offset, replaced ? "replaced" : "added"));
    }
}

} // namespace vrl
