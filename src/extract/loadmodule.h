// A load module read from the member records of a load library: its text, relocation
// dictionary, external symbols, identification and symbol data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "opxcore.h"

namespace opx {

struct RelocationItem {
    uint16_t relocationPointer; // ESDID of the symbol the constant refers to (0 for CXD)
    uint8_t flags;              // with X'01' cleared
    uint32_t address;           // module address of the constant
};

struct CesdEntry {
    uint8_t bytes[16]; // as stored: name, type, address, flags, length or owner
    uint32_t address = 0;
    uint32_t length = 0;
    uint16_t esdid = 0;
    uint16_t owner = 0;                     // label references: the owning section
    std::vector<RelocationItem> relocation; // items whose constants lie in this section
    uint8_t translatorCount = 0;
    uint8_t translator[2][15] = {};
    uint8_t identifyLength = 0;
    uint8_t identify[40] = {};

    uint8_t type() const { return bytes[8] & 0x0F; }
    uint8_t sectionFlags() const { return bytes[12]; }
};

struct AliasEntry {
    std::string name; // workstation characters
    uint8_t ebcdicName[8];
    uint32_t entryPoint;
};

struct LoadModuleImage {
    std::vector<uint8_t> text;       // module size bytes
    std::vector<uint8_t> scatter;    // scatter list, then translation table
    std::vector<uint8_t> sym;        // symbol card images
    std::vector<CesdEntry> cesd;     // in table order after reading
    std::vector<AliasEntry> aliases; // alias entries of this module
    DirectoryEntryInfo info{};
    uint8_t linkEdit[19] = {}; // linkage editor identification
    uint8_t linkEditLength = 0;

    const CesdEntry* find(uint16_t esdid) const;
};

// Reads the current member (the cursor at its first record) into an image. Returns "" or the
// error message (the member cursor's messages included).
std::string readLoadModule(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, const uint8_t* entry,
                           LoadModuleImage& image);

// Reads a load module from its records, one after the other (for inputs that are not inside a
// transmit file). Returns "" or the error message.
class LoadModuleReader {
  public:
    LoadModuleReader(const uint8_t* directoryEntry, unsigned entryLength, LoadModuleImage& image);
    // Takes the next member record; false after an error (see error()).
    bool record(const uint8_t* data, uint32_t length);
    // Ends the member: the table is checked and sorted. False after an error.
    bool finish();
    const std::string& error() const { return error_; }

  private:
    bool fail(std::string message);
    bool control(const uint8_t* r, uint32_t length);
    bool relocation(const uint8_t* data, uint32_t length);
    bool scatter(const uint8_t* r, uint32_t length);
    bool cesd(const uint8_t* r, uint32_t length);
    bool symbols(const uint8_t* r, uint32_t length);
    bool idr(const uint8_t* r, uint32_t length);
    bool closeIdrBlock();
    bool translatorData(const std::vector<uint8_t>& d);
    bool identifyData(const std::vector<uint8_t>& d);
    CesdEntry* entry(uint16_t esdid);

    LoadModuleImage& image_;
    std::string error_;
    unsigned long recordNumber_ = 0;
    bool textExpected_ = false;
    unsigned long textAnnouncedBy_ = 0;
    uint32_t textAddress_ = 0;
    size_t scatterFill_ = 0;
    bool idrOpen_ = false;
    uint8_t idrSubtype_ = 0;
    std::vector<uint8_t> idrBlock_;
};

} // namespace opx
