#include "engine/TableWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <numeric>
#include <set>

#include "engine/EngineError.h"
#include "engine/ParadoxFormat.h"
#include "engine/PositionalFile.h"
#include "engine/RecordEncoding.h"
#include "engine/WriterBlobs.h"
#include "engine/WriterIO.h"
#include "engine/WriterLayout.h"
#include "platform/DriveMapping.h"

namespace zel::engine {
namespace {

namespace fs = std::filesystem;
using writer::TempFile;

// Stamps of a newly made table. The data change counter starts at 2: Paradox is reported to
// distrust a primary index whose table says 1.
constexpr std::uint8_t kNewChangeCount = 2;
constexpr std::uint8_t kNewDefinitionCount = 1;
constexpr std::uint8_t kNewIndexChangeCount = 2;
constexpr std::size_t kMaxKeyFields = 16;
constexpr std::size_t kMaxIndexFields = 16;
constexpr std::size_t kMaxNameLength = 25;
constexpr std::size_t kBlkNumBytes = 2;

struct Column {
  std::uint8_t code = 0;
  std::uint8_t sizeByte = 0;
  std::size_t bytes = 0;
  std::size_t offset = 0;
  std::string name;
  FieldType type = FieldType::Alpha;  // from a definition only
};

// The parts of a table the index builders need, whether it comes from a definition or from an
// existing .DB header.
struct Shape {
  std::vector<Column> cols;
  int keyFields = 0;
  std::size_t recordSize = 0;
  std::size_t keyBytes = 0;
  std::uint8_t version = px::Version::Level7;
  std::uint16_t codePage = 1252;
  std::uint8_t sortByte = px::kSortAscii;
  std::string sortId = "ascii";
  std::uint8_t change1 = kNewChangeCount;
  std::uint8_t change2 = kNewDefinitionCount;
  bool hasBlobs = false;
  bool keyOrderKnown = true;   // byte order is the key order
  std::uint8_t blockCode = 0;  // the data file's block size in KiB; 0: chosen by the records
};

struct IndexPlan {
  std::string name;
  std::vector<int> cols;  // table columns of the secondary fields
  bool caseInsensitive = false;
  bool named = false;
  fs::path xFile, yFile;
  std::size_t secBytes = 0;
  std::size_t keyBytes = 0;    // secondary + primary key bytes: the X sort key
  std::size_t recordSize = 0;  // keyBytes + Blk Num
  std::vector<std::uint8_t> records;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

[[noreturn]] void Invalid(const std::string& what, const fs::path& file) {
  throw EngineError(WriterErrorCode::InvalidDefinition, what, file.string());
}

// Index files take the case of the table's own extension, so "fk1.db" gets "fk1.px".
std::string Ext(const fs::path& db, const std::string& upper) {
  const std::string e = db.extension().string();
  const bool lower = !e.empty() && std::none_of(e.begin(), e.end(), [](char c) {
    return std::isupper(static_cast<unsigned char>(c));
  });
  return lower ? Lower(upper) : upper;
}

fs::path Sibling(const fs::path& db, const std::string& upperExt) {
  fs::path p = db;
  p.replace_extension("." + Ext(db, upperExt));
  return p;
}

std::string Hex2(int n) {
  static const char* digits = "0123456789ABCDEF";
  return {digits[(n >> 4) & 15], digits[n & 15]};
}

// ---- Definitions ------------------------------------------------------------------------------

Shape ShapeFromDefinition(const TableDef& def, const fs::path& db) {
  Shape s;
  if (def.level != 3 && def.level != 4 && def.level != 5 && def.level != 7)
    Invalid("Table level " + std::to_string(def.level) + " cannot be written (3, 4, 5 or 7)", db);
  s.version = px::VersionForLevel(def.level);
  if (def.level == 3) {
    if (def.level3Version != 0 && def.level3Version != px::Version::Level30 &&
        def.level3Version != px::Version::Level35)
      Invalid("Version byte " + std::to_string(def.level3Version) +
                  " is not a level 3 one (3 for 3.0, 4 for 3.5)",
              db);
    if (def.level3Version != 0) s.version = static_cast<std::uint8_t>(def.level3Version);
  }
  if (def.fields.empty()) Invalid("A table needs at least one field", db);
  if (def.fields.size() > static_cast<std::size_t>(px::kMaxFields))
    Invalid("A table has at most 255 fields", db);
  if (def.keyFieldCount < 0 || static_cast<std::size_t>(def.keyFieldCount) > def.fields.size())
    Invalid("The key has more fields than the table", db);
  if (static_cast<std::size_t>(def.keyFieldCount) > kMaxKeyFields)
    Invalid("A primary key has at most 16 fields", db);
  if (def.sortByte < -1 || def.sortByte > 255)
    Invalid("Sort byte " + std::to_string(def.sortByte) + " is not a byte", db);
  if (def.level == 3 && def.sortByte >= 0) {
    // Level 3 headers hold the sort order's byte only.
    s.sortByte = static_cast<std::uint8_t>(def.sortByte);
    s.sortId = "sort order " + std::to_string(def.sortByte);
  } else {
    const int knownByte =
        Lower(def.sortOrder) == "ascii" ? px::kSortAscii : px::SortByteForId(def.sortOrder);
    if (def.sortOrder.empty() || def.sortOrder.size() > kMaxNameLength ||
        def.sortOrder.find('\0') != std::string::npos)
      Invalid("Sort order name \"" + def.sortOrder + "\" is not valid", db);
    if (def.sortByte >= 0 && knownByte >= 0 && def.sortByte != knownByte)
      Invalid("Sort byte " + std::to_string(def.sortByte) + " does not go with sort order \"" +
                  def.sortOrder + "\"",
              db);
    if (def.sortByte < 0 && knownByte < 0)
      Invalid("Sort order \"" + def.sortOrder + "\" is not known; give its header byte", db);
    s.sortByte = static_cast<std::uint8_t>(def.sortByte >= 0 ? def.sortByte : knownByte);
    s.sortId = Lower(def.sortOrder) == "ascii" ? "ascii" : def.sortOrder;
  }
  if (def.codePage <= 0 || def.codePage > 65535)
    Invalid("Code page " + std::to_string(def.codePage) + " is not valid", db);
  s.codePage = static_cast<std::uint16_t>(def.codePage);
  s.keyFields = def.keyFieldCount;
  std::set<std::string> names;
  for (std::size_t i = 0; i < def.fields.size(); ++i) {
    const FieldDef& f = def.fields[i];
    if (f.name.empty() || f.name.size() > kMaxNameLength)
      Invalid("Field " + std::to_string(i + 1) + " needs a name of 1 to 25 characters", db);
    if (f.name.find('\0') != std::string::npos) Invalid("Field name contains a NUL byte", db);
    if (!names.insert(Lower(f.name)).second)
      Invalid("Field name \"" + f.name + "\" is used twice", db);
    if (record::MinimumLevel(f.type) > def.level)
      Invalid("Field \"" + f.name + "\" has a type that needs table level " +
                  std::to_string(record::MinimumLevel(f.type)) + " or higher",
              db);
    Column c;
    try {
      c.bytes = static_cast<std::size_t>(record::StorageSize(f));
      c.sizeByte = record::DescriptorSize(f);
    } catch (const record::ValueError& e) {
      Invalid(e.what(), db);
    }
    c.code = record::TypeCode(f.type);
    c.offset = s.recordSize;
    c.name = f.name;
    c.type = f.type;
    if (record::IsBlob(f.type)) s.hasBlobs = true;
    s.recordSize += c.bytes;
    if (static_cast<int>(i) < def.keyFieldCount) {
      s.keyBytes += c.bytes;
      if (c.code == px::FieldCode::Alpha && s.sortByte != px::kSortAscii) s.keyOrderKnown = false;
    }
    s.cols.push_back(std::move(c));
  }
  // The largest block is 32 KiB and must hold at least one record.
  if (px::BlockCapacity(32 * px::kBlockUnit, s.recordSize) < 1)
    Invalid("Records of " + std::to_string(s.recordSize) + " bytes are too large", db);
  if (def.blockSize != 0) {
    const int code = def.blockSize / static_cast<int>(px::kBlockUnit);
    if (def.blockSize < 0 || def.blockSize % static_cast<int>(px::kBlockUnit) != 0 || code > 255 ||
        !px::IsValidBlockSizeCode(static_cast<std::uint8_t>(code)))
      Invalid("Block size " + std::to_string(def.blockSize) + " is not one a table can have", db);
    if (px::BlockCapacity(static_cast<std::size_t>(def.blockSize), s.recordSize) < 1)
      Invalid("Records of " + std::to_string(s.recordSize) + " bytes do not fit blocks of " +
                  std::to_string(def.blockSize) + " bytes",
              db);
    s.blockCode = static_cast<std::uint8_t>(code);
  }
  if (def.definitionCount < 0 || def.definitionCount > 255)
    Invalid("Definition counter " + std::to_string(def.definitionCount) + " is not a byte", db);
  if (def.definitionCount > 0) s.change2 = static_cast<std::uint8_t>(def.definitionCount);
  return s;
}

std::vector<IndexPlan> PlanIndexes(const Shape& shape, const std::vector<SecondaryIndexDef>& defs,
                                   const fs::path& db) {
  std::vector<IndexPlan> plans;
  if (defs.empty()) return plans;
  if (shape.keyFields == 0)
    throw EngineError(WriterErrorCode::NotKeyed,
                      "Secondary indexes need a table with a primary key", db.string());
  std::set<std::string> names;
  int nextNamed = 0;
  for (const auto& d : defs) {
    IndexPlan p;
    p.name = d.name;
    p.caseInsensitive = d.caseInsensitive;
    // Borland's engine searches a case-insensitive index by folded keys; only the ascii sort
    // order's folding (letters a..z to A..Z) is known, so no other gets such an index.
    if (d.caseInsensitive && shape.sortByte != px::kSortAscii)
      Invalid("Index \"" + d.name + "\" is case-insensitive, and how sort order \"" + shape.sortId +
                  "\" folds and orders letters is not known",
              db);
    if (d.name.empty() || d.name.size() > kMaxNameLength || d.name.find('\0') != std::string::npos)
      Invalid("Index name \"" + d.name + "\" is not valid (1 to 25 characters)", db);
    if (!names.insert(Lower(d.name)).second)
      Invalid("Index name \"" + d.name + "\" is used twice", db);
    if (d.fields.empty() || d.fields.size() > kMaxIndexFields)
      Invalid("Index \"" + d.name + "\" needs 1 to 16 fields", db);
    for (const auto& fname : d.fields) {
      int found = -1;
      for (std::size_t i = 0; i < shape.cols.size(); ++i)
        if (platform::SameNameIgnoringCase(shape.cols[i].name, fname)) found = static_cast<int>(i);
      if (found < 0)
        Invalid("Index \"" + d.name + "\" names an unknown field \"" + fname + "\"", db);
      const auto code = shape.cols[static_cast<std::size_t>(found)].code;
      if (px::IsBlobField(code))
        Invalid("Index \"" + d.name + "\" cannot use the BLOB field \"" + fname + "\"", db);
      if (std::find(p.cols.begin(), p.cols.end(), found) != p.cols.end())
        Invalid("Index \"" + d.name + "\" names field \"" + fname + "\" twice", db);
      p.cols.push_back(found);
      p.secBytes += shape.cols[static_cast<std::size_t>(found)].bytes;
    }
    p.named = d.forceNamed || d.caseInsensitive || d.fields.size() > 1 ||
              !platform::SameNameIgnoringCase(d.name,
                                              shape.cols[static_cast<std::size_t>(p.cols[0])].name);
    if (p.named && shape.version <= px::Version::Level35)
      Invalid("Index \"" + d.name + "\" needs a named index, which level 3 tables do not have", db);
    if (p.named) {
      if (nextNamed > 9) Invalid("A table can have at most 10 named indexes", db);
      p.xFile = Sibling(db, "XG" + std::to_string(nextNamed));
      p.yFile = Sibling(db, "YG" + std::to_string(nextNamed));
      ++nextNamed;
    } else {
      p.xFile = Sibling(db, "X" + Hex2(p.cols[0] + 1));
      p.yFile = Sibling(db, "Y" + Hex2(p.cols[0] + 1));
    }
    p.keyBytes = p.secBytes + shape.keyBytes;
    p.recordSize = p.keyBytes + kBlkNumBytes;
    if (px::BlockCapacity(32 * px::kBlockUnit, p.keyBytes + px::kIndexEntryTrailer) < 3)
      Invalid("The key of index \"" + d.name + "\" is too long", db);
    plans.push_back(std::move(p));
  }
  if (px::BlockCapacity(32 * px::kBlockUnit, shape.keyBytes + px::kIndexEntryTrailer) < 3)
    Invalid("The primary key is too long", db);
  return plans;
}

// ---- Index building ---------------------------------------------------------------------------

// Case-insensitive indexes hold their text folded as the ascii sort order folds it.
inline std::uint8_t Fold(std::uint8_t c) {
  return c >= 'a' && c <= 'z' ? static_cast<std::uint8_t>(c - 32) : c;
}

void AppendIndexRecord(IndexPlan& p, const Shape& s, const std::uint8_t* rec, std::uint32_t block) {
  for (int c : p.cols) {
    const Column& col = s.cols[static_cast<std::size_t>(c)];
    const std::size_t at = p.records.size();
    p.records.insert(p.records.end(), rec + col.offset, rec + col.offset + col.bytes);
    if (p.caseInsensitive && col.code == px::FieldCode::Alpha)
      for (std::size_t i = at; i < p.records.size(); ++i) p.records[i] = Fold(p.records[i]);
  }
  p.records.insert(p.records.end(), rec, rec + s.keyBytes);
  std::uint8_t blk[2];
  px::PutSortableU16(blk, static_cast<std::uint16_t>(block));
  p.records.insert(p.records.end(), blk, blk + 2);
}

// Orders index records by their key: secondary fields (already folded when case-insensitive),
// then the primary key, which makes every key unique.
std::vector<std::uint32_t> SortedOrder(const IndexPlan& p) {
  const std::size_t n = p.records.size() / p.recordSize;
  std::vector<std::uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0u);
  const std::uint8_t* base = p.records.data();
  const std::size_t rs = p.recordSize, kb = p.keyBytes;
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return std::memcmp(base + a * rs, base + b * rs, kb) < 0;
  });
  return order;
}

