// Files that hold mainframe data sets besides transmit files: virtual tape images (AWS, and
// HET with compressed blocks) and bare IEBCOPY unloads. Each opens as an XmitHandle whose data
// sets are read by the same unload, member and extraction code as a transmit file's, their
// records coming from a record source (record_source.h).
#pragma once

#include <cstdint>
#include <string>

#include "opxcore.h"

namespace opx {

enum class ImageKind { Transmit, Tape, BareUnload };

// The attributes of the files of an unlabeled tape (a labeled tape's labels give them). Empty
// or negative: told from the data (variable blocks with descriptors, transmit files stored as
// fixed 80-byte records, else undefined records).
struct ImageOptions {
    std::string recfm; // e.g. "FB", "VBS", "U"
    int lrecl = -1;
    int blksize = -1;
};

// What the labels of a tape say of one of its files (empty where the tape has no labels).
struct TapeFileInfo {
    unsigned number = 0;       // the file's place on the tape, from 1
    std::string volumeSerial;  // VOL1
    std::string dataSetSerial; // HDR1
    std::string created;       // yyyy-mm-dd from HDR1, or ""
    char blockAttribute = ' '; // HDR2: B, S, R or blank
    bool labeled = false;
    int64_t offset = 0;  // of the file's first data block in the image
    uint64_t blocks = 0; // data blocks
};

// Opens a transmit file, a tape image or a bare unload, whichever the file is. Always returns
// a handle; its message says why when the file cannot be read (as pXmitFileOpen's does). A
// tape whose structure breaks off part-way keeps the files before the break, and its message
// names the offset.
XmitHandle* openImage(const char* path, const ImageOptions& options = {});

ImageKind imageKind(const XmitHandle* h);
// The tape file behind data set n (1-based), or null when the handle is no tape.
const TapeFileInfo* tapeFileInfo(const XmitHandle* h, unsigned n);

} // namespace opx
