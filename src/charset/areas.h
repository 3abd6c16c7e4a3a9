// Checks of the caller's input and output areas, shared by the converters.
#pragma once

#include <cstdint>

namespace codexa {

// The positions describe two byte areas from position to end; an empty area may be given by
// null pointers.
inline bool areasValid(const uint8_t* const* input, const uint8_t* inEnd, uint8_t* const* output,
                       const uint8_t* outEnd) {
    if (input == nullptr || output == nullptr) return false;
    if ((*input == nullptr) != (inEnd == nullptr) || (*output == nullptr) != (outEnd == nullptr))
        return false;
    return *input <= inEnd && *output <= outEnd;
}

} // namespace codexa
