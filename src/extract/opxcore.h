/* opxcore: the transmit-file extractor core. It opens a TSO TRANSMIT file, describes every data
 * set in it, loads and formats the directory of an unloaded partitioned data set, and delivers
 * member data record by record.
 *
 * The records below are read directly by callers (the window program's bridge among them):
 * keep their field order. */
#ifndef OPXCORE_H
#define OPXCORE_H

#include <stdint.h>

#include "connection.h"
#include "platform/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds of a data set in a transmit file. */
enum {
    XMIT_KIND_UNSUPPORTED = 0,
    XMIT_KIND_MESSAGE = 1,
    XMIT_KIND_SEQUENTIAL = 2,
    XMIT_KIND_PARTITIONED = 3, /* an IEBCOPY unload */
    XMIT_KIND_PDSE = 4         /* partitioned, but not readable here */
};

/* One data set (file) of a transmit file. */
typedef struct XmitDataSet {
    uint8_t* directory;        /* entryCount entries of entryLength bytes, as stored (EBCDIC) */
    char* messageText;         /* kind 1: the message lines, each ending "\n"; or null */
    int64_t directoryPosition; /* file offset of the first directory record (kind 3) */
    int64_t dataPosition;      /* first data record; kind 3: first member data record, 0
                                  until the directory has been read */
    uint32_t reserved;
    uint32_t fileNumber;        /* 1-based */
    uint32_t entryCount;        /* directory entries */
    int32_t lrecl;              /* -1 when not transmitted */
    int32_t blksize;            /* -1 when not transmitted */
    uint32_t entryLength;       /* longest directory entry: the stride of the directory */
    int kind;                   /* XMIT_KIND_* */
    uint16_t tracksPerCylinder; /* of the device that held the unloaded data set */
    uint8_t recfm;              /* the INMRECFM byte; 0 when not transmitted */
    char recfmLetters[6];       /* e.g. "FB", "VBS", "U" */
    char dsname[45];
    char member[9];
    uint8_t encrypted; /* a utility "AMSCIPHR" took part */
    uint8_t hasAliases;
    uint8_t loadLibrary;
    uint8_t extentCount;
    uint32_t extents[16][2]; /* start track and number of tracks of each extent */
} XmitDataSet;

/* An open transmit file. It begins with the fields of a traced file. */
typedef struct XmitHandle {
    IoFileCore io;         /* path, stream, mode, trace level, status, errnum, position,
                              binary, dump style, operation */
    XmitDataSet* dataSets; /* one per file, or null */
    const char* message;   /* null while all is well; else why not */
    uint8_t* record;       /* the current logical record */
    uint32_t recordLength;
    uint32_t recordCapacity;
    uint32_t fileCount;   /* INMNUMF */
    int64_t recordOffset; /* file offset of the first segment of the current record */
    int64_t fileSize;
    uint32_t directoryLength; /* length of the path up to and including its last separator */
    char originNode[9];       /* INMFNODE */
    char originUser[9];       /* INMFUID */
    char originTime[15];      /* INMFTIME */
    uint8_t segmentLength;    /* length byte of the segment being read */
    uint8_t segment[255];     /* flags byte, data, and the next segment's length byte, when
                                 the segment is read through the stream (traced reading, or
                                 across the end of the read buffer) */
    uint8_t nextLength;       /* length byte of the next segment, read ahead */
    uint8_t recordFlags;      /* flags of the current record's first segment (0x20 control) */
    uint8_t nextLengthRead;   /* nonzero when nextLength holds a byte read ahead */
    /* The reader's own read buffer (internal). */
    uint8_t* readBuffer;
    uint32_t readLength;
    uint32_t readPosition;
    /* Internal: the records of a tape image or a bare unload come from here; null for a
     * transmit file. */
    void* source;
} XmitHandle;

