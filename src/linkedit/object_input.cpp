// Object module input: the cards of one object deck (ESD, XSD, TXT, RLD, SYM, END) read into an
// object-module image, every field checked, unnamed items named and references attached to
// the sections that use them. The image is then merged into the module being built.
//
//    ESD  SD MAIN 000000 length 0148, ER SUB1, LD ENTRY2 in MAIN
//    TXT  MAIN +000000 56 bytes ...
//    RLD  R=SUB1 P=MAIN flags 1C address 000040      (a 4-byte V-type constant)
//    END  entry MAIN +000000, translator 5695HLASM 0106 25005
//
// A record in error is reported with its card; the rest of the deck is still read so that its
// END card is found, and then the whole object module is discarded.
#include <cstring>

#include "linkedit.h"
#include "resolution.h"
#include "runtime.h"

namespace vrl {

namespace {

using obj::be16;
using obj::be24;
using obj::be32;

constexpr const char* kInvalidRecord = "VRL150S Invalid object module record";
constexpr const char* kInvalidEsd = "VRL151S Invalid object module ESD record";
constexpr const char* kInvalidTxt = "VRL151S Invalid object module TXT record";
constexpr const char* kInvalidRld = "VRL151S Invalid object module RLD record";
constexpr const char* kInvalidSym = "VRL151S Invalid object module SYM record";
constexpr const char* kInvalidXsd = "VRL151S Invalid object module XSD record";
constexpr const char* kInvalidXsdItem = "VRL151S Invalid object module XSD records";
constexpr const char* kInvalidXsdContinuation =
    "VRL152S Invalid object module XSD continuation record";
constexpr const char* kInvalidEnd = "VRL151S Invalid object module END record";
constexpr const char* kSymOutOfSequence = "VRL153S Object module SYM record is out of sequence";
constexpr const char* kSymDiscarded =
    "VRL158W Object module SYM data discarded because it is invalid.";

bool blanks(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != obj::kEbcdicBlank) return false;
    return true;
}

bool isType(const uint8_t* r, const uint8_t (&type)[3]) {
    return std::memcmp(r + obj::kType, type, 3) == 0;
}

// The name of an 8-byte name field: characters X'41' to X'FE' up to the first blank, blanks
// after it. False when the field breaks that rule; an empty name when it is all blanks.
bool shortName(const uint8_t* p, std::string& name) {
    size_t n = 0;
    while (n < obj::kNameLength && p[n] != obj::kEbcdicBlank) {
        if (p[n] < 0x41 || p[n] == 0xFF) return false;
        ++n;
    }
    if (!blanks(p + n, obj::kNameLength - n)) return false;
    name.assign(reinterpret_cast<const char*>(p), n);
    return true;
}

bool validLongName(const std::string& name) {
    for (char c : name) {
        const auto b = static_cast<uint8_t>(c);
        if (b < 0x41 || b == 0xFF) return false;
    }
    return true;
}

// Checks an item built from an ESD or XSD record (name and the four fixed fields already set
// in `item`, the length field's three bytes in `lengthField`). Owners are looked up in
// `image`.
bool validateItem(EsdItem& item, const uint8_t* lengthField, const ObjectModule& image) {
    const bool named = !item.name.empty();
    item.nameLength = static_cast<uint16_t>(item.name.size());
    switch (item.type) {
    case obj::kSD:
    case obj::kSDQ:
    case obj::kPC:
    case obj::kPCQ:
    case obj::kCM:
    case obj::kCMQ: {
        const bool control = item.type == obj::kSD || item.type == obj::kSDQ;
        const bool privateCode = item.type == obj::kPC || item.type == obj::kPCQ;
        if (control && !named) return false;
        if (privateCode && named) return false;
        if (item.isCommon() ? item.address != 0 : item.address % 8 != 0) return false;
        item.flags &= static_cast<uint8_t>(~obj::kFlagIgnored);
        if (item.flags & (control ? 0xE0 : 0xE8)) return false;
        item.alignment = (item.type & 0x08) ? kAlignQuad : kAlignDouble;
        item.length = be24(lengthField);
        item.lengthOpen = item.length == 0;
        return true;
    }
    case obj::kLD: {
        if (!named) return false;
        item.flags &= static_cast<uint8_t>(~obj::kFlagIgnored);
        if (item.flags & 0xEC) return false;
        const uint32_t owner = be24(lengthField);
        if (owner == 0 || owner > 0xFFFF) return false;
        EsdItem* section = image.find(static_cast<uint16_t>(owner));
        if (section == nullptr || !section->holdsText()) return false;
        // The label lies in its section (a section whose length is still open reaches as
        // far as its text will).
        if (item.address < section->address) return false;
        if (!section->lengthOpen && item.address > uint64_t{section->address} + section->length)
            return false;
        item.owner = section;
        item.length = 0;
        return true;
    }
    case obj::kER:
    case obj::kWX:
        if (!named || item.address != 0 || !blanks(lengthField, 3)) return false;
        item.flags = 0;
        item.length = 0;
        return true;
    case obj::kXD: {
        if (!named || item.address != 0) return false;
        switch (item.flags) {
        case 0x00:
            item.alignment = kAlignByte;
            break;
        case 0x01:
            item.alignment = kAlignHalf;
            break;
        case 0x03:
            item.alignment = kAlignFull;
            break;
        case 0x07:
            item.alignment = kAlignDouble;
            break;
        case 0x0F:
            item.alignment = kAlignQuad;
            break;
        default:
            return false;
        }
        item.length = be24(lengthField);
        return true;
    }
    default:
        return false;
    }
}

// The generated name of private code: a blank, then "PRIV" and six digits.
std::string privateName(uint32_t number) {
    return toEbcdic(format(" PRIV%.6u", static_cast<unsigned>(number % 1000000)));
}

bool isEbcdicDigit(uint8_t b) {
    return b >= 0xF0 && b <= 0xF9;
}

} // namespace

