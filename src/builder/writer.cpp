// iBrenCreate: a TSO TRANSMIT file from workstation files. The records, in order:
//
//   INMR01            origin and target, time stamp, number of files
//   INMR02 (message)  INMCOPY, INMTERM: the message file, VB 251
//   INMR02            the data set: IEBCOPY and its attributes for a partitioned data set
//                     (then INMCOPY for the unload, VS 32756), INMCOPY for a sequential one
//   INMR03 + lines    the message
//   INMR03 + data     the records of a sequential data set, or the IEBCOPY unload: COPYR1,
//                     COPYR2, the directory records, the member blocks on simulated tracks
//   INMR06            then blanks to a multiple of 80 bytes
//
// Sizes and the space used are known only at the end: the records that carry them are kept
// and rewritten in place, with the same lengths. The file is written under a temporary name
// in the target's folder and renamed over the target when complete; after a failure it is
// removed and the target is left as it was.
#include "writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "device.h"
#include "loadmod_input.h"
#include "members.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "record_file.h"
#include "runtime.h"
#include "unload_format.h"
#include "xmit_format.h"

namespace bren {

namespace {

using xmit::put16;
using xmit::put24;
using xmit::put32;

constexpr int kFailure = 16;
constexpr uint32_t kMaxSegmentData = xmit::kMaxSegmentLength - xmit::kSegmentHeader; // 253
constexpr size_t kOutputBuffer = 1 << 20;
// The unload's own data set: RECFM VS, LRECL 32756, BLKSIZE 3120.
constexpr uint8_t kUnloadRecfm = xmit::kRecfmVariable | xmit::kRecfmSpanned;
constexpr uint32_t kUnloadLrecl = 32756, kUnloadBlksize = 3120;
// The message file: RECFM VB, LRECL 251, BLKSIZE 3120.
constexpr uint8_t kMessageRecfm = xmit::kRecfmVariable | xmit::kRecfmBlocked;
constexpr uint32_t kMessageLrecl = 251, kMessageBlksize = 3120;
// Directory records hold at most 3112 bytes: 11 blocks of 276, then the end marker.
constexpr uint32_t kDirectoryRecordLimit = 3112;
constexpr uint32_t kDirectoryBlocksPerRecord = kDirectoryRecordLimit / unload::kDirectoryStep;
constexpr unsigned kCopyR1Length = 56;

int seekFailuresPending = 0;

uint64_t roundUp(uint64_t v, uint64_t unit) {
    return (v + unit - 1) / unit * unit;
}

// The EBCDIC of a workstation text.
std::vector<uint8_t> ebcdic(std::string_view text) {
    const uint8_t* a2e = rt::asciiToEbcdic();
    std::vector<uint8_t> out(text.size());
    for (size_t i = 0; i < text.size(); ++i) out[i] = a2e[static_cast<unsigned char>(text[i])];
    return out;
}

// A member name as it stands in a directory entry: 8 EBCDIC characters, blank padded.
void ebcdicName(const char* name, uint8_t out[8]) {
    const uint8_t* a2e = rt::asciiToEbcdic();
    size_t i = 0;
    for (; i < 8 && name[i] != '\0'; ++i) out[i] = a2e[static_cast<unsigned char>(name[i])];
    for (; i < 8; ++i) out[i] = 0x40;
}

// memcpy of a length the compiler cannot see: the library's copy, which is quicker for
// segments than the inline string move the compiler would make of a length below 256.
__attribute__((noinline)) void copyBytes(uint8_t* to, const uint8_t* from, size_t n) {
    std::memcpy(to, from, n);
}

// A size text unit in place: INMSIZE in bytes, or INMLSIZE in megabytes (rounded up) from
// 2 GiB on. Both have one value of 4 bytes, so the final size can replace a provisional one
// in place whatever their forms.
void writeSizeUnit(uint8_t* p, uint64_t bytes) {
    const bool large = bytes >= (uint64_t(1) << 31);
    const uint64_t v = large ? (bytes + 1048575) / 1048576 : bytes;
    put16(p, large ? xmit::INMLSIZE : xmit::INMSIZE);
    put16(p + 2, 1);
    put16(p + 4, 4);
    put32(p + 6, static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX)));
}

// A field of the request that may lack its terminator.
std::string field(const char* text, size_t capacity) {
    return std::string(text, strnlen(text, capacity));
}

// ---- the request ----------------------------------------------------------------------------

struct Attributes {
    const DeviceEntry* device = nullptr;
    uint32_t largest = 32760;
    uint8_t bits = 0;
    std::string recfm;
    bool fixed = false, variable = false, undefined = false, blocked = false, spanned = false;
    bool partitioned = false, text = false, loadModules = false;
};

// The RECFM letters of the bits: F, V or U, then B, S, and A or M.
std::string recfmText(uint8_t bits) {
    std::string s;
    switch (bits & BREN_RECFM_U) {
    case BREN_RECFM_U:
        s = "U";
        break;
    case BREN_RECFM_F:
        s = "F";
        break;
    case BREN_RECFM_V:
        s = "V";
        break;
    default:
        return s;
    }
    if (bits & BREN_RECFM_B) s += 'B';
    if (bits & BREN_RECFM_S) s += 'S';
    if (bits & BREN_RECFM_A)
        s += 'A';
    else if (bits & BREN_RECFM_M)
        s += 'M';
    return s;
}

// Parses RECFM letters (upper case): F, V or U; for F and V an optional B, then an optional S;
// then an optional A or M. Returns the bits, or 0 when the text is not a record format.
uint8_t parseRecfm(const std::string& s) {
    size_t i = 0;
    uint8_t bits;
    if (s.empty()) return 0;
    switch (s[i++]) {
    case 'F':
        bits = BREN_RECFM_F;
        break;
    case 'V':
        bits = BREN_RECFM_V;
        break;
    case 'U':
        bits = BREN_RECFM_U;
        break;
    default:
        return 0;
    }
    if (bits != BREN_RECFM_U) {
        if (i < s.size() && s[i] == 'B') bits |= BREN_RECFM_B, ++i;
        if (i < s.size() && s[i] == 'S') bits |= BREN_RECFM_S, ++i;
    }
    if (i < s.size() && s[i] == 'A')
        bits |= BREN_RECFM_A, ++i;
    else if (i < s.size() && s[i] == 'M')
        bits |= BREN_RECFM_M, ++i;
    return i == s.size() ? bits : 0;
}

