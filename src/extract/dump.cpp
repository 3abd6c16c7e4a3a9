// Record dumps and load-module listings. A dump line:
//
//   columns 0-7     offset (or module address), 8 hexadecimal digits
//   from 11         the bytes as hexadecimal pairs, a blank after every 4th and another after
//                   every 16th byte
//   49 (w 16)       "|", the bytes as characters (X'21' to X'7E' after translation, else blank),
//   86 (w 32)       "|" at 66 or 119
#include "dump.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "loadmod_format.h"
#include "reader.h"
#include "runtime.h"
#include "unload_format.h"
#include "xmit_format.h"

namespace opx {

namespace {

bool line(OutputFile& out, const std::string& text) {
    return out.text(text.data(), text.size());
}

template <class... Args> std::string format(const char* f, Args... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, f, args...);
    return buffer;
}

std::string translatedName(const uint8_t* name) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    std::string s;
    for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>(e2a[name[i]]));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

} // namespace

std::string dumpLine(const uint8_t* data, size_t count, unsigned width, uint32_t offset) {
    static const char kHex[] = "0123456789ABCDEF";
    const uint8_t* e2a = rt::ebcdicToAscii();
    const size_t bar = width == 16 ? 49 : 86;
    std::string l = format("%.8lX", static_cast<unsigned long>(offset));
    l.append(3, ' ');
    for (unsigned i = 0; i < width; ++i) {
        if (i < count) {
            l.push_back(kHex[data[i] >> 4]);
            l.push_back(kHex[data[i] & 0x0F]);
        } else {
            l.append(2, ' ');
        }
        if ((i + 1) % 4 == 0) l.push_back(' ');
        if ((i + 1) % 16 == 0) l.push_back(' ');
    }
    l.resize(bar, ' ');
    l.push_back('|');
    for (unsigned i = 0; i < width; ++i) {
        const uint8_t c = i < count ? e2a[data[i]] : ' ';
        l.push_back(c >= 0x21 && c <= 0x7E ? static_cast<char>(c) : ' ');
    }
    l.push_back('|');
    return l;
}

bool dumpLines(OutputFile& out, const uint8_t* data, size_t length, unsigned width, uint32_t base) {
    for (size_t at = 0; at < length; at += width) {
        const size_t count = length - at < width ? length - at : width;
        if (!line(out, dumpLine(data + at, count, width, static_cast<uint32_t>(base + at))))
            return false;
    }
    return true;
}

bool dumpHeader(OutputFile& out, const XmitDataSet* ds, const char* member) {
    if (member != nullptr) return line(out, format("Dump of %s(%s)", ds->dsname, member));
    return line(out, format("Dump of %s", ds->dsname));
}

bool dumpDirectoryEntry(OutputFile& out, const uint8_t* entry, unsigned width) {
    const unsigned length = entryLength(entry);
    return line(out, "") && line(out, format("Directory entry  length %u", length)) &&
           dumpLines(out, entry, length, width, 0);
}

bool dumpRecord(OutputFile& out, unsigned long number, const uint8_t* data, uint32_t length,
                unsigned width) {
    return line(out, "") &&
           line(out, format("Record %lu  length %u", number, static_cast<unsigned>(length))) &&
           dumpLines(out, data, length, width, 0);
}

