// An output file that is complete or absent: data goes to a temporary file in the target's
// folder, which replaces the target only when everything was written.
#pragma once

#include <cstdio>
#include <string>

namespace cli {

class OutputFile {
  public:
    // path "-" (or empty) writes to standard output directly.
    explicit OutputFile(std::string path);
    ~OutputFile(); // removes the temporary file unless commit() succeeded
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the temporary file; false with error() set on failure.
    bool open();
    bool write(const void* data, size_t size);
    // Flushes, closes and renames over the target.
    bool commit();
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string temp_;
    std::FILE* file_ = nullptr;
    bool toStdout_ = false;
    bool committed_ = false;
    std::string error_;
};

} // namespace cli
