// Fuzz target for extraction: every extract type over every data set of an arbitrary file,
// answering "replace" to every question, writing into a private folder. The first bytes of the
// input choose the request's options; the rest is the transmit file. Nothing may be written
// outside the folder: after every request the folder must hold only plain files.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "memory_file.h"
#include "opxcore.h"

namespace {

void ignore(const char*) {}

const std::string& folder() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/fuzz_extract.XXXXXX";
        if (mkdtemp(tmpl) == nullptr) std::abort();
        int status;
        ConnectionRecord* record;
        pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", ignore,
                         nullptr);
        return std::string(tmpl);
    }();
    return dir;
}

// Removes everything in the folder; aborts on anything that is not a plain file in it.
void emptyFolder(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) std::abort();
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const std::string path = dir + "/" + e->d_name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) std::abort();
        unlink(path.c_str());
    }
    closedir(d);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const std::string& dir = folder();
    const uint8_t format = data[0] % 7, options = data[1], tabs = data[2] % 3 * 4,
                  lineEnd = data[3] % 5;
    const uint32_t lrecl = data[4] * 7u, block = data[5] * 131u;
    data += 6;
    size -= 6;
    const MemoryFile file("xmit", data, size);
    if (!file.ok()) return 0;
    XmitHandle* h = pXmitFileOpen(file.path());
    for (uint32_t n = 1; h->dataSets != nullptr && n <= h->fileCount && n <= 4; ++n) {
        const bool partitioned = h->dataSets[n - 1].kind == XMIT_KIND_PARTITIONED;
        const std::string target = dir + (partitioned ? "/&m.x" : "/seq");
        for (int type = EXTRACT_TYPE_TEXT; type <= EXTRACT_TYPE_DELINK; ++type) {
            ExtractBlock req{};
            req.type = type;
            req.target = target.c_str();
            req.dataSet = n;
            req.format = format;
            req.options = options;
            req.tabWidth = tabs;
            req.lineEnd = lineEnd;
            req.lrecl = lrecl;
            req.blockSize = block;
            req.padCharacter = 0x40;
            int result = eXmitFileExtract(EXTRACT_GO, h, &req);
            for (int steps = 0; result != EXTRACT_RESULT_DONE && steps < 10000; ++steps)
                result = eXmitFileExtract(EXTRACT_GO, h, &req);
            eXmitFileExtract(EXTRACT_STOP, h, &req);
            if (req.state != nullptr) std::abort();
            emptyFolder(dir);
        }
    }
    vXmitFileClose(h);
    return 0;
}
