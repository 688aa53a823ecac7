// Drives the real qlantool.exe from another Win32 process: starts it with the test's APPDATA,
// finds its dialog and message boxes, clicks, types, and reads what it shows.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qlan::e2e {

struct MessageBoxSeen {
  HWND window = nullptr;
  std::wstring text;
  std::wstring caption;
  HWND owner = nullptr;
  LPCWSTR icon = nullptr;  // IDI_* of the icon shown; nullptr when none was recognised
  bool hasCancel = false;
};

class Tool {
 public:
  // Starts qlantool.exe (beside the test program) with APPDATA set to appData.
  explicit Tool(const std::string& appData);
  ~Tool();
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  HWND Dialog(DWORD timeoutMs = 10000);  // once visible; nullptr after the time-out
  MessageBoxSeen WaitForMessageBox(DWORD timeoutMs = 10000);
  bool NoMessageBoxWithin(DWORD ms);
  void Answer(const MessageBoxSeen& box, int button);  // IDOK / IDCANCEL
  // Waits for the next message box, expects its text, caption, icon, buttons and owner (the
  // dialog while it is there, else none), and answers it.
  void ExpectBox(const std::wstring& text, const wchar_t* caption, LPCWSTR icon,
                 bool cancel = false, int answer = IDOK);

  void Press(int id);  // posted, so a command that opens a message box does not block
  void Click(int id);  // check boxes and radio buttons (sent BM_CLICK)
  bool IsChecked(int id);
  std::wstring Text(int id);
  void SetText(int id, const std::wstring& text);
  std::vector<std::wstring> ListLines(int id);
  int ListSelection(int id);
  void Close();  // the close box
  // Presses the button and expects the process to end with the code.
  void End(int button = IDCANCEL, DWORD code = 0);
  DWORD WaitForExit(DWORD timeoutMs = 10000);  // STILL_ACTIVE after the time-out

 private:
  PROCESS_INFORMATION info_{};
  HWND dialog_ = nullptr;
};

std::wstring ToolPath();  // the qlantool.exe of this build
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
