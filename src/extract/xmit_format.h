// The TSO TRANSMIT format, shared by its reader and its writer.
//
// A transmit file is a stream of segments (it was an FB 80 data set): byte 0 the segment
// length L (counting itself), byte 1 the flags, then L - 2 data bytes. A logical record is the
// data of its segments, from the one flagged first to the one flagged last. Control records
// begin with an EBCDIC identifier INMR01..INMR06 and carry text units: key (2 bytes), number
// of values (2), then per value a length (2) and the bytes. All numbers are big-endian.
#pragma once

#include <cstdint>

namespace xmit {

inline constexpr unsigned kFileRecordLength = 80; // the file size is a multiple of this
inline constexpr unsigned kMinimumFileSize = 160;
inline constexpr unsigned kMaxSegmentLength = 255;
inline constexpr unsigned kSegmentHeader = 2; // length byte and flags byte

// Segment flags.
inline constexpr uint8_t kFirstSegment = 0x80;
inline constexpr uint8_t kLastSegment = 0x40;
inline constexpr uint8_t kControlRecord = 0x20;
inline constexpr uint8_t kIgnoredFlag = 0x10;
inline constexpr uint8_t kReservedFlags = 0x0F; // must be zero

// Control record identifiers, EBCDIC "INMR0n".
inline constexpr unsigned kIdentifierLength = 6;
inline constexpr uint8_t kInmr01[6] = {0xC9, 0xD5, 0xD4, 0xD9, 0xF0, 0xF1};
inline constexpr uint8_t kInmr02[6] = {0xC9, 0xD5, 0xD4, 0xD9, 0xF0, 0xF2};
inline constexpr uint8_t kInmr03[6] = {0xC9, 0xD5, 0xD4, 0xD9, 0xF0, 0xF3};
inline constexpr uint8_t kInmr06[6] = {0xC9, 0xD5, 0xD4, 0xD9, 0xF0, 0xF6};

// INMR01 carries its text units from offset 6; INMR02 a file number at 6-9 and text units
// from 10.
inline constexpr unsigned kInmr01TextUnits = 6;
inline constexpr unsigned kInmr02FileNumber = 6;
inline constexpr unsigned kInmr02TextUnits = 10;

// Text units.
inline constexpr unsigned kTextUnitHeader = 4;  // key and number of values
inline constexpr unsigned kTextValueHeader = 2; // length of a value
inline constexpr unsigned kMaxTextValues = 32767;
inline constexpr unsigned kMaxTextValueLength = 32767;

// Keys (IBM names).
inline constexpr uint16_t INMDSNAM = 0x0002; // data set name, one value per qualifier
inline constexpr uint16_t INMMEMBR = 0x0003; // member name
inline constexpr uint16_t INMTERM = 0x0028;  // the file is a message
inline constexpr uint16_t INMBLKSZ = 0x0030; // block size
inline constexpr uint16_t INMDSORG = 0x003C; // organisation
inline constexpr uint16_t INMLRECL = 0x0042; // record length
inline constexpr uint16_t INMRECFM = 0x0049; // record format
inline constexpr uint16_t INMFNODE = 0x1011; // origin node
inline constexpr uint16_t INMFUID = 0x1012;  // origin user
inline constexpr uint16_t INMFTIME = 0x1024; // origin time stamp
inline constexpr uint16_t INMUTILN = 0x1028; // utility name
inline constexpr uint16_t INMNUMF = 0x102F;  // number of files
inline constexpr uint16_t INMSIZE = 0x102C;  // size of the file in bytes
inline constexpr uint16_t INMLSIZE = 0x8018; // size in megabytes, for large files
inline constexpr uint16_t INMTYPE = 0x8012;  // data set type
inline constexpr uint16_t INMDIR = 0x000C;   // directory blocks
inline constexpr uint16_t INMTNODE = 0x1001; // target node
inline constexpr uint16_t INMTUID = 0x1002;  // target user

// INMDSORG values.
inline constexpr uint16_t kDsorgSequential = 0x4000;
inline constexpr uint16_t kDsorgPartitioned = 0x0200;

// INMRECFM bits.
inline constexpr uint8_t kRecfmFixed = 0x80;
inline constexpr uint8_t kRecfmVariable = 0x40;
inline constexpr uint8_t kRecfmUndefined = 0xC0;
inline constexpr uint8_t kRecfmTrackOverflow = 0x20;
inline constexpr uint8_t kRecfmBlocked = 0x10;
inline constexpr uint8_t kRecfmSpanned = 0x08;
inline constexpr uint8_t kRecfmAsa = 0x04;
inline constexpr uint8_t kRecfmMachine = 0x02;

inline uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t be24(const uint8_t* p) {
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}
inline uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The writer's side: big-endian integers of 2, 3 and 4 bytes.
inline void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void put24(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 16);
    put16(p + 1, v);
}
inline void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    put24(p + 1, v);
}

} // namespace xmit