std::uint32_t Now() {
  return static_cast<std::uint32_t>(std::time(nullptr));
}

writer::HeaderSpec TreeHeader(const Shape& s, px::FileType type,
                              const std::vector<writer::FieldSpec>& keyFields, std::size_t keyBytes,
                              const fs::path& file) {
  writer::HeaderSpec h;
  h.fileType = type;
  h.version = s.version;
  h.recordSize = static_cast<std::uint16_t>(keyBytes + px::kIndexEntryTrailer);
  h.fields = keyFields;
  h.sortOrder = s.sortByte;
  h.sortOrderId = s.sortId;
  h.codePage = s.codePage;
  h.autoInc = 1;
  h.tableName = file.filename().string();
  return h;
}

// Writes a .PX or .Y: header, then the tree over `leaves`.
std::unique_ptr<TempFile> WriteTree(writer::HeaderSpec h, const writer::IndexLeaves& leaves,
                                    const fs::path& file) {
  const std::uint8_t code = writer::ChooseBlockSizeCode(leaves.keyBytes + px::kIndexEntryTrailer,
                                                        leaves.blocks.size(), 3, true, h.version);
  h.blockSizeCode = code;
  auto out = std::make_unique<TempFile>(file);
  const auto placeholder = writer::BuildHeader(h, file.string());
  out->Append(placeholder.data(), placeholder.size());
  const auto tree = writer::WriteIndexTree(*out, std::size_t{code} * px::kBlockUnit, leaves);
  h.blocks = tree.blocks;
  h.numRecords = tree.entries;
  h.indexRoot = tree.root;
  h.indexLevels = tree.levels;
  const auto header = writer::BuildHeader(h, file.string());
  out->WriteAt(0, header.data(), header.size());
  return out;
}

