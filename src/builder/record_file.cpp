// The record-format reader: workstation files read as logical records or physical blocks of a
// z/OS record format.
//
// Stored layouts (all descriptors big-endian, as on z/OS):
//
//   code 0, 1  F, FB    records of LRECL bytes, blocks of BLKSIZE bytes
//   code 2     U        each record behind a 2-byte length that does not count itself
//   code 3              each record behind a 2-byte length that counts itself
//   code 4     V, VS    each record (or segment) behind its RDW (SDW)
//   code 5     VB, VBS  blocks behind a BDW, holding records (segments) behind RDWs (SDWs)
//   mode 5              TSO TRANSMIT segments: length byte, flags byte, data
//
// Text input is read in pieces of 1024 bytes and cut into lines at CR, LF (and NL of a
// character set); a line becomes a record of the format: padded with blanks to LRECL for F,
// one blank for an empty U record. In record mode the line is translated to EBCDIC.
#include "record_file.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "runtime.h"
#include "xmit_format.h"

namespace bren {

namespace {

using xmit::be16;
using xmit::be32;
using xmit::put16;
using xmit::put32;

constexpr uint32_t kMaxBlock = 262144;     // the largest block of any layout
constexpr uint32_t kMaxShortBlock = 32760; // the largest block a 2-byte BDW describes
constexpr uint32_t kMaxVariableRecord = 32756;
constexpr uint32_t kTextPiece = 1024;
constexpr size_t kStreamBuffer = 1 << 16;
// A joined record or a text line without LRECL may not grow past this: its 32-bit length
// would wrap.
constexpr uint64_t kMaxJoined = UINT32_MAX - 65536;

// Byte classes of text input.
enum : uint8_t { kOrdinary = 0, kLineEnd = 1, kTab = 2, kEndMark = 3, kInvalid = 4 };

// Per-file text tables: byte classes and the translation of each byte.
struct TextTables {
    uint8_t cls[256];
    uint8_t out[256];
    uint8_t blank;     // the blank of the input
    uint8_t outBlank;  // the blank of the records
    bool controlsOnly; // every byte of a class other than ordinary is below X'20'
};

bool tracing(const RecordFile& f) {
    return f.io.traceLevel > 0;
}
bool tracingCalls(const RecordFile& f) {
    return f.io.traceLevel > 2;
}
unsigned long ul(uint64_t v) {
    return static_cast<unsigned long>(v);
}

bool isText(const RecordFile& f) {
    return (f.flags & RECORD_TEXT) != 0;
}
bool isSpanned(const RecordFile& f) {
    return (f.flags & RECORD_SPANNED) != 0;
}
bool isStripped(const RecordFile& f) {
    return (f.flags & RECORD_STRIPPED) != 0;
}
bool translates(const RecordFile& f) {
    return f.mode == RECORD_MODE_STORED;
}

// Records a format error; returns the status.
int formatError(RecordFile& f, int reason) {
    f.status = RECORD_FORMAT_ERROR;
    f.reason = reason;
    return f.status;
}

// Records an I/O error of the stream; returns the status.
int ioError(RecordFile& f) {
    f.status = IO_ERROR;
    return f.status;
}

// Storage of at least `needed` bytes in a buffer: grown to LRECL plus a prefix while LRECL is
// small, else to the needed size rounded up to 4096.
uint8_t* ensure(uint8_t*& buffer, uint32_t& capacity, uint64_t needed, uint32_t lrecl) {
    if (needed <= capacity && buffer != nullptr) return buffer;
    // Even an empty record has storage to point at.
    if (needed < 8) needed = 8;
    uint64_t size = needed;
    if (lrecl != 0 && lrecl < 4000 && needed <= uint64_t(lrecl) + 8)
        size = uint64_t(lrecl) + 8;
    else
        size = (needed + 4095) / 4096 * 4096;
    buffer = static_cast<uint8_t*>(rt::grow(buffer, capacity, static_cast<size_t>(size)));
    capacity = static_cast<uint32_t>(size);
    return buffer;
}

uint8_t* recordSpace(RecordFile& f, uint64_t needed) {
    return ensure(f.recordBuffer, f.recordCapacity, needed, f.lrecl);
}
uint8_t* blockSpace(RecordFile& f, uint64_t needed) {
    return ensure(f.blockBuffer, f.blockCapacity, needed, f.blksize);
}

// Reads up to n bytes from the stream; an I/O error sets the status (checked by the caller
// through f.status). The end of the stream sets the end-of-input flag.
size_t readStream(RecordFile& f, uint8_t* out, size_t n) {
    if (n == 0) return 0;
    if (f.flags & RECORD_END_OF_INPUT) return 0;
    const size_t got = rt::ioRead(f.io, out, 1, n);
    f.streamPosition += static_cast<int64_t>(got);
    if (got < n) {
        if (f.io.status == IO_ERROR) {
            ioError(f);
        } else {
            f.flags |= RECORD_END_OF_INPUT;
            f.io.status = IO_OK;
        }
    }
    return got;
}

// Takes n bytes of a descriptor: first what was read ahead, then from the stream.
size_t takeDescriptor(RecordFile& f, uint8_t* out, size_t n) {
    size_t have = 0;
    while (have < n && f.lookaheadLength > 0) {
        out[have++] = f.lookahead[0];
        std::memmove(f.lookahead, f.lookahead + 1, --f.lookaheadLength);
    }
    if (have < n) have += readStream(f, out + have, n - have);
    return have;
}

// Reads `length` bytes of data and, in the same request, the next descriptor of
// `descriptorLength` bytes, which is kept as the look-ahead. Returns the data bytes read.
size_t readWithNext(RecordFile& f, uint8_t* out, uint32_t length, uint32_t descriptorLength) {
    // The data goes to out; the look-ahead bytes land right behind it (the buffer has room).
    const size_t got = readStream(f, out, size_t(length) + descriptorLength);
    if (got <= length) return got;
    f.lookaheadLength = static_cast<uint32_t>(got - length);
    std::memcpy(f.lookahead, out + length, f.lookaheadLength);
    return length;
}

// The file offset of the next byte not yet delivered (read-ahead bytes count as unread).
int64_t logicalPosition(const RecordFile& f) {
    return f.streamPosition - f.lookaheadLength - (f.textLength - f.textPosition);
}

// ---- attribute check ------------------------------------------------------------------------

int attributeError(RecordFile& f, int reason) {
    if (tracing(f)) {
        switch (reason) {
        case REASON_BLKSIZE:
            if (f.blksize == 0)
                rt::printf("Error reading \"%s\": BLKSIZE not specified\n", f.io.path);
            else
                rt::printf("Error reading \"%s\": Invalid BLKSIZE of %u specified\n", f.io.path,
                           f.blksize);
            break;
        case REASON_LRECL:
            if (f.lrecl == 0)
                rt::printf("Error reading \"%s\": LRECL not specified\n", f.io.path);
            else
                rt::printf("Error reading \"%s\": Invalid LRECL of %u specified\n", f.io.path,
                           f.lrecl);
            break;
        default:
            rt::printf("Error reading \"%s\": Invalid RECFM code %d specified\n", f.io.path,
                       f.recfmCode);
            break;
        }
    }
    return formatError(f, reason);
}

// Checks the attributes once, before the first read, and fills in the defaults. Returns the
// status.
int checkAttributes(RecordFile& f) {
    if (f.flags & RECORD_CHECKED) return f.status;
    f.flags |= RECORD_CHECKED;
    if (f.mode == RECORD_MODE_XMIT) return f.status;
    if (f.blksize > kMaxBlock) return attributeError(f, REASON_BLKSIZE);
    const int code = f.recfmCode;
    if (code < 0 || code > RECFM_CODE_VARIABLE_BLOCKED) return attributeError(f, REASON_RECFM);
    if (isText(f)) {
        // Text lines are measured against LRECL - 4 for variable formats: an LRECL below 5
        // leaves no room for a line at all.
        if ((code == RECFM_CODE_VARIABLE || code == RECFM_CODE_VARIABLE_BLOCKED) && f.lrecl >= 1 &&
            f.lrecl <= 4)
            return attributeError(f, REASON_LRECL);
        // Fixed blocks hold whole records; without a block size a block is one record.
        if ((code == RECFM_CODE_FIXED || code == RECFM_CODE_FIXED_UNBLOCKED) &&
            (f.blksize == 0 || code == RECFM_CODE_FIXED_UNBLOCKED))
            f.blksize = f.lrecl;
        return f.status;
    }
    switch (code) {
    case RECFM_CODE_FIXED_UNBLOCKED:
        if (f.lrecl == 0) return attributeError(f, REASON_LRECL);
        f.blksize = f.lrecl;
        break;
    case RECFM_CODE_FIXED:
        if (f.lrecl == 0 || f.lrecl > kMaxShortBlock) return attributeError(f, REASON_LRECL);
        if (f.blksize == 0)
            f.blksize = f.lrecl;
        else if (f.blksize % f.lrecl != 0)
            return attributeError(f, REASON_LRECL);
        break;
    case RECFM_CODE_UNDEFINED:
        if (f.lrecl == 0) f.lrecl = kMaxShortBlock;
        if (f.lrecl > kMaxShortBlock) return attributeError(f, REASON_LRECL);
        f.blksize = f.lrecl;
        break;
    case RECFM_CODE_PREFIXED:
        if (f.lrecl == 0) f.lrecl = 32752;
        if (f.lrecl > 32752) return attributeError(f, REASON_LRECL);
        f.blksize = f.lrecl;
        break;
    default: // variable
        if (f.blksize >= 1 && f.blksize <= 8) return attributeError(f, REASON_BLKSIZE);
        if (f.lrecl >= 1 && f.lrecl <= 4) return attributeError(f, REASON_LRECL);
        if (!isSpanned(f)) {
            if (f.lrecl == 0)
                f.lrecl = (f.blksize == 0 || f.blksize > kMaxShortBlock) ? kMaxVariableRecord
                                                                         : f.blksize - 4;
            if (code == RECFM_CODE_VARIABLE && f.blksize == 0) f.blksize = f.lrecl + 4;
            if (f.lrecl > kMaxVariableRecord || (f.blksize != 0 && f.blksize < f.lrecl + 4))
                return attributeError(f, REASON_LRECL);
        }
        break;
    }
    return f.status;
}

// ---- tracing of records ---------------------------------------------------------------------

void traceRecord(RecordFile& f, bool block, uint32_t number) {
    if (!tracingCalls(f)) return;
    rt::printf("%s(%s): %s %lu length %u read at +%" PRId64 "\n",
               block ? "eIoReadBlock" : "eIoReadRecord", f.io.path, block ? "block" : "record",
               ul(number), f.recordLength, f.recordOffset);
    if (f.io.traceLevel > 3 && f.recordLength > 0) {
        IoFileCore dump = f.io;
        dump.dumpStyle = 'E'; // the EBCDIC rendering beside the hexadecimal
        rt::ioDump(dump, f.record, f.recordLength);
    }
}

int endOfFile(RecordFile& f, bool block = false) {
    f.status = IO_EOF;
    if (tracingCalls(f)) {
        if (block)
            rt::printf("eIoReadBlock(%s): End Of File at +%" PRId64 " after reading block %lu\n",
                       f.io.path, logicalPosition(f), ul(f.blocksRead));
        else
            rt::printf("eIoReadRecord(%s): End Of File at +%" PRId64 " after reading record %lu\n",
                       f.io.path, logicalPosition(f), ul(f.recordsRead));
    }
    return f.status;
}

// ---- TSO TRANSMIT segments ------------------------------------------------------------------

int readXmitRecord(RecordFile& f) {
    static const char* const kReasons[] = {"length below 2", "reserved flags set",
                                           "first segment flag missing", "control flag differs",
                                           "empty segment not first and last"};
    uint32_t length = 0;
    uint8_t firstFlags = 0;
    bool first = true;
    for (;;) {
        uint8_t header[2];
        const int64_t at = logicalPosition(f);
        const size_t got = takeDescriptor(f, header, 2);
        if (f.status != IO_OK) return f.status;
        if (got == 0 && first) return endOfFile(f, false);
        if (got < 2) {
            if (tracing(f))
                rt::printf(
                    "Error reading \"%s\": Short XMIT RDW encountered while reading record %lu\n",
                    f.io.path, ul(f.recordsRead + 1));
            return formatError(f, REASON_EOF_IN_RDW);
        }
        const uint8_t segLength = header[0], flags = header[1];
        int why = -1;
        if (segLength < 2)
            why = 0;
        else if (flags & 0x1F)
            why = 1;
        else if (first && !(flags & 0x80))
            why = 2;
        else if (!first && (flags & 0x20) != (firstFlags & 0x20))
            why = 3;
        else if (segLength == 2 && (flags & 0xC0) != 0xC0)
            why = 4;
        if (why >= 0) {
            if (tracing(f))
                rt::printf("Error reading \"%s\": Invalid XMIT RDW X'%.2X%.2X' of record %lu read "
                           "at +%" PRId64 ", reason: %s\n",
                           f.io.path, header[0], header[1], ul(f.recordsRead + 1), at,
                           kReasons[why]);
            return formatError(f, REASON_RDW);
        }
        if (first) {
            firstFlags = flags;
            f.recordOffset = at;
        }
        const uint32_t data = segLength - 2u;
        if (uint64_t(length) + data > kMaxJoined) {
            if (tracing(f))
                rt::printf("Error reading \"%s\": Invalid XMIT RDW X'%.2X%.2X' of record %lu read "
                           "at +%" PRId64 ", reason: %s\n",
                           f.io.path, header[0], header[1], ul(f.recordsRead + 1), at,
                           "record too long");
            return formatError(f, REASON_RECORD_TOO_LONG);
        }
        uint8_t* out = recordSpace(f, uint64_t(length) + data + 2) + length;
        const size_t read = readWithNext(f, out, data, 2);
        if (f.status != IO_OK) return f.status;
        if (read < data) {
            if (tracing(f))
                rt::printf(
                    "Error reading \"%s\": Short XMIT segment of %u out of %u bytes at +%" PRId64
                    " while reading record %lu\n",
                    f.io.path, static_cast<unsigned>(read), data, at, ul(f.recordsRead + 1));
            return formatError(f, REASON_EOF_IN_RECORD);
        }
        length += data;
        first = false;
        if (flags & 0x40) break;
    }
    f.record = f.recordBuffer;
    f.recordLength = length;
    return f.status;
}

// ---- fixed and length-prefixed records ------------------------------------------------------

int readFixedRecord(RecordFile& f) {
    const int64_t at = logicalPosition(f);
    uint8_t* out = recordSpace(f, f.lrecl);
    const size_t got = readStream(f, out, f.lrecl);
    if (f.status != IO_OK) return f.status;
    if (got == 0) return endOfFile(f, false);
    if (got < f.lrecl && f.recfmCode == RECFM_CODE_FIXED) {
        if (tracing(f))
            rt::printf(
                "Error reading \"%s\": Short fixed length record of %u out of %u bytes at +%" PRId64
                " while reading record %lu\n",
                f.io.path, static_cast<unsigned>(got), f.lrecl, at, ul(f.recordsRead + 1));
        return formatError(f, REASON_EOF_IN_RECORD);
    }
    f.record = out;
    f.recordLength = static_cast<uint32_t>(got);
    f.recordOffset = at;
    return f.status;
}

int readPrefixedRecord(RecordFile& f, bool block = false) {
    const int64_t at = logicalPosition(f);
    uint8_t prefix[2];
    const size_t got = takeDescriptor(f, prefix, 2);
    if (f.status != IO_OK) return f.status;
    if (got == 0) return endOfFile(f, block);
    if (got == 1) {
        if (tracing(f))
            rt::printf("Error reading \"%s\": Short 2-byte RDW read at +%" PRId64
                       " while reading record %lu\n",
                       f.io.path, at, ul(f.recordsRead + 1));
        return formatError(f, REASON_EOF_IN_RDW);
    }
    const uint32_t value = be16(prefix);
    const bool countsItself = f.recfmCode == RECFM_CODE_PREFIXED;
    int reason = 0;
    uint32_t length = value;
    if (countsItself) {
        if (value < 3 || value > 32752)
            reason = REASON_RDW;
        else
            length = value - 2;
    } else if (value < 1 || value > kMaxShortBlock) {
        reason = REASON_RDW;
    }
    if (reason == 0 && length > f.lrecl) reason = REASON_RECORD_TOO_LONG;
    if (reason != 0) {
        if (tracing(f))
            rt::printf("Error reading \"%s\": Invalid 2-byte RDW X'%.2X%.2X' read at +%" PRId64
                       " while reading record %lu, LRECL=%u reason: %s\n",
                       f.io.path, prefix[0], prefix[1], at, ul(f.recordsRead + 1), f.lrecl,
                       reasonText(reason));
        return formatError(f, reason);
    }
    const uint32_t keep = isStripped(f) ? 0 : 2;
    uint8_t* out = recordSpace(f, uint64_t(keep) + length + 2);
    if (keep) std::memcpy(out, prefix, 2);
    const size_t read = readWithNext(f, out + keep, length, 2);
    if (f.status != IO_OK) return f.status;
    if (read < length) {
        if (tracing(f))
            rt::printf("Error reading \"%s\": Short record of %u out of %u bytes at +%" PRId64
                       " after reading record %lu\n",
                       f.io.path, static_cast<unsigned>(read), length, at, ul(f.recordsRead));
        return formatError(f, REASON_EOF_IN_RECORD);
    }
    f.record = out;
    f.recordLength = keep + length;
    f.recordOffset = at;
    return f.status;
}

// ---- variable records -----------------------------------------------------------------------

// One unit of code 4 from the stream: an RDW (or SDW) and its data, into the record buffer at
// `offset` (the descriptor kept in front when `keepDescriptor`). Returns the status; on
// success *descriptor holds the 4 descriptor bytes and *dataLength the data length. *eof is
// set when the file ended before the descriptor.
int readVariableUnit(RecordFile& f, uint64_t offset, bool keepDescriptor, uint8_t* descriptor,
                     uint32_t* dataLength, bool* eof, int64_t* at) {
    *eof = false;
    *at = logicalPosition(f);
    const size_t got = takeDescriptor(f, descriptor, 4);
    if (f.status != IO_OK) return f.status;
    if (got == 0) {
        *eof = true;
        return f.status;
    }
    if (got < 4) {
        if (tracing(f))
            rt::printf("Error reading \"%s\": Short RDW encountered while reading record %lu\n",
                       f.io.path, ul(f.recordsRead + 1));
        return formatError(f, REASON_EOF_IN_RDW);
    }
    const uint32_t length = be16(descriptor);
    int reason = 0;
    if (length < 4 || length > kMaxVariableRecord)
        reason = REASON_RDW;
    else if ((!isSpanned(f) && length > f.lrecl) || (f.blksize != 0 && length > f.blksize - 4))
        reason = REASON_RECORD_TOO_LONG;
    if (reason != 0) {
        if (tracing(f))
            rt::printf("Error reading \"%s\": Invalid RDW X'%.2X%.2X%.2X%.2X' of record %lu read "
                       "at +%" PRId64 ", LRECL=%u BLKSIZE=%u reason: %s\n",
                       f.io.path, descriptor[0], descriptor[1], descriptor[2], descriptor[3],
                       ul(f.recordsRead + 1), *at, f.lrecl, f.blksize, reasonText(reason));
        return formatError(f, reason);
    }
    const uint32_t data = length - 4;
    const uint32_t keep = keepDescriptor ? 4 : 0;
    uint8_t* out = recordSpace(f, offset + keep + data + 4) + offset;
    if (keep) std::memcpy(out, descriptor, 4);
    const size_t read = readWithNext(f, out + keep, data, 4);
    if (f.status != IO_OK) return f.status;
    if (read < data) {
        if (tracing(f))
            rt::printf("Error reading \"%s\": Short record of %u out of %u bytes at +%" PRId64
                       " while reading record %lu\n",
                       f.io.path, static_cast<unsigned>(read), data, *at, ul(f.recordsRead + 1));
        return formatError(f, REASON_EOF_IN_RECORD);
    }
    *dataLength = data;
    return f.status;
}

// Reads the next block of code 5 into the block buffer (BDW included). *eof is set when the
// file ended before it. Messages name the record being read unless `forBlock`.
int readVariableBlock(RecordFile& f, bool forBlock, bool* eof) {
    *eof = false;
    const int64_t at = logicalPosition(f);
    uint8_t bdw[4];
    const size_t got = takeDescriptor(f, bdw, 4);
    if (f.status != IO_OK) return f.status;
    if (got == 0) {
        *eof = true;
        return f.status;
    }
    const unsigned long block = ul(f.blocksRead + 1), record = ul(f.recordsRead + 1);
    if (got < 4) {
        if (tracing(f)) {
            if (forBlock)
                rt::printf("Error reading \"%s\": Short BDW encountered for block %lu\n", f.io.path,
                           block);
            else
                rt::printf("Error reading \"%s\": Short BDW encountered for block %lu while "
                           "reading record %lu\n",
                           f.io.path, block, record);
        }
        return formatError(f, REASON_EOF_IN_BDW);
    }
    uint32_t length;
    int reason = 0;
    if (bdw[0] & 0x80) {
        // An extended BDW: a 31-bit length for blocks beyond what two bytes can say.
        length = be32(bdw) & 0x7FFFFFFF;
        if (length <= kMaxShortBlock || length > kMaxBlock) reason = REASON_BDW;
    } else {
        length = be16(bdw);
        if (length < 8 || length > kMaxShortBlock) reason = REASON_BDW;
    }
    if (reason == 0 && f.blksize != 0 && length > f.blksize) reason = REASON_BLOCK_TOO_LONG;
    if (reason != 0) {
        if (tracing(f)) {
            if (forBlock)
                rt::printf("Error reading \"%s\": Invalid BDW X'%.2X%.2X%.2X%.2X' of block %lu "
                           "read at +%" PRId64 ", BLKSIZE=%u reason: %s\n",
                           f.io.path, bdw[0], bdw[1], bdw[2], bdw[3], block, at, f.blksize,
                           reasonText(reason));
            else
                rt::printf("Error reading \"%s\": Invalid BDW X'%.2X%.2X%.2X%.2X' of block %lu "
                           "read at +%" PRId64 " while reading record %lu, BLKSIZE=%u reason: %s\n",
                           f.io.path, bdw[0], bdw[1], bdw[2], bdw[3], block, at, record, f.blksize,
                           reasonText(reason));
        }
        return formatError(f, reason);
    }
    uint8_t* out = blockSpace(f, length);
    std::memcpy(out, bdw, 4);
    const size_t read = readStream(f, out + 4, length - 4);
    if (f.status != IO_OK) return f.status;
    if (read < length - 4) {
        if (tracing(f)) {
            if (forBlock)
                rt::printf("Error reading \"%s\": Short block of %u out of %u bytes at +%" PRId64
                           " while reading block %lu\n",
                           f.io.path, static_cast<unsigned>(read + 4), length, at, block);
            else
                rt::printf("Error reading \"%s\": Short block of %u out of %u bytes at +%" PRId64
                           " while reading block %luwhile reading record %lu\n",
                           f.io.path, static_cast<unsigned>(read + 4), length, at, block, record);
        }
        return formatError(f, REASON_EOF_IN_BLOCK);
    }
    ++f.blocksRead;
    f.blockLength = length;
    f.blockUsed = 4;
    f.blockOffset = at;
    return f.status;
}

// The next RDW (or SDW) of the block in hand, checked: *descriptor points at it. The block
// must have one left (f.blockUsed < f.blockLength).
int takeBlockDescriptor(RecordFile& f, const uint8_t** descriptor) {
    const uint32_t left = f.blockLength - f.blockUsed;
    const unsigned long block = ul(f.blocksRead), record = ul(f.recordsRead + 1);
    if (left < 4) {
        if (tracing(f))
            rt::printf("Error reading \"%s\": Short RDW encountered in block %luwhile reading "
                       "record %lu\n",
                       f.io.path, block, record);
        return formatError(f, REASON_EOF_IN_RDW);
    }
    const uint8_t* d = f.blockBuffer + f.blockUsed;
    const uint32_t length = be16(d);
    int reason = 0;
    if (length < 4 || length > left)
        reason = REASON_RDW;
    else if (!isSpanned(f) && f.lrecl != 0 && length > f.lrecl)
        reason = REASON_RECORD_TOO_LONG;
    if (reason != 0) {
        if (tracing(f))
            rt::printf("Error reading \"%s\": Invalid RDW X'%.2X%.2X%.2X%.2X' for record %lu in "
                       "block %lu at +%" PRId64 ", LRECL=%u reason: %s\n",
                       f.io.path, d[0], d[1], d[2], d[3], record, block,
                       f.blockOffset + f.blockUsed, f.lrecl, reasonText(reason));
        return formatError(f, reason);
    }
    *descriptor = d;
    return f.status;
}

int readVariableRecord(RecordFile& f) {
    uint8_t rdw[4];
    uint32_t data = 0;
    bool eof;
    int64_t at;
    if (readVariableUnit(f, 0, !isStripped(f), rdw, &data, &eof, &at) != IO_OK) return f.status;
    if (eof) return endOfFile(f, false);
    f.record = f.recordBuffer;
    f.recordLength = data + (isStripped(f) ? 0 : 4);
    f.recordOffset = at;
    return f.status;
}

int readBlockedVariableRecord(RecordFile& f) {
    if (f.blockUsed >= f.blockLength) {
        bool eof;
        if (readVariableBlock(f, false, &eof) != IO_OK) return f.status;
        if (eof) return endOfFile(f, false);
    }
    const uint8_t* d;
    if (takeBlockDescriptor(f, &d) != IO_OK) return f.status;
    const uint32_t length = be16(d);
    const uint32_t skip = isStripped(f) ? 4 : 0;
    f.record = f.blockBuffer + f.blockUsed + skip;
    f.recordLength = length - skip;
    f.recordOffset = f.blockOffset + f.blockUsed;
    f.blockUsed += length;
    return f.status;
}

// A spanned record: segments joined by their segment codes (0 complete, 1 first, 3 middle,
// 2 last).
int readSpannedRecord(RecordFile& f) {
    const bool blocked = f.recfmCode == RECFM_CODE_VARIABLE_BLOCKED;
    const uint32_t keep = isStripped(f) ? 0 : 4;
    uint64_t total = 0; // data bytes joined so far
    bool inside = false;
    int64_t first = 0;
    for (;;) {
        uint8_t sdw[4] = {0, 0, 0, 0};
        uint32_t data = 0;
        int64_t at = logicalPosition(f);
        bool endsBlock = true;
        bool eof = false;
        // A record that has reached the 32-bit bound takes no further segment.
        const bool full = total > kMaxJoined - kMaxBlock;
        if (full) {
        } else if (blocked) {
            if (f.blockUsed >= f.blockLength) {
                if (readVariableBlock(f, false, &eof) != IO_OK) return f.status;
            }
            if (!eof) {
                const uint8_t* d;
                if (takeBlockDescriptor(f, &d) != IO_OK) return f.status;
                std::memcpy(sdw, d, 4);
                data = be16(d) - 4u;
                at = f.blockOffset + f.blockUsed;
                std::memcpy(recordSpace(f, keep + total + data) + keep + total, d + 4, data);
                f.blockUsed += data + 4;
                endsBlock = f.blockUsed >= f.blockLength;
            }
        } else {
            if (readVariableUnit(f, keep + total, false, sdw, &data, &eof, &at) != IO_OK)
                return f.status;
            if (!eof) ++f.blocksRead;
        }
        if (eof) {
            if (!inside) return endOfFile(f, false);
            if (tracing(f))
                rt::printf("Error reading \"%s\": End-of-file encountered after spanned segment of "
                           "record %lu\n",
                           f.io.path, ul(f.recordsRead + 1));
            return formatError(f, REASON_EOF_IN_SPANNED);
        }
        const uint8_t code = sdw[2];
        int reason = 0;
        if (full)
            reason = REASON_RECORD_TOO_LONG;
        else if (code > 3 || (!inside && (code == 2 || code == 3)) ||
                 (inside && (code == 0 || code == 1)))
            reason = REASON_SDW;
        // A first segment fills the rest of its block; what follows it is the next block.
        else if (code == 1 && !endsBlock)
            reason = REASON_SDW;
        // The joined record may not pass LRECL (which counts the RDW), nor 32 bits.
        else if (f.lrecl != 0 && total + data + 4 > f.lrecl)
            reason = REASON_RECORD_TOO_LONG;
        if (reason != 0) {
            if (tracing(f))
                rt::printf("Error reading \"%s\": Invalid SDW X'%.2X%.2X%.2X%.2X' in block %lu at "
                           "+%" PRId64 " while reading record %lu, LRECL=%u reason: %s\n",
                           f.io.path, sdw[0], sdw[1], sdw[2], sdw[3], ul(f.blocksRead), at,
                           ul(f.recordsRead + 1), f.lrecl, reasonText(reason));
            return formatError(f, reason);
        }
        if (!inside) first = at;
        total += data;
        if (code == 0 || code == 2) break;
        inside = true;
    }
    uint8_t* out = recordSpace(f, keep + total);
    if (keep) {
        // The joined record with an RDW of its own; beyond what two bytes say, a 31-bit length
        // as in an extended BDW.
        const uint64_t length = total + 4;
        if (length <= kMaxShortBlock) {
            put16(out, static_cast<uint32_t>(length));
            out[2] = out[3] = 0;
        } else {
            put32(out, static_cast<uint32_t>(length) | 0x80000000u);
        }
    }
    f.record = out;
    f.recordLength = static_cast<uint32_t>(keep + total);
    f.recordOffset = first;
    return f.status;
}

// ---- text lines -----------------------------------------------------------------------------

// Builds the byte classes and translation of text input from the character set and mode.
TextTables& textTables(RecordFile& f) {
    if (f.tables != nullptr) return *reinterpret_cast<TextTables*>(f.tables);
    auto* t = static_cast<TextTables*>(rt::allocZeroed(sizeof(TextTables)));
    f.tables = reinterpret_cast<uint8_t*>(t);
    const Charset* cs = f.charset;
    const bool ebcdic = cs != nullptr && cs->kind == CODEXA_KIND_EBCDIC;
    const uint8_t* a2e = rt::asciiToEbcdic();
    t->blank = ebcdic ? 0x40 : 0x20;
    for (unsigned b = 0; b < 256; ++b) {
        uint8_t out = static_cast<uint8_t>(b);
        if (translates(f) && !ebcdic) {
            if (cs != nullptr && cs->kind == CODEXA_KIND_OTHER) {
                const uint16_t u = cs->toUnicode[b];
                out = u <= 0xFF ? a2e[u] : 0x3F;
            } else {
                out = a2e[b];
            }
        }
        t->out[b] = out;
        if (cs != nullptr && cs->toUnicode != nullptr && cs->toUnicode[b] == 0xFFFD)
            t->cls[b] = kInvalid;
    }
    t->outBlank = t->out[t->blank];
    const uint8_t cr = cs ? cs->cr : 0x0D, lf = cs ? cs->lf : 0x0A, nl = cs ? cs->nl : 0;
    const uint8_t ht = cs ? cs->ht : 0x09;
    t->cls[cr] = kLineEnd;
    if (lf) t->cls[lf] = kLineEnd;
    if (nl) t->cls[nl] = kLineEnd;
    if (f.tabOption != 0 && ht) t->cls[ht] = kTab;
    // A final Ctrl-Z or Ctrl-D closes ASCII input; it is not data.
    if (!ebcdic) {
        if (t->cls[0x1A] == kOrdinary) t->cls[0x1A] = kEndMark;
        if (t->cls[0x04] == kOrdinary) t->cls[0x04] = kEndMark;
    }
    t->controlsOnly = true;
    for (unsigned b = 0x20; b < 256; ++b)
        if (t->cls[b] != kOrdinary) t->controlsOnly = false;
    return *t;
}

// The end of the run of ordinary bytes from p. When every special byte is a control
// character (below X'20'), eight bytes are tested at a time.
const uint8_t* ordinaryRun(const TextTables& t, const uint8_t* p, const uint8_t* end) {
    if (t.controlsOnly) {
        constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
        while (end - p >= 8) {
            uint64_t x;
            std::memcpy(&x, p, 8);
            // Nonzero when a byte of x is below X'20' (or has its high bit set, which the
            // byte-wise test below sorts out).
            if (((x - kOnes * 0x20) | x) & kHighs) break;
            p += 8;
        }
    }
    while (p < end && t.cls[*p] == kOrdinary) ++p;
    return p;
}

// Translates n bytes through a table, eight at a time.
void translate(const uint8_t* table, const uint8_t* in, uint8_t* out, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint8_t a = table[in[i]], b = table[in[i + 1]], c = table[in[i + 2]],
                      d = table[in[i + 3]];
        const uint8_t e = table[in[i + 4]], g = table[in[i + 5]], h = table[in[i + 6]],
                      k = table[in[i + 7]];
        out[i] = a, out[i + 1] = b, out[i + 2] = c, out[i + 3] = d;
        out[i + 4] = e, out[i + 5] = g, out[i + 6] = h, out[i + 7] = k;
    }
    for (; i < n; ++i) out[i] = table[in[i]];
}

// The length of the bytes without their trailing blanks, eight compared at a time.
uint32_t withoutTrailing(const uint8_t* p, uint32_t n, uint8_t blank) {
    uint64_t blanks;
    std::memset(&blanks, blank, 8);
    while (n >= 8) {
        uint64_t x;
        std::memcpy(&x, p + n - 8, 8);
        if (x != blanks) break;
        n -= 8;
    }
    while (n > 0 && p[n - 1] == blank) --n;
    return n;
}

// Makes at least one unread text byte available; false at the end of the input (or on an
// I/O error, with the status set).
bool fillText(RecordFile& f) {
    if (f.textPosition < f.textLength) return true;
    if (f.textBuffer == nullptr)
        f.textBuffer = static_cast<uint8_t*>(rt::allocZeroed(kTextPiece + 8));
    f.textPosition = 0;
    f.textLength = static_cast<uint32_t>(readStream(f, f.textBuffer, kTextPiece));
    return f.textLength > 0;
}

// Whether the text byte at the read position is the last byte of the file.
bool atLastByte(RecordFile& f) {
    if (f.textPosition + 1 < f.textLength) return false;
    // Keep the byte and read the next piece behind it.
    f.textBuffer[0] = f.textBuffer[f.textPosition];
    f.textPosition = 0;
    f.textLength = 1 + static_cast<uint32_t>(readStream(f, f.textBuffer + 1, kTextPiece - 1));
    return f.textLength == 1;
}

// The limit of a text line in characters: LRECL for fixed and undefined formats, LRECL - 4
// for variable ones; without LRECL only the bound of a 32-bit length.
uint32_t lineLimit(const RecordFile& f) {
    if (f.lrecl == 0) return static_cast<uint32_t>(kMaxJoined);
    if (f.recfmCode == RECFM_CODE_VARIABLE || f.recfmCode == RECFM_CODE_VARIABLE_BLOCKED)
        return f.lrecl - 4;
    return f.lrecl;
}

// The line under construction: output bytes, characters counted, where the last non-blank
// character ended, and blanks beyond the limit that were dropped.
struct Line {
    uint32_t length = 0;     // output bytes
    uint64_t characters = 0; // characters taken, dropped ones included (tab stops count them)
    uint32_t kept = 0;       // characters kept
    uint32_t nonBlankEnd = 0;
    bool any = false; // the line has consumed input
};

enum class LineResult { Line, End, Failed };

int lineTooLong(RecordFile& f, uint32_t limit, const char* unit) {
    if (tracing(f)) {
        if (unit == nullptr)
            rt::printf("Error reading \"%s\": Text line %lu is longer than %u bytes\n", f.io.path,
                       ul(f.recordsRead + 1), limit);
        else
            rt::printf("Error reading \"%s\": Text line %lu is longer than %u %s\n", f.io.path,
                       ul(f.recordsRead + 1), limit, unit);
    }
    return formatError(f, REASON_RECORD_TOO_LONG);
}

// Appends one character (its output bytes) to the line in the record buffer at `base`,
// under the line limit. Returns false after a line that is too long.
bool appendCharacter(RecordFile& f, Line& line, uint32_t base, const uint8_t* bytes, uint32_t n,
                     bool blank, uint32_t limit, const char* unit) {
    ++line.characters;
    if (limit != 0 && line.kept >= limit) {
        if ((f.flags & RECORD_TRUNCATE) || (blank && (f.flags & RECORD_TRIM))) return true;
        lineTooLong(f, limit, unit);
        return false;
    }
    uint8_t* out = recordSpace(f, uint64_t(base) + line.length + n + 8) + base + line.length;
    std::memcpy(out, bytes, n);
    line.length += n;
    ++line.kept;
    if (!blank) line.nonBlankEnd = line.length;
    return true;
}

// Reads the next text line of byte input (no character set, or a single-byte one) into the
// record buffer at `base`, translated.
LineResult byteLine(RecordFile& f, Line& line, uint32_t base) {
    TextTables& t = textTables(f);
    const uint32_t limit = lineLimit(f);
    const char* unit = f.charset != nullptr ? "bytes" : nullptr;
    // The second byte of a line-end pair (CR LF, LF CR) belongs to the line end before it.
    if (f.pendingLineEnd != 0) {
        if (!fillText(f)) return f.status == IO_OK ? LineResult::End : LineResult::Failed;
        const uint8_t b = f.textBuffer[f.textPosition];
        if (t.cls[b] == kLineEnd && b != f.pendingLineEnd) ++f.textPosition;
        f.pendingLineEnd = 0;
    }
    f.recordOffset = logicalPosition(f);
    for (;;) {
        if (!fillText(f)) {
            if (f.status != IO_OK) return LineResult::Failed;
            return line.any ? LineResult::Line : LineResult::End;
        }
        // A run of ordinary bytes, as long as the line limit allows, in one go.
        const uint8_t* p = f.textBuffer + f.textPosition;
        const uint8_t* end = f.textBuffer + f.textLength;
        const uint8_t* q = ordinaryRun(t, p, end);
        if (q > p) {
            line.any = true;
            uint32_t n = static_cast<uint32_t>(q - p);
            uint32_t room = n;
            if (limit != 0) room = line.kept >= limit ? 0 : std::min(n, limit - line.kept);
            uint8_t* out =
                recordSpace(f, uint64_t(base) + line.length + room + 8) + base + line.length;
            translate(t.out, p, out, room);
            const uint32_t kept = withoutTrailing(p, room, t.blank);
            if (kept > 0) line.nonBlankEnd = line.length + kept;
            line.length += room;
            line.kept += room;
            line.characters += room;
            f.textPosition += room;
            // Beyond the limit: dropped when truncating, or when they are blanks to be trimmed.
            for (uint32_t i = room; i < n; ++i) {
                const uint8_t b = p[i];
                if (!appendCharacter(f, line, base, &t.out[b], 1, b == t.blank, limit, unit))
                    return LineResult::Failed;
                ++f.textPosition;
            }
            continue;
        }
        const uint8_t b = *p;
        switch (t.cls[b]) {
        case kLineEnd:
            ++f.textPosition;
            f.pendingLineEnd = b;
            return LineResult::Line;
        case kTab: {
            ++f.textPosition;
            line.any = true;
            const unsigned stop = f.tabOption == 4 ? 4 : 8;
            const uint64_t blanks = stop - line.characters % stop;
            for (uint64_t i = 0; i < blanks; ++i)
                if (!appendCharacter(f, line, base, &t.outBlank, 1, true, limit, unit))
                    return LineResult::Failed;
            break;
        }
        case kEndMark:
            if (atLastByte(f)) {
                ++f.textPosition;
                return line.any ? LineResult::Line : LineResult::End;
            }
            if (f.status != IO_OK) return LineResult::Failed;
            line.any = true;
            if (!appendCharacter(f, line, base, &t.out[b], 1, false, limit, unit))
                return LineResult::Failed;
            ++f.textPosition;
            break;
        default: // invalid in the character set
            if (tracing(f))
                rt::printf(
                    "Error reading \"%s\": Invalid %s character X'%.2X' in line %lu at +%" PRId64
                    "\n",
                    f.io.path, f.charset->name, b, ul(f.recordsRead + 1), logicalPosition(f));
            formatError(f, REASON_INVALID_CHARACTER);
            return LineResult::Failed;
        }
    }
}

// Takes the next raw byte of text; false at the end of the input.
bool nextTextByte(RecordFile& f, uint8_t* b) {
    if (!fillText(f)) return false;
    *b = f.textBuffer[f.textPosition++];
    return true;
}

// Decodes the next character of a Unicode encoding form. Returns 1 with *cp, 0 at the end of
// the input, -1 after an error (the status set).
int nextCodePoint(RecordFile& f, uint32_t* cp) {
    const Charset* cs = f.charset;
    const int64_t at = logicalPosition(f);
    uint8_t b[4];
    auto shortCharacter = [&]() {
        if (f.status != IO_OK) return -1;
        if (tracing(f))
            rt::printf(
                "Error reading \"%s\": Short %s character encountered while reading line %lu\n",
                f.io.path, cs->name, ul(f.recordsRead + 1));
        formatError(f, REASON_EOF_IN_CHARACTER);
        return -1;
    };
    auto invalid = [&](int n) {
        if (tracing(f)) {
            switch (n) {
            case 1:
                rt::printf(
                    "Error reading \"%s\": Invalid %s character X'%.2X' in line %lu at +%" PRId64
                    "\n",
                    f.io.path, cs->name, b[0], ul(f.recordsRead + 1), at);
                break;
            case 2:
                rt::printf("Error reading \"%s\": Invalid %s character X'%.2X%.2X' in line %lu at "
                           "+%" PRId64 "\n",
                           f.io.path, cs->name, b[0], b[1], ul(f.recordsRead + 1), at);
                break;
            case 3:
                rt::printf("Error reading \"%s\": Invalid %s character X'%.2X%.2X%.2X' in line %lu "
                           "at +%" PRId64 "\n",
                           f.io.path, cs->name, b[0], b[1], b[2], ul(f.recordsRead + 1), at);
                break;
            default:
                rt::printf("Error reading \"%s\": Invalid %s character X'%.2X%.2X%.2X%.2X' in line "
                           "%lu at +%" PRId64 "\n",
                           f.io.path, cs->name, b[0], b[1], b[2], b[3], ul(f.recordsRead + 1), at);
                break;
            }
        }
        formatError(f, REASON_INVALID_CHARACTER);
        return -1;
    };
    if (!nextTextByte(f, &b[0])) return f.status == IO_OK ? 0 : -1;
    if (cs->flags & CODEXA_UTF8) {
        if (b[0] < 0x80) {
            *cp = b[0];
            return 1;
        }
        int n;
        uint32_t v, min;
        if (b[0] >= 0xC2 && b[0] <= 0xDF)
            n = 2, v = b[0] & 0x1F, min = 0x80;
        else if (b[0] >= 0xE0 && b[0] <= 0xEF)
            n = 3, v = b[0] & 0x0F, min = 0x800;
        else if (b[0] >= 0xF0 && b[0] <= 0xF4)
            n = 4, v = b[0] & 0x07, min = 0x10000;
        else
            return invalid(1);
        for (int i = 1; i < n; ++i) {
            if (!nextTextByte(f, &b[i])) return shortCharacter();
            if ((b[i] & 0xC0) != 0x80) return invalid(i + 1);
            v = (v << 6) | (b[i] & 0x3F);
        }
        if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return invalid(n);
        *cp = v;
        return 1;
    }
    const bool little = (cs->flags & CODEXA_LITTLE_ENDIAN) != 0;
    if (cs->flags & CODEXA_UNIT16) {
        if (!nextTextByte(f, &b[1])) return shortCharacter();
        const uint32_t unit = little ? (b[1] << 8 | b[0]) : (b[0] << 8 | b[1]);
        if (unit >= 0xDC00 && unit <= 0xDFFF) return invalid(2);
        if (unit < 0xD800 || unit > 0xDBFF) {
            *cp = unit;
            return 1;
        }
        if (!nextTextByte(f, &b[2]) || !nextTextByte(f, &b[3])) return shortCharacter();
        const uint32_t low = little ? (b[3] << 8 | b[2]) : (b[2] << 8 | b[3]);
        if (low < 0xDC00 || low > 0xDFFF) return invalid(4);
        *cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        return 1;
    }
    for (int i = 1; i < 4; ++i)
        if (!nextTextByte(f, &b[i])) return shortCharacter();
    const uint32_t v =
        little ? (uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[1]) << 8 | b[0])
               : (uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]);
    if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return invalid(4);
    *cp = v;
    return 1;
}

