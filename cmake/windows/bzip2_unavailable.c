/* Stand-ins for bzip2's buffer calls in builds without bzip2: each answers BZ_CONFIG_ERROR, which
   the callers report as "this build cannot read (or write) bzip2". */
#include "bzlib.h"

int BZ2_bzBuffToBuffDecompress(char* dest, unsigned int* destLen, char* source,
                               unsigned int sourceLen, int small, int verbosity) {
    (void)dest;
    (void)source;
    (void)sourceLen;
    (void)small;
    (void)verbosity;
    *destLen = 0;
    return BZ_CONFIG_ERROR;
}

int BZ2_bzBuffToBuffCompress(char* dest, unsigned int* destLen, char* source,
                             unsigned int sourceLen, int blockSize100k, int verbosity,
                             int workFactor) {
    (void)dest;
    (void)source;
    (void)sourceLen;
    (void)blockSize100k;
    (void)verbosity;
    (void)workFactor;
    *destLen = 0;
    return BZ_CONFIG_ERROR;
}
