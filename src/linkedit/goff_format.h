// GOFF records (the generalized object file format): 80-byte physical records with X'03' in
// byte 0, each carrying 77 bytes of a logical record that may continue over further physical
// records. Numbers are big-endian; offsets below count within the logical record, whose first
// three bytes are the prefix of its first physical record.
//
//   HDR  the module header (one physical record)
//   ESD  one external symbol: SD section, ED element (a class of a section), LD label,
//        PR part or pseudo register, ER external reference
//   TXT  text of an element: byte-oriented text, or structured identification data
//   RLD  relocation items: the address constants, where they lie and what they refer to
//   LEN  lengths of elements whose length was deferred
//   END  the end of the module, with its entry point request
#pragma once

#include <cstdint>

namespace goff {

// ---- physical records ------------------------------------------------------------------------

inline constexpr unsigned kRecordLength = 80;
inline constexpr uint8_t kRecordId = 0x03;
inline constexpr unsigned kPrefixLength = 3;
inline constexpr unsigned kDataLength = kRecordLength - kPrefixLength; // 77 bytes a record
// Byte 1: the record type in the high four bits, the continuation state in the low two bits.
inline constexpr unsigned kTypeByte = 1;
inline constexpr unsigned kVersion = 2;        // must be 0
inline constexpr uint8_t kContinued = 0x01;    // a further physical record follows
inline constexpr uint8_t kContinuation = 0x02; // this record continues the one before
inline constexpr uint8_t kStateMask = 0x03;
inline unsigned recordType(const uint8_t* r) {
    return r[kTypeByte] >> 4;
}
inline unsigned continuationState(const uint8_t* r) {
    return r[kTypeByte] & kStateMask;
}

enum RecordType : unsigned {
    kEsd = 0x0,
    kTxt = 0x1,
    kRld = 0x2,
    kLen = 0x3,
    kEnd = 0x4,
    kHdr = 0xF
};

// A logical record spans at most 426 physical records: 3 prefix bytes and 426 * 77 data bytes.
inline constexpr unsigned kMaxPhysicalRecords = 426;
inline constexpr unsigned kMaxLogicalLength = kPrefixLength + kMaxPhysicalRecords * kDataLength;
static_assert(kMaxLogicalLength == 32805);

// Offsets, lengths and addresses are 31-bit values; a sum of two must stay below 2 GB.
inline constexpr uint64_t kAddressLimit = uint64_t{1} << 31;

// ---- ESD -----------------------------------------------------------------------------------

inline constexpr unsigned kEsdSymbolType = 3;
inline constexpr unsigned kEsdId = 4;     // 4 bytes, not 0
inline constexpr unsigned kEsdParent = 8; // 4 bytes: the owning item, or 0
inline constexpr unsigned kEsdOffset = 16;
inline constexpr unsigned kEsdLength = 24;
inline constexpr unsigned kEsdExtendedId = 28;     // 4 bytes: extended attributes (not used)
inline constexpr unsigned kEsdExtendedOffset = 32; // 4 bytes
inline constexpr unsigned kEsdNameSpace = 40;
inline constexpr unsigned kEsdFlags = 41;
inline constexpr unsigned kEsdFill = 42;
inline constexpr unsigned kEsdAssociated = 44; // 4 bytes: associated data (ADA) ESDID, or 0
inline constexpr unsigned kEsdPriority = 48;   // 4 bytes
inline constexpr unsigned kEsdAttributes = 60; // 10 bytes, below
inline constexpr unsigned kEsdNameLength = 70; // 2 bytes, 1 to 32767
inline constexpr unsigned kEsdName = 72;
inline constexpr unsigned kMaxNameLength = 32767;

enum SymbolType : uint8_t { kSD = 0, kED = 1, kLD = 2, kPR = 3, kER = 4 };

// A length that is not known yet, given later by a LEN record.
inline constexpr uint32_t kDeferredLength = 0xFFFFFFFF;

// The behavioural attributes (bytes 60-69).
inline constexpr unsigned kAttrAmode = 60;     // 0 unspecified, 1 24, 2 31, 3 ANY, 4 64, X'10' MIN
inline constexpr unsigned kAttrRmode = 61;     // 0 unspecified, 1 24, 2 and 3 31 (ANY)
inline constexpr unsigned kAttrStyle = 62;     // high four bits the text record style, low four
                                               // bits the binding algorithm
inline constexpr unsigned kAttrTasking = 63;   // X'E0' reusability, X'08' read-only, X'07'
                                               // executable (0, 1 not executable, 2 executable)
inline constexpr unsigned kAttrStrength = 64;  // X'0C' duplicate severity, X'0F' strength:
                                               // 0 strong, 1 weak
inline constexpr unsigned kAttrLoading = 65;   // X'C0' loading (0 load, 1 deferred, 2 no load),
                                               // X'20' common, X'10' indirect, X'0F' scope
inline constexpr unsigned kAttrAlignment = 66; // low five bits: 2 to the power of the code
inline constexpr uint8_t kAmode24 = 1, kAmode31 = 2, kAmodeAny = 3, kAmode64 = 4, kAmodeMin = 0x10;
inline constexpr uint8_t kRmode24 = 1;
inline constexpr uint8_t kMaxRmode = 3;
inline constexpr uint8_t kMaxAlignment = 12;
inline constexpr uint8_t kStyleByte = 0, kStyleStructured = 1, kStyleUnstructured = 2;
inline constexpr uint8_t kBindConcatenate = 0, kBindMerge = 1;
inline constexpr uint8_t kReadOnly = 0x08;
inline constexpr uint8_t kLoadingMask = 0xC0, kNoLoad = 0x80;
inline constexpr uint8_t kCommonFlag = 0x20;
inline constexpr uint8_t kScopeMask = 0x0F;
inline constexpr uint8_t kStrengthMask = 0x0F, kWeak = 1;
inline unsigned textStyle(const uint8_t* esd) {
    return esd[kAttrStyle] >> 4;
}
inline unsigned bindingAlgorithm(const uint8_t* esd) {
    return esd[kAttrStyle] & 0x0F;
}

// ---- TXT -----------------------------------------------------------------------------------

inline constexpr unsigned kTxtStyle = 3;       // 0 byte-oriented, 1 structured
inline constexpr unsigned kTxtElement = 4;     // 4 bytes: the ED's ESDID
inline constexpr unsigned kTxtReserved = 8;    // 4 bytes of zero
inline constexpr unsigned kTxtOffset = 12;     // 4 bytes
inline constexpr unsigned kTxtTrueLength = 16; // 4 bytes: 0 (the text is not compressed)
inline constexpr unsigned kTxtEncoding = 20;   // 2 bytes: 0
inline constexpr unsigned kTxtDataLength = 22; // 2 bytes, not 0
inline constexpr unsigned kTxtData = 24;

// Structured text: identification entries of a reserved byte, the format, a 2-byte item length
// and the item. Formats 1 (19 bytes: translator 10, version 2, modification 2, date yyddd 5),
// 3 (30 bytes: translator 10, version 2, release 2, date yyyyddd 7, time hhmmssttt 9) and 4
// (34 bytes: as format 3 and 4 bytes more). The data is longer than 22 bytes.
inline constexpr unsigned kIdrHeader = 4;
inline constexpr unsigned kIdrFormat = 1;
inline constexpr unsigned kIdrItemLength = 2;
inline constexpr unsigned kMinIdrData = 23;
inline constexpr unsigned kIdrTranslator = 0; // 10 characters
inline constexpr unsigned kIdrVersion = 10;   // 2 + 2 digits
inline constexpr unsigned kIdrDate = 14;      // format 1: 5 digits; formats 3 and 4: 7
inline constexpr unsigned kIdrTime = 21;      // formats 3 and 4: 9 digits
inline constexpr unsigned kIdrFormat1Length = 19;
inline constexpr unsigned kIdrFormat3Length = 30;
inline constexpr unsigned kIdrFormat4Length = 34;

// ---- RLD -----------------------------------------------------------------------------------

inline constexpr unsigned kRldDataLength = 4; // 2 bytes: the length of the items from byte 6
inline constexpr unsigned kRldData = 6;
// A relocation item: 8 bytes of flags, then the R pointer (4), the P pointer (4) and the offset
// (4 or 8), each left out when the item uses that of the item before.
inline constexpr unsigned kItemFlags = 0;
inline constexpr unsigned kItemTypes = 1;       // high four bits the reference type, low four bits
                                                // the referent type
inline constexpr unsigned kItemAction = 2;      // high four bits: 0 add, 1 subtract; X'01' the
                                                // target field is not fetched (set, not added to)
inline constexpr unsigned kItemFieldLength = 4; // 1 to 8 bytes
inline constexpr unsigned kItemBitLength = 5;   // 0: whole bytes (bit fields are not supported)
inline constexpr unsigned kItemHeader = 8;
inline constexpr uint8_t kSameR = 0x80, kSameP = 0x40, kSameOffset = 0x20, kLongOffset = 0x04;
inline constexpr uint8_t kItemFlagsReserved = 0x19;
inline constexpr uint8_t kNoFetch = 0x01;
inline constexpr uint8_t kActionAdd = 0x00, kActionSubtract = 0x10;
enum ReferenceType : uint8_t {
    kRefAddress = 0,  // A-type and V-type constants
    kRefOffset = 1,   // Q-type: the offset of a part or pseudo register
    kRefLength = 2,   // the length of a class (the cumulative pseudo register length)
    kRefRelative = 6, // relative-immediate: the halfword distance to the target
};

// ---- LEN -----------------------------------------------------------------------------------

inline constexpr unsigned kLenDataLength = 6; // 2 bytes, a multiple of 12
inline constexpr unsigned kLenData = 8;
inline constexpr unsigned kLenEntry = 12; // ESDID (4), zero (4), length (4)

// ---- END -----------------------------------------------------------------------------------

inline constexpr unsigned kEndFlags = 3; // low two bits: the entry request
inline constexpr unsigned kEndAmode = 4;
inline constexpr unsigned kEndRecordCount = 8; // 4 bytes: logical records of the module, or 0
inline constexpr unsigned kEndEsdid = 12;
inline constexpr unsigned kEndOffset = 20;
inline constexpr unsigned kEndNameLength = 24; // 2 bytes
inline constexpr unsigned kEndName = 26;
inline constexpr unsigned kEndFixed = 26;
inline constexpr uint8_t kEntryNone = 0, kEntryByEsdid = 1, kEntryByName = 2;
inline constexpr uint8_t kEntryRequestMask = 0x03;

// ---- HDR -----------------------------------------------------------------------------------

inline constexpr unsigned kHdrMaxLength = kRecordLength;

inline uint32_t be16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}
inline uint32_t be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

} // namespace goff
