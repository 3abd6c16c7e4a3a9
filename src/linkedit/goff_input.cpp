// GOFF input: the physical records of a GOFF object module assembled into logical records,
// their sequence and every field checked, and the symbols turned into the object-module image
// that object decks give, so that symbol resolution merges both kinds of module alike.
//
//    HDR
//    ESD  SD MAIN                       a section
//    ESD  ED B_TEXT  of MAIN  +0 len 1E99  its text class       -> SD MAIN in the image
//    ESD  ED B_PRV   of MAIN  (merge, noload)                   -> owns its pseudo registers
//    ESD  LD ENTRY2  in B_TEXT of MAIN  +0140                   -> LD ENTRY2
//    ESD  ER SUB1    of MAIN                                    -> ER SUB1
//    TXT  B_TEXT of MAIN +0000, 3360 bytes over 44 physical records
//    RLD  R=SUB1 P=B_TEXT of MAIN +1088, 4 bytes, not fetched   -> a V-type constant
//    END  entry B_TEXT of MAIN +0000
//
// Offsets of elements, labels, text and constants all count in the one address space in
// which the translator laid out its sections, as the addresses of an object deck do: an
// element's offset is the assembled origin of its section.
//
// A record in error is reported with the physical records of its logical record; the rest of
// the module is still read up to its END record, and then the whole module is discarded.
#include "goff_input.h"

#include <algorithm>
#include <cstring>

#include "goff_format.h"
#include "linkedit.h"
#include "resolution.h"

namespace vrl {

namespace {

using goff::be16;
using goff::be32;

constexpr const char* kInvalidRecord = "VRL160S Invalid GOFF record";
constexpr const char* kInvalidHdr = "VRL161S Invalid GOFF HDR record";
constexpr const char* kInvalidEsd = "VRL161S Invalid GOFF ESD record";
constexpr const char* kInvalidTxt = "VRL161S Invalid GOFF TXT record";
constexpr const char* kInvalidRld = "VRL161S Invalid GOFF RLD record";
constexpr const char* kInvalidLen = "VRL161S Invalid GOFF LEN record";
constexpr const char* kInvalidEnd = "VRL161S Invalid GOFF END record";
constexpr const char* kInvalidContinuation = "VRL162S Invalid GOFF continuation record";

// The message for a record that comes before the module's HDR record.
const char* outOfSequence(unsigned type) {
    switch (type) {
    case goff::kHdr:
        return "VRL163S GOFF HDR record is out of sequence";
    case goff::kEsd:
        return "VRL163S GOFF ESD record is out of sequence";
    case goff::kTxt:
        return "VRL163S GOFF TXT record is out of sequence";
    case goff::kRld:
        return "VRL163S GOFF RLD record is out of sequence";
    case goff::kLen:
        return "VRL163S GOFF LEN record is out of sequence";
    default:
        return "VRL163S GOFF END record is out of sequence";
    }
}

bool zero(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

bool validAmode(uint8_t amode) {
    return amode <= goff::kAmode64 || amode == goff::kAmodeMin;
}

bool ebcdicDigits(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b >= 0xF0 && b <= 0xF9; });
}

// "B_TEXT" in EBCDIC: the class whose elements are a section's text in an object deck.
const std::string& textClass() {
    static const std::string name = [] {
        const uint8_t b[] = {0xC2, 0x6D, 0xE3, 0xC5, 0xE7, 0xE3};
        return std::string(reinterpret_cast<const char*>(b), sizeof b);
    }();
    return name;
}

// The section flags of an object deck's ESD item for a GOFF AMODE, RMODE and read-only
// attribute.
uint8_t sectionFlags(uint8_t amode, uint8_t rmode, bool readOnly) {
    uint8_t f = 0;
    switch (amode) {
    case goff::kAmode24:
        f = 1;
        break;
    case goff::kAmode31:
        f = 2;
        break;
    case goff::kAmodeAny:
        f = 3;
        break;
    case goff::kAmode64:
        f = obj::kFlagAmode64;
        break;
    default:
        break;
    }
    if (rmode > goff::kRmode24) f |= obj::kFlagRmodeAny;
    if (readOnly) f |= obj::kFlagRsect;
    return f;
}

// The RLD flag byte of an object deck for a constant: its kind, length and sign.
uint8_t rldFlags(ConstantKind kind, unsigned length, bool negative) {
    uint8_t f = 0;
    unsigned encoded = length; // the length the flag byte states
    switch (kind) {
    case ConstantKind::kA:
        f = obj::kRldKindA;
        break;
    case ConstantKind::kV:
        f = obj::kRldKindV;
        break;
    case ConstantKind::kQ:
        f = obj::kRldKindQ;
        break;
    case ConstantKind::kCxd:
        f = obj::kRldKindCxd;
        break;
    case ConstantKind::kRelative:
        f = obj::kRldKindCxd;
        encoded = length + 3; // 2 bytes as 5, 4 bytes as 7
        break;
    }
    const unsigned code = encoded - 1;
    if (code >= 4) f |= obj::kRldLongBit;
    f |= static_cast<uint8_t>((code & 3) << 2);
    if (negative) f |= obj::kRldNegative;
    return f;
}

} // namespace

