#pragma once
// Sees every visible change of the run as it happens (the console front end prints them).
#include <string>

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  enum class List { Lst1 = 1, Lst2 = 2, Lst3 = 3 };
  virtual void LineAdded(List list, const std::string& text) = 0;
  virtual void ListCleared(List list) = 0;
  virtual void LabelTextChanged(const std::string& text) = 0;
  virtual void ProgressChanged(int position, int maximum) = 0;
};