// Whether RECFM bits describe a record format: one of F, V, U; B and S only with F and V;
// not both A and M; no other bits.
bool validBits(uint8_t bits) {
    if ((bits & BREN_RECFM_U) == 0) return false;
    if ((bits & BREN_RECFM_U) == BREN_RECFM_U && (bits & (BREN_RECFM_B | BREN_RECFM_S)))
        return false;
    if ((bits & BREN_RECFM_A) && (bits & BREN_RECFM_M)) return false;
    return (bits & 0x21) == 0;
}

// Steps 1 to 8 of the request check. Returns null or the message.
const char* checkRequest(BuildRequest& r, Attributes& a) {
    a.partitioned = r.input.caseMode != PATTERN_FILE;
    a.text = r.inputKind == INPUT_TEXT;
    a.loadModules = r.inputKind == INPUT_LOAD_MODULES;
    const std::string device = field(r.device, sizeof r.device);
    if (a.partitioned || !device.empty()) {
        a.device = findDevice(device.c_str());
        if (a.device == nullptr) return "Invalid device name specified!";
        a.largest = a.device->largestBlock;
    }
    if (r.recfmBits == 0) {
        const std::string text = field(r.recfm, sizeof r.recfm);
        if (text.empty()) return "Record format not specified!";
        a.bits = parseRecfm(text);
        if (a.bits == 0) return "Invalid record format specified!";
        a.recfm = text;
    } else {
        if (!validBits(r.recfmBits)) return "Invalid record format specified!";
        a.bits = r.recfmBits;
        a.recfm = field(r.recfm, sizeof r.recfm);
        if (a.recfm.empty()) {
            a.recfm = recfmText(a.bits);
            std::snprintf(r.recfm, sizeof r.recfm, "%s", a.recfm.c_str());
        }
    }
    const uint8_t format = a.bits & BREN_RECFM_U;
    a.fixed = format == BREN_RECFM_F;
    a.variable = format == BREN_RECFM_V;
    a.undefined = format == BREN_RECFM_U;
    a.blocked = (a.bits & BREN_RECFM_B) != 0;
    a.spanned = (a.bits & BREN_RECFM_S) != 0;
    if (a.spanned && a.variable && a.partitioned)
        return rt::message("Record format %s is invalid for a partitioned data set!",
                           a.recfm.c_str());
    if (a.text && ((a.bits & BREN_RECFM_M) || (a.variable && a.spanned)))
        return rt::message("Record format %s is invalid for text files!", a.recfm.c_str());
    const bool spannedV = a.variable && a.spanned;
    if (r.lrecl == 0 && r.blksize != 0 && r.blksize <= a.largest && !a.blocked) {
        if (a.variable && !a.spanned && r.blksize > 8)
            r.lrecl = r.blksize - 4;
        else if (a.fixed || a.undefined)
            r.lrecl = r.blksize;
    }
    if (r.lrecl == 0) return "LRECL not specified!";
    if (r.blksize == 0 && !a.blocked) {
        if (a.variable && !a.spanned && r.lrecl > 4 && r.lrecl + 4 <= a.largest)
            r.blksize = r.lrecl + 4;
        else if ((a.fixed || a.undefined) && r.lrecl <= a.largest)
            r.blksize = r.lrecl;
    }
    if (r.blksize == 0) return "BLKSIZE not specified!";
    if (r.blksize > a.largest) return "Invalid BLKSIZE specified!";
    if (a.variable) {
        if (r.lrecl <= 4) return "Invalid LRECL specified!";
        if (r.blksize <= 8) return "Invalid BLKSIZE specified!";
        if (!spannedV && r.lrecl + 4 > r.blksize) return "Invalid LRECL/BLKSIZE combination!";
        if (spannedV && r.lrecl > 16777215) return "Invalid LRECL specified!";
    } else if ((a.blocked && r.blksize % r.lrecl != 0) || (!a.blocked && r.blksize != r.lrecl)) {
        return "Invalid LRECL/BLKSIZE combination!";
    }
    if (a.partitioned &&
        (r.minimumDirectoryBlocks < 1 || r.minimumDirectoryBlocks > r.directoryBlocks ||
         r.directoryBlocks > kMaxDirectoryBlocks))
        return "Invalid directory block count!";
    return nullptr;
}

// The record format code and flags of the input files.
void describeInput(const BuildRequest& r, const Attributes& a, RecordFile& f, const char* path) {
    f = RecordFile{};
    f.io.path = path;
    f.mode = RECORD_MODE_STORED;
    f.lrecl = r.lrecl;
    f.blksize = r.blksize;
    if (a.fixed)
        f.recfmCode = RECFM_CODE_FIXED;
    else if (a.variable)
        f.recfmCode = a.blocked ? RECFM_CODE_VARIABLE_BLOCKED : RECFM_CODE_VARIABLE;
    else
        f.recfmCode = RECFM_CODE_UNDEFINED;
    f.flags = RECORD_STRIPPED;
    if (a.blocked) f.flags |= RECORD_BLOCKED;
    if (a.spanned && a.variable) f.flags |= RECORD_SPANNED;
    if (a.text) {
        f.flags |= RECORD_TEXT | RECORD_TRIM;
        f.tabOption = r.tabOption;
    }
}

// ---- control records ------------------------------------------------------------------------

