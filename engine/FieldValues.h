#pragma once
// The one rule for what makes a stored field value invalid, shared by the deep check (which
// reports such a value as damage) and salvage (which drops a record holding one), so that the
// two never disagree about a record. Borland's own tables decide what counts as a value: dates
// before 1 AD, BCD nibbles above 9 and old bytes after an alpha value's terminating zero are
// all found in tables nobody damaged.
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/ParadoxFormat.h"

namespace zel::engine::values {

// The last day a Date field can hold (31 December 9999; day 1 is 1 January 0001). Days as far
// before day 1 are dates of the years BC.
inline constexpr std::int64_t kLastDate = 3652059;
std::int64_t LastDate() noexcept;

// True when the field type's stored form can be invalid at all (Date, Time, Timestamp,
// Number, Money, Logical, BCD, Autoincrement); every stored form of the others is a value. BLOB
// descriptors are judged against the .MB by their own checks.
bool CanBeInvalid(std::uint8_t code) noexcept;

namespace detail {
inline bool Zero4(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v == 0;
}
inline bool Zero8(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v == 0;
}
inline std::int64_t SortableLong(const std::uint8_t* p) {
  const std::uint32_t u =
      (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
  return static_cast<std::int32_t>(u ^ 0x80000000u);
}
double SortableDouble(const std::uint8_t* p);
}  // namespace detail

// True when the value of field `f` stored at `p` (the field's own bytes) is one: the rule, kept
// inline as the deep check applies it to every field of every record.
inline bool IsValue(const px::Field& f, const std::uint8_t* p) {
  constexpr std::int64_t kMsPerDay = 86400000;
  switch (f.code) {
    case px::FieldCode::Date: {
      if (detail::Zero4(p)) return true;
      const std::int64_t day = detail::SortableLong(p);
      return day >= -kLastDate && day <= kLastDate;
    }
    case px::FieldCode::Time: {
      if (detail::Zero4(p)) return true;
      const std::int64_t ms = detail::SortableLong(p);
      return ms >= 0 && ms < kMsPerDay;
    }
    case px::FieldCode::AutoInc:
      return detail::Zero4(p) || detail::SortableLong(p) >= 1;
    case px::FieldCode::Timestamp: {
      if (detail::Zero8(p)) return true;
      const double v = detail::SortableDouble(p);
      const double last = static_cast<double>(kLastDate + 1) * static_cast<double>(kMsPerDay);
      return v > -last && v < last;  // false for NaN too
    }
    case px::FieldCode::Number:
    case px::FieldCode::Currency: {
      // The exponent as stored: kept for values with the top bit set, inverted for the others
      // (negative values and blanks, which are all zero). All ones means NaN or infinity.
      const unsigned exponent = ((p[0] & 0x7Fu) << 4) | (p[1] >> 4);
      return p[0] & 0x80 ? exponent != 0x7FF : exponent != 0 || detail::Zero8(p);
    }
    case px::FieldCode::Logical:
      return p[0] == 0 || p[0] == 0x80 || p[0] == 0x81;
    case px::FieldCode::Bcd: {
      // The first byte holds the sign (0x80 when not negative), 0x40 and the number of
      // decimals, which must be the field's. The 32 digit nibbles are not judged: Borland's
      // engines store nibbles above 9 in the last places of 32-decimal values and a negative
      // zero.
      if ((p[0] & 0x3F) == f.sizeByte) return true;
      for (std::size_t i = 0; i < px::kBcdBytes; ++i)
        if (p[i] != 0) return false;
      return true;
    }
    default:
      return true;
  }
}

// Why the value of field `f` stored at `p` (the field's own bytes) cannot be one, or nullptr
// when it is a value (IsValue):
//   Alpha: any bytes (the engine leaves a longer earlier value's bytes after the zero)
//   Date: blank or within 9 999 years either side of day 1
//   Time: blank or 0 <= ms < 86 400 000
//   Timestamp: blank or finite within the dates above
//   Number, Money: blank or finite
//   Logical: 0 (blank), 0x80, 0x81
//   BCD: blank or the field's number of decimals (digit nibbles are not judged)
//   Autoincrement: blank or at least 1 (the engine hands out 1 and up)
//   Short, Long, Bytes: any bytes
// With `detail`, a sentence naming the stored value is put there on failure.
const char* Problem(const px::Field& f, const std::uint8_t* p, std::string* detail = nullptr);

}  // namespace zel::engine::values
