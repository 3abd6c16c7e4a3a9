#include "survey.h"

#include <algorithm>
#include <memory>

#include "reader.h"
#include "unload_format.h"

namespace opx {

namespace {

constexpr uint32_t kMaxAssembly = 16777211;

} // namespace

bool surveyMembers(XmitHandle* h, XmitDataSet* ds, std::vector<DataSurvey>& byEntry) {
    byEntry.assign(ds->entryCount, DataSurvey{});
    // The entries of each TTR: a member and its aliases share their data.
    std::vector<std::pair<uint32_t, unsigned>> byTtr;
    for (unsigned i = 0; i < ds->entryCount; ++i)
        byTtr.push_back({entryTtr(directoryEntry(ds, i)), i});
    std::sort(byTtr.begin(), byTtr.end());
    std::unique_ptr<uint8_t[]> assembly;
    uint32_t assemblySize = 0;
    if (ds->recfmLetters[0] == 'V' && ds->lrecl > 4) {
        assemblySize = std::min<uint32_t>(static_cast<uint32_t>(ds->lrecl) - 4, kMaxAssembly);
        assembly = std::make_unique_for_overwrite<uint8_t[]>(assemblySize);
    }
    MemberCursor c;
    if (!startMembers(h, ds, &c, assembly.get(), assemblySize)) return false;
    for (;;) {
        uint32_t ttr = 0;
        const int at = peekMemberStart(h, ds, &c, &ttr);
        if (at == MEMBER_ERROR) return false;
        if (at == MEMBER_END) return true;
        DataSurvey s;
        s.found = true;
        ContentSniffer sniffer(packedRecordLength(ds));
        for (;;) {
            const int got = readMemberRecord(h, ds, &c);
            if (got == MEMBER_ERROR) return false;
            if (got == MEMBER_END) break;
            ++s.records;
            s.bytes += c.recordLength;
            if (!sniffer.full()) sniffer.add(c.record, c.recordLength);
        }
        s.content = ds->loadLibrary ? Content::Binary : sniffer.verdict();
        auto it =
            std::lower_bound(byTtr.begin(), byTtr.end(), std::pair<uint32_t, unsigned>{ttr, 0});
        for (; it != byTtr.end() && it->first == ttr; ++it) byEntry[it->second] = s;
    }
}

bool surveySequential(XmitHandle* h, XmitDataSet* ds, DataSurvey& survey) {
    survey = DataSurvey{};
    survey.found = true;
    if (seek(h, ds->dataPosition) != IO_OK) return false;
    ContentSniffer sniffer(0);
    for (;;) {
        if (readRecord(h) != IO_OK) return false;
        if (isControl(h)) break;
        // A fixed-format record longer than LRECL by a whole multiple is a block of records.
        uint64_t count = 1;
        if (ds->recfmLetters[0] == 'F' && ds->lrecl > 0 &&
            h->recordLength > static_cast<uint32_t>(ds->lrecl) &&
            h->recordLength % static_cast<uint32_t>(ds->lrecl) == 0)
            count = h->recordLength / static_cast<uint32_t>(ds->lrecl);
        survey.records += count;
        survey.bytes += h->recordLength;
        if (!sniffer.full()) sniffer.add(h->record, h->recordLength);
    }
    survey.content = sniffer.verdict();
    return true;
}

} // namespace opx
