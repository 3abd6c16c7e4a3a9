// Fuzz target for the record-format reader: an arbitrary file read as records or blocks of
// any stored layout, as text (with or without a character set) or as transmit segments, under
// arbitrary attributes taken from the first bytes of the input.
//
//   byte 0     layout code 0-7 (6 and 7 are invalid) and, in bit 3, blocks instead of records
//   byte 1     flags (blocked, spanned, text, stripped, trim, truncate)
//   byte 2     mode (1 stored, 2 text lines, 5 transmit segments), tab option, character set
//   bytes 3-8  LRECL (2 bytes) and BLKSIZE (3 bytes, up to 16 MB) and a spare byte
#include <cstdint>

#include "brencore.h"
#include "codexa.h"
#include "memory_file.h"
#include "record_file.h"

namespace {

void ignore(const char*) {}

const Charset* charsetOf(unsigned n) {
    static Charset* sets[] = {nullptr,
                              pCharsetLoad(1208, 0),
                              pCharsetLoad(1200, 0),
                              pCharsetLoad(1234, 0),
                              pCharsetLoad(437, 0),
                              pCharsetLoad(1047, 0),
                              pCharsetLoad(1252, 0),
                              nullptr};
    return sets[n & 7];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        int status;
        ConnectionRecord* record;
        pszBrenDllConnect(&status, &record, 1, nullptr, "Quorin Toolbench", "3.0.07", ignore,
                          nullptr);
        return true;
    }();
    (void)ready;
    if (size < 9) return 0;
    const MemoryFile file("records", data + 9, size - 9);
    if (!file.ok()) return 0;
    RecordFile f{};
    f.io.path = file.path();
    f.recfmCode = data[0] & 7;
    const bool blocks = (data[0] & 8) != 0;
    f.flags = data[1] & 0x3F;
    static const int kModes[] = {RECORD_MODE_STORED, RECORD_MODE_TEXT, RECORD_MODE_XMIT,
                                 RECORD_MODE_STORED};
    f.mode = kModes[data[2] & 3];
    f.tabOption = (data[2] >> 2) & 3 ? ((data[2] >> 2) & 3) * 4 - 4 : 0;
    f.charset = charsetOf(data[2] >> 4);
    f.lrecl = static_cast<uint32_t>(data[3] << 8 | data[4]);
    f.blksize = static_cast<uint32_t>(data[5] << 16 | data[6] << 8 | data[7]);
    if (bren::openRecordFile(f) == IO_OK) {
        // Every record lies inside the record buffer the reader owns.
        uint64_t sum = 0;
        for (int n = 0; n < 100000; ++n) {
            const int st = blocks ? bren::readBlock(f) : bren::readRecord(f);
            if (st != IO_OK) break;
            if (f.recordLength > 0) sum += f.record[0] + f.record[f.recordLength - 1];
        }
        (void)sum;
    }
    bren::closeRecordFile(f);
    return 0;
}
