#include "engine/FieldValues.h"

#include <cmath>
#include <cstring>

#include "engine/RecordEncoding.h"

namespace zel::engine::values {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;

bool Blank4(const std::uint8_t* p) {
  std::uint32_t v = 0;
  std::memcpy(&v, p, 4);
  return v == 0;
}

bool Blank8(const std::uint8_t* p) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, 8);
  return v == 0;
}

const char* Fail(const char* reason, std::string* detail, const std::string& text) {
  if (detail) *detail = text;
  return reason;
}

}  // namespace

std::int64_t LastDate() noexcept {
  static const std::int64_t last = record::DateFromYmd(9999, 12, 31);
  return last;
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

const char* Problem(const px::Field& f, const std::uint8_t* p, std::string* detail) {
  switch (f.code) {
    case px::FieldCode::Date: {
      if (Blank4(p)) return nullptr;
      const std::int64_t day = record::GetSortableLong(p);
      if (day >= -LastDate() && day <= LastDate()) return nullptr;
      return Fail("date out of range", detail, "day " + std::to_string(day) + " is not a date");
    }
    case px::FieldCode::Time: {
      if (Blank4(p)) return nullptr;
      const std::int64_t ms = record::GetSortableLong(p);
      if (ms >= 0 && ms < kMsPerDay) return nullptr;
      return Fail("time out of range", detail, std::to_string(ms) + " ms is not a time of day");
    }
    case px::FieldCode::Timestamp: {
      if (Blank8(p)) return nullptr;
      const double v = record::GetSortableDouble(p);
      const double last = static_cast<double>(LastDate() + 1) * static_cast<double>(kMsPerDay);
      if (std::isfinite(v) && v > -last && v < last) return nullptr;
      return Fail("timestamp out of range", detail, std::to_string(v) + " is not a timestamp");
    }
    case px::FieldCode::Number:
    case px::FieldCode::Currency: {
      // The exponent as stored: kept for values with the top bit set, inverted for the others
      // (negative values and blanks, which are all zero). All ones means NaN or infinity.
      const unsigned exponent = ((p[0] & 0x7Fu) << 4) | (p[1] >> 4);
      if (p[0] & 0x80 ? exponent != 0x7FF : exponent != 0 || Blank8(p)) return nullptr;
      return Fail("number not finite", detail, "not a finite number");
    }
    case px::FieldCode::AutoInc: {
      // The engine hands out 1 and up; blank is a record whose value is still to come.
      if (Blank4(p)) return nullptr;
      const std::int64_t v = record::GetSortableLong(p);
      if (v >= 1) return nullptr;
      return Fail("autoincrement value below 1", detail,
                  "value " + std::to_string(v) + " is below 1, the first the engine hands out");
    }
    case px::FieldCode::Logical:
      if (p[0] == 0 || p[0] == 0x80 || p[0] == 0x81) return nullptr;
      return Fail("logical value not 0/0x80/0x81", detail,
                  "byte " + std::to_string(p[0]) + " is not a logical value");
    case px::FieldCode::Bcd: {
      // The first byte holds the sign (0x80 when not negative), 0x40 and the number of
      // decimals, which must be the field's. The 32 digit nibbles are not judged: Borland's
      // engines store nibbles above 9 in the last places of 32-decimal values and a negative
      // zero.
      if (record::IsBlank(p, px::kBcdBytes) || (p[0] & 0x3F) == f.sizeByte) return nullptr;
      return Fail("BCD value with other decimals", detail,
                  "BCD value with " + std::to_string(p[0] & 0x3F) + " decimals in a field of " +
                      std::to_string(f.sizeByte));
    }
    default:
      return nullptr;
  }
}

}  // namespace zel::engine::values