namespace {

const char* typeName(uint8_t type) {
    switch (type) {
    case loadmod::kSD:
    case loadmod::kPC:
    case loadmod::kSD2:
    case loadmod::kPC2:
        return "CSECT";
    case loadmod::kER:
        return "EXTRN";
    case loadmod::kLR:
        return "ENTRY";
    case loadmod::kCM:
    case loadmod::kCM2:
        return "COM";
    case loadmod::kPR:
        return "DXD";
    case loadmod::kWX:
        return "WXTRN";
    default:
        return "?";
    }
}

// One relocation item: pointer, flags and address, then the kind of constant and its target.
std::string relocationLine(const LoadModuleImage& image, const RelocationItem& item) {
    const uint8_t f = item.flags;
    std::string l = format("    %.2X%.2X %.2X %.2X%.2X%.2X  ", item.relocationPointer >> 8,
                           item.relocationPointer & 0xFF, f, (item.address >> 16) & 0xFF,
                           (item.address >> 8) & 0xFF, item.address & 0xFF);
    if (loadmod::isCxd(f, item.relocationPointer)) return l + "CXD";
    if ((f & 0x74) == 0x70) {
        l += (f & 0x08) ? "RI4" : "RI2";
    } else {
        l.push_back("AVQJ"[(f >> 4) & 3]);
        if ((f & 0x4C) != 0x0C) {
            l.push_back('L');
            l.push_back(static_cast<char>('0' + 1 + ((f & 0x0C) >> 2) + ((f & 0x40) ? 4 : 0)));
        }
    }
    l.push_back('(');
    if (f & loadmod::kRldNegative) l.push_back('-');
    const CesdEntry* target = image.find(item.relocationPointer);
    // A pointer that names no entry cannot come through the reader; "unnamed" covers it anyway.
    if (target != nullptr && target->bytes[0] > 0x40)
        l += translatedName(target->bytes);
    else
        l += "unnamed";
    l.push_back(')');
    if (f & loadmod::kRldUnresolved) l += "  [unresolved]";
    return l;
}

} // namespace

