// Round trips through the extractor's reader: for every record format, sequential and
// partitioned, from text and from stored records, the transmit file opens without a message,
// describes the attributes that were asked for, lists its members in EBCDIC order at the TTRs
// that were written, and reads back the same records. Members of 0 records, records of 0 bytes
// and members of more than one track are among them.
#include <filesystem>
#include <random>

#include <gmock/gmock.h>

#include "build_support.h"

using namespace btest;
namespace fs = std::filesystem;

namespace {

struct Format {
    const char* recfm;
    uint32_t lrecl, blksize;
};

struct Case {
    Format format;
    bool partitioned;
    bool text;
};

std::string describe(const testing::TestParamInfo<Case>& info) {
    return std::string(info.param.format.recfm) + (info.param.partitioned ? "_PDS" : "_SEQ") +
           (info.param.text ? "_text" : "_records");
}

bool variable(const Format& f) {
    return f.recfm[0] == 'V';
}
bool fixed(const Format& f) {
    return f.recfm[0] == 'F';
}
bool spanned(const Format& f) {
    return std::strchr(f.recfm, 'S') != nullptr;
}

// Text lines (printable, no trailing blank) of lengths that suit the format; an empty line
// every so often. `count` lines, the lengths drawn from a seeded generator.
std::vector<std::string> lines(const Format& f, size_t count, unsigned seed) {
    std::mt19937 random(seed);
    const uint32_t limit = fixed(f) ? f.lrecl : variable(f) ? f.lrecl - 4 : f.lrecl;
    std::vector<std::string> out;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t length = i % 7 == 3 ? 0 : 1 + random() % std::min<uint32_t>(limit, 300);
        std::string line;
        for (uint32_t k = 0; k < length; ++k) line += static_cast<char>('!' + random() % 94);
        out.push_back(line);
    }
    return out;
}

// The EBCDIC records that the lines become.
std::vector<Bytes> recordsOfLines(const Format& f, const std::vector<std::string>& text) {
    std::vector<Bytes> out;
    for (const std::string& line : text) {
        Bytes r = xmitw::ebcdic(line);
        if (fixed(f)) r.resize(f.lrecl, 0x40);
        if (f.recfm[0] == 'U' && r.empty()) r.push_back(0x40);
        out.push_back(r);
    }
    return out;
}

// Records of any bytes for stored input: fixed length, or 0 (V) / 1 (U) up to LRECL bytes.
std::vector<Bytes> binaryRecords(const Format& f, size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Bytes> out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t length;
        if (fixed(f))
            length = f.lrecl;
        else if (spanned(f))
            length = i % 5 == 1 ? 0 : random() % (f.lrecl - 4); // many span blocks
        else if (variable(f))
            length = i % 5 == 1 ? 0 : random() % (f.lrecl - 3);
        else
            length = 1 + random() % f.lrecl;
        Bytes r(length);
        for (uint8_t& b : r) b = static_cast<uint8_t>(random());
        out.push_back(r);
    }
    return out;
}

void put16(std::string& s, size_t v) {
    s += static_cast<char>(v >> 8);
    s += static_cast<char>(v);
}

// The records in their stored layout: F concatenated, V behind RDWs, VB in blocks behind BDWs,
// VBS in segments of one block each, U behind 2-byte lengths.
std::string storedLayout(const Format& f, const std::vector<Bytes>& records) {
    std::string out;
    if (fixed(f)) {
        for (const Bytes& r : records) out += bytesOf(r);
    } else if (f.recfm[0] == 'U') {
        for (const Bytes& r : records) {
            put16(out, r.size());
            out += bytesOf(r);
        }
    } else if (spanned(f)) {
        const size_t most = f.blksize - 8;
        for (const Bytes& r : records) {
            size_t at = 0;
            do {
                const size_t n = std::min(most, r.size() - at);
                const bool first = at == 0, last = at + n == r.size();
                const uint8_t code = first && last ? 0 : first ? 1 : last ? 2 : 3;
                put16(out, n + 8);
                out += std::string(2, '\0');
                put16(out, n + 4);
                out += static_cast<char>(code);
                out += '\0';
                out += bytesOf(Bytes(r.begin() + at, r.begin() + at + n));
                at += n;
            } while (at < r.size());
        }
    } else if (std::strchr(f.recfm, 'B')) {
        std::string block;
        auto flush = [&] {
            if (block.empty()) return;
            put16(out, block.size() + 4);
            out += std::string(2, '\0') + block;
            block.clear();
        };
        for (const Bytes& r : records) {
            if (block.size() + 4 + r.size() + 4 > f.blksize) flush();
            put16(block, r.size() + 4);
            block += std::string(2, '\0') + bytesOf(r);
        }
        flush();
    } else {
        for (const Bytes& r : records) {
            put16(out, r.size() + 4);
            out += std::string(2, '\0') + bytesOf(r);
        }
    }
    return out;
}

