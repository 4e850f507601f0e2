#include "engine/DeepCheckSecondary.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/DeepCheckFields.h"
#include "engine/EngineError.h"

namespace zel::engine::deep {
namespace {

constexpr std::uint64_t kSecret0 = 0xA0761D6478BD642Full;
constexpr std::uint64_t kSecret1 = 0xE7037ED1A0B428DBull;
constexpr std::uint64_t kSecret2 = 0x8EBC6AF09C88C6E3ull;
constexpr std::uint64_t kSecret3 = 0x589965CC75374CC3ull;

std::uint64_t Mum(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
#else
  // 32-bit targets have no 128-bit integer: the same product from the 32-bit halves.
  const std::uint64_t aLo = a & 0xFFFFFFFFu, aHi = a >> 32;
  const std::uint64_t bLo = b & 0xFFFFFFFFu, bHi = b >> 32;
  const std::uint64_t ll = aLo * bLo, lh = aLo * bHi, hl = aHi * bLo, hh = aHi * bHi;
  const std::uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
  const std::uint64_t lo = (ll & 0xFFFFFFFFu) | (mid << 32);
  const std::uint64_t hi = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
  return lo ^ hi;
#endif
}

bool SameDescriptor(const px::Field& a, const px::Field& b) {
  return a.code == b.code && a.sizeByte == b.sizeByte;
}

struct Folds {
  std::uint8_t none[256];
  std::uint8_t ascii[256];    // a-z to A-Z: what Borland's engine does for the ascii sort order
  std::uint8_t letters[256];  // also the letters of Windows-1252 and ISO 8859-1 (0xE0-0xFE)
  Folds() {
    for (int c = 0; c < 256; ++c) {
      none[c] = ascii[c] = letters[c] = static_cast<std::uint8_t>(c);
      if (c >= 'a' && c <= 'z') ascii[c] = letters[c] = static_cast<std::uint8_t>(c - 32);
      if (c >= 0xE0 && c <= 0xFE && c != 0xF7) letters[c] = static_cast<std::uint8_t>(c - 32);
    }
  }
};

const Folds& FoldTables() {
  static const Folds folds;
  return folds;
}

std::uint64_t FoldWord(std::uint64_t v, const std::uint8_t* fold) {
  std::uint64_t out = 0;
  for (int i = 0; i < 64; i += 8) out |= std::uint64_t{fold[(v >> i) & 0xFF]} << i;
  return out;
}

bool IsNamedIndexFile(const std::filesystem::path& xFile) {
  const std::string ext = xFile.extension().string();
  return ext.size() == 4 && (ext[2] == 'G' || ext[2] == 'g');
}

}  // namespace

std::unique_ptr<SecondaryMatch> SecondaryMatch::Make(const std::filesystem::path& xFile,
                                                     const px::Header& db,
                                                     std::size_t pairsPerBatch, std::string& why) {
  auto m = std::unique_ptr<SecondaryMatch>(new SecondaryMatch());
  m->xPath_ = xFile;
  m->batch_ = std::max<std::size_t>(1, pairsPerBatch);
  std::unique_ptr<ReadOnlyFile> file;
  try {
    file = std::make_unique<ReadOnlyFile>(xFile);
  } catch (const EngineError& e) {
    why = e.what();
    return nullptr;
  }
  px::Header& x = m->x_;
  if (!ReadHeader(*file, x, why)) return nullptr;
  if (!px::IsSecondaryData(x.fileType)) {
    why = "not a secondary index file";
    return nullptr;
  }
  if (x.Encrypted()) {
    why = "encrypted";
    return nullptr;
  }
  const int k = db.primaryKeyFields;
  const int tail = k > 0 ? k + 1 : 3;  // key fields and block hint; heaps: Tup No, Blk, Offset
  const int s = x.numFields - tail;
  if (s < 1) {
    why = "its fields do not fit the table";
    return nullptr;
  }
  for (int i = 0; i < s; ++i) {
    int n = 0;
    if (x.hasDataHeader) {
      n = x.fields[i].number;
    } else if (s == 1) {
      n = x.indexFieldNumber;
    }
    if (n < 1 || n > db.numFields || !SameDescriptor(x.fields[i], db.fields[n - 1])) {
      why = "indexed field " + std::to_string(i + 1) + " does not match the table";
      return nullptr;
    }
    const px::Field& f = db.fields[n - 1];
    m->parts_.push_back({f.offset, x.fields[i].offset, f.bytes, &f});
  }
  const std::size_t indexedParts = m->parts_.size();
  for (int j = 0; j < k; ++j) {
    if (!SameDescriptor(x.fields[s + j], db.fields[j])) {
      why = "key field " + std::to_string(j + 1) + " does not match the table";
      return nullptr;
    }
    m->parts_.push_back(
        {db.fields[j].offset, x.fields[s + j].offset, db.fields[j].bytes, &db.fields[j]});
  }
  // The pairs' bytes as whole words: a part's last word is read whole and masked (the chain
  // scan's buffers have ChainScan::kSlack bytes to spare for it).
  m->caseless_ = (x.indexFlags & px::kIndexFlagCaseInsensitive) != 0;
  for (std::size_t i = 0; i < m->parts_.size(); ++i) {
    const Part& p = m->parts_[i];
    const bool fold = m->caseless_ && i < indexedParts && p.field->code == px::FieldCode::Alpha;
    for (std::size_t at = 0; at < p.bytes; at += 8) {
      const std::size_t n = std::min<std::size_t>(8, p.bytes - at);
      const std::uint64_t mask = n == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
      m->recordWords_.push_back({static_cast<std::uint32_t>(p.recordOffset + at), fold, mask});
      m->entryWords_.push_back({static_cast<std::uint32_t>(p.entryOffset + at), fold, mask});
    }
  }
  if (m->caseless_) {
    const Folds& folds = FoldTables();
    m->caseFold_ = folds.letters;
    m->knownFold_ = db.sortOrder == px::kSortAscii ? folds.ascii : folds.none;
    m->sortOrderName_ = db.sortOrderId.empty() ? "ascii" : db.sortOrderId;
  }
  m->maintained_ = px::IsMaintained(x.fileType);
  if (IsNamedIndexFile(xFile)) {
    m->name_ = x.indexName;
  } else {
    m->name_ = m->parts_.front().field->name;
  }
  return m;
}

namespace {

// The hash of the words at `bytes`: two words per 64x64->128-bit multiply, folded, so one
// multiply's latency per 16 bytes. With kFold, the words of case-insensitive fields are folded
// through `fold` first.
template <bool kFold, typename Word>
std::uint64_t HashWords(const std::uint8_t* bytes, const std::vector<Word>& words,
                        const std::uint8_t* fold) {
  static_assert(std::endian::native == std::endian::little, "the masks keep a word's first bytes");
  const auto load = [&](const Word& w) {
    std::uint64_t v;
    std::memcpy(&v, bytes + w.offset, 8);
    v &= w.mask;
    if constexpr (kFold) return w.fold ? FoldWord(v, fold) : v;
    return v;
  };
  std::uint64_t h = 0x243F6A8885A308D3ull;
  const std::size_t n = words.size();
  std::size_t i = 0;
  for (; i + 1 < n; i += 2) h = Mum(load(words[i]) ^ kSecret0, load(words[i + 1]) ^ h);
  if (i < n) h = Mum(load(words[i]) ^ kSecret1, h ^ kSecret2);
  return Mum(h ^ kSecret3, n ^ kSecret0);
}

}  // namespace

std::uint64_t SecondaryMatch::Hash(const std::uint8_t* bytes, bool entry,
                                   const std::uint8_t* fold) const {
  const std::vector<Word>& words = entry ? entryWords_ : recordWords_;
  return fold ? HashWords<true>(bytes, words, fold) : HashWords<false>(bytes, words, nullptr);
}

std::string SecondaryMatch::Values(const std::uint8_t* bytes, bool entry) const {
  std::string out;
  for (const Part& p : parts_) {
    if (!out.empty()) out += ", ";
    out +=
        p.field->name + " " + FieldText(*p.field, bytes + (entry ? p.entryOffset : p.recordOffset));
  }
  return out;
}

void SecondaryMatch::SumEntries() {
  entrySum_ = entrySum2_ = entryCount_ = entryCaseSum_ = 0;
  unreadable_ = {};
  try {
    ReadOnlyFile xFile(xPath_);
    ChainScan scan(xFile, x_);
    ChainBlock b;
    while (scan.Next(b)) AddEntries(b.records, b.count);
    if (scan.Stopped()) {
      unreadable_ = {ErrorCode::CorruptIndex, scan.StopBlock(),
                     With(kTextCorruptIndex, scan.StopReason())};
    }
  } catch (const EngineError& e) {
    unreadable_ = {e.Code(), 0, e.Message()};
  } catch (const std::exception& e) {
    unreadable_ = {ErrorCode::ReadFailed, 0, std::string("Cannot read file (") + e.what() + ")"};
  }
}

std::string SecondaryMatch::CaseNote() const {
  return "index \"" + name_ + "\": entries differ from their records in letter case beyond " +
         (knownFold_ == FoldTables().ascii ? std::string("the ASCII letters")
                                           : std::string("anything")) +
         " that sort order \"" + sortOrderName_ +
         "\" is known to fold; compared without regard to letter case";
}

void SecondaryMatch::Compare(const ReadOnlyFile& dataFile, const px::Header& table,
                             Problems& problems, Problems& notes, Problems& fallback,
                             std::uint64_t& entries) {
  entries += entryCount_;
  if (unreadable_.code != 0) {
    // The open check names the break; without the whole chain the entries cannot be compared.
    fallback.Add(unreadable_.code, xPath_.string(), unreadable_.block, 0, unreadable_.text);
    return;
  }
  if (entryCount_ == recordCount_ && entrySum_ == recordSum_ && entrySum2_ == recordSum2_) {
    if (caseless_ && entryCaseSum_ != recordCaseSum_) notes.Add(xPath_.string(), CaseNote());
    return;
  }
  try {
    const ReadOnlyFile xFile(xPath_);
    Locate(dataFile, table, xFile, maintained_ ? problems : notes);
  } catch (const EngineError& e) {
    fallback.Add(e.Code(), xPath_.string(), 0, 0, e.Message());
  }
}

void SecondaryMatch::Locate(const ReadOnlyFile& dataFile, const px::Header& table,
                            const ReadOnlyFile& xFile, Problems& problems) {
  const int code = maintained_ ? ErrorCode::CorruptIndex : ErrorCode::IndexOutOfDate;
  const char* text = maintained_ ? kTextCorruptIndex : kTextIndexOutOfDate;
  const std::uint64_t batches = std::max<std::uint64_t>(1, (recordCount_ + batch_ - 1) / batch_);
  const auto batchOf = [&](std::uint64_t h) { return (h >> 7) % batches; };
  std::vector<Pair> pairs;
  for (std::uint64_t batch = 0; batch < batches && !problems.Full(); ++batch) {
    pairs.clear();
    {
      ChainScan scan(dataFile, table);
      ChainBlock b;
      while (scan.Next(b)) {
        for (std::uint32_t i = 0; i < b.count; ++i) {
          const std::uint64_t h = RecordHash(b.records + std::size_t{i} * table.recordSize);
          if (batchOf(h) == batch)
            pairs.push_back({h, b.number, static_cast<std::uint16_t>(i + 1), 0});
        }
      }
      if (scan.Stopped()) return;  // reported with the data file
    }
    std::sort(pairs.begin(), pairs.end(),
              [](const Pair& a, const Pair& b) { return a.hash < b.hash; });
    {
      ChainScan scan(xFile, x_);
      ChainBlock b;
      while (scan.Next(b) && !problems.Full()) {
        for (std::uint32_t i = 0; i < b.count && !problems.Full(); ++i) {
          const std::uint8_t* e = b.records + std::size_t{i} * x_.recordSize;
          const std::uint64_t h = EntryHash(e);
          if (batchOf(h) != batch) continue;
          auto it = std::lower_bound(pairs.begin(), pairs.end(), h,
                                     [](const Pair& p, std::uint64_t v) { return p.hash < v; });
          const bool any = it != pairs.end() && it->hash == h;
          while (it != pairs.end() && it->hash == h && it->matched) ++it;
          if (it != pairs.end() && it->hash == h) {
            it->matched = 1;
            continue;
          }
          const std::string detail =
              any ? "index \"" + name_ + "\": a second entry for the record with " + Values(e, true)
                  : "index \"" + name_ + "\": the entry for " + Values(e, true) +
                        " has no record with these values (a deleted record, or changed "
                        "values)";
          problems.Add(code, xFile.Name(), b.number, i + 1, With(text, detail));
        }
      }
    }
    for (const Pair& p : pairs) {
      if (p.matched || problems.Full()) continue;
      problems.Add(code, dataFile.Name(), p.block, p.record,
                   With(text, "the record has no entry in index \"" + name_ + "\" (" +
                                  xFile.Path().filename().string() + ")"));
    }
  }
}

}  // namespace zel::engine::deep
