// eConvert against glibc iconv on the same 64 MiB buffer, in one run:
// 1047->819, 819->1047, UTF-8->1047 and 1047->UTF-16LE. Prints MB/s for both and the ratio.
#include <iconv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "codexa.h"

namespace {

using Clock = std::chrono::steady_clock;

// Best of several runs, in MB/s of input (1 MB = 10^6 bytes).
double measure(size_t bytes, const std::function<void()>& run, int repeats) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        auto t0 = Clock::now();
        run();
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        best = std::min(best, s);
    }
    return static_cast<double>(bytes) / best / 1e6;
}

struct Case {
    const char* label;
    uint32_t from, to;
    const char* iconvFrom;
    const char* iconvTo;
    std::vector<uint8_t> input;
    size_t outSize;
};

bool benchOne(const Case& c, int repeats, double goal) {
    Charset* a = pCharsetLoad(c.from, 0);
    Charset* b = pCharsetLoad(c.to, 0);
    Conversion* conv = pConversionBuild(a, b);
    std::vector<uint8_t> out1(c.outSize), out2(c.outSize);
    size_t written1 = 0, written2 = 0;

    double ours = measure(
        c.input.size(),
        [&] {
            const uint8_t* p = c.input.data();
            uint8_t* q = out1.data();
            int st = eConvert(&p, c.input.data() + c.input.size(), &q, out1.data() + out1.size(),
                              conv, 0, 0);
            if (st != CODEXA_OK) std::abort();
            written1 = static_cast<size_t>(q - out1.data());
        },
        repeats);

    iconv_t cd = iconv_open(c.iconvTo, c.iconvFrom);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        std::perror("iconv_open");
        std::exit(1);
    }
    double theirs = measure(
        c.input.size(),
        [&] {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            char* ip = reinterpret_cast<char*>(const_cast<uint8_t*>(c.input.data()));
            char* op = reinterpret_cast<char*>(out2.data());
            size_t inLeft = c.input.size(), outLeft = out2.size();
            if (iconv(cd, &ip, &inLeft, &op, &outLeft) == static_cast<size_t>(-1)) std::abort();
            written2 = out2.size() - outLeft;
        },
        repeats);
    iconv_close(cd);

    const bool same =
        written1 == written2 && std::equal(out1.begin(), out1.begin() + written1, out2.begin());
    const double ratio = ours / theirs;
    std::printf("%-16s codexa %8.0f MB/s   iconv %8.0f MB/s   ratio %5.2fx (goal %.0fx)%s%s\n",
                c.label, ours, theirs, ratio, goal, same ? "" : "   OUTPUTS DIFFER",
                ratio >= goal ? "" : "   BELOW GOAL");
    vConversionFree(conv);
    vCharsetFree(a);
    vCharsetFree(b);
    return same;
}

} // namespace

int main(int argc, char** argv) {
    size_t mib = 64;
    int repeats = 5;
    if (argc > 1) mib = std::strtoul(argv[1], nullptr, 10);
    if (argc > 2) repeats = std::atoi(argv[2]);
    const size_t size = mib << 20;
    std::mt19937 rng(42);

    std::vector<uint8_t> anyByte(size);
    for (auto& b : anyByte) b = static_cast<uint8_t>(rng());
    // UTF-8 text within Latin-1 (so that 1047 can hold it): mostly ASCII letters, some accents.
    std::vector<uint8_t> utf8;
    utf8.reserve(size);
    while (utf8.size() + 2 <= size) {
        uint32_t r = rng() % 100;
        if (r < 85) {
            utf8.push_back(static_cast<uint8_t>(0x20 + rng() % 0x5F));
        } else {
            uint32_t cp = 0xA0 + rng() % 0x60;
            utf8.push_back(static_cast<uint8_t>(0xC0 | (cp >> 6)));
            utf8.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        }
    }

    std::printf("%zu MiB buffers, best of %d runs each\n", mib, repeats);
    std::vector<Case> cases = {
        {"1047 -> 819", 1047, 819, "IBM1047", "ISO-8859-1", anyByte, size},
        {"819 -> 1047", 819, 1047, "ISO-8859-1", "IBM1047", anyByte, size},
        {"UTF-8 -> 1047", 1208, 1047, "UTF-8", "IBM1047", utf8, size},
        {"1047 -> UTF-16LE", 1047, 1202, "IBM1047", "UTF-16LE", anyByte, size * 2},
    };
    bool ok = true;
    for (size_t i = 0; i < cases.size(); ++i) ok &= benchOne(cases[i], repeats, i < 2 ? 2.0 : 1.0);
    return ok ? 0 : 1;
}