class RoundTrip : public testing::TestWithParam<Case> {
  protected:
    void SetUp() override { connect(); }
    testsupport::TempDir dir_;
};

} // namespace

TEST_P(RoundTrip, ReadsBackWhatWasWritten) {
    const Case c = GetParam();
    const Format& f = c.format;
    // Members and what they hold: an empty one, names whose EBCDIC order differs from their
    // ASCII order (AB before A1), and one of more than a track.
    struct Member {
        std::string name;
        size_t count;
    };
    const std::vector<Member> members = c.partitioned
                                            ? std::vector<Member>{{"ZETA", fixed(f) ? 800u : 2000u},
                                                                  {"A1", 5},
                                                                  {"EMPTY", 0},
                                                                  {"AB", 40},
                                                                  {"A", 1}}
                                            : std::vector<Member>{{"SEQ", 3000}};
    std::map<std::string, std::vector<Bytes>> expected;
    fs::create_directories(dir_ / "in");
    unsigned seed = 1;
    for (const Member& m : members) {
        std::string file;
        if (c.text) {
            const auto text = lines(f, m.count, seed++);
            for (const std::string& l : text) file += l + (l.size() % 3 == 0 ? "\r\n" : "\n");
            expected[m.name] = recordsOfLines(f, text);
        } else {
            expected[m.name] = binaryRecords(f, m.count, seed++);
            file = storedLayout(f, expected[m.name]);
        }
        testsupport::writeFile(dir_ / "in" / (m.name + ".dat"), file);
    }
    const std::string input = (dir_ / "in" / (c.partitioned ? "&M.dat" : "SEQ.dat")).string();
    Request q((dir_ / "out.xmi").string(), input, f.recfm, f.lrecl, f.blksize);
    q.r.inputKind = c.text ? INPUT_TEXT : INPUT_RECORDS;
    if (c.partitioned) {
        ASSERT_EQ(q.listMembers(), "");
        q.r.directoryBlocks = 3;
    }
    ASSERT_EQ(q.create(), 0) << q.message;

    auto h = open(q.out);
    ASSERT_EQ(h->message, nullptr) << h->message;
    ASSERT_EQ(h->fileCount, 1u);
    XmitDataSet* ds = &h->dataSets[0];
    EXPECT_EQ(ds->kind, c.partitioned ? XMIT_KIND_PARTITIONED : XMIT_KIND_SEQUENTIAL);
    EXPECT_STREQ(ds->recfmLetters, f.recfm);
    EXPECT_STREQ(ds->dsname, "TEST.DATA");
    // Undefined records carry no LRECL; their block size is the largest record.
    EXPECT_EQ(ds->lrecl, f.recfm[0] == 'U' ? 0 : static_cast<int32_t>(f.lrecl));
    EXPECT_EQ(ds->blksize, static_cast<int32_t>(f.recfm[0] == 'U' ? f.lrecl : f.blksize));

    if (!c.partitioned) {
        const auto read = sequentialRecords(h.get(), ds);
        EXPECT_EQ(q.r.records, expected["SEQ"].size());
        ASSERT_EQ(read.size(), expected["SEQ"].size());
        EXPECT_TRUE(read == expected["SEQ"]);
        return;
    }
    ds = pxhXmitFileLoadDir(h.get(), 1);
    ASSERT_NE(ds, nullptr) << h->message;
    std::string error;
    const auto read = memberRecords(h.get(), ds, &error);
    ASSERT_EQ(error, "");
    std::vector<std::string> names;
    for (const auto& m : read) names.push_back(m.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "AB", "A1", "EMPTY", "ZETA"}));
    for (const auto& m : read) {
        SCOPED_TRACE(m.name);
        EXPECT_EQ(m.records.size(), expected[m.name].size());
        EXPECT_TRUE(m.records == expected[m.name]);
    }
    // The member data starts on the directory's track, after its three blocks; ZETA runs over
    // more than one track.
    EXPECT_EQ(read[0].ttr, 4u);
    const uint32_t last = read.back().ttr >> 8;
    const uint32_t used = (uint32_t(h->dataSets[0].extents[0][1]));
    EXPECT_GE(used, last + 2) << "ZETA should need more than one track";
    // The directory entries are 12 bytes: name, TTR and no user data.
    EXPECT_EQ(ds->entryLength, 12u);
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip, testing::ValuesIn([] {
                             const Format formats[] = {{"F", 80, 80},        {"FB", 80, 27920},
                                                       {"V", 255, 259},      {"VB", 255, 27998},
                                                       {"VBS", 40000, 1000}, {"U", 6144, 6144}};
                             std::vector<Case> cases;
                             for (const Format& f : formats)
                                 for (bool partitioned : {false, true})
                                     for (bool text : {true, false}) {
                                         // Spanned records: sequential and stored only.
                                         if (spanned(f) && (partitioned || text)) continue;
                                         cases.push_back({f, partitioned, text});
                                     }
                             return cases;
                         }()),
                         describe);
