// Where the logical records of an open file come from. A transmit file's records are read by
// the transmit-file reader from its segments; the records of a tape image or of a bare IEBCOPY
// unload come from a source of this kind, so that the unload, member and extraction code reads
// them all the same way. The end of a data set is delivered as a control record, as the end of
// a data set's data is in a transmit file.
#pragma once

#include <cstdint>

#include "opxcore.h"

namespace opx {

class RecordSource {
  public:
    virtual ~RecordSource() = default;
    // Reads the next logical record into the handle: record, recordLength, recordFlags (X'20'
    // for the control record that ends a data set), recordOffset. Returns IO_OK, or IO_EOF /
    // IO_ERROR with the handle's message set.
    virtual int read(XmitHandle* h) = 0;
    // Positions at a record whose position position() gave. IO_OK or IO_ERROR with the message.
    virtual int seek(XmitHandle* h, int64_t position) = 0;
    // The position of the next record.
    virtual int64_t position() const = 0;
};

// The source of an open handle, or null for a transmit file read from its segments.
inline RecordSource* sourceOf(const XmitHandle* h) {
    return static_cast<RecordSource*>(h->source);
}

} // namespace opx
