// cpconv: converts text between two code pages or Unicode encoding forms.
//
//   cpconv -f 1047 -t 819 --newline lf member.txt > member.ascii
//   cpconv --list
//
// The input streams through fixed buffers, so memory stays flat for any input size. Line ends
// that form one pair (CR LF, LF CR, CR NL) are never split between two calls of the converter.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "codepage_names.h"
#include "codexa.h"
#include "directory.h"
#include "output_file.h"
#include "platform/files.h"

namespace {

const char* kindName(uint32_t kind) {
    switch (kind) {
    case CODEXA_KIND_UNICODE:
        return "Unicode";
    case CODEXA_KIND_ASCII:
        return "ASCII";
    case CODEXA_KIND_EBCDIC:
        return "EBCDIC";
    default:
        return "other";
    }
}

using cli::CharsetPtr;
using cli::ConversionPtr;
using cli::parseNumber;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

CharsetPtr loadNamed(const std::string& text) {
    return cli::loadNamedCharset(text);
}

bool parseNewline(const std::string& text, int& mode) {
    static const struct {
        const char* name;
        int mode;
    } kModes[] = {
        {"none", 0}, {"nl", 2},   {"cr", 3},     {"lf", 4},         {"crlf", 5},
        {"lfcr", 6}, {"crnl", 7}, {"native", 8}, {"native-iso", 9},
    };
    const std::string s = lower(text);
    for (const auto& m : kModes)
        if (s == m.name) {
            mode = m.mode;
            return true;
        }
    uint32_t v;
    if (parseNumber(s, v) && v <= 9) {
        mode = static_cast<int>(v);
        return true;
    }
    return false;
}

int listDirectory(bool json) {
    nlohmann::json rows = nlohmann::json::array();
    if (!json)
        std::printf("%-6s %-7s %-6s %-7s %-6s %s\n", "CP", "Variant", "CCSID", "Kind", "Euro",
                    "Name");
    for (const CodePageEntry* r = codexa::directoryBegin(); r != codexa::directoryEnd(); ++r) {
        if (json) {
            rows.push_back({{"codePage", r->codePage},
                            {"variant", r->variant},
                            {"ccsid", r->ccsid},
                            {"kind", kindName(r->kind)},
                            {"euroPosition", r->euroPosition},
                            {"mask", r->mask != nullptr},
                            {"name", r->name}});
            continue;
        }
        char ccsid[8] = "-", euro[8] = "-";
        if (r->ccsid) std::snprintf(ccsid, sizeof ccsid, "%u", static_cast<unsigned>(r->ccsid));
        if (r->euroPosition)
            std::snprintf(euro, sizeof euro, r->kind == CODEXA_KIND_UNICODE ? "U+%04X" : "0x%02X",
                          static_cast<unsigned>(r->euroPosition));
        std::printf("%-6u %-7u %-6s %-7s %-6s %s\n", static_cast<unsigned>(r->codePage),
                    static_cast<unsigned>(r->variant), ccsid, kindName(r->kind), euro, r->name);
    }
    if (json) std::printf("%s\n", rows.dump(2).c_str());
    return 0;
}

// How the input is cut into calls of the converter.
struct InputShape {
    size_t unit = 1; // bytes per code unit
    bool utf8 = false;
    bool utf16 = false;
    bool littleEndian = false;
    uint32_t cr = 0x0D, lf = 0x0A; // code unit values of CR and LF in the input
};

InputShape shapeOf(const Charset* in) {
    InputShape s;
    if (in->kind != CODEXA_KIND_UNICODE) {
        s.cr = in->cr;
        s.lf = in->lf;
        return s;
    }
    s.littleEndian = (in->flags & CODEXA_LITTLE_ENDIAN) != 0;
    if (in->flags & CODEXA_UNIT32)
        s.unit = 4;
    else if (in->flags & CODEXA_UNIT16) {
        s.unit = 2;
        s.utf16 = true;
    } else
        s.utf8 = true;
    return s;
}

uint32_t unitAt(const InputShape& s, const uint8_t* p) {
    if (s.unit == 1) return p[0];
    if (s.unit == 2)
        return s.littleEndian ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] << 8 | p[1]);
    return s.littleEndian ? (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                             uint32_t(p[3]) << 24)
                          : (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 |
                             uint32_t(p[3]));
}

