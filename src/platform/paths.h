// Paths and files: separators, absolute paths, the path of a loaded library or of the running
// program, and file identity.
#pragma once

#include <string>

namespace platform {

// The last path separator in a path ('/' here; '\\' and '/' on Windows), or null.
const char* lastSeparator(const char* path);

// True for an absolute path (a leading '/' here; drive and root, or UNC, on Windows).
bool isAbsolutePath(const char* path);

// The full path of the loaded module (shared library or program) that holds this address, or
// "" when it cannot be found.
std::string modulePathOf(const void* address);

// The full path of the running program, or "".
std::string programPath();

// True when both paths name the same existing file (same device and inode), whatever their
// spelling.
bool sameFile(const char* a, const char* b);

} // namespace platform
