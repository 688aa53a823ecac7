// The proxy fields of the real dialog: characters typed into them as posted WM_CHAR, text
// pasted through the clipboard, and what OK stores in qlan.ini afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan::e2e {
namespace {

using test::ReadAll;
using test::TestDataPath;
using test::UserDataFixture;
using test::WriteAll;

constexpr DWORD kWaitMs = 5000;

HWND Field(Tool& tool, int id) { return GetDlgItem(tool.Dialog(), id); }

// Posted one by one, as the keyboard would deliver them through the dialog's loop.
void Type(HWND field, std::wstring_view units, UINT message = WM_CHAR) {
  for (const wchar_t unit : units) PostMessageW(field, message, static_cast<WPARAM>(unit), 1);
}

// Returns once everything posted to the field before the call has been handled: a posted
// limit change behind them is the marker, and the limit is put back afterwards.
bool Settle(HWND field) {
  const auto limit = static_cast<WPARAM>(SendMessageW(field, EM_GETLIMITTEXT, 0, 0));
  const WPARAM marker = limit - 1;
  PostMessageW(field, EM_SETLIMITTEXT, marker, 0);
  const bool seen = WaitUntil(
      [&] { return static_cast<WPARAM>(SendMessageW(field, EM_GETLIMITTEXT, 0, 0)) == marker; },
      kWaitMs);
  SendMessageW(field, EM_SETLIMITTEXT, limit, 0);
  return seen;
}

std::wstring TextOf(HWND field) {
  wchar_t text[512] = {};
  SendMessageW(field, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
  return text;
}

std::pair<unsigned, unsigned> Selection(HWND field) {
  const auto packed = static_cast<DWORD>(SendMessageW(field, EM_GETSEL, 0, 0));
  return {LOWORD(packed), HIWORD(packed)};
}

std::pair<unsigned, unsigned> Caret(unsigned at) { return {at, at}; }

void Select(HWND field, int from, int to) {
  SendMessageW(field, EM_SETSEL, static_cast<WPARAM>(from), static_cast<LPARAM>(to));
}

// The driver's own clipboard owner: a message-only window, so that SetClipboardData has one.
class Clipboard {
 public:
  Clipboard()
      : owner_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                               nullptr)) {}
  ~Clipboard() {
    if (owner_ != nullptr) DestroyWindow(owner_);
  }
  Clipboard(const Clipboard&) = delete;
  Clipboard& operator=(const Clipboard&) = delete;

  // The tool may still hold the clipboard from its last paste: retry for a while.
  bool Put(std::wstring_view text) {
    if (owner_ == nullptr || !WaitUntil([&] { return OpenClipboard(owner_) != FALSE; }, kWaitMs)) {
      return false;
    }
    bool ok = false;
    if (EmptyClipboard()) {
      const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
      if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        auto* units = static_cast<wchar_t*>(GlobalLock(memory));
        text.copy(units, text.size());
        units[text.size()] = L'\0';
        GlobalUnlock(memory);
        ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        if (!ok) GlobalFree(memory);
      }
    }
    CloseClipboard();
    return ok;
  }

 private:
  HWND owner_;
};

// The proxy part of a stored settings file.
struct StoredProxy {
  std::uint32_t flags = 0;
  std::int32_t port = 0;
  std::string address;
};

StoredProxy ReadStoredProxy(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadAll(path);
  StoredProxy stored;
  if (bytes.size() != 144) {
    ADD_FAILURE() << path << " has " << bytes.size() << " bytes";
    return stored;
  }
  auto word = [&](std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) << 24 |
           static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
  };
  stored.flags = word(8);
  stored.port = static_cast<std::int32_t>(word(12));
  for (std::size_t i = 16; i < bytes.size() && bytes[i] != 0; ++i)
    stored.address.push_back(static_cast<char>(bytes[i]));
  return stored;
}

// Starts the tool on a fresh user folder with the proxy option switched on.
struct ProxyDialog {
  UserDataFixture user;
  Tool tool{user.appData()};

