#pragma once
// What the writer needs to know of a table: fields, key, secondary indexes, level, code page.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace zel::engine {

enum class FieldType : char {
  Alpha = 'A',      // size 1..255 bytes, blank-padded with NULs
  Short = 'S',      // 16-bit integer
  LongInt = 'I',    // 32-bit integer
  Number = 'N',     // 64-bit float
  Money = '$',      // 64-bit float
  Date = 'D',       // days since 1 Jan 0001 (day 1)
  Time = 'T',       // milliseconds since midnight
  Timestamp = '@',  // milliseconds since 1 Jan 0001 (as Paradox stores it)
  Logical = 'L',
  AutoInc = '+',    // 32-bit, assigned by the writer when the value is blank
};

struct FieldDef {
  std::string name;
  FieldType type = FieldType::Alpha;
  int size = 0;  // Alpha only; other types have fixed sizes
};

// A maintained secondary index. A composite index or one whose name differs from its single
// field is a named index (.XGn/.YGn, n the first free number); a single field whose name is the
// index name is stored as .Xnn/.Ynn (nn the field number in hex) unless `forceNamed`.
struct SecondaryIndexDef {
  std::string name;
  std::vector<std::string> fields;
  bool caseInsensitive = false;
  bool forceNamed = false;
};

struct TableDef {
  std::vector<FieldDef> fields;
  int keyFieldCount = 0;  // the first keyFieldCount fields form the primary key; 0: a heap
  std::vector<SecondaryIndexDef> indexes;  // need keyFieldCount > 0
  int level = 7;                           // 5 or 7 (also 3 and 4 where the types allow)
  int codePage = 1252;
  std::string sortOrder = "ascii";
};

// A field value: blank, text (Alpha, in the table's code page), integer (Short, LongInt, Date,
// Time, AutoInc, Logical as 0/1) or floating point (Number, Money, Timestamp).
using FieldValue = std::variant<std::monostate, std::string, std::int64_t, double>;
using Record = std::vector<FieldValue>;

}  // namespace zel::engine
