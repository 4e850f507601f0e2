#include "engine/TableRecords.h"

#include <cstdio>
#include <variant>

#include "engine/CsvExport.h"
#include "engine/EngineError.h"
#include "engine/PositionalFile.h"
#include "engine/RecordEncoding.h"
#include "engine/SalvageBlobs.h"

namespace zel::engine {

TableRecords ReadTableRecords(const std::filesystem::path& dbFile) {
  const PositionalFile file(dbFile);
  const std::string name = file.Name();
  TableRecords out;
  px::Header& h = out.header;
  std::vector<std::uint8_t> buf(
      static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), 0x10000)));
  buf.resize(file.ReadAt(0, buf.data(), buf.size()));
  std::string problem;
  if (!px::ParseHeader(buf, h, problem))
    throw EngineError(ErrorCode::CorruptHeader, "Corrupt table/index header (" + problem + ")",
                      name);
  if (h.fileType != px::FileType::KeyedData && h.fileType != px::FileType::UnkeyedData)
    throw EngineError(ErrorCode::UnknownTableType, "Unknown table type", name);
  if (h.Encrypted()) throw EngineError(ErrorCode::TableEncrypted, "Table is encrypted", name);
  for (const px::Field& f : h.fields) {
    FieldDef fd;
    fd.name = f.name;
    if (!record::TypeFromCode(f.code, fd.type))
      throw EngineError(ErrorCode::UnknownTableType,
                        "Field \"" + f.name + "\" is of a type that cannot be read", name);
    if (fd.type == FieldType::Bcd)
      fd.size = f.sizeByte;
    else if (fd.type == FieldType::Alpha || fd.type == FieldType::Bytes || record::IsBlob(fd.type))
      fd.size = static_cast<int>(f.bytes);
    out.fields.push_back(std::move(fd));
  }
  out.keyFieldCount = h.fileType == px::FileType::KeyedData ? h.primaryKeyFields : 0;

  const salvage::BlobSource mb(dbFile);
  std::uint64_t blobsUnreadable = 0;
  std::vector<std::uint8_t> block(h.BlockSize());
  std::uint32_t visited = 0;
  for (std::uint32_t b = h.numRecords ? h.firstBlock : 0; b != 0;) {
    if (++visited > h.fileBlocks || b > h.fileBlocks)
      throw EngineError(ErrorCode::CorruptFile, "Corrupt file - other than header (block chain)",
                        name);
    if (file.ReadAt(h.BlockOffset(b), block.data(), block.size()) != block.size())
      throw EngineError(ErrorCode::CorruptFile, "Corrupt file - other than header (short block)",
                        name);
    const int addData = px::LeS16(block.data() + px::blk::AddDataSize);
    const std::size_t count =
        addData < 0 ? 0 : static_cast<std::size_t>(addData) / h.recordSize + 1;
    if (count > h.Capacity())
      throw EngineError(ErrorCode::CorruptFile,
                        "Corrupt file - other than header (block " + std::to_string(b) + ")", name);
    const std::uint8_t* recs = block.data() + px::blk::HeaderSize;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* rec = recs + i * h.recordSize;
      Record r(out.fields.size());
      for (std::size_t f = 0; f < out.fields.size(); ++f)
        r[f] = salvage::SalvagedValue(out.fields[f], rec + h.fields[f].offset, mb, blobsUnreadable);
      out.records.push_back(std::move(r));
    }
    b = px::Le16(block.data() + px::blk::Next);
  }
  if (out.records.size() != h.numRecords || blobsUnreadable != 0)
    throw EngineError(ErrorCode::CorruptFile,
                      "Corrupt file - other than header (the chain holds " +
                          std::to_string(out.records.size()) + " of " +
                          std::to_string(h.numRecords) + " records" +
                          (blobsUnreadable ? ", BLOB values unreadable" : "") + ")",
                      name);
  return out;
}

std::string ValueText(const FieldDef& field, const FieldValue& value, int codePage) {
  if (std::holds_alternative<std::monostate>(value)) return "";
  if (const auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&value)) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", *d);
    return text;
  }
  const std::string& bytes = std::get<std::string>(value);
  if (field.type == FieldType::Alpha || field.type == FieldType::Memo ||
      field.type == FieldType::FormattedMemo || field.type == FieldType::Bcd) {
    std::string out;
    csv::TextDecoder(codePage).AppendUtf8(out, bytes);
    return out;
  }
  static const char* kHex = "0123456789abcdef";
  std::string out = "0x";
  for (const unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

}  // namespace zel::engine
