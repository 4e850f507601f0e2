#pragma once
// Records as CSV: UTF-8, a header row of field names, RFC 4180 quoting and CRLF line ends, ISO
// dates and times, numbers with a point, logical values as true/false and blanks as empty
// fields. The file is written beside its target and renamed into place when complete.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "engine/ParadoxFormat.h"

namespace zel::engine::csv {

// Appends `value` as one CSV field: quoted, with quotes doubled, when it holds a comma, a quote,
// CR or LF.
void AppendField(std::string& line, std::string_view value);

// Text of a table's code page as UTF-8. Unknown code pages are read as Windows-1252.
class TextDecoder {
 public:
  explicit TextDecoder(int codePage);
  ~TextDecoder();
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;
  void AppendUtf8(std::string& out, std::string_view bytes);

 private:
  void* cd_ = nullptr;  // iconv_t
};

// The text of field `f` of a raw record (no quoting): empty for a blank value.
void AppendValue(std::string& out, const px::Field& f, const std::uint8_t* rec, TextDecoder& text);

// A CSV file of a table's records.
class RecordCsv {
 public:
  // Raises EngineError(WriteFailed) naming `target` when the file cannot be made.
  RecordCsv(const std::filesystem::path& target, const px::Header& h, int codePage);
  ~RecordCsv();
  RecordCsv(const RecordCsv&) = delete;
  RecordCsv& operator=(const RecordCsv&) = delete;
  void Add(const std::uint8_t* rec);
  // Syncs and renames the file into place.
  void Commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel::engine::csv
