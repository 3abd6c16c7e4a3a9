// Internal operations of the extractor core over an open transmit file: records, positions,
// the IEBCOPY unload and its directory, and member data through a cursor. Extraction, dumps
// and load-module decoding build on them.
#pragma once

#include <cstdint>

#include "opxcore.h"

namespace opx {

// ---- transmit records ---------------------------------------------------------------------------

// Reads the next logical record into handle->record; fills recordLength, recordOffset and
// recordFlags. Returns the I/O status (IO_OK, IO_ERROR, IO_EOF); on failure the handle's
// message says why.
int readRecord(XmitHandle* h);

// Positions at a file offset and forgets the length byte read ahead. Returns the I/O status;
// a failure sets the message "%s error: %s".
int seek(XmitHandle* h, int64_t offset);

// The file offset of the next record (the read-ahead length byte counts as unread).
int64_t nextRecordPosition(const XmitHandle* h);

// The same through the traced tell when every call is traced (trace level 3 and above, where
// the stream stands where the reader does); a failure sets the message "%s error: %s". Returns
// the I/O status.
int tell(XmitHandle* h, int64_t* position);

// Whether the current record is a control record with the given 6-byte identifier.
bool isControl(const XmitHandle* h);
bool hasIdentifier(const XmitHandle* h, const uint8_t id[6]);

// ---- the IEBCOPY unload ------------------------------------------------------------------------

// Reads and checks COPYR1 and COPYR2 after the INMR03 of a partitioned data set. May change
// the kind (PDSE: 4, not supported: 0). Returns false with the handle's message set on error.
bool checkUnloadControlRecords(XmitHandle* h, XmitDataSet* ds);

// Reads the directory (both passes). Returns false with the handle's message set on error.
bool readDirectory(XmitHandle* h, XmitDataSet* ds);

// Loads the directory of data set n (1-based) when it has not been read yet and returns the
// data set, or null with the handle's message set. With `readPdse` false this is the library's
// exported call, which refuses the unload of a PDSE; with it true the data members of a PDSE
// unload are read as well.
XmitDataSet* loadDirectory(XmitHandle* h, unsigned n, bool readPdse);

// The entry of a loaded directory, or null beyond its end.
const uint8_t* directoryEntry(const XmitDataSet* ds, unsigned index);
// The length of a directory entry from its indicator byte.
inline unsigned entryLength(const uint8_t* entry) {
    return 12u + 2u * (entry[11] & 0x1Fu);
}

// Decodes the load-module attributes of a directory entry of the given length. Fields that lie
// beyond the entry count as absent.
void decodeLoadModuleEntry(const uint8_t* entry, unsigned length, DirectoryEntryInfo* info);

// Converts a packed date 0CYYDDDF to "yyyy-mm-dd" (text of 11 bytes). Returns 0 for a date,
// -1 for a zero date (ten blanks) and 1 for an invalid one (text untouched).
int packedDate(const uint8_t packed[4], char* text);

// The TTR of a data block relative to the start of the data set, from its count field.
uint32_t relativeTtr(const XmitDataSet* ds, const uint8_t* countField);

// ---- member data --------------------------------------------------------------------------------

// Starts reading member data at the data set's first member: seeks to the data position and
// resets the cursor. For spanned records an assembly buffer may be given.
bool startMembers(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, uint8_t* assembly,
                  uint32_t capacity);

// Delivers the next record of the current member: MEMBER_RECORD with cursor.record and
// cursor.recordLength, MEMBER_END at the member's end (the cursor then stands at the next
// member), or MEMBER_ERROR with the handle's message set.
int readMemberRecord(XmitHandle* h, XmitDataSet* ds, MemberCursor* c);

// Passes over the rest of the current member. Returns MEMBER_END or MEMBER_ERROR.
int skipToMemberEnd(XmitHandle* h, XmitDataSet* ds, MemberCursor* c);

// The relative TTR of the next block the cursor will read (the start of the next member when
// the cursor stands at a member boundary); reads the next transmit record when needed.
// Returns MEMBER_RECORD with *ttr set, or MEMBER_ERROR.
int peekBlockTtr(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, uint32_t* ttr);

// At a member boundary: MEMBER_RECORD with the relative TTR of the next member's first block,
// MEMBER_END when the next transmit record is a control record (there are no more members),
// or MEMBER_ERROR.
int peekMemberStart(XmitHandle* h, XmitDataSet* ds, MemberCursor* c, uint32_t* ttr);

} // namespace opx
