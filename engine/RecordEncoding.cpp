#include "engine/RecordEncoding.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/ParadoxFormat.h"

namespace zel::engine::record {
namespace {

std::string Describe(const FieldDef& field) {
  return "field \"" + field.name + "\"";
}

const char* TypeName(FieldType type) {
  switch (type) {
    case FieldType::Alpha:
      return "Alpha";
    case FieldType::Short:
      return "Short";
    case FieldType::LongInt:
      return "Long Integer";
    case FieldType::Number:
      return "Number";
    case FieldType::Money:
      return "Money";
    case FieldType::Date:
      return "Date";
    case FieldType::Time:
      return "Time";
    case FieldType::Timestamp:
      return "Timestamp";
    case FieldType::Logical:
      return "Logical";
    case FieldType::AutoInc:
      return "Autoincrement";
  }
  return "unknown";
}

[[noreturn]] void Fail(const FieldDef& field, const std::string& what) {
  throw ValueError(Describe(field) + " (" + TypeName(field.type) + "): " + what);
}

std::int64_t IntegerOf(const FieldDef& field, const FieldValue& value, std::int64_t lo,
                       std::int64_t hi) {
  const auto* i = std::get_if<std::int64_t>(&value);
  if (!i) Fail(field, "expects an integer value");
  if (*i < lo || *i > hi)
    Fail(field, "value " + std::to_string(*i) + " is outside " + std::to_string(lo) + ".." +
                    std::to_string(hi));
  return *i;
}

double DoubleOf(const FieldDef& field, const FieldValue& value) {
  double d;
  if (const auto* x = std::get_if<double>(&value))
    d = *x;
  else if (const auto* i = std::get_if<std::int64_t>(&value))
    d = static_cast<double>(*i);
  else
    Fail(field, "expects a number");
  if (!std::isfinite(d)) Fail(field, "value is not a finite number");
  return d == 0.0 ? 0.0 : d;  // one stored form for zero, so keys compare equal
}

// The most negative value would store as all zeros, which reads back as blank.
constexpr std::int64_t kShortMin = -32767, kShortMax = 32767;
constexpr std::int64_t kLongMin = -2147483647LL, kLongMax = 2147483647LL;
constexpr std::int64_t kMsPerDay = 86400000;

}  // namespace

std::uint8_t TypeCode(FieldType type) noexcept {
  switch (type) {
    case FieldType::Alpha:
      return px::FieldCode::Alpha;
    case FieldType::Date:
      return px::FieldCode::Date;
    case FieldType::Short:
      return px::FieldCode::Short;
    case FieldType::LongInt:
      return px::FieldCode::Long;
    case FieldType::Money:
      return px::FieldCode::Currency;
    case FieldType::Number:
      return px::FieldCode::Number;
    case FieldType::Logical:
      return px::FieldCode::Logical;
    case FieldType::Time:
      return px::FieldCode::Time;
    case FieldType::Timestamp:
      return px::FieldCode::Timestamp;
    case FieldType::AutoInc:
      return px::FieldCode::AutoInc;
  }
  return 0;
}

bool TypeFromCode(std::uint8_t code, FieldType& type) noexcept {
  static constexpr FieldType kAll[] = {FieldType::Alpha,   FieldType::Date,  FieldType::Short,
                                       FieldType::LongInt, FieldType::Money, FieldType::Number,
                                       FieldType::Logical, FieldType::Time,  FieldType::Timestamp,
                                       FieldType::AutoInc};
  for (FieldType t : kAll)
    if (TypeCode(t) == code) {
      type = t;
      return true;
    }
  return false;
}

int MinimumLevel(FieldType type) noexcept {
  switch (type) {
    case FieldType::LongInt:
    case FieldType::Time:
    case FieldType::Timestamp:
    case FieldType::Logical:
    case FieldType::AutoInc:
      return 5;
    default:
      return 3;
  }
}

int StorageSize(const FieldDef& field) {
  switch (field.type) {
    case FieldType::Alpha:
      if (field.size < 1 || field.size > 255)
        Fail(field, "size " + std::to_string(field.size) + " is outside 1..255");
      return field.size;
    case FieldType::Short:
      return 2;
    case FieldType::LongInt:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::AutoInc:
      return 4;
    case FieldType::Number:
    case FieldType::Money:
    case FieldType::Timestamp:
      return 8;
    case FieldType::Logical:
      return 1;
  }
  Fail(field, "unknown field type");
}

std::uint8_t DescriptorSize(const FieldDef& field) {
  return static_cast<std::uint8_t>(StorageSize(field));
}

void PutSortableShort(std::uint8_t* out, std::int32_t value) noexcept {
  const auto u = static_cast<std::uint16_t>(value) ^ 0x8000u;
  out[0] = static_cast<std::uint8_t>(u >> 8);
  out[1] = static_cast<std::uint8_t>(u);
}

void PutSortableLong(std::uint8_t* out, std::int64_t value) noexcept {
  const auto u = static_cast<std::uint32_t>(value) ^ 0x80000000u;
  out[0] = static_cast<std::uint8_t>(u >> 24);
  out[1] = static_cast<std::uint8_t>(u >> 16);
  out[2] = static_cast<std::uint8_t>(u >> 8);
  out[3] = static_cast<std::uint8_t>(u);
}

std::int32_t GetSortableShort(const std::uint8_t* in) noexcept {
  const auto u = static_cast<std::uint16_t>(((in[0] << 8) | in[1]) ^ 0x8000);
  return static_cast<std::int16_t>(u);
}

std::int64_t GetSortableLong(const std::uint8_t* in) noexcept {
  const std::uint32_t u = ((std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
                           (std::uint32_t{in[2]} << 8) | in[3]) ^
                          0x80000000u;
  return static_cast<std::int32_t>(u);
}

void PutSortableDouble(std::uint8_t* out, double value) noexcept {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits & 0x8000000000000000ULL)
    bits = ~bits;
  else
    bits |= 0x8000000000000000ULL;
  for (int i = 7; i >= 0; --i) {
    out[i] = static_cast<std::uint8_t>(bits);
    bits >>= 8;
  }
}

double GetSortableDouble(const std::uint8_t* in) noexcept {
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | in[i];
  if (bits & 0x8000000000000000ULL)
    bits &= ~0x8000000000000000ULL;
  else
    bits = ~bits;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

bool IsBlank(const std::uint8_t* in, std::size_t size) noexcept {
  for (std::size_t i = 0; i < size; ++i)
    if (in[i]) return false;
  return true;
}

void Encode(const FieldDef& field, const FieldValue& value, std::uint8_t* out) {
  const int size = StorageSize(field);
  std::memset(out, 0, static_cast<std::size_t>(size));
  if (std::holds_alternative<std::monostate>(value)) return;
  switch (field.type) {
    case FieldType::Alpha: {
      const auto* s = std::get_if<std::string>(&value);
      if (!s) Fail(field, "expects text");
      if (s->size() > static_cast<std::size_t>(size))
        Fail(field, "text of " + std::to_string(s->size()) + " bytes is longer than the field's " +
                        std::to_string(size));
      if (s->find('\0') != std::string::npos) Fail(field, "text contains a NUL byte");
      std::memcpy(out, s->data(), s->size());
      return;
    }
    case FieldType::Short:
      PutSortableShort(out,
                       static_cast<std::int32_t>(IntegerOf(field, value, kShortMin, kShortMax)));
      return;
    case FieldType::LongInt:
    case FieldType::Date:
      PutSortableLong(out, IntegerOf(field, value, kLongMin, kLongMax));
      return;
    case FieldType::AutoInc:
      PutSortableLong(out, IntegerOf(field, value, 1, kLongMax));
      return;
    case FieldType::Time:
      PutSortableLong(out, IntegerOf(field, value, 0, kMsPerDay - 1));
      return;
    case FieldType::Logical:
      out[0] = static_cast<std::uint8_t>(0x80 + IntegerOf(field, value, 0, 1));
      return;
    case FieldType::Number:
    case FieldType::Money:
    case FieldType::Timestamp:
      PutSortableDouble(out, DoubleOf(field, value));
      return;
  }
}

FieldValue Decode(const FieldDef& field, const std::uint8_t* in) {
  const int size = StorageSize(field);
  if (IsBlank(in, static_cast<std::size_t>(size))) return std::monostate{};
  switch (field.type) {
    case FieldType::Alpha: {
      const auto* end =
          static_cast<const std::uint8_t*>(std::memchr(in, 0, static_cast<std::size_t>(size)));
      return std::string(reinterpret_cast<const char*>(in),
                         end ? static_cast<std::size_t>(end - in) : static_cast<std::size_t>(size));
    }
    case FieldType::Short:
      return std::int64_t{GetSortableShort(in)};
    case FieldType::LongInt:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::AutoInc:
      return GetSortableLong(in);
    case FieldType::Logical:
      return std::int64_t{in[0]} - 0x80;
    case FieldType::Number:
    case FieldType::Money:
    case FieldType::Timestamp:
      return GetSortableDouble(in);
  }
  return std::monostate{};
}

std::int64_t DateFromYmd(int year, int month, int day) noexcept {
  // Julian day number of the proleptic Gregorian date, shifted so 1 Jan 0001 is day 1.
  const int a = (14 - month) / 12;
  const std::int64_t y = std::int64_t{year} + 4800 - a;
  const int m = month + 12 * a - 3;
  const std::int64_t jdn = day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
  return jdn - 1721425;
}

void YmdFromDate(std::int64_t days, int& year, int& month, int& day) noexcept {
  const std::int64_t a = days + 1721425 + 32044;
  const std::int64_t b = (4 * a + 3) / 146097;
  const std::int64_t c = a - 146097 * b / 4;
  const std::int64_t d = (4 * c + 3) / 1461;
  const std::int64_t e = c - 1461 * d / 4;
  const std::int64_t m = (5 * e + 2) / 153;
  day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  month = static_cast<int>(m + 3 - 12 * (m / 10));
  year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

double TimestampFrom(std::int64_t days, std::int64_t msOfDay) noexcept {
  return static_cast<double>(days) * static_cast<double>(kMsPerDay) + static_cast<double>(msOfDay);
}

}  // namespace zel::engine::record