// Where to end the converter's input when more data follows: never inside a character, and
// never between the two characters of a line-end pair. Pairs are found greedily from the start
// of the trailing run of CR and LF units, exactly as the converter would find them; a single CR
// or LF that ends the run waits for the next data.
size_t safeCut(const InputShape& s, const uint8_t* buf, size_t n, bool lineEnds) {
    size_t m = n - n % s.unit;
    if (s.utf8) {
        // Back over an incomplete trailing sequence.
        size_t k = m;
        int cont = 0;
        while (k > 0 && cont < 3 && (buf[k - 1] & 0xC0) == 0x80) {
            --k;
            ++cont;
        }
        if (k > 0) {
            uint8_t lead = buf[k - 1];
            size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (need > 1 && static_cast<size_t>(cont) + 1 < need) m = k - 1;
        }
    } else if (s.utf16 && m >= 2) {
        uint32_t u = unitAt(s, buf + m - 2);
        if (u >= 0xD800 && u <= 0xDBFF) m -= 2;
    }
    if (!lineEnds) return m;
    size_t runStart = m;
    while (runStart >= s.unit) {
        uint32_t u = unitAt(s, buf + runStart - s.unit);
        if (u != s.cr && u != s.lf) break;
        runStart -= s.unit;
    }
    if (runStart == m) return m;
    size_t i = runStart, lastToken = runStart;
    bool lastSingle = false;
    while (i < m) {
        lastToken = i;
        if (i + s.unit < m && unitAt(s, buf + i) != unitAt(s, buf + i + s.unit)) {
            i += 2 * s.unit;
            lastSingle = false;
        } else {
            i += s.unit;
            lastSingle = true;
        }
    }
    return lastSingle ? lastToken : m;
}

struct Failure {
    std::string message;
};

class Converter {
  public:
    Converter(const Conversion* conv, const Charset* in, int mode, cli::OutputFile& out)
        : conv_(conv), shape_(shapeOf(in)), mode_(mode), out_(out), buffer_(kBufferSize),
          outBuffer_(kOutSize) {
        lineEnds_ = mode >= 2;
    }

    // Converts one input stream; returns an error text or "".
    std::string run(std::FILE* f, const std::string& name) {
        size_t have = 0; // bytes held over from the previous read
        uint64_t consumedBefore = 0;
        for (;;) {
            size_t got = std::fread(buffer_.data() + have, 1, buffer_.size() - have, f);
            if (got == 0 && std::ferror(f))
                return "cannot read " + name + ": " + std::strerror(errno);
            const bool eof = got == 0 || std::feof(f);
            size_t n = have + got;
            size_t cut = eof ? n : safeCut(shape_, buffer_.data(), n, lineEnds_);
            const uint8_t* p = buffer_.data();
            const uint8_t* end = p + cut;
            int status;
            do {
                uint8_t* q = outBuffer_.data();
                status =
                    eConvert(&p, end, &q, outBuffer_.data() + outBuffer_.size(), conv_, 0, mode_);
                if (!out_.write(outBuffer_.data(), static_cast<size_t>(q - outBuffer_.data())))
                    return out_.error();
            } while (status == CODEXA_FULL);
            const uint64_t offset = consumedBefore + static_cast<uint64_t>(p - buffer_.data());
            if (status == CODEXA_INVALID)
                return "invalid input in " + name + " at byte offset " + std::to_string(offset);
            if (status == CODEXA_INCOMPLETE && eof)
                return "input " + name + " ends inside a character at byte offset " +
                       std::to_string(offset);
            const size_t used = static_cast<size_t>(p - buffer_.data());
            have = n - used;
            std::memmove(buffer_.data(), p, have);
            consumedBefore += used;
            if (eof) {
                if (have != 0)
                    return "input " + name + " ends inside a character at byte offset " +
                           std::to_string(consumedBefore);
                return "";
            }
        }
    }