std::vector<writer::FieldSpec> KeySpecs(const Shape& s) {
  std::vector<writer::FieldSpec> v;
  for (int i = 0; i < s.keyFields; ++i)
    v.push_back({s.cols[static_cast<std::size_t>(i)].code,
                 s.cols[static_cast<std::size_t>(i)].sizeByte,
                 s.cols[static_cast<std::size_t>(i)].name, static_cast<std::uint16_t>(i + 1)});
  return v;
}

writer::IndexLeaves LeavesFrom(std::size_t keyBytes, std::vector<std::uint8_t> keys,
                               std::vector<std::uint32_t> blocks,
                               std::vector<std::uint32_t> counts) {
  writer::IndexLeaves l;
  l.keyBytes = keyBytes;
  l.keys = std::move(keys);
  l.blocks = std::move(blocks);
  l.counts = std::move(counts);
  return l;
}

// Writes one secondary index (X then Y) from its collected records.
void WriteSecondary(IndexPlan& p, const Shape& s, std::uint8_t pxStamp,
                    std::vector<std::unique_ptr<TempFile>>& files) {
  const std::size_t n = p.records.size() / p.recordSize;
  const auto order = SortedOrder(p);

  writer::HeaderSpec h;
  h.fileType = p.named ? px::FileType::NamedDataMaint : px::FileType::SecondaryDataMaint;
  h.version = s.version;
  h.recordSize = static_cast<std::uint16_t>(p.recordSize);
  std::uint16_t position = 0;
  for (int c : p.cols) {
    const Column& col = s.cols[static_cast<std::size_t>(c)];
    h.fields.push_back({col.code, col.sizeByte, col.name, static_cast<std::uint16_t>(c + 1)});
    ++position;
  }
  for (int i = 0; i < s.keyFields; ++i) {
    const Column& col = s.cols[static_cast<std::size_t>(i)];
    h.fields.push_back({col.code, col.sizeByte, col.name, ++position});
  }
  h.fields.push_back({px::FieldCode::Short, 2, "Blk Num", ++position});
  h.keyFields = static_cast<int>(h.fields.size()) - 1;
  h.indexFieldNumber = static_cast<std::uint8_t>(p.cols[0] + 1);
  h.indexStamp = px::kXFileStamp;
  h.change1 = kNewIndexChangeCount;
  h.change2 = s.change2;
  h.primaryStamp = pxStamp;
  h.indexFlags = p.caseInsensitive ? px::kIndexFlagCaseInsensitive : 0;
  h.sortOrder = s.sortByte;
  h.sortOrderId = s.sortId;
  h.codePage = s.codePage;
  h.updateTime = Now();
  h.tableName = p.xFile.filename().string();
  if (p.named) h.indexName = p.name;
  h.blockSizeCode = writer::ChooseBlockSizeCode(p.recordSize, n, 1, false, s.version);
  // Its records repeat the key, so an index can need more blocks than its table.
  if (h.blockSizeCode == 0)
    throw EngineError(WriterErrorCode::InvalidValue,
                      "Too many records for index \"" + p.name + "\" (65535 blocks at most)",
                      p.xFile.string());

  auto x = std::make_unique<TempFile>(p.xFile);
  const auto placeholder = writer::BuildHeader(h, p.xFile.string());
  x->Append(placeholder.data(), placeholder.size());
  writer::BlockWriter blocks(*x, std::size_t{h.blockSizeCode} * px::kBlockUnit, p.recordSize,
                             p.keyBytes);
  for (std::uint32_t i : order) blocks.Add(p.records.data() + std::size_t{i} * p.recordSize);
  blocks.Finish();
  std::vector<std::uint8_t>().swap(p.records);
  h.numRecords = static_cast<std::uint32_t>(blocks.Records());
  h.blocks = static_cast<std::uint16_t>(blocks.Blocks());
  const auto header = writer::BuildHeader(h, p.xFile.string());
  x->WriteAt(0, header.data(), header.size());

  std::vector<writer::FieldSpec> keySpecs(h.fields.begin(), h.fields.end() - 1);
  std::vector<std::uint32_t> numbers(blocks.Blocks());
  std::iota(numbers.begin(), numbers.end(), 1u);
  auto yh = TreeHeader(s, p.named ? px::FileType::NamedTree : px::FileType::SecondaryTree, keySpecs,
                       p.keyBytes, p.yFile);
  yh.indexStamp = h.change1;
  auto y =
      WriteTree(yh, LeavesFrom(p.keyBytes, blocks.FirstKeys(), numbers, blocks.Counts()), p.yFile);
  files.push_back(std::move(x));
  files.push_back(std::move(y));
}

