// GOFF records for tests, built from their fields: logical records split into 80-byte
// physical records with their continuation states.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "linkedit_support.h"

namespace gt {

inline void put(std::string& s, size_t at, uint64_t v, unsigned bytes) {
    if (s.size() < at + bytes) s.resize(at + bytes, '\0');
    for (unsigned i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * (bytes - 1 - i)));
}

// A logical record: its type and its bytes from offset 3 on (offsets below count from 0 of
// the logical record, prefix included).
struct Logical {
    unsigned type = 0;
    std::string bytes = std::string(3, '\0');
    Logical& u8(size_t at, unsigned v) {
        put(bytes, at, v, 1);
        return *this;
    }
    Logical& be16(size_t at, unsigned v) {
        put(bytes, at, v, 2);
        return *this;
    }
    Logical& be32(size_t at, uint32_t v) {
        put(bytes, at, v, 4);
        return *this;
    }
    Logical& raw(size_t at, const std::string& data) {
        if (bytes.size() < at + data.size()) bytes.resize(at + data.size(), '\0');
        bytes.replace(at, data.size(), data);
        return *this;
    }
};

// The physical records of a logical record: 77 data bytes each, zero-filled at the end.
inline std::string physical(const Logical& l) {
    const std::string data = l.bytes.substr(3);
    const size_t count = data.empty() ? 1 : (data.size() + 76) / 77;
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        std::string r(80, '\0');
        r[0] = 0x03;
        unsigned state = 0;
        if (count > 1) state = i == 0 ? 1 : i + 1 == count ? 2 : 3;
        r[1] = static_cast<char>(l.type << 4 | state);
        const std::string part = data.substr(i * 77, 77);
        r.replace(3, part.size(), part);
        out += r;
    }
    return out;
}

inline std::string module(const std::vector<Logical>& records) {
    std::string out;
    for (const Logical& l : records) out += physical(l);
    return out;
}

inline Logical goffHdr() {
    Logical l;
    l.type = 0xF;
    l.be32(48, 1); // architecture level
    l.bytes.resize(80, '\0');
    return l;
}

// An ESD record's fields, set one after the other.
struct Esd {
    unsigned symbolType = 0;
    uint32_t id = 0, parent = 0, offset = 0, length = 0;
    std::string name; // ASCII, converted to EBCDIC
    uint8_t amode = 0, rmode = 0, style = 0, binding = 0, tasking = 0, strength = 0, loading = 0,
            alignment = 3;
    uint32_t associated = 0;
    bool rawName = false; // the name bytes as they stand

    Esd(unsigned type, uint32_t esdid, uint32_t owner, const std::string& n)
        : symbolType(type), id(esdid), parent(owner), name(n) {}
    Esd& at(uint32_t o, uint32_t l) {
        offset = o, length = l;
        return *this;
    }
    Esd& modes(uint8_t a, uint8_t r) {
        amode = a, rmode = r;
        return *this;
    }
    Esd& align(uint8_t a) {
        alignment = a;
        return *this;
    }
    Esd& raw() {
        rawName = true;
        return *this;
    }
};
inline Logical goffEsd(const Esd& e) {
    Logical l;
    l.type = 0x0;
    const std::string name = e.rawName ? e.name : lt::ebcdic(e.name);
    l.u8(3, e.symbolType).be32(4, e.id).be32(8, e.parent).be32(16, e.offset).be32(24, e.length);
    l.be32(44, e.associated);
    l.u8(60, e.amode).u8(61, e.rmode).u8(62, e.style << 4 | e.binding).u8(63, e.tasking);
    l.u8(64, e.strength).u8(65, e.loading).u8(66, e.alignment).u8(67, 0).u8(68, 0).u8(69, 0);
    l.be16(70, static_cast<unsigned>(name.size())).raw(72, name);
    return l;
}
inline Logical goffSd(uint32_t id, const std::string& name) {
    return goffEsd(Esd(0, id, 0, name));
}
inline Logical goffEd(uint32_t id, uint32_t sd, const std::string& cls, uint32_t offset,
                      uint32_t length) {
    Esd e(1, id, sd, cls);
    e.at(offset, length).modes(2, 3);
    if (cls == "B_PRV") e.binding = 1, e.loading = 0x80, e.amode = e.rmode = 0;
    if (cls == "B_IDRL") e.style = 1, e.loading = 0x80, e.amode = e.rmode = 0;
    return goffEsd(e);
}
inline Logical goffLd(uint32_t id, uint32_t ed, const std::string& name, uint32_t offset) {
    return goffEsd(Esd(2, id, ed, name).at(offset, 0).modes(2, 0));
}
inline Logical goffEr(uint32_t id, uint32_t sd, const std::string& name, bool weak = false) {
    Esd e(4, id, sd, name);
    e.strength = weak ? 1 : 0;
    return goffEsd(e);
}
inline Logical goffPr(uint32_t id, uint32_t ed, const std::string& name, uint32_t length) {
    return goffEsd(Esd(3, id, ed, name).at(0, length));
}

