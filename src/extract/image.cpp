// Tape images and bare unloads as record sources: the tape's structure (block headers, tape
// marks, labels) is read once when the image opens; the records of a data file are then cut
// from its blocks, one block in memory at a time, as its record format says:
//
//   F, FB        LRECL bytes at a time (a block that is no multiple of LRECL: the whole block)
//   V, VB        behind a block descriptor, each record behind its record descriptor
//   VS, VBS      as V, segments joined into records (first X'01', middle X'03', last X'02')
//   U            the whole block
//
// A bare unload is read into memory whole and cut into the unload's records: by their
// descriptors when it has them, else by the unload's own structure (COPYR1, COPYR2, directory
// blocks of 276 bytes up to the 12-byte end marker, then data blocks behind their count fields).
//
// The end of a data file is delivered as a control record, as the end of a data set's data is
// in a transmit file, so that the readers built for transmit files stop there.
#include "image.h"

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/files.h"
#include "reader.h"
#include "record_source.h"
#include "runtime.h"
#include "tape_format.h"
#include "unload_format.h"
#include "xmit_format.h"

namespace opx {

namespace {

using xmit::be16;

constexpr uint8_t kInmr06[6] = {0xC9, 0xD5, 0xD4, 0xD9, 0xF0, 0xF6};
constexpr uint8_t kInmr01[6] = {0xC9, 0xD5, 0xD4, 0xD9, 0xF0, 0xF1};
// The largest bare unload read into memory.
constexpr int64_t kMaxBareUnload = int64_t(1) << 31;

// A byte buffer whose growth leaves the new bytes as they are (they are read into at once).
template <class T> struct Uninitialized : std::allocator<T> {
    template <class U> struct rebind { using other = Uninitialized<U>; };
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... A> void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};
using Buffer = std::vector<uint8_t, Uninitialized<uint8_t>>;

// Puts a record into the handle's record buffer.
void setRecord(XmitHandle* h, const uint8_t* data, uint32_t n, uint8_t flags, int64_t offset) {
    if (static_cast<uint64_t>(n) + 256 > h->recordCapacity) {
        const uint32_t capacity = n + 65536;
        h->record = static_cast<uint8_t*>(rt::grow(h->record, h->recordCapacity, capacity));
        h->recordCapacity = capacity;
    }
    if (n > 0) std::memcpy(h->record, data, n);
    h->recordLength = n;
    h->recordFlags = flags;
    h->recordOffset = offset;
}

// The control record that ends a data file.
void setEnd(XmitHandle* h, int64_t offset) {
    setRecord(h, kInmr06, 6, xmit::kControlRecord, offset);
}

int fail(XmitHandle* h, const char* message, int status = IO_ERROR) {
    h->message = message;
    h->io.status = status;
    return status;
}

// EBCDIC label text to the workstation code page, blanks at the end dropped.
std::string labelText(const uint8_t* p, unsigned n) {
    const uint8_t* e2a = rt::ebcdicToAscii();
    std::string s;
    for (unsigned i = 0; i < n; ++i) s.push_back(static_cast<char>(e2a[p[i]]));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// A decimal field of a label, or -1.
long labelNumber(const uint8_t* p, unsigned n) {
    long v = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (p[i] < 0xF0 || p[i] > 0xF9) return -1;
        v = v * 10 + (p[i] - 0xF0);
    }
    return v;
}

bool isLabel(const Buffer& b, const char* id) {
    if (b.size() != tape::kLabelLength) return false;
    const uint8_t* a2e = rt::asciiToEbcdic();
    for (int i = 0; i < 4; ++i)
        if (b[static_cast<size_t>(i)] != a2e[static_cast<uint8_t>(id[i])]) return false;
    return true;
}

// "c yy ddd" of a label as yyyy-mm-dd: c blank or 0; a blank century before year 70 counts as
// this century, as some tape writers leave it blank.
std::string labelDate(const uint8_t* p) {
    const long yy = labelNumber(p + 1, 2), ddd = labelNumber(p + 3, 3);
    if (yy < 0 || ddd < 1 || ddd > 366) return "";
    const uint8_t c = p[0];
    int year = static_cast<int>(yy) + ((c == 0xF0 || (c == 0x40 && yy < 70)) ? 2000 : 1900);
    if (c != 0x40 && c != 0xF0) year = static_cast<int>(yy) + 1900 + (c - 0xF0) * 100;
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int day = static_cast<int>(ddd), month = 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    while (month < 12) {
        const int n = kDays[month] + (month == 1 && leap ? 1 : 0);
        if (day <= n) break;
        day -= n;
        ++month;
    }
    if (month == 12) return "";
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month + 1, day);
    return text;
}

// A RECFM byte from the letters of a label or an option: F, V or U, then B and S (R both).
uint8_t recfmByte(char format, char attribute) {
    uint8_t r = format == 'F'   ? xmit::kRecfmFixed
                : format == 'V' ? xmit::kRecfmVariable
                : format == 'U' ? xmit::kRecfmUndefined
                                : 0;
    if (attribute == 'B' || attribute == 'R') r |= xmit::kRecfmBlocked;
    if (attribute == 'S' || attribute == 'R') r |= xmit::kRecfmSpanned;
    return r;
}

// The descriptor (RDW or SDW) at p: its length and segment code, when it is one.
bool descriptorAt(const uint8_t* p, size_t left, uint32_t* length, uint8_t* code) {
    if (left < 4) return false;
    *length = be16(p);
    *code = p[2];
    return *length >= 4 && *length <= left && p[3] == 0 && *code <= 3;
}

// Joins segments into a record: false with a reason when the segments do not fit together.
class SegmentJoiner {
  public:
    // Takes one segment; `done` tells when a record is complete.
    const char* add(const uint8_t* data, uint32_t n, uint8_t code, bool* done) {
        *done = false;
        if (code == 0 || code == 1) {
            if (open_) return "a record starts before the one before it has ended";
            record_.assign(data, data + n);
            open_ = code == 1;
            *done = !open_;
            return nullptr;
        }
        if (!open_) return "a segment continues a record that has not started";
        if (record_.size() + n > tape::kMaxBlock * 4ull) return "a record is too long";
        record_.insert(record_.end(), data, data + n);
        if (code == 2) {
            open_ = false;
            *done = true;
        }
        return nullptr;
    }
    bool open() const { return open_; }
    void reset() {
        open_ = false;
        record_.clear();
    }
    const std::vector<uint8_t>& record() const { return record_; }

