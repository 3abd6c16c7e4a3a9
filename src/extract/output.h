// The output file of an extraction: text lines, or records in one of the six output formats
// (with block descriptors, blocking and spanning for the variable format). The file is written
// under a temporary name in the target's folder and takes the target's name only when it is
// complete, so that a failure never leaves a partial file nor destroys the file it replaces.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "connection.h"

namespace opx {

// The bytes that stand for each byte of the workstation code page in another encoding (UTF-8,
// or another single-byte page): made through the code page library by the caller.
struct TextEncoding {
    uint8_t length[256];
    uint8_t bytes[256][4];
};

struct OutputSettings {
    int type = 0;       // EXTRACT_TYPE_*
    int format = 0;     // EXTRACT_FORMAT_*
    uint32_t lrecl = 0; // output record (or line) length
    uint32_t blockSize = 0;
    uint8_t options = 0; // EXTRACT_* option bits
    uint8_t pad = 0x40;  // EBCDIC
    uint8_t tabWidth = 0;
    int lineEnd = 0;
    int traceLevel = 0;
    bool raw = false;                       // records as their bytes, nothing added or cut
    const TextEncoding* encoding = nullptr; // text lines re-encoded; null: as translated
};

class OutputFile {
  public:
    // Outcome of writing a record.
    enum Status { kOk = 0, kTruncated = 8, kFailed = 12 };

    ~OutputFile();
    // Opens a temporary file beside the target. False with error() set.
    bool open(const std::string& target, const OutputSettings& settings);
    // One record of EBCDIC data (types text, prefix, IBM and convert).
    Status record(const uint8_t* data, uint32_t length);
    // One line of workstation text, written as it is (dumps and listings).
    bool text(const char* line, size_t length);
    // Writes the last block, closes and renames the file over the target. False with error().
    bool commit();
    // Closes and removes what was written; the target is left as it was.
    void abandon();
    const std::string& error() const { return error_; }
    uint32_t maximumData() const { return maxData_; }

  private:
    bool put(const uint8_t* data, size_t length);
    // Puts workstation text, re-encoded when an encoding is set.
    bool putText(const uint8_t* data, size_t length);
    bool flushOutput();
    bool flushBlock();
    bool variable(const uint8_t* data, uint32_t length);
    void translate(uint8_t* data, size_t length) const;
    bool fail();

    OutputSettings s_;
    IoFileCore io_{};
    std::string target_, temp_;
    std::vector<uint8_t> block_;     // the block being filled (variable format), BDW first
    std::vector<uint8_t> work_;      // a record being prepared
    std::vector<uint8_t> encoded_;   // a line re-encoded
    std::unique_ptr<uint8_t[]> out_; // bytes not yet written (below trace level 3)
    size_t outFill_ = 0;
    uint32_t maxData_ = 0;
    std::string error_;
};

} // namespace opx
