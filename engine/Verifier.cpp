#include "engine/Verifier.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <system_error>

#include "engine/CompareBytes.h"
#include "engine/EngineError.h"
#include "engine/ParadoxFormat.h"
#include "engine/PositionalFile.h"
#include "platform/DriveMapping.h"

namespace zel::engine {
namespace fs = std::filesystem;
using px::Header;

namespace {

// ---- Messages -------------------------------------------------------------------------------

constexpr const char* kTextCorruptHeader = "Corrupt table/index header";
constexpr const char* kTextCorruptFile = "Corrupt file - other than header";
constexpr const char* kTextCorruptIndex = "Corrupt index";
constexpr const char* kTextIndexOutOfDate = "Index is out of date";

// An index is out of date when the file it indexes has changed since the index was last brought
// in step: its one-byte change counter has moved past the stamp the index copied from it (modulo
// 256, within half the counter's range). A stamp ahead of the counter is accepted: Borland's own
// sample tables carry index stamps 5 to 78 ahead of their data files, kept that way across later
// edits by the Borland engine itself. Such an index is still compared with the data blocks.
bool StampBehind(std::uint8_t indexStamp, std::uint8_t changeCount) {
  const int behind = (changeCount - indexStamp + 256) % 256;
  return behind >= 1 && behind <= 127;
}

[[noreturn]] void Fail(int code, const char* text, const std::string& detail,
                       const fs::path& file) {
  throw EngineError(code,
                    detail.empty() ? std::string(text) : std::string(text) + " (" + detail + ")",
                    file.string());
}

std::string Num(std::uint64_t v) {
  return std::to_string(v);
}

// ---- Reading --------------------------------------------------------------------------------

using File = PositionalFile;

// Reads and validates the header of any Paradox file.
Header ReadHeader(const File& file) {
  std::vector<std::uint8_t> buf(px::kMinHeaderBytes);
  const std::size_t got = file.ReadAt(0, buf.data(), buf.size());
  if (got < px::kMinHeaderBytes) {
    Fail(ErrorCode::CorruptHeader, kTextCorruptHeader,
         "file is shorter than a header (" + Num(file.Size()) + " bytes)", file.Path());
  }
  const std::size_t headerSize =
      std::max<std::size_t>(px::Le16(buf.data() + px::off::HeaderSize), px::kMinHeaderBytes);
  if (headerSize > got) {
    buf.resize(headerSize);
    const std::size_t more = file.ReadAt(got, buf.data() + got, headerSize - got);
    buf.resize(got + more);
  }
  Header h;
  std::string problem;
  if (!px::ParseHeader(buf, h, problem)) {
    Fail(ErrorCode::CorruptHeader, kTextCorruptHeader, problem, file.Path());
  }
  return h;
}

// Blocks of a file, read many at a time: sequential chains cost one pread per window.
class BlockCache {
 public:
  // A quarter MiB: few page faults for a fresh buffer, and the window stays in the L2 cache
  // while the deep check reads the records the walk hands it.
  static constexpr std::size_t kWindowBytes = 256 << 10;
  static constexpr std::size_t kSlack = 8;

  BlockCache(const File& file, const Header& h)
      : file_(file),
        h_(h),
        bs_(h.BlockSize()),
        maxBlocks_(std::max<std::size_t>(1, kWindowBytes / bs_)) {}

  // The bytes of block `b` (1..fileBlocks) present in the file: up to a block, fewer when the
  // file ends inside it.
  const std::uint8_t* Get(std::uint32_t b, std::size_t& avail) {
    if (b < first_ || b >= first_ + count_) Load(b);
    const std::size_t at = std::size_t{b - first_} * bs_;
    avail = at >= bytes_ ? 0 : std::min(bs_, bytes_ - at);
    return buf_.data() + at;
  }

 private:
  void Load(std::uint32_t b) {
    // Grow the window while the chain runs forward; drop to one block on a jump.
    if (count_ != 0 && b == first_ + count_) {
      want_ = std::min(maxBlocks_, want_ * 2);
    } else {
      want_ = count_ == 0 ? maxBlocks_ : 1;
    }
    const std::size_t remaining = std::size_t{h_.fileBlocks} + 1 - b;
    const std::size_t n = std::max<std::size_t>(1, std::min(want_, remaining));
    // Slack past the last block, for observers that load whole words at a record's end.
    if (buf_.size() < n * bs_ + kSlack) buf_.resize(n * bs_ + kSlack);
    first_ = b;
    count_ = static_cast<std::uint32_t>(n);
    const std::uint64_t offset = h_.BlockOffset(b);
    bytes_ = offset >= file_.Size() ? 0 : file_.ReadAt(offset, buf_.data(), n * bs_);
  }

  const File& file_;
  const Header& h_;
  std::size_t bs_;
  std::size_t maxBlocks_;
  std::size_t want_ = 1;
  std::vector<std::uint8_t> buf_;
  std::uint32_t first_ = 0;
  std::uint32_t count_ = 0;
  std::size_t bytes_ = 0;
};

// One bit per block number (block numbers are 16-bit).
class BlockSet {
 public:
  BlockSet() : bits_(65536 / 64, 0) {}
  bool TestAndSet(std::uint32_t b) {
    std::uint64_t& word = bits_[b / 64];
    const std::uint64_t mask = std::uint64_t{1} << (b % 64);
    const bool was = (word & mask) != 0;
    word |= mask;
    return was;
  }
  bool Test(std::uint32_t b) const { return (bits_[b / 64] >> (b % 64)) & 1; }

