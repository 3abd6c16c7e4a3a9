// The bytes of a fuzz input as a file that the libraries open by path: an anonymous memory file
// reached through /proc/self/fd, closed when the object goes.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

class MemoryFile {
  public:
    MemoryFile(const char* name, const uint8_t* data, size_t size) : fd_(memfd_create(name, 0)) {
        if (fd_ >= 0 && size > 0 && write(fd_, data, size) != static_cast<ssize_t>(size)) {
            close(fd_);
            fd_ = -1;
        }
        if (fd_ >= 0) path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() {
        if (fd_ >= 0) close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    const char* path() const { return path_.c_str(); }

  private:
    int fd_;
    std::string path_;
};