class ControlRecord {
  public:
    explicit ControlRecord(const uint8_t (&id)[6]) : bytes_(id, id + 6) {}
    void fileNumber(uint32_t n) {
        bytes_.resize(bytes_.size() + 4);
        put32(bytes_.data() + bytes_.size() - 4, n);
    }
    // A text unit of one EBCDIC value; an empty text has no value (a value of length 0 is not
    // allowed).
    void text(uint16_t key, std::string_view s) {
        if (s.empty()) return header(key, 0);
        header(key, 1);
        value(ebcdic(s));
    }
    void number(uint16_t key, uint32_t v, unsigned width) {
        header(key, 1);
        std::vector<uint8_t> b(width);
        for (unsigned i = 0; i < width; ++i)
            b[i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
        value(b);
    }
    void bytes(uint16_t key, std::initializer_list<uint8_t> b) {
        header(key, 1);
        value(std::vector<uint8_t>(b));
    }
    void flag(uint16_t key) { header(key, 0); }
    // One value per qualifier of a data set name.
    void qualifiers(uint16_t key, std::string_view dsname) {
        std::vector<std::string_view> parts;
        for (size_t at = 0; at <= dsname.size();) {
            const size_t dot = std::min(dsname.find('.', at), dsname.size());
            if (dot > at) parts.push_back(dsname.substr(at, dot - at));
            at = dot + 1;
        }
        header(key, static_cast<uint16_t>(parts.size()));
        for (std::string_view p : parts) value(ebcdic(p));
    }
    // The size unit (10 bytes); returns its offset in the record.
    size_t size(uint64_t bytes) {
        const size_t at = bytes_.size();
        bytes_.resize(at + 10);
        writeSizeUnit(bytes_.data() + at, bytes);
        return at;
    }
    const std::vector<uint8_t>& data() const { return bytes_; }

  private:
    void header(uint16_t key, uint16_t count) {
        const size_t at = bytes_.size();
        bytes_.resize(at + 4);
        put16(bytes_.data() + at, key);
        put16(bytes_.data() + at + 2, count);
    }
    void value(const std::vector<uint8_t>& v) {
        const size_t at = bytes_.size();
        bytes_.resize(at + 2 + v.size());
        put16(bytes_.data() + at, static_cast<uint32_t>(v.size()));
        std::memcpy(bytes_.data() + at + 2, v.data(), v.size());
    }
    std::vector<uint8_t> bytes_;
};

// ---- the output file ------------------------------------------------------------------------

class Output {
  public:
    explicit Output(const char* target) : target_(target) {}
    ~Output() { abandon(); }

    // Creates the temporary file beside the target. Returns null or the message.
    const char* create() {
        // A name of its own, created here (never one that exists), and opened as it was made:
        // reopening it with truncation would make some file systems flush it when it closes.
        const int fd = platform::createBeside(target_, ".bren", temp_);
        if (fd < 0)
            return rt::message("Error creating file \"%s\": %s", target_, std::strerror(errno));
        reserved_ = true;
        io_ = IoFileCore{};
        io_.path = temp_.c_str();
        io_.mode = IO_WRITE;
        io_.binary = 1;
        io_.traceLevel = rt::traceLevel();
        io_.stream = platform::streamOf(fd, "wb");
        if (io_.stream == nullptr) {
            const int error = errno;
            platform::closeFile(fd);
            return rt::message("Error creating file \"%s\": %s", target_, std::strerror(error));
        }
        if (io_.traceLevel >= TRACE_OPENS)
            rt::printf("File \"%s\" opened for %s.\n", io_.path, "wb");
        buffer_.resize(kOutputBuffer);
        return nullptr;
    }

    // One logical record, cut into segments of at most 253 data bytes.
    void record(const uint8_t* data, size_t length, bool control) {
        if (!error_.empty()) return;
        const uint8_t kind = control ? xmit::kControlRecord : 0;
        size_t at = 0;
        do {
            const uint32_t take =
                static_cast<uint32_t>(std::min<size_t>(length - at, kMaxSegmentData));
            if (used_ + take + 2 > buffer_.size() && !flush()) return;
            uint8_t* p = buffer_.data() + used_;
            p[0] = static_cast<uint8_t>(take + 2);
            p[1] = static_cast<uint8_t>((at == 0 ? xmit::kFirstSegment : 0) |
                                        (at + take == length ? xmit::kLastSegment : 0) | kind);
            if (take != 0) copyBytes(p + 2, data + at, take);
            used_ += take + 2;
            offset_ += take + 2;
            at += take;
        } while (at < length);
    }
    void record(const std::vector<uint8_t>& data, bool control) {
        record(data.data(), data.size(), control);
    }

    // Blanks up to the next multiple of 80 bytes.
    void pad() {
        const size_t n = static_cast<size_t>(roundUp(offset_, xmit::kFileRecordLength) - offset_);
        if (n == 0 || !error_.empty()) return;
        if (used_ + n > buffer_.size() && !flush()) return;
        std::memset(buffer_.data() + used_, 0x40, n);
        used_ += n;
        offset_ += n;
    }

    bool flush() {
        if (!error_.empty()) return false;
        if (used_ > 0 && rt::ioWrite(io_, buffer_.data(), 1, used_) != IO_OK) {
            error_ = rt::message("Error writing transmit file \"%s\": %s", target_,
                                 std::strerror(io_.errnum));
            return false;
        }
        used_ = 0;
        return true;
    }

    // Rewrites records that follow each other from the offset where they were written, with
    // the same lengths; `seekMessage` names a failure to reach it.
    bool rewrite(int64_t offset, const std::vector<std::vector<uint8_t>>& records, bool control,
                 const char* seekMessage) {
        if (!flush()) return false;
        if (!seek(offset)) {
            error_ = rt::message(seekMessage, offset, target_, std::strerror(io_.errnum));
            return false;
        }
        const int64_t end = offset_;
        for (const auto& r : records) record(r, control);
        offset_ = end;
        return flush();
    }

    // Back to the end of the file after the rewrites.
    bool restore() {
        if (!flush()) return false;
        if (!seek(offset_)) {
            error_ = rt::message("Error restoring file position to +%" PRId64
                                 " in transmit file \"%s\": %s",
                                 offset_, target_, std::strerror(io_.errnum));
            return false;
        }
        return true;
    }