// .PX, .Xnn/.Ynn (nn hex: single-field secondaries) and .XGn/.YGn (named secondaries), in any case.
bool IsIndexExtension(const std::string& extension) {
  const std::string e = Lower(extension);
  if (e == ".px") return true;
  if (e.size() != 4 || e[0] != '.' || (e[1] != 'x' && e[1] != 'y')) return false;
  const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
  if (e[2] == 'g') return (e[3] >= '0' && e[3] <= '9') || (e[3] >= 'a' && e[3] <= 'z');
  return hex(e[2]) && hex(e[3]);
}

// Index files of the table in `db`'s folder that the new set does not have, matched without
// regard to case as the Windows side would.
std::vector<fs::path> StaleIndexFiles(const fs::path& db,
                                      const std::vector<std::unique_ptr<TempFile>>& keep) {
  std::set<std::string> kept;
  for (const auto& f : keep) kept.insert(f->Target().filename().string());
  const std::string stem = Lower(db.stem().string());
  std::vector<fs::path> stale;
  std::error_code ec;
  const fs::path folder = db.parent_path().empty() ? fs::path(".") : db.parent_path();
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    const fs::path name = entry.path().filename();
    if (Lower(name.stem().string()) != stem) continue;
    if (!IsIndexExtension(name.extension().string())) continue;
    if (kept.count(name.string())) continue;
    stale.push_back(entry.path());
  }
  if (ec) writer::ThrowIo("Cannot list the folder of", db, ec.value());
  return stale;
}

