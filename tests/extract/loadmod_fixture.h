// Load modules for the extractor tests: member records built from their fields (CESD,
// control, IDR records), directory entries with load-module user data, and a load library
// in a transmit file.
#pragma once

#include <string>
#include <vector>

#include "loadmodule.h"
#include "xmit_fixture.h"
#include "xmit_writer.h"

namespace xtest {

using xmitw::append;
using xmitw::ebcdic;
using xmitw::Member;
using xmitw::name8;
using xmitw::Pds;

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) append(out, p);
    return out;
}
inline Bytes b16(uint32_t v) {
    return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}
inline Bytes b24(uint32_t v) {
    return {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// A CESD entry: name, type, address, flags and length (or the owner of a label reference).
inline Bytes cesdEntry(const std::string& name, uint8_t type, uint32_t address, uint32_t length,
                       uint8_t flags = 0) {
    Bytes e = name8(name);
    e.push_back(type);
    append(e, b24(address));
    e.push_back(flags);
    append(e, b24(length));
    return e;
}
inline Bytes cesdRecord(uint16_t first, std::initializer_list<Bytes> entries,
                        bool keepFlags = true) {
    Bytes data = cat(entries);
    return cat({{0x20, static_cast<uint8_t>(keepFlags ? 0x80 : 0), 0, 0},
                b16(first),
                b16(static_cast<uint32_t>(data.size())),
                data});
}
// A control record announcing text at an address, with relocation data.
inline Bytes controlRecord(uint8_t id, uint32_t textAddress, const Bytes& rld,
                           const Bytes& control) {
    return cat({{id, 0, 0, 0},
                b16(static_cast<uint32_t>(control.size())),
                b16(static_cast<uint32_t>(rld.size())),
                {0x06},
                b24(textAddress),
                {0x40, 0x00},
                b16(0),
                rld,
                control});
}
inline Bytes idrRecord(uint8_t subtype, const Bytes& data) {
    return cat({{0x80, static_cast<uint8_t>(data.size() + 2), subtype}, data});
}
// A directory entry of a load module: size, entry point and attributes.
inline Bytes moduleEntry(uint32_t size, uint32_t entry = 0, uint8_t a1 = 0x02, uint8_t a2 = 0,
                         uint8_t a3 = 0, uint8_t a4 = 0, unsigned extra = 0) {
    Bytes e = name8("MODULE");
    append(e, b24(0x000100));
    Bytes user(22 + extra, 0);
    user[20 - 12] = a1;
    user[21 - 12] = a2;
    user[22 - 12] = static_cast<uint8_t>(size >> 16);
    user[23 - 12] = static_cast<uint8_t>(size >> 8);
    user[24 - 12] = static_cast<uint8_t>(size);
    user[27 - 12] = static_cast<uint8_t>(entry >> 16);
    user[28 - 12] = static_cast<uint8_t>(entry >> 8);
    user[29 - 12] = static_cast<uint8_t>(entry);
    user[30 - 12] = a3;
    user[31 - 12] = a4;
    e.push_back(static_cast<uint8_t>(user.size() / 2));
    append(e, user);
    return e;
}

// A small module: a control section MAIN of 16 bytes with a V-constant to EXT at offset 8.
inline std::vector<Bytes> smallModule() {
    return {cesdRecord(1, {cesdEntry("MAIN", 0, 0, 16), cesdEntry("EXT", 2, 0, 0)}),
            controlRecord(0x01, 0, {}, cat({b16(1), b16(16)})), Bytes(16, 0x47),
            controlRecord(0x02, 0, cat({b16(2), b16(1), {0x1C}, b24(8)}), {})};
}

// A module read from its directory entry and records.
struct Read {
    std::string error;
    opx::LoadModuleImage image;
};

inline Read readModule(const Bytes& entry, const std::vector<Bytes>& records) {
    Read r;
    opx::LoadModuleReader reader(entry.data(), static_cast<unsigned>(entry.size()), r.image);
    for (const Bytes& rec : records)
        if (!reader.record(rec.data(), static_cast<uint32_t>(rec.size()))) break;
    if (reader.error().empty()) reader.finish();
    r.error = reader.error();
    return r;
}

class LoadLibrary : public XmitTest {
  protected:
    std::string out(const std::string& name) { return (dir_ / name).string(); }
    HandlePtr library(std::vector<Member> members) {
        Pds pds;
        pds.dsname = "TEST.LOAD";
        pds.recfm = 0xC0;
        pds.lrecl = 0;
        pds.blksize = 6144;
        pds.members = std::move(members);
        return openPds(pds);
    }
    static Member module(const std::string& name, const std::vector<Bytes>& records,
                         const Bytes& entry) {
        Member m;
        m.name = name;
        m.records = records;
        m.userData = Bytes(entry.begin() + 12, entry.end());
        return m;
    }
};

} // namespace xtest
