// Shared pieces of the extractor tests: a connected library, transmit files written into a
// temporary folder, and opening them.
#pragma once

#include <memory>
#include <string>

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

} // namespace xtest