struct GoffReader::Symbol {
    uint8_t type = 0;
    uint32_t esdid = 0;
    Symbol* parent = nullptr;
    std::string name; // EBCDIC
    uint32_t offset = 0;
    uint64_t length = 0;
    bool deferred = false; // ED: the length comes from a LEN record
    uint8_t amode = 0, rmode = 0, alignment = 0, style = 0, binding = 0;
    bool loadable = true, common = false, readOnly = false, weak = false;
    uint32_t associated = 0;
    Symbol* association = nullptr; // bound after END
    EsdItem* item = nullptr;       // ED, SD: the section item; LD, PR, ER: its item
    uint64_t extent = 0;           // ED: the end of the text and constants received
    uint8_t idrFormat = 0;         // ED of identification data: the format of its items

    // The section (SD) this item belongs to.
    const Symbol* section() const {
        const Symbol* s = this;
        while (s->parent != nullptr) s = s->parent;
        return s;
    }
    // An element whose text is loaded with the module.
    bool textElement() const {
        return type == goff::kED && loadable && style == goff::kStyleByte &&
               binding == goff::kBindConcatenate;
    }
    uint64_t end() const { return uint64_t{offset} + length; }
};

GoffReader::GoffReader(ObjectModule& image) : image_(image) {}
GoffReader::~GoffReader() = default;

GoffReader::Symbol* GoffReader::find(uint32_t esdid) const {
    const auto it = symbols_.find(esdid);
    return it == symbols_.end() ? nullptr : it->second.get();
}

bool GoffReader::addItem(std::unique_ptr<EsdItem> item) {
    if (item->type != obj::kLD) {
        // The image numbers its items as an object deck does: 16 bits.
        if (nextEsdid_ == 0) return false;
        item->esdid = nextEsdid_++;
        image_.byEsdid[item->esdid] = item.get();
    }
    image_.items.push_back(std::move(item));
    image_.seenEsd = true;
    return true;
}

GoffReader::Step GoffReader::record(const uint8_t* r) {
    const unsigned type = goff::recordType(r);
    const unsigned state = goff::continuationState(r);
    const bool valid = r[0] == goff::kRecordId && r[goff::kVersion] == 0;
    if (skipping_) {
        // The rest of a logical record that grew too long.
        if (valid && type == type_ && (state & goff::kContinuation)) {
            skipping_ = (state & goff::kContinued) != 0;
            return {};
        }
        skipping_ = false;
    }
    if (open_) {
        if (!valid || type != type_ || !(state & goff::kContinuation)) {
            open_ = false;
            buffer_.clear();
            Step s;
            s.message = kInvalidContinuation;
            // A record that begins a logical record of its own is read as such.
            s.restart = valid && !(state & goff::kContinuation);
            return s;
        }
        // The limit holds as the records arrive: the buffer never grows past it.
        if (physical_ == goff::kMaxPhysicalRecords) {
            open_ = false;
            buffer_.clear();
            skipping_ = (state & goff::kContinued) != 0;
            return {kInvalidContinuation};
        }
        buffer_.insert(buffer_.end(), r + goff::kPrefixLength, r + goff::kRecordLength);
        ++physical_;
        if (state & goff::kContinued) return {};
        open_ = false;
    } else {
        if (!valid || (state & goff::kContinuation)) return {kInvalidRecord};
        type_ = type;
        buffer_.assign(r, r + goff::kRecordLength);
        physical_ = 1;
        if (state & goff::kContinued) {
            open_ = true;
            return {};
        }
    }
    Step s;
    s.message = logical();
    s.end = type_ == goff::kEnd;
    return s;
}

