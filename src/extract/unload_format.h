// The IEBCOPY unload of a partitioned data set, as carried in the data records of a transmit
// file, shared by its reader and its writer. All numbers are big-endian.
//
//   COPYR1     unload flags, identifier X'CA6D0F', device information (36 bytes or more)
//   COPYR2     the extents of the unloaded data set (276 bytes)
//   directory  records of 276-byte directory blocks (count field, key, 256-byte block),
//              possibly ended by a 12-byte marker of zeros
//   members    records of data blocks, each behind a 12-byte count field; a block of data
//              length 0 ends a member
#pragma once

#include <cstdint>

namespace unload {

// COPYR1.
inline constexpr unsigned kR1MinLength = 36;
inline constexpr unsigned kR1Flags = 0;
inline constexpr unsigned kR1Identifier = 1; // 3 bytes X'CA6D0F'
inline constexpr uint8_t kIdentifier[3] = {0xCA, 0x6D, 0x0F};
inline constexpr unsigned kR1SmsFlags = 13;
inline constexpr unsigned kR1TracksPerCylinder = 26;  // 2 bytes
inline constexpr unsigned kR1ControlRecordCount = 36; // high byte: 0 or 2
inline constexpr uint8_t kUnloadTypeMask = 0xC0;      // 00 ordinary, 01 PDSE, else not supported
inline constexpr uint8_t kUnloadPdse = 0x40;
inline constexpr uint8_t kUnloadLoadLibrary = 0x08; // with the PDSE type
inline constexpr uint8_t kUnloadPdseOld = 0x01;     // with the ordinary type
inline constexpr uint8_t kSmsPdse = 0x08;

// COPYR2.
inline constexpr unsigned kR2Length = 276;
inline constexpr unsigned kR2ExtentCount = 0;
inline constexpr unsigned kR2Extents = 16; // 16 bytes each
inline constexpr unsigned kR2ExtentSize = 16;
inline constexpr unsigned kMaxExtents = 16;
inline constexpr unsigned kExtentStartCylinder = 6;
inline constexpr unsigned kExtentStartHead = 8;
inline constexpr unsigned kExtentEndCylinder = 10;
inline constexpr unsigned kExtentEndHead = 12;

// Directory records.
inline constexpr unsigned kDirectoryStep = 276; // count field, key, block
inline constexpr unsigned kEndMarkerLength = 12;
inline constexpr unsigned kDirCountField = 0; // 12 bytes, fixed below
inline constexpr uint8_t kDirectoryCountField[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x01, 0x00};
inline constexpr unsigned kDirKey = 12;   // 8 bytes: highest name in the block
inline constexpr unsigned kDirBlock = 20; // 256 bytes
inline constexpr unsigned kDirBlockSize = 256;
inline constexpr unsigned kMinUsed = 14; // used length of a block with an entry
inline constexpr unsigned kLastBlockMinUsed = 10;

// Directory entries.
inline constexpr unsigned kEntryName = 0; // 8 bytes EBCDIC, blank padded; X'FF' ends
inline constexpr unsigned kEntryTtr = 8;  // 3 bytes
inline constexpr unsigned kEntryIndicator = 11;
inline constexpr unsigned kEntryUserData = 12;
inline constexpr unsigned kEntryHeader = 12;
inline constexpr uint8_t kAlias = 0x80;
inline constexpr uint8_t kHalfwordMask = 0x1F;

// ISPF statistics (user data of 14 or 15 halfwords), offsets from the entry's start.
inline constexpr unsigned kIspfVersion = 12;
inline constexpr unsigned kIspfModification = 13;
inline constexpr unsigned kIspfFlags = 14;
inline constexpr unsigned kIspfSeconds = 15;
inline constexpr unsigned kIspfCreated = 16; // packed 0CYYDDDF
inline constexpr unsigned kIspfChanged = 20; // packed 0CYYDDDF
inline constexpr unsigned kIspfHour = 24;
inline constexpr unsigned kIspfMinute = 25;
inline constexpr unsigned kIspfLines = 26; // current, initial, modified: 2 bytes each
inline constexpr unsigned kIspfUser = 32;  // 8 bytes EBCDIC

// Load-module entries, offsets from the entry's start.
inline constexpr unsigned kLmTextTtr = 12;
inline constexpr unsigned kLmNoteTtr = 16;
inline constexpr unsigned kLmNoteCount = 19;
inline constexpr unsigned kLmAttr1 = 20; // RENT REUS OVLY TEST ONLY SCTR EXEC
inline constexpr unsigned kLmAttr2 = 21; // not editable, REFR
inline constexpr unsigned kLmSize = 22;  // 3 bytes
inline constexpr unsigned kLmEntry = 27; // 3 bytes
inline constexpr unsigned kLmAttr3 = 30; // page aligned, SSI, APF, program object
inline constexpr unsigned kLmAttr4 = 31; // RMODE ANY, AMODE
inline constexpr unsigned kLmScatterLength = 33;
inline constexpr unsigned kLmTranslationLength = 35;
inline constexpr unsigned kLmOptional = 33;        // without SCTR
inline constexpr unsigned kLmOptionalScatter = 41; // with SCTR
inline constexpr unsigned kLmAliasData = 11;       // bytes of alias data, not read
inline constexpr unsigned kLmMinEntry = 34;

inline constexpr uint8_t kAttr1Rent = 0x80, kAttr1Reus = 0x40, kAttr1Ovly = 0x20, kAttr1Test = 0x10,
                         kAttr1Only = 0x08, kAttr1Sctr = 0x04, kAttr1Exec = 0x02;
inline constexpr uint8_t kAttr2NotEditable = 0x08, kAttr2Refr = 0x01;
inline constexpr uint8_t kAttr3PageAligned = 0x20, kAttr3Ssi = 0x10, kAttr3Apf = 0x08,
                         kAttr3ProgramObject = 0x04;
inline constexpr uint8_t kAttr4RmodeAny = 0x10, kAttr4AmodeMask = 0x03;

// Member data: the count field in front of each block.
inline constexpr unsigned kCountField = 12;
inline constexpr unsigned kCfFlag = 0; // X'00' ordinary, X'E0' no member data
inline constexpr unsigned kCfExtent = 1;
inline constexpr unsigned kCfBin = 2;
inline constexpr unsigned kCfCylinder = 4;
inline constexpr unsigned kCfHead = 6;
inline constexpr unsigned kCfRecord = 8;
inline constexpr unsigned kCfKeyLength = 9;
inline constexpr unsigned kCfDataLength = 10;
inline constexpr uint8_t kBlockOrdinary = 0x00;
inline constexpr uint8_t kBlockNoData = 0xE0;

} // namespace unload
