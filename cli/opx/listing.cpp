// opx info and opx list: what a transmit file carries, and the members of a partitioned data
// set with their statistics, sizes and content.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "opx.h"
#include "reader.h"
#include "survey.h"

namespace opxcli {

opx::ImageOptions& imageOptions() {
    static opx::ImageOptions options;
    return options;
}

std::string trimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
    return std::string(s.substr(0, n));
}

namespace {

// The words for a data set's kind: as shown, and as a JSON key.
struct KindWords {
    const char* name;
    const char* key;
};

KindWords kindWords(int kind) {
    switch (kind) {
    case XMIT_KIND_MESSAGE:
        return {"message", "message"};
    case XMIT_KIND_SEQUENTIAL:
        return {"sequential", "sequential"};
    case XMIT_KIND_PARTITIONED:
        return {"partitioned", "partitioned"};
    case XMIT_KIND_PDSE:
        return {"partitioned (PDSE)", "pdse"};
    default:
        return {"not supported", "unsupported"};
    }
}

} // namespace

const char* kindName(int kind) {
    return kindWords(kind).name;
}

const char* kindKey(int kind) {
    return kindWords(kind).key;
}

bool isPartitioned(const XmitDataSet& ds) {
    return ds.kind == XMIT_KIND_PARTITIONED || ds.kind == XMIT_KIND_PDSE;
}

std::string defaultFileName(const std::string& transmitFile, const XmitDataSet& ds) {
    if (ds.dsname[0] != '\0') return ds.dsname;
    const std::filesystem::path p(transmitFile);
    std::string name = p.stem().string();
    if (name.empty() || name == "." || name == "..") name = "data";
    if (ds.kind == XMIT_KIND_MESSAGE) return name + ".msg";
    // Never the transmit file itself (a name without an extension).
    if (name == p.filename().string()) name += ".data";
    return name;
}

std::string humanSize(uint64_t bytes) {
    static const char kUnits[] = "KMGTPE";
    if (bytes < 1024) return std::to_string(bytes);
    double v = static_cast<double>(bytes);
    int unit = -1;
    while (v >= 1024 && unit < 5) {
        v /= 1024;
        ++unit;
    }
    char text[16];
    std::snprintf(text, sizeof text, v < 10 ? "%.1f%c" : "%.0f%c", v, kUnits[unit]);
    return text;
}

namespace {

const char* contentText(opx::Content c) {
    return c == opx::Content::Transmit ? "transmit file" : opx::contentName(c);
}

} // namespace

