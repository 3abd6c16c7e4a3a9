// Opening a TSO TRANSMIT file: segments into logical records, the INMR01 and INMR02 control
// records with their text units, and the description of every data set in the file.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "opxcore.h"
#include "platform/paths.h"
#include "reader.h"
#include "record_source.h"
#include "runtime.h"
#include "xmit_format.h"

using namespace xmit;

namespace opx {

namespace {

constexpr uint32_t kInitialRecordCapacity = 65536;
constexpr uint32_t kRecordGrowth = 16384;
// A logical record may not grow past this: a file whose record never ends fails before the
// 32-bit length can wrap.
constexpr uint32_t kMaxRecordLength = UINT32_MAX - 255;
// The smallest INMR02 record on the wire, which bounds the number of files a file can hold.
constexpr int64_t kMinInmr02Bytes = 12;

const char* ioFailure(const XmitHandle* h) {
    return rt::message("%s error: %s", h->io.operation, std::strerror(h->io.errnum));
}

int failRecord(XmitHandle* h, const char* message, int status) {
    h->message = message;
    h->io.status = status;
    return status;
}

bool refuse(XmitHandle* h, const char* message) {
    h->message = message;
    return false;
}

constexpr uint32_t kReadBufferSize = 1 << 18;

// Reads n bytes at the current position. Below trace level 3 they come from the handle's own
// buffer, filled a large block at a time; at level 3 and above every read goes to the stream
// through the traced operation, so that each segment shows in the trace. Sets the I/O status.
size_t readBytes(XmitHandle* h, uint8_t* out, size_t n) {
    if (h->io.traceLevel >= TRACE_CALLS) return rt::ioRead(h->io, out, 1, n);
    size_t got = 0;
    while (got < n) {
        if (h->readPosition == h->readLength) {
            if (h->readBuffer == nullptr)
                h->readBuffer =
                    static_cast<uint8_t*>(rt::allocZeroed(kReadBufferSize + kMaxSegmentLength));
            h->readLength =
                static_cast<uint32_t>(rt::ioRead(h->io, h->readBuffer, 1, kReadBufferSize));
            h->readPosition = 0;
            if (h->readLength == 0) return got; // end of file or error: the status says which
        }
        const size_t take = std::min<size_t>(n - got, h->readLength - h->readPosition);
        std::memcpy(out + got, h->readBuffer + h->readPosition, take);
        h->readPosition += static_cast<uint32_t>(take);
        got += take;
    }
    h->io.status = IO_OK;
    return got;
}

} // namespace

int64_t nextRecordPosition(const XmitHandle* h) {
    if (RecordSource* source = sourceOf(h)) return source->position();
    return h->io.position - (h->nextLengthRead ? 1 : 0);
}

int tell(XmitHandle* h, int64_t* position) {
    if (sourceOf(h) != nullptr) {
        *position = nextRecordPosition(h);
        return IO_OK;
    }
    if (h->io.traceLevel >= TRACE_CALLS) {
        if (rt::ioTell(h->io) != IO_OK) {
            h->message = ioFailure(h);
            return h->io.status;
        }
    }
    // Below level 3 the stream runs ahead of the reader by its buffer; the reader's own count
    // is the position.
    *position = nextRecordPosition(h);
    return IO_OK;
}

bool isControl(const XmitHandle* h) {
    return (h->recordFlags & kControlRecord) != 0;
}

bool hasIdentifier(const XmitHandle* h, const uint8_t id[6]) {
    return h->recordLength >= kIdentifierLength &&
           std::memcmp(h->record, id, kIdentifierLength) == 0;
}

int seek(XmitHandle* h, int64_t offset) {
    if (RecordSource* source = sourceOf(h)) return source->seek(h, offset);
    h->nextLengthRead = 0;
    h->nextLength = 0;
    h->readLength = h->readPosition = 0;
    if (rt::ioSeek(h->io, offset, SEEK_SET) != IO_OK) {
        h->message = ioFailure(h);
        return h->io.status;
    }
    return IO_OK;
}

int readRecord(XmitHandle* h) {
    if (RecordSource* source = sourceOf(h)) return source->read(h);
    h->recordLength = 0;
    if (!h->nextLengthRead) {
        uint8_t length;
        if (readBytes(h, &length, 1) != 1) {
            if (h->io.status == IO_EOF) return failRecord(h, "Unexpected end of file", IO_EOF);
            return failRecord(h, ioFailure(h), IO_ERROR);
        }
        h->io.position += 1;
        h->nextLength = length;
        h->nextLengthRead = 1;
    }
    // The position is kept up to date by the reads themselves; the first length byte of the
    // record has been read already.
    h->recordOffset = h->io.position - 1;
    bool first = true;
    for (;;) {
        const unsigned length = h->nextLength;
        const int64_t lengthOffset = h->io.position - 1;
        h->segmentLength = static_cast<uint8_t>(length);
        if (length < kSegmentHeader)
            return failRecord(
                h, rt::message("Invalid segment length at offset %" PRId64, lengthOffset), IO_EOF);
        // One read takes the flags byte, the data and the next segment's length byte. When the
        // read buffer holds the whole segment it is used where it stands.
        const uint8_t* seg;
        size_t got;
        if (h->io.traceLevel < TRACE_CALLS && h->readLength - h->readPosition >= length) {
            seg = h->readBuffer + h->readPosition;
            h->readPosition += length;
            got = length;
        } else {
            got = readBytes(h, h->segment, length);
            seg = h->segment;
        }
        if (got == length) {
            h->nextLength = seg[length - 1];
            h->nextLengthRead = 1;
        } else if (got == length - 1 && h->io.status == IO_EOF) {
            // The segment ends exactly at the end of the file: complete, with nothing after it.
            h->nextLengthRead = 0;
            h->nextLength = 0;
            h->io.status = IO_OK;
        } else if (h->io.status == IO_ERROR) {
            return failRecord(h, ioFailure(h), IO_ERROR);
        } else {
            return failRecord(h, "Unexpected end of file", IO_EOF);
        }
        const uint8_t flags = seg[0];
        if ((flags & kReservedFlags) != 0 || (first && (flags & kFirstSegment) == 0))
            return failRecord(
                h, rt::message("Invalid segment flags at offset %" PRId64, lengthOffset + 1),
                IO_EOF);
        // A segment without data is only a record of its own: first and last at once (an
        // empty record).
        if (length == kSegmentHeader &&
            !(first && (flags & (kFirstSegment | kLastSegment)) == (kFirstSegment | kLastSegment)))
            return failRecord(
                h, rt::message("Invalid segment length at offset %" PRId64, lengthOffset), IO_EOF);
        if (first) h->recordFlags = flags;
        const uint32_t dataLength = length - kSegmentHeader;
        if (h->recordLength > kMaxRecordLength - dataLength)
            return failRecord(
                h, rt::message("Invalid segment flags at offset %" PRId64, lengthOffset + 1),
                IO_EOF);
        const uint32_t needed = h->recordLength + dataLength;
        // The record keeps room for a whole segment beyond its data (see the copy below).
        if (needed + kMaxSegmentLength > h->recordCapacity) {
            uint32_t capacity = h->recordCapacity;
            while (capacity < needed + kMaxSegmentLength) capacity += kRecordGrowth;
            h->record = static_cast<uint8_t*>(rt::grow(h->record, h->recordCapacity, capacity));
            h->recordCapacity = capacity;
        }
        if (seg != h->segment) {
            // From the read buffer (which has slack beyond its end), a copy of fixed length is
            // several times faster than one of the segment's own length; the bytes beyond the
            // data are overwritten by the next segment or lie past the record's length.
            std::memcpy(h->record + h->recordLength, seg + 1, kMaxSegmentLength);
        } else {
            std::memcpy(h->record + h->recordLength, seg + 1, dataLength);
        }
        h->recordLength = needed;
        h->io.position += static_cast<int64_t>(got);
        first = false;
        if (flags & kLastSegment) break;
        if (!h->nextLengthRead) return failRecord(h, "Unexpected end of file", IO_EOF);
    }
    h->io.status = IO_OK;
    return IO_OK;
}

void recfmLetters(uint8_t recfm, char* out) {
    int n = 0;
    switch (recfm & kRecfmUndefined) {
    case kRecfmUndefined:
        out[n++] = 'U';
        break;
    case kRecfmFixed:
        out[n++] = 'F';
        break;
    case kRecfmVariable:
        out[n++] = 'V';
        break;
    default:
        break;
    }
    if (n != 0) {
        if (recfm & kRecfmTrackOverflow) out[n++] = 'T';
        if (recfm & kRecfmBlocked) out[n++] = 'B';
        if (recfm & kRecfmSpanned) out[n++] = 'S';
        if (recfm & kRecfmAsa)
            out[n++] = 'A';
        else if (recfm & kRecfmMachine)
            out[n++] = 'M';
    }
    out[n] = '\0';
}

namespace {

// ---- text units
// ----------------------------------------------------------------------------------

struct TextUnitValue {
    const uint8_t* data;
    uint32_t length;
};

// Walks the text units of the current record from `offset`; calls visit(key, count, values)
// for each, with at most the first 32 values listed. Returns false when a unit is malformed,
// runs past the record or the units do not end exactly at its end.
template <class Visit> bool walkTextUnits(const XmitHandle* h, uint32_t offset, Visit visit) {
    const uint8_t* rec = h->record;
    const uint32_t end = h->recordLength;
    uint32_t at = offset;
    TextUnitValue values[32];
    while (at < end) {
        if (end - at < kTextUnitHeader) return false;
        const uint16_t key = be16(rec + at);
        const uint16_t count = be16(rec + at + 2);
        if (count > kMaxTextValues) return false;
        at += kTextUnitHeader;
        unsigned kept = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (end - at < kTextValueHeader) return false;
            const uint16_t length = be16(rec + at);
            at += kTextValueHeader;
            if (length == 0 || length > kMaxTextValueLength || end - at < length) return false;
            if (kept < 32) values[kept++] = {rec + at, length};
            at += length;
        }
        visit(key, count, values, kept);
    }
    return at == end;
}

// A number of 1 to 3 bytes, or the last four bytes of a longer value.
uint32_t numberOf(const TextUnitValue& v) {
    if (v.length <= 3) {
        uint32_t n = 0;
        for (uint32_t i = 0; i < v.length; ++i) n = (n << 8) | v.data[i];
        return n;
    }
    return be32(v.data + v.length - 4);
}

void textOf(const TextUnitValue& v, char* field, size_t capacity) {
    rt::translateText(v.data, v.length, field, capacity);
}

bool readInmr01(XmitHandle* h) {
    bool sawCount = false;
    const bool ok = walkTextUnits(
        h, kInmr01TextUnits, [&](uint16_t key, unsigned, const TextUnitValue* values, unsigned n) {
            if (n == 0) return;
            switch (key) {
            case INMFNODE:
                textOf(values[0], h->originNode, sizeof h->originNode);
                break;
            case INMFUID:
                textOf(values[0], h->originUser, sizeof h->originUser);
                break;
            case INMFTIME:
                textOf(values[0], h->originTime, sizeof h->originTime);
                break;
            case INMNUMF:
                h->fileCount = numberOf(values[0]);
                sawCount = true;
                break;
            default:
                break;
            }
        });
    (void)sawCount;
    return ok;
}


// Reads one INMR02 record of file n and checks it; returns false with the message set.
bool readInmr02Record(XmitHandle* h, uint32_t n) {
    if (readRecord(h) != IO_OK) return false;
    if (!isControl(h)) return refuse(h, "Invalid TSO TRANSMIT file (missing INMR02 record)");
    if (!hasIdentifier(h, kInmr02))
        return refuse(h, "Invalid TSO TRANSMIT file (bad INMR02 record ID)");
    if (h->recordLength < kInmr02TextUnits || be32(h->record + kInmr02FileNumber) != n)
        return refuse(h, "Invalid TSO TRANSMIT file (bad INMR02 file number)");
    return true;
}

// The INMR02 group of file n: the first record describes the data set; further records (up to
// the one of utility INMCOPY) only tell which utilities took part.
bool readInmr02Group(XmitHandle* h, uint32_t n) {
    XmitDataSet* ds = &h->dataSets[n - 1];
    if (!readInmr02Record(h, n)) return false;
    ds->fileNumber = n;
    ds->lrecl = -1;
    ds->blksize = -1;
    char utility[9] = {0};
    bool message = false, haveDsorg = false;
    uint16_t dsorg = 0;
    const bool ok = walkTextUnits(
        h, kInmr02TextUnits, [&](uint16_t key, unsigned, const TextUnitValue* v, unsigned count) {
            if (key == INMTERM) message = true;
            if (count == 0) return;
            switch (key) {
            case INMUTILN:
                textOf(v[0], utility, sizeof utility);
                break;
            case INMDSNAM: {
                // One value per qualifier, joined with periods, at most 44 characters.
                size_t len = 0;
                for (unsigned i = 0; i < count && len < 44; ++i) {
                    if (i > 0) ds->dsname[len++] = '.';
                    char qualifier[45];
                    textOf(v[i], qualifier, sizeof qualifier);
                    for (const char* q = qualifier; *q && len < 44; ++q) ds->dsname[len++] = *q;
                }
                ds->dsname[len] = '\0';
                break;
            }
            case INMMEMBR:
                textOf(v[0], ds->member, sizeof ds->member);
                break;
            case INMBLKSZ:
                ds->blksize = static_cast<int32_t>(numberOf(v[0]));
                break;
            case INMLRECL:
                ds->lrecl = static_cast<int32_t>(numberOf(v[0]));
                break;
            case INMDSORG:
                dsorg = v[0].length == 1 ? v[0].data[0] : be16(v[0].data);
                haveDsorg = true;
                break;
            case INMRECFM:
                ds->recfm = v[0].data[0];
                break;
            default:
                break;
            }
        });
    if (!ok) return refuse(h, "Invalid TSO TRANSMIT file (bad INMR02 segment fields)");

    if (message)
        ds->kind = XMIT_KIND_MESSAGE;
    else if (haveDsorg && dsorg == kDsorgSequential)
        ds->kind = XMIT_KIND_SEQUENTIAL;
    else if (haveDsorg && dsorg == kDsorgPartitioned)
        ds->kind = XMIT_KIND_PARTITIONED;
    else
        ds->kind = XMIT_KIND_UNSUPPORTED;
    if (std::strcmp(utility, "IEBCOPY") == 0) {
        if (ds->kind != XMIT_KIND_PARTITIONED) ds->kind = XMIT_KIND_UNSUPPORTED;
    } else if (ds->kind == XMIT_KIND_PARTITIONED) {
        ds->kind = ds->member[0] != '\0' ? XMIT_KIND_UNSUPPORTED : XMIT_KIND_SEQUENTIAL;
    }
    recfmLetters(ds->recfm, ds->recfmLetters);
    // An encrypted data set is never offered as readable, whichever of its records names the
    // cipher.
    if (std::strcmp(utility, "AMSCIPHR") == 0) ds->encrypted = 1;

    while (std::strcmp(utility, "INMCOPY") != 0) {
        if (!readInmr02Record(h, n)) return false;
        utility[0] = '\0';
        const bool walked =
            walkTextUnits(h, kInmr02TextUnits,
                          [&](uint16_t key, unsigned, const TextUnitValue* v, unsigned count) {
                              if (key == INMUTILN && count > 0)
                                  textOf(v[0], utility, sizeof utility);
                          });
        if (!walked) return refuse(h, "Invalid TSO TRANSMIT file (bad INMR02 segment fields)");
        if (std::strcmp(utility, "AMSCIPHR") == 0) ds->encrypted = 1;
    }
    return true;
}

// A message file: its lines, less trailing bytes of X'40' or below, translated and each
// ended by "\n".
bool readMessage(XmitHandle* h, XmitDataSet* ds) {
    ds->dataPosition = nextRecordPosition(h);
    uint64_t lines = 0, bytes = 0;
    auto trimmed = [h]() {
        uint32_t n = h->recordLength;
        while (n > 0 && h->record[n - 1] <= 0x40) --n;
        return n;
    };
    for (;;) {
        if (readRecord(h) != IO_OK) return false;
        if (isControl(h)) break;
        ++lines;
        bytes += trimmed();
    }
    // Back to the first line, so that the control record that ended the count is read again
    // by whoever comes next.
    if (seek(h, ds->dataPosition) != IO_OK) return false;
    if (lines == 0) return true;
    char* text = static_cast<char*>(rt::allocZeroed(static_cast<size_t>(bytes + lines + 1)));
    size_t at = 0;
    const uint8_t* e2a = rt::ebcdicToAscii();
    for (uint64_t i = 0; i < lines; ++i) {
        if (readRecord(h) != IO_OK) {
            rt::release(text);
            return false;
        }
        const uint32_t n = trimmed();
        for (uint32_t k = 0; k < n; ++k) text[at++] = static_cast<char>(e2a[h->record[k]]);
        text[at++] = '\n';
    }
    text[at] = '\0';
    ds->messageText = text;
    return true;
}

void describeFiles(XmitHandle* h) {
    // The file: INMR01, the INMR02 groups of every file, then each file's INMR03 and data.
    if (readRecord(h) != IO_OK) {
        if (h->io.status == IO_EOF)
            h->message = "Invalid TSO TRANSMIT file (cannot read INMR01 record)";
        return;
    }
    if (!isControl(h) || !hasIdentifier(h, kInmr01)) {
        h->message = "Invalid TSO TRANSMIT file (bad INMR01 record ID)";
        return;
    }
    if (!readInmr01(h) || static_cast<int64_t>(h->fileCount) > h->fileSize / kMinInmr02Bytes) {
        // A count the file cannot hold is refused before it sizes an allocation.
        h->message = "Invalid TSO TRANSMIT file (bad INMR01 segment fields)";
        return;
    }
    if (h->fileCount == 0) return;
    h->dataSets = static_cast<XmitDataSet*>(rt::allocArray(h->fileCount, sizeof(XmitDataSet)));
    for (uint32_t n = 1; n <= h->fileCount; ++n)
        if (!readInmr02Group(h, n)) return;

    for (uint32_t n = 1; n <= h->fileCount; ++n) {
        XmitDataSet* ds = &h->dataSets[n - 1];
        do {
            if (readRecord(h) != IO_OK) return;
        } while (!isControl(h));
        if (!hasIdentifier(h, kInmr03)) {
            h->message = "Invalid TSO TRANSMIT file (bad INMR03 record ID)";
            return;
        }
        switch (ds->kind) {
        case XMIT_KIND_MESSAGE:
            if (!readMessage(h, ds)) return;
            break;
        case XMIT_KIND_SEQUENTIAL:
            ds->dataPosition = nextRecordPosition(h);
            break;
        case XMIT_KIND_PARTITIONED:
            if (!checkUnloadControlRecords(h, ds)) return;
            break;
        default:
            break;
        }
    }
}

} // namespace

} // namespace opx

