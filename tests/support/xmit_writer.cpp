#include "xmit_writer.h"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>

#include "codexa.h"

namespace xmitw {

namespace {

const Conversion* conversion() {
    static Charset* latin = pCharsetLoad(819, 0);
    static Charset* e = pCharsetLoad(1047, 0);
    static Conversion* c = pConversionBuild(latin, e);
    return c;
}

// Track and record number of each block, and the CCHH that the count field carries.
struct Layout {
    const Pds& pds;
    uint32_t track = 0; // relative
    uint32_t record = 1;
    explicit Layout(const Pds& p) : pds(p) {}
    uint32_t ttr() const { return (track << 8) | record; }
    void advance() {
        if (++record > pds.blocksPerTrack) {
            record = 1;
            ++track;
        }
    }
    Bytes countField(uint32_t dataLength) const {
        // Relative track to extent, cylinder and head.
        uint32_t rel = track;
        unsigned extent = 0;
        for (; extent + 1 < pds.extents.size(); ++extent) {
            const auto& e = pds.extents[extent];
            uint32_t size =
                (e[2] * pds.tracksPerCylinder + e[3]) - (e[0] * pds.tracksPerCylinder + e[1]) + 1;
            if (rel < size) break;
            rel -= size;
        }
        const auto& e = pds.extents[extent];
        const uint32_t absolute = e[0] * pds.tracksPerCylinder + e[1] + rel;
        Bytes cf;
        cf.push_back(0x00);
        cf.push_back(static_cast<uint8_t>(extent));
        put16(cf, 0);
        put16(cf, absolute / pds.tracksPerCylinder);
        put16(cf, absolute % pds.tracksPerCylinder);
        cf.push_back(static_cast<uint8_t>(record));
        cf.push_back(0);
        put16(cf, dataLength);
        return cf;
    }
};

// The blocks of a member's records in the data set's record format.
std::vector<Bytes> blocksOf(const Pds& pds, const Member& m) {
    std::vector<Bytes> blocks;
    const uint8_t format = pds.recfm & 0xC0;
    if (format == 0xC0 || format == 0) return m.records; // undefined: each record is a block
    if (format == 0x80) {
        const size_t perBlock = std::max<size_t>(1, pds.blksize / std::max(1, pds.lrecl));
        for (size_t i = 0; i < m.records.size(); i += perBlock) {
            Bytes b;
            for (size_t k = i; k < std::min(m.records.size(), i + perBlock); ++k)
                append(b, m.records[k]);
            blocks.push_back(b);
        }
        return blocks;
    }
    // Variable: block descriptor, then records behind their descriptors.
    Bytes b;
    auto flush = [&] {
        if (b.empty()) return;
        Bytes block;
        put16(block, static_cast<uint32_t>(b.size() + 4));
        put16(block, 0);
        append(block, b);
        blocks.push_back(block);
        b.clear();
    };
    for (const Bytes& r : m.records) {
        if (b.size() + r.size() + 8 > static_cast<size_t>(pds.blksize)) flush();
        put16(b, static_cast<uint32_t>(r.size() + 4));
        put16(b, 0);
        append(b, r);
    }
    flush();
    return blocks;
}

} // namespace

Bytes ebcdic(std::string_view text) {
    Bytes out(text.size());
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    uint8_t* q = out.data();
    eConvert(&p, p + text.size(), &q, out.data() + out.size(), conversion(), 0, 0);
    return out;
}

Bytes name8(std::string_view name) {
    std::string padded(name.substr(0, 8));
    padded.resize(8, ' ');
    return ebcdic(padded);
}

void put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
void put24(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v >> 16));
    put16(b, v & 0xFFFF);
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

TextUnit textUnit(uint16_t key, std::string_view text) {
    return {key, {ebcdic(text)}};
}

TextUnit numberUnit(uint16_t key, uint32_t value, unsigned width) {
    Bytes v;
    for (unsigned i = width; i-- > 0;)
        v.push_back(static_cast<uint8_t>(i >= 4 ? 0 : value >> (8 * i)));
    return {key, {v}};
}

TextUnit qualifierUnit(uint16_t key, std::string_view dsname) {
    TextUnit u{key, {}};
    size_t start = 0;
    while (start <= dsname.size()) {
        size_t dot = dsname.find('.', start);
        if (dot == std::string_view::npos) dot = dsname.size();
        u.values.push_back(ebcdic(dsname.substr(start, dot - start)));
        start = dot + 1;
    }
    return u;
}

TextUnit flagUnit(uint16_t key) {
    return {key, {}};
}

