// Fuzz target for GOFF input: the input is cut into 80-byte records and read as a run of GOFF
// modules (a new module after each END record); every module that reaches its END without an
// error is finished as a job step would before merging. Bad records get their message, never a
// crash, a hang or a read out of bounds, and no logical record grows past its limit.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "goff_input.h"
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
        vrl::GoffReader reader(image);
        bool end = false;
        bool error = false;
        while (at < size && !end) {
            uint8_t record[80];
            std::memset(record, 0, sizeof record);
            std::memcpy(record, data + at, std::min<size_t>(80, size - at));
            const vrl::GoffReader::Step step = reader.record(record);
            if (!step.message.empty()) error = true;
            if (step.restart) continue;
            end = step.end;
            at += 80;
        }
        if (end && !error) reader.finish(privateCounter);
    }
    return 0;
}
