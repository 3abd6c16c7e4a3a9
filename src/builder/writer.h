// The transmit-file writer behind iBrenCreate.
#pragma once

#include <cstdint>

#include "brencore.h"

namespace bren {

// Checks the request, writes the transmit file (complete, or not at all) and sets the
// request's message and return code. Returns the return code.
int createTransmitFile(BuildRequest& request);

// The directory blocks the request's members need (load modules: every member examined).
// Returns 0 with the request's message and return code set on failure.
unsigned computeDirectoryBlocks(BuildRequest& request, unsigned* smallestBlock);

// The size text unit of a control record (10 bytes): INMSIZE with the size in bytes, or
// INMLSIZE with the size in megabytes (rounded up) from 2 GiB on.
void encodeSizeUnit(uint8_t out[10], uint64_t bytes);

// For tests: makes the n-th positioning of the output fail (1 the first, 0 never), to reach
// the messages of a failed patch.
void failOutputSeekForTesting(int n);

// The EBCDIC order of a member list: stable, by compareMemberNames.
void sortMemberNames(MemberName* list, uint32_t count);

} // namespace bren
