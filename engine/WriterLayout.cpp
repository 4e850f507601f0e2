#include "engine/WriterLayout.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "engine/EngineError.h"
#include "engine/TableWriter.h"

namespace zel::engine::writer {
namespace {

// Values Borland engines leave in the small counters nobody documents; mirrored from the
// engine's own empty tables.
constexpr std::uint16_t kUnknown12Data = 7, kUnknown12Primary = 13, kUnknown12Secondary = 11,
                        kUnknown12Tree = 12;
// Runtime pointers of the engine that wrote the file; meaningless on disk but never zero in
// Borland-made files, so a plausible fixed value is stored.
constexpr std::uint32_t kFakePointer = 0x6BDF2C00;

constexpr std::uint8_t kBlockCodes[] = {2, 4, 16, 32};
// Level 3 tables come from Paradox for DOS, whose blocks are at most 4 KiB; its 3.0 tables start
// at 1 KiB (every 3.0 sample), its 3.5 ones at 2 KiB.
constexpr std::uint8_t kBlockCodes30[] = {1, 2, 4};
constexpr std::uint8_t kBlockCodes35[] = {2, 4};
constexpr std::size_t kMaxBlocks = 65535;

}  // namespace

std::vector<std::uint8_t> BuildHeader(const HeaderSpec& s, const std::string& file) {
  namespace off = px::off;
  const bool data = px::IsDataLayout(s.fileType);
  // Level 3 files have neither the data header nor field numbers and sort order name.
  const bool dataHeader = px::HasDataHeader(s.fileType, s.version);
  const std::size_t n = s.fields.size();
  const std::size_t tn = px::TableNameLength(s.version);
  const std::size_t base = dataHeader ? px::off::DataHeaderEnd : px::off::CommonHeaderEnd;

  std::vector<std::uint8_t> v(base);
  auto put = [&v](const void* p, std::size_t len) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    v.insert(v.end(), b, b + len);
  };
  auto putPtr = [&](std::uint32_t value) {
    std::uint8_t b[4];
    px::PutLe32(b, value);
    put(b, 4);
  };
  for (const auto& f : s.fields) {
    const std::uint8_t d[2] = {f.code, f.sizeByte};
    put(d, 2);
  }
  putPtr(kFakePointer + 0x10);
  if (data)
    for (std::size_t i = 0; i < n; ++i)
      putPtr(kFakePointer + 0x20 + 4 * static_cast<std::uint32_t>(i));
  std::string name = s.tableName.substr(0, tn - 1);
  name.resize(tn, '\0');
  put(name.data(), tn);
  std::size_t fieldNumbersAt = 0, sortIdAt = 0, indexNameAt = 0;
  std::uint16_t hiField = 0;
  if (data) {
    for (const auto& f : s.fields) put(f.name.c_str(), f.name.size() + 1);
  }
  if (dataHeader) {
    fieldNumbersAt = v.size();
    for (const auto& f : s.fields) {
      std::uint8_t b[2];
      px::PutLe16(b, f.number);
      put(b, 2);
      hiField = std::max<std::uint16_t>(hiField, static_cast<std::uint16_t>(f.number & 0x7FFF));
    }
    sortIdAt = v.size();
    put(s.sortOrderId.c_str(), s.sortOrderId.size() + 1);
    if (!s.indexName.empty()) {
      indexNameAt = v.size();
      put(s.indexName.c_str(), s.indexName.size() + 1);
    }
  }
  const std::size_t real = v.size();
  // Paradox 3.0 ends the header where its contents end (every 3.0 sample); later levels round
  // it up to 2 KiB.
  const bool level30 = s.version == px::Version::Level30;
  const std::size_t headerSize = level30 ? real : (real + 0x7FF) & ~std::size_t{0x7FF};
  if (headerSize > 0xF800)
    throw EngineError(WriterErrorCode::InvalidDefinition,
                      "The table definition does not fit a header", file);
  v.resize(headerSize);