// ---- Creating ---------------------------------------------------------------------------------

constexpr std::size_t kDefaultSortWindowBytes = 8u << 20;
std::size_t g_sortWindowBytes = kDefaultSortWindowBytes;

// Second pass: records go to the blocks in key order. The scratch file is read sequentially in
// windows of output positions, so memory stays bounded and sorted or nearly sorted input is
// read once.
template <typename OnRecord>
void WriteInKeyOrder(writer::SpillFile& spill, const std::vector<std::uint32_t>& order,
                     std::size_t recordSize, writer::BlockWriter& blocks, OnRecord onRecord) {
  const std::size_t n = order.size();
  if (n == 0) return;
  const std::size_t window = std::max<std::size_t>(1, g_sortWindowBytes / recordSize);
  std::vector<std::uint32_t> rank(n);
  for (std::size_t r = 0; r < n; ++r) rank[order[r]] = static_cast<std::uint32_t>(r);
  const std::size_t windows = (n + window - 1) / window;
  std::vector<std::uint32_t> lo(windows, UINT32_MAX), hi(windows, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t w = rank[i] / window;
    lo[w] = std::min(lo[w], static_cast<std::uint32_t>(i));
    hi[w] = std::max(hi[w], static_cast<std::uint32_t>(i));
  }
  std::vector<std::uint8_t> buf(std::min(n, window) * recordSize);
  const std::size_t perBlock = blocks.Capacity();
  for (std::size_t w = 0; w < windows; ++w) {
    const std::size_t first = w * window, count = std::min(window, n - first);
    for (std::uint32_t i = lo[w]; i <= hi[w]; ++i) {
      if (rank[i] < first || rank[i] >= first + count) continue;
      std::uint8_t* slot = buf.data() + (rank[i] - first) * recordSize;
      spill.Read(std::uint64_t{i} * recordSize, slot, recordSize);
      // Blocks are filled to capacity, so a record's block follows from its position.
      onRecord(slot, static_cast<std::uint32_t>(rank[i] / perBlock + 1));
    }
    for (std::size_t k = 0; k < count; ++k) blocks.Add(buf.data() + k * recordSize);
  }
}