// One complete logical record in buffer_.
std::string GoffReader::logical() {
    ++logicalRecords_;
    switch (type_) {
    case goff::kHdr:
        if (headerSeen_) return outOfSequence(type_);
        headerSeen_ = true;
        return header();
    case goff::kEsd:
    case goff::kTxt:
    case goff::kRld:
    case goff::kLen:
    case goff::kEnd:
        break;
    default:
        return kInvalidRecord;
    }
    if (!headerSeen_) {
        if (type_ == goff::kEnd) image_.endRead = true;
        return outOfSequence(type_);
    }
    switch (type_) {
    case goff::kEsd:
        return esd();
    case goff::kTxt:
        return txt();
    case goff::kRld:
        return rld();
    case goff::kLen:
        return len();
    default:
        return end();
    }
}

std::string GoffReader::header() {
    // The header fits in one physical record; its content is the translator's.
    if (buffer_.size() > goff::kHdrMaxLength) return kInvalidHdr;
    return "";
}

std::string GoffReader::esd() {
    const uint8_t* b = buffer_.data();
    const size_t size = buffer_.size();
    if (size < goff::kEsdName) return kInvalidEsd;
    auto sym = std::make_unique<Symbol>();
    sym->type = b[goff::kEsdSymbolType];
    sym->esdid = be32(b + goff::kEsdId);
    const uint32_t parentId = be32(b + goff::kEsdParent);
    const uint32_t nameLength = be16(b + goff::kEsdNameLength);
    // The name lies in the record actually received.
    if (sym->type > goff::kER || sym->esdid == 0 || find(sym->esdid) != nullptr ||
        nameLength == 0 || nameLength > goff::kMaxNameLength || goff::kEsdName + nameLength > size)
        return kInvalidEsd;
    sym->name.assign(reinterpret_cast<const char*>(b + goff::kEsdName), nameLength);
    if (static_cast<uint8_t>(sym->name[0]) == obj::kEbcdicBlank &&
        (sym->type != goff::kSD || nameLength != 1))
        return kInvalidEsd;

    // The owner: none for a section, a section for an element or reference, an element for a
    // label; a part or pseudo register may have an element or none.
    if (parentId != 0) {
        sym->parent = find(parentId);
        if (sym->parent == nullptr) return kInvalidEsd;
    }
    const uint8_t parentType = sym->parent != nullptr ? sym->parent->type : 0xFF;
    switch (sym->type) {
    case goff::kSD:
        if (sym->parent != nullptr) return kInvalidEsd;
        break;
    case goff::kED:
    case goff::kER:
        if (parentType != goff::kSD) return kInvalidEsd;
        break;
    case goff::kLD:
        if (parentType != goff::kED) return kInvalidEsd;
        break;
    case goff::kPR:
        if (sym->parent != nullptr && parentType != goff::kED) return kInvalidEsd;
        break;
    default:
        break;
    }

    // Attributes.
    sym->amode = b[goff::kAttrAmode];
    sym->rmode = b[goff::kAttrRmode];
    sym->alignment = b[goff::kAttrAlignment] & 0x1F;
    sym->style = static_cast<uint8_t>(goff::textStyle(b));
    sym->binding = static_cast<uint8_t>(goff::bindingAlgorithm(b));
    const unsigned loading = (b[goff::kAttrLoading] & goff::kLoadingMask) >> 6;
    const unsigned strength = b[goff::kAttrStrength] & goff::kStrengthMask;
    const unsigned scope = b[goff::kAttrLoading] & goff::kScopeMask;
    const unsigned executable = b[goff::kAttrTasking] & 0x07;
    if (!validAmode(sym->amode) || sym->rmode > goff::kMaxRmode ||
        sym->alignment > goff::kMaxAlignment || sym->style > goff::kStyleUnstructured ||
        sym->binding > goff::kBindMerge || loading > 2 || strength > goff::kWeak || scope > 4 ||
        executable > 2)
        return kInvalidEsd;
    sym->loadable = loading != 2;
    sym->common = (b[goff::kAttrLoading] & goff::kCommonFlag) != 0;
    sym->readOnly = (b[goff::kAttrTasking] & goff::kReadOnly) != 0;
    sym->weak = strength == goff::kWeak;
    sym->associated = be32(b + goff::kEsdAssociated);

    // Offsets and lengths are 31-bit values whose sum stays below 2 GB; the sum is taken in 64
    // bits, so that two large values cannot wrap into a small one. An element's length may be
    // deferred to a LEN record.
    sym->offset = be32(b + goff::kEsdOffset);
    const uint32_t length = be32(b + goff::kEsdLength);
    sym->deferred = sym->type == goff::kED && length == goff::kDeferredLength;
    sym->length = sym->deferred ? 0 : length;
    if (sym->offset >= goff::kAddressLimit || sym->length >= goff::kAddressLimit ||
        sym->end() >= goff::kAddressLimit)
        return kInvalidEsd;

    // One name, one definition: sections, labels, and parts or pseudo registers each have
    // their own names; a label may bear the name of its own section.
    if (sym->type == goff::kSD || sym->type == goff::kLD || sym->type == goff::kPR) {
        const bool unnamed = sym->type == goff::kSD && nameLength == 1 &&
                             static_cast<uint8_t>(sym->name[0]) == obj::kEbcdicBlank;
        for (const Symbol* other : order_) {
            if (unnamed || other->type != sym->type || other->name != sym->name) continue;
            return kInvalidEsd;
        }
    }

    Symbol& s = *sym;
    symbols_[s.esdid] = std::move(sym);
    order_.push_back(&s);
    switch (s.type) {
    case goff::kED: {
        s.extent = s.offset;
        if (!s.textElement()) break;
        // A class of loadable text: a section of the image.
        Symbol* section = s.parent;
        const bool unnamed = section->name.size() == 1 &&
                             static_cast<uint8_t>(section->name[0]) == obj::kEbcdicBlank;
        const bool common = section->common || s.common;
        auto item = std::make_unique<EsdItem>();
        item->type = common ? obj::kCM : unnamed ? obj::kPC : obj::kSD;
        if (!unnamed) item->name = section->name;
        item->nameLength = static_cast<uint16_t>(std::min<size_t>(item->name.size(), 0xFFFF));
        item->address = common ? 0 : s.offset;
        item->length = static_cast<uint32_t>(s.length);
        item->lengthOpen = s.deferred;
        item->alignment = s.alignment;
        item->flags =
            sectionFlags(s.amode != 0 ? s.amode : section->amode,
                         s.rmode != 0 ? s.rmode : section->rmode, s.readOnly || section->readOnly);
        if (s.name != textClass()) item->className = s.name;
        s.item = item.get();
        // The section's own item is its B_TEXT element, else its first class of text.
        if (section->item == nullptr || s.name == textClass()) section->item = item.get();
        if (!addItem(std::move(item))) return kInvalidEsd;
        break;
    }
    case goff::kLD: {
        const Symbol* element = s.parent;
        // A label lies in its element (an element whose length is deferred reaches as far as
        // its text will).
        if (s.offset < element->offset || (!element->deferred && s.offset > element->end()))
            return kInvalidEsd;
        if (element->item == nullptr) break; // in a class that is not loaded: nothing to keep
        // The label that bears its section's name at the section's start says no more than the
        // section does.
        if (s.name == element->parent->name && s.offset == element->offset) break;
        auto item = std::make_unique<EsdItem>();
        item->type = obj::kLD;
        item->name = s.name;
        item->nameLength = static_cast<uint16_t>(std::min<size_t>(s.name.size(), 0xFFFF));
        item->address = s.offset;
        item->owner = element->item;
        item->flags = sectionFlags(s.amode, 0, false) & ~obj::kFlagRmodeAny;
        s.item = item.get();
        if (!addItem(std::move(item))) return kInvalidEsd;
        break;
    }
    case goff::kPR: {
        auto item = std::make_unique<EsdItem>();
        item->type = obj::kXD;
        item->name = s.name;
        item->nameLength = static_cast<uint16_t>(std::min<size_t>(s.name.size(), 0xFFFF));
        item->length = static_cast<uint32_t>(s.length);
        item->alignment = s.alignment;
        // The alignment as an object deck's XD item states it.
        item->flags = s.alignment <= kAlignQuad ? static_cast<uint8_t>((1u << s.alignment) - 1)
                                                : uint8_t{0x0F};
        s.item = item.get();
        if (!addItem(std::move(item))) return kInvalidEsd;
        break;
    }
    case goff::kER: {
        auto item = std::make_unique<EsdItem>();
        item->type = s.weak ? obj::kWX : obj::kER;
        item->name = s.name;
        item->nameLength = static_cast<uint16_t>(std::min<size_t>(s.name.size(), 0xFFFF));
        s.item = item.get();
        if (!addItem(std::move(item))) return kInvalidEsd;
        break;
    }
    default:
        break;
    }
    return "";
}

