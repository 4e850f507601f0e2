// Program entry on Windows: the one window, shown; the run starts at its first activation and
// the program ends when the window closes.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/Platform.h"
#include "platform/posix/SimulatedPowerOff.h"
#include "platform/win32/Win32PosWindow.h"
#include "platform/win32/Win32PowerOff.h"
#include "platform/win32/Win32SystemServices.h"
#include "run/MainScreen.h"
#include "ui/win32/Win32MainWindow.h"
#include "ui/win32/Win32MessageDialogs.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  namespace zp = zel::platform;
  Win32MessageDialogs dialogs;
  zp::Win32PosWindow posWindow;
  zp::Win32SystemServices system;
  // Demonstrations and tests of the whole program must never switch the PC off.
  const char* simulate = std::getenv("ZELUTIL_SIMULATE_POWER_OFF");
  std::unique_ptr<zp::PowerOff> powerOff;
  if (simulate && std::strcmp(simulate, "1") == 0)
    powerOff = std::make_unique<zp::SimulatedPowerOff>();
  else
    powerOff = std::make_unique<zp::Win32PowerOff>();
  zp::Platform platform{zp::HostFiles(), zp::HostIni(), dialogs,          posWindow,
                        *powerOff,       system,        zp::HostRunLock()};

  Win32MainWindow window(instance);
  TForm1 form(platform, window);
  dialogs.SetOwner(window.Handle());
  window.beep = [&system] { system.Beep(); };
  window.onFirstActivation = [&form] { form.FormActivate(); };
  window.Show();
  return window.MessageLoop();
}
