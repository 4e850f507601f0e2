#pragma once
// The message dialog and the error box as Qt message boxes, modal over the main window.
#include <QPointer>
#include <QWidget>

#include "platform/MessageDialog.h"

namespace zel::platform {

// The program's name, the error box's title.
inline constexpr const char* kProgramName = "ZelUtil";

class QtMessageDialogs : public MessageDialogs {
 public:
  // Dialogs are centred on and block `window` (the main window), once it is set.
  void SetWindow(QWidget* window) { window_ = window; }

  DialogResult MessageDlg(const std::string& text, DialogKind kind, DialogButtons buttons) override;
  void ErrorBox(const std::string& text) override;

  // The title shown for a dialog kind: "Warning", "Information" or "Confirm".
  static const char* Title(DialogKind kind);

 private:
  QPointer<QWidget> window_;
};

}  // namespace zel::platform
