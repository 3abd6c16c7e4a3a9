// The kinds of extraction and the record formats of a conversion, as the wizard offers them
// and the bridge takes them.
#pragma once

#include <QString>

namespace opxwin {

struct ExtractReqType {
    enum {
        EXTRACT_TYPE_TEXT = 0,
        EXTRACT_TYPE_DUMP = 1,
        EXTRACT_TYPE_PREFIX = 2,
        EXTRACT_TYPE_IBM = 3,
        EXTRACT_TYPE_CONVERT = 4,
        EXTRACT_TYPE_DELINK = 5,
        EXTRACT_TYPE_RELINK = 6
    };
    int id;
    const char* name;

    QString toString() const { return QString::fromLatin1(name); }
    // The shared instance of an id (0 to 6).
    static const ExtractReqType& of(int id);
};

struct ConvertFormat {
    enum {
        CONVERT_FORMAT_FIXED = 0,
        CONVERT_FORMAT_V,
        CONVERT_FORMAT_VB,
        CONVERT_FORMAT_VS,
        CONVERT_FORMAT_VBS,
        CONVERT_FORMAT_STREAM,
        CONVERT_FORMAT_2E,
        CONVERT_FORMAT_2I,
        CONVERT_FORMAT_4,
        CONVERT_FORMAT_4S,
        CONVERT_FORMAT_LAST = CONVERT_FORMAT_4S
    };
    int id;
    const char* name;
    int formatCode; // what the bridge takes
    bool blocked;
    bool spanned;
    int rdwSize;

    QString toString() const { return QString::fromLatin1(name); }
    int getFormat() const { return formatCode; }
    bool isFixed() const { return id == CONVERT_FORMAT_FIXED; }
    static const ConvertFormat& of(int id);
};

} // namespace opxwin