std::string GoffReader::txt() {
    const uint8_t* b = buffer_.data();
    const size_t size = buffer_.size();
    if (size < goff::kTxtData) return kInvalidTxt;
    const uint8_t style = b[goff::kTxtStyle];
    const uint32_t offset = be32(b + goff::kTxtOffset);
    const uint32_t n = be16(b + goff::kTxtDataLength);
    // The data lies in the record actually received.
    if (style > goff::kStyleStructured || !zero(b + goff::kTxtReserved, 4) ||
        offset >= goff::kAddressLimit || !zero(b + goff::kTxtTrueLength, 4) ||
        !zero(b + goff::kTxtEncoding, 2) || n == 0 || goff::kTxtData + n > size)
        return kInvalidTxt;
    Symbol* element = find(be32(b + goff::kTxtElement));
    // An element defined earlier, of the same text style, in a class that takes text (the
    // content of a merged class comes from its parts).
    if (element == nullptr || element->type != goff::kED || element->style != style ||
        element->binding == goff::kBindMerge)
        return kInvalidTxt;
    const uint8_t* data = b + goff::kTxtData;
    if (style == goff::kStyleStructured) return identification(*element, data, n);

    const uint64_t end = uint64_t{offset} + n;
    if (offset < element->offset || end >= goff::kAddressLimit ||
        (!element->deferred && end > element->end()))
        return kInvalidTxt;
    EsdItem* item = element->item;
    if (item != nullptr && item->isCommon()) return kInvalidTxt; // a common has no text
    element->extent = std::max(element->extent, end);
    if (item == nullptr) return ""; // a class that is not loaded: its text is not kept
    item->text.write(offset - element->offset, data, n);
    if (element->deferred)
        item->length = std::max(item->length, static_cast<uint32_t>(end - element->offset));
    return "";
}

