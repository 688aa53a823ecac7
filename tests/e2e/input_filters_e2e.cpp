// The proxy fields' window procedures in the real dialog: posted WM_CHAR and WM_IME_CHAR,
// pastes through the clipboard, a cut, and what OK stores in qlan.ini afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

#include "driver.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan::e2e {
namespace {

using test::ReadAll;
using test::UserDataFixture;
using Selection = std::pair<unsigned, unsigned>;

// Posts the units and returns once the field has handled them: a posted limit change
// behind them is the marker, and the limit is put back afterwards.
void Type(HWND field, std::wstring_view units, UINT message = WM_CHAR) {
  for (const wchar_t unit : units) PostMessageW(field, message, static_cast<WPARAM>(unit), 1);
  const auto limit = static_cast<WPARAM>(SendMessageW(field, EM_GETLIMITTEXT, 0, 0));
  PostMessageW(field, EM_SETLIMITTEXT, limit - 1, 0);
  EXPECT_TRUE(WaitUntil(
      [&] { return static_cast<WPARAM>(SendMessageW(field, EM_GETLIMITTEXT, 0, 0)) == limit - 1; },
      5000));
  SendMessageW(field, EM_SETLIMITTEXT, limit, 0);
}

std::pair<std::wstring, Selection> State(HWND field) {
  wchar_t text[512] = {};
  SendMessageW(field, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
  const auto packed = static_cast<DWORD>(SendMessageW(field, EM_GETSEL, 0, 0));
  return {text, {LOWORD(packed), HIWORD(packed)}};
}

void Select(HWND field, int from, int to) {
  SendMessageW(field, EM_SETSEL, static_cast<WPARAM>(from), static_cast<LPARAM>(to));
}

// Puts text on the clipboard, owned by a message-only window of the driver; the tool may
// still hold the clipboard from its last paste, so opening is retried for a while.
void Put(std::wstring_view text) {
  const std::unique_ptr<HWND__, decltype(&DestroyWindow)> owner(
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr),
      &DestroyWindow);
  ASSERT_TRUE(WaitUntil([&] { return OpenClipboard(owner.get()) != FALSE; }, 5000));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  ASSERT_NE(memory, nullptr);
  auto* units = static_cast<wchar_t*>(GlobalLock(memory));
  units[text.copy(units, text.size())] = L'\0';
  GlobalUnlock(memory);
  if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
  CloseClipboard();
}

// A qlan.ini with the proxy on, port 70000 and an address no key could type: the
// program's own text is shown unfiltered.
struct ProxyDialog {
  UserDataFixture user;
  std::vector<std::uint8_t> file;
  std::unique_ptr<Tool> tool;
  ProxyDialog() : file(ReadAll(test::TestDataPath("settings/defaults.ini"))) {
    file[11] |= 0x10;
    file[13] = 0x01, file[14] = 0x11, file[15] = 0x70;  // 70000, big-endian
    const std::string stored = "http://proxy_1:80/";
    std::copy(stored.begin(), stored.end(), file.begin() + 16);
    test::MakeFolder(user.VendorPath());
    test::WriteAll(user.VendorPath("qlan.ini"), file);
    tool = std::make_unique<Tool>(user.appData());
  }
  HWND Field(int id) { return GetDlgItem(tool->Dialog(), id); }
  // OK, then the stored address and port.
  std::pair<std::string, int> Saved() {
    tool->End(IDOK);
    const auto bytes = ReadAll(user.VendorPath("qlan.ini"));
    const auto zero = std::find(bytes.begin() + 16, bytes.end(), 0);
    return {std::string(bytes.begin() + 16, zero), bytes[13] << 16 | bytes[14] << 8 | bytes[15]};
  }
};

TEST(InputFiltersE2e, FieldsFilterKeysAndRepairPastesAndCuts) {
  ProxyDialog d;
  HWND address = d.Field(IDE_PROXY_ADDRESS);
  HWND port = d.Field(IDE_PROXY_PORT);
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(d.tool->Text(IDE_PROXY_ADDRESS), L"http://proxy_1:80/");
  EXPECT_EQ(d.tool->Text(IDE_PROXY_PORT), L"70000");
  Select(address, 0, -1);
  Type(address, L"Proxy_-1:.exa/mple N\u00e9T\u3042\uff21");
  Type(address, L"\u3042Z", WM_IME_CHAR);  // an input method's characters
  // Ctrl+V, as the keyboard sends it, pastes in the middle; the caret stays behind it.
  Put(L"-\u30d7/2");
  Select(address, 4, 4);
  Type(address, L"\x16");
  EXPECT_EQ(State(address), std::pair(std::wstring(L"Prox-2y-1.exampleNTZ"), Selection{6, 6}));
  Select(port, 0, -1);
  Type(port, L"\b6a5-5 38");  // the fifth digit clamps
  Put(L"1x99999");
  Select(port, 0, -1);
  SendMessageW(port, WM_PASTE, 0, 0);
  Select(port, 0, 2);
  SendMessageW(port, WM_CUT, 0, 0);  // as from the context menu
  EXPECT_EQ(State(port), std::pair(std::wstring(L"65535"), Selection{5, 5}));
  EXPECT_EQ(d.Saved(), std::pair(std::string("Prox-2y-1.exampleNTZ"), 65535));
}

}  // namespace
}  // namespace qlan::e2e
