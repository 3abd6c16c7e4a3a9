/* vrlcore: the linkage editor. One call of iLinkEdit is one linkage-editor job step: it reads
 * object modules and control statements from SYSLIN (and the files they include), resolves
 * external references with automatic library call from SYSLIB, lays each module out, saves it
 * as a member file of SYSLMOD and writes a paged listing to SYSPRINT, with messages copied to
 * SYSTERM. The result is the job step's return code: the highest severity of all messages
 * (0, 4, 8, 12 or 16).
 *
 * Each DD name is bound to workstation paths. SYSLMOD is a partitioned data set: its path ends
 * in a last component that begins with "&M" or "&m" (the member name in upper or lower case),
 * followed by the end of the path or a period: "lib/&m.bin" saves member PROG as
 * "lib/prog.bin". SYSLIB paths are patterns of the same kind, searched in order for INCLUDE
 * and automatic call. "<stdin>" as a SYSLIN path reads standard input; "<stdout>" and
 * "<stderr>" as the SYSTERM path name the standard streams.
 *
 * The library must be connected (pszDllConnect) before iLinkEdit is called; the conversion is
 * set with pszVrlSetConversion. */
#ifndef OPX_LINKEDIT_VRLCORE_H
#define OPX_LINKEDIT_VRLCORE_H

#include <stdint.h>

#include "platform/export.h"
#include "runtime/connection.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds of the lines handed to the message callback. */
enum {
    LINKEDIT_MESSAGE_OPERATOR = 1, /* operator-style "KEC" lines (a DD cannot be opened) */
    LINKEDIT_MESSAGE_LISTING = 2   /* a message issued while no listing is open */
};

/* The mode argument: LINKEDIT_MODE_NOTERM turns the TERM default off. */
enum { LINKEDIT_MODE_NOTERM = 2 };

/* Flags of SYSPRINT and SYSTERM. */
enum {
    LINKEDIT_DD_BINARY = 0x01, /* binary data: refused, listings are text */
    LINKEDIT_DD_APPEND = 0x02, /* append to an existing file instead of creating it new */
    LINKEDIT_DD_SPLIT = 0x04   /* SYSTERM only: lines are written 80 columns at a time */
};

/* Receives (user datum, kind, text) for every line that goes to the caller. */
typedef void (*LinkEditCallback)(void* user, int kind, const char* text);

/* Connects the caller; a family other than "Quorin Toolbench" or a version other than
 * "3.0.07" ends the process with exit code 20. Returns null. */
OPX_API const char* pszDllConnect(int* status, ConnectionRecord** record, int traceLevel,
                                  const char* modulePath, const char* family, const char* version,
                                  PrintCallback print, FatalCallback fatal);

/* Binds the library to the ASCII and EBCDIC code pages of the environment (once per
 * process). Returns null or the KDU803E / KDU804E message. */
OPX_API const char* pszVrlSetConversion(void);

/* 1 when the whole NUL-terminated name is a valid member name, else 0. */
OPX_API int iVrlIsMemberName(const char* name);

/* Takes the next queued message (function 2). See connection.h for the buffer layout. */
OPX_API int UtilityMessageGet(int function, void** args);

/* One linkage-editor job step.
 *   mode            LINKEDIT_MODE_NOTERM turns the TERM default off
 *   parm            the option string (PARM), or null
 *   syslin          null-terminated list of the primary input files
 *   syslib          null-terminated list of library path patterns, or null
 *   member          the default member name of the module (sets the replace option), or null
 *   syslmod         the path pattern where modules are saved
 *   sysprint        the listing; "" for none; null is a missing DD statement
 *   systerm         the terminal messages; "" for none; null is a missing DD statement
 *   ...Dd           the DD names shown in messages and the listing; null or "" for the
 *                   standard names SYSLIN, SYSLIB, SYSLMOD, SYSPRINT and SYSTERM
 *   unused1/unused2 not used
 *   callback, user  receive operator lines and messages issued while no listing is open
 *   status          receives the status word (always 0); may be null
 *   syslmodBlksize  the largest block of the SYSLMOD data set; 0 or below 256: no limit
 *   sysprintFlags, systermFlags  LINKEDIT_DD_* flags
 * Returns the job step's return code. */
OPX_API int iLinkEdit(int mode, const char* parm, const char* const* syslin, const char* syslinDd,
                      const char* const* syslib, const char* syslibDd, const char* member,
                      const char* syslmod, const char* syslmodDd, const char* sysprint,
                      const char* sysprintDd, const char* systerm, const char* systermDd,
                      const void* unused1, const void* unused2, LinkEditCallback callback,
                      void* user, int* status, unsigned syslmodBlksize, unsigned sysprintFlags,
                      unsigned systermFlags);

#ifdef __cplusplus
}
#endif

#endif /* OPX_LINKEDIT_VRLCORE_H */
