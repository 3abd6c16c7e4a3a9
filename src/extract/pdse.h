// The IEBCOPY unload of a PDSE (partitioned data set extended): the few places where its
// records differ from those of an ordinary unload. The unload reader and the member cursor ask
// these functions when the data set's kind is XMIT_KIND_PDSE; only the internal paths of the
// extractor read such a data set (the library's exported calls keep refusing it).
#pragma once

#include <cstdint>

namespace opx::pdse {

// Whether a directory record's 12-byte count field is one of a PDSE unload: the ordinary
// fixed count field with the directory flag X'08' in its first byte, or without it.
bool directoryCountField(const uint8_t* countField);

// Whether the rest of a directory record (`left` bytes) is the marker that ends the directory
// of a PDSE unload: a 12-byte count field of flag X'88' and nothing else.
bool directoryEnd(const uint8_t* rest, uint32_t left);

// What a count field of the member data of a PDSE unload introduces.
enum class Block {
    Data,      // a block of the current member's data
    MemberEnd, // the end of the current member's data (data length 0)
    PassOver,  // attribute data, or the end of an attribute group: no member data
    Invalid    // a flag that no PDSE unload carries
};
Block classify(const uint8_t* countField);

} // namespace opx::pdse
