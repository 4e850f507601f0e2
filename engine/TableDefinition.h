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
  AutoInc = '+',  // 32-bit, assigned by the writer when the value is blank
  Bcd = '#',      // 17 bytes: sign and decimals, 32 digits; size = decimals 0..32
  Bytes = 'Y',    // raw bytes, size 1..255
  // BLOB fields: size = bytes in the record (10..250): a leader holding the value's first
  // size - 10 bytes, then a descriptor of the value kept in the .MB file.
  Memo = 'M',
  FormattedMemo = 'F',
  Binary = 'B',
  Ole = 'O',
  Graphic = 'G',
};

struct FieldDef {
  std::string name;
  FieldType type = FieldType::Alpha;
  int size = 0;  // Alpha, Bytes and BLOB fields: bytes; BCD: decimals; others fixed
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
  // The exact version byte for level 3 (3 = 3.0, 4 = 3.5); 0: 3.0. Ignored at other levels.
  int level3Version = 0;
  int codePage = 1252;
  // The sort order's name and its header byte (-1: the byte known for the name). Keys are
  // sorted by their bytes, which is the order of every sort order for keys without an Alpha
  // field, and of "ascii" for all keys. Under any other sort order, a key with an Alpha field
  // keeps the records in the order given: the caller gives them in key order (as they come from
  // a table of that sort order), since the collation is not known here.
  std::string sortOrder = "ascii";
  int sortByte = -1;
  // Bytes per data block (a whole number of KiB a reader accepts); 0: the smallest of the
  // usual sizes that holds the records. A rebuilt table keeps the size it had.
  int blockSize = 0;
  // The header's table-definition counter (1..255); 0: a new table's. A .VAL file names the
  // definition it was made for, so a rebuilt table keeps its own.
  int definitionCount = 0;
};

// A field value: blank, text (Alpha, in the table's code page), integer (Short, LongInt, Date,
// Time, AutoInc, Logical as 0/1) or floating point (Number, Money, Timestamp). Bytes and BLOB
// fields take their bytes as a string (Graphic: the image itself); BCD a decimal ("-12.50") or
// its 17 stored bytes as "0x" and 34 hex digits, for stored digits that are not decimal.
using FieldValue = std::variant<std::monostate, std::string, std::int64_t, double>;
using Record = std::vector<FieldValue>;

}  // namespace zel::engine
