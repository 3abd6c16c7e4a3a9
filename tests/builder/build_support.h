// Shared pieces of the builder tests: a connected library whose trace lines are kept, a
// request made in a few lines, and the transmit file read back through the extractor's reader.
#pragma once

#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brencore.h"
#include "opxcore.h"
#include "reader.h"
#include "run_command.h"
#include "runtime.h"
#include "xmit_writer.h"

namespace btest {

using xmitw::Bytes;

// Every trace line of the library since the last connect.
inline std::string& traced() {
    static std::string lines;
    return lines;
}
inline void keepLine(const char* line) {
    traced() += line;
}

// (Re)connects the library with a trace level; the trace so far is forgotten.
inline void connect(int traceLevel = 0) {
    int status = 0;
    ConnectionRecord* record = nullptr;
    traced().clear();
    pszBrenDllConnect(&status, &record, traceLevel, nullptr, "Quorin Toolbench", "3.0.07", keepLine,
                      nullptr);
}

inline std::string bytesOf(const Bytes& b) {
    return std::string(b.begin(), b.end());
}
inline Bytes toBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A request for the transmit file `out` from `input` (a file or a pattern).
struct Request {
    BuildRequest r{};
    std::vector<std::array<char, sizeof(MemberName)>> members;
    std::string out, input, message;

    Request(std::string outPath, std::string inputPath, const char* recfm = "FB",
            uint32_t lrecl = 80, uint32_t blksize = 27920)
        : out(std::move(outPath)), input(std::move(inputPath)) {
        r.transmitFile = out.c_str();
        r.input.text = input.c_str();
        std::snprintf(r.recfm, sizeof r.recfm, "%s", recfm);
        r.lrecl = lrecl;
        r.blksize = blksize;
        r.inputKind = INPUT_TEXT;
        std::snprintf(r.device, sizeof r.device, "3390");
        std::snprintf(r.dsname, sizeof r.dsname, "TEST.DATA");
        std::snprintf(r.originNode, sizeof r.originNode, "NODEA");
        std::snprintf(r.originUser, sizeof r.originUser, "USERA");
        std::snprintf(r.targetNode, sizeof r.targetNode, "NODEB");
        std::snprintf(r.targetUser, sizeof r.targetUser, "USERB");
        vCheckPattern(&r.input);
    }
    // The member list of a partitioned request, with its directory blocks.
    void setMembers(const std::vector<std::string>& names, uint32_t directoryBlocks = 0) {
        members.resize(names.size());
        for (size_t i = 0; i < names.size(); ++i)
            std::snprintf(members[i].data(), sizeof(MemberName), "%s", names[i].c_str());
        r.members = reinterpret_cast<MemberName*>(members.data());
        r.memberCount = static_cast<uint32_t>(names.size());
        unsigned smallest = 0;
        r.minimumDirectoryBlocks = uComputeDirBlocks(&r, &smallest);
        r.directoryBlocks = directoryBlocks != 0 ? directoryBlocks : r.minimumDirectoryBlocks;
    }
    // Lists the members the pattern matches.
    std::string listMembers() {
        MemberName* list = nullptr;
        uint32_t count = 0;
        if (const char* m = pszGetMemberList(&r.input, &list, &count)) return m;
        std::vector<std::string> names;
        for (uint32_t i = 0; i < count; ++i) names.push_back(list[i]);
        setMembers(names);
        return "";
    }
    int create() {
        const int rc = iBrenCreate(&r);
        message = r.message != nullptr ? r.message : "";
        return rc;
    }
};

struct Closer {
    void operator()(XmitHandle* h) const { vXmitFileClose(h); }
};
using HandlePtr = std::unique_ptr<XmitHandle, Closer>;

inline HandlePtr open(const std::string& path) {
    return HandlePtr(pXmitFileOpen(path.c_str()));
}

// The logical records of a transmit file, with their control flags.
inline std::vector<xmitw::LogicalRecord> logicalRecords(const std::string& image) {
    std::vector<xmitw::LogicalRecord> out;
    Bytes current;
    bool control = false;
    for (size_t at = 0; at + 2 <= image.size();) {
        const uint8_t length = static_cast<uint8_t>(image[at]),
                      flags = static_cast<uint8_t>(image[at + 1]);
        if (length < 2 || at + length > image.size()) break;
        if (flags & 0x80) {
            current.clear();
            control = (flags & 0x20) != 0;
        }
        current.insert(current.end(), image.begin() + at + 2, image.begin() + at + length);
        at += length;
        if (flags & 0x40) {
            out.push_back({current, control});
            if (control && current.size() >= 6 && current[5] == 0xF6) break; // INMR06
        }
    }
    return out;
}

// The records of a sequential data set (the data set's data records up to the next control
// record).
inline std::vector<Bytes> sequentialRecords(XmitHandle* h, const XmitDataSet* ds) {
    std::vector<Bytes> out;
    if (opx::seek(h, ds->dataPosition) != IO_OK) return out;
    while (opx::readRecord(h) == IO_OK && !opx::isControl(h))
        out.emplace_back(h->record, h->record + h->recordLength);
    return out;
}

// The members of a partitioned data set in directory order: name, TTR and records. The
// member data is read in the order of the unload, each member found by its TTR. An error of
// the cursor, or member data that no entry points at, is returned in *error.
struct MemberRead {
    std::string name;
    uint32_t ttr = 0;
    std::vector<Bytes> records;
};
inline std::vector<MemberRead> memberRecords(XmitHandle* h, XmitDataSet* ds, std::string* error) {
    std::vector<MemberRead> out(ds->entryCount);
    std::map<uint32_t, unsigned> byTtr;
    for (unsigned i = 0; i < ds->entryCount; ++i) {
        const uint8_t* e = opx::directoryEntry(ds, i);
        char name[9];
        rt::translateText(e, 8, name, sizeof name);
        out[i].name = name;
        out[i].name.erase(out[i].name.find_last_not_of(' ') + 1);
        out[i].ttr = (uint32_t(e[8]) << 16) | (e[9] << 8) | e[10];
        if (!(e[11] & 0x80)) byTtr.emplace(out[i].ttr, i);
    }
    std::vector<uint8_t> assembly(1 << 20);
    MemberCursor c;
    if (!opx::startMembers(h, ds, &c, assembly.data(), static_cast<uint32_t>(assembly.size()))) {
        *error = h->message ? h->message : "start";
        return {};
    }
    for (size_t m = 0; m < byTtr.size(); ++m) {
        uint32_t ttr = 0;
        if (opx::peekBlockTtr(h, ds, &c, &ttr) != MEMBER_RECORD || byTtr.count(ttr) == 0) {
            *error = "member data at TTR " + std::to_string(ttr) + " has no directory entry";
            return {};
        }
        MemberRead& member = out[byTtr[ttr]];
        int st;
        while ((st = opx::readMemberRecord(h, ds, &c)) == MEMBER_RECORD)
            member.records.emplace_back(c.record, c.record + c.recordLength);
        if (st != MEMBER_END) {
            *error = h->message ? h->message : "member error";
            return {};
        }
    }
    return out;
}

} // namespace btest