int info(const std::string& path, bool asJson, const Encoding& enc) {
    Handle file(path);
    XmitHandle* h = file.h;
    if (h->message != nullptr && h->fileCount == 0) {
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(), h->message);
        return 1;
    }
    json doc;
    doc["file"] = path;
    doc["origin"] = {{"node", jsonText(h->originNode)},
                     {"user", jsonText(h->originUser)},
                     {"time", jsonText(h->originTime)}};
    doc["dataSets"] = json::array();
    const opx::ImageKind image = opx::imageKind(h);
    const opx::TapeFileInfo* firstTape = opx::tapeFileInfo(h, 1);
    doc["format"] = image == opx::ImageKind::Tape         ? "tape"
                    : image == opx::ImageKind::BareUnload ? "unload"
                                                          : "transmit";
    if (image == opx::ImageKind::Tape) {
        doc["volume"] =
            firstTape && firstTape->labeled ? jsonText(firstTape->volumeSerial) : json(nullptr);
        doc["labeled"] = firstTape && firstTape->labeled;
    }
    if (!asJson) {
        std::printf("File:     %s\n", path.c_str());
        if (image == opx::ImageKind::Tape) {
            if (firstTape && firstTape->labeled)
                std::printf("Tape:     volume %s, standard labels\n",
                            enc.text(firstTape->volumeSerial).c_str());
            else
                std::printf("Tape:     unlabeled\n");
        } else if (image == opx::ImageKind::BareUnload) {
            std::printf("Unload:   an IEBCOPY unload outside a transmit file\n");
        } else {
            std::printf("Origin:   node %s, user %s, time %s\n", enc.text(h->originNode).c_str(),
                        enc.text(h->originUser).c_str(), enc.text(h->originTime).c_str());
        }
    }
    const char* openMessage = h->message;
    for (uint32_t i = 0; i < h->fileCount && h->dataSets != nullptr; ++i) {
        XmitDataSet* ds = &h->dataSets[i];
        if (ds->fileNumber == 0) break; // not reached before the reader stopped
        json d = {{"number", ds->fileNumber},       {"kind", kindKey(ds->kind)},
                  {"dsname", jsonText(ds->dsname)}, {"member", jsonText(ds->member)},
                  {"recfm", ds->recfmLetters},      {"lrecl", ds->lrecl},
                  {"blksize", ds->blksize},         {"encrypted", ds->encrypted != 0}};
        long members = -1;
        std::string dirError;
        // The size: every record read once.
        bool sized = false;
        uint64_t records = 0, bytes = 0;
        opx::Content content = opx::Content::Text;
        if (openMessage == nullptr && !ds->encrypted) {
            if (isPartitioned(*ds)) {
                if (XmitDataSet* loaded = opx::loadDirectory(h, ds->fileNumber, true)) {
                    members = loaded->entryCount;
                    std::vector<opx::DataSurvey> surveys;
                    if (opx::surveyMembers(h, loaded, surveys)) {
                        sized = true;
                        for (unsigned e = 0; e < loaded->entryCount; ++e) {
                            if (opx::directoryEntry(loaded, e)[11] & 0x80) continue; // alias
                            records += surveys[e].records;
                            bytes += surveys[e].bytes;
                        }
                    }
                } else {
                    dirError = h->message ? h->message : "";
                }
                h->message = nullptr;
            } else if (ds->kind == XMIT_KIND_SEQUENTIAL || ds->kind == XMIT_KIND_MESSAGE) {
                opx::DataSurvey s;
                if (opx::surveySequential(h, ds, s)) {
                    sized = true;
                    records = s.records;
                    bytes = s.bytes;
                    content = s.content;
                }
                h->message = nullptr;
            }
        }
        const bool sequential = ds->kind == XMIT_KIND_SEQUENTIAL || ds->kind == XMIT_KIND_MESSAGE;
        if (sequential) d["target"] = jsonText(defaultFileName(path, *ds));
        if (sequential && sized) d["content"] = opx::contentName(content);
        d["loadLibrary"] = ds->loadLibrary != 0;
        d["members"] = members >= 0 ? json(members) : json(nullptr);
        d["records"] = sized ? json(records) : json(nullptr);
        d["bytes"] = sized ? json(bytes) : json(nullptr);
        if (!dirError.empty()) d["error"] = dirError;
        const opx::TapeFileInfo* tapeFile = opx::tapeFileInfo(h, ds->fileNumber);
        if (tapeFile != nullptr)
            d["tape"] = {
                {"file", tapeFile->number},
                {"blocks", tapeFile->blocks},
                {"offset", tapeFile->offset},
                {"created", tapeFile->created.empty() ? json(nullptr) : json(tapeFile->created)}};
        if (ds->kind == XMIT_KIND_MESSAGE)
            d["message"] = jsonText(ds->messageText ? ds->messageText : "");
        doc["dataSets"].push_back(d);
        if (asJson) continue;
        std::printf("\nData set %u: %s\n", ds->fileNumber, kindName(ds->kind));
        if (ds->dsname[0]) std::printf("  Name:          %s\n", enc.text(ds->dsname).c_str());
        if (ds->member[0]) std::printf("  Member:        %s\n", enc.text(ds->member).c_str());
        std::printf("  RECFM:         %s\n", ds->recfmLetters[0] ? ds->recfmLetters : "-");
        std::printf("  LRECL:         %s\n",
                    ds->lrecl >= 0 ? std::to_string(ds->lrecl).c_str() : "-");
        std::printf("  BLKSIZE:       %s\n",
                    ds->blksize >= 0 ? std::to_string(ds->blksize).c_str() : "-");
        std::printf("  Encrypted:     %s\n", ds->encrypted ? "yes" : "no");
        if (tapeFile != nullptr)
            std::printf("  Tape file:     %u, %" PRIu64 " blocks from offset %" PRId64 "%s%s\n",
                        tapeFile->number, tapeFile->blocks, tapeFile->offset,
                        tapeFile->created.empty() ? "" : ", created ", tapeFile->created.c_str());
        if (sized)
            std::printf("  Size:          %" PRIu64 " records, %" PRIu64 " bytes (%s)\n", records,
                        bytes, humanSize(bytes).c_str());
        if (sequential) {
            if (sized) std::printf("  Content:       %s\n", contentText(content));
            std::printf("  Extracts to:   %s\n", enc.text(defaultFileName(path, *ds)).c_str());
        }
        if (isPartitioned(*ds)) {
            std::printf("  Load library:  %s\n", ds->loadLibrary ? "yes" : "no");
            if (members >= 0) std::printf("  Members:       %ld\n", members);
            if (!dirError.empty()) std::printf("  Directory:     %s\n", dirError.c_str());
        }
        if (ds->kind == XMIT_KIND_MESSAGE) {
            std::printf("  Message:\n");
            const char* text = ds->messageText ? ds->messageText : "";
            for (const char* p = text; *p;) {
                const char* nl = std::strchr(p, '\n');
                const size_t n = nl ? static_cast<size_t>(nl - p) : std::strlen(p);
                std::printf("    %s\n", enc.text(std::string_view(p, n)).c_str());
                p = nl ? nl + 1 : p + n;
            }
        }
    }
    if (openMessage != nullptr) doc["error"] = openMessage;
    if (asJson) std::printf("%s\n", doc.dump(2).c_str());
    if (openMessage != nullptr) {
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(), openMessage);
        return 1;
    }
    return 0;
}

