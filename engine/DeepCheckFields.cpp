#include "engine/DeepCheckFields.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/FieldValues.h"
#include "engine/RecordEncoding.h"

namespace zel::engine::deep {
namespace {

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

}  // namespace

std::int64_t LastDate() {
  return values::LastDate();
}

FieldChecker::FieldChecker(const px::Header& t) : lastAutoInc_(t.autoInc) {
  for (const px::Field& f : t.fields) {
    const Slot s{f.offset, f.bytes, f.code, f.sizeByte, &f};
    if (values::CanBeInvalid(f.code)) slots_.push_back(s);
    if (f.code == px::FieldCode::AutoInc) autoInc_.push_back(s);
    // Alpha, Short, Long, Bytes: every stored form is a value; BLOBs: DeepCheckBlobs.
  }
}

bool FieldChecker::Check(const std::uint8_t* rec, std::string& why) const {
  for (const Slot& s : slots_) {
    if (!values::IsValue(*s.field, rec + s.offset)) {
      std::string detail;
      values::Problem(*s.field, rec + s.offset, &detail);
      why = Name(*s.field) + ": " + detail;
      return false;
    }
  }
  return true;
}

bool FieldChecker::AnyAutoIncAbove(const std::uint8_t* rec, std::string& why) const {
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