// Structured text: identification entries, kept for the module's identification records in
// the form of an object deck's END record (translator, version, modification, date yyddd).
std::string GoffReader::identification(Symbol& element, const uint8_t* data, uint32_t n) {
    if (n < goff::kMinIdrData) return kInvalidTxt;
    uint32_t at = 0;
    while (at < n) {
        if (n - at < goff::kIdrHeader) return kInvalidTxt;
        const uint8_t format = data[at + goff::kIdrFormat];
        const uint32_t length = be16(data + at + goff::kIdrItemLength);
        const uint8_t* item = data + at + goff::kIdrHeader;
        unsigned expected = 0;
        switch (format) {
        case 1:
            expected = goff::kIdrFormat1Length;
            break;
        case 3:
            expected = goff::kIdrFormat3Length;
            break;
        case 4:
            expected = goff::kIdrFormat4Length;
            break;
        default:
            return kInvalidTxt; // format 2 and unknown formats
        }
        if (length != expected || n - at - goff::kIdrHeader < length) return kInvalidTxt;
        // One element holds items of one format.
        if (element.idrFormat != 0 && element.idrFormat != format) return kInvalidTxt;
        std::array<uint8_t, obj::kEndIdItemLength> kept{};
        std::memcpy(kept.data(), item, goff::kIdrDate);
        if (format == 1) {
            if (!ebcdicDigits(item + goff::kIdrDate, 5)) return kInvalidTxt;
            std::memcpy(kept.data() + goff::kIdrDate, item + goff::kIdrDate, 5);
        } else {
            if (!ebcdicDigits(item + goff::kIdrDate, 7) || !ebcdicDigits(item + goff::kIdrTime, 9))
                return kInvalidTxt;
            // yyyyddd as yyddd.
            std::memcpy(kept.data() + goff::kIdrDate, item + goff::kIdrDate + 2, 5);
        }
        element.idrFormat = format;
        if (identifications_.size() < 2 &&
            std::find(identifications_.begin(), identifications_.end(), kept) ==
                identifications_.end())
            identifications_.push_back(kept);
        at += goff::kIdrHeader + length;
    }
    return "";
}

