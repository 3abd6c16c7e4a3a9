// The module being built: its sections with their class elements, the symbol table of its
// external names, its labels and pseudo registers, and (once it is finished) its classes,
// segments and attributes. Object modules are merged into it one after the other; automatic
// call adds library members for the names that are still missing.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "linkedit.h"

namespace vrl {

struct Section;
struct Element;
struct Symbol;
struct Class;

// An input file that contributed to the module.
struct Source {
    uint16_t sequence = 0; // concatenation number (0-based)
    std::string ddName, member, path;
};

// Addressing modes of sections, labels and modules.
enum AddressingMode : int { kMode24 = 24, kMode31 = 31, kMode64 = 64, kModeAny = 99 };

struct Label {
    Symbol* symbol = nullptr;
    Element* element = nullptr;
    uint32_t offset = 0; // from the element's start
    int amode = kMode24;
};

struct PseudoRegister {
    Symbol* symbol = nullptr;
    uint64_t length = 0;
    uint8_t alignment = kAlignByte;
    uint64_t offset = 0; // in B_PRV
};

// An address constant of an element and what it refers to.
struct Relocation {
    uint32_t offset = 0; // of the constant in its element
    ConstantKind kind = ConstantKind::kA;
    uint8_t length = 4;
    bool negative = false;
    uint8_t flags = 0;          // the RLD flag byte as read
    Element* element = nullptr; // a section of the same object module...
    Symbol* symbol = nullptr;   // ...or an external name (ER, WX; XD for Q-type)
    uint32_t origin = 0;        // the target's assembled address (0 for external names)
    bool weak = false;
    bool unresolved = false; // set by relocation
};

struct Element {
    Section* section = nullptr;
    std::string className; // EBCDIC
    uint8_t alignment = kAlignDouble;
    uint32_t origin = 0; // the section's assembled address
    uint64_t length = 0;
    SectionText text;
    int amode = kMode24;
    int rmode = kMode24; // 24 or kModeAny
    bool rsect = false;
    bool loadable = true;
    uint8_t classAttributes = 0; // attribute bits a class may carry (GOFF input)
    std::vector<Relocation> rld;
    std::vector<uint8_t> sym;
    std::vector<Label*> labels;
    // Layout.
    Class* cls = nullptr;
    uint64_t offset = 0; // in its class
    bool page = false;
    uint64_t moduleOffset() const; // in its segment
};

struct Section {
    std::string name; // EBCDIC
    bool common = false;
    bool privateCode = false;
    bool merged = false;
    bool deleted = false;
    size_t source = 0;
    std::vector<std::unique_ptr<Element>> elements;
    uint8_t identification[2 * obj::kEndIdItemLength] = {};
    unsigned identificationCount = 0;
    std::string identify; // IDENTIFY data, EBCDIC
    uint8_t esdFlags = 0;
    Element* text() const; // the B_TEXT element
};

struct Reference {
    Section* from = nullptr;
    bool weak = false;
};

enum SymbolFlag : uint8_t {
    kMayUpcase = 0x02, // read in mixed case: the UPCASE pass may try it in upper case
    kWeakOnly = 0x10,
    kNoCall = 0x20,
    kNeverCall = 0x40,
    kTried = 0x80, // automatic call tried its name
};

struct Symbol {
    std::string name; // EBCDIC
    uint8_t flags = 0;
    bool triedUpper = false; // the UPCASE pass tried its upper-case name
    std::string triedMember; // the member name tried by the first pass
    std::string libraryDd;   // LIBRARY ddname(symbol)
    Section* section = nullptr;
    Label* label = nullptr;
    PseudoRegister* pseudoRegister = nullptr;
    std::vector<Reference> refs;
    unsigned queuedIn = 0; // the automatic call run that queued it

