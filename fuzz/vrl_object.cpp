// Fuzz target for the object module reader: the input is cut into 80-byte cards and read as a
// run of object decks (a new image after each END card); every image that reaches its END is
// normalized as a job step would before merging. Bad cards get their message, never a crash,
// a hang or a read out of bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "linkedit.h"
#include "vrlcore.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("CODEPAGE_ASCII", "819", 1);
    ::setenv("CODEPAGE_EBCDIC", "1047", 1);
    int status = 0;
    ConnectionRecord* record = nullptr;
    pszDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", nullptr, nullptr);
    if (pszVrlSetConversion() != nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t privateCounter = 0;
    size_t at = 0;
    while (at < size) {
        vrl::ObjectModule image;
        vrl::ObjectReader reader(image);
        bool end = false;
        bool error = false;
        for (; at < size && !end; at += 80) {
            uint8_t card[80];
            std::memset(card, 0x40, sizeof card);
            std::memcpy(card, data + at, std::min<size_t>(80, size - at));
            if (!reader.record(card, end).empty()) error = true;
        }
        if (end && !error) reader.normalize(privateCounter);
    }
    return 0;
}
