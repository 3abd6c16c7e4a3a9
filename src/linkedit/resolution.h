// The module being built and the operations on it: object modules merged into it, the
// requests of control statements that name its sections, and automatic library call.
#pragma once

#include <string>

#include "linkedit.h"

namespace vrl {

struct Module {};

// Merges a checked and normalized object module into the module being built.
void mergeObjectModule(Job& job, ObjectModule& image);
// EXPAND: adds bytes to a class of a section already read. 0 done, 1 no such section, 2 the
// element would pass 1 GB.
int expandSection(Job& job, const std::string& section, const std::string& className,
                  uint64_t bytes);
// IDENTIFY: records identification data for a section already read. False when there is no
// such section.
bool identifySection(Job& job, const std::string& section, const std::string& data);
// LIBRARY: restricts automatic call for a symbol.
void registerLibrary(Job& job, const LibraryRequest& request);
// Automatic call from a DD (AUTOCALL, or SYSLIB at the end of a module).
void autocall(Job& job, const std::string& ddName);

} // namespace vrl
