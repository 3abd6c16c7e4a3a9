// Load modules as member files of a load library: the file the linkage editor saves with
// COMPAT=LKED, checked before anything is transmitted, and its records placed as the blocks of
// the member.
//
//   +0     256-byte header: X'F3F9F040', version 2, ...; byte 28 the length of the directory
//          data at 30 (TTR and indicator of the entry, then its user data from 34)
//   +N     (header bytes 204-207) a 16-byte block descriptor: "LM", the block length at 6-7,
//          the number of records at 8-11; header bytes 196-199 give the length of the
//          descriptor and the records together
//   +N+16  the load-module records, each behind a 2-byte length that does not count itself
//
// The TTR fields of the user data (the first text record at 0, the note list at 4) hold the
// 1-based number of a record of the file; they become the track addresses the records get.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bren {

struct LoadModuleFile {
    uint64_t recordsOffset = 0; // where the first record's length stands
    uint64_t recordsEnd = 0;
    uint32_t recordCount = 0;
    uint32_t blockLength = 0; // the largest block of the module
    uint32_t moduleSize = 0;
};

// Examines a member file: "" with the directory user data and the record area filled in, or
// the message that refuses it.
std::string examineLoadModule(const char* member, const std::string& path, LoadModuleFile& file,
                              std::vector<uint8_t>& userData);

// Places a block of the member; fills its TTR. False after a failure (the caller knows why).
using PlaceBlock = std::function<bool(const uint8_t* block, uint32_t length, uint32_t* ttr)>;

// Writes the module's records as the member's blocks (one record a block) and puts the track
// addresses into the user data. False with *message set (or empty when `place` failed).
bool writeLoadModule(const char* member, const std::string& path, const LoadModuleFile& file,
                     std::vector<uint8_t>& userData, uint32_t blksize, const PlaceBlock& place,
                     std::string* message);

} // namespace bren
