#pragma once
// Field values as Paradox stores them in records and index keys: big-endian with the sign bit
// flipped so that a byte compare orders them, blanks as all-zero bytes.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "engine/TableDefinition.h"

namespace zel::engine::record {

// A value that cannot be stored in its field; the writer turns it into an EngineError naming
// the table file.
class ValueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The type byte of a field descriptor (0x01 Alpha, 0x03 Short, ...).
std::uint8_t TypeCode(FieldType type) noexcept;
// The type for a descriptor byte; false when the byte is not a type the writer knows.
bool TypeFromCode(std::uint8_t code, FieldType& type) noexcept;
// The lowest table level that has the type (3 for the classic types, 4 for BLOBs, 5 for the
// newer ones).
int MinimumLevel(FieldType type) noexcept;
bool IsBlob(FieldType type) noexcept;
// Bytes the field takes in a record; throws ValueError for an Alpha size outside 1..255.
int StorageSize(const FieldDef& field);
// The size byte of the field descriptor.
std::uint8_t DescriptorSize(const FieldDef& field);

// Writes the stored form of `value` into out[0, StorageSize(field)). A blank value is all
// zeros. Throws ValueError when the value does not fit the field (wrong kind, out of range, text
// too long, a NUL inside text).
void Encode(const FieldDef& field, const FieldValue& value, std::uint8_t* out);
// The value stored at `in`; blank bytes give std::monostate.
// BLOB fields give the bytes the record holds (all of a value kept in the leader, else its first
// bytes); the rest is in the .MB (engine/BlobFile.h).
FieldValue Decode(const FieldDef& field, const std::uint8_t* in);

// The descriptor after a BLOB field's leader: where the .MB holds the value (offset of its
// block, with the slot in the low byte: 0xFF for a block of its own, 0..63 for a sub-block
// slot; 0 when the value is in the leader), its length and its modification number.
struct BlobRef {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  std::uint16_t modification = 0;
};
// A BLOB field: the leader (the value's first bytes) and `ref`. A value the leader holds whole
// is stored by Encode with offset 0; longer ones need their place in the .MB first.
void EncodeBlob(const FieldDef& field, const std::string& value, const BlobRef& ref,
                std::uint8_t* out);
BlobRef DecodeBlobRef(const FieldDef& field, const std::uint8_t* in);
bool IsBlank(const std::uint8_t* in, std::size_t size) noexcept;

// Integer fields: the stored form of a 16- or 32-bit value, also used for the index shorts.
void PutSortableShort(std::uint8_t* out, std::int32_t value) noexcept;
void PutSortableLong(std::uint8_t* out, std::int64_t value) noexcept;
std::int32_t GetSortableShort(const std::uint8_t* in) noexcept;
std::int64_t GetSortableLong(const std::uint8_t* in) noexcept;
void PutSortableDouble(std::uint8_t* out, double value) noexcept;
double GetSortableDouble(const std::uint8_t* in) noexcept;

// Calendar helpers for Date fields (day 1 = 1 January 0001, proleptic Gregorian) and
// Timestamp fields (milliseconds since the start of day 0).
std::int64_t DateFromYmd(int year, int month, int day) noexcept;
void YmdFromDate(std::int64_t days, int& year, int& month, int& day) noexcept;
double TimestampFrom(std::int64_t days, std::int64_t msOfDay) noexcept;

}  // namespace zel::engine::record
