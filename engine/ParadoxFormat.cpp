#include "engine/ParadoxFormat.h"

#include <cstring>

namespace zel::engine::px {

std::string LevelName(std::uint8_t version) {
  if (version == Version::Level30) return "3.0";
  if (version == Version::Level35) return "3.5";
  if (version >= 0x05 && version <= 0x09) return "4";
  if (version == 0x0A || version == 0x0B) return "5";
  if (version == Version::Level7) return "7";
  return "unknown (" + std::to_string(version) + ")";
}

std::uint8_t VersionForLevel(int level) {
  switch (level) {
    case 3:
      return Version::Level30;
    case 4:
      return Version::Level4;
    case 5:
      return Version::Level5;
    case 7:
      return Version::Level7;
    default:
      return 0;
  }
}

bool IsBlobField(std::uint8_t code) {
  return code == FieldCode::Memo || code == FieldCode::Blob || code == FieldCode::FormattedMemo ||
         code == FieldCode::Ole || code == FieldCode::Graphic;
}

std::size_t FieldBytes(std::uint8_t code, std::uint8_t sizeByte) {
  switch (code) {
    case FieldCode::Alpha:
    case FieldCode::Bytes:
      return sizeByte;  // 1..255; 0 is invalid
    case FieldCode::Date:
    case FieldCode::Long:
    case FieldCode::Time:
    case FieldCode::AutoInc:
      return sizeByte == 4 ? 4 : 0;
    case FieldCode::Short:
      return sizeByte == 2 ? 2 : 0;
    case FieldCode::Currency:
    case FieldCode::Number:
    case FieldCode::Timestamp:
      return sizeByte == 8 ? 8 : 0;
    case FieldCode::Logical:
      return sizeByte == 1 ? 1 : 0;
    case FieldCode::Memo:
    case FieldCode::Blob:
    case FieldCode::FormattedMemo:
    case FieldCode::Ole:
    case FieldCode::Graphic:
      // The size byte includes the 10-byte descriptor; the leader holds at most 240 bytes.
      return sizeByte >= kBlobDescriptorBytes && sizeByte <= kBlobDescriptorBytes + 240 ? sizeByte
                                                                                        : 0;
    case FieldCode::Bcd:
      return sizeByte <= 32 ? kBcdBytes : 0;  // the size byte holds the decimals
    default:
      return 0;
  }
}

char FieldLetter(std::uint8_t code) {
  switch (code) {
    case FieldCode::Alpha:
      return 'A';
    case FieldCode::Date:
      return 'D';
    case FieldCode::Short:
      return 'S';
    case FieldCode::Long:
      return 'I';
    case FieldCode::Currency:
      return '$';
    case FieldCode::Number:
      return 'N';
    case FieldCode::Logical:
      return 'L';
    case FieldCode::Memo:
      return 'M';
    case FieldCode::Blob:
      return 'B';
    case FieldCode::FormattedMemo:
      return 'F';
    case FieldCode::Ole:
      return 'O';
    case FieldCode::Graphic:
      return 'G';
    case FieldCode::Time:
      return 'T';
    case FieldCode::Timestamp:
      return '@';
    case FieldCode::AutoInc:
      return '+';
    case FieldCode::Bcd:
      return '#';
    case FieldCode::Bytes:
      return 'Y';
    default:
      return '?';
  }
}

int SortByteForId(std::string_view id) {
  // Only pairs seen in Borland-made files; an unknown string is not held against a table.
  struct Pair {
    const char* id;
    std::uint8_t byte;
  };
  static constexpr Pair kPairs[] = {
      {"ascii", 0x00},    {"china", 0x03},    {"ANSII850", 0x11}, {"BLROM800", 0x14},
      {"DBWINWE0", 0x40}, {"DBWINUS0", 0x4C}, {"intl850", 0x54},  {"ANSIINTL", 0x62},
      {"intl", 0xB7},     {"cyrr", 0xC0},     {"nordan40", 0xE6},
  };
  for (const Pair& p : kPairs) {
    if (id == p.id) return p.byte;
  }
  return -1;
}

std::size_t Header::PrefixBytes(int count) const {
  std::size_t total = 0;
  for (int i = 0; i < count && i < static_cast<int>(fields.size()); ++i) total += fields[i].bytes;
  return total;
}

namespace {

// A NUL-terminated string that must end inside [pos, end).
bool ReadCString(std::span<const std::uint8_t> bytes, std::size_t pos, std::size_t end,
                 std::string& out, std::size_t& next) {
  if (pos >= end) return false;
  const void* nul = std::memchr(bytes.data() + pos, 0, end - pos);
  if (!nul) return false;
  const std::size_t len = static_cast<const std::uint8_t*>(nul) - (bytes.data() + pos);
  out.assign(reinterpret_cast<const char*>(bytes.data() + pos), len);
  next = pos + len + 1;
  return true;
}

}  // namespace

bool ParseHeader(std::span<const std::uint8_t> bytes, Header& h, std::string& problem) {
  h = Header{};
  if (bytes.size() < kMinHeaderBytes) {
    problem = "file is shorter than a header (" + std::to_string(bytes.size()) + " bytes)";
    return false;
  }
  const std::uint8_t* b = bytes.data();
  h.recordSize = Le16(b + off::RecordSize);
  h.headerSize = Le16(b + off::HeaderSize);
  const std::uint8_t type = b[off::FileType];
  h.blockSizeCode = b[off::BlockSizeCode];
  h.numRecords = Le32(b + off::NumRecords);
  h.usedBlocks = Le16(b + off::UsedBlocks);
  h.fileBlocks = Le16(b + off::FileBlocks);
  h.firstBlock = Le16(b + off::FirstBlock);
  h.lastBlock = Le16(b + off::LastBlock);
  h.modifiedFlags1 = b[off::ModifiedFlags1];
  h.indexFieldNumber = b[off::IndexFieldNumber];
  h.indexRoot = Le16(b + off::IndexRoot);
  h.indexLevels = b[off::IndexLevels];
  h.numFields = LeS16(b + off::NumFields);
  h.primaryKeyFields = LeS16(b + off::PrimaryKeyFields);
  h.encryption1 = Le32(b + off::Encryption1);
  h.sortOrder = b[off::SortOrder];
  h.modifiedFlags2 = b[off::ModifiedFlags2];
  h.indexStamp = b[off::IndexStamp];
  h.changeCount1 = b[off::ChangeCount1];
  h.changeCount2 = b[off::ChangeCount2];
  h.primaryStamp = b[off::PrimaryStamp];
  h.version = b[off::FileVersion];
  h.autoInc = Le32(b + off::AutoInc);
  h.firstFreeBlock = Le16(b + off::FirstFreeBlock);
  h.indexUpdateRequired = b[off::IndexUpdateRequired];
  h.realHeaderSize = Le16(b + off::RealHeaderSize);
  h.indexFlags = b[off::IndexFlags];

  if (type > kMaxFileType) {
    problem = "unknown file type " + std::to_string(type);
    return false;
  }
  h.fileType = static_cast<FileType>(type);
  if (h.version < Version::Min || h.version > Version::Max) {
    problem = "unknown file version " + std::to_string(h.version);
    return false;
  }
  if (!IsValidBlockSizeCode(h.blockSizeCode)) {
    problem = "invalid block size code " + std::to_string(h.blockSizeCode);
    return false;
  }
  h.hasDataHeader = HasDataHeader(h.fileType, h.version);
  const std::size_t base = h.hasDataHeader ? off::DataHeaderEnd : off::CommonHeaderEnd;
  if (h.headerSize < base) {
    problem = "header size " + std::to_string(h.headerSize) + " is too small";
    return false;
  }
  if (bytes.size() < h.headerSize) {
    problem = "file ends inside its header (" + std::to_string(bytes.size()) + " of " +
              std::to_string(h.headerSize) + " bytes)";
    return false;
  }
  if (h.numFields < 1 || h.numFields > kMaxFields) {
    problem = "invalid field count " + std::to_string(h.numFields);
    return false;
  }
  if (h.primaryKeyFields < 0 || h.primaryKeyFields > h.numFields) {
    problem = "invalid key field count " + std::to_string(h.primaryKeyFields);
    return false;
  }
  if (h.fileType == FileType::KeyedData && h.primaryKeyFields == 0) {
    problem = "keyed table without key fields";
    return false;
  }
  if (h.fileType == FileType::UnkeyedData && h.primaryKeyFields != 0) {
    problem = "unkeyed table with key fields";
    return false;
  }
  if (IsSecondaryData(h.fileType) && h.primaryKeyFields >= h.numFields) {
    problem = "index file without a block-number field";
    return false;
  }
  if (h.recordSize == 0) {
    problem = "record size 0";
    return false;
  }
  if (h.BlockSize() < blk::HeaderSize + h.recordSize) {
    problem = "record size " + std::to_string(h.recordSize) + " does not fit a " +
              std::to_string(h.BlockSize()) + "-byte block";
    return false;
  }
  if (h.realHeaderSize > h.headerSize) {
    problem = "used header size " + std::to_string(h.realHeaderSize) + " exceeds header size " +
              std::to_string(h.headerSize);
    return false;
  }

  const std::size_t n = static_cast<std::size_t>(h.numFields);
  const std::size_t hs = h.headerSize;
  if (base + 2 * n > hs) {
    problem = "field list does not fit the header";
    return false;
  }
  h.fields.resize(n);
  std::size_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    Field& f = h.fields[i];
    f.code = b[base + 2 * i];
    f.sizeByte = b[base + 2 * i + 1];
    f.bytes = FieldBytes(f.code, f.sizeByte);
    if (f.bytes == 0) {
      problem = "field " + std::to_string(i + 1) + " has an invalid type " +
                std::to_string(f.code) + " or size " + std::to_string(f.sizeByte);
      return false;
    }
    f.offset = sum;
    f.number = static_cast<std::uint16_t>(i + 1);
    sum += f.bytes;
  }
  const std::size_t expected = IsTreeLayout(h.fileType) ? sum + kIndexEntryTrailer : sum;
  if (h.recordSize != expected) {
    problem = "record size " + std::to_string(h.recordSize) + " does not match the fields (" +
              std::to_string(expected) + ")";
    return false;
  }

