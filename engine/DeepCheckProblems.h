#pragma once
// The deep check's list of findings of one severity: kept in the order found, up to the limit,
// after which every part of the check stops early (damage) or adds no more (notes).
#include <cstdint>
#include <string>
#include <vector>

#include "engine/DeepCheck.h"

namespace zel::engine::deep {

class Problems {
 public:
  explicit Problems(std::size_t limit = kDeepCheckProblemLimit,
                    DeepSeverity severity = DeepSeverity::Damage)
      : limit_(limit), severity_(severity) {}

  // Adds a problem; false once the list is full (the caller stops looking).
  bool Add(int code, const std::string& file, std::uint32_t block, std::uint32_t record,
           const std::string& text) {
    if (Full()) {
      overflow_ = true;
      return false;
    }
    list_.push_back(DeepProblem{code, file, block, record, text, severity_});
    return !Full();
  }
  bool Full() const { return list_.size() >= limit_; }
  bool Overflow() const { return overflow_; }
  bool AnyFor(const std::string& file) const {
    for (const DeepProblem& p : list_)
      if (p.file == file) return true;
    return false;
  }
  const std::vector<DeepProblem>& List() const { return list_; }
  // Notes with no engine error behind them (what was not checked).
  void Add(const std::string& file, const std::string& text) { Add(0, file, 0, 0, text); }

 private:
  std::size_t limit_;
  DeepSeverity severity_;
  std::vector<DeepProblem> list_;
  bool overflow_ = false;
};

// The verifier's texts, for problems the deep check finds itself.
inline constexpr const char* kTextCorruptHeader = "Corrupt table/index header";
inline constexpr const char* kTextCorruptFile = "Corrupt file - other than header";
inline constexpr const char* kTextCorruptIndex = "Corrupt index";
inline constexpr const char* kTextCorruptBlob = "Corrupt Memo/BLOB file";
inline constexpr const char* kTextBlobModified = "BLOB has been modified";
inline constexpr const char* kTextCorruptVal = "Corrupt or missing .VAL file";
inline constexpr const char* kTextIndexOutOfDate = "Index is out of date";

inline std::string With(const char* text, const std::string& detail) {
  return std::string(text) + " (" + detail + ")";
}

}  // namespace zel::engine::deep
