// A stand-in for the POS program: a top-level window titled "ZelPos". It writes FOLDER\ready
// once its window exists, and FOLDER\closed when a close request reaches it, then ends. It ends
// by itself after a minute. TITLE, when given, replaces "ZelPos".
// Usage: zelpos-window.exe FOLDER [TITLE]
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string g_folder;

void Mark(const char* name) {
  const std::string path = g_folder + "\\" + name;
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      Mark("closed");
      DestroyWindow(window);
      return 0;
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc < 2) return 2;
  g_folder = __argv[1];
  const char* title = __argc > 2 ? __argv[2] : "ZelPos";
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "ZelPosStandIn";
  RegisterClassA(&windowClass);
  const HWND window = CreateWindowExA(0, "ZelPosStandIn", title, WS_OVERLAPPEDWINDOW, 10, 10, 300,
                                      200, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  SetTimer(window, 1, 60000, nullptr);
  Mark("ready");
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