  private:
    static constexpr size_t kBufferSize = 256 * 1024;
    static constexpr size_t kOutSize = 1024 * 1024;
    const Conversion* conv_;
    InputShape shape_;
    int mode_;
    bool lineEnds_;
    cli::OutputFile& out_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> outBuffer_;
};

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Converts text between code pages and Unicode encoding forms.\n"
                 "Code pages are given by number (1047), number/variant (37/101), CCSID "
                 "(ccsid:37) or as utf-8, utf-16, utf-16be, utf-32, utf-32be.",
                 "cpconv"};
    // Options are --name or -x only: a path that begins with a slash (which on Windows names
    // the current drive's root) is an argument, never a Windows-style /option.
    app.allow_windows_style_options(false);
    std::string from, to, newline = "none", outPath = "-";
    std::vector<std::string> files;
    bool list = false, json = false;
    app.add_option("-f,--from", from, "code page of the input");
    app.add_option("-t,--to", to, "code page of the output");
    app.add_option("-n,--newline", newline,
                   "line ends to write: none, nl, cr, lf, crlf, lfcr, crnl, native, native-iso, "
                   "or a mode number 0-9")
        ->capture_default_str();
    app.add_option("-o,--output", outPath,
                   "output file (written whole or not at all); - for standard output")
        ->capture_default_str();
    app.add_flag("-l,--list", list, "list the code page directory and exit");
    app.add_flag("--json", json, "with --list: print the directory as JSON");
    app.add_option("FILE", files, "input files, concatenated; none or - for standard input");
    CLI11_PARSE(app, argc, argv);

    if (list) return listDirectory(json);
    if (from.empty() || to.empty()) {
        std::fprintf(stderr, "cpconv: both -f FROM and -t TO are needed (see cpconv --help)\n");
        return 2;
    }
    int mode = 0;
    if (!parseNewline(newline, mode)) {
        std::fprintf(stderr, "cpconv: unknown newline mode '%s' (see cpconv --help)\n",
                     newline.c_str());
        return 2;
    }
    CharsetPtr source = loadNamed(from);
    if (!source) {
        std::fprintf(stderr, "cpconv: unknown code page '%s' (cpconv --list shows them)\n",
                     from.c_str());
        return 2;
    }
    CharsetPtr target = loadNamed(to);
    if (!target) {
        std::fprintf(stderr, "cpconv: unknown code page '%s' (cpconv --list shows them)\n",
                     to.c_str());
        return 2;
    }
    ConversionPtr conv(pConversionBuild(source.get(), target.get()));
    if (!conv) {
        std::fprintf(stderr, "cpconv: out of memory\n");
        return 1;
    }

    cli::OutputFile out(outPath);
    if (!out.open()) {
        std::fprintf(stderr, "cpconv: %s\n", out.error().c_str());
        return 1;
    }
    Converter converter(conv.get(), source.get(), mode, out);
    if (files.empty()) files.push_back("-");
    for (const std::string& name : files) {
        if (name == "-") platform::setBinaryMode(stdin); // bytes, not text lines
        std::FILE* f = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
        if (f == nullptr) {
            std::fprintf(stderr, "cpconv: cannot open %s: %s\n", name.c_str(),
                         std::strerror(errno));
            return 1;
        }
        std::string error = converter.run(f, name == "-" ? "<stdin>" : name);
        if (f != stdin) std::fclose(f);
        if (!error.empty()) {
            std::fprintf(stderr, "cpconv: %s\n", error.c_str());
            return 1;
        }
    }
    if (!out.commit()) {
        std::fprintf(stderr, "cpconv: %s\n", out.error().c_str());
        return 1;
    }
    return 0;
}
