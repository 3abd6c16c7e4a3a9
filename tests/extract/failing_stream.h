// A stream that gives the bytes of a string up to `failAt`, then fails every read with EIO
// (fopencookie), for the reports of read errors. This is test code.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

struct FailingSource {
    std::string data;
    size_t at = 0, failAt = 0;
};

inline std::FILE* failingStream(FailingSource* source) {
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buffer, size_t size) -> ssize_t {
        auto* s = static_cast<FailingSource*>(cookie);
        if (s->at >= s->failAt) {
            errno = EIO;
            return -1;
        }
        const size_t n = std::min(size, s->failAt - s->at);
        std::memcpy(buffer, s->data.data() + s->at, n);
        s->at += n;
        return static_cast<ssize_t>(n);
    };
    io.seek = [](void* cookie, off64_t* offset, int whence) -> int {
        auto* s = static_cast<FailingSource*>(cookie);
        const off64_t base = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? static_cast<off64_t>(s->at)
                                                  : static_cast<off64_t>(s->data.size());
        s->at = static_cast<size_t>(base + *offset);
        *offset = static_cast<off64_t>(s->at);
        return 0;
    };
    return fopencookie(source, "rb", io);
}