  private:
    bool open_ = false;
    std::vector<uint8_t> record_;
};

enum class Format { Fixed, Variable, Spanned, Undefined };

Format formatOf(const char* letters) {
    switch (letters[0]) {
    case 'F':
        return Format::Fixed;
    case 'V':
        return std::strchr(letters, 'S') ? Format::Spanned : Format::Variable;
    default:
        return Format::Undefined;
    }
}

// ---- tapes -------------------------------------------------------------------------------------

struct TapeFile {
    TapeFileInfo info;
    int64_t end = 0; // the tape mark after the data
    std::string dsname;
    char format = 0, attribute = ' ';
    long blksize = -1, lrecl = -1;
};

class TapeSource : public RecordSource {
  public:
    explicit TapeSource(XmitHandle* h) : h_(h) {}
    std::vector<TapeFile> files;

    // Reads the block whose first header stands at `offset` into `out` (joined, decompressed).
    // Returns 1 for a block, 0 for a tape mark, -1 with the handle's message set.
    int readBlock(int64_t offset, Buffer& out, int64_t* next) {
        out.clear();
        uint8_t compression = 0;
        bool first = true;
        for (;;) {
            uint8_t header[tape::kHeaderLength];
            if (!fetch(offset, header, sizeof header))
                return failAt(readError_.empty() ? "Truncated block header" : readError_.c_str(),
                              offset),
                       -1;
            const uint16_t length = tape::le16(header + tape::kCurrentLength);
            const uint8_t flags = header[tape::kFlags1];
            if (flags & tape::kTapeMark) {
                if (!first) return failAt("Tape mark inside a block", offset), -1;
                *next = offset + tape::kHeaderLength + length;
                return 0;
            }
            if (first) compression = flags & tape::kCompression;
            if (out.size() + length > tape::kMaxBlock) return failAt("Block too long", offset), -1;
            const size_t at = out.size();
            out.resize(at + length);
            if (length > 0 && !fetch(offset + tape::kHeaderLength, out.data() + at, length))
                return failAt(readError_.empty() ? "Truncated block" : readError_.c_str(), offset),
                       -1;
            offset += tape::kHeaderLength + length;
            first = false;
            if (flags & tape::kEndOfRecord) break;
        }
        *next = offset;
        if (compression != 0 && !decompress(compression, out)) return -1;
        return 1;
    }

    int read(XmitHandle* h) override {
        for (;;) {
            if (!atEnd_ && (!inBlock_ || at_ >= block_.size()) && !nextBlock()) return IO_ERROR;
            if (atEnd_) {
                if (joining_)
                    return fail(h, atOffset("A spanned record is cut short by the tape mark",
                                            blockOffset_));
                setEnd(h, blockOffset_);
                return IO_OK;
            }
            const int r = cut(h);
            if (r == 0) return IO_OK;
            if (r < 0) return IO_ERROR;
            // The block is used up: the record (or the next one) goes on in the next block.
        }
    }

    int seek(XmitHandle* h, int64_t position) override {
        const int64_t offset = position >> 24;
        const uint32_t within = static_cast<uint32_t>(position & 0xFFFFFF);
        file_ = nullptr;
        for (const TapeFile& f : files)
            if (offset >= f.info.offset && offset <= f.end) file_ = &f;
        if (file_ == nullptr) return fail(h, atOffset("No data set at offset", offset));
        format_ = formatOfFile(*file_);
        joining_ = false;
        atEnd_ = false;
        inBlock_ = false;
        nextOffset_ = offset;
        block_.clear();
        at_ = 0;
        if (offset == file_->end) {
            blockOffset_ = offset;
            atEnd_ = true;
            return IO_OK;
        }
        if (!nextBlock()) return IO_ERROR;
        // Within 0 is the block's first record, wherever its descriptors put it.
        if (within != 0) at_ = within;
        if (at_ > block_.size()) return fail(h, atOffset("Invalid record position", offset));
        return IO_OK;
    }

