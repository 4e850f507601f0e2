#include "engine/DeepCheckFields.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/RecordEncoding.h"

namespace zel::engine::deep {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;

bool Blank(const std::uint8_t* p, std::size_t n) {
  if (n == 4 || n == 8) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, n);
    return v == 0;
  }
  return record::IsBlank(p, n);
}

std::string Name(const px::Field& f) {
  return "field \"" + f.name + "\" (" + std::string(1, px::FieldLetter(f.code)) + ")";
}

std::string DateText(std::int64_t day) {
  int y = 0, m = 0, d = 0;
  record::YmdFromDate(day, y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

// A BCD value's first byte holds the sign (0x80 when not negative), 0x40 and the number of
// decimals, which must be the field's. The 32 digit nibbles are not judged: Borland's engines
// store nibbles above 9 in the last places of 32-decimal values and a negative zero.
bool BcdValid(const std::uint8_t* p, std::uint8_t decimals, std::string& why) {
  if ((p[0] & 0x3F) != decimals) {
    why = "BCD value with " + std::to_string(p[0] & 0x3F) + " decimals in a field of " +
          std::to_string(decimals);
    return false;
  }
  return true;
}

}  // namespace

std::int64_t LastDate() {
  static const std::int64_t last = record::DateFromYmd(9999, 12, 31);
  return last;
}

FieldChecker::FieldChecker(const px::Header& t) : lastAutoInc_(t.autoInc) {
  for (const px::Field& f : t.fields) {
    const Slot s{f.offset, f.bytes, f.code, f.sizeByte, &f};
    switch (f.code) {
      case px::FieldCode::Alpha:
      case px::FieldCode::Date:
      case px::FieldCode::Time:
      case px::FieldCode::Timestamp:
      case px::FieldCode::Number:
      case px::FieldCode::Currency:
      case px::FieldCode::Logical:
      case px::FieldCode::Bcd:
        slots_.push_back(s);
        break;
      case px::FieldCode::AutoInc:
        autoInc_.push_back(s);
        break;
      default:  // Short, Long, Bytes: every stored form is a value; BLOBs: DeepCheckBlobs
        break;
    }
  }
}

bool FieldChecker::Check(const std::uint8_t* rec, std::string& why) const {
  for (const Slot& s : slots_) {
    const std::uint8_t* p = rec + s.offset;
    switch (s.code) {
      case px::FieldCode::Alpha: {
        const auto* nul = static_cast<const std::uint8_t*>(std::memchr(p, 0, s.bytes));
        if (nul && !Blank(nul, s.bytes - static_cast<std::size_t>(nul - p))) {
          why = Name(*s.field) + ": text continues after its terminating zero byte";
          return false;
        }
        break;
      }
      case px::FieldCode::Date: {
        if (Blank(p, 4)) break;
        const std::int64_t day = record::GetSortableLong(p);
        // Dates before 1 AD are values (Borland's own tables hold them); the years run to 9999
        // either way.
        if (day < -LastDate() || day > LastDate()) {
          why = Name(*s.field) + ": day " + std::to_string(day) + " is not a date";
          return false;
        }
        break;
      }
      case px::FieldCode::Time: {
        if (Blank(p, 4)) break;
        const std::int64_t ms = record::GetSortableLong(p);
        if (ms < 0 || ms >= kMsPerDay) {
          why = Name(*s.field) + ": " + std::to_string(ms) + " ms is not a time of day";
          return false;
        }
        break;
      }
      case px::FieldCode::Timestamp: {
        if (Blank(p, 8)) break;
        const double v = record::GetSortableDouble(p);
        const double last = static_cast<double>(LastDate() + 1) * static_cast<double>(kMsPerDay);
        if (!std::isfinite(v) || v <= -last || v >= last) {
          why = Name(*s.field) + ": " + std::to_string(v) + " is not a timestamp";
          return false;
        }
        break;
      }
      case px::FieldCode::Number:
      case px::FieldCode::Currency: {
        // The exponent as stored: kept for values with the top bit set, inverted for the others
        // (negative values and blanks, which are all zero). All ones means NaN or infinity.
        const unsigned exponent = ((p[0] & 0x7Fu) << 4) | (p[1] >> 4);
        if (p[0] & 0x80 ? exponent != 0x7FF : exponent != 0 || Blank(p, 8)) break;
        {
          why = Name(*s.field) + ": not a finite number";
          return false;
        }
        break;
      }
      case px::FieldCode::Logical:
        if (p[0] != 0 && p[0] != 0x80 && p[0] != 0x81) {
          why = Name(*s.field) + ": byte " + std::to_string(p[0]) + " is not a logical value";
          return false;
        }
        break;
      case px::FieldCode::Bcd: {
        if (Blank(p, px::kBcdBytes)) break;
        std::string bcd;
        if (!BcdValid(p, s.sizeByte, bcd)) {
          why = Name(*s.field) + ": " + bcd;
          return false;
        }
        break;
      }
      default:
        break;
    }
  }
  return true;
}

bool FieldChecker::AutoIncAbove(const std::uint8_t* rec, std::string& why) const {
  for (const Slot& s : autoInc_) {
    const std::uint8_t* p = rec + s.offset;
    if (Blank(p, 4)) continue;
    const std::int64_t v = record::GetSortableLong(p);
    if (v > static_cast<std::int64_t>(lastAutoInc_)) {
      why = Name(*s.field) + ": value " + std::to_string(v) +
            " is above the last one the header has handed out (" + std::to_string(lastAutoInc_) +
            "), so a new record would repeat it";
      return true;
    }
  }
  return false;
}

std::string FieldText(const px::Field& f, const std::uint8_t* p) {
  if (Blank(p, f.bytes)) return "blank";
  switch (f.code) {
    case px::FieldCode::Alpha: {
      std::string s;
      for (std::size_t i = 0; i < f.bytes && p[i] != 0; ++i) {
        const char c = static_cast<char>(p[i]);
        s += (p[i] >= 0x20 && p[i] < 0x7F) ? c : '?';
      }
      return "\"" + s + "\"";
    }
    case px::FieldCode::Short:
      return std::to_string(record::GetSortableShort(p));
    case px::FieldCode::Long:
    case px::FieldCode::AutoInc:
      return std::to_string(record::GetSortableLong(p));
    case px::FieldCode::Date:
      return DateText(record::GetSortableLong(p));
    case px::FieldCode::Time:
      return std::to_string(record::GetSortableLong(p)) + " ms";
    case px::FieldCode::Number:
    case px::FieldCode::Currency:
    case px::FieldCode::Timestamp: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15g", record::GetSortableDouble(p));
      return buf;
    }
    case px::FieldCode::Logical:
      return p[0] == 0x81 ? "true" : p[0] == 0x80 ? "false" : "?";
    default: {
      static const char* const kHex = "0123456789abcdef";
      std::string s = "0x";
      for (std::size_t i = 0; i < f.bytes && i < 16; ++i) {
        s += kHex[p[i] >> 4];
        s += kHex[p[i] & 15];
      }
      return s;
    }
  }
}

}  // namespace zel::engine::deep
