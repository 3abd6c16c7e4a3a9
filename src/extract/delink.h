// Delink: a load module turned back into linkage-editor input, a deck of 80-byte EBCDIC cards
// that the linkage editor reads to rebuild the module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "loadmodule.h"

namespace opx {

// The delinked deck of a module: object modules rebuilt from its sections (their constants
// restored to what a translator would have written), then the control statements that give
// the module back its attributes, entry point, aliases and name (`member`, workstation
// characters). The cards follow one another, 80 bytes each.
std::vector<uint8_t> delinkModule(const LoadModuleImage& image, const std::string& member);

// Control statement cards for a statement of workstation text: columns 1-71 of the first card;
// a longer statement goes on in column 3 of continuation cards, each card before them marked
// in column 72. The cards are appended to `deck` in EBCDIC.
void statementCards(const std::string& text, std::vector<uint8_t>& deck);

} // namespace opx