using namespace opx;

OPX_EXTERN_C OPX_API XmitHandle* pXmitFileOpen(const char* path) {
    auto* h = static_cast<XmitHandle*>(rt::allocZeroed(sizeof(XmitHandle)));
    h->io.path = path;
    if (const char* sep = platform::lastSeparator(path))
        h->directoryLength = static_cast<uint32_t>(sep - path + 1);
    rt::requireConnected();
    h->io.mode = IO_READ;
    h->io.binary = 1;
    h->io.traceLevel = rt::traceLevel();
    if (path == nullptr) {
        h->message = std::strerror(EINVAL);
        return h;
    }
    if (rt::ioOpen(h->io) != IO_OK) {
        h->message = std::strerror(h->io.errnum);
        return h;
    }
    if (rt::ioSeek(h->io, 0, SEEK_END) != IO_OK) {
        h->message = rt::message("%s error: %s", h->io.operation, std::strerror(h->io.errnum));
        return h;
    }
    h->fileSize = h->io.position;
    if (h->fileSize % kFileRecordLength != 0 || h->fileSize < kMinimumFileSize) {
        h->message = "Invalid TSO TRANSMIT file (bad file size)";
        return h;
    }
    if (seek(h, 0) != IO_OK) return h;
    h->record = static_cast<uint8_t*>(rt::allocZeroed(kInitialRecordCapacity));
    h->recordCapacity = kInitialRecordCapacity;
    describeFiles(h);
    return h;
}

OPX_EXTERN_C OPX_API void vXmitFileClose(XmitHandle* h) {
    if (h == nullptr) return;
    delete sourceOf(h);
    h->source = nullptr;
    if (h->io.stream != nullptr) rt::ioClose(h->io, false);
    rt::release(h->record);
    rt::release(h->readBuffer);
    if (h->dataSets != nullptr) {
        for (uint32_t i = 0; i < h->fileCount; ++i) {
            rt::release(h->dataSets[i].directory);
            rt::release(h->dataSets[i].messageText);
        }
        rt::release(h->dataSets);
    }
    rt::release(h);
}
