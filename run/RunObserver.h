#pragma once
// Sees every visible change of the run as it happens, whatever window shows it (tests use it to
// follow a run from outside the window).
#include <string>

#include "run/FormView.h"

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  using List = FormList;
  virtual void LineAdded(List list, const std::string& text) = 0;
  virtual void ListCleared(List list) = 0;
  virtual void LabelTextChanged(const std::string& text) = 0;
  virtual void ProgressChanged(int position, int maximum) = 0;
};
