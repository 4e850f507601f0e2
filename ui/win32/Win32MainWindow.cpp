#include "ui/win32/Win32MainWindow.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr const char* kWindowClass = "TForm1";
constexpr const char* kLabelClass = "TCustomLabel1";
constexpr const char* kCaption = "ZelUtil 2009-05-25";
constexpr int kClientWidth = 802;
constexpr int kClientHeight = 525;
constexpr UINT kStartRun = WM_APP + 1;
constexpr UINT_PTR kFlashTimer = 1;
constexpr int kFlashRate = 1000;
constexpr int kCloseButton = 100;
// A fixed single border and a bare title bar: no system menu, minimise or maximise box.
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;

const COLORREF kMaroon = RGB(128, 0, 0);
const COLORREF kLime = RGB(0, 255, 0);

HFONT MakeFont(int pixels, bool bold) {
  return CreateFontA(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
}

HWND MakeList(HWND parent, int x, int y, int width, int height, bool multiple, HFONT font,
              int lineHeight) {
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT |
                      LBS_NOTIFY | (multiple ? LBS_EXTENDEDSEL : 0);
  const HWND list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "", style, x, y, width, height,
                                    parent, nullptr, GetModuleHandleA(nullptr), nullptr);
  SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageA(list, LB_SETITEMHEIGHT, 0, lineHeight);
  return list;
}

}  // namespace

Win32MainWindow::Win32MainWindow(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  formFont_ = MakeFont(11, false);
  listFont_ = MakeFont(13, false);
  labelFont_ = MakeFont(19, true);
  maroon_ = CreateSolidBrush(kMaroon);
  lime_ = CreateSolidBrush(kLime);

  WNDCLASSA form{};
  form.lpfnWndProc = WindowProc;
  form.hInstance = instance;
  form.hCursor = LoadCursor(nullptr, IDC_ARROW);
  form.hbrBackground = CreateSolidBrush(RGB(128, 128, 128));
  form.lpszClassName = kWindowClass;
  RegisterClassA(&form);
  WNDCLASSA label{};
  label.lpfnWndProc = LabelProc;
  label.hInstance = instance;
  label.hCursor = LoadCursor(nullptr, IDC_ARROW);
  label.lpszClassName = kLabelClass;
  RegisterClassA(&label);

  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, WS_EX_DLGMODALFRAME);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  // Centred on the screen's work area.
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + std::max(0, (int(work.right - work.left) - width) / 2);
  const int y = work.top + std::max(0, (int(work.bottom - work.top) - height) / 2);
  window_ = CreateWindowExA(WS_EX_DLGMODALFRAME, kWindowClass, kCaption, kStyle, x, y, width,
                            height, nullptr, nullptr, instance, this);

  // Created in tab order: btn1, lst1, lst2, lst3, pb1 (the bar is no tab stop).
  // Drawn by the window itself, so it carries its close glyph beside the caption.
  btn1 = CreateWindowExA(0, "BUTTON", "&Close", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
                         694, 477, 96, 36, window_, reinterpret_cast<HMENU>(kCloseButton), instance,
                         nullptr);
  SendMessageA(btn1, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_), FALSE);
  lst1 = MakeList(window_, 9, 39, 362, 436, true, formFont_, 13);
  lst2 = MakeList(window_, 373, 39, 412, 276, false, listFont_, 16);
  lst3 = MakeList(window_, 373, 318, 412, 157, false, listFont_, 16);
  SendMessageA(lst3, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(""));
  pb1 = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 8, 8, 777, 29,
                        window_, nullptr, instance, nullptr);
  SendMessageA(pb1, PBM_SETRANGE32, 0, 100);
  SendMessageA(pb1, PBM_SETPOS, 0, 0);
  lbl1 = CreateWindowExA(0, kLabelClass, "", WS_CHILD | WS_VISIBLE, 11, 480, 0, 24, window_,
                         nullptr, instance, this);
  SetFocus(btn1);
}