    // Closes the file and renames it over the target.
    bool commit() {
        if (!flush()) return false;
        if (rt::ioClose(io_, false) != IO_OK) {
            error_ = rt::message("Error writing transmit file \"%s\": %s", target_,
                                 std::strerror(io_.errnum));
            return false;
        }
        if (!platform::replaceFile(temp_, target_)) {
            error_ = rt::message("Error creating file \"%s\": %s", target_, std::strerror(errno));
            return false;
        }
        reserved_ = false;
        return true;
    }

    // Closes and removes the temporary file, unless it has become the target.
    void abandon() {
        if (io_.stream != nullptr) rt::ioClose(io_, false);
        if (reserved_) rt::ioRemove(temp_.c_str(), rt::traceLevel());
        reserved_ = false;
    }

    int64_t offset() const { return offset_; }
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

  private:
    bool seek(int64_t offset) {
        if (seekFailuresPending > 0 && --seekFailuresPending == 0) {
            io_.errnum = EIO;
            return false;
        }
        return rt::ioSeek(io_, offset, SEEK_SET) == IO_OK;
    }

    const char* target_;
    std::string temp_;
    bool reserved_ = false;
    IoFileCore io_{};
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    int64_t offset_ = 0;
    std::string error_;
};

// A record kept to be rewritten at the end.
struct SavedRecord {
    int64_t offset = 0;
    std::vector<uint8_t> bytes;
    size_t sizeAt = 0; // offset of the size unit in a control record
};

// The present time, or the one SOURCE_DATE_EPOCH names (for reproducible files).
std::tm now() {
    std::time_t t = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        char* end = nullptr;
        const long long v = std::strtoll(epoch, &end, 10);
        if (end != epoch && *end == '\0' && v >= 0) t = static_cast<std::time_t>(v);
    }
    std::tm tm{};
    platform::utcTime(t, tm);
    return tm;
}

// ---- the members of a partitioned data set --------------------------------------------------

struct Member {
    const char* name;
    uint8_t ebcdic[8];
    std::string path;
    std::vector<uint8_t> userData; // directory user data (load modules)
    LoadModuleFile module;         // load modules: where the records are
    uint32_t ttr = 0;
};

// Packs directory entries of the given lengths (in order, with the 12-byte end entry) into
// 256-byte blocks of at most 254 bytes of entries. Returns the number of blocks.
uint32_t directoryBlocksNeeded(const std::vector<Member>& members) {
    uint32_t blocks = 1, used = 0;
    auto add = [&](uint32_t length) {
        if (used + length > 254) {
            ++blocks;
            used = 0;
        }
        used += length;
    };
    for (const Member& m : members)
        add(unload::kEntryHeader + static_cast<uint32_t>(m.userData.size()));
    add(unload::kEntryHeader);
    return blocks;
}

// The directory blocks, each an 8-byte key and a 256-byte block, the members in order.
std::vector<uint8_t> directoryBlocks(const std::vector<Member>& members) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> block;
    uint8_t key[8];
    auto close = [&]() {
        const size_t at = out.size();
        out.resize(at + 8 + unload::kDirBlockSize);
        std::memcpy(out.data() + at, key, 8);
        put16(out.data() + at + 8, static_cast<uint32_t>(block.size() + 2));
        std::memcpy(out.data() + at + 10, block.data(), block.size());
        block.clear();
    };
    for (const Member& m : members) {
        const size_t length = unload::kEntryHeader + m.userData.size();
        if (block.size() + length > 254) close();
        const size_t at = block.size();
        block.resize(at + length);
        std::memcpy(block.data() + at, m.ebcdic, 8);
        put24(block.data() + at + unload::kEntryTtr, m.ttr);
        block[at + unload::kEntryIndicator] =
            static_cast<uint8_t>((m.userData.size() / 2) & unload::kHalfwordMask);
        if (!m.userData.empty())
            std::memcpy(block.data() + at + 12, m.userData.data(), m.userData.size());
        std::memcpy(key, m.ebcdic, 8); // the highest name in the block
    }
    if (block.size() + unload::kEntryHeader > 254) close();
    block.resize(block.size() + unload::kEntryHeader, 0);
    std::memset(block.data() + block.size() - unload::kEntryHeader, 0xFF, 8);
    std::memset(key, 0xFF, 8);
    close();
    return out;
}

// The directory records: 276-byte units (count field, key, block) in records of at most
// 3112 bytes, the last one ended by 12 zero bytes.
std::vector<std::vector<uint8_t>> directoryRecords(const std::vector<uint8_t>& blocks,
                                                   uint32_t count) {
    std::vector<std::vector<uint8_t>> records;
    for (uint32_t first = 0; first < count || records.empty(); first += kDirectoryBlocksPerRecord) {
        const uint32_t n = std::min(kDirectoryBlocksPerRecord, count - first);
        const bool last = first + n >= count;
        std::vector<uint8_t> r(n * unload::kDirectoryStep + (last ? unload::kEndMarkerLength : 0),
                               0);
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t* u = r.data() + i * unload::kDirectoryStep;
            std::memcpy(u, unload::kDirectoryCountField, unload::kCountField);
            std::memcpy(u + unload::kDirKey, blocks.data() + (first + i) * 264, 264);
        }
        records.push_back(std::move(r));
        if (last) break;
    }
    return records;
}

// COPYR1 with what is known before the data is placed.
std::vector<uint8_t> copyR1(const BuildRequest& r, const Attributes& a, const std::tm& stamp) {
    std::vector<uint8_t> b(kCopyR1Length, 0);
    std::memcpy(b.data() + unload::kR1Identifier, unload::kIdentifier, 3);
    put16(b.data() + 4, xmit::kDsorgPartitioned);
    put16(b.data() + 6, a.undefined ? r.lrecl : r.blksize);
    put16(b.data() + 8, a.undefined ? 0 : r.lrecl);
    b[10] = a.bits;
    put16(b.data() + 14, kUnloadBlksize);
    std::memcpy(b.data() + 16, a.device->characteristics, 20);
    put16(b.data() + unload::kR1ControlRecordCount, 2);
    b[39] = static_cast<uint8_t>(stamp.tm_year);
    put16(b.data() + 40, static_cast<uint32_t>(stamp.tm_yday + 1));
    return b;
}

