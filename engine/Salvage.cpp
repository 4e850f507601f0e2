#include "engine/Salvage.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "engine/CompareBytes.h"
#include "engine/CsvExport.h"
#include "engine/EngineError.h"
#include "engine/FieldValues.h"
#include "engine/ParadoxFormat.h"
#include "engine/PositionalFile.h"
#include "engine/RecordEncoding.h"
#include "engine/SalvageBlobs.h"
#include "engine/SalvageFields.h"
#include "engine/TableWriter.h"

namespace zel::engine {
namespace fs = std::filesystem;
using px::Header;

namespace {

constexpr std::uint32_t kMaxBlocks = 65535;      // block numbers are 16-bit
constexpr std::size_t kWindowBytes = 256 << 10;  // few page faults, stays in the L2 cache
constexpr std::uint32_t kSlotBits = 16;          // a rank is (place in block order << 16) | slot
constexpr std::uint32_t kProbeBlocks = 512;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The damaged file, only read.
using SourceFile = PositionalFile;

bool ParseFile(const SourceFile& file, Header& h, std::string& problem) {
  std::vector<std::uint8_t> buf(
      static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), 0x10000)));
  buf.resize(file.ReadAt(0, buf.data(), buf.size()));
  if (!px::ParseHeader(buf, h, problem)) return false;
  if (h.fileType != px::FileType::KeyedData && h.fileType != px::FileType::UnkeyedData) {
    problem = "file type " + std::to_string(static_cast<int>(h.fileType)) + " is not a table";
    return false;
  }
  return true;
}

// Where the blocks are: the header's figures, or, under a template, the arrangement that makes
// the most blocks look like blocks.
struct Layout {
  std::uint64_t headerSize = 0;
  std::size_t blockSize = 0;
  std::size_t recordSize = 0;
  std::size_t capacity = 0;
  std::uint32_t blocks = 0;  // blocks present in the file, the last perhaps cut short
  // Highest block a link may name: a file cut short still links to the blocks it lost.
  std::uint32_t linkLimit = 0;

  std::uint64_t Offset(std::uint32_t b) const {
    return headerSize + std::uint64_t{b - 1} * blockSize;
  }
};

Layout MakeLayout(std::uint64_t headerSize, std::size_t blockSize, std::size_t recordSize,
                  std::uint64_t fileSize) {
  Layout l;
  l.headerSize = headerSize;
  l.blockSize = blockSize;
  l.recordSize = recordSize;
  l.capacity = px::BlockCapacity(blockSize, recordSize);
  const std::uint64_t body = fileSize > headerSize ? fileSize - headerSize : 0;
  l.blocks = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(kMaxBlocks, (body + blockSize - 1) / blockSize));
  l.linkLimit = l.blocks;
  return l;
}

// A block header that could be one: links within the file and a whole record count.
bool PlausibleHeader(const std::uint8_t* p, std::uint32_t b, const Layout& l) {
  const std::uint16_t next = px::Le16(p + px::blk::Next);
  const std::uint16_t prev = px::Le16(p + px::blk::Prev);
  const std::int32_t add = px::LeS16(p + px::blk::AddDataSize);
  const auto rs = static_cast<std::int32_t>(l.recordSize);
  if (next > l.linkLimit || prev > l.linkLimit || next == b || prev == b) return false;
  if (add == -rs) return true;
  return add >= 0 && add % rs == 0 && static_cast<std::size_t>(add / rs) + 1 <= l.capacity;
}

int ProbeScore(const SourceFile& file, const Layout& l) {
  if (l.capacity == 0 || l.blocks == 0) return -1;
  int score = 0;
  const std::uint32_t n = std::min(l.blocks, kProbeBlocks);
  for (std::uint32_t b = 1; b <= n; ++b) {
    std::uint8_t head[px::blk::HeaderSize];
    if (file.ReadAt(l.Offset(b), head, sizeof head) < sizeof head) break;
    if (record::IsBlank(head, sizeof head)) continue;
    if (PlausibleHeader(head, b, l)) ++score;
  }
  return score;
}

Layout ProbeLayout(const SourceFile& file, const Header& tmpl) {
  std::vector<std::uint64_t> sizes{tmpl.headerSize};
  std::uint8_t own[px::kMinHeaderBytes] = {};
  if (file.ReadAt(0, own, sizeof own) == sizeof own) {
    const std::uint16_t hs = px::Le16(own + px::off::HeaderSize);
    if (hs >= px::off::CommonHeaderEnd && hs < file.Size() && hs != tmpl.headerSize)
      sizes.push_back(hs);
  }
  std::vector<std::size_t> blockSizes{tmpl.BlockSize()};
  for (std::size_t code : {1, 2, 3, 4, 8, 16, 32})
    if (code * px::kBlockUnit != tmpl.BlockSize()) blockSizes.push_back(code * px::kBlockUnit);
  Layout best = MakeLayout(tmpl.headerSize, tmpl.BlockSize(), tmpl.recordSize, file.Size());
  int bestScore = ProbeScore(file, best);
  for (std::uint64_t hs : sizes) {
    for (std::size_t bs : blockSizes) {
      const Layout l = MakeLayout(hs, bs, tmpl.recordSize, file.Size());
      const int s = ProbeScore(file, l);
      if (s > bestScore) {
        best = l;
        bestScore = s;
      }
    }
  }
  return best;
}

// Blocks read through a window, so runs of neighbouring blocks cost one read per quarter MiB.
class BlockReader {
 public:
  BlockReader(const SourceFile& file, const Layout& l)
      : file_(file), l_(l), perWindow_(std::max<std::size_t>(1, kWindowBytes / l.blockSize)) {}

