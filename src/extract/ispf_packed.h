// ISPF packed members: ISPF may store a member of fixed records in a packed form of its own,
// announced by its first record. The unpacker turns the packed bytes back into lines of LRECL
// bytes; the extraction feeds it a member's records and writes the lines it gives.
//
// The packed bytes, after the header of the first record:
//   X'80'-X'FE'   copy the next (code - X'7F') bytes
//   X'7A' n b     repeat byte b n + 1 times
//   other codes   code + 1 blanks
//   X'FF'         the end of the member; what follows is not used
// Runs stop at the end of the output line. At the start of a line, a short rest of a record
// (up to 5 bytes) that begins with a blank is passed over.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "xmit_format.h"

namespace opx {

// Unpacks the packed bytes of one member into lines of LRECL bytes.
class IspfUnpacker {
  public:
    IspfUnpacker(uint32_t lrecl, std::vector<uint8_t>& line) : lrecl_(lrecl), line_(line) {}

    // Detects the packed form from the first record; returns the data offset or -1.
    static int detect(const uint8_t* r, uint32_t n, uint32_t lrecl, int* following) {
        *following = 0;
        if (n >= 8 && r[0] == 0x00 && r[1] == 0x01 && r[2] == 0x40 && r[3] == 0xC6 &&
            xmit::be16(r + 6) == lrecl)
            return 8;
        if (n > 9 && r[0] == 0x00 && r[5] == 0xC6 && xmit::be16(r + 8) == lrecl) {
            *following = 2;
            return 10;
        }
        return -1;
    }
    bool ended() const { return ended_; }
    // Feeds the data of one input record; `emit` receives each full line.
    template <class Emit> bool feed(const uint8_t* d, uint32_t n, Emit emit) {
        uint32_t i = 0;
        while (i < n && !ended_) {
            if (pendingCopy_ > 0) {
                const uint32_t take = std::min(pendingCopy_, n - i);
                for (uint32_t k = 0; k < take; ++k)
                    if (!put(d[i + k], emit)) return false;
                pendingCopy_ -= take;
                i += take;
                continue;
            }
            if (repeatState_ == 1) {
                repeatCount_ = d[i++];
                repeatState_ = 2;
                continue;
            }
            if (repeatState_ == 2) {
                const uint8_t b = d[i++];
                repeatState_ = 0;
                if (!run(b, repeatCount_ + 1u, emit)) return false;
                continue;
            }
            // At the start of a line, a short rest of the record that begins with a blank is
            // passed over.
            if (line_.empty() && n - i >= 1 && n - i <= 5 && d[i] == 0x40) break;
            const uint8_t c = d[i++];
            if (c == 0xFF) {
                ended_ = true;
                break;
            }
            if (c >= 0x80)
                pendingCopy_ = c - 0x7Fu;
            else if (c == 0x7A)
                repeatState_ = 1;
            else if (!run(0x40, c + 1u, emit))
                return false;
        }
        return true;
    }
    template <class Emit> bool close(Emit emit) {
        if (line_.empty()) return true;
        line_.resize(lrecl_, 0x40);
        const bool ok = emit(line_);
        line_.clear();
        return ok;
    }

  private:
    template <class Emit> bool put(uint8_t b, Emit emit) {
        line_.push_back(b);
        if (line_.size() < lrecl_) return true;
        const bool ok = emit(line_);
        line_.clear();
        return ok;
    }
    // Repeats and blank runs stop at the end of the output line.
    template <class Emit> bool run(uint8_t b, uint32_t count, Emit emit) {
        const uint32_t room = lrecl_ - static_cast<uint32_t>(line_.size());
        for (uint32_t k = 0; k < std::min(count, room); ++k)
            if (!put(b, emit)) return false;
        return true;
    }
    uint32_t lrecl_;
    std::vector<uint8_t>& line_;
    uint32_t pendingCopy_ = 0;
    int repeatState_ = 0;
    uint32_t repeatCount_ = 0;
    bool ended_ = false;
};

} // namespace opx
