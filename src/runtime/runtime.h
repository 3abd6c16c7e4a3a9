// The core library runtime: connection and version handshake, fatal stop, print line, zeroed
// storage, the translation tables and their setup through codexa, the member-name rule, the
// traced file operations and the utility message queue.
//
// Every core library links its own copy of this runtime, so each holds its own process-wide
// state. The state has no locks: a library is used from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "connection.h"

namespace rt {

// What differs between the core libraries that carry the runtime.
struct LibraryIdentity {
    const char* fileName;    // in messages, e.g. "OPXCORE.DLL"
    const char* productName; // e.g. "Quorin Opalex"
    const void* anchor;      // an address inside the library, to find its own file
};

inline constexpr const char* kFamily = "Quorin Toolbench";
inline constexpr const char* kVersion = "3.0.07";

// Size of the message and trace buffers: a path of the longest length with room for the text
// around it. Messages longer than this are cut, never overflowed.
inline constexpr size_t kMessageBufferSize = 8192;

// ---- connection ------------------------------------------------------------------------------

// The connect function behind each library's exported connect. Never returns on a version
// mismatch (fatal stop); returns null on success.
const char* connect(const LibraryIdentity& id, int* status, ConnectionRecord** record,
                    int traceLevel, const char* modulePath, const char* family, const char* version,
                    PrintCallback print, FatalCallback fatal);

// Stops fatally with "DLL is not connected" unless a connect has succeeded.
void requireConnected();
bool isConnected();

// The connection record (meaningful once connected).
const ConnectionRecord& connection();
int traceLevel();
// The module path of the connection record, or null.
const char* modulePath();

// ---- fatal stop, print line, formatted messages -----------------------------------------------

// Clears the connection, hands the text to the fatal callback and to standard error and ends
// the process with exit code 20.
[[noreturn]] void fatal(const char* text);
[[noreturn]] void fatalf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Hands one line to the print callback, or writes it to standard error.
void printLine(const char* text);
void printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats into the static message buffer and returns it; the next message overwrites it.
const char* message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- storage -----------------------------------------------------------------------------------

// Zero-filled storage; a failure (or a size that overflows) stops fatally with
// "Heap storage allocation failed for %lu bytes!".
void* allocZeroed(size_t size);
void* allocArray(size_t count, size_t size);
// Grows a block to newSize, zero-filling the added part; a size not larger is a no-op.
void* grow(void* block, size_t oldSize, size_t newSize);
char* duplicate(const char* text);
void release(void* block);

// ---- translation -------------------------------------------------------------------------------

// The current translation tables: the built-in code page 1047 / ISO 8859-1 pair until a
// conversion is set.
const uint8_t* ebcdicToAscii();
const uint8_t* asciiToEbcdic();
// Maps EBCDIC bytes to printable ASCII for trace dumps (letters, digits and punctuation of
// code page 037; everything else a blank).
const uint8_t* displayTable();

// Builds the conversion between the environment's ASCII and EBCDIC code pages once per
// process. Returns null, or the KDU803E / KDU804E message.
const char* setConversion();

// Translates EBCDIC text into a workstation buffer of `capacity` bytes: at most capacity − 1
// bytes, stopping at the first zero byte; the rest of the buffer is zero-filled.
void translateText(const uint8_t* ebcdic, size_t length, char* out, size_t capacity);

// ---- member names -------------------------------------------------------------------------------

enum CaseRule { kAnyCase = 1, kUpperCase = 2, kLowerCase = 3 };
// The member-name rule: 1 to 8 characters, letters and digits (in the cases the rule allows)
// and the four national characters of the EBCDIC code page, not starting with a digit or with
// the character of EBCDIC X'C0'. Characters are compared as bytes; letters and digits are the
// ASCII ones, whatever the locale.
bool isMemberName(const char* name, size_t length, CaseRule rule);

// ---- traced file operations --------------------------------------------------------------------

int ioOpen(IoFileCore& f);
int ioClose(IoFileCore& f, bool remove);
int ioRemove(const char* path, int traceLevel);
size_t ioRead(IoFileCore& f, void* buffer, size_t size, size_t count);
int ioWrite(IoFileCore& f, const void* buffer, size_t size, size_t count);
int ioWriteString(IoFileCore& f, const char* text);
int ioTell(IoFileCore& f);
int ioSeek(IoFileCore& f, int64_t offset, int whence);
// 1 when the file is not accessible in the mode (0 exists, 2 write, 4 read, 6 both), else 0.
int ioAccess(const char* path, int mode, int traceLevel);
// The level-4 dump of a buffer through print line.
void ioDump(const IoFileCore& f, const void* data, size_t size);

// ---- utility message queue ---------------------------------------------------------------------

void queueMessage(UtilityMessageQueue** queue, int severity, std::string_view text);
// The export behind each utility core's UtilityMessageGet.
int utilityMessageGet(int function, void** args);
// Frees a queue and everything in it; the handle becomes null.
void freeMessageQueue(UtilityMessageQueue** queue);

} // namespace rt
