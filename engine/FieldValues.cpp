#include "engine/FieldValues.h"

#include "engine/RecordEncoding.h"

namespace zel::engine::values {
namespace {

const char* Fail(const char* reason, std::string* detail, const std::string& text) {
  if (detail) *detail = text;
  return reason;
}

}  // namespace

std::int64_t LastDate() noexcept {
  return kLastDate;
}

bool CanBeInvalid(std::uint8_t code) noexcept {
  switch (code) {
    case px::FieldCode::Date:
    case px::FieldCode::Time:
    case px::FieldCode::Timestamp:
    case px::FieldCode::Number:
    case px::FieldCode::Currency:
    case px::FieldCode::Logical:
    case px::FieldCode::Bcd:
    case px::FieldCode::AutoInc:
      return true;
    default:
      return false;
  }
}

double detail::SortableDouble(const std::uint8_t* p) {
  return record::GetSortableDouble(p);
}

const char* Problem(const px::Field& f, const std::uint8_t* p, std::string* detail) {
  if (IsValue(f, p)) return nullptr;
  switch (f.code) {
    case px::FieldCode::Date:
      return Fail("date out of range", detail,
                  "day " + std::to_string(record::GetSortableLong(p)) + " is not a date");
    case px::FieldCode::Time:
      return Fail("time out of range", detail,
                  std::to_string(record::GetSortableLong(p)) + " ms is not a time of day");
    case px::FieldCode::AutoInc:
      return Fail("autoincrement value below 1", detail,
                  "value " + std::to_string(record::GetSortableLong(p)) +
                      " is below 1, the first the engine hands out");
    case px::FieldCode::Timestamp:
      return Fail("timestamp out of range", detail,
                  std::to_string(record::GetSortableDouble(p)) + " is not a timestamp");
    case px::FieldCode::Number:
    case px::FieldCode::Currency:
      return Fail("number not finite", detail, "not a finite number");
    case px::FieldCode::Logical:
      return Fail("logical value not 0/0x80/0x81", detail,
                  "byte " + std::to_string(p[0]) + " is not a logical value");
    case px::FieldCode::Bcd:
      return Fail("BCD value with other decimals", detail,
                  "BCD value with " + std::to_string(p[0] & 0x3F) + " decimals in a field of " +
                      std::to_string(f.sizeByte));
    default:
      return nullptr;
  }
}

}  // namespace zel::engine::values
