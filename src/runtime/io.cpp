// The traced file operations: every open, read, write, seek, tell, close and removal of a
// workstation file, reported at the file's trace level.
//
//   level 1  errors                      Error opening "x.txt": No such file or directory
//   level 2  opens, closes, removals     File "x.txt" opened for rb.
//   level 3  every call                  fread(0x55d0c8,1,80,"x.txt")
//   level 4  and a dump of the data      +0000 C1C2C3C4 ... |ABCD...|
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/files.h"
#include "runtime.h"

namespace rt {

namespace {

void setOperation(IoFileCore& f, const char* op) {
    std::snprintf(f.operation, sizeof f.operation, "%s", op);
}

void fail(IoFileCore& f, const char* op) {
    f.errnum = errno;
    f.status = IO_ERROR;
    setOperation(f, op);
}

// The null device answers to "nul" on every platform, as it does on Windows.
const char* systemPath(const char* path) {
    return path != nullptr && strcasecmp(path, "nul") == 0 ? platform::nullDevice() : path;
}

const char* modeString(const IoFileCore& f, char* buffer) {
    static const char* const kModes[] = {"r", "r+", "a", "w"};
    const int mode = f.mode >= IO_READ && f.mode <= IO_WRITE ? f.mode : IO_READ;
    std::snprintf(buffer, 4, "%s%s", kModes[mode], f.binary ? "b" : "");
    return buffer;
}

} // namespace

void ioDump(const IoFileCore& f, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (size > 16777216) size = 16777216;
    const int digits = size <= 65536 ? 4 : size <= 1048576 ? 5 : 6;
    const bool column = f.dumpStyle != 0;
    const size_t perLine = column ? 16 : 32;
    const uint8_t* display = displayTable();
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t off = 0; off < size; off += perLine) {
        char line[160];
        int n = std::snprintf(line, sizeof line, "+%.*X", digits, static_cast<unsigned>(off));
        const size_t count = size - off < perLine ? size - off : perLine;
        for (size_t i = 0; i < perLine; ++i) {
            if (i % 4 == 0) line[n++] = ' ';
            if (i < count) {
                line[n++] = kHex[bytes[off + i] >> 4];
                line[n++] = kHex[bytes[off + i] & 0x0F];
            } else if (column) {
                line[n++] = ' ';
                line[n++] = ' ';
            }
        }
        if (column) {
            line[n++] = ' ';
            line[n++] = '|';
            for (size_t i = 0; i < count; ++i) {
                uint8_t c = bytes[off + i];
                if (f.dumpStyle != ' ') c = display[c];
                line[n++] = c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : ' ';
            }
            line[n++] = '|';
        }
        line[n++] = '\n';
        line[n] = '\0';
        printLine(line);
    }
}

int ioOpen(IoFileCore& f) {
    char mode[4];
    if (!f.binary) f.dumpStyle = ' ';
    modeString(f, mode);
    f.stream = std::fopen(systemPath(f.path), mode);
    if (f.stream == nullptr) {
        const bool create = f.mode == IO_WRITE;
        fail(f, create ? "CREAT" : "OPEN");
        if (f.traceLevel >= TRACE_ERRORS)
            rt::printf(create ? "Error creating \"%s\": %s\n" : "Error opening \"%s\": %s\n",
                       f.path, std::strerror(f.errnum));
        return f.status;
    }
    f.status = IO_OK;
    f.position = 0;
    if (f.traceLevel >= TRACE_OPENS) rt::printf("File \"%s\" opened for %s.\n", f.path, mode);
    return f.status;
}

int ioRemove(const char* path, int level) {
    if (std::remove(systemPath(path)) != 0) {
        if (level >= TRACE_ERRORS)
            rt::printf("Error removing \"%s\": %s\n", path, std::strerror(errno));
        return 1;
    }
    if (level >= TRACE_OPENS) rt::printf("File \"%s\" removed.\n", path);
    return 0;
}

int ioClose(IoFileCore& f, bool remove) {
    if (f.stream != nullptr) {
        FILE* stream = f.stream;
        f.stream = nullptr;
        if (std::fclose(stream) != 0) {
            fail(f, "CLOS");
            if (f.traceLevel >= TRACE_ERRORS)
                rt::printf("Error closing \"%s\": %s\n", f.path, std::strerror(f.errnum));
            // A file that could not be closed properly is not removed either: its state is
            // unknown.
            return f.status;
        }
        f.status = IO_OK;
        if (f.traceLevel >= TRACE_OPENS) rt::printf("File \"%s\" closed.\n", f.path);
    }
    if (remove) {
        if (std::remove(systemPath(f.path)) != 0) {
            fail(f, "REMOV");
            if (f.traceLevel >= TRACE_ERRORS)
                rt::printf("Error removing \"%s\": %s\n", f.path, std::strerror(f.errnum));
            return f.status;
        }
        f.status = IO_OK;
        if (f.traceLevel >= TRACE_OPENS) rt::printf("File \"%s\" removed.\n", f.path);
    }
    return f.status;
}

