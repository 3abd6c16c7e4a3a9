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

// The RECFM letters of a RECFM byte (INMRECFM, or the DCB byte of an unload): F, V or U from
// the two high bits, then T, B, S, and A or M; "" for none.
void recfmLetters(uint8_t recfm, char* out);

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
// The TTR of a directory entry: where its member's data begins.
inline uint32_t entryTtr(const uint8_t* entry) {
    return (uint32_t(entry[8]) << 16) | (uint32_t(entry[9]) << 8) | entry[10];
}
// The length of a directory entry from its indicator byte.
inline unsigned entryLength(const uint8_t* entry) {
    return 12u + 2u * (entry[11] & 0x1Fu);
}

// One directory entry, decoded: what its display line shows, as values.
struct DecodedEntry {
    const uint8_t* entry = nullptr; // the entry as stored; null beyond the directory
    unsigned length = 0;
    char name[9] = {};  // translated, as stored (blank padded)
    bool alias = false; // an alias entry
    bool aliasResolved = false;
    char aliasOf[9] = {}; // the member of the same TTR, when found
    // A partitioned data set: ISPF statistics, when the entry has them and both dates are valid.
    bool statistics = false;
    unsigned version = 0, modification = 0;
    char created[11] = {}, changed[11] = {}; // "yyyy-mm-dd", or ten blanks for a zero date
    uint8_t hour = 0, minute = 0;            // packed: shown as two hexadecimal digits
    unsigned currentLines = 0, initialLines = 0, modifiedLines = 0;
    char user[9] = {}; // translated; empty when not set
    // A load library: the module's attributes.
    bool loadModule = false;
    DirectoryEntryInfo module{};
};

// Decodes entry `index` of a loaded directory.
DecodedEntry decodeEntry(const XmitDataSet* ds, unsigned index);

// The AMODE of a load module's flags as shown: "24", "64", "31" or "ANY".
inline const char* amodeName(uint32_t flags) {
    static const char* const kAmode[4] = {"24", "64", "31", "ANY"};
    return kAmode[(flags & DE_AMODE_MASK) >> 10];
}

// The attributes of a load module shown by two letters, with their columns in the display line.
struct ModuleAttribute {
    uint32_t flag;
    unsigned column;
    const char* text;
};
inline constexpr ModuleAttribute kModuleAttributes[] = {
    {DE_REFR, 54, "RF"}, {DE_RENT, 57, "RN"}, {DE_REUS, 60, "RU"}, {DE_TEST, 63, "TS"},
    {DE_ONLY, 66, "OL"}, {DE_OVLY, 69, "OV"}, {DE_SCTR, 72, "SC"}};

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
