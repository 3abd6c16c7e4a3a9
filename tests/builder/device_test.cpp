// Device geometry on every device of the table: the rows, the track space of blocks against
// the block sizes the table promises, directory blocks, placement up to the last track, and
// the space an unload records.
#include <gmock/gmock.h>

#include "build_support.h"
#include "device.h"

using namespace btest;

namespace {

// How many blocks of data length dl one track holds.
uint32_t perTrack(const bren::DeviceEntry& d, uint32_t dl, uint32_t kl = 0) {
    return d.trackLength / bren::trackSpace(d, dl, kl);
}

} // namespace

TEST(Devices, TableAndLookup) {
    connect();
    std::vector<std::string> names;
    for (const char* const* n = papszGetDeviceNames(); **n; ++n) names.push_back(*n);
    EXPECT_EQ(names,
              (std::vector<std::string>{"3330", "3340", "3350", "3375", "9345", "3380", "3390"}));
    unsigned largest = 0, good = 0, tracks = 0, tpc = 0;
    EXPECT_EQ(iGetDeviceInfo("3390", &largest, &good, &tracks, &tpc), 5);
    EXPECT_EQ(std::vector<unsigned>({largest, good, tracks, tpc}),
              std::vector<unsigned>({32760, 27998, 16680, 15}));
    EXPECT_EQ(iGetDeviceInfo("3330", nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(iGetDeviceInfo("9345", nullptr, &good, nullptr, nullptr), 6);
    EXPECT_EQ(good, 22928u);
    EXPECT_EQ(iGetDeviceInfo("3391", nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(iGetDeviceInfo("3390 ", nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(iGetDeviceInfo("", nullptr, nullptr, nullptr, nullptr), -1);
    // The characteristics carry the device's tracks per cylinder and track length (bytes 10-13).
    for (unsigned i = 0; i < bren::kDeviceCount; ++i) {
        const bren::DeviceEntry& d = bren::deviceTable()[i];
        SCOPED_TRACE(d.name);
        EXPECT_EQ((d.characteristics[10] << 8) | d.characteristics[11], d.tracksPerCylinder);
        EXPECT_EQ((d.characteristics[6] << 8) | d.characteristics[7], d.largestBlock);
        EXPECT_EQ((d.characteristics[12] << 8) | d.characteristics[13], d.trackLength);
    }
}

TEST(Devices, BlockSizesTheTablePromiseFitTheTracks) {
    // The largest block fits a track; the good block is the largest of which two fit.
    struct Expect {
        const char* name;
        uint32_t directoryPerTrack;
        uint32_t fb80PerTrack; // blocks of the best FB 80 block size (largest multiple of 80 of the
                               // good block)
    } expected[] = {{"3330", 28, 1}, {"3340", 16, 1}, {"3350", 36, 1}, {"3375", 43, 2},
                    {"3380", 46, 2}, {"3390", 45, 2}, {"9345", 40, 2}};
    for (const Expect& x : expected) {
        const bren::DeviceEntry& d = *bren::findDevice(x.name);
        SCOPED_TRACE(x.name);
        EXPECT_LE(bren::trackSpace(d, d.largestBlock), d.trackLength);
        // Below 32760 the track is what limits the block.
        if (d.largestBlock < 32760) {
            EXPECT_GT(bren::trackSpace(d, d.largestBlock + 1u), d.trackLength);
        }
        if (d.goodBlock < d.largestBlock) {
            EXPECT_EQ(perTrack(d, d.goodBlock), 2u);
            EXPECT_EQ(perTrack(d, d.goodBlock + 1u), 1u);
        } else {
            EXPECT_EQ(perTrack(d, d.goodBlock), 1u);
        }
        EXPECT_EQ(perTrack(d, bren::kDirectoryDataLength, bren::kDirectoryKeyLength),
                  x.directoryPerTrack);
        EXPECT_EQ(perTrack(d, d.goodBlock / 80 * 80), x.fb80PerTrack);
    }
    const bren::DeviceEntry& d3390 = *bren::findDevice("3390");
    EXPECT_EQ(bren::trackSpace(d3390, 27998), 29376u);
    EXPECT_EQ(bren::trackSpace(d3390, 56664), 58786u);
    EXPECT_EQ(bren::trackSpace(d3390, 80), 748u);
    EXPECT_EQ(perTrack(d3390, 80), 78u);
    EXPECT_EQ(bren::trackSpace(d3390, 256, 8), 1292u);
    EXPECT_EQ(bren::trackSpace(*bren::findDevice("3330"), 13030), 13165u);
}

TEST(Devices, PlacementRunsToTheLastTrackOfEveryDevice) {
    for (unsigned i = 0; i < bren::kDeviceCount; ++i) {
        const bren::DeviceEntry& d = bren::deviceTable()[i];
        SCOPED_TRACE(d.name);
        const uint32_t dirPerTrack = perTrack(d, 256, 8);
        // A directory that fills its track exactly: member data starts on the next track.
        bren::TrackPlacer full(d, dirPerTrack);
        bren::TrackPosition p{};
        ASSERT_TRUE(full.place(80, &p));
        EXPECT_EQ(p.track, 1u);
        EXPECT_EQ(p.record, 1u);
        EXPECT_EQ(p.cylinder, 1u);
        EXPECT_EQ(p.head, 1u);
        // One directory block: data continues its record numbers on track 0.
        bren::TrackPlacer placer(d, 1);
        ASSERT_TRUE(placer.place(0, &p));
        EXPECT_EQ(p.ttr(), 2u);
        // Largest blocks, one a track, until the device has no track left.
        uint32_t placed = 1, last = 0;
        while (placer.place(d.largestBlock, &p)) {
            ++placed;
            last = p.track;
            ASSERT_EQ(p.cylinder, p.track / d.tracksPerCylinder + 1);
            ASSERT_EQ(p.head, p.track % d.tracksPerCylinder);
        }
        EXPECT_EQ(last, d.largestTracks - 1);
        EXPECT_EQ(placer.tracksUsed(), d.largestTracks);
        EXPECT_GE(placed, d.largestTracks);
        // A block that no track holds is refused rather than wrapping the bytes left.
        bren::TrackPlacer fresh(d, 1);
        EXPECT_FALSE(fresh.place(d.trackLength, &p));
    }
    // 15 tracks per cylinder: relative track 15 is cylinder 2, head 0.
    const bren::DeviceEntry& d = *bren::findDevice("3390");
    bren::TrackPlacer placer(d, 45);
    bren::TrackPosition p{};
    for (int i = 0; i < 15 * 2; ++i) ASSERT_TRUE(placer.place(27998, &p));
    EXPECT_EQ(p.track, 15u);
    EXPECT_EQ(p.cylinder, 2u);
    EXPECT_EQ(p.head, 0u);
    EXPECT_EQ(p.record, 2u);
    ASSERT_TRUE(placer.place(27998, &p)); // a third does not fit
    EXPECT_EQ(p.track, 16u);
    EXPECT_EQ(placer.bytesLeft(), 58786u - 29376u);
}

TEST(Devices, SpaceAndDirectoryBlocks) {
    connect();
    for (unsigned i = 0; i < bren::kDeviceCount; ++i) {
        const bren::DeviceEntry& d = bren::deviceTable()[i];
        SCOPED_TRACE(d.name);
        bren::Allocation a;
        const uint32_t used = d.tracksPerCylinder + 1; // a cylinder and a track
        EXPECT_STREQ(bren::computeSpace(d, used, 0, SPACE_TRACKS, used, 5, &a), "");
        EXPECT_EQ(a.tracks, used);
        EXPECT_EQ(a.unit, 0x80);
        EXPECT_EQ(a.secondary, 5u);
        EXPECT_STREQ(
            bren::computeSpace(d, used, 0, SPACE_TRACKS, used - 1, 5, &a),
            ("Insufficient primary space specified, " + std::to_string(used) + " tracks required")
                .c_str());
        // In cylinders the data needs two; the message still counts tracks.
        EXPECT_STREQ(bren::computeSpace(d, used, 0, SPACE_CYLINDERS, 2, 1, &a), "");
        EXPECT_EQ(a.tracks, 2u * d.tracksPerCylinder);
        EXPECT_EQ(a.unit, 0xC0);
        EXPECT_STRNE(bren::computeSpace(d, used, 0, SPACE_CYLINDERS, 1, 1, &a), "");
        EXPECT_STREQ(bren::computeSpace(d, used, SPACE_ADD_PRIMARY, SPACE_CYLINDERS, 1, 1, &a), "");
        EXPECT_EQ(a.tracks, 3u * d.tracksPerCylinder);
        // The allocation never passes the device's track count.
        EXPECT_STREQ(bren::computeSpace(d, used, SPACE_ADD_PRIMARY, SPACE_TRACKS, 100000000, 1, &a),
                     "");
        EXPECT_EQ(a.tracks, d.largestTracks);
        // Another unit: what the data needs, one track to grow by.
        EXPECT_STREQ(bren::computeSpace(d, used, 0, 0, 0, 9, &a), "");
        EXPECT_EQ(a.tracks, used);
        EXPECT_EQ(a.secondary, 1u);
    }
    // Ordinary members: 21 entries of 12 bytes fill a block, and the end entry needs room.
    Request r("x.xmi", "dir/&M.txt");
    for (auto [members, blocks] :
         {std::pair<uint32_t, unsigned>{20, 1}, {21, 2}, {688106, 32767}}) {
        r.r.memberCount = members;
        unsigned smallest = 7;
        EXPECT_EQ(uComputeDirBlocks(&r.r, &smallest), blocks) << members;
        EXPECT_EQ(smallest, 0u);
    }
    r.r.memberCount = 688107;
    EXPECT_EQ(uComputeDirBlocks(&r.r, nullptr), 0u);
    EXPECT_STREQ(r.r.message, "Too many members - directory requires more than 32767 blocks.");
    EXPECT_EQ(r.r.returnCode, 16);
}
