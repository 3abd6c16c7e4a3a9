// Shared pieces of the extractor tests: a connected library, transmit files written into a
// temporary folder, and opening them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "opxcore.h"
#include "run_command.h"
#include "xmit_writer.h"

namespace xtest {

using xmitw::Bytes;

// Connects the library once per test program (trace level 0).
inline void connectOnce() {
    static bool done = false;
    if (done) return;
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    done = true;
}

struct Closer {
    void operator()(XmitHandle* h) const { vXmitFileClose(h); }
};
using HandlePtr = std::unique_ptr<XmitHandle, Closer>;

class XmitTest : public testing::Test {
  protected:
    void SetUp() override { connectOnce(); }

    // Writes the bytes to a file of the test's folder and opens it.
    HandlePtr open(const Bytes& bytes, const std::string& name = "test.xmit") {
        paths_.push_back((dir_ / name).string());
        testsupport::writeFile(paths_.back(), std::string(bytes.begin(), bytes.end()));
        return HandlePtr(pXmitFileOpen(paths_.back().c_str()));
    }
    HandlePtr openRecords(const std::vector<xmitw::LogicalRecord>& records) {
        return open(xmitw::fileImage(records));
    }
    HandlePtr openPds(const xmitw::Pds& pds) {
        return openRecords(
            xmitw::collect([&](const xmitw::Emit& e) { xmitw::pdsTransmit(pds, e); }));
    }
    static std::string message(const HandlePtr& h) { return h->message ? h->message : ""; }

    testsupport::TempDir dir_;
    std::vector<std::string> paths_;
};

// A small PDS of FB 80 text members with ISPF statistics.
inline xmitw::Pds samplePds(int members = 3, int recordsEach = 5) {
    xmitw::Pds pds;
    for (int m = 0; m < members; ++m) {
        xmitw::Member mem;
        mem.name = "MEM" + std::to_string(m + 1);
        for (int r = 0; r < recordsEach; ++r) {
            std::string line = "MEMBER " + std::to_string(m + 1) + " LINE " + std::to_string(r + 1);
            line.resize(80, ' ');
            mem.records.push_back(xmitw::ebcdic(line));
        }
        mem.stats = xmitw::IspfStats{};
        mem.stats->version = static_cast<uint8_t>(m + 1);
        pds.members.push_back(mem);
    }
    return pds;
}

// The transmit records of a PDSE unload of the members of `pds`: the writer's ordinary unload
// with a PDSE's COPYR1 and made-up extents, its directory count fields flagged X'08' and ended
// by the X'88' marker record, each member's end flagged X'80' and followed by an attribute
// group (X'04' block, X'84' end), and the library's attribute group (X'02', X'C2') at the end.
inline std::vector<xmitw::LogicalRecord> pdseUnload(xmitw::Pds pds) {
    pds.r1Flags |= 0x01;
    pds.tracksPerCylinder = 256;
    pds.extents = {{0, 0, 126, 255}};
    pds.directoryEndMarker = false;
    auto recs = xmitw::collect([&](const xmitw::Emit& e) { xmitw::pdsTransmit(pds, e); });
    auto isDirectory = [](const Bytes& d) {
        if (d.empty() || d.size() % 276 != 0) return false;
        for (size_t at = 0; at < d.size(); at += 276)
            if (d[at + 9] != 0x08 || d[at + 10] != 0x01 || d[at + 11] != 0x00) return false;
        return true;
    };
    size_t i = 6; // INMR01, two INMR02, INMR03, COPYR1, COPYR2
    for (; i < recs.size() && !recs[i].control && isDirectory(recs[i].data); ++i)
        for (size_t at = 0; at < recs[i].data.size(); at += 276) recs[i].data[at] = 0x08;
    Bytes marker(12, 0);
    marker[0] = 0x88;
    recs.insert(recs.begin() + static_cast<long>(i), {marker, false});
    size_t last = 0;
    for (size_t r = i + 1; r < recs.size() && !recs[r].control; ++r) {
        const Bytes& in = recs[r].data;
        Bytes out;
        for (size_t at = 0; at + 12 <= in.size();) {
            const size_t length = in[at + 10] * 256u + in[at + 11];
            Bytes cf(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + 12));
            xmitw::append(out, Bytes(in.begin() + static_cast<long>(at),
                                     in.begin() + static_cast<long>(at + 12 + length)));
            if (length == 0) {
                out[out.size() - 12] = 0x80;
                Bytes attributes = xmitw::ebcdic("IGWFAHR ");
                cf[0] = 0x04;
                cf[10] = 0;
                cf[11] = static_cast<uint8_t>(attributes.size());
                xmitw::append(out, cf);
                xmitw::append(out, attributes);
                cf[0] = 0x84;
                cf[11] = 0;
                xmitw::append(out, cf);
            }
            at += 12 + length;
        }
        recs[r].data = out;
        last = r;
    }
    Bytes library = {0x02, 0,    0,    0, 0, 0, 0, 0, 1, 0, 0, 4, 0xC9, 0xC7,
                     0xE6, 0xC6, 0xC2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0,    0};
    xmitw::append(recs[last].data, library);
    return recs;
}

} // namespace xtest
