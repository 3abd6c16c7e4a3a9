// Files on Windows: the same operations as files.cpp, through the C run-time's descriptors and
// the Win32 file calls.
#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>

#include "platform/windows_errors.h"

namespace platform {

namespace {

// Which file an open handle is; false unless a file on a disk (not a folder).
bool identityOfHandle(HANDLE h, FileIdentity& id, bool allowFolder) {
    if (h == INVALID_HANDLE_VALUE || ::GetFileType(h) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return false;
    if (!allowFolder && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// A handle for reading attributes of a file or folder (not following a link when `noFollow`).
HANDLE openForAttributes(const char* path, DWORD access, bool noFollow) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
    if (noFollow) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    return ::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, flags, nullptr);
}

} // namespace

int createBeside(const std::string& target, const char* tag, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    const auto now = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Names that no other writer picks: the process, a counter, and the clock.
        const unsigned long long mix =
            (now ^ (static_cast<unsigned long long>(::GetCurrentProcessId()) << 20)) +
            counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "%08llx", (mix ^ (mix >> 29)) & 0xFFFFFFFFull);
        temp = target + tag + suffix;
        // _O_EXCL: a name of our own, never a file that is already there. Windows has no modes
        // of the POSIX kind; a new file gets the folder's permissions.
        const int fd =
            ::_open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            temp.clear();
            return -1;
        }
        return fd;
    }
    temp.clear();
    errno = EEXIST;
    return -1;
}

bool replaceFile(const std::string& from, const std::string& to) {
    // rename() of the C run-time refuses an existing target; a move may replace it.
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    return failWithLastError();
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const unsigned piece = static_cast<unsigned>(std::min<size_t>(size, 1u << 30));
        const int n = ::_write(fd, p, piece);
        if (n < 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool closeFile(int fd) {
    return ::_close(fd) == 0;
}

bool syncFile(int fd) {
    return ::_commit(fd) == 0;
}

FILE* streamOf(int fd, const char* mode) {
    return ::_fdopen(fd, mode);
}

bool setModificationTime(const std::string& path, std::time_t when) {
    HANDLE h = openForAttributes(path.c_str(), FILE_WRITE_ATTRIBUTES, true);
    if (h == INVALID_HANDLE_VALUE) return failWithLastError();
    // FILETIME counts 100-nanosecond intervals since 1601-01-01.
    const unsigned long long ticks =
        (static_cast<unsigned long long>(when) + 11644473600ull) * 10000000ull;
    FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const bool ok = ::SetFileTime(h, nullptr, nullptr, &ft) != 0;
    const DWORD error = ::GetLastError();
    ::CloseHandle(h);
    if (!ok) errno = errnoOf(error);
    return ok;
}

bool makeSymbolicLink(const std::string& target, const std::string& link) {
    // Links need a privilege or developer mode on Windows; the caller copies when refused.
    std::string native = target;
    std::replace(native.begin(), native.end(), '/', '\\');
    const DWORD kAllowUnprivileged = 0x2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (::CreateSymbolicLinkA(link.c_str(), native.c_str(), kAllowUnprivileged)) return true;
    return failWithLastError();
}

bool folderNames(const std::string& folder, std::vector<std::string>& names) {
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA entry{};
    HANDLE h = ::FindFirstFileA(pattern.c_str(), &entry);
    if (h == INVALID_HANDLE_VALUE) {
        // An empty folder still lists "." and ".."; nothing at all means it cannot be read.
        return failWithLastError();
    }
    do {
        names.emplace_back(entry.cFileName);
    } while (::FindNextFileA(h, &entry));
    const DWORD error = ::GetLastError();
    ::FindClose(h);
    std::sort(names.begin(), names.end());
    if (error != ERROR_NO_MORE_FILES) {
        errno = errnoOf(error);
        return false;
    }
    return true;
}

bool identityOf(FILE* stream, FileIdentity& id, bool regularOnly) {
    if (stream == nullptr) return false;
    // Only files on a disk have an identity on Windows (not consoles and pipes).
    const intptr_t h = ::_get_osfhandle(::_fileno(stream));
    return h != -1 && identityOfHandle(reinterpret_cast<HANDLE>(h), id, !regularOnly);
}

bool identityOf(const char* path, FileIdentity& id) {
    if (path == nullptr) return false;
    HANDLE h = openForAttributes(path, 0, false);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = identityOfHandle(h, id, true);
    ::CloseHandle(h);
    return ok;
}

std::string regularFileBehind(const std::string& path, bool& missing) {
    missing = false;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return missing ? path : std::string();
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        // A device (the null device, a console) is no regular file.
        HANDLE h = openForAttributes(path.c_str(), 0, false);
        if (h == INVALID_HANDLE_VALUE) return {};
        const bool disk = ::GetFileType(h) == FILE_TYPE_DISK;
        ::CloseHandle(h);
        return disk ? path : std::string();
    }
    // A link: the final path of the file it leads to.
    HANDLE h = openForAttributes(path.c_str(), 0, false);
    if (h == INVALID_HANDLE_VALUE) return {};
    char buffer[MAX_PATH * 2];
    const DWORD n = ::GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    FileIdentity id;
    const bool regular = identityOfHandle(h, id, false);
    ::CloseHandle(h);
    if (n == 0 || n >= sizeof buffer || !regular) return {};
    std::string result(buffer, n);
    if (result.rfind("\\\\?\\UNC\\", 0) == 0)
        result = "\\\\" + result.substr(8);
    else if (result.rfind("\\\\?\\", 0) == 0)
        result = result.substr(4);
    return result;
}

void setBinaryMode(FILE* stream) {
    if (stream != nullptr) ::_setmode(::_fileno(stream), _O_BINARY);
}

size_t readUnlocked(void* buffer, size_t size, size_t count, FILE* stream) {
    // The MinGW run-time (msvcrt) has no fread without the lock.
    return std::fread(buffer, size, count, stream);
}

size_t readAt(FILE* stream, int64_t offset, void* buffer, size_t n) {
    // The C run-time has no pread: a seek and a read through the stream.
    if (::_fseeki64(stream, offset, SEEK_SET) != 0) return 0;
    return std::fread(buffer, 1, n, stream);
}

int checkAccess(const char* path, int mode) {
    // _access knows existence (0), write (2) and read (4) only, as here.
    return ::_access(path, mode & 6);
}

const char* nullDevice() {
    return "nul";
}

} // namespace platform
