// The IEBCOPY unload inside a transmit file: its two control records, the directory and its
// display lines, load-module attributes, packed dates and the relative TTRs of data blocks.
//
// A directory line, for a member with ISPF statistics and for a load module:
//
//   MEMBER1             1.004  2021-03-04  2023-11-20 14:05  IBMUSER
//   ALIAS1    MODULE1   0004A8  000000  24   24             RN RU
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "opxcore.h"
#include "pdse.h"
#include "reader.h"
#include "runtime.h"
#include "unload_format.h"
#include "xmit_format.h"

using namespace unload;
using xmit::be16;
using xmit::be24;

namespace opx {

namespace {

bool refuse(XmitHandle* h, const char* message) {
    h->message = message;
    return false;
}

} // namespace

bool checkUnloadControlRecords(XmitHandle* h, XmitDataSet* ds) {
    if (readRecord(h) != IO_OK) return false;
    if (isControl(h))
        return refuse(h, "Invalid TSO TRANSMIT file data (missing IEBCOPY control record 1)");
    if (h->recordLength < kR1MinLength)
        return refuse(h, "Invalid TSO TRANSMIT file data (bad IEBCOPY R1 length)");
    const uint8_t* r1 = h->record;
    if (std::memcmp(r1 + kR1Identifier, kIdentifier, 3) != 0)
        return refuse(h, "Invalid TSO TRANSMIT file data (bad IEBCOPY R1 ID)");
    const unsigned tracks = be16(r1 + kR1TracksPerCylinder);
    if (tracks == 0 || tracks > 256)
        return refuse(h, "Invalid TSO TRANSMIT file data (bad IEBCOPY R1 device information)");
    ds->tracksPerCylinder = static_cast<uint16_t>(tracks);
    if (tracks == 256) ds->kind = XMIT_KIND_PDSE;

    const uint8_t flags = r1[kR1Flags];
    switch (flags & kUnloadTypeMask) {
    case 0x00:
        if ((flags & kUnloadPdseOld) || (r1[kR1SmsFlags] & kSmsPdse)) ds->kind = XMIT_KIND_PDSE;
        break;
    case kUnloadPdse:
        ds->kind = XMIT_KIND_PDSE;
        if (flags & kUnloadLoadLibrary) ds->loadLibrary = 1;
        break;
    default:
        ds->kind = XMIT_KIND_UNSUPPORTED;
        break;
    }
    if (ds->kind == XMIT_KIND_UNSUPPORTED) return true;

    if (h->recordLength > kR1MinLength && r1[kR1ControlRecordCount] != 0 &&
        r1[kR1ControlRecordCount] != 2)
        return refuse(h, "Invalid TSO TRANSMIT file data (bad IEBCOPY control record count)");

    if (readRecord(h) != IO_OK) return false;
    if (isControl(h))
        return refuse(h, "Invalid TSO TRANSMIT file data (missing IEBCOPY control record 2)");
    if (h->recordLength != kR2Length)
        return refuse(h, "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 length)");
    const uint8_t* r2 = h->record;
    const unsigned extents = r2[kR2ExtentCount];
    if (extents == 0 || extents > kMaxExtents)
        return refuse(h, "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 extents)");
    for (unsigned i = 0; i < extents; ++i) {
        const uint8_t* e = r2 + kR2Extents + kR2ExtentSize * i;
        const uint32_t startHead = be16(e + kExtentStartHead), endHead = be16(e + kExtentEndHead);
        if (startHead >= tracks || endHead >= tracks)
            return refuse(h, "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 extent information)");
        const uint32_t start = be16(e + kExtentStartCylinder) * tracks + startHead;
        const uint32_t end = be16(e + kExtentEndCylinder) * tracks + endHead;
        if (end < start)
            return refuse(h, "Invalid TSO TRANSMIT file data (bad IEBCOPY R2 extent information)");
        ds->extents[i][0] = start;
        ds->extents[i][1] = end - start + 1;
    }
    ds->extentCount = static_cast<uint8_t>(extents);
    ds->directoryPosition = nextRecordPosition(h);
    return true;
}

namespace {

// Walks the directory records from the directory position: every entry is handed to
// onEntry(entry, length) in directory order. Returns false with the message set.
template <class OnEntry> bool walkDirectory(XmitHandle* h, XmitDataSet* ds, OnEntry onEntry) {
    static const char* const kInvalid = "Invalid TSO TRANSMIT file (invalid directory data record)";
    if (seek(h, ds->directoryPosition) != IO_OK) return false;
    const bool pdseUnload = ds->kind == XMIT_KIND_PDSE;
    bool lastSeen = false;
    for (;;) {
        if (readRecord(h) != IO_OK) return false;
        if (isControl(h))
            return refuse(h, "Invalid TSO TRANSMIT file (unexpected XMIT control record in IEBCOPY "
                             "directory data)");
        const uint8_t* rec = h->record;
        const uint32_t length = h->recordLength;
        uint32_t at = 0;
        while (at < length) {
            const uint32_t left = length - at;
            if (left == kEndMarkerLength) {
                bool zeros = true;
                for (uint32_t i = 0; i < left; ++i) zeros &= rec[at + i] == 0;
                if (zeros || (pdseUnload && pdse::directoryEnd(rec + at, left))) return true;
            }
            if (left < kDirectoryStep) return refuse(h, kInvalid);
            const uint8_t* step = rec + at;
            at += kDirectoryStep;
            // Blocks after the last one are passed over.
            if (lastSeen) continue;
            const bool countField = pdseUnload
                                        ? pdse::directoryCountField(step + kDirCountField)
                                        : std::memcmp(step + kDirCountField, kDirectoryCountField,
                                                      sizeof kDirectoryCountField) == 0;
            if (!countField) return refuse(h, kInvalid);
            const uint8_t* block = step + kDirBlock;
            const unsigned used = be16(block);
            const bool lastBlock = used >= kLastBlockMinUsed && used < kMinUsed && block[2] == 0xFF;
            if ((used < kMinUsed || used > kDirBlockSize) && !lastBlock) return refuse(h, kInvalid);
            for (unsigned e = 2; e < used;) {
                const unsigned entryLeft = used - e;
                if (block[e] == 0xFF && entryLeft >= 8) {
                    lastSeen = true;
                    break;
                }
                if (entryLeft < kEntryHeader) return refuse(h, kInvalid);
                const unsigned entryLen = entryLength(block + e);
                // An entry may not run past the bytes its block uses.
                if (entryLen > entryLeft) return refuse(h, kInvalid);
                onEntry(block + e, entryLen);
                e += entryLen;
            }
        }
    }
}

} // namespace

bool readDirectory(XmitHandle* h, XmitDataSet* ds) {
    h->message = nullptr;
    uint32_t count = 0, longest = 0;
    if (!walkDirectory(h, ds, [&](const uint8_t*, unsigned length) {
            ++count;
            if (length > longest) longest = length;
        }))
        return false;
    ds->dataPosition = nextRecordPosition(h);
    // A data position of 0 would mean "not read"; the unload's records always come first.
    if (count == 0) return true;
    if (ds->recfmLetters[0] == 'U') ds->loadLibrary = 1;
    rt::release(ds->directory);
    ds->directory = static_cast<uint8_t*>(rt::allocArray(count, longest));
    ds->entryCount = count;
    ds->entryLength = longest;
    uint32_t index = 0;
    const int64_t dataPosition = ds->dataPosition;
    const bool ok = walkDirectory(h, ds, [&](const uint8_t* entry, unsigned length) {
        if (index >= count) return;
        std::memcpy(ds->directory + static_cast<size_t>(index) * longest, entry, length);
        if (length < kLmMinEntry || entry[kLmNoteCount] > 14) ds->loadLibrary = 0;
        if (entry[kEntryIndicator] & kAlias) ds->hasAliases = 1;
        ++index;
    });
    ds->dataPosition = dataPosition;
    return ok;
}

const uint8_t* directoryEntry(const XmitDataSet* ds, unsigned index) {
    if (ds == nullptr || ds->directory == nullptr || index >= ds->entryCount) return nullptr;
    return ds->directory + static_cast<size_t>(index) * ds->entryLength;
}

void decodeLoadModuleEntry(const uint8_t* e, unsigned length, DirectoryEntryInfo* info) {
    *info = DirectoryEntryInfo{};
    auto has = [length](unsigned offset, unsigned width) { return offset + width <= length; };
    if (!has(kLmAttr4, 1)) return;
    const uint8_t a1 = e[kLmAttr1], a2 = e[kLmAttr2], a3 = e[kLmAttr3], a4 = e[kLmAttr4];
    info->moduleSize = be24(e + kLmSize);
    info->entryPoint = be24(e + kLmEntry);
    uint32_t f = 0;
    f |= static_cast<uint32_t>(a4 & kAttr4AmodeMask) << 10;
    if (a4 & kAttr4RmodeAny) f |= DE_RMODE_ANY;
    if (a2 & kAttr2Refr) f |= DE_REFR;
    if (a1 & kAttr1Rent) f |= DE_RENT;
    if (a1 & kAttr1Reus) f |= DE_REUS;
    if (a1 & kAttr1Test) f |= DE_TEST;
    if (a1 & kAttr1Only) f |= DE_ONLY;
    if (a1 & kAttr1Ovly) f |= DE_OVLY;
    if (!(a1 & kAttr1Exec)) f |= DE_NOT_EXECUTABLE;
    if (a2 & kAttr2NotEditable) f |= DE_NOT_EDITABLE;
    if (a3 & kAttr3PageAligned) f |= DE_PAGE_ALIGNED;
    if (a3 & kAttr3ProgramObject) f |= DE_PROGRAM_OBJECT;
    unsigned optional = kLmOptional;
    if (a1 & kAttr1Sctr) {
        f |= DE_SCTR;
        if (has(kLmTranslationLength, 2)) {
            info->scatterListLength = be16(e + kLmScatterLength);
            info->translationTableLength = be16(e + kLmTranslationLength);
        }
        optional = kLmOptionalScatter;
    }
    // The optional sections, in order: alias data (not read), SSI at the next even offset,
    // APF data. A section beyond the entry counts as absent.
    if (e[kEntryIndicator] & kAlias) optional += kLmAliasData;
    if (a3 & kAttr3Ssi) {
        optional = (optional + 1) & ~1u;
        if (has(optional, 4)) {
            std::memcpy(info->ssi, e + optional, 4);
            f |= DE_SSI;
        }
        optional += 4;
    }
    if ((a3 & kAttr3Apf) && has(optional, 2)) {
        f |= DE_APF | e[optional + 1];
    }
    info->flags = f;
}

int packedDate(const uint8_t p[4], char* text) {
    uint32_t value = 0;
    for (int i = 0; i < 7; ++i) {
        const unsigned nibble = (i % 2 == 0) ? (p[i / 2] >> 4) : (p[i / 2] & 0x0F);
        if (nibble > 9) return 1;
        value = value * 10 + nibble;
    }
    if ((p[3] & 0x0F) != 0x0F) return 1;
    if (value == 0) {
        std::memcpy(text, "          ", 11);
        return -1;
    }
    if (value > 150000) return 1;
    const unsigned year = value / 1000 + 1900;
    unsigned day = value % 1000;
    // The table of month lengths has February's 29: outside leap years the days from March
    // on move up by one.
    if (year % 4 != 0 && day >= 60) ++day;
    if (year < 1975 || day == 0 || day > 366) return 1;
    static const unsigned kMonths[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned month = 0;
    while (day > kMonths[month]) day -= kMonths[month++];
    char formatted[32];
    std::snprintf(formatted, sizeof formatted, "%u-%.2u-%.2u", year, month + 1, day);
    std::memcpy(text, formatted, 11);
    return 0;
}

uint32_t relativeTtr(const XmitDataSet* ds, const uint8_t* cf) {
    const unsigned m = cf[kCfExtent] < ds->extentCount ? cf[kCfExtent] : 0;
    uint32_t track =
        be16(cf + kCfCylinder) * ds->tracksPerCylinder + be16(cf + kCfHead) - ds->extents[m][0];
    for (unsigned i = 0; i < m; ++i) track += ds->extents[i][1];
    return ((track & 0xFFFF) << 8) | cf[kCfRecord];
}

} // namespace opx

using namespace opx;

namespace opx {

XmitDataSet* loadDirectory(XmitHandle* h, unsigned n, bool readPdse) {
    if (h == nullptr) return nullptr;
    if (h->io.stream == nullptr) {
        h->message = "File is not open";
        return nullptr;
    }
    if (n == 0 || n > h->fileCount || h->dataSets == nullptr) {
        h->message = rt::message("Data set %u was not transmitted", n);
        return nullptr;
    }
    XmitDataSet* ds = &h->dataSets[n - 1];
    switch (ds->kind) {
    case XMIT_KIND_PARTITIONED:
        if (ds->encrypted) break;
        if (ds->dataPosition == 0 && !readDirectory(h, ds)) return nullptr;
        return ds;
    case XMIT_KIND_PDSE:
        if (readPdse && !ds->encrypted) {
            if (ds->dataPosition == 0 && !readDirectory(h, ds)) return nullptr;
            return ds;
        }
        if (!readPdse) {
            h->message = "PDSE data sets are not supported";
            return nullptr;
        }
        break;
    default:
        break;
    }
    h->message = "Directory information is not available";
    return nullptr;
}

} // namespace opx

OPX_EXTERN_C OPX_API XmitDataSet* pxhXmitFileLoadDir(XmitHandle* h, unsigned n) {
    rt::requireConnected();
    return loadDirectory(h, n, false);
}

namespace opx {

namespace {

void translatedName(const uint8_t* ebcdic, char* out) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(e2a[ebcdic[i]]);
    out[8] = '\0';
}

} // namespace

DecodedEntry decodeEntry(const XmitDataSet* ds, unsigned index) {
    DecodedEntry d;
    const uint8_t* e = directoryEntry(ds, index);
    if (e == nullptr) return d;
    d.entry = e;
    d.length = entryLength(e);
    translatedName(e + kEntryName, d.name);
    d.alias = (e[kEntryIndicator] & kAlias) != 0;
    if (d.alias) {
        // The member an alias stands for: the first real entry of the same TTR.
        for (unsigned i = 0; i < ds->entryCount && !d.aliasResolved; ++i) {
            const uint8_t* other = directoryEntry(ds, i);
            if (!(other[kEntryIndicator] & kAlias) &&
                std::memcmp(other + kEntryTtr, e + kEntryTtr, 3) == 0) {
                translatedName(other + kEntryName, d.aliasOf);
                d.aliasResolved = true;
            }
        }
    }
    if (ds->loadLibrary) {
        d.loadModule = true;
        decodeLoadModuleEntry(e, d.length, &d.module);
        return d;
    }
    // ISPF statistics: 14 or 15 halfwords of user data with two valid dates.
    const unsigned halfwords = e[kEntryIndicator] & kHalfwordMask;
    if (halfwords != 14 && halfwords != 15) return d;
    if (packedDate(e + kIspfCreated, d.created) > 0 || packedDate(e + kIspfChanged, d.changed) > 0)
        return d;
    d.statistics = true;
    d.version = e[kIspfVersion];
    d.modification = e[kIspfModification];
    d.hour = e[kIspfHour];
    d.minute = e[kIspfMinute];
    d.currentLines = be16(e + kIspfLines);
    d.initialLines = be16(e + kIspfLines + 2);
    d.modifiedLines = be16(e + kIspfLines + 4);
    if (e[kIspfUser] >= 0x41) translatedName(e + kIspfUser, d.user);
    return d;
}

} // namespace opx

