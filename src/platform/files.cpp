#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace platform {

int createBeside(const std::string& target, const char* tag, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    const auto now = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Names that no other writer picks: the process, a counter, and the clock.
        const unsigned long long mix = (now ^ (static_cast<unsigned long long>(::getpid()) << 20)) +
                                       counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "%08llx", (mix ^ (mix >> 29)) & 0xFFFFFFFFull);
        temp = target + tag + suffix;
        // O_EXCL: a name of our own, never a file (or a link) that is already there.
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            temp.clear();
            return -1;
        }
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::fchmod(fd, st.st_mode & 07777);
        return fd;
    }
    temp.clear();
    errno = EEXIST;
    return -1;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool closeFile(int fd) {
    return ::close(fd) == 0;
}

bool syncFile(int fd) {
    return ::fsync(fd) == 0;
}

FILE* streamOf(int fd, const char* mode) {
    return ::fdopen(fd, mode);
}

bool setModificationTime(const std::string& path, std::time_t when) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = when;
    times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool makeSymbolicLink(const std::string& target, const std::string& link) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool folderNames(const std::string& folder, std::vector<std::string>& names) {
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) return false;
    errno = 0;
    while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    const int error = errno;
    ::closedir(d);
    std::sort(names.begin(), names.end());
    errno = error;
    return error == 0;
}

bool identityOf(FILE* stream, FileIdentity& id, bool regularOnly) {
    struct stat st {};
    if (stream == nullptr || ::fstat(::fileno(stream), &st) != 0) return false;
    if (regularOnly && !S_ISREG(st.st_mode)) return false;
    id.volume = static_cast<uint64_t>(st.st_dev);
    id.index = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool identityOf(const char* path, FileIdentity& id) {
    struct stat st {};
    if (path == nullptr || ::stat(path, &st) != 0) return false;
    id.volume = static_cast<uint64_t>(st.st_dev);
    id.index = static_cast<uint64_t>(st.st_ino);
    return true;
}

std::string regularFileBehind(const std::string& path, bool& missing) {
    missing = false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        missing = errno == ENOENT;
        return missing ? path : std::string();
    }
    if (S_ISLNK(st.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) return {};
        std::string result(real);
        std::free(real);
        if (::stat(result.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
        return result;
    }
    return S_ISREG(st.st_mode) ? path : std::string();
}

void setBinaryMode(FILE*) {}

size_t readUnlocked(void* buffer, size_t size, size_t count, FILE* stream) {
    return fread_unlocked(buffer, size, count, stream);
}

size_t readAt(FILE* stream, int64_t offset, void* buffer, size_t n) {
    const int fd = ::fileno(stream);
    // A stream without a file of its own (fopencookie, fmemopen) is read through itself.
    if (fd < 0) {
        if (::fseeko(stream, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
        return fread_unlocked(buffer, 1, n, stream);
    }
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, static_cast<char*>(buffer) + got, n - got,
                                  static_cast<off_t>(offset) + static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

int checkAccess(const char* path, int mode) {
    int amode = F_OK;
    if (mode & 2) amode |= W_OK;
    if (mode & 4) amode |= R_OK;
    return ::access(path, amode);
}

const char* nullDevice() {
    return "/dev/null";
}

} // namespace platform
