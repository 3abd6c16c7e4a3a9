// A survey of a data set's data: records, bytes and content, read once, for listings that
// show each member's size and nature before anything is extracted.
#pragma once

#include <cstdint>
#include <vector>

#include "content.h"
#include "opxcore.h"

namespace opx {

struct DataSurvey {
    bool found = false;    // data came for it (a directory entry may have none)
    uint64_t records = 0;  // logical records as stored (spanned records assembled)
    uint64_t bytes = 0;    // their data bytes
    Content content = Content::Text;
};

// Reads every member of a partitioned data set (its directory loaded) once. `byEntry` gets one
// survey per directory entry; an alias shares its member's. False with the handle's message
// set on a read error.
bool surveyMembers(XmitHandle* h, XmitDataSet* ds, std::vector<DataSurvey>& byEntry);

// Reads a sequential data set (or a message) once. False with the handle's message set.
bool surveySequential(XmitHandle* h, XmitDataSet* ds, DataSurvey& survey);

} // namespace opx
