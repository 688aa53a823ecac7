// Drives the real qlantool.exe from another Win32 process: starts it with its own APPDATA,
// finds its dialog and message boxes, clicks, types, and reads what it shows.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qlan::e2e {

struct Control {
  int id;
  std::wstring className;
  std::wstring text;
  bool enabled;
  bool visible;
};

struct MessageBoxSeen {
  HWND window = nullptr;
  std::wstring text;
  std::wstring caption;
  HWND owner = nullptr;
  // IDI_* of the icon shown, e.g. IDI_HAND; nullptr when none was recognised.
  LPCWSTR icon = nullptr;
  bool hasCancel = false;
};

class Tool {
 public:
  // Starts qlantool.exe (beside the test program) with APPDATA set to appData.
  explicit Tool(const std::string& appData);
  ~Tool();
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  // The configuration dialog, once visible (nullptr after the time-out).
  HWND Dialog(DWORD timeoutMs = 10000);
  // The next message box of the tool (nullptr after the time-out).
  MessageBoxSeen WaitForMessageBox(DWORD timeoutMs = 10000);
  // True when no message box appears within the time.
  bool NoMessageBoxWithin(DWORD ms);
  void Answer(const MessageBoxSeen& box, int button);  // IDOK / IDCANCEL

  // Posted, so a command that opens a message box does not block the driver.
  void Press(int id);
  // For check boxes and radio buttons (sent BM_CLICK; no message box follows).
  void Click(int id);
  bool IsChecked(int id);
  std::wstring Text(int id);
  void SetText(int id, const std::wstring& text);
  std::vector<Control> Controls();
  std::vector<std::wstring> ListLines(int id);
  int ListSelection(int id);
  void Close();  // the close box

  // Exit code once the process ended (STILL_ACTIVE after the time-out).
  DWORD WaitForExit(DWORD timeoutMs = 10000);
  DWORD processId() const { return info_.dwProcessId; }

 private:
  PROCESS_INFORMATION info_{};
  HWND dialog_ = nullptr;
};

// Windows path of a folder the test owns, and the qlantool.exe beside this program.
std::wstring ToolPath();
std::wstring Wide(const std::string& utf8);
// Polls cond every 20 ms until it holds or the time is up.
template <typename F>
bool WaitUntil(F cond, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (cond()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

}  // namespace qlan::e2e
