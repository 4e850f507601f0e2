#pragma once
// Field checks for records read from a damaged table: a record is taken only when every field
// holds a value its type can have, so bytes from a wrecked block are not passed off as data.
#include <cstdint>

#include "engine/ParadoxFormat.h"

namespace zel::engine::salvage {

// The last day a Date field can hold (31 December 9999; day 1 is 1 January 0001); as many days
// before day 1 are dates too.
std::int64_t LastDay() noexcept;

// Bytes of the .MB beside the table, or 0 when there is none (BLOB pointers are then checked
// for their own consistency only).
struct BlobFileFacts {
  std::uint64_t size = 0;
};

// Why field `f` of record `rec` cannot be right, or nullptr when it decodes: the value rule the
// deep check shares (engine/FieldValues.h), and BLOB pointers that fit the .MB.
const char* FieldProblem(const px::Field& f, const std::uint8_t* rec, const BlobFileFacts& blobs);

// The first field problem of a record, or nullptr.
const char* RecordProblem(const px::Header& h, const std::uint8_t* rec, const BlobFileFacts& blobs);

}  // namespace zel::engine::salvage