    int64_t position() const override {
        if (inBlock_ && at_ < block_.size())
            return (blockOffset_ << 24) | static_cast<int64_t>(at_);
        return nextOffset_ << 24;
    }

    static Format formatOfFile(const TapeFile& f) {
        char letters[6] = {f.format, 0};
        if (f.attribute == 'S' || f.attribute == 'R') letters[1] = 'S';
        return formatOf(letters);
    }

  private:
    void failAt(const char* what, int64_t offset) {
        h_->message = atOffset(what, offset);
        h_->io.status = IO_ERROR;
    }
    static const char* atOffset(const char* what, int64_t offset) {
        return rt::message("%s at offset %" PRId64, what, offset);
    }

    bool decompress(uint8_t how, Buffer& data) {
        Buffer out(std::max<size_t>(data.size() * 4, 65536));
        if (how == tape::kZlib) {
            z_stream z{};
            if (inflateInit(&z) != Z_OK)
                return failAt("Block does not decompress", blockOffset_), false;
            z.next_in = data.data();
            z.avail_in = static_cast<uInt>(data.size());
            int r = Z_OK;
            size_t produced = 0;
            while (r == Z_OK) {
                if (produced == out.size()) {
                    if (out.size() >= tape::kMaxBlock) break;
                    out.resize(std::min<size_t>(out.size() * 2, tape::kMaxBlock));
                }
                z.next_out = out.data() + produced;
                z.avail_out = static_cast<uInt>(out.size() - produced);
                r = inflate(&z, Z_NO_FLUSH);
                produced = out.size() - z.avail_out;
            }
            inflateEnd(&z);
            if (r != Z_STREAM_END) return failAt("Block does not decompress", blockOffset_), false;
            out.resize(produced);
        } else if (how == tape::kBzip2) {
            for (;;) {
                unsigned produced = static_cast<unsigned>(out.size());
                const int r = BZ2_bzBuffToBuffDecompress(
                    reinterpret_cast<char*>(out.data()), &produced,
                    reinterpret_cast<char*>(data.data()), static_cast<unsigned>(data.size()), 0, 0);
                if (r == BZ_OUTBUFF_FULL && out.size() < tape::kMaxBlock) {
                    out.resize(std::min<size_t>(out.size() * 2, tape::kMaxBlock));
                    continue;
                }
                // BZ_CONFIG_ERROR: a build without bzip2 (the Windows build) reads no such block.
                if (r == BZ_CONFIG_ERROR)
                    return failAt("Block is compressed with bzip2, which this build cannot read",
                                  blockOffset_),
                           false;
                if (r != BZ_OK) return failAt("Block does not decompress", blockOffset_), false;
                out.resize(produced);
                break;
            }
        } else {
            return failAt("Block of an unknown compression", blockOffset_), false;
        }
        data.swap(out);
        return true;
    }

    // Loads the next block of the current file. False with the message set.
    bool nextBlock() {
        if (file_ == nullptr)
            return h_->message = "No data set is positioned", h_->io.status = IO_ERROR, false;
        blockOffset_ = nextOffset_;
        at_ = 0;
        if (nextOffset_ >= file_->end) {
            atEnd_ = true;
            inBlock_ = false;
            block_.clear();
            return true;
        }
        int64_t next = 0;
        const int r = readBlock(nextOffset_, block_, &next);
        if (r < 0) return false;
        if (r == 0) {
            atEnd_ = true;
            inBlock_ = false;
            return true;
        }
        nextOffset_ = next;
        inBlock_ = true;
        atEnd_ = false;
        // A variable block begins with its block descriptor.
        if (format_ == Format::Variable || format_ == Format::Spanned) {
            if (block_.size() < 4 || be16(block_.data()) != block_.size() || block_[2] != 0 ||
                block_[3] != 0)
                return failAt("Invalid block descriptor", blockOffset_), false;
            at_ = 4;
        }
        return true;
    }