size_t ioRead(IoFileCore& f, void* buffer, size_t size, size_t count) {
    // The runtime is used from one thread at a time: the stream needs no lock of its own.
    const size_t got = platform::readUnlocked(buffer, size, count, f.stream);
    if (got == count) {
        f.status = IO_OK;
        if (f.traceLevel >= TRACE_CALLS)
            rt::printf("fread(%p,%lu,%lu,\"%s\")\n", buffer, static_cast<unsigned long>(size),
                       static_cast<unsigned long>(count), f.path);
    } else if (std::ferror(f.stream)) {
        fail(f, "READ");
        if (f.traceLevel >= TRACE_ERRORS)
            rt::printf("Error reading \"%s\": %s\n", f.path, std::strerror(f.errnum));
        std::clearerr(f.stream);
    } else {
        f.status = IO_EOF;
        setOperation(f, "READ");
        if (f.traceLevel >= TRACE_CALLS || (f.traceLevel >= TRACE_ERRORS && size > 1))
            rt::printf("fread(%p,%lu,%lu,\"%s\"): %lu\n", buffer, static_cast<unsigned long>(size),
                       static_cast<unsigned long>(count), f.path, static_cast<unsigned long>(got));
        std::clearerr(f.stream);
    }
    if (f.traceLevel >= TRACE_DUMPS && got * size > 0) ioDump(f, buffer, got * size);
    return got;
}

int ioWrite(IoFileCore& f, const void* buffer, size_t size, size_t count) {
    const size_t put = std::fwrite(buffer, size, count, f.stream);
    if (put != count) {
        fail(f, "WRIT");
        if (f.traceLevel >= TRACE_ERRORS)
            rt::printf("Error writing \"%s\": %s\n", f.path, std::strerror(f.errnum));
        return f.status;
    }
    f.status = IO_OK;
    if (f.traceLevel >= TRACE_CALLS)
        rt::printf("fwrite(%p,%lu,%lu,\"%s\")\n", buffer, static_cast<unsigned long>(size),
                   static_cast<unsigned long>(count), f.path);
    if (f.traceLevel >= TRACE_DUMPS && size * count > 0) ioDump(f, buffer, size * count);
    return f.status;
}

int ioWriteString(IoFileCore& f, const char* text) {
    return ioWrite(f, text, 1, std::strlen(text));
}

int ioTell(IoFileCore& f) {
    const off_t pos = ftello(f.stream);
    if (pos < 0) {
        fail(f, "TELL");
        if (f.traceLevel >= TRACE_ERRORS)
            rt::printf("fgetpos(\"%s\"): %s\n", f.path, std::strerror(f.errnum));
        return f.status;
    }
    f.position = static_cast<int64_t>(pos);
    f.status = IO_OK;
    if (f.traceLevel >= TRACE_CALLS)
        rt::printf("fgetpos(\"%s\"): %" PRId64 "\n", f.path, f.position);
    return f.status;
}

int ioSeek(IoFileCore& f, int64_t offset, int whence) {
    if (offset >= INT32_MIN && offset <= INT32_MAX) {
        if (fseeko(f.stream, static_cast<off_t>(offset), whence) != 0) {
            fail(f, "SEEK");
            if (f.traceLevel >= TRACE_ERRORS)
                rt::printf("fseek(\"%s\",%" PRId64 ",%d): %s\n", f.path, offset, whence,
                           std::strerror(f.errnum));
            return f.status;
        }
        f.status = IO_OK;
        if (f.traceLevel >= TRACE_CALLS)
            rt::printf("fseek(\"%s\",%" PRId64 ",%d)\n", f.path, offset, whence);
        if (whence == SEEK_SET) {
            f.position = offset;
            return f.status;
        }
        return ioTell(f);
    }
    // Offsets beyond 32 bits are positioned absolutely: from the end or the current position
    // the absolute position is computed first.
    if (f.traceLevel >= TRACE_CALLS)
        rt::printf("eIoSeek(\"%s\",%" PRId64 ",%d)\n", f.path, offset, whence);
    int64_t target = offset;
    if (whence == SEEK_END || whence == SEEK_CUR) {
        if (whence == SEEK_END && fseeko(f.stream, 0, SEEK_END) != 0) {
            fail(f, "SEEK");
            if (f.traceLevel >= TRACE_ERRORS)
                rt::printf("fsetpos(\"%s\",%" PRId64 "): %s\n", f.path, offset,
                           std::strerror(f.errnum));
            return f.status;
        }
        if (ioTell(f) != IO_OK) return f.status;
        target = f.position + offset;
    }
    if (fseeko(f.stream, static_cast<off_t>(target), SEEK_SET) != 0) {
        fail(f, "SEEK");
        if (f.traceLevel >= TRACE_ERRORS)
            rt::printf("fsetpos(\"%s\",%" PRId64 "): %s\n", f.path, target,
                       std::strerror(f.errnum));
        return f.status;
    }
    f.status = IO_OK;
    f.position = target;
    if (f.traceLevel >= TRACE_CALLS) rt::printf("fsetpos(\"%s\",%" PRId64 ")\n", f.path, target);
    return f.status;
}

int ioAccess(const char* path, int mode, int level) {
    if (platform::checkAccess(systemPath(path), mode) != 0) {
        if (level >= TRACE_OPENS)
            rt::printf("access(%s,%d): %s\n", path, mode, std::strerror(errno));
        return 1;
    }
    if (level >= TRACE_OPENS) rt::printf("access(%s,%d): 0\n", path, mode);
    return 0;
}

} // namespace rt
