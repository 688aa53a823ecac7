// qlantool.exe: the Windows GUI entry point. Takes no arguments.
#include <windows.h>

#include <commctrl.h>

#include "ui/application.h"
#include "ui/dialog_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  qlan::Win32Window window;
  return qlan::RunApplication(window, [instance] { return qlan::RunConfigDialog(instance); });
}
