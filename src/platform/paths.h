// Paths and files: separators, absolute paths, the path of a loaded library or of the running
// program, and file identity.
#pragma once

#include <string>

namespace platform {

// True for a path separator ('/' here; '\\' and '/' on Windows).
bool isSeparator(char c);

// The last path separator in a path ('/' here; '\\' and '/' on Windows), or null.
const char* lastSeparator(const char* path);

// True for an absolute path (a leading '/' here; drive and root, or UNC, on Windows).
bool isAbsolutePath(const char* path);

// The full path of the loaded module (shared library or program) that holds this address, or
// "" when it cannot be found.
std::string modulePathOf(const void* address);

// The full path of the running program, or "".
std::string programPath();

// The path of the program `name` that a module (a shared library, or a program that carries a
// library's code) starts as its companion: the file in the module's own folder when it is there
// (the build tree keeps programs and libraries together, and so does a program beside its
// companions), else the file in the programs' folder of an installation when the module lies in
// its libraries' folder (P/lib/libopxcore.so starts P/bin/vrl). When neither exists, the path in
// the module's own folder, for the message that names what was not found; a module path without
// a separator gives the bare name.
std::string companionProgramPath(const char* modulePath, const char* name);

// True when both paths name the same existing file (same device and inode), whatever their
// spelling.
bool sameFile(const char* a, const char* b);

} // namespace platform
