/* The records that every core library shares with its callers: the connection record filled
 * by the connect function, the traced workstation file, and the message queue of the
 * utility cores. Keep the field order: callers read these records directly. */
#ifndef OPX_RUNTIME_CONNECTION_H
#define OPX_RUNTIME_CONNECTION_H

#include <stdint.h>
#include <stdio.h>

#include "platform/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Receives every trace and information line (when null, lines go to standard error). */
typedef void (*PrintCallback)(const char* line);
/* Receives the text of a fatal message just before the process ends with exit code 20. */
typedef void (*FatalCallback)(const char* text);

typedef struct ConnectionRecord {
    int64_t connectTime;       /* calendar time (seconds) of the connection */
    char* modulePath;          /* full path of the library file, or of the calling program */
    const char* productName;   /* e.g. "Quorin Opalex" */
    const char* productFamily; /* "Quorin Toolbench" */
    const char* version;       /* "3.0.07" */
    int traceLevel;            /* every file opened afterwards takes it */
} ConnectionRecord;

/* Trace levels of the traced file operations. */
enum {
    TRACE_ERRORS = 1, /* errors */
    TRACE_OPENS = 2,  /* opens, closes, removals and program starts */
    TRACE_CALLS = 3,  /* every call and record */
    TRACE_DUMPS = 4   /* hexadecimal dumps of the data */
};

/* I/O status of a traced file. */
enum { IO_OK = 0, IO_ERROR = 1, IO_EOF = 2 };

/* File modes. */
enum { IO_READ = 0, IO_UPDATE = 1, IO_APPEND = 2, IO_WRITE = 3 };

/* The fields of a traced workstation file that the traced operations use and keep up to date.
 * IoFile and the transmit-file handle both begin with them. The caller owns the record and
 * zeroes it before use. */
typedef struct IoFileCore {
    const char* path;  /* file name as given by the caller (not copied) */
    FILE* stream;      /* null while closed */
    int mode;          /* IO_READ, IO_UPDATE, IO_APPEND, IO_WRITE */
    int traceLevel;    /* copied from the connection record by the caller */
    int status;        /* IO_OK, IO_ERROR, IO_EOF */
    int errnum;        /* system error number of the last failure */
    int64_t position;  /* current position as last known (after tell or seek) */
    uint8_t binary;    /* nonzero: the stream is opened in binary mode */
    char dumpStyle;    /* character column of level-4 dumps: 0 none, ' ' ASCII, else EBCDIC */
    char operation[6]; /* "OPEN", "CREAT", "READ", "WRIT", "SEEK", "TELL", "CLOS", "REMOV" */
} IoFileCore;

/* One traced workstation file. */
typedef struct IoFile {
    IoFileCore io;
    const char* message; /* error text for the caller */
} IoFile;

/* The utility cores queue their messages; UtilityMessageGet takes them one at a time. The
 * queue is opaque to callers, who hold a pointer to it (null when empty). */
typedef struct UtilityMessageQueue UtilityMessageQueue;

/* The longest message text that is queued; longer texts are cut. A caller's output buffer for
 * UtilityMessageGet needs UTILITY_MESSAGE_BUFFER_SIZE bytes: severity (byte 0), length (bytes
 * 2-3, native order) and the text from byte 4, not terminated. */
#define UTILITY_MESSAGE_MAX_TEXT 8192
#define UTILITY_MESSAGE_BUFFER_SIZE (4 + UTILITY_MESSAGE_MAX_TEXT)

/* UtilityMessageGet functions and results. */
enum { UTILITY_MESSAGE_TAKE = 2 };
enum { UTILITY_MESSAGE_TAKEN = 0, UTILITY_MESSAGE_NO_QUEUE = 1, UTILITY_MESSAGE_EMPTY = 2 };

#ifdef __cplusplus
}
#endif

#endif /* OPX_RUNTIME_CONNECTION_H */
