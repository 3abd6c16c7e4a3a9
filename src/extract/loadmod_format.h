// Load-module records, as the linkage editor writes them into a member of a load library
// (one member record each; numbers big-endian). Shared by the reader of load modules and the
// load-module writer of the linkage editor.
//
//   control    X'01' X'02' X'03' X'0D' X'0E' X'0F': relocation and control data; X'01' a text
//              record follows, X'02' relocation data present
//   text       the record after a control record with X'01': text at the announced address
//   scatter    X'10': the scatter list and translation table of a scatter-load module
//   CESD       X'20': composite external symbol dictionary, 16-byte entries
//   SYM        X'40': symbol (TEST) card images
//   IDR        X'80': identification: linkage editor, translator and IDENTIFY data
#pragma once

#include <cstdint>

namespace loadmod {

// Record identifications.
inline constexpr uint8_t kScatter = 0x10;
inline constexpr uint8_t kCesd = 0x20;
inline constexpr uint8_t kSym = 0x40;
inline constexpr uint8_t kIdr = 0x80;
inline constexpr uint8_t kTextFollows = 0x01;
inline constexpr uint8_t kRelocationPresent = 0x02;
inline bool isControl(uint8_t id) {
    return id == 0x01 || id == 0x02 || id == 0x03 || id == 0x0D || id == 0x0E || id == 0x0F;
}

// Control records.
inline constexpr unsigned kCtlControlLength = 4;    // 2 bytes
inline constexpr unsigned kCtlRelocationLength = 6; // 2 bytes
inline constexpr unsigned kCtlCcw = 8;              // 8 bytes; 9-11 the text address
inline constexpr unsigned kCtlTextAddress = 9;
inline constexpr unsigned kCtlData = 16; // relocation data, then control data

// Relocation data: R pointer (2), P pointer (2), then items of flag (1) and address (3).
inline constexpr unsigned kRldGroupHeader = 4;
inline constexpr unsigned kRldItem = 4;
inline constexpr uint8_t kRldSamePointers = 0x01; // the next item has the same pointers
inline constexpr uint8_t kRldUnresolved = 0x80;
inline constexpr uint8_t kRldNegative = 0x02;

// Scatter/translation records.
inline constexpr unsigned kScatterLength = 2; // 2 bytes: data length n, record length n + 4
inline constexpr unsigned kScatterData = 4;
inline constexpr unsigned kScatterMinData = 8;
inline constexpr unsigned kScatterMaxData = 1024;

// CESD records.
inline constexpr unsigned kCesdFlags = 1;      // X'80': section flags are kept
inline constexpr unsigned kCesdFirstEsdid = 4; // 2 bytes
inline constexpr unsigned kCesdDataLength = 6; // 2 bytes
inline constexpr unsigned kCesdEntries = 8;
inline constexpr unsigned kCesdEntrySize = 16;
inline constexpr unsigned kCesdMaxData = 240;

// CESD entries.
inline constexpr unsigned kEntryName = 0;    // 8 bytes
inline constexpr unsigned kEntryType = 8;    // low four bits
inline constexpr unsigned kEntryAddress = 9; // 3 bytes
inline constexpr unsigned kEntrySectionFlags = 12;
inline constexpr unsigned kEntryLength = 13;  // 3 bytes (sections, commons, pseudo registers)
inline constexpr unsigned kEntryOwner = 14;   // 2 bytes (label references)
inline constexpr unsigned kEntryErFlags = 13; // external references: X'06' never call
inline constexpr uint8_t kNeverCall = 0x06;

enum CesdType : uint8_t {
    kSD = 0,
    kER = 2,
    kLR = 3,
    kPC = 4,
    kCM = 5,
    kPR = 6,
    kNull = 7,
    kWX = 10,
    kSD2 = 13,
    kPC2 = 14,
    kCM2 = 15
};
inline bool isSection(uint8_t t) {
    return t == kSD || t == kPC || t == kCM || t == kSD2 || t == kPC2 || t == kCM2;
}
inline bool isControlSection(uint8_t t) {
    return t == kSD || t == kSD2;
}
// Sections that can hold relocatable constants.
inline bool holdsRelocation(uint8_t t) {
    return t == kSD || t == kPC || t == kSD2 || t == kPC2;
}

// SYM records.
inline constexpr unsigned kSymLength = 2; // 2 bytes: data length n (a multiple of 80)
inline constexpr unsigned kSymData = 4;
inline constexpr unsigned kSymCard = 80;

// IDR records.
inline constexpr unsigned kIdrLength = 1;  // record length - 1
inline constexpr unsigned kIdrSubtype = 2; // X'80' last record of the block, X'7F' the subtype
inline constexpr unsigned kIdrData = 3;
inline constexpr uint8_t kIdrLast = 0x80;
inline constexpr uint8_t kIdrSubtypeMask = 0x7F;
inline constexpr uint8_t kIdrIgnored = 1, kIdrLinkEdit = 2, kIdrTranslator = 4, kIdrIdentify = 8;
inline constexpr unsigned kTranslatorEntry = 15;
inline constexpr unsigned kMaxIdentify = 40;

// The length of the address constant that a relocation item describes.
inline unsigned constantLength(uint8_t flags) {
    if ((flags & 0x74) == 0x70) return (flags & 0x08) ? 4 : 2; // relative immediate
    return 1 + ((flags & 0x0C) >> 2) + ((flags & 0x40) ? 4 : 0);
}
inline bool isCxd(uint8_t flags, uint16_t rpointer) {
    return (flags & 0x30) == 0x30 && rpointer == 0;
}

} // namespace loadmod
