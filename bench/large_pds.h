// The large partitioned transmit file of the benchmarks: MEMBERS members of PER_MEMBER FB 80
// records (about 1 GiB with the defaults), made with the tests' writer one member at a time.
#pragma once

#include <cstdio>
#include <string>

#include "xmit_writer.h"

inline bool makeLargePds(const std::string& path, size_t members, size_t perMember) {
    xmitw::Pds pds;
    pds.dsname = "BENCH.LARGE.PDS";
    pds.blksize = 27920;
    pds.tracksPerCylinder = 15;
    pds.blocksPerTrack = 2;
    pds.extents = {{1, 0, 60000, 14}};
    pds.directoryBlocksPerRecord = 100;
    char name[32];
    for (size_t m = 0; m < members; ++m) {
        xmitw::Member mem;
        std::snprintf(name, sizeof name, "M%07zu", m % 10000000);
        mem.name = name;
        mem.generatedCount = perMember;
        mem.stats = xmitw::IspfStats{};
        mem.generate = [m](size_t i) {
            char line[81];
            std::snprintf(line, sizeof line, "%-80s",
                          ("MEMBER " + std::to_string(m) + " RECORD " + std::to_string(i)).c_str());
            return xmitw::ebcdic(std::string_view(line, 80));
        };
        pds.members.push_back(std::move(mem));
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
    xmitw::Sink sink(out);
    xmitw::SegmentWriter w(sink);
    xmitw::pdsTransmit(pds, [&](const xmitw::Bytes& r, bool control) { w.record(r, control); });
    w.finish();
    return std::fclose(out) == 0;
}
