// The encodings of opx's output: a table from each byte of the workstation code page to its
// bytes in the encoding chosen, made once through the code page library.
#include <cstdio>

#include "codepage_names.h"
#include "opx.h"
#include "platform/console.h"

namespace opxcli {

namespace {

constexpr uint32_t kUtf8 = 1208;

cli::CharsetPtr workstationCharset() {
    CodePageEnv env{};
    uGetCodePageEnv(&env);
    return cli::CharsetPtr(pCharsetLoad(env.ascii, 0));
}

} // namespace

bool Encoding::build(const Charset* target) {
    cli::CharsetPtr source = workstationCharset();
    if (source == nullptr) return false;
    identity_ = target->codePage == source->codePage && target->variant == source->variant;
    if (identity_) return true;
    cli::ConversionPtr conversion(pConversionBuild(source.get(), target));
    if (conversion == nullptr) return false;
    for (unsigned b = 0; b < 256; ++b) {
        const uint8_t in = static_cast<uint8_t>(b);
        const uint8_t* from = &in;
        uint8_t* to = table_.bytes[b];
        eConvert(&from, &in + 1, &to, table_.bytes[b] + 4, conversion.get(), 0, 0);
        table_.length[b] = static_cast<uint8_t>(to - table_.bytes[b]);
    }
    return true;
}

bool Encoding::choose(const std::string& requested) {
    cli::CharsetPtr target;
    if (!requested.empty()) {
        target = cli::loadNamedCharset(requested);
        if (target == nullptr || target->kind == CODEXA_KIND_EBCDIC ||
            (target->kind == CODEXA_KIND_UNICODE && target->codePage != kUtf8)) {
            std::fprintf(stderr,
                         "opx: --encoding %s: not an encoding for workstation text (give an "
                         "ASCII code page such as 819 or 1252, or utf-8; cpconv --list shows "
                         "them)\n",
                         requested.c_str());
            return false;
        }
    } else if (platform::consoleCodePage() == kUtf8) {
        target.reset(pCharsetLoad(kUtf8, 0));
    } else {
        identity_ = true;
        name_ = "workstation";
        return true;
    }
    if (target == nullptr || !build(target.get())) {
        std::fprintf(stderr, "opx: cannot convert the workstation code page to %s\n",
                     requested.c_str());
        return false;
    }
    name_ = target->codePage == kUtf8 ? "utf-8" : std::to_string(target->codePage);
    return true;
}

const Encoding& Encoding::utf8() {
    static const Encoding e = [] {
        Encoding u;
        cli::CharsetPtr target(pCharsetLoad(kUtf8, 0));
        if (target != nullptr) u.build(target.get());
        u.name_ = "utf-8";
        return u;
    }();
    return e;
}

std::string Encoding::text(std::string_view in) const {
    if (identity_) return std::string(in);
    std::string out;
    out.reserve(in.size());
    for (char c : in) {
        const auto b = static_cast<uint8_t>(c);
        out.append(reinterpret_cast<const char*>(table_.bytes[b]), table_.length[b]);
    }
    return out;
}

} // namespace opxcli
