#pragma once
// The window as TForm1's run sees it: the three lists, the flashing label, the progress bar and
// the form itself. The run decides every line, text and bar position; a view only shows them.
// Each front end gives one: the Qt window, the Win32 window and the console.
#include <string>

enum class FormList { Lst1 = 1, Lst2 = 2, Lst3 = 3 };

class FormView {
 public:
  virtual ~FormView() = default;

  // The lists. A line added is shown at once: the run keeps the event loop busy.
  virtual void AddLine(FormList list, const std::string& text) = 0;
  virtual void ClearList(FormList list) = 0;
  // Makes the last line the current one (the focus line of lst1, the selected line of lst2 and
  // lst3) and scrolls it into view; nothing when the list is empty.
  virtual void MakeLastLineCurrent(FormList list) = 0;
  virtual void RepaintList(FormList list) = 0;

  // The flashing label: its caption (the label sizes itself to it) and whether it flashes.
  virtual void SetLabelText(const std::string& text) = 0;
  virtual void SetLabelFlashing(bool flashing) = 0;

  // The smooth bar: 0 <= position <= maximum, both already kept in range by the run.
  virtual void SetProgress(int position, int maximum) = 0;

  // Draw the whole form, or the panel, now.
  virtual void RefreshForm() = 0;
  virtual void RepaintPanel() = 0;

  // The run ends without powering off: the window closes and the program ends.
  virtual void CloseForm() = 0;
};