 private:
  std::vector<std::uint64_t> bits_;
};

// ---- Key order ------------------------------------------------------------------------------

// Compares keys field by field; descending fields reverse. Disabled when the collation of an
// alpha field is not byte order (non-'ascii' sort orders, case-insensitive indexes): those
// orders are not publicly known, so such keys are checked only against their index tree.
class KeyOrder {
 public:
  struct Segment {
    std::size_t offset;
    std::size_t length;
    bool descending;
  };

  KeyOrder() = default;
  KeyOrder(std::vector<Segment> segments, bool strict, bool enabled)
      : strict_(strict), enabled_(enabled) {
    // Adjacent fields sorting the same way compare as one run of bytes.
    for (const Segment& s : segments) {
      if (!segments_.empty() && segments_.back().descending == s.descending &&
          segments_.back().offset + segments_.back().length == s.offset) {
        segments_.back().length += s.length;
      } else {
        segments_.push_back(s);
      }
    }
    simple_ = segments_.size() == 1 && segments_[0].offset == 0;
    for (const Segment& s : segments_) {
      simple_ = simple_ && !s.descending;
      bytes_ = std::max(bytes_, s.offset + s.length);
    }
  }
  bool Enabled() const { return enabled_ && !segments_.empty(); }
  bool Strict() const { return strict_; }
  std::size_t Bytes() const { return bytes_; }

  int Compare(const std::uint8_t* a, const std::uint8_t* b) const {
    if (simple_) return CompareBytes(a, b, bytes_);
    for (const Segment& s : segments_) {
      int c = CompareBytes(a + s.offset, b + s.offset, s.length);
      if (c != 0) return s.descending ? -c : c;
    }
    return 0;
  }
  // True when `b` may follow `a`.
  bool InOrder(const std::uint8_t* a, const std::uint8_t* b) const {
    const int c = Compare(a, b);
    return strict_ ? c < 0 : c <= 0;
  }

 private:
  std::vector<Segment> segments_;
  bool strict_ = true;
  bool enabled_ = false;
  bool simple_ = false;
  std::size_t bytes_ = 0;
};

bool HasAlpha(const Header& h, int fieldCount) {
  for (int i = 0; i < fieldCount && i < static_cast<int>(h.fields.size()); ++i) {
    if (h.fields[i].code == px::FieldCode::Alpha) return true;
  }
  return false;
}

// The sort key of a keyed .DB: its key fields, unique and ascending.
KeyOrder PrimaryOrder(const Header& db) {
  std::vector<KeyOrder::Segment> segs{{0, db.PrefixBytes(db.primaryKeyFields), false}};
  const bool known = db.sortOrder == px::kSortAscii || !HasAlpha(db, db.primaryKeyFields);
  return KeyOrder(std::move(segs), true, known);
}

// The sort key of an X file: its first primaryKeyFields fields, each in its own direction.
KeyOrder SecondaryOrder(const Header& x) {
  std::vector<KeyOrder::Segment> segs;
  for (int i = 0; i < x.primaryKeyFields; ++i) {
    const px::Field& f = x.fields[i];
    segs.push_back({f.offset, f.bytes, f.descending});
  }
  const bool caseless = (x.indexFlags & px::kIndexFlagCaseInsensitive) != 0;
  const bool known =
      !HasAlpha(x, x.primaryKeyFields) || (x.sortOrder == px::kSortAscii && !caseless);
  return KeyOrder(std::move(segs), false, known);
}

// ---- Block chain ----------------------------------------------------------------------------

struct BlockView {
  std::uint32_t number = 0;
  std::uint32_t count = 0;
  const std::uint8_t* records = nullptr;
};

// Walks the block chain of a file laid out in blocks (.DB, .X, and .PX/.Y as plain chains),
// checking links, counts and sizes, and the record order when `order` is enabled. Raises
// `code` naming the file on the first fault.
class ChainWalker {
 public:
  ChainWalker(const File& file, const Header& h, int code, const char* text, const KeyOrder* order,
              ChainObserver* observer = nullptr)
      : observer_(observer),
        file_(file),
        h_(h),
        cache_(file, h),
        code_(code),
        text_(text),
        order_(order),
        recordSize_(h.recordSize),
        capacity_(h.Capacity()) {
    if (order_ && order_->Enabled()) last_.resize(order_->Bytes());
    if (h.firstBlock == 0) {
      if (h.usedBlocks != 0 || h.lastBlock != 0 || h.numRecords != 0) {
        Error("no first block, but " + Num(h.usedBlocks) + " blocks and " + Num(h.numRecords) +
              " records declared");
      }
    }
    if (h.usedBlocks > h.fileBlocks) {
      Error(Num(h.usedBlocks) + " blocks in use of " + Num(h.fileBlocks) + " in the file");
    }
    next_ = h.firstBlock;
  }

