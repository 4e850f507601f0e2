#pragma once
// The native Win32 window of TForm1: the bevelled maroon panel with the three list boxes, the
// smooth progress bar, the flashing lime label and the Close button, laid out as on Linux. It
// shows what the run asks of it at once, and starts the run at its first activation.
#include <windows.h>

#include <functional>
#include <string>

#include "run/FormView.h"

class Win32MainWindow : public FormView {
 public:
  explicit Win32MainWindow(HINSTANCE instance);
  ~Win32MainWindow() override;
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  // Called once, when the window is first activated; the run happens inside it.
  std::function<void()> onFirstActivation;
  // The label's beep when it is clicked (MessageBeep(0) through the platform's services).
  std::function<void()> beep;

  HWND Handle() const { return window_; }
  void Show();
  // Runs the message loop until the window is gone; the program's exit status.
  int MessageLoop();

  HWND pb1 = nullptr;
  HWND lst1 = nullptr;
  HWND lst2 = nullptr;
  HWND lst3 = nullptr;
  HWND lbl1 = nullptr;
  HWND btn1 = nullptr;

  // FormView.
  void AddLine(FormList list, const std::string& text) override;
  void ClearList(FormList list) override;
  void MakeLastLineCurrent(FormList list) override;
  void RepaintList(FormList list) override;
  void SetLabelText(const std::string& text) override;
  void SetLabelFlashing(bool flashing) override;
  void SetProgress(int position, int maximum) override;
  void RefreshForm() override;
  void RepaintPanel() override;
  void CloseForm() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK LabelProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND List(FormList list) const;
  void PaintPanel(HDC dc) const;
  void DrawCloseButton(const DRAWITEMSTRUCT& item) const;

  HWND window_ = nullptr;
  HFONT formFont_ = nullptr;   // "MS Sans Serif", 11 pixels
  HFONT listFont_ = nullptr;   // "MS Sans Serif", 13 pixels
  HFONT labelFont_ = nullptr;  // "MS Sans Serif" bold, 19 pixels
  HBRUSH maroon_ = nullptr;
  HBRUSH lime_ = nullptr;
  std::string label_;
  bool flashing_ = false;
  bool labelShown_ = true;
  bool started_ = false;
  bool running_ = false;
};