    // Cuts the next record from the block: 0 a record delivered, 1 none in what is left (go
    // on with the next block), -1 an error.
    int cut(XmitHandle* h) {
        const uint8_t* p = block_.data() + at_;
        const size_t left = block_.size() - at_;
        const int64_t offset = blockOffset_;
        if (left == 0) return 1;
        switch (format_) {
        case Format::Fixed: {
            const size_t lrecl = file_->lrecl > 0 ? static_cast<size_t>(file_->lrecl) : 0;
            const size_t n = lrecl > 0 && block_.size() % lrecl == 0 ? lrecl : left;
            setRecord(h, p, static_cast<uint32_t>(n), 0, offset);
            at_ += n;
            return 0;
        }
        case Format::Undefined:
            setRecord(h, p, static_cast<uint32_t>(left), 0, offset);
            at_ += left;
            return 0;
        case Format::Variable:
        case Format::Spanned: {
            uint32_t length = 0;
            uint8_t code = 0;
            if (!descriptorAt(p, left, &length, &code) ||
                (format_ == Format::Variable && code != 0)) {
                failAt("Invalid record descriptor", offset);
                return -1;
            }
            at_ += length;
            if (format_ == Format::Variable) {
                setRecord(h, p + 4, length - 4, 0, offset);
                return 0;
            }
            // Segments are joined in the handle's record buffer itself.
            const uint32_t n = length - 4;
            if (code == 0 || code == 1) {
                if (joining_) {
                    failAt("Invalid segment (a record starts before the one before it has "
                           "ended)",
                           offset);
                    return -1;
                }
                setRecord(h, p + 4, n, 0, offset);
                joining_ = code == 1;
                return joining_ ? 1 : 0;
            }
            if (!joining_) {
                failAt("Invalid segment (a segment continues a record that has not started)",
                       offset);
                return -1;
            }
            if (static_cast<uint64_t>(h->recordLength) + n > tape::kMaxBlock * 4ull) {
                failAt("Invalid segment (a record is too long)", offset);
                return -1;
            }
            const uint32_t have = h->recordLength;
            if (static_cast<uint64_t>(have) + n + 256 > h->recordCapacity) {
                const uint32_t capacity = have + n + 65536;
                h->record = static_cast<uint8_t*>(rt::grow(h->record, h->recordCapacity, capacity));
                h->recordCapacity = capacity;
            }
            std::memcpy(h->record + have, p + 4, n);
            h->recordLength = have + n;
            if (code == 3) return 1;
            joining_ = false;
            return 0;
        }
        }
        return -1;
    }

    // Copies n bytes of the image at offset out of the read-ahead window, filling it as
    // needed. False when the image has fewer bytes there (or cannot be read). At trace level 3
    // and above every header and block is read from the stream by itself, so that each shows
    // in the trace.
    bool fetch(int64_t offset, uint8_t* out, size_t n) {
        readError_.clear();
        if (h_->io.traceLevel >= TRACE_CALLS) {
            if (!seekTo(offset)) return false;
            const size_t got = rt::ioRead(h_->io, out, 1, n);
            streamAt_ = got == n ? offset + static_cast<int64_t>(n) : -1;
            if (got != n) noteReadError();
            return got == n;
        }
        while (n > 0) {
            if (offset < windowAt_ || offset - windowAt_ >= static_cast<int64_t>(window_.size())) {
                if (!fill(offset)) return false;
            }
            const size_t within = static_cast<size_t>(offset - windowAt_);
            const size_t take = std::min(n, window_.size() - within);
            std::memcpy(out, window_.data() + within, take);
            out += take;
            n -= take;
            offset += static_cast<int64_t>(take);
        }
        return true;
    }

    // Puts the stream at offset. Reads that follow one another need no seek (which would drop
    // the stream's buffer).
    bool seekTo(int64_t offset) {
        if (offset == streamAt_) return true;
        if (rt::ioSeek(h_->io, offset, SEEK_SET) == IO_OK) {
            streamAt_ = offset;
            return true;
        }
        streamAt_ = -1;
        noteReadError();
        return false;
    }

    // Reads the window from offset on: a large read where blocks and their headers one after
    // the other would each cost a read of their own.
    bool fill(int64_t offset) {
        window_.clear();
        windowAt_ = offset;
        if (offset >= h_->fileSize || !seekTo(offset)) return false;
        const size_t want = static_cast<size_t>(std::min<int64_t>(kWindow, h_->fileSize - offset));
        window_.resize(want);
        const size_t got = rt::ioRead(h_->io, window_.data(), 1, want);
        window_.resize(got);
        // After a short read the stream's place is not trusted: the next read seeks.
        streamAt_ = got == want ? offset + static_cast<int64_t>(got) : -1;
        if (got < want) noteReadError();
        return got > 0;
    }

    // A stream that failed (rather than ended) gives the system's reason instead of a
    // truncated block.
    void noteReadError() {
        if (h_->io.status == IO_ERROR)
            readError_ = std::string(h_->io.operation) + " error: " + std::strerror(h_->io.errnum);
    }

    static constexpr int64_t kWindow = 256 * 1024;

    XmitHandle* h_;
    int64_t streamAt_ = -1; // where the stream stands, when known
    Buffer window_;         // bytes of the image read ahead, from windowAt_ on
    int64_t windowAt_ = 0;
    std::string readError_; // why the last fetch failed, when the stream failed
    const TapeFile* file_ = nullptr;
    Format format_ = Format::Undefined;
    Buffer block_;
    size_t at_ = 0;
    int64_t blockOffset_ = 0, nextOffset_ = 0;
    bool inBlock_ = false, atEnd_ = false;
    bool joining_ = false; // a spanned record is being joined in the handle's record
};

// ---- bare unloads ------------------------------------------------------------------------------

class BareSource : public RecordSource {
  public:
    std::vector<uint8_t> data;
    // The unload's records: where each begins and how long its data is (descriptors cut away).
    struct Record {
        int64_t offset;
        std::vector<uint8_t> joined; // a record joined from segments; empty: in place
        uint32_t at, length;
    };
    std::vector<Record> records;