/* Decoded load-module attributes of a directory entry. */
typedef struct DirectoryEntryInfo {
    uint32_t moduleSize;
    uint32_t entryPoint;
    uint32_t translationTableLength;
    uint32_t scatterListLength;
    uint32_t flags; /* DE_* below; bits 0-7 the authorization code */
    uint8_t ssi[4];
} DirectoryEntryInfo;

enum {
    DE_APF = 0x100,
    DE_SSI = 0x200,
    DE_AMODE_MASK = 0xC00, /* (flags >> 10) & 3: 0 24, 1 64, 2 31, 3 ANY */
    DE_RMODE_ANY = 0x1000,
    DE_REFR = 0x2000,
    DE_RENT = 0x4000,
    DE_REUS = 0x8000,
    DE_TEST = 0x10000,
    DE_ONLY = 0x20000,
    DE_OVLY = 0x40000,
    DE_SCTR = 0x80000,
    DE_NOT_EXECUTABLE = 0x100000,
    DE_NOT_EDITABLE = 0x200000,
    DE_PAGE_ALIGNED = 0x400000,
    DE_PROGRAM_OBJECT = 0x800000
};

/* Reads member data record by record. */
typedef struct MemberCursor {
    uint8_t* record;   /* the current record's data */
    uint8_t* assembly; /* buffer for spanned records, or null */
    uint32_t position; /* in the current transmit record */
    uint32_t blockEnd; /* end of the current block in the transmit record */
    uint32_t recordLength;
    int state;                 /* MEMBER_* */
    uint32_t assemblyCapacity; /* bytes of the assembly buffer */
    uint32_t blockTtr;         /* relative TTR of the block the cursor is in */
} MemberCursor;

enum { MEMBER_RECORD = 0, MEMBER_END = 2, MEMBER_ERROR = 3 };

/* ---- extraction ------------------------------------------------------------------------- */

/* Extract types. */
enum {
    EXTRACT_TYPE_TEXT = 0,    /* text lines; for a load library the load-module listing */
    EXTRACT_TYPE_DUMP = 1,    /* hexadecimal dump listing */
    EXTRACT_TYPE_PREFIX = 2,  /* records in their own format, with length prefixes */
    EXTRACT_TYPE_IBM = 3,     /* records in their own format, as stored */
    EXTRACT_TYPE_CONVERT = 4, /* records in the format the caller chooses */
    EXTRACT_TYPE_DELINK = 5,  /* load modules as linkage-editor input */
    EXTRACT_TYPE_RELINK = 6   /* load modules delinked and linked again */
};

/* Output record formats. */
enum {
    EXTRACT_FORMAT_FIXED = 0,    /* padded to LRECL with the pad character */
    EXTRACT_FORMAT_BYTES = 1,    /* the bytes of each record */
    EXTRACT_FORMAT_LENGTH2 = 2,  /* 2-byte big-endian data length, then the record */
    EXTRACT_FORMAT_LENGTH2I = 3, /* 2-byte big-endian data length + 2, then the record */
    EXTRACT_FORMAT_RDW = 4,      /* 4-byte record descriptor, then the record */
    EXTRACT_FORMAT_VARIABLE = 5  /* record descriptors inside blocks with block descriptors */
};

/* Options. */
enum {
    EXTRACT_STRIP = 0x80,     /* strip trailing pad characters */
    EXTRACT_TRANSLATE = 0x40, /* translate to the workstation code page */
    EXTRACT_BLOCKED = 0x20,
    EXTRACT_SPANNED = 0x10,
    EXTRACT_TRUNCATE = 0x08 /* truncate long records silently */
};

/* Functions of eXmitFileExtract. */
enum { EXTRACT_GO = 0, EXTRACT_SKIP = 1, EXTRACT_STOP = 2 };