Win32MainWindow::~Win32MainWindow() {
  if (window_) DestroyWindow(window_);
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(formFont_), static_cast<HGDIOBJ>(listFont_),
                         static_cast<HGDIOBJ>(labelFont_), static_cast<HGDIOBJ>(maroon_),
                         static_cast<HGDIOBJ>(lime_)})
    if (object) DeleteObject(object);
}

void Win32MainWindow::Show() {
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
}

int Win32MainWindow::MessageLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

HWND Win32MainWindow::List(FormList list) const {
  return list == FormList::Lst2 ? lst2 : list == FormList::Lst3 ? lst3 : lst1;
}

// --- What the run does with the window: each change is drawn at once, the run keeping the
// message loop busy.

void Win32MainWindow::AddLine(FormList list, const std::string& text) {
  SendMessageA(List(list), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  RepaintList(list);
}

void Win32MainWindow::ClearList(FormList list) {
  SendMessageA(List(list), LB_RESETCONTENT, 0, 0);
  RepaintList(list);
}

void Win32MainWindow::MakeLastLineCurrent(FormList list) {
  const HWND box = List(list);
  const LRESULT count = SendMessageA(box, LB_GETCOUNT, 0, 0);
  if (count <= 0) return;
  // In the multi-selection list the current line is only the focus line; in the others it is
  // also the selected one.
  if (list == FormList::Lst1)
    SendMessageA(box, LB_SETCARETINDEX, count - 1, FALSE);
  else
    SendMessageA(box, LB_SETCURSEL, count - 1, 0);
  SendMessageA(box, LB_SETTOPINDEX, count - 1, 0);
  RepaintList(list);
}

void Win32MainWindow::RepaintList(FormList list) {
  UpdateWindow(List(list));
}

void Win32MainWindow::SetLabelText(const std::string& text) {
  label_ = text;
  // The label sizes itself to its caption; the height stays as laid out.
  const HDC dc = GetDC(lbl1);
  const HGDIOBJ old = SelectObject(dc, labelFont_);
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(lbl1, dc);
  SetWindowPos(lbl1, nullptr, 0, 0, text.empty() ? 0 : size.cx, 24,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(lbl1, nullptr, TRUE);
  UpdateWindow(lbl1);
}

void Win32MainWindow::SetLabelFlashing(bool flashing) {
  flashing_ = flashing;
  if (flashing) {
    SetTimer(lbl1, kFlashTimer, kFlashRate, nullptr);
  } else {
    KillTimer(lbl1, kFlashTimer);
    labelShown_ = true;
    ShowWindow(lbl1, SW_SHOW);
  }
}

void Win32MainWindow::SetProgress(int position, int maximum) {
  SendMessageA(pb1, PBM_SETRANGE32, 0, maximum);
  SendMessageA(pb1, PBM_SETPOS, position, 0);
  UpdateWindow(pb1);
}

void Win32MainWindow::RefreshForm() {
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Win32MainWindow::RepaintPanel() {
  RefreshForm();
}

void Win32MainWindow::CloseForm() {
  running_ = false;
  DestroyWindow(window_);
}

// --- Painting and messages.

void Win32MainWindow::PaintPanel(HDC dc) const {
  RECT r{0, 0, kClientWidth, kClientHeight};
  FillRect(dc, &r, maroon_);
  // A single border line, a raised outer bevel and a lowered inner one, each 3 pixels wide,
  // with 2 pixels of border between them.
  FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  InflateRect(&r, -1, -1);
  const HPEN light = CreatePen(PS_SOLID, 1, RGB(218, 128, 128));
  const HPEN dark = CreatePen(PS_SOLID, 1, RGB(64, 0, 0));
  const auto bevel = [dc](RECT& area, HPEN topLeft, HPEN bottomRight) {
    for (int i = 0; i < 3; ++i) {
      SelectObject(dc, topLeft);
      MoveToEx(dc, area.left, area.bottom - 1, nullptr);
      LineTo(dc, area.left, area.top);
      LineTo(dc, area.right - 1, area.top);
      SelectObject(dc, bottomRight);
      LineTo(dc, area.right - 1, area.bottom - 1);
      LineTo(dc, area.left, area.bottom - 1);
      InflateRect(&area, -1, -1);
    }
  };
  const HGDIOBJ old = SelectObject(dc, light);
  bevel(r, light, dark);
  InflateRect(&r, -2, -2);
  bevel(r, dark, light);
  SelectObject(dc, old);
  DeleteObject(light);
  DeleteObject(dark);
}

void Win32MainWindow::DrawCloseButton(const DRAWITEMSTRUCT& item) const {
  const HDC dc = item.hDC;
  RECT r = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  if (pressed) OffsetRect(&r, 1, 1);
  // The close glyph: a dark red cross, 12 pixels, left of the caption.
  const int glyphLeft = r.left + 14;
  const int glyphTop = (r.top + r.bottom) / 2 - 6;
  const HPEN pen = CreatePen(PS_SOLID, 3, RGB(160, 0, 0));
  const HGDIOBJ oldPen = SelectObject(dc, pen);
  MoveToEx(dc, glyphLeft, glyphTop, nullptr);
  LineTo(dc, glyphLeft + 12, glyphTop + 12);
  MoveToEx(dc, glyphLeft + 12, glyphTop, nullptr);
  LineTo(dc, glyphLeft, glyphTop + 12);
  SelectObject(dc, oldPen);
  DeleteObject(pen);
  RECT text = r;
  text.left = glyphLeft + 18;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  const HGDIOBJ oldFont = SelectObject(dc, formFont_);
  DrawTextA(dc, "&Close", -1, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = item.rcItem;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(dc, &focus);
  }
}

LRESULT CALLBACK Win32MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* created =
        static_cast<Win32MainWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    created->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!self) return DefWindowProcA(window, message, wParam, lParam);
  return self->Handle(window, message, wParam, lParam);
}

LRESULT Win32MainWindow::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window, &paint);
      PaintPanel(dc);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_ACTIVATE:
      // Queued, so the window is drawn before the run keeps the message loop busy.
      if (LOWORD(wParam) != WA_INACTIVE && !started_) {
        started_ = true;
        PostMessageA(window_, kStartRun, 0, 0);
      }
      break;
    case kStartRun:
      running_ = true;
      if (onFirstActivation) onFirstActivation();
      running_ = false;
      return 0;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->hwndItem == btn1) {
        DrawCloseButton(*item);
        return TRUE;
      }
      break;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kCloseButton && !running_) DestroyWindow(window_);
      return 0;
    case WM_CLOSE:
      // Nothing closes the window during the run; afterwards only its Close button is offered.
      if (!running_) DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK Win32MainWindow::LabelProc(HWND label, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(label, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrA(label, GWLP_USERDATA));
  if (!self) return DefWindowProcA(label, message, wParam, lParam);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(label, &paint);
      RECT r;
      GetClientRect(label, &r);
      FillRect(dc, &r, self->lime_);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      const HGDIOBJ old = SelectObject(dc, self->labelFont_);
      DrawTextA(dc, self->label_.c_str(), static_cast<int>(self->label_.size()), &r,
                DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
      SelectObject(dc, old);
      EndPaint(label, &paint);
      return 0;
    }
    case WM_TIMER:
      // Each tick hides a shown label and shows a hidden one.
      self->labelShown_ = !self->labelShown_;
      ShowWindow(label, self->labelShown_ ? SW_SHOW : SW_HIDE);
      return 0;
    case WM_LBUTTONUP:
      if (self->beep) self->beep();
      return 0;
    default:
      return DefWindowProcA(label, message, wParam, lParam);
  }
}