// The output bytes of a code point: EBCDIC in record mode (code points up to U+00FF through
// the ASCII-to-EBCDIC table of the Latin-1 workstation page, others the EBCDIC substitute
// X'3F'), UTF-8 for untranslated lines.
uint32_t encodeCodePoint(const RecordFile& f, uint32_t cp, uint8_t* out) {
    if (translates(f)) {
        out[0] = cp <= 0xFF ? rt::asciiToEbcdic()[cp] : 0x3F;
        return 1;
    }
    if (cp < 0x80) {
        out[0] = static_cast<uint8_t>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<uint8_t>(0xC0 | cp >> 6);
        out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<uint8_t>(0xE0 | cp >> 12);
        out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<uint8_t>(0xF0 | cp >> 18);
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

// Reads the next text line of a Unicode encoding form, character by character.
LineResult unicodeLine(RecordFile& f, Line& line, uint32_t base) {
    const Charset* cs = f.charset;
    const uint32_t limit = lineLimit(f);
    const uint32_t cr = cs->cr, lf = cs->lf, nl = cs->nl ? cs->nl : cs->lf, ht = cs->ht;
    auto isLineEnd = [&](uint32_t cp) { return cp == cr || cp == lf || cp == nl; };
    uint32_t cp = 0;
    bool have = false; // cp holds a character read ahead
    f.recordOffset = logicalPosition(f);
    if (f.pendingLineEnd != 0) {
        // The character after a line end either completes a line-end pair or starts the line.
        const uint32_t pending = f.pendingLineEnd;
        f.pendingLineEnd = 0;
        const int r = nextCodePoint(f, &cp);
        if (r < 0) return LineResult::Failed;
        if (r == 0) return LineResult::End;
        if (isLineEnd(cp) && cp != pending)
            f.recordOffset = logicalPosition(f);
        else
            have = true;
    }
    for (;; have = false) {
        if (!have) {
            const int r = nextCodePoint(f, &cp);
            if (r < 0) return LineResult::Failed;
            if (r == 0) return line.any ? LineResult::Line : LineResult::End;
        }
        line.any = true;
        if (isLineEnd(cp)) {
            f.pendingLineEnd = static_cast<uint8_t>(cp);
            return LineResult::Line;
        }
        uint8_t out[4];
        if (cp == ht && f.tabOption != 0) {
            const unsigned stop = f.tabOption == 4 ? 4 : 8;
            const uint64_t blanks = stop - line.characters % stop;
            const uint32_t n = encodeCodePoint(f, 0x20, out);
            for (uint64_t i = 0; i < blanks; ++i)
                if (!appendCharacter(f, line, base, out, n, true, limit, "characters"))
                    return LineResult::Failed;
            continue;
        }
        const uint32_t n = encodeCodePoint(f, cp, out);
        if (!appendCharacter(f, line, base, out, n, cp == 0x20, limit, "characters"))
            return LineResult::Failed;
    }
}

// The next text line into the record buffer at `base`: trimmed, translated and padded as the
// record format wants (descriptors are added by the caller). Counts the record.
LineResult textLine(RecordFile& f, uint32_t base, uint32_t* length) {
    Line line;
    const bool unicode = f.charset != nullptr && f.charset->kind == CODEXA_KIND_UNICODE;
    const LineResult r = unicode ? unicodeLine(f, line, base) : byteLine(f, line, base);
    if (r != LineResult::Line) return r;
    uint32_t n = (f.flags & RECORD_TRIM) ? line.nonBlankEnd : line.length;
    const uint8_t blank =
        unicode ? (translates(f) ? rt::asciiToEbcdic()[0x20] : 0x20) : textTables(f).outBlank;
    uint32_t padded = n;
    if (f.recfmCode == RECFM_CODE_FIXED || f.recfmCode == RECFM_CODE_FIXED_UNBLOCKED) {
        if (f.lrecl > n) padded = f.lrecl;
    } else if (f.recfmCode == RECFM_CODE_UNDEFINED && n == 0) {
        padded = 1;
    }
    uint8_t* out = recordSpace(f, uint64_t(base) + padded + 8) + base;
    std::memset(out + n, blank, padded - n);
    *length = padded;
    ++f.recordsRead;
    return r;
}

int readTextRecord(RecordFile& f) {
    const uint32_t prefix = isStripped(f)                        ? 0
                            : f.recfmCode == RECFM_CODE_PREFIXED ? 2
                            : f.recfmCode >= RECFM_CODE_VARIABLE ? 4
                                                                 : 0;
    uint32_t length = 0;
    const LineResult r = textLine(f, prefix, &length);
    if (r == LineResult::Failed) return f.status;
    if (r == LineResult::End) return endOfFile(f, false);
    --f.recordsRead; // counted by the caller
    uint8_t* out = f.recordBuffer;
    if (prefix == 2) put16(out, length + 2);
    if (prefix == 4) {
        put16(out, length + 4);
        out[2] = out[3] = 0;
    }
    f.record = out;
    f.recordLength = prefix + length;
    return f.status;
}

// A block made of text lines: F packs whole records up to BLKSIZE, VB packs lines behind RDWs
// under a BDW, the others hold one line each. Every block holds at least one record.
int readTextBlock(RecordFile& f) {
    const int code = f.recfmCode;
    const bool variable = code == RECFM_CODE_VARIABLE || code == RECFM_CODE_VARIABLE_BLOCKED;
    if (code == RECFM_CODE_VARIABLE_BLOCKED && f.blksize == 0)
        return attributeError(f, REASON_BLKSIZE);
    uint32_t used = variable ? 4 : 0;
    uint32_t records = 0;
    int64_t first = -1;
    for (;;) {
        uint32_t length;
        if (f.heldLine) {
            length = f.heldLength;
            f.heldLine = 0;
        } else {
            const LineResult r = textLine(f, 0, &length);
            if (r == LineResult::Failed) return f.status;
            if (r == LineResult::End) break;
        }
        const uint32_t unit = length + (variable ? 4 : 0);
        if (records > 0 && (code == RECFM_CODE_VARIABLE_BLOCKED || code == RECFM_CODE_FIXED) &&
            uint64_t(used) + unit > f.blksize) {
            // Does not fit: it starts the next block.
            f.heldLine = 1;
            f.heldLength = length;
            break;
        }
        if (first < 0) first = f.recordOffset;
        uint8_t* out = blockSpace(f, uint64_t(used) + unit) + used;
        if (variable) {
            put16(out, unit);
            out[2] = out[3] = 0;
            out += 4;
        }
        std::memcpy(out, f.recordBuffer, length);
        used += unit;
        ++records;
        if (code != RECFM_CODE_VARIABLE_BLOCKED && code != RECFM_CODE_FIXED) break;
        if (code == RECFM_CODE_FIXED && f.lrecl != 0 && uint64_t(used) + f.lrecl > f.blksize) break;
    }
    if (records == 0) return endOfFile(f, true);
    if (variable) {
        put16(f.blockBuffer, used);
        f.blockBuffer[2] = f.blockBuffer[3] = 0;
    }
    f.record = f.blockBuffer;
    f.recordLength = used;
    f.recordOffset = first;
    return f.status;
}

// ---- stored blocks --------------------------------------------------------------------------

int readStoredBlock(RecordFile& f) {
    switch (f.recfmCode) {
    case RECFM_CODE_FIXED_UNBLOCKED:
    case RECFM_CODE_FIXED: {
        const int64_t at = logicalPosition(f);
        uint8_t* out = blockSpace(f, f.blksize);
        const size_t got = readStream(f, out, f.blksize);
        if (f.status != IO_OK) return f.status;
        if (got == 0) return endOfFile(f, true);
        if (got < f.blksize && f.recfmCode == RECFM_CODE_FIXED && got % f.lrecl != 0) {
            if (tracing(f))
                rt::printf("Error reading \"%s\": Short fixed length block of %u out of %u bytes "
                           "at +%" PRId64 " while reading block %lu\n",
                           f.io.path, static_cast<unsigned>(got), f.blksize, at,
                           ul(f.blocksRead + 1));
            return formatError(f, REASON_EOF_IN_BLOCK);
        }
        f.recordsRead += static_cast<uint32_t>(f.lrecl ? got / f.lrecl : 0);
        f.record = out;
        f.recordLength = static_cast<uint32_t>(got);
        f.recordOffset = at;
        return f.status;
    }
    case RECFM_CODE_UNDEFINED:
    case RECFM_CODE_PREFIXED: {
        // A block of undefined format is its record, without the length in front of it.
        const uint32_t saved = f.flags;
        f.flags |= RECORD_STRIPPED;
        const int st = readPrefixedRecord(f, true);
        f.flags = saved;
        if (st == IO_OK) ++f.recordsRead;
        return f.status;
    }
    case RECFM_CODE_VARIABLE: {
        // One record (or segment) per block: BDW, RDW, data.
        uint8_t rdw[4];
        uint32_t data = 0;
        bool eof;
        int64_t at;
        if (readVariableUnit(f, 4, true, rdw, &data, &eof, &at) != IO_OK) return f.status;
        if (eof) return endOfFile(f, true);
        put16(f.recordBuffer, data + 8);
        f.recordBuffer[2] = f.recordBuffer[3] = 0;
        ++f.recordsRead;
        f.record = f.recordBuffer;
        f.recordLength = data + 8;
        f.recordOffset = at;
        return f.status;
    }
    default: {
        bool eof;
        if (readVariableBlock(f, true, &eof) != IO_OK) return f.status;
        if (eof) return endOfFile(f, true);
        --f.blocksRead; // counted by the caller
        // Every record descriptor of the block must describe a record inside it.
        for (uint32_t at = 4; at < f.blockLength;) {
            const uint8_t* d = f.blockBuffer + at;
            const uint32_t left = f.blockLength - at;
            const uint32_t length = left >= 4 ? be16(d) : 0;
            int reason = 0;
            if (left < 4 || length < 4 || length > left)
                reason = REASON_RDW;
            else if (!isSpanned(f) && f.lrecl != 0 && length > f.lrecl)
                reason = REASON_RECORD_TOO_LONG;
            if (reason != 0) {
                uint8_t shown[4] = {0, 0, 0, 0};
                std::memcpy(shown, d, left < 4 ? left : 4);
                if (tracing(f))
                    rt::printf("Error reading \"%s\": Invalid RDW X'%.2X%.2X%.2X%.2X' of record "
                               "%lu in block %lu read "
                               "at +%" PRId64 ", BLKSIZE=%u LRECL=%u reason: %s\n",
                               f.io.path, shown[0], shown[1], shown[2], shown[3],
                               ul(f.recordsRead + 1), ul(f.blocksRead + 1), f.blockOffset + at,
                               f.blksize, f.lrecl, reasonText(reason));
                return formatError(f, reason);
            }
            ++f.recordsRead;
            at += length;
        }
        f.blockUsed = f.blockLength; // the records of this block are not read one by one
        f.record = f.blockBuffer;
        f.recordLength = f.blockLength;
        f.recordOffset = f.blockOffset;
        return f.status;
    }
    }
}

} // namespace

const char* reasonText(int reason) {
    static const char* const kTexts[] = {"",
                                         "Invalid RECFM",
                                         "Invalid block size",
                                         "Invalid LRECL",
                                         "Record is too long",
                                         "Block is too long",
                                         "Invalid RDW",
                                         "Invalid BDW",
                                         "Invalid SDW",
                                         "End of file in RDW",
                                         "End of file in BDW",
                                         "End of file in record",
                                         "End of file in block",
                                         "End of file in spanned record",
                                         "End of file in MBCS character",
                                         "Invalid character"};
    return reason >= 1 && reason <= 15 ? kTexts[reason] : "";
}

int openRecordFile(RecordFile& f) {
    f.io.mode = IO_READ;
    f.io.binary = 1; // always binary: line ends and a final Ctrl-Z are the reader's own business
    f.io.traceLevel = rt::traceLevel();
    if (rt::ioOpen(f.io) != IO_OK) {
        f.status = IO_ERROR;
        f.io.errnum = f.io.errnum != 0 ? f.io.errnum : EIO;
        return f.status;
    }
    // A larger buffer than the standard one: records are read a few bytes at a time.
    f.streamBuffer = static_cast<uint8_t*>(rt::allocZeroed(kStreamBuffer));
    std::setvbuf(f.io.stream, reinterpret_cast<char*>(f.streamBuffer), _IOFBF, kStreamBuffer);
    f.status = IO_OK;
    return f.status;
}

int closeRecordFile(RecordFile& f) {
    int st = IO_OK;
    if (f.io.stream != nullptr) st = rt::ioClose(f.io, false);
    rt::release(f.recordBuffer);
    rt::release(f.blockBuffer);
    rt::release(f.textBuffer);
    rt::release(f.tables);
    rt::release(f.streamBuffer); // after the stream is closed
    f.recordBuffer = f.blockBuffer = f.textBuffer = f.tables = f.streamBuffer = nullptr;
    f.recordCapacity = f.blockCapacity = 0;
    f.record = nullptr;
    return st;
}

int seekRecordFile(RecordFile& f, int64_t offset, int origin) {
    if (f.io.stream == nullptr) return f.status;
    if (rt::ioSeek(f.io, offset, origin) != IO_OK) {
        f.status = IO_ERROR;
        return f.status;
    }
    f.flags &= ~static_cast<uint32_t>(RECORD_END_OF_INPUT);
    f.lookaheadLength = 0;
    f.textLength = f.textPosition = 0;
    f.blockLength = f.blockUsed = 0;
    f.pendingLineEnd = 0;
    f.heldLine = 0;
    f.streamPosition = f.io.position;
    if (f.status == IO_EOF) f.status = IO_OK;
    return f.status;
}

int readRecord(RecordFile& f) {
    if (f.status != IO_OK) return f.status;
    if (checkAttributes(f) != IO_OK) return f.status;
    int st;
    if (f.mode == RECORD_MODE_XMIT)
        st = readXmitRecord(f);
    else if (isText(f))
        st = readTextRecord(f);
    else {
        switch (f.recfmCode) {
        case RECFM_CODE_FIXED_UNBLOCKED:
        case RECFM_CODE_FIXED:
            st = readFixedRecord(f);
            break;
        case RECFM_CODE_UNDEFINED:
        case RECFM_CODE_PREFIXED:
            st = readPrefixedRecord(f);
            break;
        case RECFM_CODE_VARIABLE:
            st = isSpanned(f) ? readSpannedRecord(f) : readVariableRecord(f);
            break;
        default:
            st = isSpanned(f) ? readSpannedRecord(f) : readBlockedVariableRecord(f);
            break;
        }
    }
    if (st != IO_OK) {
        if (st == IO_ERROR && tracingCalls(f))
            rt::printf("%s: ERROR: %s at +%" PRId64 " after reading record %lu\n", f.io.path,
                       std::strerror(f.io.errnum), f.streamPosition, ul(f.recordsRead));
        return st;
    }
    ++f.recordsRead;
    traceRecord(f, false, f.recordsRead);
    return f.status;
}

int readBlock(RecordFile& f) {
    if (f.status != IO_OK) return f.status;
    if (checkAttributes(f) != IO_OK) return f.status;
    // Transmit segments have no blocks of their own: a block is a logical record.
    const int st = f.mode == RECORD_MODE_XMIT ? readXmitRecord(f)
                   : isText(f)                ? readTextBlock(f)
                                              : readStoredBlock(f);
    if (st != IO_OK) {
        if (st == IO_ERROR && tracingCalls(f))
            rt::printf("%s: ERROR: %s at +%" PRId64 " after reading block %lu\n", f.io.path,
                       std::strerror(f.io.errnum), f.streamPosition, ul(f.blocksRead));
        return st;
    }
    ++f.blocksRead;
    traceRecord(f, true, f.blocksRead);
    return f.status;
}

} // namespace bren
