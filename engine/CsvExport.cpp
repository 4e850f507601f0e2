#include "engine/CsvExport.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/RecordEncoding.h"
#include "engine/WriterIO.h"

namespace zel::engine::csv {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;

void AppendInt(std::string& out, std::int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendDouble(std::string& out, double v) {
  // Shortest text that reads back as the same double; never locale-dependent.
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v == 0.0 ? 0.0 : v);
  out.append(buf, r.ptr);
}

// `width` decimal digits of 0 <= v < 10^width at `p`.
void PutDigits(char* p, int v, int width) {
  for (int i = width - 1; i >= 0; --i, v /= 10) p[i] = static_cast<char>('0' + v % 10);
}

// A salvage writes millions of these: digits by hand, printf only for values out of range.
void AppendDate(std::string& out, std::int64_t days) {
  int y = 0, m = 0, d = 0;
  record::YmdFromDate(days, y, m, d);
  char buf[16];
  if (y >= 0 && y <= 9999) {
    PutDigits(buf, y, 4);
    buf[4] = '-';
    PutDigits(buf + 5, m, 2);
    buf[7] = '-';
    PutDigits(buf + 8, d, 2);
    out.append(buf, 10);
    return;
  }
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  out += buf;
}

void AppendTime(std::string& out, std::int64_t ms) {
  char buf[24];
  const int s = static_cast<int>(ms / 1000);
  if (ms >= 0 && s / 3600 < 100) {
    PutDigits(buf, s / 3600, 2);
    buf[2] = ':';
    PutDigits(buf + 3, s / 60 % 60, 2);
    buf[5] = ':';
    PutDigits(buf + 6, s % 60, 2);
    out.append(buf, 8);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    out += buf;
  }
  if (ms % 1000 != 0) {
    std::snprintf(buf, sizeof buf, ".%03d", static_cast<int>(ms % 1000));
    out += buf;
  }
}

void AppendHex(std::string& out, const std::uint8_t* p, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  out += "0x";
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
}

// BCD: sign and decimals in byte 0, 32 packed digits after it; negative numbers store 15 - digit.
void AppendBcd(std::string& out, const std::uint8_t* p, int decimals) {
  const bool negative = (p[0] & 0x80) == 0;
  std::string digits;
  for (int i = 0; i < 32; ++i) {
    int nib = (p[1 + i / 2] >> (i % 2 ? 0 : 4)) & 15;
    if (negative) nib = 15 - nib;
    digits += nib <= 9 ? static_cast<char>('0' + nib) : '?';
  }
  if (decimals < 0 || decimals > 32) decimals = 0;
  std::string whole = digits.substr(0, 32 - decimals);
  const std::size_t lead = whole.find_first_not_of('0');
  whole = lead == std::string::npos ? "0" : whole.substr(lead);
  if (negative) out += '-';
  out += whole;
  if (decimals > 0) {
    out += '.';
    out += digits.substr(32 - decimals);
  }
}

}  // namespace

namespace {

bool NeedsQuotes(std::string_view value) {
  for (const char c : value)
    if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
  return false;
}

}  // namespace

void AppendField(std::string& line, std::string_view value) {
  if (!NeedsQuotes(value)) {
    line.append(value);
    return;
  }
  line += '"';
  for (char c : value) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

#ifdef _WIN32

// Windows decodes with its own tables of the code page.
TextDecoder::TextDecoder(int codePage) {
  const UINT page = codePage > 0 && IsValidCodePage(static_cast<UINT>(codePage))
                        ? static_cast<UINT>(codePage)
                        : 1252u;
  cd_ = reinterpret_cast<void*>(static_cast<std::uintptr_t>(page));
}

TextDecoder::~TextDecoder() = default;

void TextDecoder::AppendUtf8(std::string& out, std::string_view bytes) {
  const auto page = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(cd_));
  for (const char byte : bytes) {
    // Each byte on its own: a byte the code page leaves undefined becomes U+FFFD, not an error
    // that loses the rest of the text.
    const auto c = static_cast<unsigned char>(byte);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    wchar_t wide[2];
    char utf8[8];
    const int units = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, &byte, 1, wide, 2);
    const int n = units > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8,
                                                  nullptr, nullptr)
                            : 0;
    if (n > 0)
      out.append(utf8, static_cast<std::size_t>(n));
    else
      out += "\xEF\xBF\xBD";
  }
}

#else

TextDecoder::TextDecoder(int codePage) {
  const std::string name = "CP" + std::to_string(codePage > 0 ? codePage : 1252);
  iconv_t cd = ::iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) cd = ::iconv_open("UTF-8", "CP1252");
  cd_ = cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd;
}

TextDecoder::~TextDecoder() {
  if (cd_) ::iconv_close(static_cast<iconv_t>(cd_));
}

