/* ufxcore: the update utility. It applies "./" control statements (ADD, CHANGE, REPL, REPRO,
 * NUMBER, DELETE, ENDUP) read from SYSIN to an old master (SYSUT1) and writes the new master
 * (SYSUT2) and a paged listing (SYSPRINT), in the manner of a mainframe job step.
 *
 * Each DD name is bound to a workstation path. A path whose last component holds "&M" or "&m"
 * is a partitioned data set: a folder of member files, the member path being the text before
 * the placeholder + the member name (lower case for "&m") + the text after it. Any other path
 * is a sequential data set; an empty path is a dummy data set; a null path is a missing DD
 * statement. "nul" is the null device, "<stdin>" (SYSIN) standard input and "<stdout>"
 * (SYSPRINT) hands the listing messages to the caller's callback instead of a file.
 *
 * A run returns its highest condition code: 0, or 12 after any error.
 *
 * Keep the field order of the records below: callers fill and read them directly. */
#ifndef OPX_UPDATE_UFXCORE_H
#define OPX_UPDATE_UFXCORE_H

#include <stdint.h>

#include "platform/export.h"
#include "runtime/connection.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Flag words for SYSPRINT, SYSUT1 and SYSUT2. */
enum {
    UPDATE_DD_BINARY = 0x01, /* the data set holds 80-byte EBCDIC records, not text lines */
    UPDATE_DD_APPEND = 0x02  /* DISP=MOD: output is appended to what the file holds */
};

/* Message levels handed to the callback. */
enum {
    UPDATE_MESSAGE_DD_MISSING = 1, /* "KEC130I ... DD statement missing": always to the callback */
    UPDATE_MESSAGE_LISTING = 2     /* a listing message when there is no listing file */
};

/* Receives (callback argument, level, text) for every message that does not go to a listing
 * file. */
typedef void (*UpdateMessageCallback)(void* argument, int level, const char* text);

/* The invocation block of UpdateUtility. */
typedef struct UpdateUtilityBlock {
    char version[7];    /* the caller's version, "3.0.07" with its terminating zero */
    uint8_t traceLevel; /* trace level of the traced file operations */
    uint8_t unused;
    uint8_t sysprintFlags;   /* UPDATE_DD_* for SYSPRINT */
    uint8_t sysut1Flags;     /* UPDATE_DD_* for SYSUT1 */
    uint8_t sysut2Flags;     /* UPDATE_DD_* for SYSUT2 */
    char ddNames[4][8];      /* SYSIN, SYSPRINT, SYSUT1, SYSUT2; blank or empty: the default */
    uint32_t reserved;       /* out: always 0 */
    uint32_t pageNumber;     /* in and out: the listing's first page; the next page on return */
    int32_t conditionCode;   /* out: the highest condition code */
    uint32_t messageCount;   /* out: messages queued */
    uint32_t longestMessage; /* out: length of the longest queued message */
    UtilityMessageQueue* messages; /* out: the queue for UtilityMessageGet, or null */
} UpdateUtilityBlock;

/* UpdateUtility's string arguments (the parameter string and the four paths) each point at a
 * 16-bit signed length in native byte order followed by the text. A path length of 0 or less
 * is a missing DD statement. */

/* Connects the caller; a family other than "Quorin Toolbench" or a version other than
 * "3.0.07" ends the process with exit code 20. Returns null. */
OPX_API const char* pszDllConnect(int* status, ConnectionRecord** record, int traceLevel,
                                  const char* modulePath, const char* family, const char* version,
                                  PrintCallback print, FatalCallback fatal);

/* Binds the library to the ASCII and EBCDIC code pages of the environment (once per
 * process). Returns null or the KDU803E / KDU804E message. */
OPX_API const char* pszUfxSetConversion(void);

/* Takes the next queued message (function 2). See connection.h for the buffer layout. */
OPX_API int UtilityMessageGet(int function, void** args);

/* One run of the utility. A null path is a missing DD statement; a null or empty DD name takes
 * the default (SYSIN, SYSPRINT, SYSUT1, SYSUT2). pageNumber (may be null: start at 1) is the
 * listing's first page on entry, taken modulo 10000, and the next page number on return;
 * reserved (may be null) receives 0. Returns the highest condition code. */
OPX_API int iUpdateUtility(const char* parameter, const char* sysinPath, const char* sysinDd,
                           const char* sysprintPath, const char* sysprintDd, const char* sysut1Path,
                           const char* sysut1Dd, const char* sysut2Path, const char* sysut2Dd,
                           UpdateMessageCallback callback, void* callbackArgument,
                           unsigned* pageNumber, unsigned* reserved, unsigned sysprintFlags,
                           unsigned sysut1Flags, unsigned sysut2Flags);

/* One run in the manner of a mainframe program call: argv[0] the UpdateUtilityBlock, argv[1]
 * the parameter string, argv[2] to argv[5] the SYSIN, SYSPRINT, SYSUT1 and SYSUT2 paths.
 * Accepts argc 6 or 7 (the seventh argument is not used); any other count returns 1. A
 * refused version returns 2 with the refusal queued; otherwise the messages are queued, the
 * block is filled in and the result is 0. */
OPX_API int UpdateUtility(int argc, void** argv);

#ifdef __cplusplus
}
#endif

#endif /* OPX_UPDATE_UFXCORE_H */