  std::uint8_t* h = v.data();
  const std::uint16_t blocks = s.blocks;
  px::PutLe16(h + off::RecordSize, s.recordSize);
  px::PutLe16(h + off::HeaderSize, static_cast<std::uint16_t>(headerSize));
  h[off::FileType] = static_cast<std::uint8_t>(s.fileType);
  h[off::BlockSizeCode] = s.blockSizeCode;
  px::PutLe32(h + off::NumRecords, s.numRecords);
  px::PutLe16(h + off::UsedBlocks, blocks);
  px::PutLe16(h + off::FileBlocks, blocks);
  px::PutLe16(h + off::FirstBlock, blocks ? 1 : 0);
  px::PutLe16(h + off::LastBlock, blocks);
  std::uint16_t unknown12 = kUnknown12Data;
  if (s.fileType == px::FileType::PrimaryIndex)
    unknown12 = kUnknown12Primary;
  else if (px::IsTreeLayout(s.fileType))
    unknown12 = kUnknown12Tree;
  else if (px::IsSecondaryData(s.fileType))
    unknown12 = kUnknown12Secondary;
  px::PutLe16(h + off::Unknown12, unknown12);
  h[off::IndexFieldNumber] = s.indexFieldNumber;
  if (s.fileType == px::FileType::KeyedData || px::IsSecondaryData(s.fileType)) {
    px::PutLe32(h + off::PrimaryWorkspace, kFakePointer + 0x100);
    px::PutLe32(h + off::SecondWorkspace, kFakePointer + 0x180);
  }
  if (px::IsTreeLayout(s.fileType)) {
    px::PutLe16(h + off::IndexRoot, s.indexRoot);
    h[off::IndexLevels] = s.indexLevels;
  }
  px::PutLe16(h + off::NumFields, static_cast<std::uint16_t>(n));
  px::PutLe16(h + off::PrimaryKeyFields, static_cast<std::uint16_t>(s.keyFields));
  if (dataHeader) px::PutLe32(h + off::Encryption1, px::kEncryption1Plain4x);
  h[off::SortOrder] = s.sortOrder;
  h[off::IndexStamp] = s.indexStamp;
  h[off::ChangeCount1] = s.change1;
  h[off::ChangeCount2] = s.change2;
  h[off::PrimaryStamp] = s.primaryStamp;
  px::PutLe32(h + off::TableNamePtrPtr, kFakePointer + 0x204);
  px::PutLe32(h + off::FieldInfoPtr, kFakePointer + 0x200);
  h[off::FileVersion] = s.version;
  px::PutLe16(h + off::MaxBlocks, blocks);
  if (data) px::PutLe16(h + off::Unknown3E, px::kUnknown3EPlain);  // level 3 files too
  px::PutLe32(h + off::AutoInc, s.autoInc);
  if (!level30) px::PutLe16(h + off::RealHeaderSize, static_cast<std::uint16_t>(real));
  h[off::IndexFlags] = s.indexFlags;
  if (dataHeader) {
    h[off::Unknown56] = 0x20;
    const auto verId = static_cast<std::uint16_t>(0x0100 + s.version);
    px::PutLe16(h + off::FileVersionId2, verId);
    px::PutLe16(h + off::FileVersionId3, verId);
    px::PutLe32(h + off::FileUpdateTime, s.updateTime);
    px::PutLe16(h + off::HiFieldId, static_cast<std::uint16_t>(hiField + 1));
    px::PutLe16(h + off::FieldNumbersOffset,
                static_cast<std::uint16_t>(fieldNumbersAt - px::kDataHeaderBase));
    if (indexNameAt)
      px::PutLe16(h + off::IndexNameOffset,
                  static_cast<std::uint16_t>(indexNameAt - px::kDataHeaderBase));
    px::PutLe16(h + off::CodePage, s.codePage);
    h[off::Unknown6C] = 1;
    h[off::Unknown6D] = 1;
    px::PutLe16(h + off::SortOrderIdOffset,
                static_cast<std::uint16_t>(sortIdAt - px::kDataHeaderBase));
    px::PutLe16(h + off::ChangeCount4, px::IsSecondaryData(s.fileType) ? 0 : 1);
  }
  return v;
}

std::uint8_t ChooseBlockSizeCode(std::size_t recordSize, std::uint64_t records,
                                 std::size_t minPerBlock, bool indexTree, std::uint8_t version) {
  std::uint8_t fallback = 0;
  std::span<const std::uint8_t> codes(kBlockCodes);
  if (version == px::Version::Level30) codes = kBlockCodes30;
  if (version == px::Version::Level35) codes = kBlockCodes35;
  for (std::uint8_t code : codes) {
    const std::size_t cap = px::BlockCapacity(code * px::kBlockUnit, recordSize);
    if (cap < minPerBlock) continue;
    if (indexTree) {
      // Prefer a tree of at most two levels: fewer reads, and every reader copes with it.
      const std::uint64_t fill = cap - 1;
      if (!fallback) fallback = code;
      if (records <= fill * fill) return code;
      fallback = code;
    } else if ((records + cap - 1) / cap <= kMaxBlocks) {
      return code;
    }
  }
  return fallback;
}

BlockWriter::BlockWriter(TempFile& file, std::size_t blockSize, std::size_t recordSize,
                         std::size_t keyBytes)
    : file_(file),
      blockSize_(blockSize),
      recordSize_(recordSize),
      keyBytes_(keyBytes),
      capacity_(px::BlockCapacity(blockSize, recordSize)),
      block_(blockSize) {}