// COPYR2: one extent from cylinder 1, head 0 over the allocated tracks.
std::vector<uint8_t> copyR2(const DeviceEntry& d, uint32_t tracks) {
    static const uint8_t kHead[20] = {0x01, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x8F, 0x07,
                                      0x00, 0x30, 0x04, 0x57, 0xE0, 0x48, 0x50, 0xF1, 0x88, 0x80};
    std::vector<uint8_t> b(unload::kR2Length, 0);
    std::memcpy(b.data(), kHead, sizeof kHead);
    put16(b.data() + 22, 1);
    put16(b.data() + 24, 0);
    if (tracks > 0) {
        put16(b.data() + 26, (tracks - 1) / d.tracksPerCylinder + 1);
        put16(b.data() + 28, (tracks - 1) % d.tracksPerCylinder);
    }
    put16(b.data() + 30, tracks);
    return b;
}

// ---- the writer -----------------------------------------------------------------------------

class Writer {
  public:
    Writer(BuildRequest& r, const Attributes& a) : r_(r), a_(a), out_(r.transmitFile) {}

    int run() {
        if (const char* m = prepare()) return fail(m);
        if (const char* m = out_.create()) return fail(m);
        stamp_ = now();
        writeHeader();
        if (!failed()) {
            if (a_.partitioned)
                writeUnload();
            else
                writeSequential();
        }
        if (!failed()) {
            out_.record(xmit::kInmr06, sizeof xmit::kInmr06, true);
            out_.pad();
            finishRecords();
        }
        if (!failed()) out_.commit();
        if (failed()) return failKept(error());
        if (a_.partitioned)
            r_.message = rt::message(
                "TSO TRANSMIT file \"%s\" successfully created from %u member%s of data set %s, "
                "path \"%s\"",
                r_.transmitFile, r_.memberCount, r_.memberCount == 1 ? "" : "s", dsname_.c_str(),
                std::string(r_.input.text, r_.input.prefixLength).c_str());
        else
            r_.message = rt::message(
                "TSO TRANSMIT file \"%s\" successfully created with %lu record%s from data set "
                "%s, file \"%s\"",
                r_.transmitFile, static_cast<unsigned long>(r_.records), r_.records == 1 ? "" : "s",
                dsname_.c_str(), r_.input.text);
        r_.returnCode = 0;
        return 0;
    }

  private:
    // A failure with a message of the library (a constant or the message buffer).
    int fail(const char* message) {
        out_.abandon();
        r_.message = message;
        r_.returnCode = kFailure;
        return kFailure;
    }
    // A failure whose message was kept by the writer: into the message buffer with it.
    int failKept(const std::string& message) { return fail(rt::message("%s", message.c_str())); }
    bool failed() const { return !error_.empty() || out_.failed(); }
    const std::string& error() const { return !error_.empty() ? error_ : out_.error(); }
    void setError(const char* m) {
        if (error_.empty()) error_ = m;
    }

    // Everything that can be refused before the output exists: the input, the members, the
    // message file, and an output that is one of the inputs.
    const char* prepare() {
        dsname_ = field(r_.dsname, sizeof r_.dsname);
        std::vector<std::string> inputs;
        if (!a_.partitioned) {
            if (const char* m = openSequential()) return m;
            inputs.push_back(r_.input.text);
        } else {
            if (const char* m = prepareMembers()) return m;
            for (const Member& m : members_) inputs.push_back(m.path);
        }
        if (r_.messageFile != nullptr && r_.messageFile[0] != '\0') {
            if (const char* m = openMessage()) return m;
            inputs.push_back(r_.messageFile);
        }
        for (const std::string& in : inputs)
            if (platform::sameFile(in.c_str(), r_.transmitFile))
                return rt::message("Output file \"%s\" is also an input file", r_.transmitFile);
        return nullptr;
    }

    const char* openSequential() {
        if (r_.input.text == nullptr)
            return rt::message("Error opening \"%s\": %s", "", std::strerror(ENOENT));
        describeInput(r_, a_, input_, r_.input.text);
        if (openRecordFile(input_) != IO_OK || seekRecordFile(input_, 0, SEEK_END) != IO_OK) {
            const char* m = rt::message("Error opening \"%s\": %s", r_.input.text,
                                        std::strerror(input_.io.errnum));
            closeRecordFile(input_);
            return m;
        }
        inputSize_ = input_.io.position;
        if (seekRecordFile(input_, 0, SEEK_SET) != IO_OK) {
            const char* m = rt::message("Error opening \"%s\": %s", r_.input.text,
                                        std::strerror(input_.io.errnum));
            closeRecordFile(input_);
            return m;
        }
        inputOpen_ = true;
        return nullptr;
    }

    const char* prepareMembers() {
        if (r_.memberCount > 0 && r_.members == nullptr) return "Invalid member list!";
        members_.resize(r_.memberCount);
        for (uint32_t i = 0; i < r_.memberCount; ++i) {
            const char* name = r_.members[i];
            if (strnlen(name, sizeof(MemberName)) == sizeof(MemberName) ||
                !rt::isMemberName(name, std::strlen(name), rt::kUpperCase))
                return rt::message("Invalid member name \"%.8s\"", name);
            members_[i].name = name;
            ebcdicName(name, members_[i].ebcdic);
        }
        // The directory is in EBCDIC order whatever order the caller gave, and names it once.
        std::stable_sort(members_.begin(), members_.end(), [](const Member& x, const Member& y) {
            return compareMemberNames(x.name, y.name) < 0;
        });
        for (size_t i = 1; i < members_.size(); ++i)
            if (std::strcmp(members_[i - 1].name, members_[i].name) == 0)
                return rt::message("Duplicate member %s in the member list", members_[i].name);
        MemberFiles files(r_.input);
        for (Member& m : members_) {
            std::string other;
            switch (files.find(m.name, &m.path, &other)) {
            case MemberFiles::kMissing:
                return rt::message("Member %s does not exist as file \"%s\"", m.name,
                                   m.path.c_str());
            case MemberFiles::kAmbiguous:
                return rt::message("Duplicate member %s: files \"%s\" and \"%s\"", m.name,
                                   m.path.c_str(), other.c_str());
            default:
                break;
            }
            if (a_.loadModules) {
                const std::string message = examineLoadModule(m.name, m.path, m.module, m.userData);
                if (!message.empty()) return rt::message("%s", message.c_str());
                if (m.module.blockLength > r_.blksize)
                    return rt::message("Member %s needs a BLKSIZE of at least %u", m.name,
                                       m.module.blockLength);
            }
        }
        if (directoryBlocksNeeded(members_) != r_.minimumDirectoryBlocks)
            return "Internal error: invalid directory block count";
        return nullptr;
    }

