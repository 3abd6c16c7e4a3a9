/* What the two bridge libraries share: the call-back that reports a made connection.
 *
 * The window program loads the bridges by name and calls them through the plain functions
 * declared in opxbridge.h and brenbridge.h. The bridges answer through call-backs into the
 * program's objects: each call-back table carries the object as an opaque context pointer.
 * Texts that a bridge returns live in a buffer of the calling thread that the next call of the
 * same bridge on that thread may overwrite; callers copy them at once. */
#ifndef OPX_BRIDGE_H
#define OPX_BRIDGE_H

#include <stdint.h>

/* The bridges are built with hidden visibility; their operations are the only names they
 * show. The export mark stays in this header, not in the platform layer, because callers
 * outside the project include it on its own. */
#if defined(_WIN32)
#define BRIDGE_API __declspec(dllexport)
#else
#define BRIDGE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Called once when a connection is made. */
typedef struct BridgeConnectSink {
    void* context;
    /* started: the core's connect time (seconds since 1970); connected: the time the bridge
     * made the connection; modulePath: the core library's file; then the product name, its
     * version, the text that describes the connection, the product family and the trace
     * level in force. */
    void (*init)(void* context, int64_t started, int64_t connected, const char* modulePath,
                 const char* productName, const char* productVersion, const char* connectMessage,
                 const char* productFamily, int traceLevel);
} BridgeConnectSink;

#ifdef __cplusplus
}
#endif

#endif /* OPX_BRIDGE_H */