std::string GoffReader::rld() {
    const uint8_t* b = buffer_.data();
    const size_t size = buffer_.size();
    if (size < goff::kRldData) return kInvalidRld;
    const uint32_t n = be16(b + goff::kRldDataLength);
    if (goff::kRldData + n > size) return kInvalidRld;
    const uint8_t* d = b + goff::kRldData;
    uint32_t at = 0;
    while (at < n) {
        if (n - at < goff::kItemHeader) return kInvalidRld;
        const uint8_t* f = d + at;
        at += goff::kItemHeader;
        if (f[goff::kItemFlags] & goff::kItemFlagsReserved) return kInvalidRld;
        // Pointers and offset, or those of the item before.
        if (!(f[0] & goff::kSameR)) {
            if (n - at < 4) return kInvalidRld;
            lastR_ = be32(d + at);
            at += 4;
            haveR_ = true;
        }
        if (!(f[0] & goff::kSameP)) {
            if (n - at < 4) return kInvalidRld;
            lastP_ = be32(d + at);
            at += 4;
            haveP_ = true;
        }
        if (!(f[0] & goff::kSameOffset)) {
            if (f[0] & goff::kLongOffset) {
                if (n - at < 8) return kInvalidRld;
                lastOffset_ = uint64_t{be32(d + at)} << 32 | be32(d + at + 4);
                at += 8;
            } else {
                if (n - at < 4) return kInvalidRld;
                lastOffset_ = be32(d + at);
                at += 4;
            }
            haveOffset_ = true;
        }
        if (!haveR_ || !haveP_ || !haveOffset_) return kInvalidRld;

        const unsigned referenceType = f[goff::kItemTypes] >> 4;
        const unsigned referentType = f[goff::kItemTypes] & 0x0F;
        const unsigned action = f[goff::kItemAction] & 0xF0;
        const bool noFetch = (f[goff::kItemAction] & goff::kNoFetch) != 0;
        const unsigned length = f[goff::kItemFieldLength];
        if (referentType > 3 || (action != goff::kActionAdd && action != goff::kActionSubtract) ||
            length < 1 || length > 8 || f[goff::kItemBitLength] != 0)
            return kInvalidRld;
        const bool negative = action == goff::kActionSubtract;

        // The constant lies in its position element (one whose length is deferred grows).
        Symbol* position = find(lastP_);
        if (position == nullptr || position->type != goff::kED ||
            position->style != goff::kStyleByte || position->binding == goff::kBindMerge)
            return kInvalidRld;
        const uint64_t offset = lastOffset_;
        const uint64_t end = offset + length;
        if (offset < position->offset || end >= goff::kAddressLimit ||
            (!position->deferred && end > position->end()))
            return kInvalidRld;
        position->extent = std::max(position->extent, end);
        EsdItem* section = position->item;
        if (section != nullptr && section->isCommon()) return kInvalidRld;

        Symbol* referent = find(lastR_);
        RldEntry e;
        e.address = static_cast<uint32_t>(offset);
        e.negative = negative;
        e.length = static_cast<uint8_t>(length);
        bool fix = false;      // the field is not fetched: it is set
        uint64_t fixValue = 0; // to this value
        switch (referenceType) {
        case goff::kRefAddress:
        case goff::kRefRelative: {
            const bool relative = referenceType == goff::kRefRelative;
            if (referent == nullptr) return kInvalidRld;
            if (relative && (length != 2 && length != 4)) return kInvalidRld;
            if (!relative && length < 3) return kInvalidRld;
            if (relative && (negative || offset % 2 != 0)) return kInvalidRld;
            e.kind = relative ? ConstantKind::kRelative : ConstantKind::kA;
            switch (referent->type) {
            case goff::kER:
                e.target = referent->item;
                // A constant the binder sets to the address of an external name: a V-type
                // constant.
                if (noFetch) {
                    if (!relative) e.kind = ConstantKind::kV;
                    if (negative) return kInvalidRld;
                    fix = true;
                }
                break;
            case goff::kSD:
            case goff::kED:
            case goff::kLD: {
                // The field holds the assembled address of the target (plus an addend), as in an
                // object deck: a label stands for its section.
                const Symbol* element = referent->type == goff::kLD ? referent->parent : referent;
                e.target = referent->type == goff::kLD ? referent->parent->item : referent->item;
                if (e.target == nullptr) return kInvalidRld;
                if (noFetch) {
                    if (relative) return kInvalidRld;
                    fix = true;
                    fixValue = referent->type == goff::kLD   ? referent->offset
                               : referent->type == goff::kED ? element->offset
                                                             : e.target->address;
                }
                break;
            }
            default:
                return kInvalidRld;
            }
            break;
        }
        case goff::kRefOffset:
            // Q-type: the offset of a part or pseudo register.
            if (referent == nullptr || referent->type != goff::kPR || negative || noFetch)
                return kInvalidRld;
            e.kind = ConstantKind::kQ;
            e.target = referent->item;
            if (section != nullptr)
                section->sectionAlignment =
                    std::max<uint8_t>(section->sectionAlignment, kAlignDouble);
            break;
        case goff::kRefLength:
            // The length of the class of pseudo registers: a cumulative length.
            if (referent == nullptr || referent->type != goff::kED ||
                referent->binding != goff::kBindMerge || negative)
                return kInvalidRld;
            e.kind = ConstantKind::kCxd;
            if (section != nullptr)
                section->sectionAlignment =
                    std::max<uint8_t>(section->sectionAlignment, kAlignDouble);
            break;
        default:
            return kInvalidRld;
        }
        if (section == nullptr) continue; // a constant in a class that is not loaded
        e.flags = rldFlags(e.kind, e.length, e.negative);
        EsdItem* target = e.target;
        if (target != nullptr && (target->isReference() || target->type == obj::kXD)) {
            if (!target->referenced) {
                target->owner = section;
            } else if (target->owner != section) {
                target->owner = nullptr;
                target->manyReferrers = true;
            }
            target->referenced = true;
        }
        if (fix)
            fixes_.push_back({section, static_cast<uint32_t>(offset - position->offset),
                              static_cast<uint8_t>(length), fixValue});
        section->rld.push_back(e);
    }
    return "";
}

