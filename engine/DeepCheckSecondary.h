#pragma once
// Secondary index entries against the records. Each entry of an .Xnn/.XGn holds the indexed
// fields and (keyed tables) the primary key of one record, plus a block-number hint that may go
// stale without harm. The entries must be exactly the records' (indexed fields, key) pairs: no
// entry without its record, none twice, no record without its entry.
//
// Memory stays flat as the table grows. The common case is settled by two order-independent
// sums of a 64-bit hash of each pair, one over the records (gathered during the deep check's
// pass over the data file) and one over the entries; equal counts and equal sums mean equal
// sets, but for a chance of about 2^-64. Only when they differ are the faulty entries and
// records looked for, in batches of a bounded number of pairs chosen by hash: each batch takes one
// more pass over the data file and the index file and about 16 bytes per pair.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/DeepCheckFile.h"
#include "engine/DeepCheckProblems.h"
#include "engine/ParadoxFormat.h"

namespace zel::engine::deep {

class SecondaryMatch {
 public:
  // The comparison of the index in `xFile` with the table; null with the reason in `why` when
  // its header cannot be read or its fields cannot be matched with the table's (faults the open
  // check reports).
  // Faulty pairs are looked for `pairsPerBatch` at a time.
  static std::unique_ptr<SecondaryMatch> Make(const std::filesystem::path& xFile,
                                              const px::Header& table, std::size_t pairsPerBatch,
                                              std::string& why);

  // Adds one record of the data file (in chain order) to the records' side.
  void AddRecord(const std::uint8_t* record) {
    const std::uint64_t h = RecordHash(record);
    recordSum_ += Spread1(h);
    recordSum2_ += Spread2(h);
    ++recordCount_;
  }

  // Reads every entry of the index file into the entries' side. Independent of the records'
  // side, so it may run on another thread while the data file is read.
  void SumEntries();

  // Compares both sides and on a difference finds the entries and records at fault. A fault
  // that kept the entries from being read goes to `fallback` (the open check reports it too).
  // `entries` counts the entries read.
  void Compare(const ReadOnlyFile& dataFile, const px::Header& table, Problems& problems,
               Problems& fallback, std::uint64_t& entries);

  const std::string& IndexName() const { return name_; }
  const std::filesystem::path& File() const { return xPath_; }

 private:
  struct Part {
    std::size_t recordOffset;
    std::size_t entryOffset;
    std::size_t bytes;
    const px::Field* field;  // the table's field
  };
  struct Word {
    std::size_t recordOffset;
    std::size_t entryOffset;
    std::uint64_t mask;
    bool fold;  // a case-insensitive index's text: the record's letters a..z as A..Z
  };
  struct Pair {
    std::uint64_t hash;
    std::uint32_t block;
    std::uint16_t record;
    std::uint16_t matched;
  };

  // The two sums: of the hashes, and of their squares, so that no two different sets of
  // pairs cancel out in both.
  static std::uint64_t Spread1(std::uint64_t h) { return h; }
  static std::uint64_t Spread2(std::uint64_t h) { return h * h; }
  std::uint64_t Hash(const std::uint8_t* bytes, bool entry) const;
  std::uint64_t RecordHash(const std::uint8_t* record) const { return Hash(record, false); }
  std::uint64_t EntryHash(const std::uint8_t* entry) const { return Hash(entry, true); }
  std::string Values(const std::uint8_t* bytes, bool entry) const;
  void Locate(const ReadOnlyFile& dataFile, const px::Header& table, const ReadOnlyFile& xFile,
              Problems& problems);

  std::filesystem::path xPath_;
  px::Header x_;
  std::string name_;
  bool maintained_ = false;
  std::size_t batch_ = 1;
  std::vector<Part> parts_;
  std::vector<Word> words_;
  std::uint64_t recordSum_ = 0, recordSum2_ = 0, recordCount_ = 0;
  std::uint64_t entrySum_ = 0, entrySum2_ = 0, entryCount_ = 0;
  struct {
    int code = 0;
    std::uint32_t block = 0;
    std::string text;
  } unreadable_;
};

}  // namespace zel::engine::deep