  bool Open() {
    if (tool.Dialog() == nullptr) return false;
    tool.Click(IDC_USE_PROXY);
    return IsWindowEnabled(Field(tool, IDE_PROXY_ADDRESS)) != FALSE;
  }
  StoredProxy SaveWithOk() {
    tool.Press(IDOK);
    EXPECT_EQ(tool.WaitForExit(), 0u);
    return ReadStoredProxy(user.VendorPath("qlan.ini"));
  }
};

// --- address ------------------------------------------------------------------------------

TEST(InputFiltersE2e, AddressTakesOnlyHostNameKeys) {
  ProxyDialog d;
  ASSERT_TRUE(d.Open());
  HWND address = Field(d.tool, IDE_PROXY_ADDRESS);
  Type(address, L"Proxy_-1:.exa/mple N\u00e9T\u3042\uff21");
  ASSERT_TRUE(Settle(address));
  EXPECT_EQ(TextOf(address), L"Proxy-1.exampleNT");
  EXPECT_EQ(Selection(address), Caret(17));

  // An input method's characters arrive as WM_IME_CHAR and are held to the same rule.
  Type(address, L"\u3042Z", WM_IME_CHAR);
  ASSERT_TRUE(Settle(address));
  EXPECT_EQ(TextOf(address), L"Proxy-1.exampleNTZ");

  const StoredProxy stored = d.SaveWithOk();
  EXPECT_EQ(stored.address, "Proxy-1.exampleNTZ");
  EXPECT_EQ(stored.flags & 0x10u, 0x10u);
}

TEST(InputFiltersE2e, AddressStopsTakingKeysAt126ButBackspaceWorks) {
  ProxyDialog d;
  ASSERT_TRUE(d.Open());
  HWND address = Field(d.tool, IDE_PROXY_ADDRESS);
  const std::wstring start(125, L'a');
  d.tool.SetText(IDE_PROXY_ADDRESS, start);
  Select(address, 125, 125);
  Type(address, L"b");
  Type(address, L"c-.");
  ASSERT_TRUE(Settle(address));
  EXPECT_EQ(TextOf(address), start + L"b");

  Type(address, L"\bz");
  ASSERT_TRUE(Settle(address));
  EXPECT_EQ(TextOf(address), start + L"z");

  // A selection does not make room: the whole text counts.
  Select(address, 0, -1);
  Type(address, L"q");
  ASSERT_TRUE(Settle(address));
  EXPECT_EQ(TextOf(address), start + L"z");

  EXPECT_EQ(d.SaveWithOk().address, std::string(125, 'a') + "z");
}

TEST(InputFiltersE2e, PastedWebAddressKeepsItsHostNameCharacters) {
  ProxyDialog d;
  ASSERT_TRUE(d.Open());
  HWND address = Field(d.tool, IDE_PROXY_ADDRESS);
  Clipboard clipboard;
  ASSERT_TRUE(clipboard.Put(L"http://user@proxy.example:8080/"));
  Select(address, 0, 0);
  SendMessageW(address, WM_PASTE, 0, 0);
  EXPECT_EQ(TextOf(address), L"httpuserproxy.example8080");
  EXPECT_EQ(Selection(address), Caret(25));

  // Ctrl+V, as the keyboard sends it, pastes in the middle; the caret stays behind it.
  ASSERT_TRUE(clipboard.Put(L"-\u30d7/2"));
  Select(address, 4, 4);
  Type(address, L"\x16");
  ASSERT_TRUE(Settle(address));
  EXPECT_EQ(TextOf(address), L"http-2userproxy.example8080");
  EXPECT_EQ(Selection(address), Caret(6));

  EXPECT_EQ(d.SaveWithOk().address, "http-2userproxy.example8080");
}

TEST(InputFiltersE2e, Pasted200CharactersKeepTheFirst127) {
  ProxyDialog d;
  ASSERT_TRUE(d.Open());
  HWND address = Field(d.tool, IDE_PROXY_ADDRESS);
  std::wstring digits;
  for (int i = 0; i < 200; ++i) digits.push_back(static_cast<wchar_t>(L'0' + i % 10));
  Clipboard clipboard;
  ASSERT_TRUE(clipboard.Put(digits));
  SendMessageW(address, WM_PASTE, 0, 0);
  EXPECT_EQ(TextOf(address), digits.substr(0, 127));
  EXPECT_EQ(Selection(address), Caret(127));

  std::string expected;
  for (int i = 0; i < 127; ++i) expected.push_back(static_cast<char>('0' + i % 10));
  EXPECT_EQ(d.SaveWithOk().address, expected);
}