    int read(XmitHandle* h) override {
        if (next_ >= records.size()) {
            setEnd(h, static_cast<int64_t>(data.size()));
            next_ = records.size() + 1;
            return IO_OK;
        }
        const Record& r = records[next_++];
        const uint8_t* p = r.joined.empty() ? data.data() + r.at : r.joined.data();
        setRecord(h, p, r.length, 0, r.offset);
        return IO_OK;
    }
    int seek(XmitHandle* h, int64_t position) override {
        if (position < 1 || static_cast<uint64_t>(position) > records.size() + 1)
            return fail(h, "Invalid record position");
        next_ = static_cast<size_t>(position - 1);
        return IO_OK;
    }
    // Records are numbered from 1, so that no position is 0.
    int64_t position() const override { return static_cast<int64_t>(next_) + 1; }

  private:
    size_t next_ = 0;
};

// Cuts a bare unload without descriptors into its records. Returns null or why not.
const char* cutUnload(BareSource& s) {
    const std::vector<uint8_t>& d = s.data;
    auto add = [&](size_t at, size_t n) {
        s.records.push_back(
            {static_cast<int64_t>(at), {}, static_cast<uint32_t>(at), static_cast<uint32_t>(n)});
    };
    // COPYR1's length: the one after which COPYR2 and a directory block follow.
    size_t r1 = 0;
    for (size_t length : {52u, 56u, 60u, 64u}) {
        const size_t dir = length + unload::kR2Length;
        if (d.size() < dir + unload::kDirectoryStep) break;
        const uint8_t extents = d[length];
        if (extents >= 1 && extents <= unload::kMaxExtents &&
            std::memcmp(d.data() + dir + 9, unload::kDirectoryCountField + 9, 3) == 0) {
            r1 = length;
            break;
        }
    }
    if (r1 == 0) return "the unload's control records are not where they belong";
    add(0, r1);
    add(r1, unload::kR2Length);
    // Directory blocks up to the 12-byte marker of zeros.
    size_t at = r1 + unload::kR2Length;
    for (;;) {
        if (at + unload::kEndMarkerLength > d.size()) return "the directory does not end";
        bool zeros = true;
        for (size_t i = 0; i < unload::kEndMarkerLength && zeros; ++i) zeros = d[at + i] == 0;
        if (zeros) {
            add(at, unload::kEndMarkerLength);
            at += unload::kEndMarkerLength;
            break;
        }
        if (at + unload::kDirectoryStep > d.size()) return "a directory block is cut short";
        add(at, unload::kDirectoryStep);
        at += unload::kDirectoryStep;
    }
    // Data blocks, each behind its count field.
    while (at < d.size()) {
        if (at + unload::kCountField > d.size()) return "a count field is cut short";
        const size_t n = unload::kCountField + be16(d.data() + at + unload::kCfDataLength);
        if (at + n > d.size()) return "a data block is cut short";
        add(at, n);
        at += n;
    }
    return nullptr;
}

// Cuts a bare unload with record (or block and record) descriptors into its records.
const char* cutDescribed(BareSource& s, bool blocks) {
    const std::vector<uint8_t>& d = s.data;
    SegmentJoiner joiner;
    size_t at = 0, start = 0;
    size_t blockEnd = d.size();
    while (at < d.size()) {
        if (blocks && !joiner.open() && (at == 0 || at >= blockEnd)) {
            if (at + 4 > d.size()) return "a block descriptor is cut short";
            const size_t n = be16(d.data() + at);
            if (n < 8 || at + n > d.size() || d[at + 2] != 0 || d[at + 3] != 0)
                return "a block descriptor is invalid";
            blockEnd = at + n;
            at += 4;
        }
        if (blocks && at >= blockEnd) {
            if (at + 4 > d.size()) return "a block descriptor is cut short";
            const size_t n = be16(d.data() + at);
            if (n < 8 || at + n > d.size()) return "a block descriptor is invalid";
            blockEnd = at + n;
            at += 4;
        }
        uint32_t length = 0;
        uint8_t code = 0;
        if (!descriptorAt(d.data() + at, (blocks ? blockEnd : d.size()) - at, &length, &code))
            return "a record descriptor is invalid";
        if (!joiner.open()) start = at;
        bool done = false;
        if (const char* why = joiner.add(d.data() + at + 4, length - 4, code, &done)) return why;
        if (done) {
            BareSource::Record r{static_cast<int64_t>(start),
                                 {},
                                 static_cast<uint32_t>(start + 4),
                                 static_cast<uint32_t>(length - 4)};
            if (code != 0) {
                r.joined = joiner.record();
                r.length = static_cast<uint32_t>(r.joined.size());
            }
            s.records.push_back(std::move(r));
        }
        at += length;
    }
    if (joiner.open()) return "the last record is cut short";
    return nullptr;
}

// ---- opening -----------------------------------------------------------------------------------

XmitHandle* newHandle(const char* path) {
    auto* h = static_cast<XmitHandle*>(rt::allocZeroed(sizeof(XmitHandle)));
    h->io.path = path;
    h->io.mode = IO_READ;
    h->io.binary = 1;
    h->io.traceLevel = rt::traceLevel();
    return h;
}

bool isCopyR1(const uint8_t* p, size_t n) {
    return n >= unload::kR1MinLength && std::memcmp(p + 1, unload::kIdentifier, 3) == 0;
}

// Describes data set n from its unload's COPYR1 and checks the unload's control records.
void describeUnload(XmitHandle* h, XmitDataSet* ds) {
    const int64_t start = nextRecordPosition(h);
    if (readRecord(h) == IO_OK && !isControl(h) && isCopyR1(h->record, h->recordLength)) {
        const uint8_t* r1 = h->record;
        ds->recfm = r1[10];
        ds->blksize = be16(r1 + 6);
        ds->lrecl = be16(r1 + 8);
        recfmLetters(ds->recfm, ds->recfmLetters);
    }
    ds->kind = XMIT_KIND_PARTITIONED;
    if (seek(h, start) == IO_OK) checkUnloadControlRecords(h, ds);
}

// The files of a tape between its tape marks: the first block of each, its tape mark, and the
// number of its blocks. Every header's previous length is checked against the block before;
// the scan stops at the first fault, and *broken says where.
struct Group {
    int64_t first = -1, mark = -1;
    uint64_t blocks = 0;
};

std::vector<Group> scanGroups(XmitHandle* h, const char** broken) {
    std::vector<Group> groups;
    Group current;
    int64_t offset = 0;
    uint16_t previous = 0;
    bool inBlock = false;
    while (offset < h->fileSize) {
        uint8_t header[tape::kHeaderLength];
        // Only the headers are read, one far from the next: one read each where a seek and a
        // read through the stream would be two (at trace level 3 and above, traced as such).
        const bool got =
            h->io.traceLevel >= TRACE_CALLS
                ? rt::ioSeek(h->io, offset, SEEK_SET) == IO_OK &&
                      rt::ioRead(h->io, header, 1, sizeof header) == sizeof header
                : platform::readAt(h->io.stream, offset, header, sizeof header) == sizeof header;
        if (!got) {
            *broken = rt::message("Truncated block header at offset %" PRId64, offset);
            return groups;
        }
        const uint16_t length = tape::le16(header + tape::kCurrentLength);
        const uint16_t prev = tape::le16(header + tape::kPreviousLength);
        const uint8_t flags = header[tape::kFlags1];
        if (prev != previous) {
            *broken = rt::message("Block header at offset %" PRId64
                                  ": previous length %u does not match the block before (%u)",
                                  offset, prev, previous);
            return groups;
        }
        if (offset + tape::kHeaderLength + length > h->fileSize) {
            *broken = rt::message("Truncated block at offset %" PRId64, offset);
            return groups;
        }
        if (flags & tape::kTapeMark) {
            if (inBlock) {
                *broken = rt::message("Tape mark inside a block at offset %" PRId64, offset);
                return groups;
            }
            current.mark = offset;
            groups.push_back(current);
            current = Group{};
        } else {
            if (!inBlock) {
                if (current.first < 0) current.first = offset;
                ++current.blocks;
            }
            inBlock = !(flags & tape::kEndOfRecord);
        }
        previous = length;
        offset += tape::kHeaderLength + length;
    }
    // Blocks after the last tape mark belong to no complete file.
    if (current.blocks > 0)
        *broken = rt::message("Tape ends without a tape mark after offset %" PRId64, current.first);
    return groups;
}

// The labels of one header or trailer group: HDR1/HDR2 (or EOF1/EOF2), after VOL1 on the
// first. Returns null, or why they are out of order.
const char* readLabels(TapeSource& source, XmitHandle* h, const Group& g, const char* first,
                       const char* second, bool volume, Buffer* one, Buffer* two) {
    int64_t at = g.first, next = 0;
    bool sawOne = false, sawTwo = false;
    for (uint64_t b = 0; b < g.blocks; ++b) {
        Buffer label;
        const int64_t here = at;
        if (source.readBlock(at, label, &next) != 1) return h->message;
        at = next;
        if (volume && b == 0 && isLabel(label, "VOL1")) continue;
        if (!sawOne && isLabel(label, first)) {
            *one = label;
            sawOne = true;
        } else if (sawOne && !sawTwo && isLabel(label, second)) {
            *two = label;
            sawTwo = true;
        } else if (sawTwo && label.size() == tape::kLabelLength) {
            continue; // user labels
        } else {
            return rt::message("Tape label out of order at offset %" PRId64
                               ": %s where %s was expected",
                               here, labelText(label.data(), 4).c_str(), sawOne ? second : first);
        }
    }
    if (!sawTwo)
        return rt::message("Tape label missing at offset %" PRId64 ": %s", g.first,
                           sawOne ? second : first);
    return nullptr;
}

// The data files of a tape, with what their labels say when it has them.
void scanTape(XmitHandle* h, TapeSource& source, const ImageOptions& options) {
    const char* broken = nullptr;
    const std::vector<Group> groups = scanGroups(h, &broken);
    Buffer block;
    int64_t next = 0;
    const bool labeled = !groups.empty() && groups[0].first >= 0 &&
                         source.readBlock(groups[0].first, block, &next) == 1 &&
                         isLabel(block, "VOL1");
    if (labeled) {
        const std::string volser = labelText(block.data() + tape::kVolumeSerial, 6);
        // Three groups a file: labels, data, labels. An empty label group ends the tape.
        for (size_t g = 0; g < groups.size() && groups[g].first >= 0; g += 3) {
            if (g + 2 >= groups.size()) {
                if (broken == nullptr)
                    broken =
                        rt::message("Tape ends inside file %u (its trailer labels are missing)",
                                    static_cast<unsigned>(source.files.size() + 1));
                break;
            }
            Buffer hdr1, hdr2, eof1, eof2;
            const char* why =
                readLabels(source, h, groups[g], "HDR1", "HDR2", g == 0, &hdr1, &hdr2);
            if (why == nullptr)
                why = readLabels(source, h, groups[g + 2], "EOF1", "EOF2", false, &eof1, &eof2);
            if (why != nullptr) {
                broken = why;
                break;
            }
            TapeFile f;
            f.info.number = static_cast<unsigned>(source.files.size() + 1);
            f.info.labeled = true;
            f.info.volumeSerial = volser;
            f.info.dataSetSerial = labelText(hdr1.data() + tape::kDataSetSerial, 6);
            f.info.created = labelDate(hdr1.data() + tape::kCreationDate);
            f.dsname = labelText(hdr1.data() + tape::kDataSetName, 17);
            const uint8_t* e2a = rt::ebcdicToAscii();
            f.format = static_cast<char>(e2a[hdr2[tape::kRecordFormat]]);
            f.attribute = static_cast<char>(e2a[hdr2[tape::kBlockAttribute]]);
            f.info.blockAttribute = f.attribute;
            f.blksize = labelNumber(hdr2.data() + tape::kBlockLength, 5);
            f.lrecl = labelNumber(hdr2.data() + tape::kRecordLength, 5);
            const Group& data = groups[g + 1];
            f.info.offset = data.first >= 0 ? data.first : data.mark;
            f.info.blocks = data.blocks;
            f.end = data.mark;
            source.files.push_back(f);
        }
    } else {
        // Unlabeled: every file up to the first empty one.
        for (const Group& g : groups) {
            if (g.first < 0) break;
            TapeFile f;
            f.info.number = static_cast<unsigned>(source.files.size() + 1);
            f.info.offset = g.first;
            f.info.blocks = g.blocks;
            f.end = g.mark;
            char name[16];
            std::snprintf(name, sizeof name, "FILE%04u", f.info.number);
            f.dsname = name;
            if (!options.recfm.empty()) {
                const std::string& r = options.recfm;
                const bool b = r.find('B') != std::string::npos,
                           sp = r.find('S') != std::string::npos;
                f.format = r[0];
                f.attribute = b && sp ? 'R' : b ? 'B' : sp ? 'S' : ' ';
                f.lrecl = options.lrecl;
                f.blksize = options.blksize;
            } else if (source.readBlock(g.first, block, &next) == 1) {
                // Told from the first block: variable blocks (spanned when they hold an
                // unload), a transmit file in fixed 80-byte records, else undefined records.
                uint32_t length = 0;
                uint8_t code = 0;
                f.blksize = static_cast<long>(block.size());
                if (block.size() >= 8 && be16(block.data()) == block.size() && block[2] == 0 &&
                    block[3] == 0 &&
                    descriptorAt(block.data() + 4, block.size() - 4, &length, &code)) {
                    f.format = 'V';
                    f.attribute =
                        code != 0 || isCopyR1(block.data() + 8, block.size() - 8) ? 'S' : 'B';
                } else if (block.size() % 80 == 0 && block.size() >= 8 &&
                           std::memcmp(block.data() + 2, kInmr01, 6) == 0) {
                    f.format = 'F';
                    f.attribute = 'B';
                    f.lrecl = 80;
                } else {
                    f.format = 'U';
                }
            } else {
                broken = h->message;
                break;
            }
            source.files.push_back(f);
        }
    }
    h->message = broken;
}

XmitHandle* openTape(XmitHandle* h, const ImageOptions& options) {
    auto* source = new TapeSource(h);
    h->source = source;
    scanTape(h, *source, options);
    const char* broken = h->message;
    h->message = nullptr;
    h->fileCount = static_cast<uint32_t>(source->files.size());
    if (h->fileCount > 0) {
        h->dataSets = static_cast<XmitDataSet*>(rt::allocArray(h->fileCount, sizeof(XmitDataSet)));
        std::snprintf(h->originNode, sizeof h->originNode, "%s",
                      source->files[0].info.volumeSerial.c_str());
    }
    for (uint32_t i = 0; i < h->fileCount; ++i) {
        const TapeFile& f = source->files[i];
        XmitDataSet* ds = &h->dataSets[i];
        ds->fileNumber = i + 1;
        std::snprintf(ds->dsname, sizeof ds->dsname, "%s", f.dsname.c_str());
        ds->recfm = recfmByte(f.format, f.attribute);
        recfmLetters(ds->recfm, ds->recfmLetters);
        ds->lrecl = static_cast<int32_t>(f.lrecl);
        ds->blksize = static_cast<int32_t>(f.blksize);
        ds->kind = XMIT_KIND_SEQUENTIAL;
        const int64_t start = f.info.offset << 24;
        ds->dataPosition = start;
        // An IEBCOPY unload is a partitioned data set; anything else is sequential.
        if (seek(h, start) == IO_OK && readRecord(h) == IO_OK && !isControl(h) &&
            isCopyR1(h->record, h->recordLength)) {
            ds->dataPosition = 0;
            if (seek(h, start) == IO_OK) describeUnload(h, ds);
            if (h->message != nullptr) ds->kind = XMIT_KIND_UNSUPPORTED; // a damaged unload
        }
        h->message = nullptr;
    }
    h->message = broken;
    return h;
}

XmitHandle* openBare(XmitHandle* h, int form) {
    auto* source = new BareSource;
    h->source = source;
    if (h->fileSize > kMaxBareUnload) {
        h->message = "The unload is too large to read (more than 2 GiB)";
        return h;
    }
    source->data.resize(static_cast<size_t>(h->fileSize));
    if (rt::ioSeek(h->io, 0, SEEK_SET) != IO_OK ||
        rt::ioRead(h->io, source->data.data(), 1, source->data.size()) != source->data.size()) {
        h->message =
            rt::message("READ error: %s", std::strerror(h->io.errnum ? h->io.errnum : EIO));
        return h;
    }
    const char* why = form == 0 ? cutUnload(*source) : cutDescribed(*source, form == 2);
    if (why != nullptr) {
        h->message = rt::message("Invalid IEBCOPY unload (%s)", why);
        return h;
    }
    h->fileCount = 1;
    h->dataSets = static_cast<XmitDataSet*>(rt::allocArray(1, sizeof(XmitDataSet)));
    XmitDataSet* ds = &h->dataSets[0];
    ds->fileNumber = 1;
    if (seek(h, 1) == IO_OK) describeUnload(h, ds);
    return h;
}

} // namespace

