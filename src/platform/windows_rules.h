// The rules of Windows paths and command lines, as plain functions of strings. They are built on
// every platform, so that they are tested (under the sanitizers too) where the tests run; the
// Windows side of the platform layer uses them.
#pragma once

#include <string>

namespace platform::windows {

// True for either of Windows' path separators, '\\' and '/'.
bool isSeparator(char c);

// The last separator in a path ('\\' or '/'), or null.
const char* lastSeparator(const char* path);

// True for an absolute Windows path: a drive with its root (C:\ or C:/) or a UNC name
// (\\server\share, //server/share). "C:name" is relative to the drive's current folder and
// "\name" to the current drive's root: neither is absolute.
bool isAbsolutePath(const char* path);

// One argument quoted for a Windows command line, so that the started program's C run-time
// gives it back unchanged: left as it is when it is not empty and holds no blank, tab, new line,
// vertical tab or quote; otherwise in quotes, a quote escaped with a backslash, and the
// backslashes before a quote or before the closing quote doubled.
std::string quotedArgument(const std::string& arg);

} // namespace platform::windows
