/* brencore: the transmit-file builder core. It turns workstation files into a TSO TRANSMIT
 * file: one file becomes a sequential data set, a set of member files named by a pattern a
 * partitioned data set carried as an IEBCOPY unload, with an optional message in front.
 *
 * A caller fills one BuildRequest (partly with the checking exports below) and calls
 * iBrenCreate, which answers with a return code and one message in the same request.
 *
 * The records below are read and filled directly by callers (the window program's bridge
 * among them): keep their field order. */
#ifndef BRENCORE_H
#define BRENCORE_H

#include <stdint.h>

#include "codexa.h"
#include "connection.h"
#include "platform/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- workstation files read as z/OS records ---------------------------------------------- */

/* Status of a RecordFile: IO_OK, IO_ERROR and IO_EOF of the traced files, and a format error
 * whose reason is kept. */
enum { RECORD_FORMAT_ERROR = 3 };

/* Record format codes of a RecordFile. */
enum {
    RECFM_CODE_FIXED_UNBLOCKED = 0, /* records of exactly LRECL bytes, one per block */
    RECFM_CODE_FIXED = 1,           /* F and FB: records of LRECL bytes in blocks of BLKSIZE */
    RECFM_CODE_UNDEFINED = 2,       /* U: a 2-byte length in front that does not count itself */
    RECFM_CODE_PREFIXED = 3,        /* a 2-byte length in front that counts itself */
    RECFM_CODE_VARIABLE = 4,        /* V, VS: each record behind its 4-byte RDW */
    RECFM_CODE_VARIABLE_BLOCKED = 5 /* VB, VBS: blocks behind a BDW holding records with RDWs */
};

/* Modes of a RecordFile. */
enum {
    RECORD_MODE_STORED = 1, /* records in their stored layout; text lines translated to EBCDIC */
    RECORD_MODE_TEXT = 2,   /* text lines as they are */
    RECORD_MODE_XMIT = 5    /* TSO TRANSMIT segments joined into logical records */
};

/* Flags of a RecordFile. */
enum {
    RECORD_BLOCKED = 0x01,
    RECORD_SPANNED = 0x02,
    RECORD_TEXT = 0x04,        /* the file holds text lines */
    RECORD_STRIPPED = 0x08,    /* records are delivered without their RDW or length prefix */
    RECORD_TRIM = 0x10,        /* trailing blanks of text lines are removed */
    RECORD_TRUNCATE = 0x20,    /* text beyond the line limit is dropped */
    RECORD_CHECKED = 0x40,     /* the attributes have been checked */
    RECORD_END_OF_INPUT = 0x80 /* the stream has reached its end */
};

/* Reason codes of a format error (RECORD_FORMAT_ERROR). */
enum {
    REASON_RECFM = 1,
    REASON_BLKSIZE = 2,
    REASON_LRECL = 3,
    REASON_RECORD_TOO_LONG = 4,
    REASON_BLOCK_TOO_LONG = 5,
    REASON_RDW = 6,
    REASON_BDW = 7,
    REASON_SDW = 8,
    REASON_EOF_IN_RDW = 9,
    REASON_EOF_IN_BDW = 10,
    REASON_EOF_IN_RECORD = 11,
    REASON_EOF_IN_BLOCK = 12,
    REASON_EOF_IN_SPANNED = 13,
    REASON_EOF_IN_CHARACTER = 14,
    REASON_INVALID_CHARACTER = 15
};

/* A workstation file read as logical records or physical blocks of a z/OS record format. The
 * caller zeroes it, sets the file name, attributes, flags, mode, tab option and character set,
 * opens it, reads it until a status other than 0, and closes it. */
typedef struct RecordFile {
    IoFileCore io; /* file name, stream, trace level and system error number */
    int status;    /* IO_OK, IO_ERROR, IO_EOF or RECORD_FORMAT_ERROR; sticky */
    int reason;    /* REASON_* of a format error */
    int recfmCode; /* RECFM_CODE_* */
    int mode;      /* RECORD_MODE_* */
    uint32_t lrecl;
    uint32_t blksize;
    uint32_t flags;         /* RECORD_* */
    int tabOption;          /* 0 none, 4 stops every 4 columns, other values every 8 */
    const Charset* charset; /* names the blank, line-end and tab characters of text, or null */
    uint8_t* record;        /* the current record (or block) */
    uint32_t recordLength;
    int64_t recordOffset; /* file offset at which the current record or block began */
    uint32_t recordsRead; /* 1-based number of the record in hand, for messages */
    uint32_t blocksRead;
    /* Buffers and reading state (internal). */
    uint8_t* recordBuffer;
    uint32_t recordCapacity;
    uint8_t* blockBuffer;
    uint32_t blockCapacity;
    uint8_t* textBuffer; /* pieces of text read ahead */
    uint32_t textLength;
    uint32_t textPosition;
    uint8_t* tables;       /* text: byte classes and translation */
    uint8_t* streamBuffer; /* the stream's own buffer */
    uint8_t lookahead[4];  /* the next descriptor, read with the record before it */
    uint32_t lookaheadLength;
    uint32_t blockUsed; /* bytes of the block in hand already delivered */
    uint32_t blockLength;
    int64_t blockOffset;    /* file offset of the block in hand */
    int64_t streamPosition; /* bytes taken from the stream */
    uint8_t pendingLineEnd; /* the line-end byte that ended the last line, 0 when none */
    uint8_t heldLine;       /* a text line read ahead waits in the record buffer */
    uint8_t reserved[2];
    uint32_t heldLength;
} RecordFile;

