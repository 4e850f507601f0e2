#pragma once
// How the writer lays out Paradox files: headers, data blocks filled in order, and the B-trees
// of .PX and .Y files.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ParadoxFormat.h"
#include "engine/WriterIO.h"

namespace zel::engine::writer {

struct FieldSpec {
  std::uint8_t code = 0;
  std::uint8_t sizeByte = 0;
  std::string name;          // unused in .PX/.Y headers
  std::uint16_t number = 0;  // fieldNumbers entry
};

struct HeaderSpec {
  px::FileType fileType = px::FileType::KeyedData;
  std::uint8_t version = px::Version::Level7;
  std::uint8_t blockSizeCode = 2;
  std::uint16_t recordSize = 0;
  std::vector<FieldSpec> fields;
  int keyFields = 0;  // byte 0x23
  std::uint32_t numRecords = 0;
  std::uint16_t blocks = 0;  // all in the chain, numbered 1..blocks
  std::uint16_t indexRoot = 0;
  std::uint8_t indexLevels = 0;
  std::uint8_t indexFieldNumber = 0;
  std::uint8_t indexStamp = 0;    // 0x2C
  std::uint8_t change1 = 0;       // 0x2D
  std::uint8_t change2 = 0;       // 0x2E
  std::uint8_t primaryStamp = 0;  // 0x2F
  std::uint32_t autoInc = 0;
  std::uint8_t indexFlags = 0;
  std::uint8_t sortOrder = px::kSortAscii;
  std::string sortOrderId = "ascii";
  std::uint16_t codePage = 1252;
  std::uint32_t updateTime = 0;
  std::string tableName;
  std::string indexName;  // .XGn only
};

// The header bytes, headerSize long (a multiple of 2 KiB). Throws EngineError naming `file`
// when the header would not fit the 16-bit header size.
std::vector<std::uint8_t> BuildHeader(const HeaderSpec& spec, const std::string& file);

// Smallest block size code (2, 4, 16 or 32 KiB; level 3.0: 1, 2 or 4, 3.5: 2 or 4) that holds
// at least `minPerBlock` records of `recordSize` bytes and keeps `records` within the 65535
// blocks a file can address; 0 if none.
std::uint8_t ChooseBlockSizeCode(std::size_t recordSize, std::uint64_t records,
                                 std::size_t minPerBlock, bool indexTree,
                                 std::uint8_t version = px::Version::Level7);

// Appends records to data blocks, each block filled to capacity before the next starts, and
// remembers each block's first key and record count for the index above it.
class BlockWriter {
 public:
  BlockWriter(TempFile& file, std::size_t blockSize, std::size_t recordSize, std::size_t keyBytes);
  void Add(const std::uint8_t* record);
  void Finish();
  // The block the next record goes to (1-based).
  std::uint32_t CurrentBlock() const noexcept;
  std::uint32_t Blocks() const noexcept { return blocks_; }
  std::size_t Capacity() const noexcept { return capacity_; }
  std::uint64_t Records() const noexcept { return records_; }
  const std::vector<std::uint8_t>& FirstKeys() const noexcept { return firstKeys_; }
  const std::vector<std::uint32_t>& Counts() const noexcept { return counts_; }

 private:
  void Emit(bool last);
  TempFile& file_;
  std::size_t blockSize_, recordSize_, keyBytes_, capacity_;
  std::vector<std::uint8_t> block_;
  std::size_t inBlock_ = 0;
  std::uint32_t blocks_ = 0;
  std::uint64_t records_ = 0;
  std::vector<std::uint8_t> firstKeys_;
  std::vector<std::uint32_t> counts_;
};

// Level-1 entries of an index: one per data block, its first key, block number and count.
struct IndexLeaves {
  std::size_t keyBytes = 0;
  std::vector<std::uint8_t> keys;
  std::vector<std::uint32_t> blocks;
  std::vector<std::uint32_t> counts;
};

struct TreeResult {
  std::uint16_t blocks = 0;
  std::uint32_t entries = 0;  // on all levels
  std::uint16_t root = 1;
  std::uint8_t levels = 0;
};

// Writes the tree blocks after the header already appended to `file`: the root in block 1, the
// leaves from block 2 on, each filled to one less than capacity, upper levels after them, all
// chained in block order. An empty index has no blocks, root 1 and 0 levels.
TreeResult WriteIndexTree(TempFile& file, std::size_t blockSize, const IndexLeaves& leaves);

}  // namespace zel::engine::writer