std::string GoffReader::len() {
    const uint8_t* b = buffer_.data();
    const size_t size = buffer_.size();
    if (size < goff::kLenData) return kInvalidLen;
    const uint32_t n = be16(b + goff::kLenDataLength);
    // The entries lie in the record actually received.
    if (n % goff::kLenEntry != 0 || goff::kLenData + n > size) return kInvalidLen;
    for (uint32_t at = goff::kLenData; at < goff::kLenData + n; at += goff::kLenEntry) {
        Symbol* element = find(be32(b + at));
        const uint32_t length = be32(b + at + 8);
        if (element == nullptr || element->type != goff::kED || !element->deferred ||
            !zero(b + at + 4, 4) || length >= goff::kAddressLimit ||
            uint64_t{element->offset} + length >= goff::kAddressLimit ||
            uint64_t{element->offset} + length < element->extent)
            return kInvalidLen;
        element->length = length;
        element->deferred = false;
        if (EsdItem* item = element->item) {
            item->length = length;
            item->lengthOpen = false;
        }
    }
    return "";
}

std::string GoffReader::end() {
    image_.endRead = true;
    const uint8_t* b = buffer_.data();
    const size_t size = buffer_.size();
    if (size < goff::kEndFixed) return kInvalidEnd;
    const uint8_t request = b[goff::kEndFlags];
    const uint32_t count = be32(b + goff::kEndRecordCount);
    if ((request & ~goff::kEntryRequestMask) != 0 || validAmode(b[goff::kEndAmode]) == false ||
        (count != 0 && count != logicalRecords_))
        return kInvalidEnd;
    switch (request & goff::kEntryRequestMask) {
    case goff::kEntryNone:
        return "";
    case goff::kEntryByEsdid: {
        const Symbol* s = find(be32(b + goff::kEndEsdid));
        const uint32_t offset = be32(b + goff::kEndOffset);
        if (s == nullptr) return kInvalidEnd;
        if (s->type == goff::kER) {
            if (offset != 0) return kInvalidEnd;
            image_.entryItem = s->item;
            image_.entryName = s->name;
            return "";
        }
        // A loadable element, at an even offset within it.
        if (s->type != goff::kED || s->item == nullptr || s->item->isCommon() || offset % 2 != 0 ||
            offset < s->offset ||
            (offset >= uint64_t{s->offset} + s->item->length &&
             !(s->item->length == 0 && offset == s->offset)))
            return kInvalidEnd;
        image_.entrySection = s->item;
        image_.entryAddress = offset;
        return "";
    }
    case goff::kEntryByName: {
        const uint32_t n = be16(b + goff::kEndNameLength);
        // The name lies in the record actually received.
        if (n == 0 || goff::kEndName + n > size) return kInvalidEnd;
        const uint8_t* p = b + goff::kEndName;
        if (!std::all_of(p, p + n, [](uint8_t c) { return c >= 0x41 && c <= 0xFE; }))
            return kInvalidEnd;
        const std::string name(reinterpret_cast<const char*>(p), n);
        for (const Symbol* s : order_) {
            if (s->name != name) continue;
            if (s->type == goff::kSD && s->item != nullptr && !s->item->isCommon()) {
                image_.entrySection = s->item;
                image_.entryAddress = s->item->address;
                return "";
            }
            if (s->type == goff::kLD && s->parent->item != nullptr) {
                if (s->offset % 2 != 0) return kInvalidEnd;
                if (s->item != nullptr) {
                    image_.entryItem = s->item;
                    image_.entryName = name;
                } else {
                    image_.entrySection = s->parent->item;
                    image_.entryAddress = s->offset;
                }
                return "";
            }
            if (s->type == goff::kER) {
                image_.entryItem = s->item;
                image_.entryName = name;
                return "";
            }
        }
        // A name the module does not define: an entry in another module.
        auto er = std::make_unique<EsdItem>();
        er->type = obj::kER;
        er->name = name;
        er->nameLength = static_cast<uint16_t>(std::min<size_t>(n, 0xFFFF));
        EsdItem* item = er.get();
        if (!addItem(std::move(er))) return kInvalidEnd;
        image_.entryItem = item;
        image_.entryName = name;
        return "";
    }
    default:
        return kInvalidEnd;
    }
}

