// Code pages named on the command line, as every program takes them: "1047" (a code page
// number, or a CCSID where no code page has that number), "37/101" (code page and variant),
// "ccsid:37", or a name such as utf-8, utf-16be, latin1.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codexa.h"

namespace cli {

struct CharsetDeleter {
    void operator()(Charset* cs) const { vCharsetFree(cs); }
};
using CharsetPtr = std::unique_ptr<Charset, CharsetDeleter>;

struct ConversionDeleter {
    void operator()(Conversion* c) const { vConversionFree(c); }
};
using ConversionPtr = std::unique_ptr<Conversion, ConversionDeleter>;

// A decimal number of 1 to 5 digits up to 65535.
bool parseNumber(const std::string& s, uint32_t& out);

// The character set a name stands for, or null when it names none.
CharsetPtr loadNamedCharset(const std::string& text);

} // namespace cli