Bytes encodeTextUnits(const std::vector<TextUnit>& units) {
    Bytes b;
    for (const TextUnit& u : units) {
        put16(b, u.key);
        put16(b, static_cast<uint32_t>(u.values.size()));
        for (const Bytes& v : u.values) {
            put16(b, static_cast<uint32_t>(v.size()));
            append(b, v);
        }
    }
    return b;
}

Bytes controlRecord(std::string_view id, const std::vector<TextUnit>& units,
                    std::optional<uint32_t> fileNumber) {
    Bytes b = ebcdic(id);
    if (fileNumber) put32(b, *fileNumber);
    append(b, encodeTextUnits(units));
    return b;
}

void Sink::write(const uint8_t* data, size_t size) {
    if (vector_ != nullptr)
        vector_->insert(vector_->end(), data, data + size);
    else if (std::fwrite(data, 1, size, file_) != size)
        throw std::runtime_error("write failed");
    written_ += size;
}

void SegmentWriter::record(const Bytes& data, bool control, unsigned maxData) {
    size_t at = 0;
    bool first = true;
    do {
        const size_t n = std::min<size_t>(maxData, data.size() - at);
        uint8_t flags = 0;
        if (first) flags |= 0x80;
        if (at + n == data.size()) flags |= 0x40;
        if (control) flags |= 0x20;
        uint8_t head[2] = {static_cast<uint8_t>(n + 2), flags};
        sink_.write(head, 2);
        sink_.write(data.data() + at, n);
        at += n;
        first = false;
    } while (at < data.size());
}

void SegmentWriter::segment(uint8_t length, uint8_t flags, const Bytes& data) {
    uint8_t head[2] = {length, flags};
    sink_.write(head, 2);
    sink_.write(data.data(), data.size());
}

void SegmentWriter::raw(const Bytes& bytes) {
    sink_.write(bytes.data(), bytes.size());
}

void SegmentWriter::finish() {
    uint64_t size = sink_.written();
    uint64_t target = (size + 79) / 80 * 80;
    if (target < 160) target = 160;
    Bytes pad(static_cast<size_t>(target - size), 0x40);
    sink_.write(pad.data(), pad.size());
}

Bytes packedDate(uint32_t value, uint8_t sign) {
    // Seven digits 0CYYDDD and the sign nibble.
    Bytes b(4);
    uint32_t digits[7];
    for (int i = 6; i >= 0; --i) {
        digits[i] = value % 10;
        value /= 10;
    }
    b[0] = static_cast<uint8_t>(digits[0] << 4 | digits[1]);
    b[1] = static_cast<uint8_t>(digits[2] << 4 | digits[3]);
    b[2] = static_cast<uint8_t>(digits[4] << 4 | digits[5]);
    b[3] = static_cast<uint8_t>(digits[6] << 4 | sign);
    return b;
}

Bytes ispfUserData(const IspfStats& s) {
    Bytes b;
    b.push_back(s.version);
    b.push_back(s.modification);
    b.push_back(0);    // flags
    b.push_back(0x30); // seconds
    append(b, packedDate(s.created));
    append(b, packedDate(s.changed));
    b.push_back(s.hour);
    b.push_back(s.minute);
    put16(b, 10);
    put16(b, 10);
    put16(b, 0);
    append(b, name8(s.user));
    if (s.fifteenHalfwords) put16(b, 0);
    return b;
}

Bytes directoryEntry(std::string_view name, uint32_t ttr, bool alias, const Bytes& userData) {
    Bytes e = name8(name);
    put24(e, ttr);
    e.push_back(static_cast<uint8_t>((alias ? 0x80 : 0) | ((userData.size() / 2) & 0x1F)));
    append(e, userData);
    if (userData.size() % 2) e.push_back(0);
    return e;
}

Bytes copyR1(const Pds& pds) {
    Bytes r(std::max<unsigned>(pds.r1Length, 28), 0);
    r[0] = pds.r1Flags;
    r[1] = 0xCA;
    r[2] = 0x6D;
    r[3] = 0x0F;
    r[4] = 0x02; // DSORG PO
    r[6] = static_cast<uint8_t>(pds.blksize >> 8);
    r[7] = static_cast<uint8_t>(pds.blksize);
    r[8] = static_cast<uint8_t>(pds.lrecl >> 8);
    r[9] = static_cast<uint8_t>(pds.lrecl);
    r[10] = pds.recfm;
    r[13] = pds.smsFlags;
    r[26] = static_cast<uint8_t>(pds.tracksPerCylinder >> 8);
    r[27] = static_cast<uint8_t>(pds.tracksPerCylinder);
    r.resize(pds.r1Length);
    return r;
}

