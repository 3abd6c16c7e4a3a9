// Writing extracted records. A record passes through strip and truncation, then is written as
// a text line (translated, tab-compressed, with the line end) or in its record format.
#include "output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "opxcore.h"
#include "platform/files.h"
#include "runtime.h"

namespace opx {

namespace {

constexpr const char* kLineEnds[4] = {"\n", "\r", "\n", "\r\n"};
constexpr size_t kLineEndLengths[4] = {1, 1, 1, 2};
constexpr size_t kOutputBuffer = 1 << 18;

void putLength(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// Table translation, eight bytes to one store: about twice the speed of a byte loop.
void translateInto(uint8_t* out, const uint8_t* in, size_t n, const uint8_t* table) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v = 0;
        for (int k = 7; k >= 0; --k) v = (v << 8) | table[in[i + k]];
        std::memcpy(out + i, &v, 8);
    }
    for (; i < n; ++i) out[i] = table[in[i]];
}

} // namespace

OutputFile::~OutputFile() {
    abandon();
}

bool OutputFile::fail() {
    error_ = std::strerror(io_.errnum != 0 ? io_.errnum : EIO);
    return false;
}

bool OutputFile::open(const std::string& target, const OutputSettings& settings) {
    s_ = settings;
    target_ = target;
    // A fresh temporary name beside the target: same folder, so that the rename is atomic.
    const int fd = platform::createBeside(target, ".opx-", temp_);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    platform::closeFile(fd);
    io_ = IoFileCore{};
    io_.path = temp_.c_str();
    io_.mode = IO_WRITE;
    const bool textMode =
        (s_.type == EXTRACT_TYPE_TEXT || s_.type == EXTRACT_TYPE_DUMP) && s_.lineEnd == 0;
    io_.binary = textMode ? 0 : 1;
    io_.traceLevel = s_.traceLevel;
    if (rt::ioOpen(io_) != IO_OK) {
        fail();
        std::remove(temp_.c_str());
        temp_.clear();
        return false;
    }
    switch (s_.format) {
    case EXTRACT_FORMAT_RDW:
        maxData_ = s_.lrecl >= 4 ? s_.lrecl - 4 : 0;
        break;
    case EXTRACT_FORMAT_VARIABLE:
        maxData_ = s_.lrecl >= 4 ? s_.lrecl - 4 : 0;
        break;
    default:
        maxData_ = s_.lrecl;
        break;
    }
    if (s_.type == EXTRACT_TYPE_TEXT || s_.type == EXTRACT_TYPE_DUMP) maxData_ = s_.lrecl;
    block_.clear();
    outFill_ = 0;
    if (!out_) out_ = std::make_unique_for_overwrite<uint8_t[]>(kOutputBuffer);
    return true;
}

void OutputFile::translate(uint8_t* data, size_t length) const {
    translateInto(data, data, length, rt::ebcdicToAscii());
}

// Below trace level 3 the output is gathered into large writes; at level 3 and above every
// piece goes to the traced write on its own, so that each record shows in the trace.
bool OutputFile::put(const uint8_t* data, size_t length) {
    if (length == 0) return true;
    if (s_.traceLevel >= TRACE_CALLS) return rt::ioWrite(io_, data, 1, length) == IO_OK || fail();
    if (outFill_ + length > kOutputBuffer && !flushOutput()) return false;
    if (length >= kOutputBuffer) return rt::ioWrite(io_, data, 1, length) == IO_OK || fail();
    std::memcpy(out_.get() + outFill_, data, length);
    outFill_ += length;
    return true;
}

bool OutputFile::flushOutput() {
    if (outFill_ == 0) return true;
    const bool ok = rt::ioWrite(io_, out_.get(), 1, outFill_) == IO_OK || fail();
    outFill_ = 0;
    return ok;
}

