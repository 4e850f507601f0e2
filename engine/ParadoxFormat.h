#pragma once
// Paradox file layout: header offsets, file and field types, block layout, and a parser that
// validates the common and data header of .DB, .PX, .Xnn/.XGn and .Ynn/.YGn files. Shared by the
// reader (verification) and the writer, so both agree on every offset.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zel::engine::px {

// ---- Little-endian helpers (headers and block headers are little-endian) -------------------
inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t LeS16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(Le16(p));
}
inline std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void PutLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// ---- Common header, offsets 0x00..0x57 (every file type) -----------------------------------
namespace off {
inline constexpr std::size_t RecordSize = 0x00;           // u16
inline constexpr std::size_t HeaderSize = 0x02;           // u16, offset of block 1
inline constexpr std::size_t FileType = 0x04;             // u8, see FileType
inline constexpr std::size_t BlockSizeCode = 0x05;        // u8, block size in KiB
inline constexpr std::size_t NumRecords = 0x06;           // u32; PX/Y: entries on all levels
inline constexpr std::size_t UsedBlocks = 0x0A;           // u16, blocks in the chain
inline constexpr std::size_t FileBlocks = 0x0C;           // u16, blocks in the file (chain + free)
inline constexpr std::size_t FirstBlock = 0x0E;           // u16, 0 when there are no blocks
inline constexpr std::size_t LastBlock = 0x10;            // u16
inline constexpr std::size_t Unknown12 = 0x12;            // u16
inline constexpr std::size_t ModifiedFlags1 = 0x14;       // u8, non-zero: needs a rebuild
inline constexpr std::size_t IndexFieldNumber = 0x15;     // u8, X files: first indexed DB field
inline constexpr std::size_t PrimaryWorkspace = 0x16;     // 4-byte runtime pointer
inline constexpr std::size_t SecondWorkspace = 0x1A;      // 4-byte runtime pointer
inline constexpr std::size_t IndexRoot = 0x1E;            // u16, PX/Y root block
inline constexpr std::size_t IndexLevels = 0x20;          // u8, PX/Y tree height, 0 = empty
inline constexpr std::size_t NumFields = 0x21;            // s16
inline constexpr std::size_t PrimaryKeyFields = 0x23;     // s16
inline constexpr std::size_t Encryption1 = 0x25;          // u32 (levels 3.x: the key)
inline constexpr std::size_t SortOrder = 0x29;            // u8
inline constexpr std::size_t ModifiedFlags2 = 0x2A;       // u8, non-zero: needs a rebuild
inline constexpr std::size_t IndexStamp = 0x2C;           // u8, PX/Y: data file's 0x2D at sync
inline constexpr std::size_t ChangeCount1 = 0x2D;         // u8, data change counter
inline constexpr std::size_t ChangeCount2 = 0x2E;         // u8, definition counter
inline constexpr std::size_t PrimaryStamp = 0x2F;         // u8, X files: PX 0x2C at build
inline constexpr std::size_t TableNamePtrPtr = 0x30;      // runtime pointer
inline constexpr std::size_t FieldInfoPtr = 0x34;         // runtime pointer
inline constexpr std::size_t WriteProtected = 0x38;       // u8
inline constexpr std::size_t FileVersion = 0x39;          // u8, see Version
inline constexpr std::size_t MaxBlocks = 0x3A;            // u16
inline constexpr std::size_t AuxPasswords = 0x3D;         // u8
inline constexpr std::size_t Unknown3E = 0x3E;            // u16, 0x0F1F in plain DB/X files
inline constexpr std::size_t CryptInfoStart = 0x40;       // pointer, 0 unless encrypted
inline constexpr std::size_t CryptInfoEnd = 0x44;         // pointer, 0 unless encrypted
inline constexpr std::size_t AutoInc = 0x49;              // u32, last value handed out
inline constexpr std::size_t FirstFreeBlock = 0x4D;       // u16, head of the free list
inline constexpr std::size_t IndexUpdateRequired = 0x4F;  // u8
inline constexpr std::size_t RealHeaderSize = 0x51;       // u16
inline constexpr std::size_t IndexFlags = 0x55;           // u8, DB: RI; X: 0x10 desc, 0x01 nocase
inline constexpr std::size_t Unknown56 = 0x56;            // u8, 0x20 in level>=4 DB/X files
inline constexpr std::size_t CommonHeaderEnd = 0x58;

// ---- Data header, 0x58..0x77 (DB and X files, level >= 4) ---------------------------------
inline constexpr std::size_t FileVersionId2 = 0x58;      // u16, 0x0100 + version
inline constexpr std::size_t FileVersionId3 = 0x5A;      // u16, same
inline constexpr std::size_t Encryption2 = 0x5C;         // u32, 0 = plain
inline constexpr std::size_t FileUpdateTime = 0x60;      // u32, definition timestamp
inline constexpr std::size_t HiFieldId = 0x64;           // u16
inline constexpr std::size_t FieldNumbersOffset = 0x66;  // u16, offset - 0x58
inline constexpr std::size_t IndexNameOffset = 0x68;     // u16, offset - 0x58 (XGn only)
inline constexpr std::size_t CodePage = 0x6A;            // u16
inline constexpr std::size_t Unknown6C = 0x6C;           // u8
inline constexpr std::size_t Unknown6D = 0x6D;           // u8
inline constexpr std::size_t SortOrderIdOffset = 0x6E;   // u16, offset - 0x58
inline constexpr std::size_t ChangeCount4 = 0x70;        // s16
inline constexpr std::size_t DataHeaderEnd = 0x78;
}  // namespace off