/* Results of eXmitFileExtract. */
enum {
    EXTRACT_RESULT_DONE = 0,       /* finished or failed: see severity and message */
    EXTRACT_RESULT_WRITTEN = 1,    /* the announced member was written */
    EXTRACT_RESULT_NEW = 2,        /* the next file is announced and does not exist yet */
    EXTRACT_RESULT_EXISTS = 3,     /* the next file exists: answer 0 to replace, 1 to skip */
    EXTRACT_RESULT_NOT_WRITTEN = 4 /* the member was not written: message says why */
};

/* Bits of ExtractBlock.progress. */
enum {
    EXTRACT_PROGRESS_SEQUENTIAL = 0x80,
    EXTRACT_PROGRESS_NEW_TARGET = 0x40,
    EXTRACT_PROGRESS_FINISHED = 0x20,
    EXTRACT_PROGRESS_MEMBER_DONE = 0x10
};

typedef struct ExtractState ExtractState;

/* One extraction request, owned by the caller and zero-filled before the first call. */
typedef struct ExtractBlock {
    const char* message;          /* out: reason text of the last result, or null */
    const char* fileName;         /* out: the current target, or the file a message concerns */
    const char** memberNames;     /* in: members to extract; null or count 0: all */
    const char* target;           /* in: output file (sequential) or pattern with &M or &m */
    const char* listing;          /* in: listing file or pattern for relink, or null */
    const char* binderParameters; /* in: parameters for the binder on relink */
    uint32_t recordsWritten;      /* out: records of the current file; at the end, of all */
    uint32_t dataSet;             /* in: 1-based number of the data set */
    uint32_t filesCreated;        /* out */
    uint32_t filesReplaced;       /* out */
    uint32_t filesSkipped;        /* out */
    uint32_t memberCount;         /* in: entries in memberNames */
    uint32_t blockSize;           /* in/out: output block size; 0 chooses the default */
    uint32_t lrecl;               /* in/out: output record length; 0 chooses the default */
    int severity;                 /* out: 0, 8, 12, 16 or 20 */
    int type;                     /* in: EXTRACT_TYPE_* */
    int format;                   /* in/out: EXTRACT_FORMAT_* */
    int lineEnd;                  /* in: 0 "\n" (text mode), 1 "\r", 2 "\n", 3 "\r\n" */
    uint8_t tabWidth;             /* in: 0, 4 or 8 (text) */
    uint8_t padCharacter;         /* in: EBCDIC pad and strip character for record output */
    uint8_t options;              /* in/out: EXTRACT_* option bits */
    char memberName[9];           /* out: the current member */
    uint8_t progress;             /* internal: EXTRACT_PROGRESS_* */
    ExtractState* state;          /* internal: null before the first call and after the end */
} ExtractBlock;

/* The runtime entry points. */
OPX_API const char* pszOpxDllConnect(int* status, ConnectionRecord** record, int traceLevel,
                                     const char* modulePath, const char* family,
                                     const char* version, PrintCallback print, FatalCallback fatal);
OPX_API const char* pszOpxSetConversion(void);
OPX_API int iOpxIsMemberName(const char* name);

/* Transmit files. */
OPX_API XmitHandle* pXmitFileOpen(const char* path);
OPX_API void vXmitFileClose(XmitHandle* handle);
OPX_API XmitDataSet* pxhXmitFileLoadDir(XmitHandle* handle, unsigned dataSet);
/* Writes the display line of directory entry `index` (0-based) into line[size]; size of at
 * least 78 holds every line. */
OPX_API void vXmitFileFormatDe(XmitDataSet* dataSet, unsigned index, char* line, unsigned size);

/* Extracts a data set step by step: function EXTRACT_GO (0) starts or goes on, EXTRACT_SKIP
 * (1) skips the announced file or member, EXTRACT_STOP (2) ends and releases the request.
 * Returns an EXTRACT_RESULT_*. */
OPX_API int eXmitFileExtract(int function, XmitHandle* file, ExtractBlock* request);

#ifdef __cplusplus
}
#endif

#endif /* OPXCORE_H */
