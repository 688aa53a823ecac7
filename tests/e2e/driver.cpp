// The end-to-end driver's window and process plumbing.
#include "driver.h"

#include <gtest/gtest.h>

#include "app/wide_win32.h"

namespace qlan::e2e {
namespace {

std::wstring ClassOf(HWND h) {
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  return name;
}

std::wstring TextOf(HWND h) {
  const LRESULT n = SendMessageW(h, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  const LRESULT got = SendMessageW(h, WM_GETTEXT, static_cast<WPARAM>(n + 1),
                                   reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(got));
  return text;
}

// The top-level #32770 windows of the process: the configuration dialog has the download
// button, a message box has not.
HWND FindTop(DWORD pid, bool wantDialog) {
  for (HWND h = GetTopWindow(nullptr); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == pid && IsWindowVisible(h) && ClassOf(h) == L"#32770" &&
        (GetDlgItem(h, 1006) != nullptr) == wantDialog) {
      return h;
    }
  }
  return nullptr;
}

// The pixels of an icon: drawn on the screen (captured there) or drawn into memory.
std::vector<COLORREF> Pixels(HDC dc, int x, int y, int w, int h) {
  std::vector<COLORREF> pixels;
  for (int row = 0; row < h; ++row) {
    for (int col = 0; col < w; ++col) pixels.push_back(GetPixel(dc, x + col, y + row));
  }
  return pixels;
}

// Icon handles are per process under Wine, so the icon is recognised by its pixels.
LPCWSTR IconOf(HWND box) {
  HWND icon = nullptr;
  for (HWND c = GetWindow(box, GW_CHILD); c != nullptr && icon == nullptr;
       c = GetWindow(c, GW_HWNDNEXT)) {
    if (ClassOf(c) == L"Static" && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      icon = c;
  }
  if (icon == nullptr) return nullptr;
  const int w = GetSystemMetrics(SM_CXICON);
  const int h = GetSystemMetrics(SM_CYICON);
  RECT r{};
  GetWindowRect(icon, &r);
  HDC screen = GetDC(nullptr);
  const auto seen = Pixels(screen, r.left, r.top, w, h);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HBRUSH background = CreateSolidBrush(seen.front());
  LPCWSTR best = nullptr;
  std::size_t bestDiff = seen.size();
  for (LPCWSTR id : {IDI_HAND, IDI_EXCLAMATION, IDI_ASTERISK, IDI_QUESTION}) {
    const RECT all{0, 0, w, h};
    FillRect(memory, &all, background);
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, id), w, h, 0, nullptr, DI_NORMAL);
    const auto drawn = Pixels(memory, 0, 0, w, h);
    std::size_t diff = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) diff += seen[i] != drawn[i] ? 1u : 0u;
    if (diff < bestDiff) bestDiff = diff, best = id;
  }
  SelectObject(memory, old);
  DeleteObject(background);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return bestDiff * 20 < seen.size() ? best : nullptr;
}

}  // namespace

std::wstring ToolPath() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  // The test program lives in build/windows/tests/e2e; the tool in build/windows.
  for (int up = 0; up < 3; ++up) path.resize(path.find_last_of(L'\\'));
  return path + L"\\" + Widen(QLANTOOL_EXE_NAME);
}

Tool::Tool(const std::string& appData) {
  // The tool inherits the test's environment, with APPDATA pointing at the test's folder.
  SetEnvironmentVariableW(L"APPDATA", Widen(appData).c_str());
  std::wstring exe = ToolPath();
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  const BOOL ok = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                 nullptr, nullptr, &startup, &info_);
  EXPECT_TRUE(ok) << "CreateProcessW failed: " << GetLastError();
  if (ok) WaitForInputIdle(info_.hProcess, 5000);
}

Tool::~Tool() {
  if (info_.hProcess != nullptr) {
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info_.hProcess, 99);
      WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
}

HWND Tool::Dialog(DWORD timeoutMs) {
  if (dialog_ == nullptr || !IsWindow(dialog_)) {
    dialog_ = nullptr;
    WaitUntil([&] { return (dialog_ = FindTop(info_.dwProcessId, true)) != nullptr; }, timeoutMs);
  }
  return dialog_;
}

MessageBoxSeen Tool::WaitForMessageBox(DWORD timeoutMs) {
  MessageBoxSeen seen;
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindTop(info_.dwProcessId, false)) != nullptr; }, timeoutMs)) {
    return seen;
  }
  // Let the box finish laying itself out.
  Sleep(50);
  seen.window = box;
  seen.caption = TextOf(box);
  if (HWND text = GetDlgItem(box, 0xFFFF)) seen.text = TextOf(text);
  seen.owner = GetWindow(box, GW_OWNER);
  seen.icon = IconOf(box);
  seen.hasCancel =
      GetDlgItem(box, IDCANCEL) != nullptr && IsWindowVisible(GetDlgItem(box, IDCANCEL));
  return seen;
}

bool Tool::NoMessageBoxWithin(DWORD ms) {
  return !WaitUntil([&] { return FindTop(info_.dwProcessId, false) != nullptr; }, ms);
}

void Tool::Answer(const MessageBoxSeen& box, int button) {
  PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box.window, button)));
  WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, 5000);
}

void Tool::ExpectBox(const std::wstring& text, const wchar_t* caption, LPCWSTR icon, bool cancel,
                     int answer) {
  const MessageBoxSeen box = WaitForMessageBox();
  ASSERT_NE(box.window, nullptr) << "no message box: " << text;
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.icon, icon);
  EXPECT_EQ(box.hasCancel, cancel);
  EXPECT_EQ(box.owner, IsWindow(dialog_) ? dialog_ : nullptr);
  Answer(box, answer);
}

void Tool::Press(int id) {
  HWND dlg = Dialog();
  PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

void Tool::Click(int id) { SendMessageW(GetDlgItem(Dialog(), id), BM_CLICK, 0, 0); }

bool Tool::IsChecked(int id) {
  return SendMessageW(GetDlgItem(Dialog(), id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::wstring Tool::Text(int id) { return TextOf(GetDlgItem(Dialog(), id)); }

void Tool::SetText(int id, const std::wstring& text) {
  SendMessageW(GetDlgItem(Dialog(), id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::vector<std::wstring> Tool::ListLines(int id) {
  HWND list = GetDlgItem(Dialog(), id);
  std::vector<std::wstring> lines;
  const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT n = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    std::wstring line(static_cast<std::size_t>(n) + 1, L'\0');
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()));
    line.resize(static_cast<std::size_t>(n));
    lines.push_back(line);
  }
  return lines;
}

int Tool::ListSelection(int id) {
  return static_cast<int>(SendMessageW(GetDlgItem(Dialog(), id), CB_GETCURSEL, 0, 0));
}

void Tool::Close() { PostMessageW(Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }

void Tool::End(int button, DWORD code) {
  Press(button);
  EXPECT_EQ(WaitForExit(), code);
}

DWORD Tool::WaitForExit(DWORD timeoutMs) {
  WaitForSingleObject(info_.hProcess, timeoutMs);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

}  // namespace qlan::e2e
