#include "tape_writer.h"

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace tapew {

namespace {

Bytes compressed(const Bytes& data, Compression how) {
    if (how == kZlib) {
        uLongf n = compressBound(static_cast<uLong>(data.size()));
        Bytes out(n);
        if (compress2(out.data(), &n, data.data(), static_cast<uLong>(data.size()), 6) != Z_OK)
            throw std::runtime_error("zlib");
        out.resize(n);
        return out;
    }
    unsigned n = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
    Bytes out(n);
    Bytes in = data;
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &n,
                                 reinterpret_cast<char*>(in.data()),
                                 static_cast<unsigned>(in.size()), 9, 0, 0) != BZ_OK)
        throw std::runtime_error("bzip2");
    out.resize(n);
    return out;
}

Bytes label(const std::string& text) {
    std::string t = text;
    t.resize(80, ' ');
    return xmitw::ebcdic(t);
}

std::string digits(long v, int width) {
    char b[32];
    std::snprintf(b, sizeof b, "%0*ld", width, v);
    return b;
}

} // namespace

void TapeWriter::raw(uint16_t length, uint16_t previous, uint8_t flags, const Bytes& data) {
    const uint8_t header[6] = {static_cast<uint8_t>(length),
                               static_cast<uint8_t>(length >> 8),
                               static_cast<uint8_t>(previous),
                               static_cast<uint8_t>(previous >> 8),
                               flags,
                               0};
    sink_->write(header, sizeof header);
    if (!data.empty()) sink_->write(data.data(), data.size());
    previous_ = length;
}

void TapeWriter::block(const Bytes& data) {
    const Bytes stored = compression_ == kNone ? data : compressed(data, compression_);
    size_t at = 0;
    do {
        const size_t n = std::min(chunk_, stored.size() - at);
        uint8_t flags = compression_;
        if (at == 0) flags |= 0x80;
        if (at + n == stored.size()) flags |= 0x20;
        raw(static_cast<uint16_t>(n), previous_, flags,
            Bytes(stored.begin() + static_cast<long>(at),
                  stored.begin() + static_cast<long>(at + n)));
        at += n;
    } while (at < stored.size());
}

void TapeWriter::tapeMark() {
    raw(0, previous_, 0x40, {});
}

Bytes vol1(const std::string& volser) {
    return label("VOL1" + volser);
}

Bytes hdr1(const std::string& id, const std::string& dsname, unsigned file,
           const std::string& created) {
    std::string name = dsname.size() > 17 ? dsname.substr(dsname.size() - 17) : dsname;
    name.resize(17, ' ');
    std::string t = id + name + "VOLSER" + "0001" + digits(file, 4) + "       ";
    t.resize(41, ' ');
    return label(t + created + " 000000000000");
}

Bytes hdr2(const std::string& id, char recfm, int blksize, int lrecl, char attribute) {
    std::string t = id + recfm + digits(blksize, 5) + digits(lrecl, 5) + "40" + "TESTJOB /STEP    ";
    t.resize(38, ' ');
    return label(t + attribute);
}

Bytes labeledTape(const std::string& volser, const std::vector<TapeFile>& files,
                  Compression compression) {
    TapeWriter w(compression);
    w.block(vol1(volser));
    unsigned n = 0;
    for (const TapeFile& f : files) {
        ++n;
        w.block(hdr1("HDR1", f.dsname, n));
        w.block(hdr2("HDR2", f.recfm, f.blksize, f.lrecl, f.attribute));
        w.tapeMark();
        for (const Bytes& b : f.blocks) w.block(b);
        w.tapeMark();
        w.block(hdr1("EOF1", f.dsname, n));
        w.block(hdr2("EOF2", f.recfm, f.blksize, f.lrecl, f.attribute));
        w.tapeMark();
    }
    w.tapeMark();
    return w.image();
}

Bytes unlabeledTape(const std::vector<std::vector<Bytes>>& files, Compression compression) {
    TapeWriter w(compression);
    for (const auto& f : files) {
        for (const Bytes& b : f) w.block(b);
        w.tapeMark();
    }
    w.tapeMark();
    return w.image();
}

std::vector<Bytes> fixedBlocks(const std::vector<Bytes>& records, size_t perBlock) {
    std::vector<Bytes> blocks;
    for (size_t i = 0; i < records.size(); i += perBlock) {
        Bytes b;
        for (size_t k = i; k < std::min(records.size(), i + perBlock); ++k)
            xmitw::append(b, records[k]);
        blocks.push_back(b);
    }
    return blocks;
}

void SpannedBlocker::record(const Bytes& r) {
    size_t at = 0;
    bool first = true;
    for (;;) {
        if (block_.empty()) block_ = {0, 0, 0, 0};
        if (block_.size() + 4 >= blksize_) {
            finish();
            continue;
        }
        const size_t room = blksize_ - block_.size() - 4;
        const size_t n = std::min(room, r.size() - at);
        const bool last = at + n == r.size();
        const uint8_t code = first && last ? 0 : first ? 1 : last ? 2 : 3;
        const size_t length = n + 4;
        block_.insert(block_.end(),
                      {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), code, 0});
        block_.insert(block_.end(), r.begin() + static_cast<long>(at),
                      r.begin() + static_cast<long>(at + n));
        at += n;
        first = false;
        if (last) break;
        finish();
    }
}

void SpannedBlocker::finish() {
    if (block_.empty()) return;
    block_[0] = static_cast<uint8_t>(block_.size() >> 8);
    block_[1] = static_cast<uint8_t>(block_.size());
    onBlock_(block_);
    block_.clear();
}

std::vector<Bytes> spannedBlocks(const std::vector<Bytes>& records, size_t blksize) {
    std::vector<Bytes> blocks;
    SpannedBlocker blocker(blksize, [&blocks](const Bytes& b) { blocks.push_back(b); });
    for (const Bytes& r : records) blocker.record(r);
    blocker.finish();
    return blocks;
}

std::vector<Bytes> unloadOf(const xmitw::Pds& pds) {
    std::vector<Bytes> records;
    xmitw::unloadRecords(pds, [&](const Bytes& r, bool) { records.push_back(r); });
    return records;
}

} // namespace tapew
