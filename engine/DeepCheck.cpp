#include "engine/DeepCheck.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <memory>
#include <optional>
#include <thread>

#include "engine/DeepCheckBlobs.h"
#include "engine/DeepCheckFields.h"
#include "engine/DeepCheckFile.h"
#include "engine/DeepCheckHeader.h"
#include "engine/DeepCheckProblems.h"
#include "engine/DeepCheckSecondary.h"
#include "engine/DeepCheckVal.h"
#include "engine/EngineError.h"
#include "engine/Verifier.h"
#include "platform/AsciiCase.h"

namespace zel::engine {
namespace fs = std::filesystem;
using deep::Problems;

std::string DeepProblem::Describe() const {
  std::string out = file;
  if (block != 0) out += ", block " + std::to_string(block);
  if (record != 0) out += ", record " + std::to_string(record);
  return out + ": " + text;
}

namespace {

// ---- The open's checks ------------------------------------------------------------------------

// The number after `word ` in `text` at or after `from`, or 0.
std::uint32_t NumberAfter(const std::string& text, const std::string& word, std::size_t& at) {
  const std::size_t p = text.find(word + " ", at);
  if (p == std::string::npos) return 0;
  std::size_t i = p + word.size() + 1;
  std::uint64_t v = 0;
  bool any = false;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && v < 1u << 30) {
    v = v * 10 + static_cast<unsigned>(text[i] - '0');
    ++i;
    any = true;
  }
  at = i;
  return any ? static_cast<std::uint32_t>(v) : 0;
}

// The verifier says where a fault is in its text ("record 3 of block 2", "block 5 links ..."):
// the first place named is the one at fault.
void PlaceOf(const std::string& text, std::uint32_t& block, std::uint32_t& record) {
  std::size_t at = 0;
  const std::size_t rec = text.find("record ");
  if (rec != std::string::npos && text.find(" of block ", rec) != std::string::npos) {
    at = rec;
    record = NumberAfter(text, "record", at);
    block = NumberAfter(text, "of block", at);
    if (record != 0 && block != 0) return;
  }
  record = 0;
  at = 0;
  block = NumberAfter(text, "block", at);
}

void AddOnce(Problems& problems, const EngineError& e, const fs::path& fallbackFile) {
  const std::string file = e.File().empty() ? fallbackFile.string() : e.File();
  for (const DeepProblem& p : problems.List())
    if (p.file == file && p.text == e.Message()) return;
  std::uint32_t block = 0, record = 0;
  PlaceOf(e.Message(), block, record);
  problems.Add(e.Code(), file, block, record, e.Message());
}

// Everything an open checks, by the verifier itself: the table under its primary index, then
// each secondary index. The verifier stops at a file's first fault; the data file alone is
// looked at again when an index or the BLOB or .VAL file stopped it before the data blocks.
// Runs one of the verifier's checks; a fault becomes a problem. Anything but an EngineError
// (out of memory, a folder that cannot be listed) is a read failure of that file.
template <typename Check>
bool Run(Problems& problems, const fs::path& file, Check check, std::string* failedFile = nullptr) {
  try {
    check();
    return true;
  } catch (const EngineError& e) {
    AddOnce(problems, e, file);
    if (failedFile) *failedFile = e.File();
  } catch (const std::exception& e) {
    AddOnce(problems,
            EngineError(ErrorCode::ReadFailed, std::string("Cannot read file (") + e.what() + ")",
                        file.string()),
            file);
    if (failedFile) *failedFile = file.string();
  }
  return false;
}

// ---- The deep check's own -----------------------------------------------------------------------

struct TableFiles {
  std::vector<fs::path> blockFiles;  // .PX, .Xnn, .Ynn...: header figures
  std::vector<fs::path> xFiles;
  std::optional<fs::path> mb, val;
};

std::string UpperExt(const fs::path& p) {
  return platform::AsciiUpper(p.extension().string());
}

TableFiles FilesOf(const fs::path& dbFile) {
  TableFiles t;
  for (const fs::path& f : ExistingTableFiles(dbFile)) {
    const std::string ext = UpperExt(f);
    if (ext == ".DB") continue;
    if (ext == ".MB") {
      t.mb = f;
    } else if (ext == ".VAL") {
      t.val = f;
    } else {
      t.blockFiles.push_back(f);
      if (ext.size() == 4 && ext[1] == 'X') t.xFiles.push_back(f);
    }
  }
  return t;
}

struct DeepState {
  Problems found;     // faults only the deep check looks for
  Problems fallback;  // faults the open check reports as well, kept for when it did not
  Problems notes{kDeepCheckProblemLimit, DeepSeverity::Note};
  DeepCheckResult* result;
};

void CheckOtherHeaders(const TableFiles& files, Problems& problems, Problems& notes) {
  for (const fs::path& p : files.blockFiles) {
    try {
      deep::ReadOnlyFile f(p);
      px::Header h;
      std::string why;
      if (deep::ReadHeader(f, h, why)) deep::CheckHeaderFigures(f, h, problems, notes);
    } catch (const EngineError&) {
      // Unreadable: the open check says so.
    }
  }
}

// What the deep check reads besides the open's walk, set up before the files are read: the
// table's header, its .MB and the comparison of each secondary index with the records.
struct Plan {
  std::unique_ptr<deep::ReadOnlyFile> db;
  px::Header h;
  bool readRecords = false;  // a table's readable, unencrypted header
  std::vector<const px::Field*> blobFields;
  std::unique_ptr<deep::BlobFile> mb;
  std::vector<std::unique_ptr<deep::SecondaryMatch>> matches;

