// The code page directory and its two lookups.
#include "directory.h"

#include "codexa.h"

namespace codexa {

namespace {
#include "tables/codepages.inc"

// Plain "UTF-16" and "UTF-32" mean the little-endian forms on this workstation, whatever the
// byte order of the host: this is a rule about data, not about the machine.
uint32_t preferLittleEndian(uint32_t number) {
    if (number == 1200) return 1202;
    if (number == 1232) return 1234;
    return number;
}
} // namespace

const CodePageEntry* directoryBegin() {
    return kDirectory;
}
const CodePageEntry* directoryEnd() {
    return kDirectory + sizeof kDirectory / sizeof kDirectory[0];
}
size_t directorySize() {
    return sizeof kDirectory / sizeof kDirectory[0];
}

const CodePageEntry* findByNumber(uint32_t codePage, uint32_t variant) {
    if (codePage == 0) return nullptr;
    if (variant == 0) codePage = preferLittleEndian(codePage);
    const CodePageEntry* fallback = nullptr;
    for (const CodePageEntry* row = directoryBegin(); row != directoryEnd(); ++row) {
        if (row->codePage == codePage && row->variant == variant) return row;
        if (variant == 0 && row->ccsid == codePage) fallback = row;
    }
    return fallback;
}

const CodePageEntry* findByCcsid(uint32_t ccsid) {
    if (ccsid == 0) return nullptr;
    ccsid = preferLittleEndian(ccsid);
    const CodePageEntry* fallback = nullptr;
    for (const CodePageEntry* row = directoryBegin(); row != directoryEnd(); ++row) {
        if (row->ccsid == ccsid) return row;
        if (row->variant == 0 && row->codePage == ccsid) fallback = row;
    }
    return fallback;
}

} // namespace codexa