bool listLoadModule(OutputFile& out, const XmitDataSet* ds, const char* member,
                    const uint8_t* entry, const LoadModuleImage& image) {
    const DirectoryEntryInfo& info = image.info;
    if (!dumpHeader(out, ds, member) || !line(out, "") || !line(out, "Directory Entry:") ||
        !dumpLines(out, entry, entryLength(entry), 32, 0))
        return false;
    if (!line(out, format("Module size: %.6lX (%lu)", static_cast<unsigned long>(info.moduleSize),
                          static_cast<unsigned long>(info.moduleSize))) ||
        !line(out, format("Entry point: %.6lX", static_cast<unsigned long>(info.entryPoint))))
        return false;

    std::string a = "Attributes:  RMODE(";
    a += (info.flags & DE_RMODE_ANY) ? "ANY)" : "24)";
    static const char* const kAmode[4] = {nullptr, ",AMODE(64)", ",AMODE(31)", ",AMODE(ANY)"};
    if (const char* m = kAmode[(info.flags & DE_AMODE_MASK) >> 10]) a += m;
    if (info.flags & DE_REFR)
        a += ",REUS(REFR)";
    else if (info.flags & DE_RENT)
        a += ",REUS(RENT)";
    else if (info.flags & DE_REUS)
        a += ",REUS(SERIAL)";
    if (info.flags & DE_TEST) a += ",TEST";
    if (info.flags & DE_ONLY) a += ",OL";
    if (info.flags & DE_OVLY) a += ",OVLY";
    if (info.flags & DE_SCTR) a += ",SCTR";
    if (info.flags & DE_NOT_EXECUTABLE) a += ",NX";
    if (info.flags & DE_PAGE_ALIGNED) a += ",ALIGN4K";
    if (info.flags & DE_APF) a += format(",AC(%u)", static_cast<unsigned>(info.flags & 0xFF));
    if (info.flags & DE_SSI)
        a += format(",SSI(%.2X%.2X%.2X%.2X)", info.ssi[0], info.ssi[1], info.ssi[2], info.ssi[3]);
    if (!line(out, a)) return false;

    for (const AliasEntry& alias : image.aliases) {
        std::string l = "Alias     " + alias.name;
        l.resize(18, ' ');
        l += format(" entry point: %.6X", static_cast<unsigned>(alias.entryPoint));
        if (!line(out, l)) return false;
    }
    if (image.linkEditLength > 0 && (!line(out, "Link Edit IDR Data:") ||
                                     !dumpLines(out, image.linkEdit, image.linkEditLength, 32, 0)))
        return false;
    if (info.flags & DE_SCTR) {
        const uint8_t* scatter = image.scatter.data();
        if (!line(out, "") || !line(out, "Translate table:") ||
            !dumpLines(out, scatter + info.scatterListLength, info.translationTableLength, 32, 0) ||
            !line(out, "Scatter table:") || !dumpLines(out, scatter, info.scatterListLength, 32, 0))
            return false;
    }
    if (!image.sym.empty()) {
        if (!line(out, "") || !line(out, "TEST data:")) return false;
        for (size_t at = 0; at < image.sym.size(); at += loadmod::kSymCard)
            if (!dumpLines(out, image.sym.data() + at, loadmod::kSymCard, 32, 0)) return false;
    }

    for (const CesdEntry& e : image.cesd) {
        const uint8_t type = e.type();
        if (type == loadmod::kLR) continue;
        std::string head =
            format("CESD %.4hX  %s ", static_cast<unsigned short>(e.esdid), typeName(type));
        head += e.bytes[0] < 0x41 ? std::string("(unnamed)") : translatedName(e.bytes);
        if (type == loadmod::kER &&
            (e.bytes[loadmod::kEntryErFlags] & loadmod::kNeverCall) == loadmod::kNeverCall)
            head += " [never call]";
        if (!line(out, "") || !line(out, head)) return false;
        const bool section = loadmod::isSection(type);
        if (!section && type != loadmod::kPR) continue;
        if (type == loadmod::kSD2 || type == loadmod::kPC2 || type == loadmod::kCM2) {
            if (!line(out, "    Align:   16")) return false;
        }
        if (!line(out, format("    Address: %.6lX", static_cast<unsigned long>(e.address))) ||
            !line(out, format("    Length:  %.6lX (%lu)", static_cast<unsigned long>(e.length),
                              static_cast<unsigned long>(e.length))))
            return false;
        if (type == loadmod::kPR) {
            if (!line(out, format("    Align:   %u", static_cast<unsigned>(e.sectionFlags()) + 1)))
                return false;
            continue;
        }
        const uint8_t flags = e.sectionFlags();
        if ((flags & 0x20) && !line(out, "    RMODE:   64")) return false;
        if (!(flags & 0x20) && (flags & 0x04) && !line(out, "    RMODE:   ANY")) return false;
        if (flags & 0x10) {
            static const char* const kModes[4] = {nullptr, "24", "31", "ANY"};
            if (const char* m = kModes[flags & 0x03];
                m && !line(out, std::string("    AMODE:   ") + m))
                return false;
        }
        if (e.identifyLength > 0) {
            std::string id;
            const uint8_t* e2a = rt::ebcdicToAscii();
            for (unsigned i = 0; i < e.identifyLength; ++i)
                id.push_back(static_cast<char>(e2a[e.identify[i]]));
            if (!line(out, "    IDENTIFY('" + id + "')")) return false;
        }
        if (e.translatorCount > 0 &&
            (!line(out, "    Translator IDR Data:") ||
             !dumpLines(out, &e.translator[0][0], static_cast<size_t>(e.translatorCount) * 15, 32,
                        0)))
            return false;
        for (const CesdEntry& lr : image.cesd) {
            if (lr.type() != loadmod::kLR || lr.owner != e.esdid) continue;
            if (!line(out,
                      format("    %.4hX ENTRY %s  %.6lX", static_cast<unsigned short>(lr.esdid),
                             translatedName(lr.bytes).c_str(),
                             static_cast<unsigned long>(lr.address))))
                return false;
        }
        // The section's text, within the image (the reader checked that it fits).
        if (e.length > 0 && e.address + static_cast<uint64_t>(e.length) <= image.text.size()) {
            if (!line(out, "    Data:") ||
                !dumpLines(out, image.text.data() + e.address, e.length, 32, e.address))
                return false;
        }
        if (!e.relocation.empty()) {
            if (!line(out, "    RLD items:")) return false;
            for (const RelocationItem& item : e.relocation)
                if (!line(out, relocationLine(image, item))) return false;
        }
    }
    return true;
}

} // namespace opx
