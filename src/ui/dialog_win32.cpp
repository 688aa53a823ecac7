// The dialog procedure: translates window messages into calls of ConfigDialog.
#include "ui/dialog_win32.h"

#include <shellapi.h>

#include "app/wide_win32.h"
#include "ui/config_dialog.h"
#include "ui/input_filters_win32.h"
#include "ui/resource.h"

namespace qlan {

HWND g_dialogWindow = nullptr;

namespace {

Win32Window g_window;
ConfigDialog g_dialog(g_window);

HWND Item(int id) { return GetDlgItem(g_dialogWindow, id); }

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) noexcept {
  switch (message) {
    case WM_INITDIALOG:
      g_dialogWindow = dialog;
      InstallInputFilters(dialog);
      g_dialog.Initialize();
      return FALSE;
    case WM_COMMAND:
      if (const auto result = g_dialog.OnCommand(LOWORD(wParam))) {
        EndDialog(dialog, *result);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
    case WM_DESTROY:
      EndDialog(dialog, ConfigDialog::OnClose());
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool Win32Window::IsChecked(int id) {
  return IsDlgButtonChecked(g_dialogWindow, id) == BST_CHECKED;
}

void Win32Window::SetChecked(int id, bool checked) {
  CheckDlgButton(g_dialogWindow, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

std::string Win32Window::GetItemText(int id) {
  const int length = GetWindowTextLengthW(Item(id));
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const UINT got = GetDlgItemTextW(g_dialogWindow, id, text.data(), length + 1);
  text.resize(got);
  return Narrow(text);
}

void Win32Window::SetItemText(int id, std::string_view text) {
  SetDlgItemTextW(g_dialogWindow, id, Widen(text).c_str());
}

void Win32Window::EnableItem(int id, bool enabled) {
  EnableWindow(Item(id), enabled ? TRUE : FALSE);
}

void Win32Window::ClearList(int id) { SendMessageW(Item(id), CB_RESETCONTENT, 0, 0); }

void Win32Window::AddListLine(int id, std::string_view line) {
  const std::wstring wide = Widen(line);
  SendMessageW(Item(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

int Win32Window::GetListSelection(int id) {
  return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0));
}

void Win32Window::SetListSelection(int id, int index) {
  SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Window::ShowMessage(std::string_view text, std::string_view caption, unsigned style,
                             bool owned) {
  return MessageBoxW(owned ? g_dialogWindow : nullptr, Widen(text).c_str(), Widen(caption).c_str(),
                     style);
}

void* Win32Window::SetWaitCursor() { return SetCursor(LoadCursorW(nullptr, IDC_WAIT)); }

void Win32Window::RestoreCursor(void* previous) { SetCursor(static_cast<HCURSOR>(previous)); }

void Win32Window::Beep() { MessageBeep(MB_OK); }

int Win32Window::OpenUrl(std::string_view url) {
  const HINSTANCE result =
      ShellExecuteW(g_dialogWindow, L"open", Widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

int RunConfigDialog(HINSTANCE instance) {
  return static_cast<int>(
      DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_CONFIG), nullptr, ConfigDialogProc, 0));
}

}  // namespace qlan
