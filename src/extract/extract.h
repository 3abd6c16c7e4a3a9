// Extraction requests inside the extractor: the driver behind the library's exported call, for
// the extractor's own programs, which may ask for more than the exported call gives.
#pragma once

#include "opxcore.h"

namespace opx {

// One step of an extraction request, as the exported call takes it. With `readPdse` true the
// data members of a PDSE unload are extracted as those of a partitioned data set (the exported
// call refuses such a data set); program objects in it are refused one by one.
int extractStep(int function, XmitHandle* file, ExtractBlock* request, bool readPdse);

} // namespace opx