EsdItem* ObjectModule::firstTextSection() const {
    for (const auto& item : items)
        if (item->holdsText()) return item.get();
    return nullptr;
}

bool ObjectReader::addItem(std::unique_ptr<EsdItem> item) {
    // Duplicates: two unnamed items of one type; two items of one name unless exactly one is
    // a pseudo register or one is a reference; two items (other than labels) of one ESDID.
    if (item->type != obj::kLD && image_.find(item->esdid) != nullptr) return false;
    if (item->name.empty()) {
        for (const auto& other : image_.items)
            if (other->name.empty() && other->type == item->type) return false;
    } else {
        auto& same = byName_[item->name];
        for (const EsdItem* other : same) {
            const bool oneXd = (other->type == obj::kXD) != (item->type == obj::kXD);
            if (!oneXd && !other->isReference() && !item->isReference()) return false;
        }
        same.push_back(item.get());
    }
    if (item->type != obj::kLD) image_.byEsdid[item->esdid] = item.get();
    image_.items.push_back(std::move(item));
    image_.seenEsd = true;
    return true;
}

std::string ObjectReader::record(const uint8_t* r, bool& end) {
    end = false;
    if (r[0] != obj::kCardId) return kInvalidRecord;
    if (pendingXsd_ != nullptr && !isType(r, obj::kXsdType)) {
        pendingXsd_.reset();
        return kInvalidXsdContinuation;
    }
    if (isType(r, obj::kEsdType)) return esd(r);
    if (isType(r, obj::kTxtType)) return txt(r);
    if (isType(r, obj::kRldType)) return rld(r);
    if (isType(r, obj::kXsdType)) return xsd(r);
    if (isType(r, obj::kSymType)) return sym(r);
    if (isType(r, obj::kEndType)) {
        end = true;
        return this->end(r);
    }
    return kInvalidRecord;
}

std::string ObjectReader::esd(const uint8_t* r) {
    const unsigned count = be16(r + obj::kEsdCount);
    if (!blanks(r + obj::kEsdBlanks, 5) || !blanks(r + obj::kEsdBlanks2, 2) ||
        !blanks(r + obj::kEsdTrailer, 8) || (count != 16 && count != 32 && count != 48))
        return kInvalidEsd;
    uint32_t next = be16(r + obj::kEsdFirstId);
    for (unsigned k = 0; k < count / obj::kEsdItemLength; ++k) {
        const uint8_t* e = r + obj::kEsdItems + k * obj::kEsdItemLength;
        auto item = std::make_unique<EsdItem>();
        if (!shortName(e + obj::kItemName, item->name)) return kInvalidEsd;
        item->type = e[obj::kItemType];
        item->address = be24(e + obj::kItemAddress);
        item->flags = e[obj::kItemFlags];
        if (item->type != obj::kLD) {
            if (next == 0 || next > 0xFFFF) return kInvalidEsd;
            item->esdid = static_cast<uint16_t>(next++);
        }
        if (!validateItem(*item, e + obj::kItemLength, image_) || !addItem(std::move(item)))
            return kInvalidEsd;
    }
    return "";
}

