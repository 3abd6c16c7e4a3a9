// A small writer of TSO TRANSMIT bytes for tests: segments, control records with text units,
// and the IEBCOPY unload of a partitioned data set (COPYR1, COPYR2, directory blocks, member
// blocks behind count fields). Every part can be produced on its own, so that tests can build
// exactly the malformed input they need. This is test code, not the builder.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xmitw {

using Bytes = std::vector<uint8_t>;

// EBCDIC (code page 1047) of an ASCII / Latin-1 text.
Bytes ebcdic(std::string_view text);
// A name of 8 EBCDIC characters, blank padded.
Bytes name8(std::string_view name);
void put16(Bytes& b, uint32_t v);
void put24(Bytes& b, uint32_t v);
void put32(Bytes& b, uint32_t v);
inline void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

// ---- control records ------------------------------------------------------------------------

struct TextUnit {
    uint16_t key;
    std::vector<Bytes> values;
};
TextUnit textUnit(uint16_t key, std::string_view text); // one EBCDIC value
TextUnit numberUnit(uint16_t key, uint32_t value, unsigned width);
TextUnit qualifierUnit(uint16_t key, std::string_view dsname); // one value per qualifier
TextUnit flagUnit(uint16_t key);                               // no values
Bytes encodeTextUnits(const std::vector<TextUnit>& units);
// "INMR01".."INMR06"; INMR02 takes a file number.
Bytes controlRecord(std::string_view id, const std::vector<TextUnit>& units,
                    std::optional<uint32_t> fileNumber = std::nullopt);

// ---- segments --------------------------------------------------------------------------------

// Where the bytes go: a vector or a file.
class Sink {
  public:
    explicit Sink(Bytes* out) : vector_(out) {}
    explicit Sink(std::FILE* out) : file_(out) {}
    void write(const uint8_t* data, size_t size);
    uint64_t written() const { return written_; }

  private:
    Bytes* vector_ = nullptr;
    std::FILE* file_ = nullptr;
    uint64_t written_ = 0;
};

class SegmentWriter {
  public:
    explicit SegmentWriter(Sink& sink) : sink_(sink) {}
    // One logical record, cut into segments of at most maxData data bytes.
    void record(const Bytes& data, bool control = false, unsigned maxData = 253);
    // One raw segment: length byte, flags and data exactly as given.
    void segment(uint8_t length, uint8_t flags, const Bytes& data);
    // Raw bytes.
    void raw(const Bytes& bytes);
    // Pads with blanks (X'40') to a multiple of 80 bytes, and to at least 160.
    void finish();

  private:
    Sink& sink_;
};

// ---- partitioned data sets ------------------------------------------------------------------

struct IspfStats {
    uint8_t version = 1, modification = 0;
    uint32_t created = 121001; // 0CYYDDD: 2021, day 1
    uint32_t changed = 121032;
    uint8_t hour = 0x14, minute = 0x05; // packed
    std::string user = "IBMUSER";
    bool fifteenHalfwords = false;
};
// A packed date 0C YY DD DF from the value 0CYYDDD (sign F unless another is given).
Bytes packedDate(uint32_t value, uint8_t sign = 0x0F);
Bytes ispfUserData(const IspfStats& s);

struct Member {
    std::string name;
    std::vector<Bytes> records; // EBCDIC records (for RECFM U: the blocks)
    // For large files: records made on demand instead of held in `records` (fixed format).
    size_t generatedCount = 0;
    std::function<Bytes(size_t)> generate;
    std::optional<IspfStats> stats;
    Bytes userData; // used when no stats are given (e.g. load-module data)
    std::vector<std::string> aliases;
};

struct Pds {
    std::string dsname = "TEST.PDS";
    uint8_t recfm = 0x90; // FB
    int lrecl = 80;
    int blksize = 800;
    uint16_t tracksPerCylinder = 15;
    uint8_t r1Flags = 0x00;
    uint8_t smsFlags = 0x00;
    unsigned r1Length = 56;
    // Extents as (start cylinder, start head, end cylinder, end head).
    std::vector<std::array<uint16_t, 4>> extents = {{10, 0, 99, 14}};
    unsigned blocksPerTrack = 6;
    unsigned directoryBlocksPerRecord = 8;
    unsigned spareDirectoryBlocks = 1;
    bool directoryEndMarker = true;
    size_t maxUnloadRecord = 32760;
    std::vector<Member> members;
};

using Emit = std::function<void(const Bytes& record, bool control)>;

// The unload's records: COPYR1, COPYR2, the directory records, the member data records.
void unloadRecords(const Pds& pds, const Emit& emit);
Bytes copyR1(const Pds& pds);
Bytes copyR2(const Pds& pds);
// A directory entry (name, TTR, indicator, user data).
Bytes directoryEntry(std::string_view name, uint32_t ttr, bool alias, const Bytes& userData);

struct Origin {
    std::string node = "NODE1", user = "USER1", time = "20261208120000";
};

// Logical records of a whole transmit file: INMR01, INMR02 groups, INMR03s, data, INMR06.
void pdsTransmit(const Pds& pds, const Emit& emit, const Origin& origin = {},
                 const std::vector<std::string>* message = nullptr);
void sequentialTransmit(std::string_view dsname, uint8_t recfm, int lrecl, int blksize,
                        const std::vector<Bytes>& records, const Emit& emit,
                        const Origin& origin = {});

// Writes records as a complete file image (segments, padding).
struct LogicalRecord {
    Bytes data;
    bool control;
};
std::vector<LogicalRecord> collect(const std::function<void(const Emit&)>& produce);
Bytes fileImage(const std::vector<LogicalRecord>& records, unsigned maxData = 253);

} // namespace xmitw