inline constexpr std::size_t kDataHeaderBase = 0x58;  // data-header offsets are stored minus this
inline constexpr std::uint32_t kEncryption1Plain4x = 0xFF00FF00;  // level >= 4 DB/X files
inline constexpr std::uint16_t kUnknown3EPlain = 0x0F1F;
inline constexpr std::uint8_t kXFileStamp = 0xFF;  // X files' 0x2C
inline constexpr std::uint8_t kIndexFlagDescending = 0x10;
inline constexpr std::uint8_t kIndexFlagCaseInsensitive = 0x01;
inline constexpr std::uint16_t kDescendingFieldBit = 0x8000;  // in the fieldNumbers array

// ---- File types (byte 0x04) -----------------------------------------------------------------
enum class FileType : std::uint8_t {
  KeyedData = 0,           // .DB with a primary key
  PrimaryIndex = 1,        // .PX
  UnkeyedData = 2,         // .DB heap
  SecondaryData = 3,       // .Xnn, not maintained
  SecondaryTree = 4,       // .Ynn
  SecondaryDataMaint = 5,  // .Xnn, maintained
  NamedData = 6,           // .XGn, not maintained
  NamedTree = 7,           // .YGn
  NamedDataMaint = 8,      // .XGn, maintained
};
inline constexpr int kMaxFileType = 8;

// Files laid out like a .DB (field names, data header); the others (.PX, .Y) carry descriptors
// only.
inline constexpr bool IsDataLayout(FileType t) {
  return t == FileType::KeyedData || t == FileType::UnkeyedData || t == FileType::SecondaryData ||
         t == FileType::SecondaryDataMaint || t == FileType::NamedData ||
         t == FileType::NamedDataMaint;
}
inline constexpr bool IsTreeLayout(FileType t) {
  return t == FileType::PrimaryIndex || t == FileType::SecondaryTree || t == FileType::NamedTree;
}
inline constexpr bool IsSecondaryData(FileType t) {
  return t == FileType::SecondaryData || t == FileType::SecondaryDataMaint ||
         t == FileType::NamedData || t == FileType::NamedDataMaint;
}
inline constexpr bool IsMaintained(FileType t) {
  return t == FileType::SecondaryDataMaint || t == FileType::NamedDataMaint;
}

