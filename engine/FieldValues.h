#pragma once
// The one rule for what makes a stored field value invalid, shared by the deep check (which
// reports such a value as damage) and salvage (which drops a record holding one), so that the
// two never disagree about a record. Borland's own tables decide what counts as a value: dates
// before 1 AD, BCD nibbles above 9 and old bytes after an alpha value's terminating zero are
// all found in tables nobody damaged.
#include <cstdint>
#include <string>

#include "engine/ParadoxFormat.h"

namespace zel::engine::values {

// The last day a Date field can hold (31 December 9999; day 1 is 1 January 0001). Days as far
// before day 1 are dates of the years BC.
std::int64_t LastDate() noexcept;

// True when the field type's stored form can be invalid at all (Date, Time, Timestamp,
// Number, Money, Logical, BCD, Autoincrement); every stored form of the others is a value. BLOB descriptors
// are judged against the .MB by their own checks.
bool CanBeInvalid(std::uint8_t code) noexcept;

// Why the value of field `f` stored at `p` (the field's own bytes) cannot be one, or nullptr
// when it is a value:
//   Alpha: any bytes (the engine leaves a longer earlier value's bytes after the zero)
//   Date: blank or within 9 999 years either side of day 1
//   Time: blank or 0 <= ms < 86 400 000
//   Timestamp: blank or finite within the dates above
//   Number, Money: blank or finite
//   Logical: 0 (blank), 0x80, 0x81
//   BCD: blank or the field's number of decimals (digit nibbles are not judged)
//   Autoincrement: blank or at least 1 (the engine hands out 1 and up)
//   Short, Long, Bytes: any bytes
// With `detail`, a sentence naming the stored value is put there on failure.
const char* Problem(const px::Field& f, const std::uint8_t* p, std::string* detail = nullptr);

}  // namespace zel::engine::values