int list(const std::string& path, unsigned number, bool asJson, bool human, const Encoding& enc) {
    Handle file(path);
    XmitHandle* h = file.h;
    if (!file.usable(path)) return 1;
    if (number == 0) {
        for (uint32_t i = 0; i < h->fileCount && number == 0; ++i)
            if (isPartitioned(h->dataSets[i])) number = i + 1;
        if (number == 0) {
            std::fprintf(
                stderr,
                "opx: %s: no partitioned data set in the file (opx info shows what it holds)\n",
                path.c_str());
            return 1;
        }
    }
    XmitDataSet* ds = opx::loadDirectory(h, number, true);
    if (ds == nullptr) {
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(),
                     h->message ? h->message : "no directory");
        return 1;
    }
    std::vector<opx::DataSurvey> surveys;
    if (!opx::surveyMembers(h, ds, surveys)) {
        std::fprintf(stderr, "opx: %s: %s\n", path.c_str(),
                     h->message ? h->message : "cannot read the members");
        return 16;
    }
    const bool load = ds->loadLibrary != 0;
    // The statistics end at column 67 (ISPF) or 77 (load modules); the sizes follow.
    const size_t sizeColumn = load ? 78 : 68;
    if (!asJson) {
        std::string heading =
            load ? "Member    Alias of  Size    Entry   AMODE  RMODE  AC  ------Attributes-------"
                 : "Member    Alias of  Ver.Mod  -Created--  --Last Changed--  User";
        heading.resize(sizeColumn, ' ');
        std::printf("%s %8s %10s  %s\n", heading.c_str(), "Records", "Bytes", "Content");
    }
    json members = json::array();
    char line[128];
    for (uint32_t i = 0; i < ds->entryCount; ++i) {
        const opx::DataSurvey& s = surveys[i];
        const std::string size = !s.found ? "-"
                                 : human  ? humanSize(s.bytes)
                                          : std::to_string(s.bytes);
        const std::string records = s.found ? std::to_string(s.records) : "-";
        const char* content = s.found ? opx::contentName(s.content) : "-";
        if (!asJson) {
            vXmitFileFormatDe(ds, i, line, sizeof line);
            std::string text = enc.text(trimRight(line));
            // Columns count characters: padding goes by the line before re-encoding.
            text.append(sizeColumn - std::min(sizeColumn, trimRight(line).size()), ' ');
            std::printf("%s %8s %10s  %s\n", text.c_str(), records.c_str(), size.c_str(), content);
            continue;
        }
        // The typed fields come from the decoded entry, not from the display line's columns.
        const opx::DecodedEntry d = opx::decodeEntry(ds, i);
        json m = {{"name", jsonText(trimRight(d.name))}};
        m["aliasOf"] = !d.alias          ? json(nullptr)
                       : d.aliasResolved ? jsonText(trimRight(d.aliasOf))
                                         : json("????????");
        m["records"] = s.found ? json(s.records) : json(nullptr);
        m["bytes"] = s.found ? json(s.bytes) : json(nullptr);
        m["content"] = s.found ? json(content) : json(nullptr);
        if (load) {
            const DirectoryEntryInfo& infoBits = d.module;
            if (infoBits.flags & DE_PROGRAM_OBJECT) {
                m["programObject"] = true;
            } else {
                m["size"] = infoBits.moduleSize;
                m["entryPoint"] = infoBits.entryPoint;
                m["amode"] = opx::amodeName(infoBits.flags);
                m["rmode"] = (infoBits.flags & DE_RMODE_ANY) ? "ANY" : "24";
                m["authorizationCode"] =
                    (infoBits.flags & DE_APF) ? json(infoBits.flags & 0xFF) : json(nullptr);
                json attrs = json::array();
                for (const opx::ModuleAttribute& a : opx::kModuleAttributes)
                    if (infoBits.flags & a.flag) attrs.push_back(a.text);
                if (infoBits.flags & DE_NOT_EDITABLE)
                    attrs.push_back("NE");
                else if (infoBits.flags & DE_NOT_EXECUTABLE)
                    attrs.push_back("NX");
                m["attributes"] = attrs;
            }
        } else if (d.statistics) {
            m["version"] = d.version;
            m["modification"] = d.modification;
            const std::string created = trimRight(d.created), changed = trimRight(d.changed);
            m["created"] = created.empty() ? json(nullptr) : json(created);
            m["changed"] = changed.empty() ? json(nullptr) : json(changed);
            char time[8];
            std::snprintf(time, sizeof time, "%.2X:%.2X", d.hour, d.minute);
            m["changedTime"] = time;
            m["lines"] = {{"current", d.currentLines},
                          {"initial", d.initialLines},
                          {"modified", d.modifiedLines}};
            m["user"] = d.user[0] != '\0' ? jsonText(trimRight(d.user)) : json(nullptr);
        }
        members.push_back(m);
    }
    if (asJson) {
        json doc = {{"file", path},
                    {"dataSet", number},
                    {"dsname", jsonText(ds->dsname)},
                    {"loadLibrary", load},
                    {"hasAliases", ds->hasAliases != 0},
                    {"members", members}};
        std::printf("%s\n", doc.dump(2).c_str());
    }
    return 0;
}

} // namespace opxcli