// ---- Version byte 0x39 ----------------------------------------------------------------------
namespace Version {
inline constexpr std::uint8_t Level30 = 0x03;
inline constexpr std::uint8_t Level35 = 0x04;
inline constexpr std::uint8_t Level4 = 0x09;  // 0x05..0x09 are level 4
inline constexpr std::uint8_t Level5 = 0x0B;  // 0x0A, 0x0B are level 5
inline constexpr std::uint8_t Level7 = 0x0C;
inline constexpr std::uint8_t Min = 0x03;
inline constexpr std::uint8_t Max = 0x0C;
}  // namespace Version

// "3.0", "3.5", "4", "5" or "7".
std::string LevelName(std::uint8_t version);
// The version byte a writer stores for table level 3, 4, 5 or 7 (0 when unknown).
std::uint8_t VersionForLevel(int level);
// Level >= 4 DB and X files have the data header at 0x58 and their variable part at 0x78.
inline constexpr bool HasDataHeader(FileType t, std::uint8_t version) {
  return IsDataLayout(t) && version >= 0x05;
}
inline constexpr std::size_t TableNameLength(std::uint8_t version) {
  return version >= Version::Level7 ? 261 : 79;
}

// ---- Block size (byte 0x05) -----------------------------------------------------------------
inline constexpr std::size_t kBlockUnit = 1024;
// Codes seen in files made by Borland engines: 1..4 (classic), 8, 16 and 32 (32-bit engines).
inline constexpr bool IsValidBlockSizeCode(std::uint8_t code) {
  return (code >= 1 && code <= 4) || code == 8 || code == 16 || code == 32;
}

// ---- Blocks ---------------------------------------------------------------------------------
// Block k (1-based) starts at headerSize + (k-1) * blockSize; 6-byte header, then records.
namespace blk {
inline constexpr std::size_t Next = 0;         // u16, 0 = last in chain
inline constexpr std::size_t Prev = 2;         // u16, 0 = first in chain
inline constexpr std::size_t AddDataSize = 4;  // s16, (records-1)*recordSize; -recordSize: empty
inline constexpr std::size_t HeaderSize = 6;
}  // namespace blk
inline constexpr std::size_t BlockCapacity(std::size_t blockSize, std::size_t recordSize) {
  return recordSize == 0 || blockSize < blk::HeaderSize
             ? 0
             : (blockSize - blk::HeaderSize) / recordSize;
}

// Index entries (.PX, .Y): key bytes then three sortable shorts: child block, statistic, 0.
inline constexpr std::size_t kIndexEntryTrailer = 6;
// Sortable big-endian shorts (XOR of the top bit).
inline std::uint16_t SortableU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(((p[0] ^ 0x80) << 8) | p[1]);
}
inline void PutSortableU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>((v >> 8) ^ 0x80);
  p[1] = static_cast<std::uint8_t>(v);
}

// ---- Field types ----------------------------------------------------------------------------
namespace FieldCode {
inline constexpr std::uint8_t Alpha = 0x01;
inline constexpr std::uint8_t Date = 0x02;
inline constexpr std::uint8_t Short = 0x03;
inline constexpr std::uint8_t Long = 0x04;
inline constexpr std::uint8_t Currency = 0x05;
inline constexpr std::uint8_t Number = 0x06;
inline constexpr std::uint8_t Logical = 0x09;
inline constexpr std::uint8_t Memo = 0x0C;
inline constexpr std::uint8_t Blob = 0x0D;
inline constexpr std::uint8_t FormattedMemo = 0x0E;
inline constexpr std::uint8_t Ole = 0x0F;
inline constexpr std::uint8_t Graphic = 0x10;
inline constexpr std::uint8_t Time = 0x14;
inline constexpr std::uint8_t Timestamp = 0x15;
inline constexpr std::uint8_t AutoInc = 0x16;
inline constexpr std::uint8_t Bcd = 0x17;
inline constexpr std::uint8_t Bytes = 0x18;
}  // namespace FieldCode
inline constexpr std::size_t kBcdBytes = 17;
inline constexpr std::size_t kBlobDescriptorBytes = 10;
inline constexpr int kMaxFields = 255;