  // Block `b` (1..blocks): its bytes present in the file, up to a block.
  const std::uint8_t* Get(std::uint32_t b, std::size_t& avail) {
    if (b < first_ || b >= first_ + count_) Load(b);
    const std::size_t at = std::size_t{b - first_} * l_.blockSize;
    avail = at >= bytes_ ? 0 : std::min(l_.blockSize, bytes_ - at);
    return buf_.data() + at;
  }

 private:
  void Load(std::uint32_t b) {
    const std::size_t n = std::min<std::size_t>(perWindow_, std::size_t{l_.blocks} + 1 - b);
    if (buf_.size() < n * l_.blockSize) buf_.resize(n * l_.blockSize);
    first_ = b;
    count_ = static_cast<std::uint32_t>(n);
    const std::uint64_t at = l_.Offset(b);
    bytes_ = at >= file_.Size() ? 0 : file_.ReadAt(at, buf_.data(), n * l_.blockSize);
  }

  const SourceFile& file_;
  const Layout& l_;
  std::size_t perWindow_;
  std::vector<std::uint8_t> buf_;
  std::uint32_t first_ = 0;
  std::uint32_t count_ = 0;
  std::size_t bytes_ = 0;
};

enum class Kind : std::uint8_t { Garbage, Zero, Free, Data };
enum class Role : std::uint8_t { None, Chain, Candidate, Joined, Outside, Unreadable };

struct BlockMeta {
  std::uint16_t next = 0;
  std::uint16_t prev = 0;
  std::uint16_t count = 0;  // records present (Data blocks)
  Kind kind = Kind::Garbage;
  Role role = Role::None;
  bool unordered = false;
  std::uint32_t valid = 0;  // records whose fields decode
  std::uint32_t order = 0;  // place in the block order (chain, then candidates)
  std::int64_t firstEntry = -1, lastEntry = -1;  // keyed: first and last valid key
};

std::optional<TableDef> WritableDefinition(const Header& h, std::string& why) {
  TableDef def;
  if (h.version == px::Version::Level30 || h.version == px::Version::Level35) {
    def.level = 3;
    def.level3Version = h.version;
  } else if (h.version >= 0x05 && h.version <= 0x09) {
    def.level = 4;
  } else if (h.version == 0x0A || h.version == 0x0B) {
    def.level = 5;
  } else if (h.version == px::Version::Level7) {
    def.level = 7;
  } else {
    why = "the writer does not make level " + px::LevelName(h.version) + " tables";
    return std::nullopt;
  }
  // The sort order as the table names it; the records come in its key order (the chain's),
  // which the writer keeps where it does not know the collation. Level 3 tables have only the
  // byte.
  if (h.hasDataHeader) def.sortOrder = h.sortOrderId;
  def.sortByte = h.sortOrder;
  for (const px::Field& f : h.fields) {
    FieldDef fd;
    fd.name = f.name;
    if (!record::TypeFromCode(f.code, fd.type)) {
      why = std::string("field \"") + f.name + "\" is of type " + px::FieldLetter(f.code) +
            ", which the writer does not make";
      return std::nullopt;
    }
    // Alpha, Bytes and BLOB fields by their bytes, BCD by its decimals.
    if (fd.type == FieldType::Bcd)
      fd.size = f.sizeByte;
    else if (fd.type == FieldType::Alpha || fd.type == FieldType::Bytes || record::IsBlob(fd.type))
      fd.size = static_cast<int>(f.bytes);
    def.fields.push_back(std::move(fd));
  }
  def.keyFieldCount = h.fileType == px::FileType::KeyedData ? h.primaryKeyFields : 0;
  def.codePage = h.codePage ? h.codePage : 1252;
  return def;
}

bool OrderKnown(const Header& h) {
  if (h.sortOrder == px::kSortAscii) return true;
  for (int i = 0; i < h.primaryKeyFields; ++i)
    if (h.fields[static_cast<std::size_t>(i)].code == px::FieldCode::Alpha) return false;
  return true;
}

bool ExistsIgnoringCase(const fs::path& folder, const std::string& lowerName) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (Lower(it->path().filename().string()) == lowerName) return true;
  }
  return false;
}

class Salvager {
 public:
  Salvager(const fs::path& damaged, const fs::path& newDb, const SalvageOptions& options)
      : file_(damaged), newDb_(newDb), options_(options) {}

  SalvageReport Run() {
    CheckOutputs();
    ReadStructure();
    const bool once = WriteInFileOrder();
    if (!once) {
      ResetBlocks();
      ScanBlocks();
    }
    WalkChain();
    OrderBlocks();
    CheckRecords();
    ChooseCandidates();
    FindDuplicates();
    WriteOutside();
    if (once) {
      CountUnreadableChainBlocks();
    } else {
      WriteTable();
    }
    return report_;
  }

 private:
  // ---- Set-up --------------------------------------------------------------------------------

  void CheckOutputs() {
    const fs::path folder = newDb_.parent_path().empty() ? fs::path(".") : newDb_.parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
      throw EngineError(ErrorCode::WriteFailed, "The folder of the new table does not exist",
                        newDb_.string());
    const std::string stem = Lower(newDb_.stem().string());
    for (const char* ext : {".db", ".px", ".mb", ".csv", ".outside.csv"}) {
      if (ExistsIgnoringCase(folder, stem + ext))
        throw EngineError(SalvageErrorCode::OutputExists,
                          "Will not overwrite an existing file: " + newDb_.stem().string() + ext,
                          (folder / (newDb_.stem().string() + ext)).string());
    }
    if (!options_.duplicatesCsv.empty() && fs::exists(fs::symlink_status(options_.duplicatesCsv)))
      throw EngineError(
          SalvageErrorCode::OutputExists,
          "Will not overwrite an existing file: " + options_.duplicatesCsv.filename().string(),
          options_.duplicatesCsv.string());
  }

