// The controls of the fake extractor bridge: a test library with the operations of opxbridge
// that describes whatever transmit file a test sets up and answers extraction requests with
// the events a test queues, recording every call it receives.
#pragma once

#include <stdint.h>

#include "opxbridge.h"

extern "C" {

// Forgets every setting and the record of calls.
BRIDGE_API void FakeOpxReset(void);
// The failure of the next opens (null: they succeed).
BRIDGE_API void FakeOpxSetOpenFailure(const char* message);
// The origin of the file.
BRIDGE_API void FakeOpxSetOrigin(const char* time, const char* node, const char* user);
// Adds a data set: kind 1 message, 2 sequential, 0 unknown organization, 3 partitioned, 4 PDSE.
BRIDGE_API void FakeOpxAddDataSet(int kind, int encrypted, int loadLibrary, int members, int lrecl,
                                  int blksize, const char* recfm, const char* dsname,
                                  const char* message);
// The directory line of a member (null: the bridge has none).
BRIDGE_API void FakeOpxSetDe(int fileNumber, int memberNumber, const char* line);
// Queues an event of reqExtract with the file name, member, error and record count it
// leaves; repeat > 1 queues it that many times, waiting delayMs before each answer.
BRIDGE_API void FakeOpxAddEvent(int code, const char* fileName, const char* member,
                                const char* error, int records, int repeat, int delayMs);
// What the request holds once the events are used up.
BRIDGE_API void FakeOpxSetFinal(const char* error, const char* fileName, int created, int replaced,
                                int skipped, int records);
// Every call received, one line each.
BRIDGE_API const char* FakeOpxLog(void);
}
