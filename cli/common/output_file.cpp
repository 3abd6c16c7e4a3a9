#include "output_file.h"

#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace cli {

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    toStdout_ = path_.empty() || path_ == "-";
}

OutputFile::~OutputFile() {
    if (file_ != nullptr && !toStdout_) std::fclose(file_);
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

bool OutputFile::open() {
    if (toStdout_) {
        file_ = stdout;
        return true;
    }
    const int fd = platform::createBeside(path_, ".", temp_);
    if (fd < 0) {
        error_ = "cannot create a file next to " + path_ + ": " + std::strerror(errno);
        return false;
    }
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        error_ = "cannot open " + temp_ + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    return true;
}

bool OutputFile::write(const void* data, size_t size) {
    if (size == 0) return true;
    if (std::fwrite(data, 1, size, file_) != size) {
        error_ = "cannot write " + (toStdout_ ? std::string("standard output") : path_) + ": " +
                 std::strerror(errno);
        return false;
    }
    return true;
}

bool OutputFile::commit() {
    if (toStdout_) {
        if (std::fflush(stdout) != 0) {
            error_ = std::string("cannot write standard output: ") + std::strerror(errno);
            return false;
        }
        committed_ = true;
        return true;
    }
    int rc = std::fclose(file_);
    file_ = nullptr;
    if (rc != 0) {
        error_ = "cannot write " + path_ + ": " + std::strerror(errno);
        return false;
    }
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
        error_ = "cannot replace " + path_ + ": " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    return true;
}

} // namespace cli