  void ReadStructure() {
    std::string problem;
    if (ParseFile(file_, h_, problem)) {
      if (h_.Encrypted())
        throw EngineError(ErrorCode::TableEncrypted, "Table is encrypted", file_.Path().string());
      report_.headerReadable = true;
      report_.headerRecords = h_.numRecords;
      report_.headerBlocks = h_.fileBlocks;
      layout_ = MakeLayout(h_.headerSize, h_.BlockSize(), h_.recordSize, file_.Size());
      layout_.linkLimit = std::max<std::uint32_t>(layout_.blocks, h_.fileBlocks);
    } else {
      report_.headerProblem = problem;
      if (options_.like.empty())
        throw EngineError(SalvageErrorCode::NoStructure,
                          "Corrupt table/index header (" + problem +
                              "); give a healthy table of the same kind with --like",
                          file_.Path().string());
      SourceFile tmpl(options_.like);
      std::string tmplProblem;
      if (!ParseFile(tmpl, h_, tmplProblem))
        throw EngineError(ErrorCode::CorruptHeader,
                          "The template's header cannot be read (" + tmplProblem + ")",
                          options_.like.string());
      if (h_.Encrypted())
        throw EngineError(ErrorCode::TableEncrypted, "Table is encrypted", options_.like.string());
      layout_ = ProbeLayout(file_, h_);
    }
    keyed_ = h_.fileType == px::FileType::KeyedData;
    keyBytes_ = keyed_ ? h_.PrefixBytes(h_.primaryKeyFields) : 0;
    orderKnown_ = keyed_ && OrderKnown(h_);
    for (int i = 0; keyed_ && i < h_.primaryKeyFields; ++i)
      if (h_.fields[i].code == px::FieldCode::Alpha) alphaKeys_.push_back(&h_.fields[i]);
    for (const px::Field& f : h_.fields) {
      if (f.code == px::FieldCode::AutoInc) autoIncs_.push_back(&f);
      // The fields whose stored bytes can fail to be a value (salvage::RecordProblem's rule).
      if (values::CanBeInvalid(f.code) || px::IsBlobField(f.code)) checked_.push_back(&f);
    }
    report_.blocksInFile = layout_.blocks;
    report_.lastBlockShort = file_.Size() > layout_.headerSize &&
                             (file_.Size() - layout_.headerSize) % layout_.blockSize;
    meta_.assign(std::size_t{layout_.blocks} + 1, BlockMeta{});
    summaries_.assign(std::size_t{layout_.blocks} + 1, Summary{});
    if (keyed_) blockKeys_.assign((std::size_t{layout_.blocks} + 1) * 2 * keyBytes_, 0);
    // The .MB beside the table bounds its BLOB pointers.
    for (const px::Field& f : h_.fields) {
      if (!px::IsBlobField(f.code)) continue;
      const fs::path dir =
          file_.Path().parent_path().empty() ? fs::path(".") : file_.Path().parent_path();
      const std::string want = Lower(file_.Path().stem().string()) + ".mb";
      std::error_code ec;
      for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (Lower(it->path().filename().string()) == want) {
          blobs_.size = fs::file_size(it->path(), ec);
          if (ec) blobs_.size = 0;
        }
      }
      break;
    }
  }

  // ---- Blocks by position --------------------------------------------------------------------

  void ScanBlocks() {
    BlockReader reader(file_, layout_);
    for (std::uint32_t b = 1; b <= layout_.blocks; ++b) ScanBlock(b, reader);
  }

  void ResetBlocks() {
    meta_.assign(std::size_t{layout_.blocks} + 1, BlockMeta{});
    summaries_.assign(std::size_t{layout_.blocks} + 1, Summary{});
    highestAutoInc_ = 0;
  }

  // Reads block `b` by position into its meta data and summary; its records, when it holds
  // any.
  const std::uint8_t* ScanBlock(std::uint32_t b, BlockReader& reader) {
    const auto rs = static_cast<std::int32_t>(layout_.recordSize);
    std::size_t avail = 0;
    const std::uint8_t* p = reader.Get(b, avail);
    BlockMeta& m = meta_[b];
    if (avail < px::blk::HeaderSize) return nullptr;  // Garbage
    m.next = px::Le16(p + px::blk::Next);
    m.prev = px::Le16(p + px::blk::Prev);
    const std::int32_t add = px::LeS16(p + px::blk::AddDataSize);
    if (record::IsBlank(p, avail)) {
      m.kind = Kind::Zero;
    } else if (!PlausibleHeader(p, b, layout_)) {
      m.kind = Kind::Garbage;
    } else if (add == -rs) {
      m.kind = Kind::Free;
    } else {
      // A block cut short by the end of the file keeps the records that are whole.
      const std::size_t present = (avail - px::blk::HeaderSize) / layout_.recordSize;
      const std::size_t claimed = static_cast<std::size_t>(add / rs) + 1;
      m.count = static_cast<std::uint16_t>(std::min(present, claimed));
      m.kind = m.count > 0 ? Kind::Data : Kind::Garbage;
      if (m.kind == Kind::Data) {
        Summarize(b, p + px::blk::HeaderSize);
        return p + px::blk::HeaderSize;
      }
    }
    return nullptr;
  }

  // ---- One read, when the chain runs in file order -------------------------------------------

  // A table's chain usually runs in file order (the writer and a rebuild make it so). Then the
  // blocks are read by position once: each chain block's records go to the new table and the
  // CSV as the read passes them. Anything else (a link backwards or beyond the file, a chain
  // that does not reach its end or the header's count, keys that do not ascend, a blank
  // autoincrement value, nothing readable) gives up: what was written is dropped unfinished,
  // and the blocks are read again the general way.
  struct NotInFileOrder {};

  class FileOrderStream {
   public:
    FileOrderStream(Salvager& s, csv::RecordCsv* out)
        : s_(s), out_(out), reader_(s.file_, s.layout_), lastKey_(s.keyBytes_) {
      expect_ = s_.report_.headerReadable ? s_.h_.firstBlock : 1;
    }

    // The next record for the new table; null after the last; NotInFileOrder when the chain
    // turns out not to run in file order.
    const std::uint8_t* Next() {
      for (;;) {
        if (recs_ && slot_ < count_) {
          const std::uint8_t* rec = recs_ + std::size_t{slot_++} * s_.layout_.recordSize;
          // The block's summary tells whether each record needs a look of its own.
          if (!allValid_ && !s_.Valid(rec, true)) {
            ++dropped_;
            continue;
          }
          for (const px::Field* f : s_.autoIncs_)
            if (record::IsBlank(rec + f->offset, 4)) throw NotInFileOrder{};
          if (out_) out_->Add(rec);
          ++taken_;
          return rec;
        }
        recs_ = nullptr;
        if (b_ == s_.layout_.blocks) {
          End();
          return nullptr;
        }
        const std::uint32_t b = ++b_;
        const std::uint8_t* recs = s_.ScanBlock(b, reader_);
        if (b != expect_) continue;
        const BlockMeta& m = s_.meta_[b];
        if (m.kind != Kind::Data || m.prev != prev_) throw NotInFileOrder{};
        prev_ = b;
        expect_ = m.next;
        if (expect_ != 0 && expect_ <= b) throw NotInFileOrder{};
        chainRecords_ += m.count;
        // Keys ascend within the block (its summary) and from the chain's last block to this.
        const Summary& sum = s_.summaries_[b];
        if (s_.keyed_ && sum.validInChain > 0) {
          const std::uint8_t* first = s_.blockKeys_.data() + std::size_t{b} * 2 * s_.keyBytes_;
          if (sum.unordered ||
              (haveKey_ && CompareBytes(lastKey_.data(), first, s_.keyBytes_) >= 0))
            throw NotInFileOrder{};
          std::memcpy(lastKey_.data(), first + s_.keyBytes_, s_.keyBytes_);
          haveKey_ = true;
        }
        allValid_ = sum.validInChain == m.count;
        recs_ = recs;
        count_ = m.count;
        slot_ = 0;
      }
    }
    std::uint64_t Taken() const { return taken_; }
    std::uint64_t Dropped() const { return dropped_; }

   private:
    // The read is over: the chain must have ended, intact, with something to write.
    void End() {
      const bool intact =
          s_.report_.headerReadable && expect_ == 0 && chainRecords_ >= s_.h_.numRecords;
      if (!intact || taken_ == 0) throw NotInFileOrder{};
    }

    Salvager& s_;
    csv::RecordCsv* out_;
    BlockReader reader_;
    std::vector<std::uint8_t> lastKey_;
    bool haveKey_ = false;
    std::uint32_t b_ = 0, expect_ = 0, prev_ = 0;
    const std::uint8_t* recs_ = nullptr;
    std::uint32_t count_ = 0, slot_ = 0;
    bool allValid_ = false;
    std::uint64_t chainRecords_ = 0, taken_ = 0, dropped_ = 0;
  };

  // Writes the new table (or, dry, only reads) in one read when the chain runs in file order;
  // false, with nothing written, when it does not.
  bool WriteInFileOrder() {
    if (!report_.headerReadable) return false;
    std::string why;
    const std::optional<TableDef> def = Definition(why);
    try {
      if (options_.dryRun) {
        FileOrderStream stream(*this, nullptr);
        while (stream.Next()) {
        }
        if (!def) report_.csvOnlyReason = why;
        Took(stream);
        return true;
      }
      const fs::path csvPath = SalvageCsvPath(newDb_);
      csv::RecordCsv out(csvPath, h_, CodePage());
      FileOrderStream stream(*this, &out);
      if (def) {
        const std::vector<FieldDef>& fields = def->fields;
        const salvage::BlobSource mb(file_.Path());
        bool started = false;
        try {
          CreateTable(newDb_, *def, [&]() -> std::optional<Record> {
            started = true;
            const std::uint8_t* rec = stream.Next();
            if (!rec) return std::nullopt;
            return ValuesOf(fields, rec, mb);
          });
        } catch (const EngineError& e) {
          // A definition the writer refuses: the general way writes the CSV alone.
          if (started || e.Code() != WriterErrorCode::InvalidDefinition) throw;
          throw NotInFileOrder{};
        }
        report_.tableWritten = true;
        report_.table = newDb_;
      } else {
        report_.csvOnlyReason = why;
        while (stream.Next()) {
        }
      }
      out.Commit();
      report_.csv = csvPath;
      Took(stream);
      return true;
    } catch (const NotInFileOrder&) {
      report_.tableWritten = false;
      report_.table.clear();
      report_.csvOnlyReason.clear();
      return false;
    }
  }

  // The new table's definition: the header's, with what the caller adds.
  std::optional<TableDef> Definition(std::string& why) const {
    std::optional<TableDef> def = WritableDefinition(h_, why);
    if (def) {
      def->indexes = options_.indexes;
      def->blockSize = options_.blockSize;
      def->definitionCount = options_.definitionCount;
    }
    return def;
  }

  // A record left out for its repeated key goes to the duplicates' CSV, when one is asked for.
  void KeepDuplicate(const std::uint8_t* rec) {
    if (options_.duplicatesCsv.empty() || options_.dryRun) return;
    if (!duplicatesOut_) duplicatesOut_.emplace(options_.duplicatesCsv, h_, CodePage());
    duplicatesOut_->Add(rec);
  }
  void CommitDuplicates() {
    if (!duplicatesOut_) return;
    duplicatesOut_->Commit();
    duplicatesOut_.reset();
    report_.duplicatesCsv = options_.duplicatesCsv;
  }

  // A record's values for the new table: BLOB values read from the damaged table's .MB, and a
  // blank autoincrement value handed out above every value the table holds, so that none repeats
  // (the CSV keeps it blank).
  Record ValuesOf(const std::vector<FieldDef>& fields, const std::uint8_t* rec,
                  const salvage::BlobSource& mb) {
    Record r(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      r[i] =
          salvage::SalvagedValue(fields[i], rec + h_.fields[i].offset, mb, report_.blobsUnreadable);
      if (fields[i].type == FieldType::AutoInc && std::holds_alternative<std::monostate>(r[i]))
        r[i] = ++highestAutoInc_;
    }
    return r;
  }

  void Took(const FileOrderStream& stream) {
    report_.recovered = stream.Taken();
    report_.dropped = stream.Dropped();
  }

  // Chain blocks with nothing readable count as unreadable.
  void CountUnreadableChainBlocks() {
    for (std::uint32_t b : chain_)
      if (meta_[b].valid == 0) Unreadable(b);
  }

  void Unreadable(std::uint32_t b) {
    ++report_.unreadableBlocks;
    report_.unreadableBlockNumbers.push_back(b);
  }

  // What the record checks need of a data block, taken while it is read by position, so that a
  // table whose chain is intact is not read again for them: its records whose fields decode (in
  // the chain, and outside it, where a blank record is no record), and for a keyed table the
  // first and last of those keys and whether they ascend within the block.
  struct Summary {
    std::uint16_t validInChain = 0, validOutside = 0;
    bool unordered = false;
    std::int64_t highestAutoInc = 0;
  };

  void Summarize(std::uint32_t b, const std::uint8_t* recs) {
    Summary& sum = summaries_[b];
    std::uint8_t* first = keyed_ ? blockKeys_.data() + std::size_t{b} * 2 * keyBytes_ : nullptr;
    std::uint8_t* last = keyed_ ? first + keyBytes_ : nullptr;
    for (std::uint32_t i = 0; i < meta_[b].count; ++i) {
      const std::uint8_t* rec = recs + std::size_t{i} * layout_.recordSize;
      if (!Valid(rec, true)) continue;
      if (!record::IsBlank(rec, layout_.recordSize)) ++sum.validOutside;
      for (const px::Field* f : autoIncs_) {
        if (!record::IsBlank(rec + f->offset, 4))
          sum.highestAutoInc =
              std::max(sum.highestAutoInc, record::GetSortableLong(rec + f->offset));
      }
      if (keyed_) {
        const std::uint8_t* key = KeyOf(rec);
        if (sum.validInChain == 0) {
          std::memcpy(first, key, keyBytes_);
        } else if (CompareBytes(last, key, keyBytes_) >= 0) {
          sum.unordered = true;
        }
        std::memcpy(last, key, keyBytes_);
      }
      ++sum.validInChain;
    }
  }

  // The record checks of an intact chain from the blocks' summaries: true when they settle them
  // (a keyed chain's keys ascend), else the blocks are read again.
  bool CheckIntactChain() {
    const std::uint8_t* lastKey = nullptr;
    for (std::uint32_t b : chain_) {
      const Summary& sum = summaries_[b];
      if (sum.validInChain == 0) continue;
      if (keyed_) {
        const std::uint8_t* first = blockKeys_.data() + std::size_t{b} * 2 * keyBytes_;
        if (sum.unordered || (lastKey && std::memcmp(lastKey, first, keyBytes_) >= 0)) return false;
        lastKey = first + keyBytes_;
      }
    }
    for (std::uint32_t b : chain_) {
      meta_[b].valid = summaries_[b].validInChain;
      highestAutoInc_ = std::max(highestAutoInc_, summaries_[b].highestAutoInc);
    }
    return true;
  }

  // ---- The chain -----------------------------------------------------------------------------

  void WalkChain() {
    std::uint32_t first = report_.headerReadable ? h_.firstBlock : 1;
    std::uint32_t expectPrev = 0;
    bool reachedEnd = false;
    for (std::uint32_t b = first;;) {
      if (b == 0) {
        reachedEnd = true;
        break;
      }
      if (b > layout_.blocks) break;
      BlockMeta& m = meta_[b];
      if (m.role != Role::None || m.kind != Kind::Data || m.prev != expectPrev) break;
      m.role = Role::Chain;
      chain_.push_back(b);
      expectPrev = b;
      b = m.next;
    }
    std::uint64_t forward = 0;
    for (std::uint32_t b : chain_) forward += meta_[b].count;
    // A chain broken or ended early: its tail is found backwards from the header's last block.
    if (report_.headerReadable && (!reachedEnd || forward < h_.numRecords)) {
      std::vector<std::uint32_t> tail;
      std::uint32_t expectNext = 0;
      for (std::uint32_t b = h_.lastBlock; b != 0 && b <= layout_.blocks;) {
        BlockMeta& m = meta_[b];
        if (m.role != Role::None || m.kind != Kind::Data || m.next != expectNext) break;
        m.role = Role::Chain;
        tail.push_back(b);
        expectNext = b;
        b = m.prev;
      }
      chain_.insert(chain_.end(), tail.rbegin(), tail.rend());
    }
    std::uint64_t present = 0;
    for (std::uint32_t b : chain_) present += meta_[b].count;
    chainRecords_ = present;
    report_.chainIntact = report_.headerReadable && reachedEnd && forward >= h_.numRecords;
    report_.hadRecords =
        report_.headerReadable ? (h_.numRecords > 0 || !chain_.empty()) : layout_.blocks > 0;
  }

  void OrderBlocks() {
    order_ = chain_;
    for (std::uint32_t b = 1; b <= layout_.blocks; ++b) {
      BlockMeta& m = meta_[b];
      if (m.kind == Kind::Data && m.role == Role::None) {
        m.role = report_.chainIntact ? Role::Outside : Role::Candidate;
        if (!report_.chainIntact) order_.push_back(b);
      }
    }
    for (std::size_t i = 0; i < order_.size(); ++i)
      meta_[order_[i]].order = static_cast<std::uint32_t>(i);
  }

  // ---- Records -------------------------------------------------------------------------------

  // An all-blank record is what the unused tail of a block looks like, so outside the chain it
  // carries nothing; a chain block's header counts its records, and there a record of blank
  // values is one (Borland's fields/time.db holds one).
  bool Valid(const std::uint8_t* rec, bool inChain) const {
    if (!inChain && record::IsBlank(rec, layout_.recordSize)) return false;
    for (const px::Field* f : checked_) {
      if (px::IsBlobField(f->code) ? salvage::FieldProblem(*f, rec, blobs_) != nullptr
                                   : !values::IsValue(*f, rec + f->offset))
        return false;
    }
    return true;
  }
  // A record's key as the written table will hold it: an alpha key field's bytes after its
  // terminating zero are left-overs of an earlier value, not part of the key.
  const std::uint8_t* KeyOf(const std::uint8_t* rec) {
    if (alphaKeys_.empty()) return rec;
    keyBuf_.assign(rec, rec + keyBytes_);
    for (const px::Field* f : alphaKeys_) {
      auto* p = keyBuf_.data() + f->offset;
      if (auto* nul = static_cast<std::uint8_t*>(std::memchr(p, 0, f->bytes)))
        std::memset(nul, 0, f->bytes - static_cast<std::size_t>(nul - p));
    }
    return keyBuf_.data();
  }
  const std::uint8_t* Key(std::int64_t entry) const {
    return keys_.data() + static_cast<std::size_t>(entry) * keyBytes_;
  }

  // Counts the records that decode in every block of the order and, for a keyed table, keeps
  // their keys and places (not the records).
  void CheckRecords() {
    // With the chain intact nothing joins it, so keys matter only if they fail to ascend along
    // it, which the blocks' summaries tell without reading them again.
    if (report_.chainIntact && CheckIntactChain()) return;
    CheckBlocks(true);
  }

  void CheckBlocks(bool keepKeys) {
    BlockReader reader(file_, layout_);
    std::vector<std::uint8_t> lastKey(keyBytes_);
    bool haveLast = false;
    if (keepKeys && keyed_) {
      std::uint64_t most = 0;
      for (std::uint32_t b : order_) most += meta_[b].count;
      keys_.reserve(static_cast<std::size_t>(most) * keyBytes_);
      ranks_.reserve(static_cast<std::size_t>(most));
    }
    for (std::uint32_t b : order_) {
      BlockMeta& m = meta_[b];
      std::size_t avail = 0;
      const std::uint8_t* recs = reader.Get(b, avail) + px::blk::HeaderSize;
      for (std::uint32_t i = 0; i < m.count; ++i) {
        const std::uint8_t* rec = recs + std::size_t{i} * layout_.recordSize;
        if (!Valid(rec, m.role == Role::Chain)) continue;
        ++m.valid;
        for (const px::Field* f : autoIncs_) {
          if (!record::IsBlank(rec + f->offset, 4))
            highestAutoInc_ = std::max(highestAutoInc_, record::GetSortableLong(rec + f->offset));
        }
        if (!keyed_) continue;
        const std::uint8_t* key = KeyOf(rec);
        if (m.role == Role::Chain) {
          if (haveLast && std::memcmp(lastKey.data(), key, keyBytes_) >= 0) chainAscending_ = false;
          std::memcpy(lastKey.data(), key, keyBytes_);
          haveLast = true;
        }
        if (!keepKeys) continue;
        const auto entry = static_cast<std::int64_t>(ranks_.size());
        if (m.lastEntry >= 0 && std::memcmp(Key(m.lastEntry), key, keyBytes_) >= 0)
          m.unordered = true;
        keys_.insert(keys_.end(), key, key + keyBytes_);
        ranks_.push_back((m.order << kSlotBits) | i);
        if (m.firstEntry < 0) m.firstEntry = entry;
        m.lastEntry = entry;
      }
    }
  }

  // Decides which blocks outside the chain belong to the table when the chain is broken or
  // short. In a keyed table the chain's blocks each hold a run of keys; a block whose run
  // overlaps one of them is an older copy, not a lost part. The header's record count caps what
  // joins; blocks beyond it go to the outside file.
  void ChooseCandidates() {
    if (report_.chainIntact) return;
    struct Range {
      std::int64_t first, last;
    };
    std::vector<Range> ranges;
    if (orderKnown_) {
      for (std::uint32_t b : chain_)
        if (meta_[b].valid > 0) ranges.push_back({meta_[b].firstEntry, meta_[b].lastEntry});
      std::sort(ranges.begin(), ranges.end(), [&](const Range& a, const Range& c) {
        return std::memcmp(Key(a.first), Key(c.first), keyBytes_) < 0;
      });
      for (std::size_t i = 1; i < ranges.size(); ++i)
        if (std::memcmp(Key(ranges[i - 1].last), Key(ranges[i].last), keyBytes_) > 0)
          ranges[i].last = ranges[i - 1].last;  // running maximum of the last keys
    }
    auto overlapsChain = [&](const BlockMeta& m) {
      // The last chain run starting at or before the block's last key decides.
      auto it = std::upper_bound(ranges.begin(), ranges.end(), m.lastEntry,
                                 [&](std::int64_t key, const Range& r) {
                                   return std::memcmp(Key(key), Key(r.first), keyBytes_) < 0;
                                 });
      if (it == ranges.begin()) return false;
      return std::memcmp(Key(std::prev(it)->last), Key(m.firstEntry), keyBytes_) >= 0;
    };
    std::uint64_t budget = UINT64_MAX;
    if (report_.headerReadable)
      budget = h_.numRecords > chainRecords_ ? h_.numRecords - chainRecords_ : 0;
    for (std::size_t i = chain_.size(); i < order_.size(); ++i) {
      BlockMeta& m = meta_[order_[i]];
      if (m.valid == 0 || (orderKnown_ && m.unordered)) {
        m.role = Role::Unreadable;
      } else if (orderKnown_ && overlapsChain(m)) {
        m.role = Role::Outside;
      } else if (m.valid > budget) {
        m.role = Role::Outside;
      } else {
        m.role = Role::Joined;
        ++report_.joinedBlocks;
        if (budget != UINT64_MAX) budget -= m.valid;
      }
    }
  }

  // Keyed tables: of records with the same key, the first in key order stays (ties go to the
  // chain, then to the lower block).
  void FindDuplicates() {
    if (!keyed_) return;
    // Keys strictly ascending along the chain, and nothing joined: no key can repeat.
    if (chainAscending_ && report_.joinedBlocks == 0) {
      std::vector<std::uint8_t>().swap(keys_);
      std::vector<std::uint32_t>().swap(ranks_);
      return;
    }
    std::vector<std::uint32_t> idx;
    idx.reserve(ranks_.size());
    for (std::size_t e = 0; e < ranks_.size(); ++e) {
      const Role r = meta_[order_[ranks_[e] >> kSlotBits]].role;
      if (r == Role::Chain || r == Role::Joined) idx.push_back(static_cast<std::uint32_t>(e));
    }
    std::sort(idx.begin(), idx.end(), [&](std::uint32_t a, std::uint32_t b) {
      const int c = std::memcmp(Key(a), Key(b), keyBytes_);
      return c != 0 ? c < 0 : ranks_[a] < ranks_[b];
    });
    for (std::size_t i = 1; i < idx.size(); ++i) {
      if (std::memcmp(Key(idx[i - 1]), Key(idx[i]), keyBytes_) == 0)
        duplicates_.push_back(ranks_[idx[i]]);
    }
    std::sort(duplicates_.begin(), duplicates_.end());
    report_.duplicated = duplicates_.size();
    std::vector<std::uint8_t>().swap(keys_);
    std::vector<std::uint32_t>().swap(ranks_);
  }

  int CodePage() const {
    if (h_.hasDataHeader && h_.codePage != 0) return h_.codePage;
    return h_.hasDataHeader ? 1252 : 437;  // level 3 tables come from DOS
  }

  // ---- Outside the table ---------------------------------------------------------------------

  // Records of valid blocks that are not part of the table: orphaned data blocks (within their
  // count) and free blocks, whose bodies still hold deleted records.
  void WriteOutside() {
    const fs::path path = SalvageOutsideCsvPath(newDb_);
    const bool write = !options_.dryRun;
    std::optional<csv::RecordCsv> out;
    BlockReader reader(file_, layout_);
    std::unordered_set<std::string_view> seen;
    for (std::uint32_t b = 1; b <= layout_.blocks; ++b) {
      BlockMeta& m = meta_[b];
      if (m.kind == Kind::Garbage || m.kind == Kind::Zero || m.role == Role::Unreadable) {
        Unreadable(b);
        continue;
      }
      const bool free = m.kind == Kind::Free;
      if (!free && m.role != Role::Outside) continue;
      std::size_t avail = 0;
      const std::uint8_t* recs = reader.Get(b, avail) + px::blk::HeaderSize;
      const std::size_t slots =
          free ? std::min((avail - px::blk::HeaderSize) / layout_.recordSize, layout_.capacity)
               : m.count;
      std::uint32_t taken = 0;
      seen.clear();
      for (std::size_t i = 0; i < slots; ++i) {
        const std::uint8_t* rec = recs + i * layout_.recordSize;
        if (free && record::IsBlank(rec, layout_.recordSize)) continue;
        if (!Valid(rec, false)) continue;
        // Deleting shifts records left, so a freed block can repeat its last records.
        if (free &&
            !seen.insert(std::string_view(reinterpret_cast<const char*>(rec), layout_.recordSize))
                 .second)
          continue;
        if (write && !out) out.emplace(path, h_, CodePage());
        if (out) out->Add(rec);
        ++taken;
      }
      report_.outsideChain += taken;
      if (!free && taken == 0) Unreadable(b);
    }
    if (out) {
      out->Commit();
      report_.outsideCsv = path;
    }
  }

  // ---- The table -----------------------------------------------------------------------------

  // The table's records in block order, each checked again as it is read, without duplicates;
  // every record read is also added to the CSV.
  class Stream {
   public:
    Stream(Salvager& s, csv::RecordCsv* out) : s_(s), out_(out), reader_(s.file_, s.layout_) {}
    const std::uint8_t* Next() {
      for (;;) {
        if (pos_ >= s_.order_.size()) return nullptr;
        const std::uint32_t b = s_.order_[pos_];
        const BlockMeta& m = s_.meta_[b];
        if ((m.role != Role::Chain && m.role != Role::Joined) || slot_ >= m.count) {
          ++pos_;
          slot_ = 0;
          continue;
        }
        std::size_t avail = 0;
        const std::uint8_t* rec = reader_.Get(b, avail) + px::blk::HeaderSize +
                                  std::size_t{slot_} * s_.layout_.recordSize;
        const std::uint32_t rank = (m.order << kSlotBits) | slot_;
        ++slot_;
        // Blocks whose every record passed the checks before need no second look.
        if (m.valid != m.count && !s_.Valid(rec, m.role == Role::Chain)) {
          ++dropped_;
          continue;
        }
        while (dup_ < s_.duplicates_.size() && s_.duplicates_[dup_] < rank) ++dup_;
        if (dup_ < s_.duplicates_.size() && s_.duplicates_[dup_] == rank) {
          s_.KeepDuplicate(rec);
          continue;
        }
        if (out_) out_->Add(rec);
        ++taken_;
        return rec;
      }
    }
    std::uint64_t Taken() const { return taken_; }
    std::uint64_t Dropped() const { return dropped_; }

   private:
    Salvager& s_;
    csv::RecordCsv* out_;
    BlockReader reader_;
    std::size_t pos_ = 0;
    std::uint32_t slot_ = 0;
    std::size_t dup_ = 0;
    std::uint64_t taken_ = 0, dropped_ = 0;
  };

  void WriteTable() {
    std::uint64_t expected = 0;
    for (std::uint32_t b : order_) {
      const Role r = meta_[b].role;
      if (r == Role::Chain || r == Role::Joined) expected += meta_[b].valid;
    }
    expected -= std::min<std::uint64_t>(expected, report_.duplicated);
    CountUnreadableChainBlocks();
    if (expected == 0 && report_.hadRecords) {
      // Count what was dropped, write nothing: an empty table would pass for the salvage.
      for (std::uint32_t b : order_) {
        const BlockMeta& m = meta_[b];
        if (m.role == Role::Chain || m.role == Role::Joined) report_.dropped += m.count - m.valid;
      }
      return;
    }

    std::string why;
    const std::optional<TableDef> def = Definition(why);
    if (options_.dryRun) {
      // The same reading and checking as a real run, with nothing written.
      Stream stream(*this, nullptr);
      while (stream.Next()) {
      }
      if (!def) report_.csvOnlyReason = why;
      report_.recovered = stream.Taken();
      report_.dropped += stream.Dropped();
      return;
    }
    const fs::path csvPath = SalvageCsvPath(newDb_);
    csv::RecordCsv out(csvPath, h_, CodePage());
    Stream stream(*this, &out);
    if (def) {
      std::vector<FieldDef> fields = def->fields;
      const salvage::BlobSource mb(file_.Path());
      bool started = false;
      try {
        CreateTable(newDb_, *def, [&]() -> std::optional<Record> {
          started = true;
          const std::uint8_t* rec = stream.Next();
          if (!rec) return std::nullopt;
          return ValuesOf(fields, rec, mb);
        });
        report_.tableWritten = true;
        report_.table = newDb_;
      } catch (const EngineError& e) {
        if (started || e.Code() != WriterErrorCode::InvalidDefinition) throw;
        why = e.Message() + " (" + e.File() + ")";
      }
    }
    if (!report_.tableWritten) {
      report_.csvOnlyReason = why;
      while (stream.Next()) {
      }
    }
    out.Commit();
    CommitDuplicates();
    report_.csv = csvPath;
    report_.recovered = stream.Taken();
    report_.dropped += stream.Dropped();
  }

  SourceFile file_;
  fs::path newDb_;
  SalvageOptions options_;
  SalvageReport report_;
  Header h_;
  Layout layout_;
  bool keyed_ = false;
  bool orderKnown_ = false;
  std::size_t keyBytes_ = 0;
  std::vector<const px::Field*> alphaKeys_;
  std::vector<const px::Field*> autoIncs_;
  std::vector<const px::Field*> checked_;
  std::vector<Summary> summaries_;       // by block number
  std::vector<std::uint8_t> blockKeys_;  // keyed: each block's first and last valid key
  std::int64_t highestAutoInc_ = 0;      // of the records taken, for blank values to come after
  std::vector<std::uint8_t> keyBuf_;
  salvage::BlobFileFacts blobs_;
  std::vector<BlockMeta> meta_;
  std::vector<std::uint32_t> chain_;
  std::vector<std::uint32_t> order_;
  std::uint64_t chainRecords_ = 0;
  std::vector<std::uint8_t> keys_;
  std::vector<std::uint32_t> ranks_;
  bool chainAscending_ = true;
  std::vector<std::uint32_t> duplicates_;
  std::optional<csv::RecordCsv> duplicatesOut_;
};

}  // namespace

fs::path SalvageCsvPath(const fs::path& newDb) {
  fs::path p = newDb;
  p.replace_extension(".csv");
  return p;
}

fs::path SalvageOutsideCsvPath(const fs::path& newDb) {
  fs::path p = newDb;
  p.replace_extension(".outside.csv");
  return p;
}

SalvageReport SalvageTable(const fs::path& damaged, const fs::path& newDb,
                           const SalvageOptions& options) {
  Salvager s(damaged, newDb, options);
  return s.Run();
}

}  // namespace zel::engine