Bytes copyR2(const Pds& pds) {
    Bytes r(276, 0);
    r[0] = static_cast<uint8_t>(pds.extents.size());
    for (size_t i = 0; i < pds.extents.size() && i < 16; ++i) {
        uint8_t* e = r.data() + 16 + 16 * i;
        for (int k = 0; k < 4; ++k) {
            e[6 + 2 * k] = static_cast<uint8_t>(pds.extents[i][k] >> 8);
            e[7 + 2 * k] = static_cast<uint8_t>(pds.extents[i][k]);
        }
    }
    return r;
}

void unloadRecords(const Pds& pds, const Emit& emit) {
    emit(copyR1(pds), false);
    emit(copyR2(pds), false);

    // Lay the members out first: their TTRs go into the directory. Generated members are
    // fixed-format: their block counts follow from their record counts.
    const size_t perBlock = std::max<size_t>(1, pds.blksize / std::max(1, pds.lrecl));
    auto blockCount = [&](const Member& m) {
        return m.generate ? (m.generatedCount + perBlock - 1) / perBlock : blocksOf(pds, m).size();
    };
    Layout layout(pds);
    std::vector<uint32_t> ttrs;
    for (const Member& m : pds.members) {
        ttrs.push_back(layout.ttr());
        const size_t blocks = blockCount(m);
        for (size_t i = 0; i <= blocks; ++i) layout.advance(); // + end marker
    }

    // Directory entries in EBCDIC name order.
    std::map<Bytes, Bytes> entries;
    for (size_t i = 0; i < pds.members.size(); ++i) {
        const Member& m = pds.members[i];
        const Bytes user = m.stats ? ispfUserData(*m.stats) : m.userData;
        entries[name8(m.name)] = directoryEntry(m.name, ttrs[i], false, user);
        for (const std::string& a : m.aliases)
            entries[name8(a)] = directoryEntry(a, ttrs[i], true, user);
    }
    std::vector<Bytes> blocks; // 276-byte steps
    Bytes block{0, 2};
    Bytes key(8, 0);
    auto closeBlock = [&](bool last) {
        block.resize(256, 0);
        Bytes step = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x01, 0x00};
        append(step, last ? Bytes(8, 0xFF) : key);
        append(step, block);
        blocks.push_back(step);
        block = Bytes{0, 2};
    };
    auto setUsed = [&] {
        block[0] = static_cast<uint8_t>(block.size() >> 8);
        block[1] = static_cast<uint8_t>(block.size());
    };
    for (const auto& [entryName, entry] : entries) {
        if (block.size() + entry.size() > 256) {
            closeBlock(false);
        }
        append(block, entry);
        key = entryName;
        setUsed();
    }
    // The last entry: a name of X'FF' bytes.
    if (block.size() + 12 > 256) closeBlock(false);
    append(block, Bytes(8, 0xFF));
    append(block, Bytes(4, 0));
    setUsed();
    closeBlock(true);
    for (unsigned i = 0; i < pds.spareDirectoryBlocks; ++i) {
        block = Bytes{0, 2};
        closeBlock(true);
    }
    for (size_t i = 0; i < blocks.size(); i += pds.directoryBlocksPerRecord) {
        Bytes rec;
        for (size_t k = i; k < std::min(blocks.size(), i + pds.directoryBlocksPerRecord); ++k)
            append(rec, blocks[k]);
        if (i + pds.directoryBlocksPerRecord >= blocks.size() && pds.directoryEndMarker)
            append(rec, Bytes(12, 0));
        emit(rec, false);
    }

    // Member data: blocks behind count fields, end markers, gathered into unload records.
    Layout data(pds);
    Bytes rec;
    auto add = [&](const Bytes& cf, const Bytes* body) {
        const size_t size = cf.size() + (body ? body->size() : 0);
        if (!rec.empty() && rec.size() + size > pds.maxUnloadRecord) {
            emit(rec, false);
            rec.clear();
        }
        append(rec, cf);
        if (body) append(rec, *body);
    };
    for (const Member& m : pds.members) {
        if (m.generate) {
            Bytes b;
            for (size_t i = 0; i < m.generatedCount; ++i) {
                append(b, m.generate(i));
                if ((i + 1) % perBlock == 0 || i + 1 == m.generatedCount) {
                    add(data.countField(static_cast<uint32_t>(b.size())), &b);
                    data.advance();
                    b.clear();
                }
            }
        } else {
            for (const Bytes& b : blocksOf(pds, m)) {
                add(data.countField(static_cast<uint32_t>(b.size())), &b);
                data.advance();
            }
        }
        add(data.countField(0), nullptr);
        data.advance();
    }
    if (!rec.empty()) emit(rec, false);
}

