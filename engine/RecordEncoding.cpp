#include "engine/RecordEncoding.h"

#include <algorithm>
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
    case FieldType::Bcd:
      return "BCD";
    case FieldType::Bytes:
      return "Bytes";
    case FieldType::Memo:
      return "Memo";
    case FieldType::FormattedMemo:
      return "Formatted Memo";
    case FieldType::Binary:
      return "Binary";
    case FieldType::Ole:
      return "OLE";
    case FieldType::Graphic:
      return "Graphic";
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
constexpr int kBcdDigits = 32;

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
    case FieldType::Bcd:
      return px::FieldCode::Bcd;
    case FieldType::Bytes:
      return px::FieldCode::Bytes;
    case FieldType::Memo:
      return px::FieldCode::Memo;
    case FieldType::FormattedMemo:
      return px::FieldCode::FormattedMemo;
    case FieldType::Binary:
      return px::FieldCode::Blob;
    case FieldType::Ole:
      return px::FieldCode::Ole;
    case FieldType::Graphic:
      return px::FieldCode::Graphic;
  }
  return 0;
}

bool TypeFromCode(std::uint8_t code, FieldType& type) noexcept {
  static constexpr FieldType kAll[] = {
      FieldType::Alpha,     FieldType::Date,          FieldType::Short,   FieldType::LongInt,
      FieldType::Money,     FieldType::Number,        FieldType::Logical, FieldType::Time,
      FieldType::Timestamp, FieldType::AutoInc,       FieldType::Bcd,     FieldType::Bytes,
      FieldType::Memo,      FieldType::FormattedMemo, FieldType::Binary,  FieldType::Ole,
      FieldType::Graphic};
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
    case FieldType::Bcd:
    case FieldType::Bytes:
      return 5;
    case FieldType::Memo:
    case FieldType::FormattedMemo:
    case FieldType::Binary:
    case FieldType::Ole:
    case FieldType::Graphic:
      return 4;
    default:
      return 3;
  }
}

bool IsBlob(FieldType type) noexcept {
  return type == FieldType::Memo || type == FieldType::FormattedMemo || type == FieldType::Binary ||
         type == FieldType::Ole || type == FieldType::Graphic;
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
    case FieldType::Bytes:
      if (field.size < 1 || field.size > 255)
        Fail(field, "size " + std::to_string(field.size) + " is outside 1..255");
      return field.size;
    case FieldType::Bcd:
      if (field.size < 0 || field.size > kBcdDigits)
        Fail(field, std::to_string(field.size) + " decimals are outside 0..32");
      return static_cast<int>(px::kBcdBytes);
    case FieldType::Memo:
    case FieldType::FormattedMemo:
    case FieldType::Binary:
    case FieldType::Ole:
    case FieldType::Graphic:
      if (field.size < static_cast<int>(px::kBlobDescriptorBytes) ||
          field.size > static_cast<int>(px::kBlobDescriptorBytes) + 240)
        Fail(field, "size " + std::to_string(field.size) +
                        " is outside 10..250 (a leader of up to 240 bytes and the descriptor)");
      return field.size;
  }
  Fail(field, "unknown field type");
}

std::uint8_t DescriptorSize(const FieldDef& field) {
  if (field.type == FieldType::Bcd) {
    StorageSize(field);
    return static_cast<std::uint8_t>(field.size);
  }
  return static_cast<std::uint8_t>(StorageSize(field));
}

// ---- BCD ----------------------------------------------------------------------------------------
// Byte 0: 0x80 for a value that is not negative, 0x40, the decimals; bytes 1..16: 32 digit
// nibbles, the last `decimals` of them after the point. A negative value stores its digit bytes
// complemented, so that a byte compare orders BCD values.

namespace {

std::string HexOf(const std::uint8_t* in, std::size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string s = "0x";
  for (std::size_t i = 0; i < size; ++i) {
    s += digits[in[i] >> 4];
    s += digits[in[i] & 15];
  }
  return s;
}

bool ParseHex(const std::string& text, std::uint8_t* out, std::size_t size) {
  if (text.size() != 2 + 2 * size || (text.compare(0, 2, "0x") != 0 && text.compare(0, 2, "0X")))
    return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < size; ++i) {
    const int hi = nibble(text[2 + 2 * i]), lo = nibble(text[3 + 2 * i]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return true;
}

void EncodeBcd(const FieldDef& field, const std::string& text, std::uint8_t* out) {
  if (text.size() > 2 && (text[1] == 'x' || text[1] == 'X')) {
    if (!ParseHex(text, out, px::kBcdBytes))
      Fail(field,
           ""
           " + text + "
           " is not 17 bytes in hex");
    return;
  }
  const int decimals = field.size;
  std::size_t at = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) ++at;
  std::string whole, fraction;
  bool point = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      (point ? fraction : whole) += c;
    } else {
      Fail(field,
           ""
           " + text + "
           " is not a decimal number");
    }
  }
  if (whole.empty() && fraction.empty())
    Fail(field,
         ""
         " + text + "
         " is not a decimal number");
  while (fraction.size() > static_cast<std::size_t>(decimals) && fraction.back() == '0')
    fraction.pop_back();
  if (fraction.size() > static_cast<std::size_t>(decimals))
    Fail(field,
         ""
         " + text + "
         " has more than " +
             std::to_string(decimals) + " decimals");
  const std::size_t first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? std::string() : whole.substr(first);
  if (whole.size() > static_cast<std::size_t>(kBcdDigits - decimals))
    Fail(field,
         ""
         " + text + "
         " has more than " +
             std::to_string(kBcdDigits - decimals) + " digits before the point");
  fraction.resize(static_cast<std::size_t>(decimals), '0');
  const std::string digits =
      std::string(static_cast<std::size_t>(kBcdDigits - decimals) - whole.size(), '0') + whole +
      fraction;
  out[0] = static_cast<std::uint8_t>(0x80 | 0x40 | decimals);
  for (int i = 0; i < kBcdDigits; ++i) {
    const auto d = static_cast<std::uint8_t>(digits[static_cast<std::size_t>(i)] - '0');
    out[1 + i / 2] = static_cast<std::uint8_t>(out[1 + i / 2] | (i % 2 ? d : d << 4));
  }
  if (negative) {
    out[0] = static_cast<std::uint8_t>(out[0] & 0x7F);
    for (std::size_t i = 1; i < px::kBcdBytes; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
  }
}