inline Logical goffTxt(uint32_t element, uint32_t offset, const std::string& data,
                       unsigned style = 0) {
    Logical l;
    l.type = 0x1;
    l.u8(3, style).be32(4, element).be32(12, offset).be16(22, static_cast<unsigned>(data.size()));
    l.raw(24, data);
    return l;
}
// Identification data of format 3: translator, version, release, date yyyyddd, time.
inline std::string idr3(const std::string& translator, const std::string& vr,
                        const std::string& date, const std::string& time) {
    std::string item = lt::ebcdic(translator + vr + date + time);
    std::string d(4, '\0');
    d[1] = 3;
    put(d, 2, item.size(), 2);
    return d + item;
}

// A relocation item: flags bytes 0-2, the field length, pointers and offset (left out as the
// flags say).
struct RldItem {
    uint8_t flags = 0, types = 0, action = 0, length = 4;
    uint32_t r = 0, p = 0, offset = 0;
    RldItem(uint32_t rp, uint32_t pp, uint32_t off, uint8_t f = 0)
        : flags(f), r(rp), p(pp), offset(off) {}
    RldItem& type(uint8_t t) {
        types = t;
        return *this;
    }
    RldItem& act(uint8_t a) {
        action = a;
        return *this;
    }
    RldItem& bytes(uint8_t n) {
        length = n;
        return *this;
    }
};
inline Logical goffRld(const std::vector<RldItem>& items) {
    std::string d;
    for (const RldItem& i : items) {
        std::string h(8, '\0');
        h[0] = static_cast<char>(i.flags);
        h[1] = static_cast<char>(i.types);
        h[2] = static_cast<char>(i.action);
        h[4] = static_cast<char>(i.length);
        if (!(i.flags & 0x80)) put(h, h.size(), i.r, 4);
        if (!(i.flags & 0x40)) put(h, h.size(), i.p, 4);
        if (!(i.flags & 0x20)) put(h, h.size(), i.offset, 4);
        d += h;
    }
    Logical l;
    l.type = 0x2;
    l.be16(4, static_cast<unsigned>(d.size())).raw(6, d);
    return l;
}

inline Logical goffLen(const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
    Logical l;
    l.type = 0x3;
    l.be16(6, static_cast<unsigned>(entries.size() * 12));
    for (size_t i = 0; i < entries.size(); ++i)
        l.be32(8 + 12 * i, entries[i].first).be32(16 + 12 * i, entries[i].second);
    if (entries.empty()) l.bytes.resize(8, '\0');
    return l;
}

// END: no entry, by ESDID and offset, or by name.
inline Logical goffEnd(unsigned request = 0, uint32_t esdid = 0, uint32_t offset = 0,
                       const std::string& name = "", uint32_t count = 0) {
    Logical l;
    l.type = 0x4;
    l.u8(3, request).be32(8, count).be32(12, esdid).be32(20, offset);
    const std::string n = lt::ebcdic(name);
    l.be16(24, static_cast<unsigned>(n.size())).raw(26, n);
    return l;
}

} // namespace gt
