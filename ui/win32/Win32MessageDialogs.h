#pragma once
// The run's message forms on Windows: our own modal form (the kind's icon, the kind as title,
// "OK" or "&Yes"/"&No"), like the Linux ones; the error box is the system's.
#include <windows.h>

#include "platform/MessageDialog.h"

class Win32MessageDialogs : public zel::platform::MessageDialogs {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  zel::platform::DialogResult MessageDlg(const std::string& text, zel::platform::DialogKind kind,
                                         zel::platform::DialogButtons buttons) override;
  void ErrorBox(const std::string& text) override;

 private:
  HWND owner_ = nullptr;
};
