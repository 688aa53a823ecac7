// The Win32 configuration dialog and the window-system calls behind it.
#pragma once
#include <windows.h>

#include "ui/window_system.h"

namespace qlan {

// Owner of every message box shown while the dialog runs.
extern HWND g_dialogWindow;

// WindowSystem on the real dialog (g_dialogWindow); before the dialog exists, message
// boxes have no owner.
class Win32Window final : public WindowSystem {
 public:
  bool IsChecked(int id) override;
  void SetChecked(int id, bool checked) override;
  std::string GetItemText(int id) override;
  void SetItemText(int id, std::string_view text) override;
  void EnableItem(int id, bool enabled) override;
  void ClearList(int id) override;
  void AddListLine(int id, std::string_view line) override;
  int GetListSelection(int id) override;
  void SetListSelection(int id, int index) override;
  int ShowMessage(std::string_view text, std::string_view caption, unsigned style,
                  bool owned) override;
  void* SetWaitCursor() override;
  void RestoreCursor(void* previous) override;
  void Beep() override;
  int OpenUrl(std::string_view url) override;
};

// Runs dialog 101 modally: 1 (OK), 0 (Cancel or closed), -1 (not created).
int RunConfigDialog(HINSTANCE instance);

}  // namespace qlan