  std::size_t pos = base + 2 * n + 4;  // descriptors, table-name pointer
  if (IsDataLayout(h.fileType)) {
    pos += 4 * n + TableNameLength(h.version);  // field-name pointers, table name
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t next = 0;
      if (!ReadCString(bytes, pos, hs, h.fields[i].name, next)) {
        problem = "field names do not fit the header";
        return false;
      }
      pos = next;
    }
  } else {
    pos += TableNameLength(h.version);
    if (pos > hs) {
      problem = "table name does not fit the header";
      return false;
    }
  }

  if (h.hasDataHeader) {
    h.encryption2 = Le32(b + off::Encryption2);
    h.fileUpdateTime = Le32(b + off::FileUpdateTime);
    h.codePage = Le16(b + off::CodePage);
    const std::size_t numbersAt = kDataHeaderBase + Le16(b + off::FieldNumbersOffset);
    if (numbersAt < base || numbersAt + 2 * n > hs) {
      problem = "field number list does not fit the header";
      return false;
    }
    const std::uint16_t hiFieldId = Le16(b + off::HiFieldId);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint16_t raw = Le16(b + numbersAt + 2 * i);
      Field& f = h.fields[i];
      f.number = static_cast<std::uint16_t>(raw & ~kDescendingFieldBit);
      f.descending = (raw & kDescendingFieldBit) != 0;
      if (f.number == 0 || f.number >= hiFieldId) {
        problem = "field " + std::to_string(i + 1) + " has an invalid field number " +
                  std::to_string(f.number);
        return false;
      }
    }
    const std::size_t sortAt = kDataHeaderBase + Le16(b + off::SortOrderIdOffset);
    std::size_t next = 0;
    if (sortAt < base || !ReadCString(bytes, sortAt, hs, h.sortOrderId, next)) {
      problem = "sort order name does not fit the header";
      return false;
    }
    const int knownByte = SortByteForId(h.sortOrderId);
    if (knownByte >= 0 && knownByte != h.sortOrder) {
      problem = "sort byte " + std::to_string(h.sortOrder) + " does not match sort order '" +
                h.sortOrderId + "'";
      return false;
    }
    const std::uint16_t nameOffset = Le16(b + off::IndexNameOffset);
    if (nameOffset != 0) {
      const std::size_t nameAt = kDataHeaderBase + nameOffset;
      if (nameAt < base || !ReadCString(bytes, nameAt, hs, h.indexName, next)) {
        problem = "index name does not fit the header";
        return false;
      }
    }
  }
  return true;
}

}  // namespace zel::engine::px