  deep::SecondaryMatch* MatchFor(const fs::path& x) const {
    for (const auto& m : matches)
      if (m->File() == x) return m.get();
    return nullptr;
  }
};

Plan Prepare(const fs::path& dbFile, const TableFiles& files, const DeepCheckLimits& limits,
             DeepState& s) {
  Plan plan;
  plan.db = std::make_unique<deep::ReadOnlyFile>(dbFile);
  const deep::ReadOnlyFile& db = *plan.db;
  px::Header& h = plan.h;
  std::string why;
  if (!deep::ReadHeader(db, h, why)) {
    s.fallback.Add(ErrorCode::CorruptHeader, db.Name(), 0, 0,
                   deep::With(deep::kTextCorruptHeader, why));
    return plan;
  }
  if (h.fileType != px::FileType::KeyedData && h.fileType != px::FileType::UnkeyedData) {
    s.fallback.Add(ErrorCode::CorruptHeader, db.Name(), 0, 0,
                   deep::With(deep::kTextCorruptHeader, "not a table"));
    return plan;
  }
  if (h.Encrypted()) {
    s.notes.Add(db.Name(), "Not checked: the table is encrypted, its records were not read");
    return plan;
  }
  plan.readRecords = true;
  deep::CheckHeaderFigures(db, h, s.found, s.notes);
  CheckOtherHeaders(files, s.found, s.notes);

  for (const px::Field& f : h.fields)
    if (px::IsBlobField(f.code)) plan.blobFields.push_back(&f);
  if (!plan.blobFields.empty() && files.mb) {
    try {
      plan.mb = std::make_unique<deep::BlobFile>(*files.mb, s.found, s.fallback);
    } catch (const EngineError& e) {
      s.fallback.Add(e.Code(), files.mb->string(), 0, 0, e.Message());
    }
  } else if (!plan.blobFields.empty()) {
    s.notes.Add(db.Name(), "Not checked: no .MB file, BLOB pointers were not checked");
  }

  for (const fs::path& x : files.xFiles) {
    auto m = deep::SecondaryMatch::Make(x, h, limits.pairsPerBatch, why);
    if (m) {
      plan.matches.push_back(std::move(m));
    } else {
      s.notes.Add(x.string(),
                  "Not checked: " + x.filename().string() + ": entries not compared (" + why + ")");
    }
  }
  return plan;
}

// Where a walk along a chain got to: the blocks seen, the last one and its link. The verifier
// may walk a chain again from its start (the data file alone after an index stopped it), so a
// block seen before is passed over.
class ChainPlace {
 public:
  explicit ChainPlace(std::uint32_t firstBlock) : next_(firstBlock) {}
  // False for a block seen before.
  bool Visit(std::uint32_t number, std::uint32_t next) {
    std::uint64_t& word = seen_[number / 64];
    const std::uint64_t bit = std::uint64_t{1} << (number % 64);
    if (word & bit) return false;
    word |= bit;
    prev_ = number;
    next_ = next;
    return true;
  }
  bool Complete() const { return next_ == 0; }
  std::uint32_t Prev() const { return prev_; }
  std::uint32_t Next() const { return next_; }
  const std::vector<std::uint64_t>& Seen() const { return seen_; }

 private:
  std::vector<std::uint64_t> seen_ = std::vector<std::uint64_t>(65536 / 64, 0);
  std::uint32_t prev_ = 0, next_ = 0;
};

// The deep check's work on every record of the data file: field values, autoincrement values,
// BLOB pointers and the records' side of each index comparison. Handed the blocks of the
// verifier's walk, so that the file is read once; where the verifier stopped, the deep check's
// own scan goes on from there.
class RecordPass final : public ChainObserver {
 public:
  RecordPass(const Plan& plan, DeepState& s)
      : plan_(plan), s_(s), fields_(plan.h), place_(plan.h.firstBlock) {}

