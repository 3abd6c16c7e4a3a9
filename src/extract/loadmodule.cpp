// Reading a load module from its member records into a LoadModuleImage. Every record is
// checked; text and relocation addresses are checked against the module, so that the listing
// and the delinked deck never reach outside the image.
#include "loadmodule.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "loadmod_format.h"
#include "reader.h"
#include "runtime.h"
#include "unload_format.h"
#include "xmit_format.h"

using namespace loadmod;
using xmit::be16;
using xmit::be24;

namespace opx {

namespace {

std::string format(const char* f, unsigned long v) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, f, v);
    return buffer;
}

} // namespace

const CesdEntry* LoadModuleImage::find(uint16_t esdid) const {
    for (const CesdEntry& e : cesd)
        if (e.esdid == esdid) return &e;
    return nullptr;
}

LoadModuleReader::LoadModuleReader(const uint8_t* directoryEntry, unsigned entryLength,
                                   LoadModuleImage& image)
    : image_(image) {
    decodeLoadModuleEntry(directoryEntry, entryLength, &image_.info);
    image_.text.assign(image_.info.moduleSize, 0);
    if (image_.info.flags & DE_SCTR)
        image_.scatter.assign(static_cast<size_t>(image_.info.scatterListLength) +
                                  image_.info.translationTableLength + 2,
                              0);
}

bool LoadModuleReader::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

CesdEntry* LoadModuleReader::entry(uint16_t esdid) {
    for (CesdEntry& e : image_.cesd)
        if (e.esdid == esdid) return &e;
    return nullptr;
}

bool LoadModuleReader::record(const uint8_t* r, uint32_t length) {
    if (!error_.empty()) return false;
    ++recordNumber_;
    if (textExpected_) {
        textExpected_ = false;
        // Text must lie inside the module.
        if (static_cast<uint64_t>(textAddress_) + length > image_.text.size())
            return fail(format("Load module control record %lu is invalid", textAnnouncedBy_));
        std::memcpy(image_.text.data() + textAddress_, r, length);
        return true;
    }
    if (length == 0)
        return fail(format("Load module record %lu ID 00 is not supported", recordNumber_));
    const uint8_t id = r[0];
    if (loadmod::isControl(id)) return control(r, length);
    switch (id) {
    case kScatter:
        return scatter(r, length);
    case kCesd:
        return cesd(r, length);
    case kSym:
        return symbols(r, length);
    case kIdr:
        return idr(r, length);
    default:
        break;
    }
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "Load module record %lu ID %.2X is not supported",
                  recordNumber_, static_cast<unsigned>(id));
    return fail(buffer);
}

bool LoadModuleReader::control(const uint8_t* r, uint32_t length) {
    if (idrOpen_)
        return fail(format("Missing ending load module IDR record at record %lu", recordNumber_));
    const std::string invalid = format("Load module control record %lu is invalid", recordNumber_);
    if (length < 17) return fail(invalid);
    const uint32_t controlLength = be16(r + kCtlControlLength);
    const uint32_t relocationLength = be16(r + kCtlRelocationLength);
    if (length != kCtlData + controlLength + relocationLength) return fail(invalid);
    if ((r[0] & kRelocationPresent) && relocationLength > 0) {
        if (!relocation(r + kCtlData, relocationLength)) return false;
    }
    if (r[0] & kTextFollows) {
        textExpected_ = true;
        textAnnouncedBy_ = recordNumber_;
        textAddress_ = be24(r + kCtlTextAddress);
    }
    return true;
}