  // The next block of the chain; false at its end, once the totals have been checked.
  bool Next(BlockView& v) {
    if (done_) return false;
    if (next_ == 0) {
      done_ = true;
      if (steps_ != h_.usedBlocks) {
        Error("chain has " + Num(steps_) + " blocks, header says " + Num(h_.usedBlocks));
      }
      if (prev_ != h_.lastBlock) {
        Error("chain ends at block " + Num(prev_) + ", header says " + Num(h_.lastBlock));
      }
      if (records_ != h_.numRecords) {
        Error("blocks hold " + Num(records_) + " records, header says " + Num(h_.numRecords));
      }
      return false;
    }
    const std::uint32_t b = next_;
    if (b > h_.fileBlocks) {
      Error("block " + Num(prev_) + " links to block " + Num(b) + " beyond the " +
            Num(h_.fileBlocks) + " blocks of the file");
    }
    if (seen_.TestAndSet(b)) Error("block chain loops back to block " + Num(b));
    std::size_t avail = 0;
    const std::uint8_t* p = cache_.Get(b, avail);
    if (avail < px::blk::HeaderSize) {
      Error("block " + Num(b) + " lies past the end of the file (" + Num(file_.Size()) + " bytes)");
    }
    const std::uint16_t next = px::Le16(p + px::blk::Next);
    const std::uint16_t prev = px::Le16(p + px::blk::Prev);
    const std::int32_t add = px::LeS16(p + px::blk::AddDataSize);
    if (prev != prev_) {
      Error("block " + Num(b) + " links back to block " + Num(prev) + " instead of " + Num(prev_));
    }
    std::uint32_t count = 0;
    if (add != -static_cast<std::int32_t>(recordSize_)) {
      if (add < 0 || add % recordSize_ != 0) {
        Error("block " + Num(b) + " has an invalid record size field " + std::to_string(add));
      }
      count = static_cast<std::uint32_t>(add / recordSize_) + 1;
      if (count > capacity_) {
        Error("block " + Num(b) + " claims " + Num(count) + " records, room for " + Num(capacity_));
      }
    }
    if (px::blk::HeaderSize + std::size_t{count} * recordSize_ > avail) {
      Error("block " + Num(b) + " is cut short by the end of the file (" + Num(file_.Size()) +
            " bytes)");
    }
    records_ += count;
    ++steps_;
    const std::uint8_t* recs = p + px::blk::HeaderSize;
    if (count > 0 && order_ && order_->Enabled()) CheckOrder(b, recs, count);
    prev_ = b;
    next_ = next;
    v = BlockView{b, count, recs};
    if (observer_) observer_->Block(b, next, count, recs);
    return true;
  }

  // Walks the rest of the chain.
  void Drain() {
    BlockView v;
    while (Next(v)) {
    }
  }

  // Walks the free-block list; its blocks must be in range and outside the chain.
  void CheckFreeList() {
    std::uint32_t b = h_.firstFreeBlock;
    std::uint32_t prev = 0;
    while (b != 0) {
      if (b > h_.fileBlocks) {
        Error("free block list links to block " + Num(b) + " beyond the file's blocks");
      }
      if (seen_.TestAndSet(b)) {
        Error("free block list reaches block " + Num(b) + " twice or a block of the chain");
      }
      std::size_t avail = 0;
      const std::uint8_t* p = cache_.Get(b, avail);
      if (avail < px::blk::HeaderSize) {
        Error("free block " + Num(b) + " lies past the end of the file");
      }
      prev = b;
      b = px::Le16(p + px::blk::Next);
    }
    (void)prev;
  }

  [[noreturn]] void Error(const std::string& detail) const {
    Fail(code_, text_, detail, file_.Path());
  }

 private:
  void CheckOrder(std::uint32_t b, const std::uint8_t* recs, std::uint32_t count) {
    const std::uint8_t* prev = haveLast_ ? last_.data() : nullptr;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t* rec = recs + std::size_t{i} * recordSize_;
      if (prev && !order_->InOrder(prev, rec)) {
        const bool dup = order_->Compare(prev, rec) == 0;
        Error(std::string(dup ? "duplicate key" : "key out of order") + " at record " + Num(i + 1) +
              " of block " + Num(b));
      }
      prev = rec;
    }
    std::memcpy(last_.data(), prev, last_.size());
    haveLast_ = true;
  }

  ChainObserver* observer_;
  const File& file_;
  const Header& h_;
  BlockCache cache_;
  int code_;
  const char* text_;
  const KeyOrder* order_;
  std::size_t recordSize_;
  std::size_t capacity_;
  BlockSet seen_;
  std::uint32_t next_ = 0;
  std::uint32_t prev_ = 0;
  std::uint32_t steps_ = 0;
  std::uint64_t records_ = 0;
  bool done_ = false;
  std::vector<std::uint8_t> last_;
  bool haveLast_ = false;
};

// ---- Index trees (.PX over .DB, .Y over .X) -------------------------------------------------

// Walks an index tree from its root and hands out its level-1 entries in order, checking on the
// way: block numbers, no block reached twice, entry counts, each upper entry's key equal to its
// child's first key and its statistic equal to the child's sum (16-bit, as stored).
class TreeWalker {
 public:
  static constexpr int kMaxLevels = 16;

  TreeWalker(const File& file, const Header& tree, const KeyOrder& order)
      : file_(file),
        h_(tree),
        cache_(file, tree),
        order_(order),
        keyBytes_(tree.recordSize - px::kIndexEntryTrailer) {
    if (h_.indexLevels > kMaxLevels) Error("tree has " + Num(h_.indexLevels) + " levels");
    if (h_.indexLevels == 0) {
      if (h_.numRecords != 0) Error("empty tree with " + Num(h_.numRecords) + " entries");
      return;
    }
    if (h_.indexRoot == 0 || h_.indexRoot > h_.fileBlocks) {
      Error("root block " + Num(h_.indexRoot) + " is not a block of the file");
    }
    Push(h_.indexRoot, h_.indexLevels, nullptr);
  }

  std::size_t KeyBytes() const { return keyBytes_; }