    const char* openMessage() {
        const char* path = r_.messageFile;
        message_ = RecordFile{};
        message_.io.path = path;
        message_.mode = RECORD_MODE_STORED;
        message_.recfmCode = RECFM_CODE_VARIABLE_BLOCKED;
        message_.lrecl = kMessageLrecl;
        message_.blksize = kMessageBlksize;
        message_.flags = RECORD_TEXT | RECORD_TRIM | RECORD_STRIPPED | RECORD_BLOCKED;
        message_.tabOption = r_.tabOption;
        if (openRecordFile(message_) != IO_OK || seekRecordFile(message_, 0, SEEK_END) != IO_OK) {
            const char* m = rt::message("Error opening message file \"%s\": %s", path,
                                        std::strerror(message_.io.errnum));
            closeRecordFile(message_);
            return m;
        }
        messageSize_ = message_.io.position;
        if (messageSize_ == 0) {
            closeRecordFile(message_);
            return rt::message("Error opening message file \"%s\": %s", path, "File is empty");
        }
        if (seekRecordFile(message_, 0, SEEK_SET) != IO_OK) {
            const char* m = rt::message("Error opening message file \"%s\": %s", path,
                                        std::strerror(message_.io.errnum));
            closeRecordFile(message_);
            return m;
        }
        messageOpen_ = true;
        return nullptr;
    }

    // INMR02 of a data set: utility, size, organisation, type, LRECL, BLKSIZE, RECFM, directory
    // blocks and name as they apply.
    SavedRecord inmr02(uint32_t file, const char* utility, bool message, uint64_t size,
                       uint16_t dsorg, uint32_t lrecl, uint32_t blksize, uint8_t bits, bool name) {
        ControlRecord c(xmit::kInmr02);
        c.fileNumber(file);
        c.text(xmit::INMUTILN, utility);
        if (message) c.flag(xmit::INMTERM);
        SavedRecord saved;
        saved.sizeAt = c.size(size);
        c.number(xmit::INMDSORG, dsorg, 2);
        const bool po = dsorg == xmit::kDsorgPartitioned;
        if (po && a_.device->code >= 0x3380) c.number(xmit::INMTYPE, 0, 1);
        const bool undefined = (bits & BREN_RECFM_U) == BREN_RECFM_U;
        c.number(xmit::INMLRECL, undefined ? 0 : lrecl, 4);
        c.number(xmit::INMBLKSZ, undefined ? lrecl : blksize, 4);
        c.bytes(xmit::INMRECFM,
                {bits, static_cast<uint8_t>((bits & BREN_RECFM_U) == BREN_RECFM_V ? 0x02 : 0x00)});
        if (po) c.number(xmit::INMDIR, r_.directoryBlocks, 3);
        if (name) c.qualifiers(xmit::INMDSNAM, dsname_);
        saved.bytes = c.data();
        return saved;
    }

    SavedRecord inmr03(uint64_t size) {
        ControlRecord c(xmit::kInmr03);
        SavedRecord saved;
        saved.sizeAt = c.size(size);
        c.number(xmit::INMDSORG, xmit::kDsorgSequential, 2);
        c.number(xmit::INMLRECL, 80, 2);
        c.number(xmit::INMRECFM, 0x0001, 2);
        saved.bytes = c.data();
        return saved;
    }

    void emit(SavedRecord& s) {
        s.offset = out_.offset();
        out_.record(s.bytes, true);
    }

    void writeHeader() {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%.4u%.2u%.2u%.2u%.2u%.2u",
                      static_cast<unsigned>(stamp_.tm_year + 1900),
                      static_cast<unsigned>(stamp_.tm_mon + 1),
                      static_cast<unsigned>(stamp_.tm_mday), static_cast<unsigned>(stamp_.tm_hour),
                      static_cast<unsigned>(stamp_.tm_min), static_cast<unsigned>(stamp_.tm_sec));
        ControlRecord r1(xmit::kInmr01);
        r1.number(xmit::INMLRECL, 80, 1);
        r1.text(xmit::INMFNODE, field(r_.originNode, sizeof r_.originNode));
        r1.text(xmit::INMFUID, field(r_.originUser, sizeof r_.originUser));
        r1.text(xmit::INMTNODE, field(r_.targetNode, sizeof r_.targetNode));
        r1.text(xmit::INMTUID, field(r_.targetUser, sizeof r_.targetUser));
        r1.text(xmit::INMFTIME, stamp);
        r1.number(xmit::INMNUMF, messageOpen_ ? 2 : 1, 1);
        out_.record(r1.data(), true);

