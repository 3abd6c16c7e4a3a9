#include "paths.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/install_layout.h"

namespace platform {

bool isSeparator(char c) {
    return c == '/';
}

const char* lastSeparator(const char* path) {
    if (path == nullptr) return nullptr;
    return std::strrchr(path, '/');
}

bool isAbsolutePath(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    return path[0] == '/';
}

std::string modulePathOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0')
        return std::string();
    // dladdr gives the name the module was loaded by; make it a full path.
    char* full = ::realpath(info.dli_fname, nullptr);
    if (full == nullptr)
        return info.dli_fname[0] == '/' ? std::string(info.dli_fname) : programPath();
    std::string result(full);
    std::free(full);
    return result;
}

std::string programPath() {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

namespace {

// True for an existing regular file that this process may run.
bool isProgram(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The program's file name with the platform's suffix for programs.
std::string programFileName(const char* name) {
    return std::string(name);
}

} // namespace

std::string companionProgramPath(const char* modulePath, const char* name) {
    const std::string file = programFileName(name != nullptr ? name : "");
    const char* separator = lastSeparator(modulePath);
    if (separator == nullptr) return file;
    // The folder with its trailing separator, so that the caller's separators stay.
    const std::string folder(modulePath, static_cast<size_t>(separator - modulePath) + 1);
    const std::string beside = folder + file;
    if (isProgram(beside)) return beside;
    const std::string installed = folder + OPX_LAYOUT_LIB_TO_BIN + "/" + file;
    if (isProgram(installed)) return installed;
    return beside;
}

bool sameFile(const char* a, const char* b) {
    struct stat sa {
    }, sb{};
    if (a == nullptr || b == nullptr || ::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace platform
