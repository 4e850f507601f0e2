#include "engine/DeepCheckVal.h"

#include <vector>

#include "engine/DeepCheckFile.h"
#include "engine/EngineError.h"

namespace zel::engine::deep {
namespace {

constexpr std::size_t kFooterAt = 0x09;     // u32
constexpr std::size_t kIntegrityAt = 0x0D;  // u32, 0: none
constexpr std::size_t kChecksStart = 0x35;  // the field checks follow the head
constexpr std::size_t kFooterGap = 4;       // bytes between the field count and the numbers
constexpr std::size_t kTableName = 79;
// Larger .VAL files are not read whole: no table's checks come near this.
constexpr std::uint64_t kMaxBytes = 16u << 20;

}  // namespace

bool CheckValStructure(const std::filesystem::path& valFile, const px::Header& t,
                       Problems& problems, std::string& skipped) {
  ReadOnlyFile file(valFile);
  const std::string name = file.Name();
  if (file.Size() > kMaxBytes) {
    skipped = "larger than " + std::to_string(kMaxBytes) + " bytes";
    return false;
  }
  std::vector<std::uint8_t> b(static_cast<std::size_t>(file.Size()));
  b.resize(file.ReadAt(0, b.data(), b.size()));
  const auto fail = [&](const std::string& detail) {
    problems.Add(ErrorCode::CorruptValFile, name, 0, 0, With(kTextCorruptVal, detail));
    return true;
  };
  if (b.size() < kChecksStart) return fail("the file is shorter than its head");
  if (!t.hasDataHeader || b[1] < 0x05) {
    skipped = "a .VAL of the 3.x levels, whose layout is not known";
    return false;
  }
  if (b[1] != t.version) {
    fail("made for table version " + std::to_string(b[1]) + ", the table has " +
         std::to_string(t.version));
  }
  const std::uint32_t footer = px::Le32(b.data() + kFooterAt);
  const std::uint32_t integrity = px::Le32(b.data() + kIntegrityAt);
  if (footer < kChecksStart || footer + 2 + kFooterGap > b.size()) {
    return fail("footer offset " + std::to_string(footer) + " is outside the file (" +
                std::to_string(b.size()) + " bytes)");
  }
  if (integrity != 0 && (integrity < kChecksStart || integrity >= footer)) {
    fail("referential integrity offset " + std::to_string(integrity) +
         " is outside the part before the footer");
  }
  const std::size_t n = px::Le16(b.data() + footer);
  if (n != t.fields.size()) {
    return fail("the footer lists " + std::to_string(n) + " fields, the table has " +
                std::to_string(t.fields.size()));
  }
  std::size_t at = footer + 2 + kFooterGap;
  if (at + 4 * n + kTableName > b.size()) return fail("the footer's field list is cut short");
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint16_t number = px::Le16(b.data() + at + 2 * i);
    if (number != t.fields[i].number) {
      fail("footer field " + std::to_string(i + 1) + " has number " + std::to_string(number) +
           ", the table's " + std::to_string(t.fields[i].number));
      break;
    }
  }
  at += 2 * n;
  for (std::size_t i = 0; i < n; ++i) {
    const px::Field& f = t.fields[i];
    if (b[at + 2 * i] != f.code || b[at + 2 * i + 1] != f.sizeByte) {
      fail("footer field " + std::to_string(i + 1) +
           " has another type or size than the "
           "table's field \"" +
           f.name + "\"");
      break;
    }
  }
  at += 2 * n + kTableName;
  // The field names; Borland's engine does not keep them in step with a rename, so only their
  // presence is checked.
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t end = at;
    while (end < b.size() && b[end] != 0) ++end;
    if (end >= b.size()) return fail("the footer's field names are cut short");
    at = end + 1;
  }
  return true;
}

}  // namespace zel::engine::deep