  // The next level-1 entry (key bytes, then the 6-byte trailer), or null after the last.
  const std::uint8_t* NextLeaf() {
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      if (top.idx == top.count) {
        Pop();
        continue;
      }
      const std::uint8_t* e =
          top.data.data() + px::blk::HeaderSize + std::size_t{top.idx} * h_.recordSize;
      ++top.idx;
      const std::uint16_t stat = px::SortableU16(e + keyBytes_ + 2);
      top.sum += stat;
      if (top.level == 1) return e;
      Push(px::SortableU16(e + keyBytes_), top.level - 1, e);
    }
    return nullptr;
  }

  void Finish() {
    if (NextLeaf() != nullptr) Error("tree has entries beyond the blocks of its data file");
    if (entries_ != h_.numRecords) {
      Error("tree reaches " + Num(entries_) + " entries, header says " + Num(h_.numRecords));
    }
  }

  [[noreturn]] void Error(const std::string& detail) const {
    Fail(ErrorCode::CorruptIndex, kTextCorruptIndex, detail, file_.Path());
  }

 private:
  struct Frame {
    std::uint32_t block = 0;
    int level = 0;
    std::vector<std::uint8_t> data;
    std::uint32_t count = 0;
    std::uint32_t idx = 0;
    std::uint64_t sum = 0;
    std::uint16_t expectedSum = 0;
    bool hasParent = false;
  };

  void Push(std::uint32_t b, int level, const std::uint8_t* parentEntry) {
    if (b == 0 || b > h_.fileBlocks) {
      Error("entry points to block " + Num(b) + ", not a block of the file");
    }
    if (seen_.TestAndSet(b)) Error("tree reaches block " + Num(b) + " twice");
    std::size_t avail = 0;
    const std::uint8_t* p = cache_.Get(b, avail);
    if (avail < px::blk::HeaderSize) Error("block " + Num(b) + " lies past the end of the file");
    const std::int32_t add = px::LeS16(p + px::blk::AddDataSize);
    if (add < 0 || add % h_.recordSize != 0) {
      Error("tree block " + Num(b) + " is empty or has an invalid size field");
    }
    const std::uint32_t count = static_cast<std::uint32_t>(add / h_.recordSize) + 1;
    if (count > h_.Capacity()) Error("tree block " + Num(b) + " claims too many entries");
    const std::size_t used = px::blk::HeaderSize + std::size_t{count} * h_.recordSize;
    if (used > avail) Error("tree block " + Num(b) + " is cut short by the end of the file");
    entries_ += count;

    const std::uint8_t* first = p + px::blk::HeaderSize;
    if (parentEntry && std::memcmp(parentEntry, first, keyBytes_) != 0) {
      Error("key of the entry for block " + Num(b) + " differs from the block's first key");
    }
    if (order_.Enabled()) {
      for (std::uint32_t i = 1; i < count; ++i) {
        const std::uint8_t* a = first + std::size_t{i - 1} * h_.recordSize;
        if (order_.Compare(a, a + h_.recordSize) > 0) {
          Error("keys out of order in tree block " + Num(b));
        }
      }
    }
    if (static_cast<int>(stack_.size()) >= kMaxLevels) Error("tree is too deep");
    Frame f;
    f.block = b;
    f.level = level;
    f.data.assign(p, p + used);
    f.count = count;
    if (parentEntry) {
      f.hasParent = true;
      f.expectedSum = px::SortableU16(parentEntry + keyBytes_ + 2);
    }
    stack_.push_back(std::move(f));
  }

  void Pop() {
    const Frame& f = stack_.back();
    if (f.hasParent && static_cast<std::uint16_t>(f.sum) != f.expectedSum) {
      Error("block " + Num(f.block) + " holds " + Num(f.sum) + " records, its entry says " +
            Num(f.expectedSum));
    }
    stack_.pop_back();
  }

  const File& file_;
  const Header& h_;
  BlockCache cache_;
  const KeyOrder& order_;
  std::size_t keyBytes_;
  BlockSet seen_;
  std::vector<Frame> stack_;
  std::uint64_t entries_ = 0;
};

// Walks a data file's chain and its index tree side by side: one level-1 entry per data block
// that holds records, in chain order, with the block's number, record count and first key.
void CheckTreeAgainstData(const File& dataFile, const Header& data, const KeyOrder& dataOrder,
                          const File& treeFile, const Header& tree, int dataCode,
                          const char* dataText, ChainObserver* observer) {
  // The tree file is itself a block chain; its counts must add up first.
  {
    ChainWalker treeChain(treeFile, tree, ErrorCode::CorruptIndex, kTextCorruptIndex, nullptr);
    treeChain.Drain();
  }
  TreeWalker walker(treeFile, tree, dataOrder);
  ChainWalker chain(dataFile, data, dataCode, dataText, &dataOrder, observer);
  BlockView v;
  while (chain.Next(v)) {
    if (v.count == 0) continue;
    const std::uint8_t* e = walker.NextLeaf();
    if (!e) walker.Error("no entry for block " + Num(v.number) + " of the data file");
    const std::size_t kb = walker.KeyBytes();
    const std::uint16_t block = px::SortableU16(e + kb);
    const std::uint16_t stat = px::SortableU16(e + kb + 2);
    if (block != v.number) {
      walker.Error("entry points to block " + Num(block) + " where the data file has block " +
                   Num(v.number));
    }
    if (stat != v.count) {
      walker.Error("entry for block " + Num(v.number) + " counts " + Num(stat) +
                   " records, the block holds " + Num(v.count));
    }
    if (std::memcmp(e, v.records, kb) != 0) {
      walker.Error("entry key for block " + Num(v.number) + " differs from its first record");
    }
  }
  walker.Finish();
  chain.CheckFreeList();
}