  void Block(std::uint32_t number, std::uint32_t next, std::uint32_t count,
             const std::uint8_t* records) override {
    if (!place_.Visit(number, next)) return;
    if (full_ || s_.found.Full()) {
      full_ = true;
      return;
    }
    const px::Header& h = plan_.h;
    const std::string& name = plan_.db->Name();
    std::string why;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t* rec = records + std::size_t{i} * h.recordSize;
      if (!fields_.Check(rec, why)) {
        s_.found.Add(ErrorCode::CorruptFile, name, number, i + 1,
                     deep::With(deep::kTextCorruptFile, why));
      }
      if (fields_.AutoIncAbove(rec, why)) {
        s_.found.Add(ErrorCode::CorruptHeader, name, number, i + 1,
                     deep::With(deep::kTextCorruptHeader, why));
      }
      if (plan_.mb) {
        for (const px::Field* f : plan_.blobFields) {
          bool intoFile = false;
          if (!plan_.mb->CheckPointer(rec + f->offset, f->bytes, why, intoFile)) {
            s_.found.Add(DeepErrorCode::BlobModified, name, number, i + 1,
                         deep::With(deep::kTextBlobModified, "field \"" + f->name + "\": " + why));
          }
          if (intoFile) ++s_.result->blobPointers;
        }
      }
      for (const auto& m : plan_.matches) m->AddRecord(rec);
    }
    s_.result->records += count;
  }

  // Reads the rest of the chain where the verifier's walk stopped short of its end. True when
  // every record was checked.
  bool Finish() {
    if (!place_.Complete() && !full_) {
      deep::ChainScan scan(*plan_.db, plan_.h);
      scan.StartAfter(place_.Prev(), place_.Next(), place_.Seen());
      deep::ChainBlock b;
      while (!full_ && scan.Next(b)) Block(b.number, scan.NextLink(), b.count, b.records);
      if (scan.Stopped()) {
        stopped_ = true;
        s_.fallback.Add(ErrorCode::CorruptFile, plan_.db->Name(), scan.StopBlock(), 0,
                        deep::With(deep::kTextCorruptFile, scan.StopReason()));
        s_.notes.Add(plan_.db->Name(),
                     "Not checked: the data file's block chain is broken: records after block " +
                         std::to_string(scan.StopBlock()) +
                         " and the secondary index entries were not checked");
      }
    }
    return !full_ && !stopped_ && !s_.found.Full();
  }

 private:
  const Plan& plan_;
  DeepState& s_;
  const deep::FieldChecker fields_;
  ChainPlace place_;
  bool full_ = false;
  bool stopped_ = false;
};

// The entries' side of one index comparison, handed the blocks of the verifier's walk over the
// .X.
class EntryPass final : public ChainObserver {
 public:
  explicit EntryPass(deep::SecondaryMatch& match) : match_(match), place_(match.FirstBlock()) {}
  void Block(std::uint32_t number, std::uint32_t next, std::uint32_t count,
             const std::uint8_t* records) override {
    if (place_.Visit(number, next)) match_.AddEntries(records, count);
  }
  // Reads the entries anew when the verifier's walk stopped short of the chain's end.
  void Finish() {
    if (!place_.Complete()) match_.SumEntries();
  }

 private:
  deep::SecondaryMatch& match_;
  ChainPlace place_;
};

// The open's checks of the table under its primary index, then of the data file alone when an
// index or the BLOB or .VAL file stopped them before the data blocks; `pass` sees the blocks.
void OpenChecksOfTable(const fs::path& dbFile, Problems& problems, ChainObserver* pass) {
  std::string failed;
  if (!Run(
          problems, dbFile, [&] { VerifyTable(dbFile, "", pass); }, &failed) &&
      failed != dbFile.string()) {
    Run(problems, dbFile, [&] { VerifyDataFile(dbFile, pass); });
  }
}

// True when `xFile` is a secondary index the engine does not maintain: it is brought up to date
// when next used, so its being out of date is no damage.
bool Unmaintained(const fs::path& xFile) {
  try {
    const deep::ReadOnlyFile f(xFile);
    px::Header h;
    std::string why;
    return deep::ReadHeader(f, h, why) && px::IsSecondaryData(h.fileType) &&
           !px::IsMaintained(h.fileType);
  } catch (const EngineError&) {
    return false;
  }
}

