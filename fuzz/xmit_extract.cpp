// Fuzz target for extraction: every extract type over every data set of an arbitrary file
// (PDSE unloads included, through the extractor's internal path), answering "replace" to every
// question, writing into a private folder.
//
// The whole input is the transmit file, so that a seed file is a valid input as it stands; the
// request's options (format, option bits, tabs, line end, record and block lengths) come from
// a hash of the input, so that every mutation may also change them.
//
// Nothing may be written outside the folder: after every request the folder may hold only
// plain files, and the folder above it nothing but the folder.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "extract.h"
#include "memory_file.h"
#include "opxcore.h"

namespace {

void ignore(const char*) {}

std::string g_root; // holds only g_work
std::string g_work;

// Fails when a folder holds anything but plain files, or anything but `only` when given; plain
// files are removed.
void checkFolder(const std::string& dir, const char* only) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) std::abort();
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (only != nullptr) {
            if (std::strcmp(e->d_name, only) != 0) {
                std::fprintf(stderr, "written outside the extraction folder: %s\n", e->d_name);
                std::abort();
            }
            continue;
        }
        const std::string path = dir + "/" + e->d_name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            std::fprintf(stderr, "not a plain file: %s\n", path.c_str());
            std::abort();
        }
        unlink(path.c_str());
    }
    closedir(d);
}

// FNV-1a over the input.
uint64_t hashOf(const uint8_t* data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char tmpl[] = "/tmp/fuzz_extract.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    g_root = tmpl;
    g_work = g_root + "/work";
    if (mkdir(g_work.c_str(), 0700) != 0) std::abort();
    int status;
    ConnectionRecord* record;
    pszOpxDllConnect(&status, &record, 0, nullptr, "Quorin Toolbench", "3.0.07", ignore, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint64_t bits = hashOf(data, size);
    auto take = [&bits](unsigned n) {
        const unsigned v = static_cast<unsigned>(bits % n);
        bits /= n;
        return v;
    };
    const MemoryFile file("xmit", data, size);
    if (!file.ok()) return 0;
    XmitHandle* h = pXmitFileOpen(file.path());
    for (uint32_t n = 1; h->dataSets != nullptr && n <= h->fileCount && n <= 4; ++n) {
        const int kind = h->dataSets[n - 1].kind;
        const bool partitioned = kind == XMIT_KIND_PARTITIONED || kind == XMIT_KIND_PDSE;
        const std::string target = g_work + (partitioned ? "/&m.x" : "/seq");
        for (int type = EXTRACT_TYPE_TEXT; type <= EXTRACT_TYPE_DELINK; ++type) {
            ExtractBlock req{};
            req.type = type;
            req.target = target.c_str();
            req.dataSet = n;
            req.format = static_cast<int>(take(7));
            req.options = static_cast<uint8_t>(take(256));
            req.tabWidth = static_cast<uint8_t>(take(3) * 4);
            req.lineEnd = static_cast<int>(take(5));
            // Half the requests take the data set's own lengths.
            req.lrecl = take(2) ? take(256) * 7u : 0;
            req.blockSize = take(2) ? take(256) * 131u : 0;
            req.padCharacter = 0x40;
            int result = opx::extractStep(EXTRACT_GO, h, &req, opx::ExtractExtras{true});
            for (int steps = 0; result != EXTRACT_RESULT_DONE && steps < 10000; ++steps)
                result = opx::extractStep(EXTRACT_GO, h, &req, opx::ExtractExtras{true});
            opx::extractStep(EXTRACT_STOP, h, &req, opx::ExtractExtras{true});
            if (req.state != nullptr) std::abort();
            checkFolder(g_root, "work");
            checkFolder(g_work, nullptr);
            bits = hashOf(reinterpret_cast<const uint8_t*>(&bits), sizeof bits) ^ bits;
        }
    }
    vXmitFileClose(h);
    return 0;
}