void TextDecoder::AppendUtf8(std::string& out, std::string_view bytes) {
  bool ascii = true;
  for (char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii || !cd_) {
    if (ascii) {
      out.append(bytes);
      return;
    }
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    // Each byte on its own: a byte the code page leaves undefined becomes U+FFFD, not an error
    // that loses the rest of the text.
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    char in[1] = {static_cast<char>(c)};
    char buf[8];
    char* inp = in;
    char* outp = buf;
    std::size_t inLeft = 1, outLeft = sizeof buf;
    if (cd_ && ::iconv(static_cast<iconv_t>(cd_), &inp, &inLeft, &outp, &outLeft) !=
                   static_cast<std::size_t>(-1)) {
      out.append(buf, static_cast<std::size_t>(outp - buf));
    } else {
      if (cd_) ::iconv(static_cast<iconv_t>(cd_), nullptr, nullptr, nullptr, nullptr);
      out += "\xEF\xBF\xBD";
    }
  }
}

#endif

void AppendValue(std::string& out, const px::Field& f, const std::uint8_t* rec, TextDecoder& text) {
  const std::uint8_t* p = rec + f.offset;
  switch (f.code) {
    case px::FieldCode::Alpha: {
      const void* nul = std::memchr(p, 0, f.bytes);
      const std::size_t n =
          nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p) : f.bytes;
      text.AppendUtf8(out, std::string_view(reinterpret_cast<const char*>(p), n));
      return;
    }
    case px::FieldCode::Memo:
    case px::FieldCode::FormattedMemo: {
      // The leader: the whole text when it fits, else its first bytes.
      const std::size_t leader = f.bytes - px::kBlobDescriptorBytes;
      const std::uint32_t length = px::Le32(p + leader + 4);
      std::size_t n = std::min<std::size_t>(leader, length);
      const void* nul = std::memchr(p, 0, n);
      if (nul) n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p);
      text.AppendUtf8(out, std::string_view(reinterpret_cast<const char*>(p), n));
      return;
    }
    default:
      break;
  }
  if (record::IsBlank(p, f.bytes)) return;
  switch (f.code) {
    case px::FieldCode::Short:
      AppendInt(out, record::GetSortableShort(p));
      return;
    case px::FieldCode::Long:
    case px::FieldCode::AutoInc:
      AppendInt(out, record::GetSortableLong(p));
      return;
    case px::FieldCode::Date:
      AppendDate(out, record::GetSortableLong(p));
      return;
    case px::FieldCode::Time:
      AppendTime(out, record::GetSortableLong(p));
      return;
    case px::FieldCode::Timestamp: {
      const double v = record::GetSortableDouble(p);
      const auto ms = static_cast<std::int64_t>(v);
      AppendDate(out, ms / kMsPerDay);
      out += 'T';
      AppendTime(out, ms % kMsPerDay);
      return;
    }
    case px::FieldCode::Number:
    case px::FieldCode::Currency:
      AppendDouble(out, record::GetSortableDouble(p));
      return;
    case px::FieldCode::Logical:
      out += p[0] == 0x81 ? "true" : "false";
      return;
    case px::FieldCode::Bcd:
      AppendBcd(out, p, f.sizeByte);
      return;
    default:
      // Bytes and binary BLOB leaders: hexadecimal.
      AppendHex(out, p, px::IsBlobField(f.code) ? f.bytes - px::kBlobDescriptorBytes : f.bytes);
      return;
  }
}

struct RecordCsv::Impl {
  Impl(const std::filesystem::path& target, const px::Header& header, int codePage)
      : h(header), text(codePage) {
    files.push_back(std::make_unique<writer::TempFile>(target));
  }
  const px::Header& h;
  TextDecoder text;
  std::vector<std::unique_ptr<writer::TempFile>> files;
  std::string line;
  std::string cell;
};

RecordCsv::RecordCsv(const std::filesystem::path& target, const px::Header& h, int codePage)
    : impl_(std::make_unique<Impl>(target, h, codePage)) {
  std::string& line = impl_->line;
  line.clear();
  for (std::size_t i = 0; i < h.fields.size(); ++i) {
    if (i) line += ',';
    impl_->cell.clear();
    impl_->text.AppendUtf8(impl_->cell, h.fields[i].name);
    AppendField(line, impl_->cell);
  }
  line += "\r\n";
  impl_->files[0]->Append(line.data(), line.size());
}

RecordCsv::~RecordCsv() = default;

void RecordCsv::Add(const std::uint8_t* rec) {
  std::string& line = impl_->line;
  line.clear();
  const auto& fields = impl_->h.fields;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ',';
    // Formatted in place; the rare value that needs quotes is quoted afterwards.
    const std::size_t start = line.size();
    AppendValue(line, fields[i], rec, impl_->text);
    const std::string_view value(line.data() + start, line.size() - start);
    if (NeedsQuotes(value)) {
      impl_->cell.assign(value);
      line.resize(start);
      AppendField(line, impl_->cell);
    }
  }
  line += "\r\n";
  impl_->files[0]->Append(line.data(), line.size());
}

void RecordCsv::Commit() {
  impl_->files[0]->Finish();
  writer::CommitFiles(impl_->files, {});
}

}  // namespace zel::engine::csv
