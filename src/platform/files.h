// Files that are written whole: a new file beside the target, renamed over it when complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

// Creates a new, empty file in the folder of `target`, named `target` + `tag` + a unique
// suffix, and opens it for writing. Its mode is the one a new file gets from open() and the
// umask (0666 minus the umask), or the mode of `target` when that file exists, so that a file
// renamed over the target neither loses the target's permissions nor gets private ones.
// Returns the descriptor and sets `temp` to the name; -1 with errno set on failure.
int createBeside(const std::string& target, const char* tag, std::string& temp);

// Renames `from` to `to`, replacing a file that `to` names (rename() on POSIX; on Windows a move
// that replaces the target). False with errno set.
bool replaceFile(const std::string& from, const std::string& to);

// Writes all `size` bytes to a descriptor, going on after interruptions. False with errno set.
bool writeAll(int fd, const void* data, size_t size);

// Closes a descriptor. False with errno set.
bool closeFile(int fd);

// Writes a descriptor's data through to the disk. False with errno set.
bool syncFile(int fd);

// A binary stream over a descriptor that createBeside returned, or null with errno set (the
// descriptor is then still open).
FILE* streamOf(int fd, const char* mode);

// Sets a file's modification time (seconds since the epoch), leaving its access time; a
// symbolic link itself, not the file it names. False with errno set.
bool setModificationTime(const std::string& path, std::time_t when);

// Makes `link` a symbolic link to `target`. False with errno set where the system or the file
// system has none, or refuses.
bool makeSymbolicLink(const std::string& target, const std::string& link);

// Every name in a folder ("." and ".." among them), in byte order. False with errno set when
// the folder cannot be read.
bool folderNames(const std::string& folder, std::vector<std::string>& names);

// Which file an open stream or a path is: the device and inode here, the volume serial number
// and file index on Windows. Two names of one file give equal identities.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};
bool identityOf(FILE* stream, FileIdentity& id, bool regularOnly);
bool identityOf(const char* path, FileIdentity& id);

// The regular file that a path names: the path itself, or the file at the end of a chain of
// symbolic links as a full path. "" when the path names anything else or cannot be resolved;
// `missing` tells a path that does not exist at all.
std::string regularFileBehind(const std::string& path, bool& missing);

// Puts a standard stream into binary mode, so that bytes pass unchanged (Windows translates
// line ends in text mode; elsewhere nothing to do).
void setBinaryMode(FILE* stream);

// fread without the stream's lock, for a stream that one thread uses.
size_t readUnlocked(void* buffer, size_t size, size_t count, FILE* stream);

// Reads up to n bytes at `offset` of the stream's file, for a look at a few bytes far apart
// (one call where a seek and a read through the stream's buffer would be two). Returns the
// count read: short at the end of the file, and short with errno set when the file cannot be
// read. Here the stream stays where it stood (pread); on Windows the read goes through the
// stream, which is left after the bytes read. Either way the caller seeks before its next read
// through the stream.
size_t readAt(FILE* stream, int64_t offset, void* buffer, size_t n);

// access(): 0 existence, 2 write, 4 read permission, as bits. 0 when granted, else -1 with
// errno set.
int checkAccess(const char* path, int mode);

// The null device's name ("/dev/null" here, "nul" on Windows).
const char* nullDevice();

} // namespace platform