std::uint32_t BlockWriter::CurrentBlock() const noexcept {
  return blocks_ + (inBlock_ == capacity_ ? 2 : 1);
}

void BlockWriter::Emit(bool last) {
  std::uint8_t* b = block_.data();
  const std::uint32_t number = blocks_ + 1;
  px::PutLe16(b + px::blk::Next, last ? 0 : static_cast<std::uint16_t>(number + 1));
  px::PutLe16(b + px::blk::Prev, static_cast<std::uint16_t>(number - 1));
  px::PutLe16(b + px::blk::AddDataSize,
              static_cast<std::uint16_t>(static_cast<std::int16_t>((inBlock_ - 1) * recordSize_)));
  // Bytes past the last record are zero rather than leftovers of earlier records.
  std::memset(b + px::blk::HeaderSize + inBlock_ * recordSize_, 0,
              blockSize_ - px::blk::HeaderSize - inBlock_ * recordSize_);
  file_.Append(b, blockSize_);
  counts_.push_back(static_cast<std::uint32_t>(inBlock_));
  ++blocks_;
  inBlock_ = 0;
}

void BlockWriter::Add(const std::uint8_t* record) {
  if (inBlock_ == capacity_) Emit(false);
  if (inBlock_ == 0) firstKeys_.insert(firstKeys_.end(), record, record + keyBytes_);
  std::memcpy(block_.data() + px::blk::HeaderSize + inBlock_ * recordSize_, record, recordSize_);
  ++inBlock_;
  ++records_;
}

void BlockWriter::Finish() {
  if (inBlock_ > 0) Emit(true);
}

TreeResult WriteIndexTree(TempFile& file, std::size_t blockSize, const IndexLeaves& leaves) {
  struct Entry {
    const std::uint8_t* key;
    std::uint32_t child;
    std::uint32_t stat;
  };
  TreeResult result;
  const std::size_t entrySize = leaves.keyBytes + px::kIndexEntryTrailer;
  const std::size_t capacity = px::BlockCapacity(blockSize, entrySize);
  const std::size_t fill = capacity > 2 ? capacity - 1 : capacity;
  std::vector<Entry> level;
  for (std::size_t i = 0; i < leaves.blocks.size(); ++i)
    level.push_back({leaves.keys.data() + i * leaves.keyBytes, leaves.blocks[i], leaves.counts[i]});
  if (level.empty()) return result;

  std::vector<std::vector<Entry>> blocks(1);  // blocks[0] is the root, block 1
  result.levels = 1;
  while (level.size() > fill) {
    std::vector<Entry> parents;
    for (std::size_t at = 0; at < level.size(); at += fill) {
      const std::size_t end = std::min(level.size(), at + fill);
      std::uint32_t sum = 0;
      for (std::size_t i = at; i < end; ++i) sum += level[i].stat;
      blocks.emplace_back(level.begin() + static_cast<std::ptrdiff_t>(at),
                          level.begin() + static_cast<std::ptrdiff_t>(end));
      parents.push_back({level[at].key, static_cast<std::uint32_t>(blocks.size()), sum});
    }
    level = std::move(parents);
    ++result.levels;
  }
  blocks[0] = std::move(level);

  std::vector<std::uint8_t> buf(blockSize);
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    std::fill(buf.begin(), buf.end(), 0);
    const auto number = static_cast<std::uint16_t>(b + 1);
    px::PutLe16(buf.data() + px::blk::Next, b + 1 < blocks.size() ? number + 1 : 0);
    px::PutLe16(buf.data() + px::blk::Prev, static_cast<std::uint16_t>(number - 1));
    px::PutLe16(buf.data() + px::blk::AddDataSize,
                static_cast<std::uint16_t>((blocks[b].size() - 1) * entrySize));
    std::uint8_t* p = buf.data() + px::blk::HeaderSize;
    for (const Entry& e : blocks[b]) {
      std::memcpy(p, e.key, leaves.keyBytes);
      p += leaves.keyBytes;
      // The statistic is a 16-bit field; large subtrees keep its low 16 bits.
      px::PutSortableU16(p, static_cast<std::uint16_t>(e.child));
      px::PutSortableU16(p + 2, static_cast<std::uint16_t>(e.stat));
      px::PutSortableU16(p + 4, 0);
      p += px::kIndexEntryTrailer;
    }
    file.Append(buf.data(), buf.size());
    result.entries += static_cast<std::uint32_t>(blocks[b].size());
  }
  result.blocks = static_cast<std::uint16_t>(blocks.size());
  return result;
}

}  // namespace zel::engine::writer