void CreateTableImpl(const fs::path& db, const TableDef& def, const RecordSource& source) {
  Shape s = ShapeFromDefinition(def, db);
  auto plans = PlanIndexes(s, def.indexes, db);
  const fs::path folder = db.parent_path().empty() ? fs::path(".") : db.parent_path();
  if (!fs::is_directory(folder))
    throw EngineError(ErrorCode::WriteFailed, "The folder of the table does not exist",
                      db.string());

  std::vector<std::unique_ptr<TempFile>> files;
  files.push_back(std::make_unique<TempFile>(db));
  // BLOB values longer than their leader go to the .MB as they come.
  std::unique_ptr<writer::BlobWriter> blobs;
  if (s.hasBlobs) {
    files.push_back(std::make_unique<TempFile>(Sibling(db, "MB")));
    blobs = std::make_unique<writer::BlobWriter>(*files.back());
  }

  // First pass: encode every record into scratch space, keeping only the keys in memory.
  writer::SpillFile spill(folder, db);
  std::vector<std::uint8_t> keys;
  std::vector<std::uint8_t> rec(s.recordSize);
  std::int64_t lastAutoInc = 0;
  std::uint64_t count = 0;
  while (auto r = source ? source() : std::nullopt) {
    ++count;
    if (r->size() != def.fields.size())
      throw EngineError(WriterErrorCode::InvalidValue,
                        "Record " + std::to_string(count) + " has " + std::to_string(r->size()) +
                            " values for " + std::to_string(def.fields.size()) + " fields",
                        db.string());
    for (std::size_t i = 0; i < def.fields.size(); ++i) {
      const FieldDef& f = def.fields[i];
      FieldValue v = (*r)[i];
      if (f.type == FieldType::AutoInc) {
        if (std::holds_alternative<std::monostate>(v))
          v = ++lastAutoInc;
        else if (const auto* given = std::get_if<std::int64_t>(&v))
          lastAutoInc = std::max(lastAutoInc, *given);
      }
      try {
        std::uint8_t* out = rec.data() + s.cols[i].offset;
        const auto* bytes = std::get_if<std::string>(&v);
        if (record::IsBlob(f.type) && bytes &&
            bytes->size() > s.cols[i].bytes - px::kBlobDescriptorBytes)
          record::EncodeBlob(f, *bytes, blobs->Put(f.type, *bytes), out);
        else
          record::Encode(f, v, out);
      } catch (const record::ValueError& e) {
        throw EngineError(WriterErrorCode::InvalidValue,
                          "Record " + std::to_string(count) + ", " + e.what(), db.string());
      }
    }
    spill.Append(rec.data(), rec.size());
    keys.insert(keys.end(), rec.data(), rec.data() + s.keyBytes);
  }
  if (count > 0xFFFFFFFFull)
    throw EngineError(WriterErrorCode::InvalidValue, "Too many records for one table", db.string());

  std::vector<std::uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  if (s.keyFields > 0) {
    const std::uint8_t* k = keys.data();
    const std::size_t kb = s.keyBytes;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return std::memcmp(k + a * kb, k + b * kb, kb) < 0;
    });
    for (std::size_t i = 1; i < order.size(); ++i)
      if (std::memcmp(k + order[i - 1] * kb, k + order[i] * kb, kb) == 0)
        throw EngineError(WriterErrorCode::KeyViolation, "Key violation", db.string());
    // Under a collation not known here, the records stay in the order given.
    if (!s.keyOrderKnown) std::iota(order.begin(), order.end(), 0u);
  }
  std::vector<std::uint8_t>().swap(keys);
  for (auto& p : plans) p.records.reserve(static_cast<std::size_t>(count * p.recordSize));

  writer::HeaderSpec h;
  h.fileType = s.keyFields > 0 ? px::FileType::KeyedData : px::FileType::UnkeyedData;
  h.version = s.version;
  h.recordSize = static_cast<std::uint16_t>(s.recordSize);
  for (std::size_t i = 0; i < s.cols.size(); ++i)
    h.fields.push_back(
        {s.cols[i].code, s.cols[i].sizeByte, s.cols[i].name, static_cast<std::uint16_t>(i + 1)});
  h.keyFields = s.keyFields;
  h.change1 = s.change1;
  h.change2 = s.change2;
  h.codePage = s.codePage;
  h.sortOrder = s.sortByte;
  h.sortOrderId = s.sortId;
  h.updateTime = Now();
  h.tableName = db.filename().string();
  h.blockSizeCode = writer::ChooseBlockSizeCode(s.recordSize, count, 1, false, s.version);
  if (s.blockCode != 0) {
    const std::size_t capacity =
        px::BlockCapacity(std::size_t{s.blockCode} * px::kBlockUnit, s.recordSize);
    h.blockSizeCode = (count + capacity - 1) / capacity <= 65535 ? s.blockCode : 0;
  }
  if (h.blockSizeCode == 0)
    throw EngineError(WriterErrorCode::InvalidValue,
                      "Too many records for one table (65535 blocks at most)", db.string());

  if (blobs) blobs->Finish();
  TempFile& out = *files.front();
  const auto placeholder = writer::BuildHeader(h, db.string());
  out.Append(placeholder.data(), placeholder.size());
  writer::BlockWriter blocks(out, std::size_t{h.blockSizeCode} * px::kBlockUnit, s.recordSize,
                             s.keyBytes);
  WriteInKeyOrder(spill, order, s.recordSize, blocks,
                  [&](const std::uint8_t* r, std::uint32_t block) {
                    for (auto& p : plans) AppendIndexRecord(p, s, r, block);
                  });
  blocks.Finish();
  h.numRecords = static_cast<std::uint32_t>(blocks.Records());
  h.blocks = static_cast<std::uint16_t>(blocks.Blocks());
  h.autoInc = static_cast<std::uint32_t>(lastAutoInc);
  const auto header = writer::BuildHeader(h, db.string());
  out.WriteAt(0, header.data(), header.size());

  if (s.keyFields > 0) {
    std::vector<std::uint32_t> numbers(blocks.Blocks());
    std::iota(numbers.begin(), numbers.end(), 1u);
    const fs::path pxFile = Sibling(db, "PX");
    auto ph = TreeHeader(s, px::FileType::PrimaryIndex, KeySpecs(s), s.keyBytes, pxFile);
    ph.indexStamp = s.change1;
    files.push_back(WriteTree(
        ph, LeavesFrom(s.keyBytes, blocks.FirstKeys(), numbers, blocks.Counts()), pxFile));
    for (auto& p : plans) WriteSecondary(p, s, ph.indexStamp, files);
  }
  writer::CommitFiles(files, StaleIndexFiles(db, files));
}

