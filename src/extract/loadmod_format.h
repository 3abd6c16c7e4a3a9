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

// The member file in which the linkage editor saves a module (all but COMPAT=LMF and TEXTONLY)
// begins with a 256-byte header:
//   +0     X'F3F9F040', version 2 at 4-7, header length X'0100' at 8-9, the save time at 10-23
//          (14 EBCDIC digits), byte 28 the length of the directory data at 30 (TTR and
//          indicator of the entry, then its user data from 34), the module size at 116-119,
//          flags at 251 (X'08' not executable)
//   COMPAT=LKED: header bytes 196-199 the length of the load-module part, 204-207 its file
//          offset: a 16-byte "LM" descriptor (block length at 6-7, record count at 8-11), then
//          the load-module records, each behind a 2-byte length that does not count itself
//   program objects: a 64-byte "LD" descriptor after the header, its tables, then the text
inline constexpr unsigned kHeaderLength = 256;
inline constexpr uint8_t kHeaderId[4] = {0xF3, 0xF9, 0xF0, 0x40};
inline constexpr unsigned kHeaderVersion = 4;      // 4 bytes: 2
inline constexpr unsigned kHeaderSize = 8;         // 2 bytes: X'0100'
inline constexpr unsigned kHeaderTime = 10;        // 14 EBCDIC digits YYYYMMDDhhmmss
inline constexpr unsigned kHeaderLevel = 25;       // 3 bytes X'030007'
inline constexpr unsigned kHeaderEntryLength = 28; // the directory data at 30, its length
inline constexpr unsigned kHeaderTtr = 30;         // 3 bytes
inline constexpr unsigned kHeaderIndicator = 33;   // the entry's indicator byte: X'80' alias
inline constexpr unsigned kHeaderUserData = 34;
inline constexpr unsigned kHeaderModuleSize = 116; // 4 bytes
inline constexpr unsigned kHeaderTables = 148;     // 4 bytes: tables after the LD descriptor
inline constexpr unsigned kHeaderConstant = 156;   // 4 bytes: X'00000100'
inline constexpr unsigned kHeaderLkedLength = 196; // 4 bytes: descriptor and records
inline constexpr unsigned kHeaderDescriptor = 204; // 4 bytes: file offset of the descriptor
inline constexpr unsigned kHeaderEntrySegment = 245;
inline constexpr unsigned kHeaderAmode = 246; // 1 24, 2 31, 3 ANY, 4 64
inline constexpr unsigned kHeaderRmode = 247; // 1 24, 3 ANY
inline constexpr unsigned kHeaderReus = 248;  // 1 SERIAL, 2 RENT, 3 REFR
inline constexpr unsigned kHeaderAc = 249;
inline constexpr unsigned kHeaderFlags = 251;
inline constexpr uint8_t kHeaderOl = 0x80, kHeaderTest = 0x40, kHeaderNotEditable = 0x20,
                         kHeaderDebugNo = 0x10, kHeaderNotExecutable = 0x08, kHeaderAligned = 0x04;
inline constexpr unsigned kDescriptorLength = 16;
inline constexpr uint8_t kDescriptorId[2] = {0xD3, 0xD4}; // "LM"
inline constexpr unsigned kDescriptorBlockLength = 6;     // 2 bytes
inline constexpr unsigned kDescriptorRecords = 8;         // 4 bytes

// The length of the address constant that a relocation item describes.
inline unsigned constantLength(uint8_t flags) {
    if ((flags & 0x74) == 0x70) return (flags & 0x08) ? 4 : 2; // relative immediate
    return 1 + ((flags & 0x0C) >> 2) + ((flags & 0x40) ? 4 : 0);
}
inline bool isCxd(uint8_t flags, uint16_t rpointer) {
    return (flags & 0x30) == 0x30 && rpointer == 0;
}

} // namespace loadmod
