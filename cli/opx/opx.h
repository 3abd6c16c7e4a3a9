// opx, the command-line front end of the transmit-file extractor: what its commands share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "codexa.h"
#include "extract.h"
#include "image.h"
#include "opxcore.h"

namespace opxcli {

using nlohmann::json;

// How the files of an unlabeled tape are read (--tape-recfm and the like).
opx::ImageOptions& imageOptions();

// An open transmit file, tape image or bare unload.
struct Handle {
    XmitHandle* h = nullptr;
    explicit Handle(const std::string& path) : h(opx::openImage(path.c_str(), imageOptions())) {}
    ~Handle() { vXmitFileClose(h); }
    // Whether the file can be read: true when all is well, and for a tape that breaks off
    // part-way (the files before the break are read; a warning says where). Otherwise prints
    // the reader's message and returns false.
    bool usable(const std::string& path) {
        if (h->message == nullptr) return true;
        if (opx::imageKind(h) == opx::ImageKind::Tape && h->fileCount > 0) {
            std::fprintf(stderr, "opx: warning: %s: %s; the %u files before it are read\n",
                         path.c_str(), h->message, static_cast<unsigned>(h->fileCount));
            h->message = nullptr;
            return true;
        }
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(), h->message);
        return false;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// How text of the workstation code page (names, messages, extracted text) reaches the user:
// re-encoded through the code page library into the encoding chosen, or as it is.
class Encoding {
  public:
    // The named encoding ("" for the default: UTF-8 when the locale's character set is UTF-8,
    // else the workstation code page as it is). False after printing why not.
    bool choose(const std::string& name);
    // Always UTF-8: the encoding of JSON.
    static const Encoding& utf8();
    // Null when the text stays as it is.
    const opx::TextEncoding* table() const { return identity_ ? nullptr : &table_; }
    std::string text(std::string_view workstation) const;
    const std::string& name() const { return name_; }

  private:
    bool build(const Charset* target);
    opx::TextEncoding table_{};
    bool identity_ = true;
    std::string name_;
};

// Text of the workstation code page as a JSON string (UTF-8).
inline json jsonText(std::string_view workstation) {
    return Encoding::utf8().text(workstation);
}

std::string trimRight(std::string_view s);
const char* kindName(int kind);
const char* kindKey(int kind);
bool isPartitioned(const XmitDataSet& ds);

// The file a sequential data set or a message is written to when -o names no file.
std::string defaultFileName(const std::string& transmitFile, const XmitDataSet& ds);

// "12.3K" and the like: sizes in units of 1024 with three significant digits.
std::string humanSize(uint64_t bytes);

int info(const std::string& path, bool asJson, const Encoding& encoding);
int list(const std::string& path, unsigned number, bool asJson, bool human,
         const Encoding& encoding);

struct ExtractOptions {
    std::string path;
    std::vector<std::string> positional; // [N] [MEMBER...]
    std::string output;
    std::string type = "auto";
    std::string lineEnd = "native";
    int tabs = 0;
    bool strip = false;
    unsigned lrecl = 0;
    unsigned blksize = 0;
    std::string format = "fixed";
    std::string pad;
    bool translate = false, blocked = false, spanned = false, truncate = false;
    std::string replace = "never";
    bool json = false;
    bool recursive = false;
    bool noTimes = false;
    std::string aliases = "link";
    bool unnum = false;
    std::string listing;          // relink: a listing for all members, or a pattern with &M
    std::string binderParameters; // relink: the options (PARM) of the linkage editor
};

int extract(const ExtractOptions& options, const Encoding& encoding);

} // namespace opxcli
