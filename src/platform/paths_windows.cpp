// Paths on Windows: both separators, drive letters and UNC names, and the paths of modules from
// the loader.
#include "paths.h"

#include <windows.h>

#include "platform/files.h"
#include "platform/install_layout.h"
#include "platform/windows_rules.h"

namespace platform {

namespace {

// The file name of a loaded module (null: the program), growing the buffer as needed.
std::string moduleFileName(HMODULE module) {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        if (buffer.size() >= 32768) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

bool isSeparator(char c) {
    return windows::isSeparator(c);
}

const char* lastSeparator(const char* path) {
    return windows::lastSeparator(path);
}

bool isAbsolutePath(const char* path) {
    return windows::isAbsolutePath(path);
}

std::string modulePathOf(const void* address) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &module))
        return std::string();
    return moduleFileName(module);
}

std::string programPath() {
    return moduleFileName(nullptr);
}

namespace {

// True for an existing file that is not a folder (Windows runs any such file named .exe).
bool isProgram(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

std::string companionProgramPath(const char* modulePath, const char* name) {
    const std::string file = std::string(name != nullptr ? name : "") + ".exe";
    const char* separator = lastSeparator(modulePath);
    if (separator == nullptr) return file;
    // The folder with its trailing separator, so that the caller's separators stay. A Windows
    // installation keeps the DLLs beside the programs; a layout with separate folders is tried
    // next.
    const std::string folder(modulePath, static_cast<size_t>(separator - modulePath) + 1);
    const std::string beside = folder + file;
    if (isProgram(beside)) return beside;
    const std::string installed = folder + OPX_LAYOUT_LIB_TO_BIN + "\\" + file;
    if (isProgram(installed)) return installed;
    return beside;
}

bool sameFile(const char* a, const char* b) {
    FileIdentity ia, ib;
    return identityOf(a, ia) && identityOf(b, ib) && ia == ib;
}

} // namespace platform
