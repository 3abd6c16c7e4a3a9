// The device table, the track space formulas of each device, block placement on simulated
// tracks and the space an unload records.
//
//   device  largest  good   tracks/cyl  tracks  track length
//   3390    32760    27998  15          16680   58786
#include "device.h"

#include <cstring>

#include "brencore.h"
#include "runtime.h"

namespace bren {

namespace {

const DeviceEntry kDevices[kDeviceCount] = {
    {"3330",
     {0x30, 0x30, 0x20, 0x09, 0x00, 0x00, 0x32, 0xE6, 0x01, 0x9B,
      0x00, 0x13, 0x33, 0x6D, 0xBF, 0xBF, 0x38, 0x00, 0x02, 0x00},
     0x3330,
     13030,
     13030,
     19,
     7657,
     13165},
    {"3340",
     {0x30, 0x30, 0x20, 0x0A, 0x00, 0x00, 0x20, 0xB0, 0x02, 0xBA,
      0x00, 0x0C, 0x21, 0x57, 0xF2, 0xF2, 0x4B, 0x00, 0x02, 0x00},
     0x3340,
     8368,
     8368,
     12,
     8340,
     8535},
    {"3350",
     {0x30, 0x30, 0x20, 0x0B, 0x00, 0x00, 0x4A, 0x7D, 0x02, 0x30,
      0x00, 0x1E, 0x4B, 0x36, 0x01, 0x0B, 0x52, 0x08, 0x02, 0x00},
     0x3350,
     19069,
     19069,
     30,
     16620,
     19254},
    {"3375",
     {0x30, 0x30, 0x20, 0x0C, 0x00, 0x00, 0x7F, 0xF8, 0x03, 0xC0,
      0x00, 0x0C, 0x8C, 0xA0, 0x00, 0xE0, 0x20, 0x10, 0x00, 0xBF},
     0x3375,
     32760,
     17600,
     12,
     11532,
     36000},
    {"3380",
     {0x30, 0x30, 0x20, 0x0E, 0x00, 0x00, 0x7F, 0xF8, 0x03, 0x76,
      0x00, 0x0F, 0xBB, 0x60, 0x01, 0x00, 0x20, 0x10, 0x01, 0x0B},
     0x3380,
     32760,
     23476,
     15,
     13260,
     47968},
    {"3390",
     {0x30, 0x30, 0x20, 0x0F, 0x00, 0x00, 0x7F, 0xF8, 0x04, 0x59,
      0x00, 0x0F, 0xE5, 0xA2, 0x00, 0x00, 0x22, 0x52, 0x00, 0x00},
     0x3390,
     32760,
     27998,
     15,
     16680,
     58786},
    {"9345",
     {0x30, 0x30, 0x20, 0x04, 0x00, 0x00, 0x7F, 0xF8, 0x05, 0xA0,
      0x00, 0x0F, 0xBC, 0x98, 0x00, 0x00, 0x22, 0x52, 0x00, 0x00},
     0x9345,
     32760,
     22928,
     15,
     21585,
     48280},
};

// The order in which a front end offers the devices.
const char* const kDeviceNames[] = {"3330", "3340", "3350", "3375", "9345", "3380", "3390", ""};

// The 3390 and 9345 formula: 34-byte cells, with 6 bytes more for every 232 bytes of data.
uint32_t cells(uint32_t length, uint32_t overhead) {
    return (length + 6 * ((length + 5) / 232) + overhead) / 34;
}

} // namespace

const DeviceEntry* deviceTable() {
    return kDevices;
}
const char* const* deviceNames() {
    return kDeviceNames;
}

const DeviceEntry* findDevice(const char* name) {
    if (name == nullptr) return nullptr;
    for (const DeviceEntry& d : kDevices)
        if (std::strcmp(d.name, name) == 0) return &d;
    return nullptr;
}

uint32_t trackSpace(const DeviceEntry& d, uint32_t dl, uint32_t kl) {
    const bool keyed = kl != 0;
    switch (d.code) {
    case 0x3330:
        return dl + 135 + (keyed ? kl + 56 : 0);
    case 0x3340:
        return dl + 167 + (keyed ? kl + 75 : 0);
    case 0x3350:
        return dl + 185 + (keyed ? kl + 82 : 0);
    case 0x3375:
        return 32 * ((dl + 415) / 32 + (keyed ? (kl + 191) / 32 : 0));
    case 0x3380:
        return 32 * ((dl + 523) / 32 + (keyed ? (kl + 267) / 32 : 0));
    case 0x3390:
        return 34 * (cells(dl, 691) + (keyed ? cells(kl, 351) : 0));
    default:
        return 34 * (cells(dl, 657) + (keyed ? cells(kl, 283) : 0)); // 9345
    }
}

TrackPlacer::TrackPlacer(const DeviceEntry& device, uint32_t directoryBlocks) : device_(device) {
    const uint32_t space = trackSpace(device, kDirectoryDataLength, kDirectoryKeyLength);
    const uint32_t perTrack = device.trackLength / space;
    const uint32_t whole = directoryBlocks / perTrack, rest = directoryBlocks % perTrack;
    if (directoryBlocks == 0) {
        records_ = 0;
        left_ = device.trackLength;
    } else if (rest == 0) {
        // The directory fills its last track exactly: that track counts as full.
        track_ = whole - 1;
        records_ = perTrack;
        left_ = device.trackLength - perTrack * space;
        full_ = true;
    } else {
        // Member data continues the record numbers of the directory's last track.
        track_ = whole;
        records_ = rest;
        left_ = device.trackLength - rest * space;
    }
}

bool TrackPlacer::place(uint32_t dl, TrackPosition* where) {
    const uint32_t space = trackSpace(device_, dl);
    // A block that no track can hold would leave a negative number of bytes on the track.
    if (space > device_.trackLength) return false;
    if (full_ || space > left_ || records_ >= 255) {
        // The next track: relative tracks run from 0 to one below the device's track count.
        if (track_ + 1 >= device_.largestTracks) return false;
        ++track_;
        records_ = 0;
        left_ = device_.trackLength;
        full_ = false;
    }
    ++records_;
    left_ -= space;
    where->track = track_;
    where->cylinder = cylinderOf(device_, track_);
    where->head = headOf(device_, track_);
    where->record = static_cast<uint8_t>(records_);
    return true;
}

const char* computeSpace(const DeviceEntry& d, uint32_t tracksUsed, uint32_t flags, uint32_t unit,
                         uint32_t primary, uint32_t secondary, Allocation* out) {
    *out = Allocation{};
    if (unit != SPACE_TRACKS && unit != SPACE_CYLINDERS) {
        // Without a unit the allocation is what the data needs, with one track to grow by.
        out->tracks = tracksUsed;
        out->unit = 0x80;
        out->secondary = 1;
        return "";
    }
    const bool cylinders = unit == SPACE_CYLINDERS;
    const uint64_t required =
        cylinders ? (tracksUsed + d.tracksPerCylinder - 1) / d.tracksPerCylinder : tracksUsed;
    uint64_t quantity;
    if (flags & SPACE_ADD_PRIMARY) {
        quantity = required + primary;
    } else {
        if (primary < required)
            return rt::message("Insufficient primary space specified, %u tracks required",
                               tracksUsed);
        quantity = primary;
    }
    uint64_t tracks = cylinders ? quantity * d.tracksPerCylinder : quantity;
    if (tracks > d.largestTracks) tracks = d.largestTracks;
    out->tracks = static_cast<uint32_t>(tracks);
    out->unit = cylinders ? 0xC0 : 0x80;
    out->secondary = secondary;
    return "";
}

} // namespace bren