// The open's checks of each secondary index, its entries summed on the way.
void OpenChecksOfIndexes(const fs::path& dbFile, const std::vector<fs::path>& xFiles,
                         const Plan& plan, Problems& problems, Problems& notes) {
  for (const fs::path& x : xFiles) {
    deep::SecondaryMatch* match = plan.MatchFor(x);
    std::optional<EntryPass> entries;
    if (match) entries.emplace(*match);
    Problems found;
    Run(found, x, [&] { VerifySecondaryIndexFile(dbFile, x, entries ? &*entries : nullptr); });
    for (const DeepProblem& p : found.List()) {
      const bool stale = p.code == ErrorCode::IndexOutOfDate && Unmaintained(x);
      (stale ? notes : problems).Add(p.code, p.file, p.block, p.record, p.text);
    }
    if (entries) entries->Finish();
  }
}

void FinalChecks(const TableFiles& files, const Plan& plan, bool recordsComplete, DeepState& s) {
  DeepCheckResult& r = *s.result;
  if (recordsComplete) {
    for (const auto& m : plan.matches) {
      if (s.found.Full()) break;
      m->Compare(*plan.db, plan.h, s.found, s.notes, s.fallback, r.indexEntries);
    }
  }
  if (files.val && !s.found.Full()) {
    try {
      std::string skipped;
      if (!deep::CheckValStructure(*files.val, plan.h, s.found, skipped)) {
        s.notes.Add(files.val->string(), "Not checked: " + files.val->filename().string() +
                                             ": structure not checked (" + skipped + ")");
      }
    } catch (const EngineError& e) {
      s.fallback.Add(e.Code(), files.val->string(), 0, 0, e.Message());
    }
  }
}

}  // namespace

DeepCheckResult DeepCheckTable(const fs::path& dbFile, const DeepCheckLimits& limits) {
  { deep::ReadOnlyFile probe(dbFile); }  // unreadable at all: the caller's error, not a verdict
  DeepCheckResult result;
  const TableFiles files = FilesOf(dbFile);
  DeepState s{Problems(), Problems(), Problems(kDeepCheckProblemLimit, DeepSeverity::Note),
              &result};
  const Plan plan = Prepare(dbFile, files, limits, s);

  // Each file is read once: the data file by the verifier's walk, whose blocks the deep check
  // takes for its own checks, on this thread; the index files likewise on another.
  Problems openedTable, openedIndexes;
  Problems openNotes(kDeepCheckProblemLimit, DeepSeverity::Note);
  std::exception_ptr indexesFailed;
  std::thread indexes([&] {
    try {
      OpenChecksOfIndexes(dbFile, files.xFiles, plan, openedIndexes, openNotes);
    } catch (...) {
      indexesFailed = std::current_exception();
    }
  });
  std::exception_ptr tableFailed;
  bool recordsComplete = false;
  try {
    std::optional<RecordPass> pass;
    if (plan.readRecords) pass.emplace(plan, s);
    OpenChecksOfTable(dbFile, openedTable, pass ? &*pass : nullptr);
    if (pass) recordsComplete = pass->Finish();
  } catch (...) {
    tableFailed = std::current_exception();
  }
  indexes.join();
  if (indexesFailed) std::rethrow_exception(indexesFailed);
  if (tableFailed) std::rethrow_exception(tableFailed);
  if (plan.readRecords) FinalChecks(files, plan, recordsComplete, s);

  std::vector<DeepProblem> all = openedTable.List();
  all.insert(all.end(), openedIndexes.List().begin(), openedIndexes.List().end());
  for (const DeepProblem& p : s.fallback.List()) {
    const bool told =
        std::any_of(all.begin(), all.end(), [&](const DeepProblem& q) { return q.file == p.file; });
    if (!told) all.push_back(p);
  }
  all.insert(all.end(), s.found.List().begin(), s.found.List().end());
  result.limitReached = openedTable.Overflow() || openedIndexes.Overflow() || s.found.Overflow() ||
                        s.found.Full() || all.size() > kDeepCheckProblemLimit;
  if (all.size() > kDeepCheckProblemLimit) all.resize(kDeepCheckProblemLimit);
  result.problems = std::move(all);
  // Notes: the open's first, then the deep check's own.
  std::vector<DeepProblem> notes = openNotes.List();
  notes.insert(notes.end(), s.notes.List().begin(), s.notes.List().end());
  if (notes.size() > kDeepCheckProblemLimit) notes.resize(kDeepCheckProblemLimit);
  result.notes = std::move(notes);
  return result;
}

}  // namespace zel::engine
