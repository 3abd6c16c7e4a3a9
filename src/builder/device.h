// Device geometry: the IBM disk devices a partitioned data set can be unloaded from, the track
// space each block takes on them, and the placement of blocks on simulated tracks, so that an
// unload carries valid track addresses (TTR), a valid last track used and the device
// characteristics that IEBCOPY expects.
#pragma once

#include <cstdint>

namespace bren {

struct DeviceEntry {
    const char* name;
    uint8_t characteristics[20]; // as written into COPYR1: UCB type, largest block, cylinders,
                                 // tracks per cylinder, track length, overhead and tolerance
    uint16_t code;
    uint16_t largestBlock;
    uint16_t goodBlock; // the half-track block size
    uint16_t tracksPerCylinder;
    uint32_t largestTracks; // the most tracks the builder uses
    uint32_t trackLength;
};

inline constexpr unsigned kDeviceCount = 7;
const DeviceEntry* deviceTable();
// The names in the order a front end offers them, ended by an empty name.
const char* const* deviceNames();
// The row of a device name (exact, case-sensitive), or null.
const DeviceEntry* findDevice(const char* name);

// The track space of one block of data length dl and key length kl on the device.
uint32_t trackSpace(const DeviceEntry& device, uint32_t dl, uint32_t kl = 0);

// The directory: data length 256 behind a key of 8 bytes.
inline constexpr uint32_t kDirectoryKeyLength = 8;
inline constexpr uint32_t kDirectoryDataLength = 256;

// Where a block landed.
struct TrackPosition {
    uint32_t track; // relative track from 0
    uint16_t cylinder;
    uint16_t head;
    uint8_t record; // 1 to 255
    uint32_t ttr() const { return (track << 8) | record; }
};

// Places blocks on the simulated tracks of a data set that begins at cylinder 1, head 0, after
// its directory.
class TrackPlacer {
  public:
    // The directory's allocated blocks come first.
    TrackPlacer(const DeviceEntry& device, uint32_t directoryBlocks);
    // Places a block of data length dl (0 for the end-of-member record). False when the device
    // has no track left for it, or the block does not fit on a track at all.
    bool place(uint32_t dl, TrackPosition* where);
    // The last track with a record on it, its last record number and the bytes left on it.
    uint32_t lastTrack() const { return track_; }
    uint8_t lastRecord() const { return static_cast<uint8_t>(records_); }
    uint32_t bytesLeft() const { return left_; }
    uint32_t tracksUsed() const { return track_ + 1; }

  private:
    const DeviceEntry& device_;
    uint32_t track_ = 0;
    uint32_t records_ = 0;
    uint32_t left_ = 0;
    bool full_ = false; // the track holds no more records, whatever space is left
};

// Cylinder (from 1) and head of a relative track.
inline uint16_t cylinderOf(const DeviceEntry& d, uint32_t track) {
    return static_cast<uint16_t>(track / d.tracksPerCylinder + 1);
}
inline uint16_t headOf(const DeviceEntry& d, uint32_t track) {
    return static_cast<uint16_t>(track % d.tracksPerCylinder);
}

// Directory blocks for n ordinary members: 21 entries of 12 bytes fit in a block, and the end
// entry needs room.
inline uint32_t directoryBlocksFor(uint64_t members) {
    return static_cast<uint32_t>(members / 21 + 1);
}
inline constexpr uint32_t kMaxDirectoryBlocks = 32767;

// The space the unload records: the allocation in tracks, its unit and the secondary quantity.
struct Allocation {
    uint32_t tracks = 0;
    uint8_t unit = 0x80; // 0x80 tracks, 0xC0 cylinders
    uint32_t secondary = 0;
};

// Turns the tracks used into the allocation the request asks for. Returns "" or the message.
const char* computeSpace(const DeviceEntry& device, uint32_t tracksUsed, uint32_t flags,
                         uint32_t unit, uint32_t primary, uint32_t secondary, Allocation* out);

} // namespace bren
