#pragma once
// Whether each stored field value of a record is one, by the rule salvage shares
// (engine/FieldValues.h), and autoincrement values the header has handed out.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ParadoxFormat.h"

namespace zel::engine::deep {

class FieldChecker {
 public:
  explicit FieldChecker(const px::Header& table);

  // True when every field of `record` decodes; else false with the first fault in `why`
  // ("field \"Sale Date\" (D): day 0 is not a date").
  bool Check(const std::uint8_t* record, std::string& why) const;

  // True when an autoincrement value of `record` is above the last value the header says it
  // handed out (the next new record would repeat it), with the field in `why`.
  bool AutoIncAbove(const std::uint8_t* record, std::string& why) const {
    return !autoInc_.empty() && AnyAutoIncAbove(record, why);
  }

 private:
  bool AnyAutoIncAbove(const std::uint8_t* record, std::string& why) const;

  struct Slot {
    std::size_t offset;
    std::size_t bytes;
    std::uint8_t code;
    std::uint8_t sizeByte;
    const px::Field* field;
  };
  std::vector<Slot> slots_;  // fields whose stored form can be invalid
  std::vector<Slot> autoInc_;
  std::uint32_t lastAutoInc_ = 0;
};

// A stored value as text for messages: numbers, dates, times, text; "blank" when all zero.
std::string FieldText(const px::Field& field, const std::uint8_t* bytes);

// The last day a Date field can hold (31 December 9999; day 1 is 1 January 0001). Days as far
// before day 1 are dates of the years BC.
std::int64_t LastDate();

}  // namespace zel::engine::deep