// ---- Files beside the table -----------------------------------------------------------------

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return platform::SameNameIgnoringCase(a, b);
}

std::string StemOf(const fs::path& dbFile) {
  return dbFile.stem().string();
}

// The folder of a file; "." for a bare relative name.
fs::path DirOf(const fs::path& file) {
  fs::path dir = file.parent_path();
  return dir.empty() ? fs::path(".") : dir;
}

bool IsHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The files beside one table. The folder is listed at most once, on the first lookup that needs
// it, rather than once per file name that is missing under its exact spelling.
class Beside {
 public:
  explicit Beside(const fs::path& dbFile) : dir_(DirOf(dbFile)), stem_(StemOf(dbFile)) {}

  // "STEM" + `ext` in the folder, as named (".PX", ".MB", ".VAL").
  fs::path Expected(const char* ext) const { return dir_ / (stem_ + ext); }

  // The regular file of the folder named `name` without regard to case, or nothing.
  std::optional<fs::path> Find(const std::string& name) {
    std::error_code ec;
    const fs::path exact = dir_ / name;
    // Anything but a folder under the exact name is the file: reading it then says what it is
    // ("not a regular file" for a FIFO, never waiting on it).
    const fs::file_status found = fs::status(exact, ec);
    if (!ec && fs::exists(found) && !fs::is_directory(found)) return exact;
    for (const fs::directory_entry& e : Entries()) {
      if (EqualsIgnoringCase(e.path().filename().string(), name) && e.is_regular_file(ec)) {
        return e.path();
      }
    }
    return std::nullopt;
  }
  std::optional<fs::path> FindExt(const char* ext) { return Find(stem_ + ext); }

  // Secondary index data files beside the table: STEM.Xnn (nn hex) and STEM.XGn.
  std::vector<fs::path> SecondaryDataFiles() {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const fs::directory_entry& e : Entries()) {
      const std::string name = e.path().filename().string();
      if (name.size() != stem_.size() + 4) continue;
      if (!EqualsIgnoringCase(std::string_view(name).substr(0, stem_.size()), stem_)) continue;
      const std::string_view ext = std::string_view(name).substr(stem_.size());
      if (ext[0] != '.' || (ext[1] != 'X' && ext[1] != 'x')) continue;
      const bool numbered = IsHex(ext[2]) && IsHex(ext[3]);
      const bool named =
          (ext[2] == 'G' || ext[2] == 'g') && std::isalnum(static_cast<unsigned char>(ext[3]));
      if ((numbered || named) && e.is_regular_file(ec)) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // The .Y file that goes with an .X file: same name with Y for X.
  std::optional<fs::path> TreeFileFor(const fs::path& xFile) {
    std::string name = xFile.filename().string();
    const std::size_t dot = name.rfind('.');
    name[dot + 1] = name[dot + 1] == 'x' ? 'y' : 'Y';
    return Find(name);
  }

 private:
  const std::vector<fs::directory_entry>& Entries() {
    if (!listed_) {
      listed_ = true;
      std::error_code ec;
      for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
        entries_.push_back(*it);
      }
    }
    return entries_;
  }

  fs::path dir_;
  std::string stem_;
  bool listed_ = false;
  std::vector<fs::directory_entry> entries_;
};

bool IsNamedIndexFile(const fs::path& xFile) {
  const std::string ext = xFile.extension().string();
  return ext.size() == 4 && (ext[2] == 'G' || ext[2] == 'g');
}

// The name under which an X file's index is opened: the stored name of a .XGn, the field name
// of a single-field .Xnn.
std::string IndexNameOf(const fs::path& xFile, const Header& x, const Header& db) {
  if (IsNamedIndexFile(xFile)) return x.indexName;
  const int field = x.hasDataHeader ? x.fields[0].number : x.indexFieldNumber;
  if (field >= 1 && field <= static_cast<int>(db.fields.size())) return db.fields[field - 1].name;
  return {};
}

FieldInfo InfoOf(const px::Field& f) {
  FieldInfo info;
  info.name = f.name;
  info.type = px::FieldLetter(f.code);
  info.size =
      f.code == px::FieldCode::Bcd ? static_cast<int>(f.sizeByte) : static_cast<int>(f.bytes);
  info.descending = f.descending;
  return info;
}

bool SameDescriptor(const px::Field& a, const px::Field& b) {
  return a.code == b.code && a.sizeByte == b.sizeByte;
}

// ---- The checks -----------------------------------------------------------------------------

void CheckBlobFile(Beside& beside, const Header& db) {
  bool hasBlobs = false;
  for (const px::Field& f : db.fields) hasBlobs = hasBlobs || px::IsBlobField(f.code);
  if (!hasBlobs) return;
  const auto mb = beside.FindExt(".MB");
  if (!mb) Fail(ErrorCode::BlobFileMissing, "BLOB file is missing", {}, beside.Expected(".MB"));
  File file(*mb);
  std::uint8_t head[3] = {};
  // The first block of a .MB is its header: type 0, size in 4 KiB units.
  if (file.ReadAt(0, head, sizeof head) < sizeof head || head[0] != 0 || file.Size() < 4096) {
    Fail(ErrorCode::CorruptBlobFile, "Corrupt Memo/BLOB file", "no valid BLOB file header", *mb);
  }
}

