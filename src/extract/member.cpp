// Member data of an unloaded partitioned data set, record by record. Each transmit record of
// member data holds data blocks, each behind the 12-byte count field it had on the volume; a
// count field of data length 0 ends a member. Records are cut from the blocks by the data
// set's record format: fixed (LRECL bytes), undefined (the whole block) or variable (behind a
// block descriptor, each record behind its own descriptor, spanned records in segments).
#include <cstring>

#include "opxcore.h"
#include "pdse.h"
#include "reader.h"
#include "runtime.h"
#include "unload_format.h"
#include "xmit_format.h"

using namespace unload;
using xmit::be16;

namespace opx {

namespace {

enum class Format { Fixed, Variable, Undefined };

Format formatOf(const XmitDataSet* ds) {
    switch (ds->recfmLetters[0]) {
    case 'F':
        return Format::Fixed;
    case 'V':
        return Format::Variable;
    default:
        return Format::Undefined;
    }
}

bool isSpanned(const XmitDataSet* ds) {
    return ds->recfmLetters[0] == 'V' && std::strchr(ds->recfmLetters, 'S');
}

// What a checked count field introduces: member data, the member's end, or a block without
// member data. A PDSE unload marks its blocks with flags of its own.
enum class Block { Data, MemberEnd, PassOver };

Block blockKind(const XmitDataSet* ds, const uint8_t* cf) {
    if (ds->kind == XMIT_KIND_PDSE) {
        switch (pdse::classify(cf)) {
        case pdse::Block::Data:
            return Block::Data;
        case pdse::Block::MemberEnd:
            return Block::MemberEnd;
        default:
            return Block::PassOver;
        }
    }
    if (be16(cf + kCfDataLength) == 0) return Block::MemberEnd;
    return cf[kCfFlag] == kBlockNoData ? Block::PassOver : Block::Data;
}

// Whether a count field's flag byte is one that the data set's unload may carry.
bool validFlag(const XmitDataSet* ds, const uint8_t* cf) {
    if (ds->kind == XMIT_KIND_PDSE) return pdse::classify(cf) != pdse::Block::Invalid;
    return cf[kCfFlag] == kBlockOrdinary || cf[kCfFlag] == kBlockNoData;
}

int memberError(XmitHandle* h, MemberCursor* c, const char* message) {
    h->message = message;
    c->state = MEMBER_ERROR;
    return MEMBER_ERROR;
}

// Makes the next count field available at the cursor's position, reading the next transmit
// record when the current one is used up, and checks it. Returns it, or null with the error
// set.
const uint8_t* countField(XmitHandle* h, XmitDataSet* ds, MemberCursor* c) {
    if (c->position >= h->recordLength) {
        if (readRecord(h) != IO_OK) {
            c->state = MEMBER_ERROR;
            return nullptr;
        }
        if (isControl(h)) {
            memberError(h, c, "TSO TRANSMIT control record encountered before member end-of-file");
            return nullptr;
        }
        c->position = 0;
        c->blockEnd = 0;
    }
    const uint8_t* cf = h->record + c->position;
    const uint32_t left = h->recordLength - c->position;
    if (left < kCountField || !validFlag(ds, cf) ||
        (cf[kCfFlag] == kBlockOrdinary && cf[kCfExtent] >= ds->extentCount) ||
        cf[kCfKeyLength] != 0) {
        memberError(h, c, "Invalid member data control field");
        return nullptr;
    }
    if (left - kCountField < be16(cf + kCfDataLength)) {
        memberError(h, c, "Invalid member data CKD field");
        return nullptr;
    }
    return cf;
}

// Moves to the next block that carries member data. Returns MEMBER_RECORD with the cursor at
// the block's first record, MEMBER_END when the member's end marker was consumed, or
// MEMBER_ERROR. With `checkFormat` false (skipping) the block descriptor is not looked at.
int nextBlock(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, bool checkFormat) {
    for (;;) {
        const uint8_t* cf = countField(h, ds, c);
        if (cf == nullptr) return MEMBER_ERROR;
        const uint32_t dataLength = be16(cf + kCfDataLength);
        const Block kind = blockKind(ds, cf);
        const uint32_t start = c->position + kCountField;
        c->position = start + dataLength;
        c->blockEnd = c->position;
        if (kind == Block::MemberEnd) return MEMBER_END;
        if (kind == Block::PassOver) continue;
        c->blockTtr = relativeTtr(ds, cf);
        c->position = start;
        if (checkFormat && formatOf(ds) == Format::Variable) {
            // A block descriptor and at least one record descriptor (an empty record).
            if (dataLength < 8) return memberError(h, c, "Invalid member data record length");
            if (be16(h->record + start) != dataLength)
                return memberError(h, c, "Invalid member data BDW");
            c->position += 4;
        }
        return MEMBER_RECORD;
    }
}

// The next record descriptor of a variable block: its length (at least 4, within the block,
// not above LRECL) and segment code. Returns false with the error set.
bool descriptor(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, uint32_t& length, uint8_t& code) {
    if (c->blockEnd - c->position < 4) return memberError(h, c, "Invalid member data RDW"), false;
    const uint8_t* d = h->record + c->position;
    length = be16(d);
    code = d[2];
    if (length < 4 || length > c->blockEnd - c->position ||
        (ds->lrecl > 0 && length > static_cast<uint32_t>(ds->lrecl)))
        return memberError(h, c, "Invalid member data RDW"), false;
    return true;
}

// Completes a spanned record whose first segment is at the cursor.
int assembleSpanned(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, uint32_t length) {
    uint32_t have = 0;
    auto append = [&](uint32_t segmentLength) {
        const uint32_t data = segmentLength - 4;
        if (data > c->assemblyCapacity - have) return false;
        std::memcpy(c->assembly + have, h->record + c->position + 4, data);
        have += data;
        c->position += segmentLength;
        return true;
    };
    if (!append(length)) return memberError(h, c, "Invalid member data record length");
    for (;;) {
        if (c->position >= c->blockEnd) {
            const int r = nextBlock(h, ds, c, true);
            if (r == MEMBER_END) return memberError(h, c, "EOF in segmented member data");
            if (r != MEMBER_RECORD) return r;
        }
        uint8_t code;
        if (!descriptor(h, ds, c, length, code)) return MEMBER_ERROR;
        // Segments after the first are middle ones (3) or the last one (2).
        if (code != 2 && code != 3) return memberError(h, c, "Invalid member data SDW");
        if (!append(length)) return memberError(h, c, "Invalid member data record length");
        if (code == 2) break;
    }
    c->record = c->assembly;
    c->recordLength = have;
    c->state = MEMBER_RECORD;
    return MEMBER_RECORD;
}

} // namespace

bool startMembers(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, uint8_t* assembly,
                  uint32_t capacity) {
    *c = MemberCursor{};
    c->assembly = assembly;
    c->assemblyCapacity = assembly != nullptr ? capacity : 0;
    if (ds->dataPosition == 0 && !readDirectory(h, ds)) {
        c->state = MEMBER_ERROR;
        return false;
    }
    if (seek(h, ds->dataPosition) != IO_OK) {
        c->state = MEMBER_ERROR;
        return false;
    }
    h->recordLength = 0; // nothing of the member data has been read yet
    return true;
}

int readMemberRecord(XmitHandle* h, XmitDataSet* ds, MemberCursor* c) {
    if (c->position >= c->blockEnd) {
        const int r = nextBlock(h, ds, c, true);
        if (r != MEMBER_RECORD) {
            c->state = r;
            c->recordLength = 0;
            return r;
        }
    }
    uint8_t* at = h->record + c->position;
    const uint32_t left = c->blockEnd - c->position;
    switch (formatOf(ds)) {
    case Format::Fixed: {
        if (ds->lrecl <= 0 || static_cast<uint32_t>(ds->lrecl) > left)
            return memberError(h, c, "Invalid member data record length");
        c->record = at;
        c->recordLength = static_cast<uint32_t>(ds->lrecl);
        break;
    }
    case Format::Undefined:
        if (ds->blksize > 0 && left > static_cast<uint32_t>(ds->blksize))
            return memberError(h, c, "Invalid member data record length");
        c->record = at;
        c->recordLength = left;
        break;
    case Format::Variable: {
        uint32_t length;
        uint8_t code;
        if (!descriptor(h, ds, c, length, code)) return MEMBER_ERROR;
        if (isSpanned(ds) && c->assembly != nullptr) {
            if (code == 1) return assembleSpanned(h, ds, c, length);
            if (code != 0) return memberError(h, c, "Invalid member data SDW");
        }
        c->record = at + 4;
        c->recordLength = length - 4;
        c->position += length;
        c->state = MEMBER_RECORD;
        return MEMBER_RECORD;
    }
    }
    c->position += c->recordLength;
    c->state = MEMBER_RECORD;
    return MEMBER_RECORD;
}

int skipToMemberEnd(XmitHandle* h, XmitDataSet* ds, MemberCursor* c) {
    c->position = c->blockEnd > c->position ? c->blockEnd : c->position;
    for (;;) {
        const int r = nextBlock(h, ds, c, false);
        if (r != MEMBER_RECORD) {
            c->state = r;
            return r;
        }
        c->position = c->blockEnd;
    }
}

int peekMemberStart(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, uint32_t* ttr) {
    for (;;) {
        if (c->position >= h->recordLength) {
            if (readRecord(h) != IO_OK) {
                c->state = MEMBER_ERROR;
                return MEMBER_ERROR;
            }
            c->position = 0;
            c->blockEnd = 0;
            if (isControl(h)) {
                // Leave the control record unconsumed for the cursor: the members are done.
                c->position = h->recordLength;
                return MEMBER_END;
            }
        }
        // Blocks without member data between members (the attribute groups of a PDSE unload)
        // are passed over here, so that the end of the last one may be the end of the data.
        const uint8_t* cf = countField(h, ds, c);
        if (cf == nullptr) return MEMBER_ERROR;
        if (ds->kind != XMIT_KIND_PDSE || blockKind(ds, cf) != Block::PassOver)
            return peekBlockTtr(h, ds, c, ttr);
        c->position += kCountField + be16(cf + kCfDataLength);
        c->blockEnd = c->position;
    }
}

int peekBlockTtr(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, uint32_t* ttr) {
    if (c->position < c->blockEnd) {
        *ttr = c->blockTtr;
        return MEMBER_RECORD;
    }
    for (;;) {
        const uint8_t* cf = countField(h, ds, c);
        if (cf == nullptr) return MEMBER_ERROR;
        if (blockKind(ds, cf) == Block::PassOver) {
            c->position += kCountField + be16(cf + kCfDataLength);
            c->blockEnd = c->position;
            continue;
        }
        *ttr = relativeTtr(ds, cf);
        return MEMBER_RECORD;
    }
}

} // namespace opx