std::string DecodeBcd(const FieldDef& field, const std::uint8_t* in) {
  std::uint8_t b[px::kBcdBytes];
  const bool negative = (in[0] & 0x80) == 0;
  b[0] = static_cast<std::uint8_t>(in[0] | 0x80);
  for (std::size_t i = 1; i < px::kBcdBytes; ++i)
    b[i] = negative ? static_cast<std::uint8_t>(~in[i]) : in[i];
  // Only what Encode makes again byte for byte is given as a decimal.
  bool decimal = b[0] == (0x80 | 0x40 | field.size);
  std::string digits;
  for (int i = 0; i < kBcdDigits && decimal; ++i) {
    const int d = i % 2 ? b[1 + i / 2] & 15 : b[1 + i / 2] >> 4;
    decimal = d <= 9;
    digits += static_cast<char>('0' + d);
  }
  if (!decimal) return HexOf(in, px::kBcdBytes);
  const std::size_t point = static_cast<std::size_t>(kBcdDigits - field.size);
  std::string whole = digits.substr(0, point);
  const std::size_t first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? "0" : whole.substr(first);
  std::string text;
  if (negative) text += '-';
  text += whole;
  if (field.size > 0) {
    text += '.';
    text.append(digits, point, std::string::npos);
  }
  return text;
}

}  // namespace

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
    case FieldType::Bcd: {
      const auto* t = std::get_if<std::string>(&value);
      if (!t) Fail(field, "expects a decimal number as text");
      EncodeBcd(field, *t, out);
      return;
    }
    case FieldType::Bytes: {
      const auto* b = std::get_if<std::string>(&value);
      if (!b) Fail(field, "expects bytes");
      if (b->size() > static_cast<std::size_t>(size))
        Fail(field, std::to_string(b->size()) + " bytes are more than the field's " +
                        std::to_string(size));
      std::memcpy(out, b->data(), b->size());
      return;
    }
    case FieldType::Memo:
    case FieldType::FormattedMemo:
    case FieldType::Binary:
    case FieldType::Ole:
    case FieldType::Graphic: {
      const auto* b = std::get_if<std::string>(&value);
      if (!b) Fail(field, "expects the BLOB's bytes");
      const std::size_t leader = static_cast<std::size_t>(size) - px::kBlobDescriptorBytes;
      if (b->size() > leader)
        Fail(field,
             "a value of " + std::to_string(b->size()) + " bytes needs the .MB file (EncodeBlob)");
      EncodeBlob(field, *b, BlobRef{0, static_cast<std::uint32_t>(b->size()), 0}, out);
      return;
    }
  }
}

void EncodeBlob(const FieldDef& field, const std::string& value, const BlobRef& ref,
                std::uint8_t* out) {
  const std::size_t size = static_cast<std::size_t>(StorageSize(field));
  const std::size_t leader = size - px::kBlobDescriptorBytes;
  std::memset(out, 0, size);
  if (value.empty()) return;
  std::memcpy(out, value.data(), std::min(leader, value.size()));
  std::uint8_t* d = out + leader;
  px::PutLe32(d, ref.offset);
  px::PutLe32(d + 4, ref.length);
  px::PutLe16(d + 8, ref.modification);
}

BlobRef DecodeBlobRef(const FieldDef& field, const std::uint8_t* in) {
  const std::size_t leader =
      static_cast<std::size_t>(StorageSize(field)) - px::kBlobDescriptorBytes;
  const std::uint8_t* d = in + leader;
  return BlobRef{px::Le32(d), px::Le32(d + 4), px::Le16(d + 8)};
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
    case FieldType::Bcd:
      return DecodeBcd(field, in);
    case FieldType::Bytes:
      return std::string(reinterpret_cast<const char*>(in), static_cast<std::size_t>(size));
    case FieldType::Memo:
    case FieldType::FormattedMemo:
    case FieldType::Binary:
    case FieldType::Ole:
    case FieldType::Graphic: {
      const BlobRef ref = DecodeBlobRef(field, in);
      const std::size_t leader = static_cast<std::size_t>(size) - px::kBlobDescriptorBytes;
      return std::string(reinterpret_cast<const char*>(in),
                         std::min<std::size_t>(leader, ref.length));
    }
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
