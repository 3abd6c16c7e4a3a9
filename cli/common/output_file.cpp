#include "output_file.h"

#include "platform/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace cli {

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    toStdout_ = path_.empty() || path_ == "-";
}

OutputFile::~OutputFile() {
    if (file_ != nullptr && !toStdout_) std::fclose(file_);
    if (!committed_ && !temp_.empty()) std::remove(temp_.c_str());
}

bool OutputFile::open() {
    if (toStdout_) {
        // The output is bytes: no line-end translation of standard output on Windows.
        platform::setBinaryMode(stdout);
        file_ = stdout;
        return true;
    }
    const int fd = platform::createBeside(path_, ".", temp_);
    if (fd < 0) {
        error_ = "cannot create a file next to " + path_ + ": " + std::strerror(errno);
        return false;
    }
    file_ = platform::streamOf(fd, "wb");
    if (file_ == nullptr) {
        error_ = "cannot open " + temp_ + ": " + std::strerror(errno);
        platform::closeFile(fd);
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
    if (!platform::replaceFile(temp_, path_)) {
        error_ = "cannot replace " + path_ + ": " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    return true;
}

} // namespace cli