bool LoadModuleReader::relocation(const uint8_t* d, uint32_t length) {
    static const char* const kInvalid = "Load module RLD data is invalid";
    if (length < 8 || length % 4 != 0 || image_.cesd.empty()) return fail(kInvalid);
    uint32_t at = 0;
    while (at < length) {
        if (length - at < kRldGroupHeader + kRldItem) return fail(kInvalid);
        const uint16_t rp = be16(d + at), pp = be16(d + at + 2);
        at += kRldGroupHeader;
        CesdEntry* section = entry(pp);
        if (section == nullptr || !holdsRelocation(section->type())) {
            char buffer[96];
            std::snprintf(buffer, sizeof buffer,
                          "Load module RLD position ESID value %.4hX is not defined",
                          static_cast<unsigned short>(pp));
            return fail(buffer);
        }
        for (;;) {
            if (length - at < kRldItem) return fail(kInvalid);
            const uint8_t flags = d[at];
            const uint32_t address = be24(d + at + 1);
            at += kRldItem;
            // The constant lies inside its section and the module; the pointer names a symbol,
            // or is 0 for a cumulative length (CXD).
            const unsigned size = constantLength(flags);
            const uint64_t end = static_cast<uint64_t>(address) + size;
            if (address < section->address ||
                end > static_cast<uint64_t>(section->address) + section->length ||
                end > image_.text.size())
                return fail(kInvalid);
            if (!isCxd(flags, rp) && entry(rp) == nullptr) return fail(kInvalid);
            section->relocation.push_back(
                {rp, static_cast<uint8_t>(flags & ~kRldSamePointers), address});
            if (!(flags & kRldSamePointers)) break;
        }
    }
    return true;
}

bool LoadModuleReader::scatter(const uint8_t* r, uint32_t length) {
    const std::string invalid =
        format("Load module scatter table record %lu is invalid", recordNumber_);
    if (length < kScatterData) return fail(invalid);
    const uint32_t n = be16(r + kScatterLength);
    if (r[1] != 0 || n < kScatterMinData || n > kScatterMaxData || length != n + kScatterData)
        return fail(invalid);
    if (scatterFill_ + n > image_.scatter.size()) return fail(invalid);
    std::memcpy(image_.scatter.data() + scatterFill_, r + kScatterData, n);
    scatterFill_ += n;
    return true;
}

bool LoadModuleReader::cesd(const uint8_t* r, uint32_t length) {
    static const char* const kInvalid = "Load module CESD record is invalid";
    if (length < kCesdEntries + kCesdEntrySize) return fail(kInvalid);
    const uint32_t n = be16(r + kCesdDataLength);
    if (n < 16 || n > kCesdMaxData || n % kCesdEntrySize != 0 || n != length - kCesdEntries)
        return fail(kInvalid);
    const bool keepFlags = (r[kCesdFlags] & 0x80) != 0;
    uint16_t esdid = be16(r + kCesdFirstEsdid);
    for (uint32_t at = kCesdEntries; at < length; at += kCesdEntrySize, ++esdid) {
        const uint8_t* e = r + at;
        const uint8_t rawType = e[kEntryType];
        const uint8_t type = rawType & 0x0F;
        const bool known = type == kSD || type == kER || type == kLR || type == kPC ||
                           type == kCM || type == kPR || type == kNull || type == kWX ||
                           type == kSD2 || type == kPC2 || type == kCM2;
        if (!known || (rawType & 0x17) == 0x14) {
            char buffer[96];
            std::snprintf(buffer, sizeof buffer,
                          "Load module CESD entry type %.2X is not supported",
                          static_cast<unsigned>(rawType));
            return fail(buffer);
        }
        // An ESDID may be given only once, null entries included.
        if (esdid == 0 || entry(esdid) != nullptr) return fail(kInvalid);
        CesdEntry c;
        std::memcpy(c.bytes, e, 16);
        c.bytes[kEntryType] = type;
        if (!keepFlags) c.bytes[kEntrySectionFlags] = 0;
        c.esdid = esdid;
        c.address = be24(e + kEntryAddress);
        if (type == kLR)
            c.owner = be16(e + kEntryOwner);
        else if (isSection(type) || type == kPR)
            c.length = be24(e + kEntryLength);
        // A section reaches no further than the module (pseudo registers are not in it).
        if (isSection(type) && static_cast<uint64_t>(c.address) + c.length > image_.text.size())
            return fail(kInvalid);
        if (type == kNull) {
            // A null entry occupies its ESDID but is not kept: a placeholder marks the number.
            c.bytes[kEntryType] = kNull;
        }
        image_.cesd.push_back(c);
    }
    return true;
}