        const uint32_t file = messageOpen_ ? 2 : 1;
        if (messageOpen_) {
            SavedRecord m = inmr02(1, "INMCOPY", true, static_cast<uint64_t>(messageSize_),
                                   xmit::kDsorgSequential, kMessageLrecl, kMessageBlksize,
                                   kMessageRecfm, false);
            emit(m);
        }
        if (a_.partitioned) {
            saved_.push_back(inmr02(file, "IEBCOPY", false, 0, xmit::kDsorgPartitioned, r_.lrecl,
                                    r_.blksize, a_.bits, true));
            emit(saved_.back());
            saved_.push_back(inmr02(file, "INMCOPY", false, 0, xmit::kDsorgSequential, kUnloadLrecl,
                                    kUnloadBlksize, kUnloadRecfm, false));
            emit(saved_.back());
        } else {
            saved_.push_back(inmr02(file, "INMCOPY", false, static_cast<uint64_t>(inputSize_),
                                    xmit::kDsorgSequential, r_.lrecl, r_.blksize, a_.bits, true));
            emit(saved_.back());
        }
        if (messageOpen_) {
            SavedRecord m3 = inmr03(static_cast<uint64_t>(messageSize_));
            emit(m3);
            writeMessage();
        }
        if (failed()) return;
        saved_.push_back(inmr03(a_.partitioned ? 0 : static_cast<uint64_t>(inputSize_)));
        emit(saved_.back());
    }

    void writeMessage() {
        const char* path = r_.messageFile;
        int st;
        while ((st = readRecord(message_)) == IO_OK && !out_.failed())
            out_.record(message_.record, message_.recordLength, false);
        if (st == IO_ERROR)
            setError(rt::message("Error reading message file \"%s\": %s", path,
                                 std::strerror(message_.io.errnum)));
        else if (st == RECORD_FORMAT_ERROR)
            setError(rt::message("Error reading message file \"%s\" record %lu: %s", path,
                                 static_cast<unsigned long>(message_.recordsRead + 1),
                                 reasonText(message_.reason)));
        closeRecordFile(message_);
        messageOpen_ = false;
    }

    void writeSequential() {
        uint64_t records = 0, bytes = 0;
        int st;
        while ((st = readRecord(input_)) == IO_OK) {
            out_.record(input_.record, input_.recordLength, false);
            if (out_.failed()) break;
            ++records;
            bytes += input_.recordLength;
        }
        if (st == IO_ERROR)
            setError(rt::message("Error reading \"%s\": %s", r_.input.text,
                                 std::strerror(input_.io.errnum)));
        else if (st == RECORD_FORMAT_ERROR)
            setError(rt::message("Error reading \"%s\" record %lu: %s", r_.input.text,
                                 static_cast<unsigned long>(input_.recordsRead + 1),
                                 reasonText(input_.reason)));
        closeRecordFile(input_);
        inputOpen_ = false;
        r_.records = static_cast<uint32_t>(std::min<uint64_t>(records, UINT32_MAX));
        // The size a receiving system allocates: the data and a quarter more, in 4 KiB units.
        finalSize_ = roundUp(bytes + (bytes + 3) / 4, 4096);
    }

    // One member data record: the count field of the block's track position, then the block.
    void memberRecord(const TrackPosition& p, const uint8_t* block, uint32_t length) {
        uint8_t* r = memberBuffer_.data();
        std::memset(r, 0, unload::kCountField);
        put16(r + unload::kCfCylinder, p.cylinder);
        put16(r + unload::kCfHead, p.head);
        r[unload::kCfRecord] = p.record;
        put16(r + unload::kCfDataLength, length);
        if (length != 0) std::memcpy(r + unload::kCountField, block, length);
        out_.record(r, unload::kCountField + length, false);
    }

    void writeUnload() {
        const DeviceEntry& d = *a_.device;
        copyR1_.bytes = copyR1(r_, a_, stamp_);
        copyR1_.offset = out_.offset();
        out_.record(copyR1_.bytes, false);
        copyR2_.bytes = copyR2(d, 0);
        copyR2_.offset = out_.offset();
        out_.record(copyR2_.bytes, false);
        // The directory comes before the data; it is written now with what is known, and again
        // at the end with the members' track addresses.
        directoryOffset_ = out_.offset();
        for (const auto& rec :
             directoryRecords(directoryBlocks(members_), r_.minimumDirectoryBlocks))
            out_.record(rec, false);

        TrackPlacer placer(d, r_.directoryBlocks);
        memberBuffer_.resize(unload::kCountField + 65536);
        uint64_t records = 0;
        for (Member& m : members_) {
            if (failed()) return;
            bool first = true;
            TrackPosition p{};
            auto place = [&](const uint8_t* block, uint32_t length) {
                if (!placer.place(length, &p)) {
                    setError("Device capacity exceeded");
                    return false;
                }
                if (first) m.ttr = p.ttr();
                first = false;
                memberRecord(p, block, length);
                return !out_.failed();
            };
            if (a_.loadModules) {
                std::string message;
                if (!writeLoadModule(
                        m.name, m.path, m.module, m.userData, r_.blksize,
                        [&](const uint8_t* block, uint32_t length, uint32_t* ttr) {
                            if (!place(block, length)) return false;
                            *ttr = p.ttr();
                            return true;
                        },
                        &message)) {
                    if (!message.empty()) setError(message.c_str());
                    return;
                }
            } else {
                RecordFile f;
                describeInput(r_, a_, f, m.path.c_str());
                if (openRecordFile(f) != IO_OK) {
                    setError(rt::message("Error opening \"%s\": %s", m.path.c_str(),
                                         std::strerror(f.io.errnum)));
                    closeRecordFile(f);
                    return;
                }
                int st;
                while ((st = readBlock(f)) == IO_OK)
                    if (!place(f.record, f.recordLength)) break;
                if (st == IO_ERROR)
                    setError(rt::message("Error reading \"%s\": %s", m.path.c_str(),
                                         std::strerror(f.io.errnum)));
                else if (st == RECORD_FORMAT_ERROR)
                    setError(rt::message("Error reading \"%s\": block %lu: %s", m.path.c_str(),
                                         static_cast<unsigned long>(f.blocksRead + 1),
                                         reasonText(f.reason)));
                records += f.recordsRead;
                closeRecordFile(f);
                if (failed()) return;
            }
            // The end of the member: a record of data length 0 with a record number of its own.
            if (!place(nullptr, 0)) return;
        }
        r_.records = static_cast<uint32_t>(std::min<uint64_t>(records, UINT32_MAX));

        const char* space = computeSpace(d, placer.tracksUsed(), r_.spaceFlags, r_.spaceUnit,
                                         r_.primary, r_.secondary, &allocation_);
        if (space[0] != '\0') return setError(space);
        uint8_t* r1 = copyR1_.bytes.data();
        r1[45] = allocation_.unit;
        put24(r1 + 46, std::min<uint32_t>(allocation_.secondary, 0xFFFFFF));
        put16(r1 + 49, placer.lastTrack());
        r1[51] = placer.lastRecord();
        put16(r1 + 52, placer.bytesLeft());
        copyR2_.bytes = copyR2(d, allocation_.tracks);
        finalSize_ = uint64_t(allocation_.tracks) * d.trackLength;
    }

    // Rewrites the records whose contents are known only now.
    void finishRecords() {
        if (failed() || !out_.flush()) return;
        static const char* const kSeek =
            "Error seeking to offset +%" PRId64 " in transmit file \"%s\": %s";
        if (a_.partitioned) {
            const std::vector<uint8_t> blocks = directoryBlocks(members_);
            if (blocks.size() / 264 != r_.minimumDirectoryBlocks)
                return setError("Internal error: invalid directory block count");
            if (!out_.rewrite(directoryOffset_, directoryRecords(blocks, r_.minimumDirectoryBlocks),
                              false,
                              "Error updating directory records at +%" PRId64
                              " in transmit file \"%s\": %s") ||
                !out_.rewrite(copyR1_.offset, {copyR1_.bytes}, false, kSeek) ||
                !out_.rewrite(copyR2_.offset, {copyR2_.bytes}, false, kSeek))
                return;
        }
        for (SavedRecord& s : saved_) {
            writeSizeUnit(s.bytes.data() + s.sizeAt, finalSize_);
            if (!out_.rewrite(s.offset, {s.bytes}, true, kSeek)) return;
        }
        out_.restore();
    }

    BuildRequest& r_;
    const Attributes& a_;
    Output out_;
    std::string error_;
    std::string dsname_;
    std::tm stamp_{};
    RecordFile input_{};
    bool inputOpen_ = false;
    int64_t inputSize_ = 0;
    RecordFile message_{};
    bool messageOpen_ = false;
    int64_t messageSize_ = 0;
    std::vector<Member> members_;
    std::vector<SavedRecord> saved_;
    SavedRecord copyR1_, copyR2_;
    int64_t directoryOffset_ = 0;
    std::vector<uint8_t> memberBuffer_;
    Allocation allocation_;
    uint64_t finalSize_ = 0;

  public:
    ~Writer() {
        if (inputOpen_) closeRecordFile(input_);
        if (messageOpen_) closeRecordFile(message_);
    }
};

} // namespace

