// Virtual tape images: AWS images and their compressed form HET, and the standard labels of
// the tapes they hold. Lengths in the block headers are little-endian; labels are EBCDIC.
//
//   block header  current length (2), previous length (2), flags (1), flags (1); the data
//                 follows. A tape block longer than one header allows is split into chunks:
//                 the first flagged "new record", the last "end of record". A header with the
//                 tape-mark flag and no data is a tape mark; two in a row end the tape.
//   HET           the data of a block is compressed as a whole (zlib or bzip2, as the flags
//                 say) and then cut into chunks.
//   labels        VOL1, then for each file HDR1 HDR2 <tape mark> data <tape mark> EOF1 EOF2
//                 <tape mark>; an unlabeled tape is its data files between tape marks.
#pragma once

#include <cstdint>

namespace tape {

// Block header.
inline constexpr unsigned kHeaderLength = 6;
inline constexpr unsigned kCurrentLength = 0;  // 2 bytes, little-endian
inline constexpr unsigned kPreviousLength = 2; // 2 bytes, little-endian
inline constexpr unsigned kFlags1 = 4;
inline constexpr unsigned kFlags2 = 5;
inline constexpr uint8_t kNewRecord = 0x80;
inline constexpr uint8_t kTapeMark = 0x40;
inline constexpr uint8_t kEndOfRecord = 0x20;
inline constexpr uint8_t kCompression = 0x03; // HET: how the block's data is compressed
inline constexpr uint8_t kZlib = 0x01;
inline constexpr uint8_t kBzip2 = 0x02;

inline uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Standard labels: 80 bytes, the identifier in the first 4.
inline constexpr unsigned kLabelLength = 80;
// VOL1
inline constexpr unsigned kVolumeSerial = 4; // 6
// HDR1 and EOF1
inline constexpr unsigned kDataSetName = 4;    // 17: the last 17 characters of the name
inline constexpr unsigned kDataSetSerial = 21; // 6
inline constexpr unsigned kFileSequence = 31;  // 4 digits
inline constexpr unsigned kCreationDate = 41;  // 6: c yy ddd (c blank or 0)
inline constexpr unsigned kBlockCountLow = 54; // 6 digits (EOF1)
// HDR2 and EOF2
inline constexpr unsigned kRecordFormat = 4;    // F, V or U
inline constexpr unsigned kBlockLength = 5;     // 5 digits
inline constexpr unsigned kRecordLength = 10;   // 5 digits ("99999" for longer records)
inline constexpr unsigned kBlockAttribute = 38; // B blocked, S spanned, R both, blank

// The longest tape block read, joined from its chunks and decompressed.
inline constexpr uint32_t kMaxBlock = 1u << 24;

} // namespace tape
