/* brenbridge: the window program's way to the builder core. It answers the questions of the
 * build wizard (names, member files, devices, block sizes) and writes the transmit file. */
#ifndef OPX_BRENBRIDGE_H
#define OPX_BRENBRIDGE_H

#include <stdint.h>

#include "bridge.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The member files that a pattern names: setMembers once with the count, then addMember once
 * per member, in mainframe order. */
typedef struct BrenMemberSink {
    void* context;
    void (*setMembers)(void* context, int count);
    void (*addMember)(void* context, const char* name);
} BrenMemberSink;

/* One call per device that can hold a block size. */
typedef struct BrenDeviceSink {
    void* context;
    void (*addDevice)(void* context, const char* device);
} BrenDeviceSink;

/* The build request's call-backs. */
typedef struct BrenRequestSink {
    void* context;
    void (*setPdsData)(void* context, int minimumBlksize, int minimumDirBlocks);
    void (*setCreationOk)(void* context);
} BrenRequestSink;

/* Filedata kinds. */
enum { BREN_FILEDATA_TEXT = 1, BREN_FILEDATA_RECORD = 2, BREN_FILEDATA_BINDER = 3 };

/* Everything a build needs, in the order the wizard collects it. */
typedef struct BrenBuild {
    const char* xmitFile;    /* the transmit file to create */
    const char* messageFile; /* a text file sent in front, or null */
    const char* dsname;
    const char* inputPath; /* the input file, or the pattern of the member files */
    const char* originNode;
    const char* originUser;
    const char* targetNode;
    const char* targetUser;
    const char* recfm;
    const char* const* members; /* partitioned: the members to send */
    int memberCount;
    int spaceInCylinders;
    int primaryIsIncrement; /* the primary space is added to what the data needs */
    int filedata;           /* BREN_FILEDATA_* */
    int lrecl;
    int blksize;
    int tabs;
    const char* device; /* partitioned: a device name; sequential: may be empty */
    int primarySpace;
    int secondarySpace;
    int dirBlocks;
    int minimumDirBlocks;
} BrenBuild;

BRIDGE_API const char* BrenBridgeConnect(int traceLevel, const BridgeConnectSink* sink);
BRIDGE_API const char* BrenBridgeGetDefaultOriginNode(void);
BRIDGE_API const char* BrenBridgeGetDefaultOriginUser(void);
BRIDGE_API int BrenBridgeIsDsnValid(const char* dsname);
BRIDGE_API int BrenBridgeDoesFileExist(const char* path);
/* The number of member files that the pattern names; negative when the text is no pattern. */
BRIDGE_API int BrenBridgeGetMembers(const BrenMemberSink* sink, const char* pattern);
/* Null when the load modules can be sent (after sink->setPdsData), else the reason. */
BRIDGE_API const char* BrenBridgeGetBinderData(const BrenRequestSink* sink, const char* pattern,
                                               const char* const* members, int count);
BRIDGE_API void BrenBridgeGetDevices(const BrenDeviceSink* sink, int minimumBlksize);
BRIDGE_API int BrenBridgeGetMaxBlksize(const char* device);
BRIDGE_API int BrenBridgeGetGoodBlksize(const char* device);
BRIDGE_API int BrenBridgeGetMaxTrks(const char* device);
BRIDGE_API int BrenBridgeGetTrksPerCyl(const char* device);
/* Writes the transmit file. Returns the builder's message (on success too), or null when it
 * gave none; calls sink->setCreationOk when the file was written. */
BRIDGE_API const char* BrenBridgeCreateXmitFile(const BrenRequestSink* sink,
                                                const BrenBuild* build);

#ifdef __cplusplus
}
#endif

#endif /* OPX_BRENBRIDGE_H */