namespace {

std::vector<TextUnit> inmr01(const Origin& o, uint32_t files) {
    return {numberUnit(0x0042, 80, 1),   textUnit(0x1011, o.node),  textUnit(0x1012, o.user),
            textUnit(0x1001, "TNODE"),   textUnit(0x1002, "TUSER"), textUnit(0x1024, o.time),
            numberUnit(0x102F, files, 1)};
}

void emitMessage(const std::vector<std::string>& lines, const Emit& emit) {
    emit(controlRecord("INMR03", {numberUnit(0x003C, 0x4000, 2)}), true);
    for (const std::string& l : lines) {
        std::string padded = l;
        padded.resize(80, ' ');
        emit(ebcdic(padded), false);
    }
}

} // namespace

void pdsTransmit(const Pds& pds, const Emit& emit, const Origin& origin,
                 const std::vector<std::string>* message) {
    const uint32_t dataFile = message ? 2 : 1;
    emit(controlRecord("INMR01", inmr01(origin, dataFile)), true);
    if (message)
        emit(controlRecord("INMR02",
                           {textUnit(0x1028, "INMCOPY"), flagUnit(0x0028),
                            numberUnit(0x003C, 0x4000, 2), numberUnit(0x0042, 80, 4),
                            numberUnit(0x0030, 3120, 4), numberUnit(0x0049, 0x9000, 2)},
                           1),
             true);
    Bytes recfm{pds.recfm, static_cast<uint8_t>((pds.recfm & 0xC0) == 0x40 ? 0x02 : 0x00)};
    emit(controlRecord("INMR02",
                       {textUnit(0x1028, "IEBCOPY"), numberUnit(0x003C, 0x0200, 2),
                        numberUnit(0x0042, static_cast<uint32_t>(pds.lrecl), 4),
                        numberUnit(0x0030, static_cast<uint32_t>(pds.blksize), 4),
                        TextUnit{0x0049, {recfm}}, qualifierUnit(0x0002, pds.dsname)},
                       dataFile),
         true);
    emit(controlRecord("INMR02",
                       {textUnit(0x1028, "INMCOPY"), numberUnit(0x003C, 0x4000, 2),
                        numberUnit(0x0042, 32756, 4), numberUnit(0x0030, 32760, 4),
                        numberUnit(0x0049, 0x4802, 2)},
                       dataFile),
         true);
    if (message) emitMessage(*message, emit);
    emit(controlRecord("INMR03", {numberUnit(0x003C, 0x4000, 2)}), true);
    unloadRecords(pds, emit);
    emit(controlRecord("INMR06", {}), true);
}

void sequentialTransmit(std::string_view dsname, uint8_t recfm, int lrecl, int blksize,
                        const std::vector<Bytes>& records, const Emit& emit, const Origin& origin) {
    emit(controlRecord("INMR01", inmr01(origin, 1)), true);
    std::vector<TextUnit> units = {textUnit(0x1028, "INMCOPY"), numberUnit(0x003C, 0x4000, 2),
                                   numberUnit(0x0042, static_cast<uint32_t>(lrecl), 4),
                                   numberUnit(0x0030, static_cast<uint32_t>(blksize), 4),
                                   TextUnit{0x0049, {{recfm, 0}}}};
    // An empty name: no data set name unit at all.
    if (!dsname.empty()) units.push_back(qualifierUnit(0x0002, dsname));
    emit(controlRecord("INMR02", units, 1), true);
    emit(controlRecord("INMR03", {numberUnit(0x003C, 0x4000, 2)}), true);
    for (const Bytes& r : records) emit(r, false);
    emit(controlRecord("INMR06", {}), true);
}

std::vector<LogicalRecord> collect(const std::function<void(const Emit&)>& produce) {
    std::vector<LogicalRecord> out;
    produce([&](const Bytes& r, bool control) { out.push_back({r, control}); });
    return out;
}

Bytes fileImage(const std::vector<LogicalRecord>& records, unsigned maxData) {
    Bytes out;
    Sink sink(&out);
    SegmentWriter w(sink);
    for (const auto& r : records) w.record(r.data, r.control, maxData);
    w.finish();
    return out;
}

} // namespace xmitw
