#pragma once
// Secondary index entries against the records. Each entry of an .Xnn/.XGn holds the indexed
// fields and (keyed tables) the primary key of one record, plus a block-number hint that may go
// stale without harm. The entries must be exactly the records' (indexed fields, key) pairs: no
// entry without its record, none twice, no record without its entry. A case-insensitive index
// holds its alpha fields folded to upper case (Borland's engine folds ASCII letters for the ascii
// sort order); its entries and records are compared with their letters folded.
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
    if (caseless_) recordCaseSum_ += Hash(record, false, knownFold_);
  }

  // Reads every entry of the index file into the entries' side, anew. Independent of the
  // records' side, so it may run on another thread while the data file is read.
  void SumEntries();

  // Adds `count` entries of a block of the index file (in chain order) to the entries' side, as
  // another reader of the file hands them over.
  void AddEntries(const std::uint8_t* entries, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t* e = entries + std::size_t{i} * x_.recordSize;
      const std::uint64_t h = EntryHash(e);
      entrySum_ += Spread1(h);
      entrySum2_ += Spread2(h);
      if (caseless_) entryCaseSum_ += Hash(e, true, knownFold_);
    }
    entryCount_ += count;
  }

  // The first block of the index file's chain.
  std::uint32_t FirstBlock() const { return x_.firstBlock; }

  // Compares both sides and on a difference finds the entries and records at fault. A fault
  // that kept the entries from being read goes to `fallback` (the open check reports it too).
  // `entries` counts the entries read.
  // Faults of a maintained index are damage (`problems`); those of an unmaintained one, which
  // the engine brings up to date when it next uses it, are `notes`.
  void Compare(const ReadOnlyFile& dataFile, const px::Header& table, Problems& problems,
               Problems& notes, Problems& fallback, std::uint64_t& entries);

  const std::string& IndexName() const { return name_; }
  const std::filesystem::path& File() const { return xPath_; }

 private:
  struct Part {
    std::size_t recordOffset;
    std::size_t entryOffset;
    std::size_t bytes;
    const px::Field* field;  // the table's field
  };
  // A pair's bytes as whole words of a record or an entry: a part's last word is read whole
  // and masked.
  struct Word {
    std::uint32_t offset;
    std::uint32_t fold;  // bytes of an indexed alpha field of a case-insensitive index
    std::uint64_t mask;
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
  // The hash of a pair, its alpha bytes folded by `fold` where the index ignores case.
  std::uint64_t Hash(const std::uint8_t* bytes, bool entry, const std::uint8_t* fold) const;
  std::uint64_t RecordHash(const std::uint8_t* record) const {
    return Hash(record, false, caseFold_);
  }
  std::uint64_t EntryHash(const std::uint8_t* entry) const { return Hash(entry, true, caseFold_); }
  std::string Values(const std::uint8_t* bytes, bool entry) const;
  void Locate(const ReadOnlyFile& dataFile, const px::Header& table, const ReadOnlyFile& xFile,
              Problems& problems);
  std::string CaseNote() const;

  std::filesystem::path xPath_;
  px::Header x_;
  std::string name_;
  bool maintained_ = false;
  // A case-insensitive index is compared with every letter folded to upper case (`caseFold_`),
  // so that entries and records differing only in case match. Beside that, a sum with only the
  // folding established for the table's sort order (`knownFold_`: ASCII letters for "ascii",
  // none for the others) tells when entries differ from their records in case beyond it: a
  // note, never damage.
  bool caseless_ = false;
  std::string sortOrderName_;
  const std::uint8_t* caseFold_ = nullptr;
  const std::uint8_t* knownFold_ = nullptr;
  std::uint64_t recordCaseSum_ = 0, entryCaseSum_ = 0;
  std::size_t batch_ = 1;
  std::vector<Part> parts_;
  std::vector<Word> recordWords_, entryWords_;
  std::uint64_t recordSum_ = 0, recordSum2_ = 0, recordCount_ = 0;
  std::uint64_t entrySum_ = 0, entrySum2_ = 0, entryCount_ = 0;
  struct {
    int code = 0;
    std::uint32_t block = 0;
    std::string text;
  } unreadable_;
};

}  // namespace zel::engine::deep