bool LoadModuleReader::symbols(const uint8_t* r, uint32_t length) {
    const std::string invalid = format("Load module SYM record %lu is invalid", recordNumber_);
    if (length < kSymData) return fail(invalid);
    const uint32_t n = be16(r + kSymLength);
    if (n % kSymCard != 0 || length != n + kSymData) return fail(invalid);
    image_.sym.insert(image_.sym.end(), r + kSymData, r + length);
    return true;
}

bool LoadModuleReader::idr(const uint8_t* r, uint32_t length) {
    if (length < 4 || r[kIdrLength] != length - 1)
        return fail(format("Load module IDR record %lu is invalid", recordNumber_));
    const uint8_t subtype = r[kIdrSubtype] & kIdrSubtypeMask;
    if (idrOpen_ && subtype != idrSubtype_ && !closeIdrBlock()) return false;
    if (!idrOpen_) {
        idrOpen_ = true;
        idrSubtype_ = subtype;
        idrBlock_.clear();
    }
    idrBlock_.insert(idrBlock_.end(), r + kIdrData, r + length);
    if (r[kIdrSubtype] & kIdrLast) return closeIdrBlock();
    return true;
}

bool LoadModuleReader::closeIdrBlock() {
    idrOpen_ = false;
    switch (idrSubtype_) {
    case kIdrIgnored:
        return true;
    case kIdrLinkEdit:
        if (idrBlock_.size() != 15 && idrBlock_.size() != 19)
            return fail("Load module linkedit IDR data is invalid");
        std::memcpy(image_.linkEdit, idrBlock_.data(), idrBlock_.size());
        image_.linkEditLength = static_cast<uint8_t>(idrBlock_.size());
        return true;
    case kIdrTranslator:
        return translatorData(idrBlock_);
    case kIdrIdentify:
        return identifyData(idrBlock_);
    default:
        break;
    }
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "Load module ID subtype %.2X is not supported",
                  static_cast<unsigned>(idrSubtype_));
    return fail(buffer);
}

// Groups of ESDIDs (the last one marked by its high bit), a count byte c (0 or 1) and c + 1
// translator entries of 15 bytes; every listed ESDID receives the group's entries.
bool LoadModuleReader::translatorData(const std::vector<uint8_t>& d) {
    static const char* const kInvalid = "Load module translator IDR data is invalid";
    size_t at = 0;
    while (at < d.size()) {
        std::vector<uint16_t> ids;
        for (;;) {
            if (d.size() - at < 2) return fail(kInvalid);
            const uint16_t v = be16(d.data() + at);
            at += 2;
            ids.push_back(v & 0x7FFF);
            if (v & 0x8000) break;
        }
        if (at >= d.size()) return fail(kInvalid);
        const unsigned count = d[at++];
        if (count > 1 || d.size() - at < (count + 1) * kTranslatorEntry) return fail(kInvalid);
        for (uint16_t id : ids) {
            CesdEntry* e = entry(id);
            if (e == nullptr || e->type() == kLR || e->type() == kNull) {
                char buffer[96];
                std::snprintf(buffer, sizeof buffer,
                              "Load module translator IDR ESID value %.4hX is not defined",
                              static_cast<unsigned short>(id));
                return fail(buffer);
            }
            // A later group for the same ESDID replaces an earlier one.
            e->translatorCount = static_cast<uint8_t>(count + 1);
            std::memcpy(e->translator, d.data() + at, (count + 1) * kTranslatorEntry);
        }
        at += (count + 1) * kTranslatorEntry;
    }
    return true;
}