void CheckValFile(Beside& beside, const Header& db) {
  const auto val = beside.FindExt(".VAL");
  if (!val) return;
  File file(*val);
  std::uint8_t head[7] = {};
  if (file.ReadAt(0, head, sizeof head) < sizeof head) {
    Fail(ErrorCode::CorruptValFile, "Corrupt or missing .VAL file", "file is too short", *val);
  }
  // Level 4+ .VAL files carry the table's definition counter in their first byte; 3.x ones
  // have another layout and no stamp.
  if (db.hasDataHeader && head[1] >= 0x05 && head[0] != db.changeCount2) {
    Fail(ErrorCode::ValOutOfDate, ".VAL file is out of date",
         "made for table definition " + Num(head[0]) + ", table is at " + Num(db.changeCount2),
         *val);
  }
}

struct OpenedFile {
  std::unique_ptr<File> file;
  Header header;
};

OpenedFile OpenIndexFile(const fs::path& path) {
  OpenedFile out;
  out.file = std::make_unique<File>(path);
  out.header = ReadHeader(*out.file);
  return out;
}

// Checks the .PX of a keyed table against the table, walking the whole data chain side by side
// with the tree.
Header CheckPrimaryIndex(const File& dbFile, const Header& db, const KeyOrder& dbOrder,
                         Beside& beside, ChainObserver* observer) {
  const fs::path& dbPath = dbFile.Path();
  const auto pxPath = beside.FindExt(".PX");
  if (!pxPath) {
    Fail(ErrorCode::FileDoesNotExist, "File does not exist", "primary index",
         beside.Expected(".PX"));
  }
  OpenedFile px = OpenIndexFile(*pxPath);
  const Header& ph = px.header;
  if (ph.fileType != px::FileType::PrimaryIndex) {
    Fail(ErrorCode::CorruptHeader, kTextCorruptHeader,
         "file type " + Num(static_cast<int>(ph.fileType)) + " is not a primary index", *pxPath);
  }
  if (ph.Encrypted()) {
    Fail(ErrorCode::TableEncrypted, "Table is encrypted", "no password", *pxPath);
  }
  if (ph.numFields != db.primaryKeyFields) {
    Fail(ErrorCode::CorruptIndex, kTextCorruptIndex,
         "index has " + Num(ph.numFields) + " key fields, table has " + Num(db.primaryKeyFields),
         *pxPath);
  }
  for (int i = 0; i < ph.numFields; ++i) {
    if (!SameDescriptor(ph.fields[i], db.fields[i])) {
      Fail(ErrorCode::CorruptIndex, kTextCorruptIndex,
           "key field " + Num(i + 1) + " differs from the table's", *pxPath);
    }
  }
  if (ph.sortOrder != db.sortOrder) {
    Fail(ErrorCode::CorruptIndex, kTextCorruptIndex, "sort order differs from the table's",
         *pxPath);
  }
  if (StampBehind(ph.indexStamp, db.changeCount1)) {
    Fail(ErrorCode::IndexOutOfDate, kTextIndexOutOfDate,
         "index stamp " + Num(ph.indexStamp) + ", table change count " + Num(db.changeCount1),
         *pxPath);
  }
  if (db.modifiedFlags1 != 0 || db.modifiedFlags2 != 0 || db.indexUpdateRequired != 0) {
    Fail(ErrorCode::IndexOutOfDate, kTextIndexOutOfDate,
         "the table is marked as needing its indexes rebuilt", dbPath);
  }
  CheckTreeAgainstData(dbFile, db, dbOrder, *px.file, ph, ErrorCode::CorruptFile, kTextCorruptFile,
                       observer);
  return ph;
}

struct SecondaryCandidate {
  fs::path xFile;
  std::unique_ptr<File> file;
  Header header;
  std::string problem;
  int problemCode = 0;
};

