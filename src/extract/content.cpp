#include "content.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "ispf_packed.h"
#include "runtime.h"
#include "xmit_format.h"

namespace opx {

namespace {

// Whether each byte of the workstation code page is a printable character: the graphic
// characters of ASCII and of the upper half (national letters and signs), and the tab.
std::array<bool, 256> printableWorkstationBytes() {
    std::array<bool, 256> p{};
    for (unsigned b = 0; b < 256; ++b) p[b] = (b >= 0x20 && b < 0x7F) || b >= 0xA0 || b == '\t';
    return p;
}

// Whether data begins with the first segment of an INMR01 control record.
bool beginsTransmitFile(const uint8_t* d, uint32_t n) {
    static const uint8_t kInmr01[6] = {0xC9, 0xD5, 0xD4, 0xD9, 0xF0, 0xF1}; // "INMR01"
    return n >= 8 && d[0] >= 8 && (d[1] & 0xA0) == 0xA0 && std::memcmp(d + 2, kInmr01, 6) == 0;
}

} // namespace

const char* contentName(Content c) {
    switch (c) {
    case Content::Text:
        return "text";
    case Content::Binary:
        return "binary";
    default:
        return "xmit";
    }
}

ContentSniffer::ContentSniffer(uint32_t lrecl) : lrecl_(lrecl) {}

void ContentSniffer::add(const uint8_t* data, uint32_t length) {
    if (first_) {
        first_ = false;
        int following = 0;
        if (beginsTransmitFile(data, length)) {
            decided_ = true;
            decision_ = Content::Transmit;
        } else if (lrecl_ >= 16 && lrecl_ <= 256 &&
                   IspfUnpacker::detect(data, length, lrecl_, &following) >= 0) {
            decided_ = true;
            decision_ = Content::Text;
        }
    }
    if (decided_ || full()) return;
    static const std::array<bool, 256> printable = printableWorkstationBytes();
    const uint8_t* e2a = rt::ebcdicToAscii();
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(length, kSampleBytes - seen_));
    uint64_t bad = 0;
    for (uint32_t i = 0; i < n; ++i) bad += !printable[e2a[data[i]]];
    unprintable_ += bad;
    seen_ += n;
}

Content ContentSniffer::verdict() const {
    if (decided_) return decision_;
    return unprintable_ * 50 <= seen_ ? Content::Text : Content::Binary;
}

} // namespace opx