std::string ObjectReader::xsd(const uint8_t* r) {
    const unsigned count = be16(r + obj::kXsdCount);
    const unsigned esdid = be16(r + obj::kXsdEsdid);
    const uint32_t total = be32(r + obj::kXsdNameLength);
    const uint32_t position = be32(r + obj::kXsdNameOffset);
    if (!blanks(r + obj::kXsdBlanks, 5) || count < obj::kXsdFixed ||
        count > obj::kXsdFixed + obj::kXsdMaxPart || esdid == 0 || total == 0 ||
        total > obj::kMaxNameLength) {
        const bool continuation = pendingXsd_ != nullptr;
        pendingXsd_.reset();
        return continuation ? kInvalidXsdContinuation : kInvalidXsd;
    }
    const uint32_t part = count - obj::kXsdFixed;
    if (pendingXsd_ == nullptr) {
        // The first record: the item and the first part of its name.
        if (position != 1 || part == 0 || part > total ||
            (part < total && part != obj::kXsdMaxPart))
            return kInvalidXsdContinuation;
        auto item = std::make_unique<EsdItem>();
        const uint8_t* e = r + obj::kXsdItem;
        item->type = e[0];
        item->address = be24(e + 1);
        item->flags = e[4];
        item->attribute = r[obj::kXsdAttribute];
        item->esdid = item->type == obj::kLD ? 0 : static_cast<uint16_t>(esdid);
        std::memcpy(xsdLength_, e + 5, 3);
        item->name.assign(reinterpret_cast<const char*>(r + obj::kXsdName), part);
        pendingXsd_ = std::move(item);
        xsdEsdid_ = esdid;
        xsdTotal_ = total;
        xsdFill_ = part;
    } else {
        // A continuation: the same item, the next part, each part but the last 40 bytes.
        const uint64_t end = uint64_t{position} - 1 + part;
        if (r[obj::kXsdContinued] != obj::kEbcdicBlank || esdid != xsdEsdid_ ||
            total != xsdTotal_ || position != xsdFill_ + 1 || part == 0 || end > total ||
            (end < total && part != obj::kXsdMaxPart)) {
            pendingXsd_.reset();
            return kInvalidXsdContinuation;
        }
        pendingXsd_->name.append(reinterpret_cast<const char*>(r + obj::kXsdName), part);
        xsdFill_ += part;
    }
    if (xsdFill_ < xsdTotal_) return "";
    std::unique_ptr<EsdItem> item = std::move(pendingXsd_);
    if (!validLongName(item->name) || !validateItem(*item, xsdLength_, image_) ||
        !addItem(std::move(item)))
        return kInvalidXsdItem;
    return "";
}

bool ObjectReader::growSection(EsdItem& section, uint64_t end) {
    if (end <= uint64_t{section.address} + section.length) return true;
    // Only the one section whose length was left open grows, and never past 24 bits.
    if (!section.lengthOpen || (image_.openSection != nullptr && image_.openSection != &section))
        return false;
    if (end > 0x1000000) return false;
    section.length = static_cast<uint32_t>(end - section.address);
    image_.openSection = &section;
    return true;
}

std::string ObjectReader::txt(const uint8_t* r) {
    const unsigned count = be16(r + obj::kTxtCount);
    if (!blanks(r + obj::kTxtBlanks, 2) || !blanks(r + obj::kTxtBlanks2, 2) || count < 1 ||
        count > obj::kMaxData)
        return kInvalidTxt;
    EsdItem* section = image_.find(static_cast<uint16_t>(be16(r + obj::kTxtEsdid)));
    const uint32_t address = be24(r + obj::kTxtAddress);
    if (section == nullptr || !section->holdsText() || address < section->address ||
        !growSection(*section, uint64_t{address} + count))
        return kInvalidTxt;
    section->text.write(address - section->address, r + obj::kTxtData, count);
    return "";
}

