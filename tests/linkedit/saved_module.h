// Modules saved by the linkage editor with COMPAT=LKED, read back: the directory entry of the
// member file's header and the load-module records behind it, decoded by the extractor's
// load-module reader.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "linkedit_support.h"
#include "loadmod_format.h"
#include "loadmodule.h"

namespace lt {

using Bytes = std::vector<uint8_t>;

inline uint32_t be(const uint8_t* p, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

// A member file saved with COMPAT=LKED: its directory entry (name left blank) and records.
struct Saved {
    Bytes entry;
    std::vector<Bytes> records;
    bool ok = false;
};
inline Saved readSaved(const std::filesystem::path& path) {
    Saved s;
    const std::string f = readFile(path);
    const auto* p = reinterpret_cast<const uint8_t*>(f.data());
    if (f.size() < loadmod::kHeaderLength) return s;
    const unsigned dataLength = p[loadmod::kHeaderEntryLength];
    s.entry.assign(8, 0x40);
    s.entry.insert(s.entry.end(), p + loadmod::kHeaderTtr, p + loadmod::kHeaderTtr + dataLength);
    size_t at = be(p + loadmod::kHeaderDescriptor, 4);
    if (at + loadmod::kDescriptorLength > f.size()) return s;
    const uint32_t count = be(p + at + loadmod::kDescriptorRecords, 4);
    at += loadmod::kDescriptorLength;
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 2 > f.size()) return s;
        const uint32_t n = be(p + at, 2);
        if (at + 2 + n > f.size()) return s;
        s.records.emplace_back(p + at + 2, p + at + 2 + n);
        at += 2 + n;
    }
    s.ok = true;
    return s;
}

// A module from its directory entry and records; "" or the reader's message.
inline std::string readImage(const Bytes& entry, const std::vector<Bytes>& records,
                             opx::LoadModuleImage& image) {
    opx::LoadModuleReader reader(entry.data(), static_cast<unsigned>(entry.size()), image);
    for (const Bytes& r : records)
        if (!reader.record(r.data(), static_cast<uint32_t>(r.size()))) break;
    if (reader.error().empty()) reader.finish();
    return reader.error();
}

} // namespace lt