// ---- Rebuilding -------------------------------------------------------------------------------

// The table being rebuilt, read by position; a missing file is a missing table.
class FileReader {
 public:
  explicit FileReader(const fs::path& file) : file_(Open(file)) {}
  std::uint64_t Size() const { return file_.Size(); }
  // Reads exactly `size` bytes or raises: callers check ranges against Size() first.
  void Read(std::uint64_t offset, void* out, std::size_t size) {
    if (file_.ReadAt(offset, static_cast<std::uint8_t*>(out), size) != size)
      throw EngineError(ErrorCode::CorruptFile, "Corrupt file - other than header", file_.Name());
  }

 private:
  static PositionalFile Open(const fs::path& file) {
    try {
      return PositionalFile(file);
    } catch (const EngineError& e) {
      if (e.Code() == ErrorCode::FileDoesNotExist)
        throw EngineError(ErrorCode::TableDoesNotExist, "Table does not exist", file.string());
      throw;
    }
  }
  PositionalFile file_;
};

[[noreturn]] void Damaged(const fs::path& db, const std::string& why) {
  throw EngineError(ErrorCode::CorruptFile, "Corrupt file - other than header (" + why + ")",
                    db.string());
}

Shape ShapeFromHeader(const px::Header& hd) {
  Shape s;
  s.keyFields = hd.primaryKeyFields;
  s.recordSize = hd.recordSize;
  s.version = hd.version;
  s.codePage = hd.codePage;
  s.sortByte = hd.sortOrder;
  s.sortId = hd.sortOrderId;
  s.change1 = hd.changeCount1;
  s.change2 = hd.changeCount2;
  for (const auto& f : hd.fields) s.cols.push_back({f.code, f.sizeByte, f.bytes, f.offset, f.name});
  s.keyBytes = hd.PrefixBytes(hd.primaryKeyFields);
  return s;
}