// --- port ---------------------------------------------------------------------------------

TEST(InputFiltersE2e, PortClampsOnTheFifthDigitAndRefusesASixth) {
  ProxyDialog d;
  ASSERT_TRUE(d.Open());
  HWND port = Field(d.tool, IDE_PROXY_PORT);
  Select(port, 0, -1);
  Type(port, L"\b6a5-5 3");
  ASSERT_TRUE(Settle(port));
  EXPECT_EQ(TextOf(port), L"6553");

  Type(port, L"8");
  ASSERT_TRUE(Settle(port));
  EXPECT_EQ(TextOf(port), L"65535");
  EXPECT_EQ(Selection(port), Caret(5));

  Select(port, 2, 2);
  Type(port, L"1");
  ASSERT_TRUE(Settle(port));
  EXPECT_EQ(TextOf(port), L"65535");

  EXPECT_EQ(d.SaveWithOk().port, 65535);
}

TEST(InputFiltersE2e, PastedNegativePortBecomesZeroAndDigitsBeforeLettersAreKept) {
  ProxyDialog d;
  ASSERT_TRUE(d.Open());
  HWND port = Field(d.tool, IDE_PROXY_PORT);
  Clipboard clipboard;
  ASSERT_TRUE(clipboard.Put(L"-12"));
  Select(port, 0, -1);
  SendMessageW(port, WM_PASTE, 0, 0);
  EXPECT_EQ(TextOf(port), L"0");
  EXPECT_EQ(Selection(port), Caret(1));

  ASSERT_TRUE(clipboard.Put(L"80ab"));
  Select(port, 0, -1);
  SendMessageW(port, WM_PASTE, 0, 0);
  EXPECT_EQ(TextOf(port), L"80ab");
  EXPECT_EQ(Selection(port), Caret(4));

  EXPECT_EQ(d.SaveWithOk().port, 80);
}

TEST(InputFiltersE2e, CutFromTheContextMenuIsCheckedLikeATypedKey) {
  ProxyDialog d;
  ASSERT_TRUE(d.Open());
  HWND port = Field(d.tool, IDE_PROXY_PORT);
  Clipboard clipboard;
  ASSERT_TRUE(clipboard.Put(L"1x99999"));
  Select(port, 0, -1);
  SendMessageW(port, WM_PASTE, 0, 0);
  ASSERT_EQ(TextOf(port), L"1x99999");

  Select(port, 0, 2);
  SendMessageW(port, WM_CUT, 0, 0);
  EXPECT_EQ(TextOf(port), L"65535");
  EXPECT_EQ(Selection(port), Caret(5));

  EXPECT_EQ(d.SaveWithOk().port, 65535);
}

// --- text the program puts in -------------------------------------------------------------

TEST(InputFiltersE2e, StoredValuesAreShownUnfiltered) {
  UserDataFixture user;
  test::MakeFolder(user.VendorPath());
  std::vector<std::uint8_t> file = ReadAll(TestDataPath("settings/defaults.ini"));
  ASSERT_EQ(file.size(), 144u);
  file[11] |= 0x10;  // proxy on
  file[12] = 0x00;   // port 70000, big-endian
  file[13] = 0x01;
  file[14] = 0x11;
  file[15] = 0x70;
  const std::string stored = "http://proxy_1:80/";
  std::copy(stored.begin(), stored.end(), file.begin() + 16);
  WriteAll(user.VendorPath("qlan.ini"), file);

  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  EXPECT_EQ(tool.Text(IDE_PROXY_ADDRESS), L"http://proxy_1:80/");
  EXPECT_EQ(tool.Text(IDE_PROXY_PORT), L"70000");
  tool.Press(IDOK);
  EXPECT_EQ(tool.WaitForExit(), 0u);
  EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")), file) << "nothing changed, nothing saved";
}

}  // namespace
}  // namespace qlan::e2e