bool OutputFile::putText(const uint8_t* data, size_t length) {
    if (s_.encoding == nullptr) return put(data, length);
    encoded_.clear();
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = data[i];
        encoded_.insert(encoded_.end(), s_.encoding->bytes[b],
                        s_.encoding->bytes[b] + s_.encoding->length[b]);
    }
    return put(encoded_.data(), encoded_.size());
}

bool OutputFile::text(const char* line, size_t length) {
    if (!putText(reinterpret_cast<const uint8_t*>(line), length)) return false;
    return put(reinterpret_cast<const uint8_t*>(kLineEnds[s_.lineEnd & 3]),
               kLineEndLengths[s_.lineEnd & 3]);
}

OutputFile::Status OutputFile::record(const uint8_t* data, uint32_t n) {
    if (s_.raw) return put(data, n) ? kOk : kFailed;
    const bool isText = s_.type == EXTRACT_TYPE_TEXT;
    const bool truncate = (s_.options & EXTRACT_TRUNCATE) != 0;
    if (s_.options & EXTRACT_STRIP) {
        if (n > maxData_ && truncate) n = maxData_;
        if (isText) {
            const uint8_t* e2a = rt::ebcdicToAscii();
            while (n > 0 && e2a[data[n - 1]] <= 0x20) --n;
        } else {
            while (n > 0 && data[n - 1] == s_.pad) --n;
        }
    }
    if (n > maxData_) {
        if (!truncate) return kTruncated;
        n = maxData_;
    }

    if (isText) {
        const char* lineEnd = kLineEnds[s_.lineEnd & 3];
        const size_t endLength = kLineEndLengths[s_.lineEnd & 3];
        if (s_.tabWidth == 0 && s_.traceLevel < TRACE_CALLS && s_.encoding == nullptr &&
            n + endLength < kOutputBuffer) {
            // The common case: translated straight into the output.
            if (outFill_ + n + endLength > kOutputBuffer && !flushOutput()) return kFailed;
            const size_t at = outFill_;
            outFill_ += n + endLength;
            uint8_t* q = out_.get() + at;
            translateInto(q, data, n, rt::ebcdicToAscii());
            std::memcpy(q + n, lineEnd, endLength);
            return kOk;
        }
        work_.assign(data, data + n);
        translate(work_.data(), n);
        // Tab compression: a run of blanks up to the next tab stop, at least two columns long,
        // becomes one tab character.
        if (s_.tabWidth != 0 && n > s_.tabWidth) {
            std::vector<uint8_t> out;
            out.reserve(n);
            for (uint32_t i = 0; i < n;) {
                if (work_[i] == ' ') {
                    uint32_t stop = (i / s_.tabWidth + 1) * s_.tabWidth;
                    if (stop > n) stop = n;
                    bool blank = stop - i >= 2;
                    for (uint32_t k = i; blank && k < stop; ++k) blank = work_[k] == ' ';
                    if (blank) {
                        out.push_back('\t');
                        i = stop;
                        continue;
                    }
                }
                out.push_back(work_[i++]);
            }
            work_.swap(out);
        }
        return text(reinterpret_cast<const char*>(work_.data()), work_.size()) ? kOk : kFailed;
    }

    // A record of length 0 cannot be told apart from no record in the formats without a length:
    // there it is written as one pad character.
    const uint8_t pad = s_.pad;
    if (n == 0 && (s_.format == EXTRACT_FORMAT_FIXED || s_.format == EXTRACT_FORMAT_BYTES)) {
        data = &pad;
        n = 1;
    }
    const bool translated = (s_.options & EXTRACT_TRANSLATE) != 0;
    work_.clear();
    switch (s_.format) {
    case EXTRACT_FORMAT_FIXED:
        work_.assign(data, data + n);
        work_.resize(s_.lrecl, pad);
        break;
    case EXTRACT_FORMAT_BYTES:
        work_.assign(data, data + n);
        break;
    case EXTRACT_FORMAT_LENGTH2:
    case EXTRACT_FORMAT_LENGTH2I: {
        work_.resize(2);
        putLength(work_.data(), s_.format == EXTRACT_FORMAT_LENGTH2 ? n : n + 2);
        work_.insert(work_.end(), data, data + n);
        if (translated) translate(work_.data() + 2, n);
        return put(work_.data(), work_.size()) ? kOk : kFailed;
    }
    case EXTRACT_FORMAT_RDW: {
        work_.assign(4, 0);
        putLength(work_.data(), n + 4);
        work_.insert(work_.end(), data, data + n);
        if (translated) translate(work_.data() + 4, n);
        return put(work_.data(), work_.size()) ? kOk : kFailed;
    }
    case EXTRACT_FORMAT_VARIABLE: {
        work_.assign(data, data + n);
        if (translated) translate(work_.data(), n);
        return variable(work_.data(), n) ? kOk : kFailed;
    }
    default:
        return kFailed;
    }
    if (translated) translate(work_.data(), work_.size());
    return put(work_.data(), work_.size()) ? kOk : kFailed;
}