std::string ObjectReader::rld(const uint8_t* r) {
    const unsigned count = be16(r + obj::kRldCount);
    if (!blanks(r + obj::kRldBlanks, 5) || !blanks(r + obj::kRldBlanks2, 4) || count < 8 ||
        count > obj::kMaxData)
        return kInvalidRld;
    const uint8_t* d = r + obj::kRldData;
    unsigned at = 0;
    unsigned rp = 0, pp = 0;
    bool same = false;
    while (at < count) {
        if (!same) {
            if (count - at < obj::kRldEntry) return kInvalidRld;
            rp = be16(d + at);
            pp = be16(d + at + 2);
            at += 4;
        } else if (count - at < obj::kRldShortEntry) {
            return kInvalidRld;
        }
        const uint8_t flags = d[at];
        const uint32_t address = be24(d + at + 1);
        at += 4;
        same = (flags & obj::kRldSamePointers) != 0;

        EsdItem* section = image_.find(static_cast<uint16_t>(pp));
        if (section == nullptr || !section->holdsText()) return kInvalidRld;
        RldEntry e;
        e.flags = static_cast<uint8_t>(flags & ~obj::kRldSamePointers);
        e.address = address;
        e.negative = (flags & obj::kRldNegative) != 0;
        const unsigned length = obj::rldLength(flags);
        e.length = static_cast<uint8_t>(length);
        const uint8_t kind = flags & obj::kRldKindBits;
        if (flags & obj::kRldReserved) return kInvalidRld;
        EsdItem* target = rp == 0 ? nullptr : image_.find(static_cast<uint16_t>(rp));
        auto targetIs = [&](std::initializer_list<uint8_t> types) {
            if (target == nullptr) return false;
            for (uint8_t t : types)
                if (target->type == t) return true;
            return false;
        };
        const std::initializer_list<uint8_t> kAddressable = {
            obj::kSD, obj::kSDQ, obj::kER, obj::kPC, obj::kPCQ, obj::kCM, obj::kCMQ, obj::kWX};
        switch (kind) {
        case obj::kRldKindA:
            if (length < 3 || !targetIs(kAddressable)) return kInvalidRld;
            e.kind = ConstantKind::kA;
            break;
        case obj::kRldKindV:
            if (length < 3 || e.negative || !targetIs({obj::kER, obj::kWX})) return kInvalidRld;
            e.kind = ConstantKind::kV;
            break;
        case obj::kRldKindQ:
            if (e.negative || !targetIs({obj::kXD})) return kInvalidRld;
            e.kind = ConstantKind::kQ;
            section->sectionAlignment = std::max<uint8_t>(section->sectionAlignment, kAlignDouble);
            break;
        default:
            if (length == 5 || length == 7) {
                if (e.negative || address % 2 != 0 || !targetIs(kAddressable)) return kInvalidRld;
                e.kind = ConstantKind::kRelative;
                e.length = static_cast<uint8_t>(length - 3);
            } else if (length == 6) {
                return kInvalidRld;
            } else {
                if (e.negative || (rp != 0 && !targetIs({obj::kXD}))) return kInvalidRld;
                e.kind = ConstantKind::kCxd;
                section->sectionAlignment =
                    std::max<uint8_t>(section->sectionAlignment, kAlignDouble);
            }
            break;
        }
        if (address < section->address || !growSection(*section, uint64_t{address} + e.length))
            return kInvalidRld;
        e.target = target;
        if (target != nullptr && (target->isReference() || target->type == obj::kXD)) {
            if (!target->referenced) {
                target->owner = section;
            } else if (target->owner != section) {
                target->owner = nullptr;
                target->manyReferrers = true;
            }
            target->referenced = true;
        }
        section->rld.push_back(e);
    }
    // The last entry of a record may not announce another with the same pointers.
    if (same) return kInvalidRld;
    return "";
}

std::string ObjectReader::sym(const uint8_t* r) {
    if (image_.seenEsd) return kSymOutOfSequence;
    const unsigned count = be16(r + obj::kSymCount);
    if (!blanks(r + obj::kSymBlanks, 5) || !blanks(r + obj::kSymBlanks2, 4) || count < 1 ||
        count > obj::kMaxData)
        return kInvalidSym;
    image_.sym.insert(image_.sym.end(), r + obj::kSymData, r + obj::kSymData + count);
    return "";
}

