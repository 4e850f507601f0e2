// Prints the layout of ZelUtil's Win32 window as Windows sees it, one line each: the client
// area, then every control's rectangle in client coordinates, and the window's style bits.
#include <windows.h>

#include <cstdio>

#include "ui/win32/Win32MainWindow.h"

int main() {
  Win32MainWindow window(GetModuleHandleA(nullptr));
  window.Show();
  window.SetLabelText("File check complete....Please ShutDown this PC !!!!");
  RECT client{};
  GetClientRect(window.Handle(), &client);
  std::printf("client %ld %ld\n", client.right - client.left, client.bottom - client.top);
  const struct {
    const char* name;
    HWND control;
  } controls[] = {{"pb1", window.pb1},   {"lst1", window.lst1}, {"lst2", window.lst2},
                  {"lst3", window.lst3}, {"lbl1", window.lbl1}, {"btn1", window.btn1}};
  for (const auto& c : controls) {
    RECT r{};
    GetWindowRect(c.control, &r);
    MapWindowPoints(HWND_DESKTOP, window.Handle(), reinterpret_cast<POINT*>(&r), 2);
    std::printf("%s %ld %ld %ld %ld\n", c.name, r.left, r.top, r.right - r.left, r.bottom - r.top);
  }
  const LONG_PTR style = GetWindowLongPtrA(window.Handle(), GWL_STYLE);
  std::printf("sysmenu %d minimize %d maximize %d sizable %d\n", (style & WS_SYSMENU) != 0,
              (style & WS_MINIMIZEBOX) != 0, (style & WS_MAXIMIZEBOX) != 0,
              (style & WS_THICKFRAME) != 0);
  char title[64] = {};
  GetWindowTextA(window.Handle(), title, sizeof title);
  std::printf("title %s\n", title);
  std::printf("lst3 lines %ld\n", static_cast<long>(SendMessageA(window.lst3, LB_GETCOUNT, 0, 0)));
  std::fflush(stdout);
  return 0;
}