std::string GoffReader::finish(uint32_t& privateCounter) {
    // Constants that the binder sets rather than adds to: the field becomes the value that
    // relocation adds to, now that every text record is in.
    for (const FieldFix& f : fixes_) {
        uint8_t field[8];
        for (unsigned i = 0; i < f.length; ++i)
            field[i] = static_cast<uint8_t>(f.value >> (8 * (f.length - 1 - i)));
        f.section->text.write(f.offset, field, f.length);
    }
    // Associated data: kept only where it names loadable text of another section.
    for (Symbol* s : order_) {
        if (s->associated == 0) continue;
        Symbol* a = find(s->associated);
        if (a != nullptr && a->textElement() && a->section() != s->section()) s->association = a;
    }
    // Lengths never given: as far as the text reached.
    for (Symbol* s : order_) {
        if (s->type != goff::kED || !s->deferred) continue;
        s->length = s->extent - s->offset;
        s->deferred = false;
        if (s->item != nullptr) {
            s->item->length = static_cast<uint32_t>(s->length);
            s->item->lengthOpen = false;
        }
    }
    // An unnamed section with no text, no labels and no references (translators write one for
    // every module) adds nothing.
    auto unused = [&](const EsdItem* item) {
        if (!item->isPrivate() || item->length != 0 || !item->text.empty() || !item->rld.empty() ||
            image_.entrySection == item)
            return false;
        for (const auto& other : image_.items) {
            if (other->owner == item) return false;
            for (const RldEntry& e : other->rld)
                if (e.target == item) return false;
        }
        return true;
    };
    for (auto it = image_.items.begin(); it != image_.items.end();) {
        if (unused(it->get())) {
            image_.byEsdid.erase((*it)->esdid);
            it = image_.items.erase(it);
        } else {
            ++it;
        }
    }
    for (unsigned i = 0; i < identifications_.size(); ++i)
        std::memcpy(image_.identification + i * obj::kEndIdItemLength, identifications_[i].data(),
                    obj::kEndIdItemLength);
    image_.identificationCount = static_cast<unsigned>(identifications_.size());
    if (image_.items.empty()) return "";
    // Names, owners and references as for an object deck.
    ObjectReader normalizer(image_);
    return normalizer.normalize(privateCounter);
}

void readGoffModule(Job& job) {
    ObjectModule image;
    GoffReader reader(image);
    Record r = job.records[0];
    for (;;) {
        // The statement record buffer holds the physical records of the logical record, so
        // that an error shows all of them.
        if (!reader.inLogicalRecord()) {
            job.records.clear();
            if (const InputFile* f = job.current()) job.firstRecord = f->records;
        }
        job.records.push_back(r);
        const GoffReader::Step step = reader.record(r.bytes);
        if (!step.message.empty()) {
            statementError(job, step.message);
            image.error = true;
        }
        if (job.stopped()) break;
        if (step.restart) continue; // the same record again, as the start of a logical record
        if (step.end) break;
        const int st = readRecord(job, r);
        if (st < 0) break;
        if (st > 0) {
            const InputFile* f = job.current();
            issueWithPath(job, kSevere,
                          format("VRL164S Unexpected end of file while reading %s: GOFF module "
                                 "END record not read",
                                 f->ddName.c_str()),
                          f->path);
            image.error = true;
            break;
        }
    }
    ++job.objectModules;
    if (job.stopped()) return;
    if (image.error) {
        issue(job, kWarning, "VRL159W Object module discarded due to errors.");
        return;
    }
    if (!job.module) job.module = std::make_unique<Module>();
    const std::string problem = reader.finish(job.module->privateCounter);
    if (!problem.empty()) issue(job, kWarning, problem);
    if (image.items.empty()) return;
    mergeObjectModule(job, image);
}

} // namespace vrl
