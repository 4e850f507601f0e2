#include "ui/win32/Win32MessageDialogs.h"

#include <algorithm>

namespace {

using zel::platform::DialogButtons;
using zel::platform::DialogKind;
using zel::platform::DialogResult;

constexpr const char* kFormClass = "TMessageForm";
constexpr int kOk = 1;
constexpr int kYes = 6;
constexpr int kNo = 7;

struct FormState {
  DialogResult result = DialogResult::Closed;
  bool done = false;
};

LRESULT CALLBACK FormProc(HWND form, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<FormState*>(GetWindowLongPtrA(form, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrA(
          form, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
      break;
    case WM_COMMAND:
      if (state) {
        const int id = LOWORD(wParam);
        state->result = id == kYes  ? DialogResult::Yes
                        : id == kNo ? DialogResult::No
                        : id == kOk ? DialogResult::Ok
                                    : DialogResult::Closed;
        state->done = true;
      }
      return 0;
    case WM_CLOSE:
      if (state) state->done = true;
      return 0;
    default:
      break;
  }
  return DefWindowProcA(form, message, wParam, lParam);
}

LPCSTR IconOf(DialogKind kind) {
  switch (kind) {
    case DialogKind::Warning:
      return IDI_WARNING;
    case DialogKind::Confirmation:
      return IDI_QUESTION;
    case DialogKind::Information:
      break;
  }
  return IDI_INFORMATION;
}

}  // namespace

DialogResult Win32MessageDialogs::MessageDlg(const std::string& text, DialogKind kind,
                                             DialogButtons buttons) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  static bool registered = false;
  if (!registered) {
    WNDCLASSA form{};
    form.lpfnWndProc = FormProc;
    form.hInstance = instance;
    form.hCursor = LoadCursor(nullptr, IDC_ARROW);
    form.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    form.lpszClassName = kFormClass;
    registered = RegisterClassA(&form) != 0;
  }
  const HFONT font =
      CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
  // The text decides the form's size: one line per line of text, the buttons below.
  const HDC screen = GetDC(nullptr);
  const HGDIOBJ oldFont = SelectObject(screen, font);
  RECT textRect{0, 0, 400, 0};
  DrawTextA(screen, text.c_str(), static_cast<int>(text.size()), &textRect,
            DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK);
  SelectObject(screen, oldFont);
  ReleaseDC(nullptr, screen);
  const int textWidth = std::max<int>(textRect.right, 150);
  const int textHeight = std::max<int>(textRect.bottom, 32);
  const int clientWidth = 20 + 32 + 12 + textWidth + 20;
  const int buttonsTop = 16 + textHeight + 16;
  const int clientHeight = buttonsTop + 25 + 12;
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT frame{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  FormState state;
  const HWND form =
      CreateWindowExA(WS_EX_DLGMODALFRAME, kFormClass, zel::platform::DialogTitle(kind), style, x,
                      y, width, height, owner_, nullptr, instance, &state);
  const HWND icon = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_ICON, 20, 16, 32,
                                    32, form, nullptr, instance, nullptr);
  SendMessageA(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIcon(nullptr, IconOf(kind))), 0);
  const HWND label =
      CreateWindowExA(0, "STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 64, 16,
                      textWidth, textHeight, form, nullptr, instance, nullptr);
  SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  const auto button = [&](const char* caption, int id, int left, bool isDefault) {
    const HWND b = CreateWindowExA(
        0, "BUTTON", caption,
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), left,
        buttonsTop, 75, 25, form, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
        nullptr);
    SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return b;
  };
  HWND first = nullptr;
  if (buttons == DialogButtons::YesNo) {
    first = button("&Yes", kYes, clientWidth / 2 - 80, true);
    button("&No", kNo, clientWidth / 2 + 5, false);
  } else {
    first = button("OK", kOk, (clientWidth - 75) / 2, true);
  }

  // Modal: the owner takes no input until the form is answered.
  if (owner_) EnableWindow(owner_, FALSE);
  ShowWindow(form, SW_SHOWNORMAL);
  SetForegroundWindow(form);
  SetFocus(first);
  MSG message;
  while (!state.done && GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(form, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (owner_) {
    EnableWindow(owner_, TRUE);
    SetForegroundWindow(owner_);
  }
  DestroyWindow(form);
  DeleteObject(font);
  return state.result;
}

void Win32MessageDialogs::ErrorBox(const std::string& text) {
  MessageBoxA(owner_, text.c_str(), "ZelUtil", MB_ICONERROR | MB_OK);
}
