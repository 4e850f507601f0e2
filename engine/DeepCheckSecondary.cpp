#include "engine/DeepCheckSecondary.h"

#include <algorithm>
#include <cstring>

#include "engine/DeepCheckFields.h"
#include "engine/EngineError.h"

namespace zel::engine::deep {
namespace {

constexpr std::uint64_t kMul1 = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t kMul2 = 0xC2B2AE3D27D4EB4Full;

std::uint64_t Fmix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

std::uint64_t Rotl(std::uint64_t v, int r) {
  return (v << r) | (v >> (64 - r));
}

// Folds `n` bytes into `h`, a word at a time.
std::uint64_t Fold(std::uint64_t h, const std::uint8_t* p, std::size_t n) {
  while (n >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = Rotl(h ^ (w * kMul2), 31) * kMul1;
    p += 8;
    n -= 8;
  }
  std::uint64_t w = 0;
  std::memcpy(&w, p, n);
  return Rotl(h ^ ((w ^ (std::uint64_t{n} << 59)) * kMul2), 27) * kMul1;
}

bool SameDescriptor(const px::Field& a, const px::Field& b) {
  return a.code == b.code && a.sizeByte == b.sizeByte;
}

bool IsNamedIndexFile(const std::filesystem::path& xFile) {
  const std::string ext = xFile.extension().string();
  return ext.size() == 4 && (ext[2] == 'G' || ext[2] == 'g');
}

}  // namespace

std::uint64_t SecondaryMatch::Spread1(std::uint64_t h) {
  return Fmix(h ^ 0x5851F42D4C957F2Dull);
}

std::uint64_t SecondaryMatch::Spread2(std::uint64_t h) {
  return Fmix(Rotl(h, 17) + 0x14057B7EF767814Full);
}

std::unique_ptr<SecondaryMatch> SecondaryMatch::Make(const std::filesystem::path& xFile,
                                                     const px::Header& db, std::string& why) {
  auto m = std::unique_ptr<SecondaryMatch>(new SecondaryMatch());
  m->xPath_ = xFile;
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
  for (int j = 0; j < k; ++j) {
    if (!SameDescriptor(x.fields[s + j], db.fields[j])) {
      why = "key field " + std::to_string(j + 1) + " does not match the table";
      return nullptr;
    }
    m->parts_.push_back(
        {db.fields[j].offset, x.fields[s + j].offset, db.fields[j].bytes, &db.fields[j]});
  }
  for (const Part& p : m->parts_) m->keyBytes_ += p.bytes;
  m->maintained_ = px::IsMaintained(x.fileType);
  if (IsNamedIndexFile(xFile)) {
    m->name_ = x.indexName;
  } else {
    m->name_ = m->parts_.front().field->name;
  }
  return m;
}

std::uint64_t SecondaryMatch::Hash(const std::uint8_t* bytes, bool entry) const {
  std::uint64_t h = 0x243F6A8885A308D3ull;
  for (const Part& p : parts_)
    h = Fold(h, bytes + (entry ? p.entryOffset : p.recordOffset), p.bytes);
  return Fmix(h);
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

void SecondaryMatch::Compare(const ReadOnlyFile& dataFile, const px::Header& table,
                             Problems& problems, std::uint64_t& entries) {
  std::unique_ptr<ReadOnlyFile> xFile;
  try {
    xFile = std::make_unique<ReadOnlyFile>(xPath_);
  } catch (const EngineError& e) {
    problems.Add(e.Code(), xPath_.string(), 0, 0, e.Message());
    return;
  }
  ChainScan scan(*xFile, x_);
  ChainBlock b;
  std::uint64_t sum = 0, sum2 = 0, count = 0;
  while (scan.Next(b)) {
    for (std::uint32_t i = 0; i < b.count; ++i) {
      const std::uint64_t h = EntryHash(b.records + std::size_t{i} * x_.recordSize);
      sum += Spread1(h);
      sum2 += Spread2(h);
    }
    count += b.count;
  }
  entries += count;
  if (scan.Stopped()) {
    // The open check names the break; without the whole chain the entries cannot be compared.
    if (!problems.AnyFor(xFile->Name())) {
      problems.Add(ErrorCode::CorruptIndex, xFile->Name(), scan.StopBlock(), 0,
                   With(kTextCorruptIndex, scan.StopReason()));
    }
    return;
  }
  if (count == recordCount_ && sum == recordSum_ && sum2 == recordSum2_) return;
  Locate(dataFile, table, *xFile, problems);
}

void SecondaryMatch::Locate(const ReadOnlyFile& dataFile, const px::Header& table,
                            const ReadOnlyFile& xFile, Problems& problems) {
  const int code = maintained_ ? ErrorCode::CorruptIndex : ErrorCode::IndexOutOfDate;
  const char* text = maintained_ ? kTextCorruptIndex : kTextIndexOutOfDate;
  const std::uint64_t batches = std::max<std::uint64_t>(1, (recordCount_ + kBatch - 1) / kBatch);
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
