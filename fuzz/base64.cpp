// Fuzz target for Base64: decoding arbitrary input in either alphabet with tiny output areas,
// and encode-then-decode giving the input back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codexa.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int alphabet = data[0] & 1;
    const size_t room = data[1] % 9;
    data += 2;
    size -= 2;
    std::vector<uint8_t> input(data, data + size);

    // Decode arbitrary text.
    const uint8_t* p = input.data();
    const uint8_t* end = p + input.size();
    for (;;) {
        std::vector<uint8_t> out(room);
        uint8_t* q = out.data();
        const uint8_t* before = p;
        int st = ConvertFromBase64(&p, end, &q, out.data() + out.size(), alphabet);
        if (p > end || q > out.data() + out.size()) std::abort();
        if (st != CODEXA_FULL) break;
        if (p == before && room >= 3) std::abort();
        if (p == before) break;
    }

    // Encode, then decode: the input comes back.
    std::vector<uint8_t> encoded((size + 2) / 3 * 4);
    const uint8_t* ip = input.data();
    uint8_t* eq = encoded.data();
    if (ConvertToBase64(&ip, input.data() + input.size(), &eq, encoded.data() + encoded.size(),
                        alphabet) != CODEXA_OK ||
        eq != encoded.data() + encoded.size())
        std::abort();
    std::vector<uint8_t> decoded(size);
    const uint8_t* dp = encoded.data();
    uint8_t* dq = decoded.data();
    if (ConvertFromBase64(&dp, encoded.data() + encoded.size(), &dq,
                          decoded.data() + decoded.size(), alphabet) != CODEXA_OK ||
        dq != decoded.data() + decoded.size() || decoded != input)
        std::abort();
    return 0;
}