// Entries of ESDID (2 bytes), 3 bytes, a length byte n and n bytes of user data (at most 40).
bool LoadModuleReader::identifyData(const std::vector<uint8_t>& d) {
    static const char* const kInvalid = "Load module IDENTIFY IDR data is invalid";
    size_t at = 0;
    while (at < d.size()) {
        if (d.size() - at < 6) return fail(kInvalid);
        const uint16_t id = be16(d.data() + at);
        const unsigned n = d[at + 5];
        at += 6;
        if (n > kMaxIdentify || d.size() - at < n) return fail(kInvalid);
        CesdEntry* e = entry(id);
        if (e == nullptr || !isControlSection(e->type())) {
            char buffer[96];
            std::snprintf(buffer, sizeof buffer,
                          "Load module IDENTIFY IDR ESID value %.4hX is not defined",
                          static_cast<unsigned short>(id));
            return fail(buffer);
        }
        e->identifyLength = static_cast<uint8_t>(n);
        std::memcpy(e->identify, d.data() + at, n);
        at += n;
    }
    return true;
}

bool LoadModuleReader::finish() {
    if (!error_.empty()) return false;
    if (idrOpen_ && !closeIdrBlock()) return false;
    // Null entries only held their numbers.
    image_.cesd.erase(std::remove_if(image_.cesd.begin(), image_.cesd.end(),
                                     [](const CesdEntry& e) { return e.type() == kNull; }),
                      image_.cesd.end());
    if (image_.cesd.empty()) return fail("Load module contains no CESD records");
    // Sections by address and length, then label references by address, then pseudo registers
    // by address, then the external references; the ESDID breaks every tie.
    auto rank = [](const CesdEntry& e) {
        if (isSection(e.type())) return 0;
        if (e.type() == kLR) return 1;
        if (e.type() == kPR) return 2;
        return 3;
    };
    std::stable_sort(image_.cesd.begin(), image_.cesd.end(),
                     [&](const CesdEntry& a, const CesdEntry& b) {
                         const int ra = rank(a), rb = rank(b);
                         if (ra != rb) return ra < rb;
                         if (ra < 3 && a.address != b.address) return a.address < b.address;
                         if (ra == 0 && a.length != b.length) return a.length < b.length;
                         return a.esdid < b.esdid;
                     });
    return true;
}

std::string readLoadModule(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, const uint8_t* entry,
                           LoadModuleImage& image) {
    LoadModuleReader reader(entry, opx::entryLength(entry), image);
    for (;;) {
        const int st = readMemberRecord(h, ds, c);
        if (st == MEMBER_ERROR) return h->message ? h->message : "Load module data cannot be read";
        if (st == MEMBER_END) break;
        if (!reader.record(c->record, c->recordLength)) {
            skipToMemberEnd(h, ds, c);
            return reader.error();
        }
    }
    if (!reader.finish()) return reader.error();
    // The aliases of a module that is not itself an alias: directory entries of its TTR.
    if (!(entry[unload::kEntryIndicator] & unload::kAlias)) {
        const uint8_t* e2a = rt::ebcdicToAscii();
        for (unsigned i = 0; i < ds->entryCount; ++i) {
            const uint8_t* other = directoryEntry(ds, i);
            if (!(other[unload::kEntryIndicator] & unload::kAlias) ||
                std::memcmp(other + 8, entry + 8, 3) != 0)
                continue;
            AliasEntry a;
            std::memcpy(a.ebcdicName, other, 8);
            for (int k = 0; k < 8 && other[k] >= 0x41; ++k)
                a.name.push_back(static_cast<char>(e2a[other[k]]));
            DirectoryEntryInfo info;
            decodeLoadModuleEntry(other, opx::entryLength(other), &info);
            a.entryPoint = info.entryPoint;
            image.aliases.push_back(a);
        }
    }
    return "";
}

} // namespace opx
