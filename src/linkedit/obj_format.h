// Object-module cards (OBJ): 80-byte EBCDIC records with X'02' in column 1 and the record type
// in columns 2-4. Shared by the linkage editor's reader of object decks and by every writer of
// such decks. Numbers are big-endian; offsets count from 0.
//
//   ESD  up to three 16-byte external symbol items (sections, labels, references)
//   XSD  one ESD item with a long name, spread over as many records as the name needs
//   TXT  up to 56 bytes of text of one section
//   RLD  relocation entries: the address constants and the symbols they refer to
//   SYM  symbol data for test tools
//   END  entry point, the length of a section left open, translator identification
#pragma once

#include <cstdint>

namespace obj {

inline constexpr unsigned kCardLength = 80;
inline constexpr uint8_t kCardId = 0x02;
inline constexpr uint8_t kEbcdicBlank = 0x40;

// The common frame.
inline constexpr unsigned kType = 1;      // 3 bytes of EBCDIC
inline constexpr unsigned kSequence = 72; // 8 bytes, not read
// The record types in EBCDIC.
inline constexpr uint8_t kEsdType[3] = {0xC5, 0xE2, 0xC4};
inline constexpr uint8_t kTxtType[3] = {0xE3, 0xE7, 0xE3};
inline constexpr uint8_t kRldType[3] = {0xD9, 0xD3, 0xC4};
inline constexpr uint8_t kEndType[3] = {0xC5, 0xD5, 0xC4};
inline constexpr uint8_t kSymType[3] = {0xE2, 0xE8, 0xD4};
inline constexpr uint8_t kXsdType[3] = {0xE7, 0xE2, 0xC4};

// ESD record.
inline constexpr unsigned kEsdBlanks = 5;   // 5 bytes
inline constexpr unsigned kEsdCount = 10;   // 2 bytes: 16, 32 or 48
inline constexpr unsigned kEsdBlanks2 = 12; // 2 bytes
inline constexpr unsigned kEsdFirstId = 14; // 2 bytes: ESDID of the first item that is not LD
inline constexpr unsigned kEsdItems = 16;   // up to three items
inline constexpr unsigned kEsdTrailer = 64; // 8 bytes of blanks
inline constexpr unsigned kEsdItemLength = 16;

// ESD item (also the fixed part of an XSD record).
inline constexpr unsigned kItemName = 0; // 8 bytes
inline constexpr unsigned kItemType = 8;
inline constexpr unsigned kItemAddress = 9; // 3 bytes
inline constexpr unsigned kItemFlags = 12;  // attributes; the alignment of an XD
inline constexpr unsigned kItemLength = 13; // 3 bytes: length, owning ESDID (LD) or blanks
inline constexpr unsigned kNameLength = 8;

enum ItemType : uint8_t {
    kSD = 0x00,
    kLD = 0x01,
    kER = 0x02,
    kPC = 0x04,
    kCM = 0x05,
    kXD = 0x06,
    kWX = 0x0A,
    kSDQ = 0x0D, // quadword-aligned forms
    kPCQ = 0x0E,
    kCMQ = 0x0F,
};
// Section flags of SD, PC, CM and LD items.
inline constexpr uint8_t kFlagAmode64 = 0x10; // otherwise the two low bits: 0, 1 24; 2 31; 3 ANY
inline constexpr uint8_t kFlagAmodeMask = 0x03;
inline constexpr uint8_t kFlagRmodeAny = 0x04;
inline constexpr uint8_t kFlagRsect = 0x08;
inline constexpr uint8_t kFlagIgnored = 0x40; // read as 0

// TXT record.
inline constexpr unsigned kTxtAddress = 5;  // 3 bytes
inline constexpr unsigned kTxtBlanks = 8;   // 2 bytes
inline constexpr unsigned kTxtCount = 10;   // 2 bytes: 1 to 56
inline constexpr unsigned kTxtBlanks2 = 12; // 2 bytes
inline constexpr unsigned kTxtEsdid = 14;   // 2 bytes
inline constexpr unsigned kTxtData = 16;
inline constexpr unsigned kMaxData = 56; // data bytes of a TXT, RLD or SYM record

// RLD record.
inline constexpr unsigned kRldBlanks = 5;   // 5 bytes
inline constexpr unsigned kRldCount = 10;   // 2 bytes: 8 to 56
inline constexpr unsigned kRldBlanks2 = 12; // 4 bytes
inline constexpr unsigned kRldData = 16;
// RLD entries: R pointer (2), P pointer (2), flags (1), address (3); after an entry with
// kRldSamePointers the next one is flags and address only.
inline constexpr unsigned kRldEntry = 8;
inline constexpr unsigned kRldShortEntry = 4;
inline constexpr uint8_t kRldSamePointers = 0x01;
inline constexpr uint8_t kRldNegative = 0x02;
inline constexpr uint8_t kRldLengthBits = 0x0C;
inline constexpr uint8_t kRldKindBits = 0x30;
inline constexpr uint8_t kRldLongBit = 0x40;
inline constexpr uint8_t kRldReserved = 0x80;
inline constexpr uint8_t kRldKindA = 0x00, kRldKindV = 0x10, kRldKindQ = 0x20, kRldKindCxd = 0x30;
// The length of the constant that an RLD flag byte describes: (X'40' as 4) + X'0C' + 1.
inline unsigned rldLength(uint8_t flags) {
    return ((flags & kRldLongBit) ? 4u : 0u) + ((flags & kRldLengthBits) >> 2) + 1u;
}

// END record.
inline constexpr unsigned kEndAddress = 5;       // 3 bytes, or blanks
inline constexpr unsigned kEndBlanks = 8;        // 6 bytes
inline constexpr unsigned kEndEsdid = 14;        // 2 bytes, or blanks
inline constexpr unsigned kEndName = 16;         // 8 bytes: entry symbol when the ESDID is blank
inline constexpr unsigned kEndBlanks2 = 24;      // 4 bytes
inline constexpr unsigned kEndLength = 28;       // 4 bytes: binary (first byte X'00') or blanks
inline constexpr unsigned kEndIdCount = 32;      // EBCDIC blank, "1" or "2"
inline constexpr unsigned kEndIdItems = 33;      // two items of 19 bytes
inline constexpr unsigned kEndIdItemLength = 19; // translator 10, version 2, modification 2,
                                                 // date 5 (digits from offset 10)
inline constexpr unsigned kEndIdDigits = 10;
inline constexpr unsigned kEndBlank3 = 71;

// SYM record.
inline constexpr unsigned kSymBlanks = 5;   // 5 bytes
inline constexpr unsigned kSymCount = 10;   // 2 bytes: 1 to 56
inline constexpr unsigned kSymBlanks2 = 12; // 4 bytes
inline constexpr unsigned kSymData = 16;

// XSD record: one item with a long name over one or more records.
inline constexpr unsigned kXsdContinued = 4; // blank on continuations
inline constexpr unsigned kXsdBlanks = 5;    // 5 bytes
inline constexpr unsigned kXsdCount = 10;    // 2 bytes: 16 fixed bytes + 0 to 40 name bytes
inline constexpr unsigned kXsdAttribute = 13;
inline constexpr unsigned kXsdEsdid = 14;      // 2 bytes, not 0
inline constexpr unsigned kXsdNameLength = 16; // 4 bytes: total, at most 32767
inline constexpr unsigned kXsdNameOffset = 20; // 4 bytes: position of this part, from 1
inline constexpr unsigned kXsdItem = 24;       // type, address, flags, length as in an item
inline constexpr unsigned kXsdName = 32;       // the name part
inline constexpr unsigned kXsdFixed = 16;
inline constexpr unsigned kXsdMaxPart = 40;
inline constexpr unsigned kMaxNameLength = 32767;

// SYM data items: the first byte carries the item type in its high four bits (1 to 3),
// kSymNoName, and the name length minus one in its low three bits; three bytes of address
// follow, then the name. A name of more than 8 characters is announced by an 8-character name
// "0" + the number of parts (2 to 9) + six decimal digits, followed by that many continuation
// items: X'60' + part length (1 to 7), the part number (1 byte), the same six digits, the part.
inline constexpr uint8_t kSymNoName = 0x08;
inline constexpr unsigned kSymItemHeader = 4;
inline constexpr uint8_t kSymContinuation = 0x60;
inline constexpr unsigned kSymContinuationHeader = 8;

inline unsigned be16(const uint8_t* p) {
    return static_cast<unsigned>(p[0]) << 8 | p[1];
}
inline uint32_t be24(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}
inline uint32_t be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | be24(p + 1);
}
inline void put16(uint8_t* p, unsigned v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void put24(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 16);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v);
}
inline void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    put24(p + 1, v);
}

} // namespace obj