// Writes the block being filled with its block descriptor.
bool OutputFile::flushBlock() {
    if (block_.size() <= 4) {
        block_.clear();
        return true;
    }
    putLength(block_.data(), static_cast<uint32_t>(block_.size()));
    block_[2] = block_[3] = 0;
    const bool ok = put(block_.data(), block_.size());
    block_.clear();
    return ok;
}

// Variable records inside blocks: each behind its record descriptor, several to a block when
// blocked, split into segments (first X'0100', middle X'0300', last X'0200') when spanned.
bool OutputFile::variable(const uint8_t* data, uint32_t n) {
    const bool blocked = (s_.options & EXTRACT_BLOCKED) != 0;
    const bool spanned = (s_.options & EXTRACT_SPANNED) != 0;
    // Without a block size every record is a block of its own.
    const uint32_t capacity = s_.blockSize != 0 ? s_.blockSize : n + 8;
    auto startBlock = [&] {
        if (block_.empty()) block_.assign(4, 0);
    };
    auto addSegment = [&](const uint8_t* d, uint32_t len, uint8_t code) {
        startBlock();
        const size_t at = block_.size();
        block_.resize(at + 4 + len);
        putLength(block_.data() + at, len + 4);
        block_[at + 2] = code;
        block_[at + 3] = 0;
        if (len > 0) std::memcpy(block_.data() + at + 4, d, len);
    };
    startBlock();
    uint32_t space = capacity > block_.size() ? capacity - static_cast<uint32_t>(block_.size()) : 0;
    if (blocked && (space < 5 || (!spanned && space < n + 4))) {
        if (!flushBlock()) return false;
        startBlock();
        space = capacity - 4;
    }
    if (n + 4 <= space || !spanned) {
        addSegment(data, n, 0);
    } else {
        // The first segment fills the space left, middle ones take a whole block, the last the
        // rest.
        uint32_t first = space - 4;
        addSegment(data, first, 0x01);
        uint32_t done = first;
        while (n - done + 8 > capacity) {
            if (!flushBlock()) return false;
            const uint32_t middle = capacity - 8;
            addSegment(data + done, middle, 0x03);
            done += middle;
        }
        if (!flushBlock()) return false;
        addSegment(data + done, n - done, 0x02);
    }
    if (!blocked) return flushBlock();
    return true;
}

bool OutputFile::commit() {
    if (temp_.empty()) return false;
    bool ok = flushBlock() && flushOutput();
    if (rt::ioClose(io_, false) != IO_OK) ok = fail() && false;
    if (ok && !platform::replaceFile(temp_, target_)) {
        error_ = std::strerror(errno);
        ok = false;
    }
    if (!ok) std::remove(temp_.c_str());
    temp_.clear();
    return ok;
}

void OutputFile::abandon() {
    outFill_ = 0;
    if (temp_.empty()) return;
    if (io_.stream != nullptr) rt::ioClose(io_, false);
    std::remove(temp_.c_str());
    temp_.clear();
}

} // namespace opx
