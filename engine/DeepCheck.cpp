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

void OpenChecks(const fs::path& dbFile, const std::vector<fs::path>& xFiles, Problems& problems,
                Problems& notes) {
  std::string failed;
  if (!Run(
          problems, dbFile, [&] { VerifyTable(dbFile, ""); }, &failed) &&
      failed != dbFile.string()) {
    Run(problems, dbFile, [&] { VerifyDataFile(dbFile); });
  }
  for (const fs::path& x : xFiles) {
    Problems found;
    Run(found, x, [&] { VerifySecondaryIndexFile(dbFile, x); });
    for (const DeepProblem& p : found.List()) {
      const bool stale = p.code == ErrorCode::IndexOutOfDate && Unmaintained(x);
      (stale ? notes : problems).Add(p.code, p.file, p.block, p.record, p.text);
    }
  }
}

// ---- The deep check's own -----------------------------------------------------------------------

struct TableFiles {
  std::vector<fs::path> blockFiles;  // .PX, .Xnn, .Ynn...: header figures
  std::vector<fs::path> xFiles;
  std::optional<fs::path> mb, val;
};

std::string UpperExt(const fs::path& p) {
  std::string e = p.extension().string();
  for (char& c : e) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return e;
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

void DeepChecks(const fs::path& dbFile, const TableFiles& files, const DeepCheckLimits& limits,
                DeepState& s) {
  DeepCheckResult& r = *s.result;
  deep::ReadOnlyFile db(dbFile);
  px::Header h;
  std::string why;
  if (!deep::ReadHeader(db, h, why)) {
    s.fallback.Add(ErrorCode::CorruptHeader, db.Name(), 0, 0,
                   deep::With(deep::kTextCorruptHeader, why));
    return;
  }
  if (h.fileType != px::FileType::KeyedData && h.fileType != px::FileType::UnkeyedData) {
    s.fallback.Add(ErrorCode::CorruptHeader, db.Name(), 0, 0,
                   deep::With(deep::kTextCorruptHeader, "not a table"));
    return;
  }
  if (h.Encrypted()) {
    s.notes.Add(db.Name(), "Not checked: the table is encrypted, its records were not read");
    return;
  }
  deep::CheckHeaderFigures(db, h, s.found, s.notes);
  CheckOtherHeaders(files, s.found, s.notes);

  std::vector<const px::Field*> blobFields;
  for (const px::Field& f : h.fields)
    if (px::IsBlobField(f.code)) blobFields.push_back(&f);
  std::unique_ptr<deep::BlobFile> mb;
  if (!blobFields.empty() && files.mb) {
    try {
      mb = std::make_unique<deep::BlobFile>(*files.mb, s.found, s.fallback);
    } catch (const EngineError& e) {
      s.fallback.Add(e.Code(), files.mb->string(), 0, 0, e.Message());
    }
  } else if (!blobFields.empty()) {
    s.notes.Add(db.Name(), "Not checked: no .MB file, BLOB pointers were not checked");
  }

  std::vector<std::unique_ptr<deep::SecondaryMatch>> matches;
  for (const fs::path& x : files.xFiles) {
    auto m = deep::SecondaryMatch::Make(x, h, limits.pairsPerBatch, why);
    if (m) {
      matches.push_back(std::move(m));
    } else {
      s.notes.Add(x.string(),
                  "Not checked: " + x.filename().string() + ": entries not compared (" + why + ")");
    }
  }

  // The entries' side of each index is read on a thread of its own while the records are.
  std::thread entries([&matches] {
    for (auto& m : matches) m->SumEntries();
  });
  struct Join {
    std::thread& t;
    ~Join() {
      if (t.joinable()) t.join();
    }
  } joinEntries{entries};

  const deep::FieldChecker fields(h);
  deep::ChainScan scan(db, h);
  deep::ChainBlock b;
  bool complete = true;
  while (scan.Next(b)) {
    if (s.found.Full()) {
      complete = false;
      break;
    }
    for (std::uint32_t i = 0; i < b.count; ++i) {
      const std::uint8_t* rec = b.records + std::size_t{i} * h.recordSize;
      if (!fields.Check(rec, why)) {
        s.found.Add(ErrorCode::CorruptFile, db.Name(), b.number, i + 1,
                    deep::With(deep::kTextCorruptFile, why));
      }
      if (fields.AutoIncAbove(rec, why)) {
        s.found.Add(ErrorCode::CorruptHeader, db.Name(), b.number, i + 1,
                    deep::With(deep::kTextCorruptHeader, why));
      }
      if (mb) {
        for (const px::Field* f : blobFields) {
          bool intoFile = false;
          if (!mb->CheckPointer(rec + f->offset, f->bytes, why, intoFile)) {
            s.found.Add(DeepErrorCode::BlobModified, db.Name(), b.number, i + 1,
                        deep::With(deep::kTextBlobModified, "field \"" + f->name + "\": " + why));
          }
          if (intoFile) ++r.blobPointers;
        }
      }
      for (auto& m : matches) m->AddRecord(rec);
    }
    r.records += b.count;
  }
  if (scan.Stopped()) {
    complete = false;
    s.fallback.Add(ErrorCode::CorruptFile, db.Name(), scan.StopBlock(), 0,
                   deep::With(deep::kTextCorruptFile, scan.StopReason()));
    s.notes.Add(db.Name(),
                "Not checked: the data file's block chain is broken: records after "
                "block " +
                    std::to_string(scan.StopBlock()) +
                    " and the secondary index entries were not checked");
  }
  entries.join();
  if (complete) {
    for (auto& m : matches) {
      if (s.found.Full()) break;
      m->Compare(db, h, s.found, s.notes, s.fallback, r.indexEntries);
    }
  }
  if (files.val && !s.found.Full()) {
    try {
      std::string skipped;
      if (!deep::CheckValStructure(*files.val, h, s.found, skipped)) {
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

  // The open's checks and the deep check's own read the files independently: they run side by
  // side.
  Problems opened;
  Problems openNotes(kDeepCheckProblemLimit, DeepSeverity::Note);
  std::exception_ptr openFailed;
  std::thread open([&] {
    try {
      OpenChecks(dbFile, files.xFiles, opened, openNotes);
    } catch (...) {
      openFailed = std::current_exception();
    }
  });
  DeepState s{Problems(), Problems(), Problems(kDeepCheckProblemLimit, DeepSeverity::Note),
              &result};
  std::exception_ptr deepFailed;
  try {
    DeepChecks(dbFile, files, limits, s);
  } catch (...) {
    deepFailed = std::current_exception();
  }
  open.join();
  if (openFailed) std::rethrow_exception(openFailed);
  if (deepFailed) std::rethrow_exception(deepFailed);

  std::vector<DeepProblem> all = opened.List();
  for (const DeepProblem& p : s.fallback.List()) {
    const bool told =
        std::any_of(all.begin(), all.end(), [&](const DeepProblem& q) { return q.file == p.file; });
    if (!told) all.push_back(p);
  }
  all.insert(all.end(), s.found.List().begin(), s.found.List().end());
  result.limitReached = opened.Overflow() || s.found.Overflow() || s.found.Full() ||
                        all.size() > kDeepCheckProblemLimit;
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
