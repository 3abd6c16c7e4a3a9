// Extraction requests inside the extractor: the driver behind the library's exported call, for
// the extractor's own programs, which may ask for more than the exported call gives.
#pragma once

#include <cstdint>

#include "content.h"
#include "opxcore.h"
#include "output.h"

namespace opx {

// What a request may ask beyond the fields of its ExtractBlock.
struct ExtractExtras {
    // Read the data members of a PDSE unload as those of a partitioned data set (the exported
    // call refuses such a data set); program objects in it are refused one by one.
    bool readPdse = false;
    // How members and sequential data sets are written with a request of type text:
    //   AsRequested  all as the request's type says
    //   Auto         each as its content says (content.h): text as text lines, binary data as
    //                its bytes (record data one after the other); a transmit file is binary
    //                and named after the member with ".xmi" in place of the pattern's suffix;
    //                a load library's members are binary
    //   Binary       all as their bytes
    enum class Mode { AsRequested, Auto, Binary };
    Mode mode = Mode::AsRequested;
    // Text (and dump) lines re-encoded from the workstation code page; null: as they are.
    const TextEncoding* encoding = nullptr;
    // Remove the sequence field of text: columns 73-80 of fixed 80-byte records, columns 1-8 of
    // variable records, when every record holds digits or blanks there.
    bool unnum = false;
};

// What became of the member (or sequential data set) announced or written last.
struct ExtractOutcome {
    Content content = Content::Text; // as decided (Auto), or as written
    bool binary = false;             // written as its bytes
    bool unnumbered = false;         // the sequence field was removed
    const char* unnumKept = nullptr; // why it was kept, when removal was asked for
};

// One step of an extraction request, as the exported call takes it, with the extras.
int extractStep(int function, XmitHandle* file, ExtractBlock* request, const ExtractExtras& extras);

// The outcome of the running request's current member, or null when no request runs.
const ExtractOutcome* extractOutcome(const ExtractBlock* request);

} // namespace opx