std::string ObjectReader::end(const uint8_t* r) {
    image_.endRead = true;
    if (!blanks(r + obj::kEndBlanks, 6) || !blanks(r + obj::kEndBlanks2, 4) ||
        r[obj::kEndBlank3] != obj::kEbcdicBlank)
        return kInvalidEnd;
    // Translator identification: a bad item keeps only the items before it.
    unsigned count = 0;
    switch (r[obj::kEndIdCount]) {
    case obj::kEbcdicBlank:
        count = 0;
        break;
    case 0xF1:
        count = 1;
        break;
    case 0xF2:
        count = 2;
        break;
    default:
        return kInvalidEnd;
    }
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* item = r + obj::kEndIdItems + i * obj::kEndIdItemLength;
        for (unsigned k = obj::kEndIdDigits; k < obj::kEndIdItemLength; ++k)
            if (!isEbcdicDigit(item[k])) count = i;
    }
    image_.identificationCount = count;
    std::memcpy(image_.identification, r + obj::kEndIdItems, count * obj::kEndIdItemLength);

    // The length of the section that was left open.
    const uint8_t* length = r + obj::kEndLength;
    if (blanks(length, 4)) {
        if (image_.openSection != nullptr) return kInvalidEnd;
    } else if (length[0] == 0) {
        EsdItem* target = image_.openSection;
        if (target == nullptr)
            for (const auto& item : image_.items)
                if (item->holdsText() && item->length == 0) {
                    target = item.get();
                    break;
                }
        const uint32_t value = be24(length + 1);
        if (target != nullptr) {
            if (value < target->length || uint64_t{target->address} + value > 0x1000000)
                return kInvalidEnd;
            target->length = value;
        }
    } else {
        return kInvalidEnd;
    }

    // The entry point: by ESDID and address, by name, or none.
    const uint8_t* esdid = r + obj::kEndEsdid;
    if (!blanks(esdid, 2)) {
        EsdItem* section = image_.find(static_cast<uint16_t>(be16(esdid)));
        const uint32_t address = be24(r + obj::kEndAddress);
        if (section == nullptr || !section->holdsText() || address % 2 != 0 ||
            address < section->address ||
            (address >= uint64_t{section->address} + section->length &&
             !(section->length == 0 && address == section->address)))
            return kInvalidEnd;
        image_.entrySection = section;
        image_.entryAddress = address;
        return "";
    }
    std::string name;
    if (!shortName(r + obj::kEndName, name)) return kInvalidEnd;
    if (name.empty()) return "";
    for (const auto& item : image_.items) {
        if (item->name != name || item->type == obj::kXD) continue;
        if (item->isControlSection()) {
            image_.entrySection = item.get();
            image_.entryAddress = item->address;
            return "";
        }
        if (item->type == obj::kLD) {
            if (item->address % 2 != 0) return kInvalidEnd;
            image_.entryItem = item.get();
            image_.entryName = name;
            return "";
        }
        if (item->isReference()) {
            image_.entryItem = item.get();
            image_.entryName = name;
            return "";
        }
    }
    return kInvalidEnd;
}

std::string ObjectReader::normalize(uint32_t& privateCounter) {
    // References that no constant uses belong to the first section; a module without a
    // section gets private code to own them.
    EsdItem* first = image_.firstTextSection();
    bool orphans = false;
    for (const auto& item : image_.items)
        if ((item->isReference() || item->type == obj::kXD) && !item->referenced) orphans = true;
    if (first == nullptr && orphans) {
        auto pc = std::make_unique<EsdItem>();
        pc->type = obj::kPC;
        pc->flags = obj::kFlagRmodeAny;
        first = pc.get();
        image_.items.push_back(std::move(pc));
    }
    for (const auto& item : image_.items)
        if ((item->isReference() || item->type == obj::kXD) && !item->referenced)
            item->owner = first;

    for (const auto& item : image_.items) {
        if (item->owner == nullptr) continue;
        if (item->type == obj::kLD || item->isReference() || item->type == obj::kXD) {
            item->owner->refs.push_back(item.get());
            if (item->type == obj::kXD)
                item->owner->sectionAlignment = std::max<uint8_t>(
                    {item->owner->sectionAlignment, item->alignment, kAlignDouble});
        }
    }
    // Generated names.
    for (const auto& item : image_.items) {
        if (item->isPrivate() && item->name.empty()) {
            item->name = privateName(++privateCounter);
            item->nameLength = kPrivateNameLength;
        } else if (item->isCommon() && item->name.empty()) {
            item->name = toEbcdic(" BLANKCOM");
            item->nameLength = kBlankCommonNameLength;
        }
    }
    // A reference used by several sections is listed in each of them.
    for (const auto& item : image_.items) {
        if (!item->holdsText()) continue;
        std::vector<const std::string*> copied;
        for (const RldEntry& e : item->rld) {
            EsdItem* t = e.target;
            if (t == nullptr || !t->manyReferrers) continue;
            if (std::any_of(copied.begin(), copied.end(),
                            [&](const std::string* n) { return *n == t->name; }))
                continue;
            auto copy = std::make_unique<EsdItem>();
            copy->type = t->type;
            copy->name = t->name;
            copy->nameLength = t->nameLength;
            copy->length = t->length;
            copy->alignment = t->alignment;
            copy->referenced = true;
            copy->owner = item.get();
            copied.push_back(&t->name);
            item->refs.push_back(copy.get());
            item->copies.push_back(std::move(copy));
        }
    }
    if (!image_.sym.empty() && !checkSymbolData()) {
        image_.sym.clear();
        for (const auto& item : image_.items) item->sym.clear();
        return kSymDiscarded;
    }
    return "";
}

