// Fuzz target for tape images and bare unloads: open an arbitrary file as an image, then read
// every data set: the records of sequential ones, the directory, entries and member records of
// partitioned ones, and a survey of each. Damaged input must get its message, never a crash.
#include <cstdint>
#include <vector>

#include "image.h"
#include "memory_file.h"
#include "opxcore.h"
#include "reader.h"
#include "survey.h"

namespace {

void ignore(const char*) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int status;
    ConnectionRecord* record;
    pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", ignore, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const MemoryFile file("image", data, size);
    if (!file.ok()) return 0;
    XmitHandle* h = opx::openImage(file.path());
    std::vector<uint8_t> assembly(32760);
    char line[100];
    for (uint32_t n = 1; h->dataSets != nullptr && n <= h->fileCount && n <= 8; ++n) {
        XmitDataSet* ds = &h->dataSets[n - 1];
        h->message = nullptr;
        if (ds->kind == XMIT_KIND_SEQUENTIAL) {
            opx::DataSurvey s;
            opx::surveySequential(h, ds, s);
            continue;
        }
        ds = opx::loadDirectory(h, n, true);
        if (ds == nullptr) continue;
        for (unsigned i = 0; i < ds->entryCount; ++i) vXmitFileFormatDe(ds, i, line, sizeof line);
        std::vector<opx::DataSurvey> surveys;
        opx::surveyMembers(h, ds, surveys);
        h->message = nullptr;
        MemberCursor c;
        if (!opx::startMembers(h, ds, &c, (n & 1) ? assembly.data() : nullptr,
                               static_cast<uint32_t>(assembly.size())))
            continue;
        for (unsigned m = 0; m <= ds->entryCount; ++m) {
            int st;
            do st = opx::readMemberRecord(h, ds, &c);
            while (st == MEMBER_RECORD);
            if (st == MEMBER_ERROR) break;
        }
    }
    vXmitFileClose(h);
    return 0;
}