// Checks an X/Y pair against the table.
void CheckSecondaryIndex(const Header& db, const Header* primary, SecondaryCandidate& c,
                         Beside& beside, ChainObserver* observer = nullptr) {
  const fs::path& xPath = c.xFile;
  const Header& x = c.header;
  const bool named = IsNamedIndexFile(xPath);
  const bool typeFits =
      named ? (x.fileType == px::FileType::NamedData || x.fileType == px::FileType::NamedDataMaint)
            : (x.fileType == px::FileType::SecondaryData ||
               x.fileType == px::FileType::SecondaryDataMaint);
  if (!typeFits) {
    Fail(ErrorCode::CorruptHeader, kTextCorruptHeader,
         "file type " + Num(static_cast<int>(x.fileType)) + " is not a secondary index", xPath);
  }
  if (x.Encrypted()) Fail(ErrorCode::TableEncrypted, "Table is encrypted", "no password", xPath);

  // Fields: the indexed table fields, then the key fields (keyed table) or the record number
  // (heap), then the block-number hints.
  const int k = db.primaryKeyFields;
  // The sort key is every field but the last hint (Blk Num; heaps: Tup Offset).
  const int tail = k > 0 ? k + 1 : 3;  // heaps: Tup No, Blk Num, Tup Offset
  const int secondary = x.numFields - tail;
  if (secondary < 1 || x.primaryKeyFields != x.numFields - 1 ||
      (k > 0 && x.primaryKeyFields != secondary + k)) {
    Fail(ErrorCode::CorruptIndex, kTextCorruptIndex, "field layout does not fit the table", xPath);
  }
  if (x.hasDataHeader) {
    for (int i = 0; i < secondary; ++i) {
      const int n = x.fields[i].number;
      if (n < 1 || n > db.numFields || !SameDescriptor(x.fields[i], db.fields[n - 1])) {
        Fail(ErrorCode::CorruptIndex, kTextCorruptIndex,
             "indexed field " + Num(i + 1) + " does not match the table", xPath);
      }
    }
  }
  for (int i = 0; i < k; ++i) {
    if (!SameDescriptor(x.fields[secondary + i], db.fields[i])) {
      Fail(ErrorCode::CorruptIndex, kTextCorruptIndex,
           "key field " + Num(i + 1) + " does not match the table", xPath);
    }
  }

  const bool maintained = px::IsMaintained(x.fileType);
  if (maintained && x.changeCount2 != db.changeCount2) {
    Fail(ErrorCode::IndexOutOfDate, kTextIndexOutOfDate,
         "made for table definition " + Num(x.changeCount2) + ", table is at " +
             Num(db.changeCount2),
         xPath);
  }
  if (maintained && primary && x.primaryStamp != primary->indexStamp) {
    Fail(ErrorCode::IndexOutOfDate, kTextIndexOutOfDate,
         "primary index stamp " + Num(x.primaryStamp) + ", primary index is at " +
             Num(primary->indexStamp),
         xPath);
  }
  if (x.numRecords != db.numRecords) {
    // A maintained index must hold every record; a non-maintained one that does not is stale.
    Fail(maintained ? ErrorCode::CorruptIndex : ErrorCode::IndexOutOfDate,
         maintained ? kTextCorruptIndex : kTextIndexOutOfDate,
         "index holds " + Num(x.numRecords) + " records, table has " + Num(db.numRecords), xPath);
  }

  const auto yPath = beside.TreeFileFor(xPath);
  if (!yPath) {
    std::string yName = xPath.filename().string();
    yName[yName.rfind('.') + 1] = 'Y';
    Fail(ErrorCode::FileDoesNotExist, "File does not exist", "index tree", DirOf(xPath) / yName);
  }
  OpenedFile y = OpenIndexFile(*yPath);
  const Header& yh = y.header;
  const px::FileType wantY = named ? px::FileType::NamedTree : px::FileType::SecondaryTree;
  if (yh.fileType != wantY) {
    Fail(ErrorCode::CorruptHeader, kTextCorruptHeader,
         "file type " + Num(static_cast<int>(yh.fileType)) + " is not an index tree", *yPath);
  }
  if (yh.numFields != x.primaryKeyFields) {
    Fail(ErrorCode::CorruptIndex, kTextCorruptIndex, "tree key does not fit its index file",
         *yPath);
  }
  for (int i = 0; i < yh.numFields; ++i) {
    if (!SameDescriptor(yh.fields[i], x.fields[i])) {
      Fail(ErrorCode::CorruptIndex, kTextCorruptIndex,
           "tree key field " + Num(i + 1) + " differs from its index file", *yPath);
    }
  }
  if (StampBehind(yh.indexStamp, x.changeCount1)) {
    Fail(ErrorCode::IndexOutOfDate, kTextIndexOutOfDate,
         "tree stamp " + Num(yh.indexStamp) + ", index change count " + Num(x.changeCount1),
         *yPath);
  }
  const KeyOrder xOrder = SecondaryOrder(x);
  CheckTreeAgainstData(*c.file, x, xOrder, *y.file, yh, ErrorCode::CorruptIndex, kTextCorruptIndex,
                       observer);
}

Header OpenTableHeader(const File& dbFile) {
  Header db = ReadHeader(dbFile);
  if (db.fileType != px::FileType::KeyedData && db.fileType != px::FileType::UnkeyedData) {
    Fail(ErrorCode::CorruptHeader, kTextCorruptHeader,
         "file type " + Num(static_cast<int>(db.fileType)) + " is not a table", dbFile.Path());
  }
  return db;
}

std::unique_ptr<File> OpenTableFile(const fs::path& dbFile) {
  std::error_code ec;
  if (!fs::exists(dbFile, ec)) {
    Fail(ErrorCode::TableDoesNotExist, "Table does not exist", {}, dbFile);
  }
  return std::make_unique<File>(dbFile);
}

std::vector<SecondaryCandidate> LoadSecondaries(Beside& beside) {
  std::vector<SecondaryCandidate> out;
  for (const fs::path& x : beside.SecondaryDataFiles()) {
    SecondaryCandidate c;
    c.xFile = x;
    try {
      c.file = std::make_unique<File>(x);
      c.header = ReadHeader(*c.file);
    } catch (const EngineError& e) {
      c.problem = e.what();
      c.problemCode = e.Code();
      c.file.reset();
    }
    out.push_back(std::move(c));
  }
  return out;
}

}  // namespace

