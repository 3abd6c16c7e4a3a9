// Fuzz target for the transmit-file reader: open an arbitrary file, load every directory (the
// data members of PDSE unloads included), format every entry, and read every member record by
// record through the cursor.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "memory_file.h"
#include "opxcore.h"
#include "reader.h"

namespace {

void ignore(const char*) {}

bool connected() {
    int status;
    ConnectionRecord* record;
    pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", ignore, nullptr);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = connected();
    (void)ready;
    const MemoryFile file("xmit", data, size);
    if (!file.ok()) return 0;
    XmitHandle* h = pXmitFileOpen(file.path());
    std::vector<uint8_t> assembly(32760);
    char line[100];
    for (uint32_t n = 1; h->message == nullptr && n <= h->fileCount; ++n) {
        XmitDataSet* ds = opx::loadDirectory(h, n, true);
        if (ds == nullptr) {
            h->message = nullptr;
            continue;
        }
        for (unsigned i = 0; i < ds->entryCount; ++i) vXmitFileFormatDe(ds, i, line, sizeof line);
        MemberCursor c;
        if (!opx::startMembers(h, ds, &c, (n & 1) ? assembly.data() : nullptr,
                               static_cast<uint32_t>(assembly.size())))
            break;
        // One more member than the directory holds: the reader must stop cleanly at the end.
        for (unsigned m = 0; m <= ds->entryCount; ++m) {
            int st;
            do st = opx::readMemberRecord(h, ds, &c);
            while (st == MEMBER_RECORD);
            if (st == MEMBER_ERROR) break;
        }
        h->message = nullptr;
    }
    vXmitFileClose(h);
    return 0;
}
