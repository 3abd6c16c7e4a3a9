// Internal access to the Unicode property database (the exported lookups wrap these).
#pragma once

#include <cstdint>

namespace codexa {

uint16_t ctypeOf(uint16_t codePoint);
uint16_t upperOf(uint16_t codePoint);
uint16_t lowerOf(uint16_t codePoint);
uint16_t numberOf(uint16_t codePoint);

} // namespace codexa
