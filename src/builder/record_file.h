// Reading workstation files as z/OS data sets: logical records or physical blocks of a record
// format (fixed, variable, variable spanned, undefined), from records stored in their
// mainframe layout (block and record descriptor words included) or from text lines, which
// become records of the format, translated to EBCDIC.
//
// A RecordFile (brencore.h) is zeroed, given its name, attributes, flags and mode, opened,
// checked on its first read, read until its status is not 0, and closed. Status is sticky;
// every failure keeps a reason, and with tracing on a message says what was wrong:
//
//   Error reading "in.vb": Invalid RDW X'00030000' for record 7 in block 2 at +1234, LRECL=84
//   reason: Invalid RDW
#pragma once

#include <cstdint>

#include "brencore.h"

namespace bren {

// The text of a reason code ("Invalid RDW"), or "" for an unknown one.
const char* reasonText(int reason);

// Opens the file for reading in binary through the traced open; the trace level is taken
// from the connection. Returns the status.
int openRecordFile(RecordFile& f);

// Closes the file and releases its buffers. Returns the status of the close.
int closeRecordFile(RecordFile& f);

// Reads the next logical record into f.record / f.recordLength. Returns the status.
int readRecord(RecordFile& f);

// Reads the next physical block into f.record / f.recordLength, in its mainframe layout
// (BDW and RDWs for variable formats). Returns the status.
int readBlock(RecordFile& f);

// Positions the stream (origin SEEK_SET, SEEK_CUR or SEEK_END) and forgets everything read
// ahead; an end-of-file status is cleared. Returns the status; f.io.position holds the new
// position.
int seekRecordFile(RecordFile& f, int64_t offset, int origin);

} // namespace bren