    bool defined() const { return section != nullptr || label != nullptr; }
    bool strongReference() const {
        for (const Reference& r : refs)
            if (!r.weak) return true;
        return false;
    }
};

// Classes and segments (filled by the layout).
struct Class {
    std::string name; // EBCDIC
    bool loadable = true;
    int code = 0;    // the segment code: 0 to 7
    int segment = 1; // 1 to 3; 0 for classes outside the loadable text
    uint8_t alignment = kAlignDouble;
    uint64_t offset = 0, length = 0, padding = 0;
    std::vector<Element*> elements;
};

// Module attribute flags.
enum ModuleFlag : uint32_t {
    kModNotEditable = 0x02,
    kModScatter = 0x04,
    kModRsect = 0x08,
    kModRmode24Text = 0x20,
    kModRmode24Section = 0x40,
    kModRmode31Text = 0x200,
    kModRmode31Section = 0x400,
    kModAligned = 0x800,
    kModNotExecutable = 0x1000,
    kModReplaced = 0x2000,
};

struct Module {
    std::unordered_map<std::string, Symbol*> symbolIndex;
    std::vector<std::unique_ptr<Symbol>> symbols; // in the order they were first named
    std::vector<std::unique_ptr<Section>> sections;
    std::vector<std::unique_ptr<Label>> labels;
    std::vector<std::unique_ptr<PseudoRegister>> pseudoRegisters;
    std::vector<Source> sources;
    std::unordered_map<std::string, size_t> sourceIndex;
    int objectCount = 0;
    uint32_t privateCounter = 0;
    // The entry point of the first END record that gave one.
    bool entrySet = false;
    Element* entryElement = nullptr;
    uint32_t entryOffset = 0;
    Symbol* entrySymbol = nullptr;
    // Automatic call in progress: newly referenced names are queued here.
    std::deque<Symbol*>* autocallQueue = nullptr;
    unsigned autocallRun = 0;

    // Attributes and layout, settled at finish.
    int compat = kCompatMin;
    int rmode = kRmodeUnset;
    int debug = kDebugUnset;
    int amode = kMode24; // assigned
    uint32_t flags = 0;
    bool split = false; // RMODE=SPLIT in force
    std::vector<std::unique_ptr<Class>> classes;
    Class* prvClass = nullptr;
    uint64_t segmentSize[4] = {};
    uint64_t moduleSize = 0, rmode24Size = 0, rmode31Size = 0;
    size_t esdCount = 0, rldCount = 0;
    // The settled entry point.
    Element* entry = nullptr;
    uint32_t entryInElement = 0;
    int entryAmode = kMode24;
    std::vector<std::vector<uint8_t>> image; // the text of each segment (1 to 3), relocated

    Symbol* symbol(const std::string& name);
    Symbol* find(const std::string& name) const;
    Section* section(const std::string& name) const;
};

// ---- resolution.cpp ----------------------------------------------------------------------------

// Merges a checked and normalized object module into the module being built.
void mergeObjectModule(Job& job, ObjectModule& image);
// EXPAND: adds bytes to a class of a section already read. 0 done, 1 no such section, 2 the
// element would pass 1 GB.
int expandSection(Job& job, const std::string& section, const std::string& className,
                  uint64_t bytes);
// IDENTIFY: records identification data for a section already read. False when there is no
// such section.
bool identifySection(Job& job, const std::string& section, const std::string& data);
// LIBRARY: restricts automatic call for a symbol.
void registerLibrary(Job& job, const LibraryRequest& request);
// Automatic call from a DD (AUTOCALL), or from SYSLIB and the LIBRARY DDs (empty ddName).
void autocall(Job& job, const std::string& ddName);
// Automatic call at the end of a module: SYSLIB, then the UPCASE pass.
void autocallAtFinish(Job& job);
// VRL251W to VRL255E for every name that is still missing.
void reportUnresolved(Job& job);
// A symbol's name as messages show it.
std::string symbolName(const Symbol& s, size_t pad = 0);

// ---- layout.cpp --------------------------------------------------------------------------------

// Settles the module's attributes from its options (COMPAT, RMODE, DEBUG, EDIT, SCTR).
void settleAttributes(Job& job);
// Checks, the entry point, AMODE and RMODE, classes, offsets and relocation. False when the
// module cannot be saved (a severity 12 message has been issued).
bool layoutModule(Job& job);
// The name of a COMPAT level.
const char* compatName(int level);
bool loadModuleFormat(int compat);
// The module offset of an element or label target, in its segment.
uint64_t targetOffset(const Relocation& r, bool* resolved, int* amode, int* segment);

// ---- writer.cpp --------------------------------------------------------------------------------

struct SaveResult {
    bool saved = false;
    bool replaced = false;
    std::string member, path;
    std::string timestamp; // YYYYMMDDhhmmss
    uint32_t blockSize = 0;
    std::vector<std::pair<std::string, bool>> aliases; // name, replaced
};
// Saves the laid-out module as a member file of SYSLMOD.
SaveResult saveModule(Job& job, bool saveable);

// ---- map.cpp -----------------------------------------------------------------------------------

// The unnamed-section list, the module map and the cross reference (before the save).
void printMap(Job& job);
// VRL020I and, with LIST above STMT, the save summaries.
void printSaveSummary(Job& job, const SaveResult& result);

} // namespace vrl