XmitHandle* openImage(const char* path, const ImageOptions& options) {
    rt::requireConnected();
    if (path == nullptr) return pXmitFileOpen(path);
    XmitHandle* h = newHandle(path);
    uint8_t head[16] = {};
    size_t got = 0;
    if (rt::ioOpen(h->io) == IO_OK && rt::ioSeek(h->io, 0, SEEK_END) == IO_OK) {
        h->fileSize = h->io.position;
        if (rt::ioSeek(h->io, 0, SEEK_SET) == IO_OK) got = rt::ioRead(h->io, head, 1, sizeof head);
    }
    // A tape image begins with a block header whose previous length is 0 and whose flags say
    // a block or a tape mark begins; a bare unload with COPYR1, with or without descriptors.
    const bool tape = got >= 6 && tape::le16(head + tape::kPreviousLength) == 0 &&
                      (head[tape::kFlags1] & (tape::kNewRecord | tape::kTapeMark)) != 0 &&
                      (head[tape::kFlags1] & 0x1C) == 0 &&
                      tape::kHeaderLength + tape::le16(head) <= static_cast<uint64_t>(h->fileSize);
    int bare = -1;
    if (got >= 4 && std::memcmp(head + 1, unload::kIdentifier, 3) == 0)
        bare = 0;
    else if (got >= 8 && std::memcmp(head + 5, unload::kIdentifier, 3) == 0 && head[2] == 0 &&
             head[3] == 0)
        bare = 1;
    else if (got >= 12 && std::memcmp(head + 9, unload::kIdentifier, 3) == 0 && head[2] == 0 &&
             head[3] == 0 && head[6] == 0 && head[7] == 0)
        bare = 2;
    if (bare >= 0) return openBare(h, bare);
    // A transmit file never looks like a tape: its bytes 2-3 are "IN" of INMR01.
    if (tape) return openTape(h, options);
    vXmitFileClose(h);
    return pXmitFileOpen(path);
}

ImageKind imageKind(const XmitHandle* h) {
    if (dynamic_cast<const TapeSource*>(sourceOf(h)) != nullptr) return ImageKind::Tape;
    if (dynamic_cast<const BareSource*>(sourceOf(h)) != nullptr) return ImageKind::BareUnload;
    return ImageKind::Transmit;
}

const TapeFileInfo* tapeFileInfo(const XmitHandle* h, unsigned n) {
    const auto* t = dynamic_cast<const TapeSource*>(sourceOf(h));
    if (t == nullptr || n == 0 || n > t->files.size()) return nullptr;
    return &t->files[n - 1].info;
}

} // namespace opx
