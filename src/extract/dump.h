// The two hexadecimal listings of extraction: the record dump of any data set or member, and
// the formatted listing of a load module.
//
//   00000000   C8C5D3D3 D6404040 ...                  |HELLO           |
#pragma once

#include <cstdint>
#include <string>

#include "loadmodule.h"
#include "opxcore.h"
#include "output.h"

namespace opx {

// Dump lines of `data`, 16 or 32 bytes a line, the first column counting from `base`.
bool dumpLines(OutputFile& out, const uint8_t* data, size_t length, unsigned width, uint32_t base);
// One dump line into `line` (67 or 120 characters).
std::string dumpLine(const uint8_t* data, size_t count, unsigned width, uint32_t offset);

bool dumpHeader(OutputFile& out, const XmitDataSet* ds, const char* member);
bool dumpDirectoryEntry(OutputFile& out, const uint8_t* entry, unsigned width);
bool dumpRecord(OutputFile& out, unsigned long number, const uint8_t* data, uint32_t length,
                unsigned width);

// The listing of a load module read into an image.
bool listLoadModule(OutputFile& out, const XmitDataSet* ds, const char* member,
                    const uint8_t* entry, const LoadModuleImage& image);

} // namespace opx