// Splits the symbol data among the sections it describes; false when it is inconsistent.
bool ObjectReader::checkSymbolData() {
    const std::vector<uint8_t>& d = image_.sym;
    EsdItem* current = nullptr;
    size_t at = 0;
    while (at < d.size()) {
        const uint8_t head = d[at];
        const unsigned type = head >> 4;
        if (type < 1 || type > 3) return false;
        const bool noName = (head & obj::kSymNoName) != 0;
        const size_t nameLength = noName ? 0 : (head & 0x07) + 1u;
        if (d.size() - at < obj::kSymItemHeader + nameLength) return false;
        std::string name(reinterpret_cast<const char*>(d.data() + at + obj::kSymItemHeader),
                         nameLength);
        size_t end = at + obj::kSymItemHeader + nameLength;
        // A long name: "0", the number of parts, six digits; then the parts.
        if (nameLength == 8 && static_cast<uint8_t>(name[0]) == 0xF0 &&
            static_cast<uint8_t>(name[1]) >= 0xF2 && static_cast<uint8_t>(name[1]) <= 0xF9 &&
            std::all_of(name.begin() + 2, name.end(),
                        [](char c) { return isEbcdicDigit(static_cast<uint8_t>(c)); })) {
            const unsigned parts = static_cast<uint8_t>(name[1]) - 0xF0u;
            std::string full;
            for (unsigned k = 1; k <= parts; ++k) {
                if (d.size() - end < obj::kSymContinuationHeader) return false;
                const uint8_t c = d[end];
                if (c < 0x61 || c > 0x67 || d[end + 1] != k ||
                    std::memcmp(d.data() + end + 2, name.data() + 2, 6) != 0)
                    return false;
                const size_t partLength = c - obj::kSymContinuation;
                if (d.size() - end - obj::kSymContinuationHeader < partLength) return false;
                full.append(
                    reinterpret_cast<const char*>(d.data() + end + obj::kSymContinuationHeader),
                    partLength);
                end += obj::kSymContinuationHeader + partLength;
            }
            name = full;
        }
        if (type == 1 || type == 3) {
            current = nullptr;
            for (const auto& item : image_.items) {
                if (!item->isSection()) continue;
                if (noName ? item->isPrivate() : item->name == name) {
                    current = item.get();
                    break;
                }
            }
            if (current == nullptr) return false;
        } else if (current == nullptr) {
            return false;
        }
        current->sym.insert(current->sym.end(), d.begin() + static_cast<ptrdiff_t>(at),
                            d.begin() + static_cast<ptrdiff_t>(end));
        at = end;
    }
    return true;
}

void readObjectModule(Job& job) {
    ObjectModule image;
    ObjectReader reader(image);
    Record r = job.records[0];
    for (;;) {
        job.records.assign(1, r);
        if (const InputFile* f = job.current()) job.firstRecord = f->records;
        bool end = false;
        const std::string problem = reader.record(r.bytes, end);
        if (!problem.empty()) {
            statementError(job, problem);
            image.error = true;
        }
        if (end || job.stopped()) break;
        const int st = readRecord(job, r);
        if (st < 0) break;
        if (st > 0) {
            const InputFile* f = job.current();
            issueWithPath(job, kSevere,
                          format("VRL154S Unexpected end of file while reading %s: object module "
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
    if (image.items.empty()) return;
    if (!job.module) job.module = std::make_unique<Module>();
    const std::string symProblem = reader.normalize(job.module->privateCounter);
    if (!symProblem.empty()) issue(job, kWarning, symProblem);
    mergeObjectModule(job, image);
}

} // namespace vrl
