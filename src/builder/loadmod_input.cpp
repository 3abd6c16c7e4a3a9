// Load-module member files: the checks before a load library is transmitted, and the module's
// records placed as the member's blocks.
#include "loadmod_input.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>

#include "loadmod_format.h"
#include "loadmodule.h"
#include "members.h"
#include "record_file.h"
#include "runtime.h"
#include "unload_format.h"
#include "xmit_format.h"

namespace bren {

namespace {

using xmit::be16;
using xmit::be24;
using xmit::be32;

using loadmod::kDescriptorBlockLength;
using loadmod::kDescriptorId;
using loadmod::kDescriptorLength;
using loadmod::kDescriptorRecords;
using loadmod::kHeaderDescriptor;
using loadmod::kHeaderEntryLength;
using loadmod::kHeaderFlags;
using loadmod::kHeaderId;
using loadmod::kHeaderIndicator;
using loadmod::kHeaderLength;
using loadmod::kHeaderLkedLength;
using loadmod::kHeaderUserData;
using loadmod::kHeaderVersion;
// Directory entries of load modules: an even length from 34 to 74 bytes, so that they pack
// into the 254 bytes of a directory block.
constexpr unsigned kMinEntry = 34, kMaxEntry = 74;
// User data offsets of the two TTRs (entry offsets 12 and 16).
constexpr unsigned kTextTtr = unload::kLmTextTtr - unload::kEntryHeader;
constexpr unsigned kNoteTtr = unload::kLmNoteTtr - unload::kEntryHeader;
constexpr unsigned kNoteCount = unload::kLmNoteCount - unload::kEntryHeader;

// An open member file that closes itself.
struct File {
    IoFileCore io{};
    explicit File(const std::string& path) {
        io.path = path.c_str();
        io.mode = IO_READ;
        io.binary = 1;
        io.traceLevel = rt::traceLevel();
    }
    ~File() {
        if (io.stream != nullptr) rt::ioClose(io, false);
    }
    // Reads n bytes at an offset: 1 when all were read, 0 when the file is shorter, -1 on error.
    int readAt(int64_t offset, uint8_t* out, size_t n) {
        if (rt::ioSeek(io, offset, SEEK_SET) != IO_OK) return -1;
        const size_t got = rt::ioRead(io, out, 1, n);
        if (got == n) return 1;
        return io.status == IO_ERROR ? -1 : 0;
    }
};

std::string notValid(const char* member) {
    return rt::message("Member %s is not a valid load module.", member);
}

} // namespace

std::string examineLoadModule(const char* member, const std::string& path, LoadModuleFile& file,
                              std::vector<uint8_t>& userData) {
    file = LoadModuleFile{};
    userData.clear();
    if (!isRegularFile(path) && rt::ioAccess(path.c_str(), 0, rt::traceLevel()) != 0)
        return rt::message("Member %s does not exist as file \"%s\"", member, path.c_str());
    File f(path);
    if (rt::ioOpen(f.io) != IO_OK)
        return rt::message("Cannot read member %s as file \"%s\": %s", member, path.c_str(),
                           std::strerror(f.io.errnum));
    uint8_t h[kHeaderLength];
    const int got = f.readAt(0, h, sizeof h);
    if (got < 0)
        return rt::message("Error reading \"%s\": %s", path.c_str(), std::strerror(f.io.errnum));
    if (got == 0 || std::memcmp(h, kHeaderId, 4) != 0) return notValid(member);
    const uint32_t version = be32(h + kHeaderVersion);
    if (version != 2)
        return rt::message("Member %s is a version %u load module and cannot be transmitted.",
                           member, version);
    if (h[kHeaderFlags] & loadmod::kHeaderNotExecutable)
        return rt::message("Member %s is marked as not executable and cannot be transmitted.",
                           member);
    if (h[kHeaderIndicator] & unload::kAlias)
        return rt::message("Member %s is an alias and cannot be transmitted.", member);
    const uint32_t lked = be32(h + kHeaderLkedLength);
    if (lked == 0)
        return rt::message("Member %s was not saved using COMPAT=LKED and cannot be transmitted.",
                           member);
    if (lked <= kDescriptorLength) return notValid(member);
    const uint32_t at = be32(h + kHeaderDescriptor);
    uint8_t d[kDescriptorLength];
    const int read = f.readAt(at, d, sizeof d);
    if (read < 0)
        return rt::message("Error reading \"%s\": %s", path.c_str(), std::strerror(f.io.errnum));
    if (read == 0 || std::memcmp(d, kDescriptorId, 2) != 0 || be32(d + kDescriptorRecords) == 0 ||
        be16(d + kDescriptorBlockLength) == 0)
        return notValid(member);
    // The directory entry: header byte 28 counts the TTR and indicator at 30 and the user data
    // from 34, so the entry (with its 8-byte name) is that plus 8.
    const unsigned entry = h[kHeaderEntryLength] + 8u;
    if (entry < kMinEntry || entry > kMaxEntry || entry % 2 != 0) return notValid(member);
    userData.assign(h + kHeaderUserData, h + kHeaderUserData + (entry - unload::kEntryHeader));
    // The records must lie inside the file.
    if (rt::ioSeek(f.io, 0, SEEK_END) != IO_OK)
        return rt::message("Error reading \"%s\": %s", path.c_str(), std::strerror(f.io.errnum));
    const uint64_t end = uint64_t(at) + lked;
    if (end > static_cast<uint64_t>(f.io.position)) return notValid(member);
    file.recordsOffset = uint64_t(at) + kDescriptorLength;
    file.recordsEnd = end;
    file.recordCount = be32(d + kDescriptorRecords);
    file.blockLength = be16(d + kDescriptorBlockLength);
    file.moduleSize = be24(userData.data() + (unload::kLmSize - unload::kEntryHeader));
    return "";
}

bool writeLoadModule(const char* member, const std::string& path, const LoadModuleFile& file,
                     std::vector<uint8_t>& userData, uint32_t blksize, const PlaceBlock& place,
                     std::string* message) {
    message->clear();
    RecordFile f{};
    f.io.path = path.c_str();
    f.mode = RECORD_MODE_STORED;
    f.recfmCode = RECFM_CODE_UNDEFINED;
    f.lrecl = blksize < 32760 ? blksize : 32760;
    f.flags = RECORD_STRIPPED;
    struct Closer {
        RecordFile& f;
        ~Closer() { closeRecordFile(f); }
    } closer{f};
    if (openRecordFile(f) != IO_OK) {
        *message = rt::message("Cannot read member %s as file \"%s\": %s", member, path.c_str(),
                               std::strerror(f.io.errnum));
        return false;
    }
    if (seekRecordFile(f, static_cast<int64_t>(file.recordsOffset), SEEK_SET) != IO_OK) {
        *message =
            rt::message("Error reading \"%s\": %s", path.c_str(), std::strerror(f.io.errnum));
        return false;
    }
    // The records are checked as the extractor reads them, against the entry they belong to.
    std::vector<uint8_t> entry(unload::kEntryHeader + userData.size(), 0);
    entry[unload::kEntryIndicator] = static_cast<uint8_t>(userData.size() / 2);
    std::memcpy(entry.data() + unload::kEntryHeader, userData.data(), userData.size());
    opx::LoadModuleImage image;
    opx::LoadModuleReader reader(entry.data(), static_cast<unsigned>(entry.size()), image);

    std::map<uint32_t, uint32_t> ttrs; // record number -> TTR
    uint64_t at = file.recordsOffset;
    bool textFollows = false;
    uint32_t textAddress = 0, textLength = 0;
    uint64_t controlAt = 0;
    for (uint32_t n = 1; n <= file.recordCount; ++n) {
        const int st = at + 2 <= file.recordsEnd ? readRecord(f) : RECORD_FORMAT_ERROR;
        if (st == IO_ERROR) {
            *message =
                rt::message("Error reading \"%s\": %s", path.c_str(), std::strerror(f.io.errnum));
            return false;
        }
        if (st != IO_OK || at + 2 + f.recordLength > file.recordsEnd) {
            *message = rt::message("Error reading \"%s\": Invalid LMF RDW at +%lu", path.c_str(),
                                   static_cast<unsigned long>(at));
            return false;
        }
        const uint8_t* r = f.record;
        const uint32_t length = f.recordLength;
        if (textFollows) {
            // The text a control record announced must lie inside the module.
            textFollows = false;
            if (uint64_t(textAddress) + length > file.moduleSize || length != textLength) {
                *message = rt::message(
                    "Error reading \"%s\": Invalid LMF control record at +%lu, text address=%.8lX "
                    "length=%.4lX",
                    path.c_str(), static_cast<unsigned long>(controlAt),
                    static_cast<unsigned long>(textAddress), static_cast<unsigned long>(length));
                return false;
            }
        } else if (length >= 16 && loadmod::isControl(r[0]) && (r[0] & loadmod::kTextFollows)) {
            textFollows = true;
            textAddress = be24(r + loadmod::kCtlTextAddress);
            textLength = be16(r + 14);
            controlAt = at;
        }
        if (!reader.record(r, length)) {
            *message =
                rt::message("Error reading \"%s\": %s", path.c_str(), reader.error().c_str());
            return false;
        }
        uint32_t ttr = 0;
        if (!place(r, length, &ttr)) return false;
        ttrs[n] = ttr;
        at += 2 + length;
    }
    if (!reader.finish()) {
        *message = rt::message("Error reading \"%s\": %s", path.c_str(), reader.error().c_str());
        return false;
    }
    // The entry's references to records become the records' track addresses.
    auto resolve = [&](unsigned offset) {
        const uint32_t number = be24(userData.data() + offset);
        const auto it = ttrs.find(number);
        if (it == ttrs.end()) {
            *message = rt::message("Internal error: TTR for record %lu of member %s not found.",
                                   static_cast<unsigned long>(number), member);
            return false;
        }
        userData[offset] = static_cast<uint8_t>(it->second >> 16);
        userData[offset + 1] = static_cast<uint8_t>(it->second >> 8);
        userData[offset + 2] = static_cast<uint8_t>(it->second);
        return true;
    };
    if (!resolve(kTextTtr)) return false;
    if (userData[kNoteCount] != 0 && !resolve(kNoteTtr)) return false;
    return true;
}

} // namespace bren
