// The large partitioned data set of the benchmarks: MEMBERS members of PER_MEMBER FB 80 records
// (about 1 GiB with the defaults), written with the tests' writer one member at a time, and
// read back member by member.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "reader.h"
#include "xmit_writer.h"

// The large PDS itself: its members are made on demand as they are written.
inline xmitw::Pds largePds(size_t members, size_t perMember) {
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
    return pds;
}

inline bool makeLargePds(const std::string& path, size_t members, size_t perMember) {
    const xmitw::Pds pds = largePds(members, perMember);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
    xmitw::Sink sink(out);
    xmitw::SegmentWriter w(sink);
    xmitw::pdsTransmit(pds, [&](const xmitw::Bytes& r, bool control) { w.record(r, control); });
    w.finish();
    return std::fclose(out) == 0;
}

// Reads every record of every member of partitioned data set 1 of an open file, counting the
// records and their bytes; stops the program on a read error.
inline void readEveryMember(XmitHandle* h, uint64_t* records, uint64_t* bytes) {
    XmitDataSet* ds = opx::loadDirectory(h, 1, true);
    MemberCursor c;
    if (ds == nullptr || !opx::startMembers(h, ds, &c, nullptr, 0)) {
        std::fprintf(stderr, "reading failed: %s\n", h->message ? h->message : "?");
        std::exit(1);
    }
    *records = *bytes = 0;
    for (unsigned m = 0; m < ds->entryCount; ++m) {
        int st;
        while ((st = opx::readMemberRecord(h, ds, &c)) == MEMBER_RECORD) {
            ++*records;
            *bytes += c.recordLength;
        }
        if (st != MEMBER_END) {
            std::fprintf(stderr, "member %u: %s\n", m, h->message ? h->message : "?");
            std::exit(1);
        }
    }
}
