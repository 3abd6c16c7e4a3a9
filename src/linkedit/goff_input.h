// GOFF object modules: physical records assembled into logical records, each checked and
// turned into the object-module image that object decks also give, so that symbol resolution
// merges both alike.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "object_module.h"

namespace vrl {

struct Job;

// Reads the GOFF module whose first record is job.records[0] up to its END record, then merges
// it (or discards it).
void readGoffModule(Job& job);

// The reader's checks of one module, usable on records from anywhere (tests, fuzzing).
class GoffReader {
  public:
    explicit GoffReader(ObjectModule& image);
    ~GoffReader();
    GoffReader(const GoffReader&) = delete;
    GoffReader& operator=(const GoffReader&) = delete;

    struct Step {
        std::string message; // the VRL16x message of a failure, or ""
        bool end = false;    // the END record has been read: the module is complete
        // The record did not continue the logical record before it (message set): that one is
        // dropped, and the same record is to be given again as the start of a new one.
        bool restart = false;
    };
    // One physical record of 80 bytes.
    Step record(const uint8_t* r);
    // True while a logical record waits for its continuation records.
    bool inLogicalRecord() const { return open_ || skipping_; }
    // After END: the remaining work on the image (fields of relocated constants, associated
    // data, deferred lengths, empty private sections), then the names and owners that an
    // object module gets before it is merged. Returns "" or a message of severity 4.
    std::string finish(uint32_t& privateCounter);

    struct Symbol; // one ESD item of the module

  private:
    std::string logical();
    std::string header();
    std::string esd();
    std::string txt();
    std::string rld();
    std::string len();
    std::string end();
    std::string identification(Symbol& element, const uint8_t* data, uint32_t n);
    Symbol* find(uint32_t esdid) const;
    bool addItem(std::unique_ptr<EsdItem> item);

    ObjectModule& image_;
    std::vector<uint8_t> buffer_; // the logical record being assembled
    unsigned physical_ = 0;       // its physical records
    unsigned type_ = 0;
    bool open_ = false;     // a continued logical record is being assembled
    bool skipping_ = false; // the rest of an overlong logical record is passed over
    bool headerSeen_ = false;
    uint32_t logicalRecords_ = 0;
    std::unordered_map<uint32_t, std::unique_ptr<Symbol>> symbols_;
    std::vector<Symbol*> order_; // in input order
    uint16_t nextEsdid_ = 1;
    // The pointers and offset of the last relocation item (later items may leave them out).
    bool haveR_ = false, haveP_ = false, haveOffset_ = false;
    uint32_t lastR_ = 0, lastP_ = 0;
    uint64_t lastOffset_ = 0;
    // Address constants whose field the binder does not fetch: once all text is in, the field
    // is set to the value that relocation then adds to.
    struct FieldFix {
        EsdItem* section;
        uint32_t offset; // in the section's text
        uint8_t length;
        uint64_t value;
    };
    std::vector<FieldFix> fixes_;
    std::vector<std::array<uint8_t, 19>> identifications_;
};

} // namespace vrl