void RebuildIndexesImpl(const fs::path& db, const std::vector<SecondaryIndexDef>& indexes) {
  FileReader in(db);
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(in.Size(), 0x10000)));
  if (head.size() < px::kMinHeaderBytes)
    throw EngineError(ErrorCode::CorruptHeader, "Corrupt table/index header", db.string());
  in.Read(0, head.data(), head.size());
  px::Header hd;
  std::string problem;
  if (!px::ParseHeader(head, hd, problem))
    throw EngineError(ErrorCode::CorruptHeader, "Corrupt table/index header (" + problem + ")",
                      db.string());
  if (hd.fileType != px::FileType::KeyedData && hd.fileType != px::FileType::UnkeyedData)
    throw EngineError(ErrorCode::UnknownTableType, "Unknown table type (not a table data file)",
                      db.string());
  if (hd.Encrypted()) Invalid("Indexes of encrypted tables cannot be rebuilt", db);
  if (hd.fileType == px::FileType::UnkeyedData)
    throw EngineError(WriterErrorCode::NotKeyed,
                      "The table has no primary key, so it has no indexes to rebuild", db.string());
  const Shape s = ShapeFromHeader(hd);
  auto plans = PlanIndexes(s, indexes, db);

  // Walk the block chain, checking it as we go; nothing is written before it proves sound.
  const std::size_t blockSize = hd.BlockSize();
  const std::size_t capacity = hd.Capacity();
  if (capacity == 0) Damaged(db, "records do not fit a block");
  const std::uint64_t blocksInFile =
      in.Size() > hd.headerSize ? (in.Size() - hd.headerSize + blockSize - 1) / blockSize : 0;
  std::vector<bool> seen(std::size_t{hd.fileBlocks} + 1);
  std::vector<std::uint8_t> keys, buf(blockSize), prevKey, window;
  std::uint64_t windowStart = 0;
  constexpr std::size_t kReadWindow = 1u << 20;
  // A damaged count cannot make this reserve more than the file could hold.
  const std::uint64_t mostRecords =
      std::min<std::uint64_t>(hd.numRecords, in.Size() / hd.recordSize);
  for (auto& p : plans) p.records.reserve(static_cast<std::size_t>(mostRecords * p.recordSize));
  std::vector<std::uint32_t> numbers, counts;
  std::uint64_t records = 0;
  std::uint16_t prev = 0;
  std::uint32_t chain = 0;
  for (std::uint16_t b = hd.numRecords || hd.firstBlock ? hd.firstBlock : 0; b != 0;) {
    if (b > hd.fileBlocks || b > blocksInFile)
      Damaged(db, "block " + std::to_string(b) + " is outside the file");
    if (seen[b]) Damaged(db, "the block chain loops at block " + std::to_string(b));
    seen[b] = true;
    const std::uint64_t at = hd.BlockOffset(b);
    const std::size_t avail =
        static_cast<std::size_t>(std::min<std::uint64_t>(blockSize, in.Size() - at));
    // Chains in block order are read a window at a time.
    if (at < windowStart || at + avail > windowStart + window.size()) {
      window.resize(static_cast<std::size_t>(
          std::min<std::uint64_t>(std::max<std::size_t>(kReadWindow, blockSize), in.Size() - at)));
      in.Read(at, window.data(), window.size());
      windowStart = at;
    }
    std::fill(buf.begin(), buf.end(), 0);
    std::memcpy(buf.data(), window.data() + (at - windowStart), avail);
    const std::uint16_t next = px::Le16(buf.data() + px::blk::Next);
    if (px::Le16(buf.data() + px::blk::Prev) != prev)
      Damaged(db, "block " + std::to_string(b) + " has a wrong back link");
    const int add = px::LeS16(buf.data() + px::blk::AddDataSize);
    if ((add + static_cast<int>(hd.recordSize)) % static_cast<int>(hd.recordSize) != 0 ||
        add < -static_cast<int>(hd.recordSize))
      Damaged(db, "block " + std::to_string(b) + " has a record count that is not whole");
    const std::size_t n = static_cast<std::size_t>(add / static_cast<int>(hd.recordSize) + 1);
    if (n > capacity || px::blk::HeaderSize + n * hd.recordSize > avail)
      Damaged(db, "block " + std::to_string(b) + " holds more records than fit");
    for (std::size_t r = 0; r < n; ++r) {
      const std::uint8_t* rec = buf.data() + px::blk::HeaderSize + r * hd.recordSize;
      // Key order is byte order for every type under the ascii sort order; other sort orders
      // collate text in ways only their drivers know, so only duplicates of the bytes count.
      if (!prevKey.empty()) {
        const int cmp = std::memcmp(prevKey.data(), rec, s.keyBytes);
        if (cmp == 0 || (cmp > 0 && s.sortByte == px::kSortAscii))
          Damaged(db, "records out of key order in block " + std::to_string(b));
      }
      prevKey.assign(rec, rec + s.keyBytes);
      if (r == 0) keys.insert(keys.end(), rec, rec + s.keyBytes);
      for (auto& p : plans) AppendIndexRecord(p, s, rec, b);
    }
    if (n > 0) {
      numbers.push_back(b);
      counts.push_back(static_cast<std::uint32_t>(n));
    }
    records += n;
    ++chain;
    prev = b;
    b = next;
  }
  if (records != hd.numRecords)
    Damaged(db, "the blocks hold " + std::to_string(records) + " records, the header says " +
                    std::to_string(hd.numRecords));
  if (chain != hd.usedBlocks || prev != hd.lastBlock)
    Damaged(db, "the block chain does not match the header");

  std::vector<std::unique_ptr<TempFile>> files;
  const fs::path pxFile = Sibling(db, "PX");
  auto ph = TreeHeader(s, px::FileType::PrimaryIndex, KeySpecs(s), s.keyBytes, pxFile);
  ph.indexStamp = s.change1;
  files.push_back(WriteTree(
      ph, LeavesFrom(s.keyBytes, std::move(keys), std::move(numbers), std::move(counts)), pxFile));
  for (auto& p : plans) WriteSecondary(p, s, ph.indexStamp, files);
  writer::CommitFiles(files, StaleIndexFiles(db, files));
}

}  // namespace

void writer::SetSortWindowBytes(std::size_t bytes) {
  g_sortWindowBytes = bytes ? bytes : kDefaultSortWindowBytes;
}

void CreateTable(const fs::path& dbFile, const TableDef& def, const RecordSource& records) {
  CreateTableImpl(dbFile, def, records);
}

void CreateTable(const fs::path& dbFile, const TableDef& def, const std::vector<Record>& records) {
  std::size_t next = 0;
  CreateTableImpl(dbFile, def, [&]() -> std::optional<Record> {
    if (next == records.size()) return std::nullopt;
    return records[next++];
  });
}

void RebuildIndexes(const fs::path& dbFile, const std::vector<SecondaryIndexDef>& indexes) {
  RebuildIndexesImpl(dbFile, indexes);
}

}  // namespace zel::engine