namespace {

// Writes `text` at a column of the line, within its 80 columns.
void put(char* line, unsigned column, const char* text) {
    for (; *text && column < 80; ++column, ++text) line[column] = *text;
}

// The display line of one entry, into a line of 80 columns (zero-filled).
void formatEntry(const XmitDataSet* ds, unsigned index, char* line) {
    const DecodedEntry d = decodeEntry(ds, index);
    std::memset(line, 0, 80);
    std::memcpy(line, d.name, 8);
    std::memset(line + 8, ' ', 10);
    if (d.alias) std::memcpy(line + 10, d.aliasResolved ? d.aliasOf : "????????", 8);
    if (!d.loadModule) {
        if (!d.statistics) return;
        char stats[64];
        std::snprintf(stats, sizeof stats, "  %3u.%03u  %s  %s %.2X:%.2X  ", d.version,
                      d.modification, d.created, d.changed, d.hour, d.minute);
        put(line, 18, stats);
        if (d.user[0] != '\0') {
            put(line, 59, d.user);
            unsigned end = 67;
            while (end > 59 && static_cast<uint8_t>(line[end - 1]) <= 0x20) --end;
            std::memset(line + end, 0, 80 - end);
        }
        return;
    }
    const DirectoryEntryInfo& info = d.module;
    if (info.flags & DE_PROGRAM_OBJECT) return;
    char sizes[32];
    std::snprintf(sizes, sizeof sizes, "  %.6lX  %.6lX",
                  static_cast<unsigned long>(info.moduleSize),
                  static_cast<unsigned long>(info.entryPoint));
    put(line, 18, sizes);
    std::memset(line + 34, ' ', 77 - 34);
    put(line, 37, amodeName(info.flags));
    put(line, 44, (info.flags & DE_RMODE_ANY) ? "ANY" : "24");
    if (info.flags & DE_APF) {
        char code[8];
        std::snprintf(code, sizeof code, "%03u", info.flags & 0xFF);
        if (code[0] == '0') code[0] = ' ';
        put(line, 49, code);
    }
    for (const ModuleAttribute& a : kModuleAttributes)
        if (info.flags & a.flag) put(line, a.column, a.text);
    if (info.flags & DE_NOT_EDITABLE)
        put(line, 75, "NE");
    else if (info.flags & DE_NOT_EXECUTABLE)
        put(line, 75, "NX");
    line[77] = '\0';
}

} // namespace

OPX_EXTERN_C OPX_API void vXmitFileFormatDe(XmitDataSet* ds, unsigned index, char* line,
                                            unsigned size) {
    if (line == nullptr || size == 0) return;
    const uint8_t* entry = directoryEntry(ds, index);
    if (entry == nullptr || size < 78) {
        line[0] = '\0';
        return;
    }
    char full[80];
    formatEntry(ds, index, full);
    const unsigned n = size < 80 ? size : 80;
    std::memcpy(line, full, n);
    std::memset(line + n - 1, 0, 1);
    if (size > 80) std::memset(line + 80, 0, size - 80);
}
