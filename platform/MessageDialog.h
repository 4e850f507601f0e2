#pragma once
// The one modal message dialog of the system, and the error box for errors no step catches.
#include <string>

namespace zel::platform {

enum class DialogKind { Warning, Information, Confirmation };
enum class DialogButtons { Ok, YesNo };
enum class DialogResult { Ok, Yes, No, Closed };  // Closed: dismissed other than by a button

// The title a message form of a kind carries.
inline const char* DialogTitle(DialogKind kind) {
  switch (kind) {
    case DialogKind::Warning:
      return "Warning";
    case DialogKind::Information:
      return "Information";
    case DialogKind::Confirmation:
      return "Confirm";
  }
  return "Information";
}

class MessageDialogs {
 public:
  virtual ~MessageDialogs() = default;
  // Title "Warning", "Information" or "Confirm"; buttons "OK" or "&Yes"/"&No".
  virtual DialogResult MessageDlg(const std::string& text, DialogKind kind,
                                  DialogButtons buttons) = 0;
  // Error icon, one OK button, the program's name as title; `text` already ends in a full stop.
  virtual void ErrorBox(const std::string& text) = 0;
};

}  // namespace zel::platform
