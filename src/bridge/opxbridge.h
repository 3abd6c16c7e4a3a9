/* opxbridge: the window program's way to the extractor core. It opens transmit files, hands
 * their description back through call-backs, formats directory lines, and runs extraction
 * requests step by step.
 *
 * Handles of open files and of requests are 64-bit values made from the bridge's own records;
 * 0 is never a valid handle. */
#ifndef OPX_OPXBRIDGE_H
#define OPX_OPXBRIDGE_H

#include <stdint.h>

#include "bridge.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The call-backs made while a transmit file is opened: init once, then one add call per data
 * set (file numbers from 0). */
typedef struct OpxFileSink {
    void* context;
    /* exportTime: "yyyyMMddhhmmss" or null; node and user may be null. */
    void (*init)(void* context, int64_t handle, int dataSets, const char* exportTime,
                 const char* originNode, const char* originUser);
    void (*addMessage)(void* context, int fileNumber, int encrypted, const char* text);
    void (*addSequential)(void* context, int fileNumber, int encrypted, int sequential, int lrecl,
                          int blksize, const char* recfm, const char* dsname);
    void (*addPartitioned)(void* context, int fileNumber, int encrypted, int unsupported,
                           int loadLibrary, int members, int lrecl, int blksize, const char* recfm,
                           const char* dsname);
} OpxFileSink;

/* Connects the extractor core with a trace level and sets its code pages. Returns null when
 * the connection is made (after calling sink->init), else the reason. */
BRIDGE_API const char* OpxBridgeConnect(int traceLevel, const BridgeConnectSink* sink);

/* Opens a transmit file and describes it through the sink. Returns null on success, else the
 * reason (and no call-back is made). */
BRIDGE_API const char* OpxBridgeOpen(const OpxFileSink* sink, const char* path);
BRIDGE_API void OpxBridgeClose(int64_t file);

/* The directory line of a member (file and member numbers from 0), or null when there is no
 * such member. */
BRIDGE_API const char* OpxBridgeGetDe(int64_t file, int fileNumber, int memberNumber);

/* Extraction requests. dataSet counts from 1; members is the number of names that
 * OpxBridgeReqAddMember will add (0: all members). */
BRIDGE_API int64_t OpxBridgeReqBuild(int type, int dataSet, int members, const char* target);
BRIDGE_API void OpxBridgeReqAddMember(int64_t request, int position, const char* name);
BRIDGE_API void OpxBridgeReqText(int64_t request, int lrecl, int lineEnd, int tabs, int strip,
                                 int truncate);
BRIDGE_API void OpxBridgeReqConvert(int64_t request, int format, int lrecl, int blksize,
                                    int padChar, int strip, int translate, int blocked, int spanned,
                                    int truncate);
BRIDGE_API void OpxBridgeReqRelink(int64_t request, const char* listing, const char* parameters);
/* Runs the request up to its next event (0 finished, 1 written, 2 new file announced, 3 the
 * announced file exists, 4 a member failed). action: 0 go on, 1 skip, 2 stop. */
BRIDGE_API int OpxBridgeReqExtract(int action, int64_t file, int64_t request);
BRIDGE_API void OpxBridgeReqStop(int64_t request);
BRIDGE_API const char* OpxBridgeReqGetFileName(int64_t request);
BRIDGE_API const char* OpxBridgeReqGetMember(int64_t request);
BRIDGE_API const char* OpxBridgeReqGetErrorMessage(int64_t request);
BRIDGE_API int64_t OpxBridgeReqGetRecordsWritten(int64_t request);
BRIDGE_API int64_t OpxBridgeReqGetFilesCreated(int64_t request);
BRIDGE_API int64_t OpxBridgeReqGetFilesReplaced(int64_t request);
BRIDGE_API int64_t OpxBridgeReqGetFilesSkipped(int64_t request);

#ifdef __cplusplus
}
#endif

#endif /* OPX_OPXBRIDGE_H */
