// The IEBCOPY unload of a PDSE, as it travels in a transmit file. What follows was learned from
// unloads of two PDSE libraries of fixed 80-byte records (two JCL members each); it holds for
// data members, which is all that is read here.
//
// The unload has the shape of an ordinary one, with these differences:
//
//   COPYR1     unload flags X'01' (ordinary unload type, PDSE bit) and 256 tracks per cylinder:
//              the data set is a PDSE. The device information is made up; so is COPYR2, whose
//              extents (cylinder 0 head 0 onward, 256 heads a cylinder) describe no volume.
//   directory  276-byte blocks as usual, but the count field in front of each carries the flag
//              X'08' in its first byte:  08 00000000 00000000 08 0100.  The directory ends with
//              a record of its own: a lone 12-byte count field of flag X'88', all else zero.
//   members    blocks behind 12-byte count fields, as usual. The count field's CCHHR is not a
//              place on a volume: every block of a member carries the member's TTR from the
//              directory (cylinder 0, head = track, record number), so the first block of a
//              member is found by its TTR as in an ordinary unload. The flag byte tells the
//              blocks apart:
//                X'00'  member data (records cut from it by the data set's record format)
//                X'80'  data length 0: the end of the member's data
//                X'04'  the member's attributes (a record that begins "IGWFAHR"), then
//                X'84'  data length 0: the end of the attribute group
//                X'02'  attributes of the library, after the last member, then
//                X'C2'  data length 0: the end of the unload
//              So the flag's X'80' bit ends a group, X'40' with it ends the last one, and X'04'
//              and X'02' mark attribute groups, which carry no member data and are passed over.
//
// Program objects in a PDSE program library are not in the record format of a load module;
// the extractor refuses them.
#include "pdse.h"

#include <cstring>

#include "unload_format.h"

namespace opx::pdse {

namespace {

constexpr uint8_t kDirectoryFlag = 0x08;
constexpr uint8_t kGroupEnd = 0x80;
constexpr uint8_t kLastGroup = 0x40;
constexpr uint8_t kMemberAttributes = 0x04;
constexpr uint8_t kLibraryAttributes = 0x02;
constexpr uint8_t kDirectoryEndFlag = kGroupEnd | kDirectoryFlag;

// Whether the bytes after a count field's flag byte are all zero.
bool restIsZero(const uint8_t* countField) {
    for (unsigned i = 1; i < unload::kCountField; ++i)
        if (countField[i] != 0) return false;
    return true;
}

} // namespace

bool directoryCountField(const uint8_t* cf) {
    if (cf[0] != 0 && cf[0] != kDirectoryFlag) return false;
    return std::memcmp(cf + 1, unload::kDirectoryCountField + 1,
                       sizeof unload::kDirectoryCountField - 1) == 0;
}

bool directoryEnd(const uint8_t* rest, uint32_t left) {
    return left == unload::kCountField && rest[0] == kDirectoryEndFlag && restIsZero(rest);
}

Block classify(const uint8_t* cf) {
    const uint8_t flag = cf[unload::kCfFlag];
    const bool empty = cf[unload::kCfDataLength] == 0 && cf[unload::kCfDataLength + 1] == 0;
    const uint8_t kind = flag & static_cast<uint8_t>(~(kGroupEnd | kLastGroup));
    if (flag & kGroupEnd) {
        // The end of a group carries no data.
        if (!empty) return Block::Invalid;
        if (kind == 0 && !(flag & kLastGroup)) return Block::MemberEnd;
        if (kind == kMemberAttributes || kind == kLibraryAttributes || kind == kDirectoryFlag)
            return Block::PassOver;
        return Block::Invalid;
    }
    if (flag & kLastGroup) return Block::Invalid;
    if (kind == 0) return empty ? Block::MemberEnd : Block::Data;
    if (kind == kMemberAttributes || kind == kLibraryAttributes) return Block::PassOver;
    return Block::Invalid;
}

} // namespace opx::pdse
