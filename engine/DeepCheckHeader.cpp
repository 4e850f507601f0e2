#include "engine/DeepCheckHeader.h"

#include "engine/EngineError.h"

namespace zel::engine::deep {
namespace {

std::string Hex32(std::uint32_t v) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string s = "0x";
  for (int i = 28; i >= 0; i -= 4) s += kHex[(v >> i) & 15];
  return s;
}

// The lowest version byte that has the field type: 3.x tables know Alpha, Date, Short, Money
// and Number; level 4 adds the BLOB types, level 5 the rest.
std::uint8_t FirstVersionWith(std::uint8_t code) {
  switch (code) {
    case px::FieldCode::Alpha:
    case px::FieldCode::Date:
    case px::FieldCode::Short:
    case px::FieldCode::Currency:
    case px::FieldCode::Number:
      return px::Version::Level30;
    case px::FieldCode::Memo:
    case px::FieldCode::Blob:
    case px::FieldCode::FormattedMemo:
    case px::FieldCode::Ole:
    case px::FieldCode::Graphic:
      return 0x05;
    default:
      return 0x0A;
  }
}

}  // namespace

void CheckHeaderFigures(const ReadOnlyFile& file, const px::Header& h, Problems& problems,
                        Problems& notes) {
  const std::string name = file.Name();
  const auto add = [&](const std::string& detail) {
    problems.Add(ErrorCode::CorruptHeader, name, 0, 0, With(kTextCorruptHeader, detail));
  };
  const std::uint64_t size = file.Size();
  const std::uint64_t bs = h.BlockSize();
  const std::uint64_t end = h.headerSize + std::uint64_t{h.fileBlocks} * bs;
  // Files written by Paradox for DOS may end inside their last block; every record counted must
  // still be in the file, which the open checks.
  // Blocks past the counted ones are an allocation detail (the file grew by whole units): the
  // chain and the free list must stay within the counted blocks, which the open checks, so
  // nothing refers to them.
  if (size > end) {
    notes.Add(name, "the file holds " + std::to_string((size - h.headerSize) / bs) +
                        " blocks and more, the header counts " + std::to_string(h.fileBlocks) +
                        ": spare blocks past the counted ones, which nothing refers to");
  } else if (h.fileBlocks > 0 && size <= end - bs) {
    add("the header counts " + std::to_string(h.fileBlocks) + " blocks, the file holds " +
        std::to_string(size <= h.headerSize ? 0 : (size - h.headerSize) / bs) + " (" +
        std::to_string(size) + " bytes)");
  }
  if (h.usedBlocks > 0 && h.firstBlock != 1) {
    add("the chain starts at block " + std::to_string(h.firstBlock) +
        "; block 1 is never given up while a file has blocks");
  }
  if (h.lastBlock > h.fileBlocks) {
    add("last block " + std::to_string(h.lastBlock) + " is beyond the file's " +
        std::to_string(h.fileBlocks) + " blocks");
  }
  if (h.firstFreeBlock > h.fileBlocks) {
    add("first free block " + std::to_string(h.firstFreeBlock) + " is beyond the file's " +
        std::to_string(h.fileBlocks) + " blocks");
  }
  // Encryption: level 4 and later data files keep the key at 0x5C and a fixed mark at 0x25;
  // index trees of a plain table hold 0 there.
  if (h.hasDataHeader && h.encryption2 == 0 && h.encryption1 != px::kEncryption1Plain4x) {
    add("encryption field at 0x25 holds " + Hex32(h.encryption1) + ", a plain table of level " +
        px::LevelName(h.version) + " has " + Hex32(px::kEncryption1Plain4x));
  }
  if (h.hasDataHeader) {
    std::uint8_t ids[4] = {};
    file.ReadAt(px::off::FileVersionId2, ids, sizeof ids);
    const unsigned want = 0x100u + h.version;
    const unsigned id2 = px::Le16(ids), id3 = px::Le16(ids + 2);
    if (id2 != want || id3 != want) {
      add("version words at 0x58 and 0x5A hold " + Hex32(id2) + " and " + Hex32(id3) +
          ", the version byte says " + Hex32(want));
    }
  }
  for (std::size_t i = 0; i < h.fields.size(); ++i) {
    const px::Field& f = h.fields[i];
    const std::uint8_t first = FirstVersionWith(f.code);
    // Index files are left out: level 4 index files of heaps hold a Long record number.
    if (px::IsDataLayout(h.fileType) && !px::IsSecondaryData(h.fileType) && h.version < first) {
      add("field " + std::to_string(i + 1) + " has type " +
          std::string(1, px::FieldLetter(f.code)) + ", which level " + px::LevelName(h.version) +
          " does not have");
    }
    if (f.descending && (!px::IsSecondaryData(h.fileType) || h.version < px::Version::Level7)) {
      add("field " + std::to_string(i + 1) +
          " sorts descending, which only secondary indexes of "
          "level 7 do");
    }
  }
}

}  // namespace zel::engine::deep