/* ---- the build request ------------------------------------------------------------------- */

/* Case modes of a member pattern (the last path component of its text). */
enum {
    PATTERN_FILE = 0,  /* no pattern: the text names one file */
    PATTERN_ANY = 1,   /* "*" then nothing or a suffix that begins with a period */
    PATTERN_UPPER = 2, /* "&M": member files named in upper case */
    PATTERN_LOWER = 3  /* "&m": member files named in lower case */
};

typedef struct MemberPattern {
    const char* text;      /* the pattern as given (borrowed) */
    const char* suffix;    /* what follows the marker, inside text; null when none */
    uint32_t prefixLength; /* up to and including the last separator; the whole text in mode 0 */
    uint32_t suffixLength;
    int caseMode; /* PATTERN_* */
} MemberPattern;

/* One entry of the member list: a member name of 1 to 8 characters and a zero byte. */
typedef char MemberName[9];

/* Space flags and units. */
enum { SPACE_ADD_PRIMARY = 0x01 };
enum { SPACE_TRACKS = 4, SPACE_CYLINDERS = 5 };

/* Input kinds. */
enum { INPUT_TEXT = 1, INPUT_RECORDS = 2, INPUT_LOAD_MODULES = 3 };

/* RECFM bits. */
enum {
    BREN_RECFM_F = 0x80,
    BREN_RECFM_V = 0x40,
    BREN_RECFM_U = 0xC0,
    BREN_RECFM_B = 0x10,
    BREN_RECFM_S = 0x08,
    BREN_RECFM_A = 0x04,
    BREN_RECFM_M = 0x02
};

typedef struct BuildRequest {
    const char* message;      /* out: the outcome, in a buffer of the library */
    MemberName* members;      /* the member list (partitioned data sets) */
    const char* transmitFile; /* the TSO TRANSMIT file to create (replaced if present) */
    const char* messageFile;  /* a text file sent as the message, or null */
    MemberPattern input;      /* the input file, or the pattern of the member files */
    uint32_t blksize;
    uint32_t lrecl;
    uint32_t memberCount;
    uint32_t directoryBlocks;        /* directory blocks to allocate */
    uint32_t minimumDirectoryBlocks; /* blocks the members' entries need (uComputeDirBlocks) */
    uint32_t primary;
    uint32_t secondary;
    uint32_t records;    /* out: records written (partitioned: of all members) */
    uint32_t spaceFlags; /* SPACE_ADD_PRIMARY */
    uint32_t spaceUnit;  /* SPACE_TRACKS, SPACE_CYLINDERS; other values: what the data needs */
    uint32_t inputKind;  /* INPUT_TEXT, INPUT_LOAD_MODULES; other values: stored records */
    int32_t returnCode;  /* out: 0 success, 16 failure */
    char device[8];      /* device name, zero-terminated when shorter */
    uint8_t tabOption;   /* tab expansion of text input */
    uint8_t recfmBits;   /* BREN_RECFM_*; 0: parse recfm */
    char recfm[5];       /* record format as letters */
    char originNode[9];
    char originUser[9];
    char targetNode[9];
    char targetUser[9];
    char dsname[45];
} BuildRequest;

/* ---- exports ----------------------------------------------------------------------------- */

/* The runtime: connect (the family must be "Quorin Toolbench" and the version "3.0.07", else
 * the process ends with exit code 20), code pages, the member-name rule, the message queue. */
OPX_API const char* pszBrenDllConnect(int* status, ConnectionRecord** record, int traceLevel,
                                      const char* modulePath, const char* family,
                                      const char* version, PrintCallback print,
                                      FatalCallback fatal);
OPX_API const char* pszBrenSetConversion(void);
OPX_API int iBrenIsMemberName(const char* name);
OPX_API int UtilityMessageGet(int function, void** args);

/* Devices: the names (ended by an empty entry), the row of a name (-1 when unknown; each
 * reference may be null), and the directory blocks that the request's members need (0 with
 * the request's message and return code set on failure; *smallestBlock receives the smallest
 * block size that load modules allow, else 0). */
OPX_API const char* const* papszGetDeviceNames(void);
OPX_API int iGetDeviceInfo(const char* name, unsigned* largestBlock, unsigned* goodBlock,
                           unsigned* largestTracks, unsigned* tracksPerCylinder);
OPX_API unsigned uComputeDirBlocks(BuildRequest* request, unsigned* smallestBlock);

/* Writes the transmit file. Returns the return code, which it also stores in the request;
 * the request's message names the outcome. */
OPX_API int iBrenCreate(BuildRequest* request);

/* Preparing a request. Messages returned live in a buffer of the library until the next call
 * that returns one. The member list made by pszGetMemberList belongs to the library and stays
 * valid until its next call. */
OPX_API void vCheckPattern(MemberPattern* pattern);
OPX_API const char* pszCanReadFile(const char* path);
OPX_API unsigned uIsDsnValid(const char* dsname);
OPX_API void vGetDefaultOriginNode(char node[9]);
OPX_API void vGetDefaultOriginUser(char user[9]);
OPX_API const char* pszGetMemberList(MemberPattern* pattern, MemberName** list, uint32_t* count);
OPX_API const char* pszCheckIfMembersExist(BuildRequest* request);
OPX_API void vSortMembers(MemberName* list, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif /* BRENCORE_H */