void VerifyTable(const fs::path& dbFile, const std::string& indexName, ChainObserver* dataBlocks) {
  const std::unique_ptr<File> file = OpenTableFile(dbFile);
  const Header db = OpenTableHeader(*file);
  if (db.Encrypted()) {
    Fail(ErrorCode::TableEncrypted, "Table is encrypted", "no password", dbFile);
  }
  Beside beside(dbFile);
  CheckBlobFile(beside, db);
  CheckValFile(beside, db);

  const bool keyed = db.fileType == px::FileType::KeyedData;
  const KeyOrder dbOrder = keyed ? PrimaryOrder(db) : KeyOrder();

  // Pick the secondary index first: an unknown name fails before any long walk.
  std::optional<SecondaryCandidate> chosen;
  if (!indexName.empty()) {
    std::vector<SecondaryCandidate> all = LoadSecondaries(beside);
    const SecondaryCandidate* unreadable = nullptr;
    for (SecondaryCandidate& c : all) {
      if (!c.file) {
        if (!unreadable) unreadable = &c;
        continue;
      }
      if (EqualsIgnoringCase(IndexNameOf(c.xFile, c.header, db), indexName)) {
        chosen = std::move(c);
        break;
      }
    }
    if (!chosen) {
      // A damaged index file may be the one asked for; say so rather than "does not exist".
      if (unreadable) {
        throw EngineError(unreadable->problemCode, unreadable->problem);
      }
      Fail(ErrorCode::IndexDoesNotExist, "Index does not exist", indexName, dbFile);
    }
  }

  std::optional<Header> primary;
  if (keyed) {
    primary = CheckPrimaryIndex(*file, db, dbOrder, beside, dataBlocks);  // walks the data chain
  } else {
    ChainWalker chain(*file, db, ErrorCode::CorruptFile, kTextCorruptFile, nullptr, dataBlocks);
    chain.Drain();
    chain.CheckFreeList();
  }
  if (chosen) CheckSecondaryIndex(db, primary ? &*primary : nullptr, *chosen, beside);
}

void VerifyDataFile(const fs::path& dbFile, ChainObserver* dataBlocks) {
  const std::unique_ptr<File> file = OpenTableFile(dbFile);
  const Header db = OpenTableHeader(*file);
  if (db.Encrypted()) {
    Fail(ErrorCode::TableEncrypted, "Table is encrypted", "no password", dbFile);
  }
  const bool keyed = db.fileType == px::FileType::KeyedData;
  const KeyOrder dbOrder = keyed ? PrimaryOrder(db) : KeyOrder();
  ChainWalker chain(*file, db, ErrorCode::CorruptFile, kTextCorruptFile, keyed ? &dbOrder : nullptr,
                    dataBlocks);
  chain.Drain();
  chain.CheckFreeList();
}

void VerifySecondaryIndexFile(const fs::path& dbFile, const fs::path& xFile,
                              ChainObserver* entryBlocks) {
  const std::unique_ptr<File> file = OpenTableFile(dbFile);
  const Header db = OpenTableHeader(*file);
  if (db.Encrypted()) {
    Fail(ErrorCode::TableEncrypted, "Table is encrypted", "no password", dbFile);
  }
  Beside beside(dbFile);
  SecondaryCandidate c;
  c.xFile = xFile;
  c.file = std::make_unique<File>(xFile);
  c.header = ReadHeader(*c.file);
  // The stamp comparison needs only the primary index's header; a missing or damaged .PX is
  // the primary check's to report.
  std::optional<Header> primary;
  if (db.fileType == px::FileType::KeyedData) {
    if (const auto pxPath = beside.FindExt(".PX")) {
      try {
        const OpenedFile px = OpenIndexFile(*pxPath);
        if (px.header.fileType == px::FileType::PrimaryIndex) primary = px.header;
      } catch (const EngineError&) {
      }
    }
  }
  CheckSecondaryIndex(db, primary ? &*primary : nullptr, c, beside, entryBlocks);
}

TableInfo DescribeTable(const fs::path& dbFile) {
  const std::unique_ptr<File> file = OpenTableFile(dbFile);
  const Header db = OpenTableHeader(*file);
  TableInfo info;
  info.level = px::LevelName(db.version);
  info.version = db.version;
  info.codePage = db.codePage;
  info.sortOrder = db.sortOrder;
  info.sortOrderId = db.sortOrderId;
  info.numRecords = db.numRecords;
  info.blockSize = static_cast<int>(db.BlockSize());
  info.keyed = db.fileType == px::FileType::KeyedData;
  info.encrypted = db.Encrypted();
  info.keyFields = db.primaryKeyFields;
  for (const px::Field& f : db.fields) info.fields.push_back(InfoOf(f));
  Beside beside(dbFile);
  for (SecondaryCandidate& c : LoadSecondaries(beside)) {
    SecondaryIndexInfo s;
    s.xFile = c.xFile;
    if (auto y = beside.TreeFileFor(c.xFile)) s.yFile = *y;
    if (!c.file) {
      s.problem = c.problem;
    } else {
      const Header& x = c.header;
      s.name = IndexNameOf(c.xFile, x, db);
      s.maintained = px::IsMaintained(x.fileType);
      s.caseInsensitive = (x.indexFlags & px::kIndexFlagCaseInsensitive) != 0;
      const int tail = db.primaryKeyFields > 0 ? db.primaryKeyFields + 1 : 3;
      for (int i = 0; i < x.numFields - tail; ++i) {
        FieldInfo fi = InfoOf(x.fields[i]);
        const int n = x.hasDataHeader ? x.fields[i].number : x.indexFieldNumber;
        if (n >= 1 && n <= db.numFields) fi.name = db.fields[n - 1].name;
        s.fields.push_back(fi);
      }
    }
    info.indexes.push_back(std::move(s));
  }
  return info;
}

std::vector<fs::path> ExistingTableFiles(const fs::path& dbFile) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (fs::is_regular_file(dbFile, ec)) out.push_back(dbFile);
  Beside beside(dbFile);
  for (const char* ext : {".PX", ".MB", ".VAL"}) {
    if (auto p = beside.FindExt(ext)) out.push_back(*p);
  }
  for (const fs::path& x : beside.SecondaryDataFiles()) {
    out.push_back(x);
    if (auto y = beside.TreeFileFor(x)) out.push_back(*y);
  }
  return out;
}

}  // namespace zel::engine
