// A small writer of virtual tape images for tests: AWS block headers (with chunks for long
// blocks), tape marks, HET compression (zlib or bzip2), standard labels, and the blocks of an
// IEBCOPY unload written as spanned variable records. Every part can be produced on its own, so
// that tests can build exactly the malformed image they need. This is test code.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "xmit_writer.h"

namespace tapew {

using xmitw::Bytes;

enum Compression : uint8_t { kNone = 0, kZlib = 1, kBzip2 = 2 };

class TapeWriter {
  public:
    // Into image(), or into a sink (a file) of the caller's.
    explicit TapeWriter(Compression compression = kNone, size_t chunk = 65535)
        : compression_(compression), chunk_(chunk), own_(&image_), sink_(&own_) {}
    TapeWriter(xmitw::Sink& sink, Compression compression)
        : compression_(compression), chunk_(65535), own_(&image_), sink_(&sink) {}
    // One tape block: compressed when the writer compresses, cut into chunks.
    void block(const Bytes& data);
    void tapeMark();
    // A header exactly as given, and data after it.
    void raw(uint16_t length, uint16_t previous, uint8_t flags, const Bytes& data);
    const Bytes& image() const { return image_; }
    uint16_t previous() const { return previous_; }

  private:
    Compression compression_;
    size_t chunk_;
    uint16_t previous_ = 0;
    Bytes image_;
    xmitw::Sink own_;
    xmitw::Sink* sink_;
};

// Records written as spanned variable records into blocks of at most `blksize` bytes (block
// descriptor, then segments: whole X'00', first X'01', middle X'03', last X'02'), each block
// handed on as it is full.
class SpannedBlocker {
  public:
    SpannedBlocker(size_t blksize, std::function<void(const Bytes&)> onBlock)
        : blksize_(blksize), onBlock_(std::move(onBlock)) {}
    void record(const Bytes& r);
    void finish();

  private:
    size_t blksize_;
    std::function<void(const Bytes&)> onBlock_;
    Bytes block_;
};

// Standard labels (80 bytes of EBCDIC).
Bytes vol1(const std::string& volser);
Bytes hdr1(const std::string& id, const std::string& dsname, unsigned file,
           const std::string& created = " 21068");
Bytes hdr2(const std::string& id, char recfm, int blksize, int lrecl, char attribute);

struct TapeFile {
    std::string dsname;
    char recfm = 'F';
    int blksize = 3200, lrecl = 80;
    char attribute = 'B';
    std::vector<Bytes> blocks;
};

// A labeled tape: VOL1, then HDR1 HDR2 TM data TM EOF1 EOF2 TM for each file, and TM.
Bytes labeledTape(const std::string& volser, const std::vector<TapeFile>& files,
                  Compression compression = kNone);
// An unlabeled tape: each file's blocks and a tape mark, and one more tape mark.
Bytes unlabeledTape(const std::vector<std::vector<Bytes>>& files, Compression compression = kNone);

// Fixed records put into blocks of `perBlock` records.
std::vector<Bytes> fixedBlocks(const std::vector<Bytes>& records, size_t perBlock);
// Records written as spanned variable records into blocks of at most `blksize` bytes.
std::vector<Bytes> spannedBlocks(const std::vector<Bytes>& records, size_t blksize);
// The records of a partitioned data set's IEBCOPY unload.
std::vector<Bytes> unloadOf(const xmitw::Pds& pds);

} // namespace tapew
