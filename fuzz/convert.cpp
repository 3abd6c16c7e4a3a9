// Fuzz target for eConvert: any pair of directory rows (by number and variant, or by CCSID),
// any switches on either side, either direction, any newline mode, tiny output areas.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codexa.h"
#include "directory.h"

namespace {

Charset* loadRow(uint8_t selector, uint8_t how) {
    const size_t n = codexa::directorySize();
    const CodePageEntry& row = codexa::directoryBegin()[selector % n];
    Charset* cs = (how & 1) && row.ccsid != 0 ? pCharsetLoadCCSID(row.ccsid)
                                              : pCharsetLoad(row.codePage, row.variant);
    if (cs == nullptr) return nullptr;
    if (how & 0x02) vCharsetEnableEuro(cs);
    if (how & 0x04) vCharsetSwapNewLine(cs);
    if (how & 0x08) vCharsetMask3270(cs);
    if (how & 0x10) vCharsetSetSubChar(cs, how);
    if (how & 0x20) vCharsetDisableEuro(cs);
    return cs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    Charset* a = loadRow(data[0], data[1]);
    Charset* b = loadRow(data[2], data[3]);
    const int direction = data[4] & 1;
    const int mode = static_cast<int>(data[4] >> 1) % 14 - 2; // -2 .. 11
    const size_t room = data[5] % 17;
    data += 6;
    size -= 6;
    Conversion* conv = pConversionBuild(a, b);
    if (conv != nullptr) {
        // Copy the input into an exact-size heap block so that any read past its end is caught.
        std::vector<uint8_t> input(data, data + size);
        const uint8_t* p = input.data();
        const uint8_t* end = p + input.size();
        size_t area = room;
        for (;;) {
            std::vector<uint8_t> out(area);
            uint8_t* q = out.data();
            const uint8_t* before = p;
            int st = eConvert(&p, end, &q, out.data() + out.size(), conv, direction, mode);
            if (q < out.data() || q > out.data() + out.size() || p < before || p > end)
                std::abort();
            if (st != CODEXA_FULL) break;
            // A character or line end that does not fit leaves everything as it was; a larger
            // area must then make progress.
            if (p == before && q == out.data()) {
                if (area >= 16) std::abort();
                area = 16;
            }
        }
    }
    vConversionFree(conv);
    vCharsetFree(a);
    vCharsetFree(b);
    return 0;
}
