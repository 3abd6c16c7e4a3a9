// What a member (or a sequential data set) holds, told from its first records: text, binary
// data, or a transmit file of its own.
//
// The rule: a transmit file when the data begins with the first segment of an INMR01 control
// record; text when the data is ISPF-packed, or when at most 1 byte in 50 of the sampled data
// is not a printable character of the EBCDIC code page in use (blank, letters, digits,
// punctuation and the page's national characters, as the translation table makes them); binary
// otherwise. Empty data is text. Only the first kSampleBytes of record data are looked at.
#pragma once

#include <cstdint>

#include "opxcore.h"

namespace opx {

enum class Content { Text, Binary, Transmit };

const char* contentName(Content c); // "text", "binary", "xmit"

// The record length by which an ISPF-packed member of the data set announces itself (fixed
// records of 16 to 256 bytes), or 0 when its members cannot be packed.
inline uint32_t packedRecordLength(const XmitDataSet* ds) {
    return ds->recfmLetters[0] == 'F' && ds->lrecl >= 16 && ds->lrecl <= 256
               ? static_cast<uint32_t>(ds->lrecl)
               : 0;
}

class ContentSniffer {
  public:
    static constexpr uint32_t kSampleBytes = 16384;

    // `lrecl`: the data set's record length (for the ISPF-packed header of fixed records), or 0.
    explicit ContentSniffer(uint32_t lrecl = 0);
    // Looks at one more record; records after the sample are ignored.
    void add(const uint8_t* data, uint32_t length);
    // Whether the sample is complete (more records would not be looked at).
    bool full() const { return seen_ >= kSampleBytes; }
    Content verdict() const;

  private:
    uint32_t lrecl_;
    uint64_t seen_ = 0, unprintable_ = 0;
    bool first_ = true;
    bool decided_ = false;
    Content decision_ = Content::Text;
};

} // namespace opx