bool IsBlobField(std::uint8_t code);
// Bytes the field takes in a record, or 0 when the (type, size byte) pair is invalid.
std::size_t FieldBytes(std::uint8_t code, std::uint8_t sizeByte);
// The type letter used in listings ("A", "N", "$", "+", ...), "?" when unknown.
char FieldLetter(std::uint8_t code);

// ---- Sort orders (byte 0x29 and the sortOrderID string) -------------------------------------
inline constexpr std::uint8_t kSortAscii = 0x00;
// The byte known to go with a sortOrderID string, or -1 when the string is not known.
int SortByteForId(std::string_view sortOrderId);

// ---- Parsed header --------------------------------------------------------------------------
struct Field {
  std::uint8_t code = 0;
  std::uint8_t sizeByte = 0;
  std::size_t bytes = 0;     // bytes in a record
  std::size_t offset = 0;    // offset in a record
  std::string name;          // empty in .PX/.Y files
  std::uint16_t number = 0;  // fieldNumbers entry without the descending bit (level >= 4)
  bool descending = false;
};

struct Header {
  // Common header.
  std::uint16_t recordSize = 0;
  std::uint16_t headerSize = 0;
  FileType fileType = FileType::KeyedData;
  std::uint8_t blockSizeCode = 0;
  std::uint32_t numRecords = 0;
  std::uint16_t usedBlocks = 0;
  std::uint16_t fileBlocks = 0;
  std::uint16_t firstBlock = 0;
  std::uint16_t lastBlock = 0;
  std::uint8_t modifiedFlags1 = 0;
  std::uint8_t indexFieldNumber = 0;
  std::uint16_t indexRoot = 0;
  std::uint8_t indexLevels = 0;
  int numFields = 0;
  int primaryKeyFields = 0;
  std::uint32_t encryption1 = 0;
  std::uint8_t sortOrder = 0;
  std::uint8_t modifiedFlags2 = 0;
  std::uint8_t indexStamp = 0;
  std::uint8_t changeCount1 = 0;
  std::uint8_t changeCount2 = 0;
  std::uint8_t primaryStamp = 0;
  std::uint8_t version = 0;
  std::uint32_t autoInc = 0;
  std::uint16_t firstFreeBlock = 0;
  std::uint8_t indexUpdateRequired = 0;
  std::uint16_t realHeaderSize = 0;
  std::uint8_t indexFlags = 0;
  // Data header (level >= 4 DB and X files).
  bool hasDataHeader = false;
  std::uint32_t encryption2 = 0;
  std::uint32_t fileUpdateTime = 0;
  std::uint16_t codePage = 0;
  std::string sortOrderId;
  std::string indexName;  // XGn files only
  // Variable part.
  std::vector<Field> fields;

  std::size_t BlockSize() const { return std::size_t{blockSizeCode} * kBlockUnit; }
  std::size_t Capacity() const { return BlockCapacity(BlockSize(), recordSize); }
  bool Encrypted() const {
    return hasDataHeader ? encryption2 != 0
                         : (version < 0x05 || IsTreeLayout(fileType)) && encryption1 != 0 &&
                               encryption1 != kEncryption1Plain4x;
  }
  // Bytes of the first `count` fields.
  std::size_t PrefixBytes(int count) const;
  std::uint64_t BlockOffset(std::uint32_t block) const {
    return headerSize + std::uint64_t{block - 1} * BlockSize();
  }
};

// Bytes of the fixed part every file starts with; a shorter file is not a Paradox file.
inline constexpr std::size_t kMinHeaderBytes = off::CommonHeaderEnd;

// Parses and validates a header. `bytes` holds the file from offset 0, at least min(headerSize,
// file size) bytes. Checks: file type, version, block size code, record and header sizes against
// the fields, field count and key field count, field types and sizes, the variable part within
// the header, sort byte against the sortOrderID string. On failure returns false and puts a
// short reason (no file name) in `problem`.
bool ParseHeader(std::span<const std::uint8_t> bytes, Header& header, std::string& problem);

}  // namespace zel::engine::px
