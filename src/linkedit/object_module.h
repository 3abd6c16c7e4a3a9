// The object-module image: one object module as read from its cards, checked and named, before
// it is merged into the module being built. Everything stays as the translator wrote it: names
// in EBCDIC, addresses as assembled (the "assembled origin" of each section is its ESD
// address), text per section.
//
// Readers of other object formats fill the same image, and writers of object decks can build
// one and write it out card by card.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "obj_format.h"

namespace vrl {

// Kinds of address constants.
enum class ConstantKind : uint8_t {
    kA,        // A-type: the address of the target
    kV,        // V-type: the address of an external entry
    kQ,        // Q-type: the offset of a pseudo register
    kCxd,      // the cumulative length of the pseudo registers
    kRelative, // relative-immediate: the halfword distance to the target
};

// Alignment codes: the alignment is 2 to the power of the code (0 byte ... 4 quadword,
// 12 page).
enum : uint8_t { kAlignByte = 0, kAlignHalf = 1, kAlignFull = 2, kAlignDouble = 3, kAlignQuad = 4 };

struct EsdItem;

// The text of a section as written by its TXT records: runs in the order written (a later run
// overwrites an earlier one where they overlap). A section declared with a large length costs
// only the text it really has; bytes that no run covers are zero.
struct SectionText {
    struct Run {
        uint32_t offset;
        std::vector<uint8_t> bytes;
    };
    std::vector<Run> runs;

    void write(uint32_t offset, const uint8_t* data, size_t size) {
        if (!runs.empty() && runs.back().offset + runs.back().bytes.size() == offset) {
            runs.back().bytes.insert(runs.back().bytes.end(), data, data + size);
            return;
        }
        runs.push_back({offset, std::vector<uint8_t>(data, data + size)});
    }
    // Copies the text into `out`, which holds `size` bytes; runs beyond it are cut.
    void copyTo(uint8_t* out, size_t size) const {
        for (const Run& r : runs) {
            if (r.offset >= size) continue;
            const size_t n = std::min(r.bytes.size(), size - r.offset);
            std::copy_n(r.bytes.data(), n, out + r.offset);
        }
    }
    bool empty() const { return runs.empty(); }
    uint64_t bytes() const {
        uint64_t n = 0;
        for (const Run& r : runs) n += r.bytes.size();
        return n;
    }
};

// One address constant of a section.
struct RldEntry {
    EsdItem* target = nullptr; // null for a CXD without target
    uint32_t address = 0;      // assembled address of the constant
    ConstantKind kind = ConstantKind::kA;
    bool negative = false;
    uint8_t length = 4; // bytes of the constant (2 or 4 for relative-immediate)
    uint8_t flags = 0;  // the RLD flag byte as read, X'01' cleared
};

// One ESD item: a section (SD, PC, CM), a label (LD), a reference (ER, WX) or a pseudo
// register (XD).
struct EsdItem {
    EsdItem* owner = nullptr; // LD: the section it lies in; ER, XD, WX: the section that refers
                              // to it (null when several do, or none yet)
    SectionText text;         // SD, PC: offsets from the section's address
    uint32_t length = 0;
    uint32_t address = 0;
    uint16_t nameLength = 0;          // 0: unnamed
    uint16_t esdid = 0;               // 0 for LD
    uint8_t type = 0;                 // obj::ItemType, the quadword forms kept
    uint8_t flags = 0;                // section flags (SD, PC, CM, LD); 0 for ER and WX
    uint8_t attribute = 0;            // XSD attribute byte
    uint8_t alignment = kAlignDouble; // of a section or pseudo register
    bool referenced = false;          // ER, XD, WX: named by an RLD entry
    bool manyReferrers = false;       // ER, XD, WX: named from more than one section
    uint8_t sectionAlignment = 0;     // SD, PC: raised by Q-type and CXD constants and XDs
    bool lengthOpen = false;          // SD, PC: ESD length 0, grown by text
    std::string name;                 // EBCDIC, without padding; empty when unnamed (until named)
    std::string className;            // SD, PC, CM from GOFF: the class of the element's text
                                      // (EBCDIC); empty for B_TEXT

    std::vector<RldEntry> rld;                    // SD, PC: the constants in the section
    std::vector<EsdItem*> refs;                   // SD, PC: the names it refers to (LD, ER, XD, WX)
    std::vector<uint8_t> sym;                     // SD, PC, CM: its symbol data items
    std::vector<std::unique_ptr<EsdItem>> copies; // references copied to this section

    bool isSection() const { return isSectionType(type); }
    bool isControlSection() const { return type == obj::kSD || type == obj::kSDQ; }
    bool isPrivate() const { return type == obj::kPC || type == obj::kPCQ; }
    bool isCommon() const { return type == obj::kCM || type == obj::kCMQ; }
    bool holdsText() const { return isControlSection() || isPrivate(); }
    bool isReference() const { return type == obj::kER || type == obj::kWX; }
    static bool isSectionType(uint8_t t) {
        return t == obj::kSD || t == obj::kPC || t == obj::kCM || t == obj::kSDQ ||
               t == obj::kPCQ || t == obj::kCMQ;
    }
};

// Generated names (EBCDIC): the blank common, and private code " PRIV000001" and on.
inline constexpr unsigned kPrivateNameLength = 11;
inline constexpr unsigned kBlankCommonNameLength = 9;

struct ObjectModule {
    std::vector<std::unique_ptr<EsdItem>> items; // in input order
    std::unordered_map<uint16_t, EsdItem*> byEsdid;
    std::vector<uint8_t> sym; // symbol data, concatenated over the SYM records
    uint8_t identification[2 * obj::kEndIdItemLength] = {};
    unsigned identificationCount = 0;
    EsdItem* entrySection = nullptr; // entry by ESDID (SD or PC) and address
    uint32_t entryAddress = 0;
    std::string entryName; // entry by name (an LD, ER or WX of the module), EBCDIC trimmed
    EsdItem* entryItem = nullptr;
    EsdItem* openSection = nullptr; // the one section whose length was left open
    bool error = false;
    bool endRead = false;
    bool seenEsd = false; // an ESD item has been read (a SYM record is then out of sequence)

    EsdItem* find(uint16_t esdid) const {
        const auto it = byEsdid.find(esdid);
        return it == byEsdid.end() ? nullptr : it->second;
    }
    // The first SD or PC of the module.
    EsdItem* firstTextSection() const;
};

} // namespace vrl
