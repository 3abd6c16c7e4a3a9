/* The part of bzip2's interface that the project calls, for builds without bzip2 (the Windows
   cross-build: Debian has no MinGW build of it). Every call answers BZ_CONFIG_ERROR. */
#ifndef OPX_BZLIB_UNAVAILABLE_H
#define OPX_BZLIB_UNAVAILABLE_H

#ifdef __cplusplus
extern "C" {
#endif

#define BZ_OK 0
#define BZ_OUTBUFF_FULL (-8)
#define BZ_CONFIG_ERROR (-9)

int BZ2_bzBuffToBuffDecompress(char* dest, unsigned int* destLen, char* source,
                               unsigned int sourceLen, int small, int verbosity);
int BZ2_bzBuffToBuffCompress(char* dest, unsigned int* destLen, char* source,
                             unsigned int sourceLen, int blockSize100k, int verbosity,
                             int workFactor);

#ifdef __cplusplus
}
#endif

#endif