void failOutputSeekForTesting(int n) {
    seekFailuresPending = n;
}

void encodeSizeUnit(uint8_t out[10], uint64_t bytes) {
    writeSizeUnit(out, bytes);
}

void sortMemberNames(MemberName* list, uint32_t count) {
    if (list == nullptr || count < 2) return;
    std::vector<std::array<char, 9>> names(count);
    for (uint32_t i = 0; i < count; ++i) std::memcpy(names[i].data(), list[i], 9);
    std::stable_sort(names.begin(), names.end(),
                     [](const std::array<char, 9>& x, const std::array<char, 9>& y) {
                         return compareMemberNames(x.data(), y.data()) < 0;
                     });
    for (uint32_t i = 0; i < count; ++i) std::memcpy(list[i], names[i].data(), 9);
}

unsigned computeDirectoryBlocks(BuildRequest& r, unsigned* smallestBlock) {
    if (smallestBlock != nullptr) *smallestBlock = 0;
    uint64_t count;
    if (r.inputKind != INPUT_LOAD_MODULES) {
        count = directoryBlocksFor(r.memberCount);
    } else {
        // Every member is examined; its directory entry carries the module's user data. The
        // entries are packed in the order the directory will have.
        if (r.memberCount > 0 && r.members == nullptr) {
            r.message = "Invalid member list!";
            r.returnCode = kFailure;
            return 0;
        }
        checkPattern(r.input);
        std::vector<Member> members(r.memberCount);
        for (uint32_t i = 0; i < r.memberCount; ++i) members[i].name = r.members[i];
        std::stable_sort(members.begin(), members.end(), [](const Member& x, const Member& y) {
            return compareMemberNames(x.name, y.name) < 0;
        });
        MemberFiles files(r.input);
        uint32_t smallest = 0;
        for (Member& m : members) {
            std::string message;
            if (files.find(m.name, &m.path) == MemberFiles::kMissing)
                message =
                    rt::message("Member %s does not exist as file \"%s\"", m.name, m.path.c_str());
            else
                message = examineLoadModule(m.name, m.path, m.module, m.userData);
            if (!message.empty()) {
                r.message = rt::message("%s", message.c_str());
                r.returnCode = kFailure;
                return 0;
            }
            smallest = std::max(smallest, m.module.blockLength);
        }
        count = directoryBlocksNeeded(members);
        if (smallestBlock != nullptr && count <= kMaxDirectoryBlocks) *smallestBlock = smallest;
    }
    if (count > kMaxDirectoryBlocks) {
        r.message = "Too many members - directory requires more than 32767 blocks.";
        r.returnCode = kFailure;
        if (smallestBlock != nullptr) *smallestBlock = 0;
        return 0;
    }
    return static_cast<unsigned>(count);
}

int createTransmitFile(BuildRequest& r) {
    r.message = nullptr;
    r.records = 0;
    Attributes a;
    if (const char* m = checkRequest(r, a)) {
        r.message = m;
        r.returnCode = kFailure;
        return kFailure;
    }
    if (r.transmitFile == nullptr) {
        r.message = rt::message("Error creating file \"%s\": %s", "", std::strerror(ENOENT));
        r.returnCode = kFailure;
        return kFailure;
    }
    Writer w(r, a);
    return w.run();
}

} // namespace bren
