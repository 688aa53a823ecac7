// End to end: a Win32 driver starts the real qlantool.exe with the test's APPDATA, works its
// dialog and message boxes, and reads what they show and what they leave in files.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/wide_win32.h"
#include "net/ranking.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan::test {
namespace {

// Polls cond every 20 ms until it holds or the time is up.
template <typename F>
bool WaitUntil(F cond, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!cond()) {
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
  return true;
}

std::wstring TextOf(HWND h) {
  wchar_t text[512] = {};
  SendMessageW(h, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
  return text;
}

// A visible dialog-class window of the process: the dialog (with button 1006) or a box.
HWND FindTop(DWORD pid, bool wantDialog) {
  for (HWND h = GetTopWindow(nullptr); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == pid && IsWindowVisible(h) && GetClassWord(h, GCW_ATOM) == 32770 &&
        (GetDlgItem(h, 1006) != nullptr) == wantDialog) {
      return h;
    }
  }
  return nullptr;
}

// Icon handles are per process under Wine, so the icon is recognised by its pixels on the
// screen, compared with each standard icon drawn into memory on the same background.
LPCWSTR IconOf(HWND box) {
  HWND icon = FindWindowExW(box, nullptr, L"Static", nullptr);  // the icon comes first
  if (icon == nullptr || (GetWindowLongW(icon, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return nullptr;
  const int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
  RECT r{};
  GetWindowRect(icon, &r);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HBRUSH background = CreateSolidBrush(GetPixel(screen, r.left, r.top));
  LPCWSTR best = nullptr;
  int bestDiff = w * h / 20;  // more differing pixels: no icon recognised
  for (LPCWSTR id : {IDI_HAND, IDI_EXCLAMATION, IDI_ASTERISK, IDI_QUESTION}) {
    const RECT all{0, 0, w, h};
    FillRect(memory, &all, background);
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, id), w, h, 0, nullptr, DI_NORMAL);
    int diff = 0;
    for (int i = 0; i < w * h; ++i) {
      diff += GetPixel(screen, r.left + i % w, r.top + i / w) != GetPixel(memory, i % w, i / w);
    }
    if (diff < bestDiff) bestDiff = diff, best = id;
  }
  SelectObject(memory, old);
  DeleteObject(background);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return best;
}

// The qlantool.exe of this build: the test program lives in build/windows/tests/e2e.
std::wstring ToolPath() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  for (int up = 0; up < 3; ++up) path.resize(path.find_last_of(L'\\'));
  return path + L"\\" + Widen(QLANTOOL_EXE_NAME);
}

class Tool {
 public:
  // Starts qlantool.exe, which inherits the test's environment, with APPDATA set to appData.
  explicit Tool(const std::string& appData) {
    SetEnvironmentVariableW(L"APPDATA", Widen(appData).c_str());
    const std::wstring exe = ToolPath();
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const BOOL ok = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &info_);
    EXPECT_TRUE(ok) << "CreateProcessW failed: " << GetLastError();
    if (ok) WaitForInputIdle(info_.hProcess, 5000);
  }
  ~Tool() {
    if (info_.hProcess == nullptr) return;
    TerminateProcess(info_.hProcess, 99);  // fails once it has ended by itself
    WaitForSingleObject(info_.hProcess, 5000);
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  // Once visible; nullptr after the time-out.
  HWND Dialog() {
    if (dialog_ == nullptr || !IsWindow(dialog_)) {
      WaitUntil([&] { return (dialog_ = FindTop(info_.dwProcessId, true)) != nullptr; }, 10000);
    }
    return dialog_;
  }

  // Waits for the next message box, expects its text, caption, icon, buttons and owner (the
  // dialog while it is there, else none), and answers OK.
  void ExpectBox(const std::wstring& text, const wchar_t* caption, LPCWSTR icon,
                 bool cancel = false) {
    HWND box = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (box = FindTop(info_.dwProcessId, false)) != nullptr; }, 10000))
        << "no message box: " << text;
    Sleep(50);  // lets the box finish laying itself out
    EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), text);
    EXPECT_EQ(TextOf(box), caption);
    EXPECT_EQ(IconOf(box), icon);
    EXPECT_EQ(IsWindowVisible(GetDlgItem(box, IDCANCEL)) != FALSE, cancel);
    EXPECT_EQ(GetWindow(box, GW_OWNER), IsWindow(dialog_) ? dialog_ : nullptr);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
  }

  // Posted, so a command that opens a message box does not block.
  void Press(int id) {
    HWND dlg = Dialog();
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
  }
  void Click(int id) { SendMessageW(GetDlgItem(Dialog(), id), BM_CLICK, 0, 0); }
  void SetText(int id, const std::wstring& text) {
    SendMessageW(GetDlgItem(Dialog(), id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  std::vector<std::wstring> ListLines(int id) {
    HWND list = GetDlgItem(Dialog(), id);
    std::vector<std::wstring> lines;
    for (WPARAM i = 0;; ++i) {
      const LRESULT n = SendMessageW(list, CB_GETLBTEXTLEN, i, 0);
      if (n < 0) return lines;
      std::wstring line(static_cast<std::size_t>(n) + 1, L'\0');
      SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(line.data()));
      lines.emplace_back(line.c_str());
    }
  }
  // Presses OK and expects the process to end without error.
  void Ok() {
    Press(IDOK);
    EXPECT_EQ(WaitForExit(), 0u);
  }
  // STILL_ACTIVE after the time-out.
  DWORD WaitForExit() {
    WaitForSingleObject(info_.hProcess, 10000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION info_{};
  HWND dialog_ = nullptr;
};

using Selection = std::pair<unsigned, unsigned>;

constexpr wchar_t kCaption[] = L"Quillaneツール";

void Store(const UserDataFixture& user, const Bytes& file) {
  MakeFolder(user.VendorPath());
  WriteAll(user.VendorPath("qlan.ini"), file);
}

// Posts the units, then waits until a limit change posted behind them has been handled.
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
  const auto packed = static_cast<DWORD>(SendMessageW(field, EM_GETSEL, 0, 0));
  return {TextOf(field), {LOWORD(packed), HIWORD(packed)}};
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

// A qlan.ini with the proxy on and an address in code page 932 that no key could type: the
// program's own text is shown unfiltered, kept by an OK without change and by a failed save.
TEST(DialogE2e, StoredAddressIsKeptAndFieldsFilterKeysAndRepairPastesAndCuts) {
  UserDataFixture user;
  Bytes file = ReadAll(TestDataPath("settings/defaults.ini"));
  file[11] |= 0x10;
  const Bytes proxyInCp932 = {0x83, 0x76, 0x83, 0x8D, 0x83, 0x4C, 0x83, 0x56};  // "プロキシ"
  std::copy(proxyInCp932.begin(), proxyInCp932.end(), file.begin() + 16);
  Store(user, file);
  {
    Tool tool(user.appData());
    ASSERT_NE(tool.Dialog(), nullptr);
    EXPECT_EQ(TextOf(GetDlgItem(tool.Dialog(), IDE_PROXY_ADDRESS)), L"プロキシ");
    tool.Ok();
    EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")), file);
  }
  SetReadOnly(user.VendorPath("qlan.ini"), true);
  {
    Tool tool(user.appData());
    tool.Click(IDC_REPLAY_EVERY_RUN);
    tool.Press(IDOK);
    tool.ExpectBox(L"設定ファイルの保存に失敗しました。\n設定は元に戻ります。", kCaption, IDI_HAND);
    EXPECT_EQ(tool.WaitForExit(), 0xFFFFFFFFu);
    EXPECT_EQ(ReadAll(user.VendorPath("qlan.ini")), file);
  }
  SetReadOnly(user.VendorPath("qlan.ini"), false);
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  HWND address = GetDlgItem(tool.Dialog(), IDE_PROXY_ADDRESS);
  HWND port = GetDlgItem(tool.Dialog(), IDE_PROXY_PORT);
  SendMessageW(address, EM_SETSEL, 0, -1);
  Type(address, L"Proxy_-1:.exa/mple N\u00e9T\u3042\uff21");
  Type(address, L"\u3042Z", WM_IME_CHAR);  // an input method's characters
  // Ctrl+V, as the keyboard sends it, pastes in the middle; the caret stays behind it.
  Put(L"-\u30d7/2");
  SendMessageW(address, EM_SETSEL, 4, 4);
  Type(address, L"\x16");
  EXPECT_EQ(State(address), std::pair(std::wstring(L"Prox-2y-1.exampleNTZ"), Selection{6, 6}));
  SendMessageW(port, EM_SETSEL, 0, -1);
  Type(port, L"\b6a5-5 38");  // the fifth digit clamps
  Put(L"1x99999");
  SendMessageW(port, EM_SETSEL, 0, -1);
  SendMessageW(port, WM_PASTE, 0, 0);
  SendMessageW(port, EM_SETSEL, 0, 2);
  SendMessageW(port, WM_CUT, 0, 0);  // as from the context menu
  EXPECT_EQ(State(port), std::pair(std::wstring(L"65535"), Selection{5, 5}));
  tool.Ok();
  const Bytes saved = ReadAll(user.VendorPath("qlan.ini"));
  ASSERT_EQ(saved.size(), 144u);
  EXPECT_EQ(std::string(saved.begin() + 13, saved.begin() + 37),  // port 65535, the address
            std::string("\0\xFF\xFFProx-2y-1.exampleNTZ\0", 24));
}

// Points Wine's browser launcher at the recording script, which writes into the test's own
// file, for the life of the object.
class BrowserStandIn {
 public:
  BrowserStandIn() : log_(folder_.Join("browser.log")) {
    using ToUnix = std::add_pointer_t<char*(LPCWSTR)>;
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    char* unix = toUnix != nullptr ? toUnix(Widen(log_).c_str()) : nullptr;
    const std::wstring script =
        Widen("\"" QLAN_E2E_DIR "/record-url.sh\" \"" + std::string(unix ? unix : "") + "\"");
    HeapFree(GetProcessHeap(), 0, unix);
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Browsers", REG_SZ, script.c_str(),
                    static_cast<DWORD>((script.size() + 1) * sizeof(wchar_t)));
  }
  ~BrowserStandIn() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Browsers"); }

  // The addresses opened so far (the launcher reports a little after the call returns).
  std::string Opened() const {
    Bytes text;
    WaitUntil([&] { return !(text = ReadAll(log_)).empty(); }, 8000);
    return {text.begin(), text.end()};
  }

 private:
  static constexpr wchar_t kKey[] = L"Software\\Wine\\WineBrowser";
  TempFolder folder_;
  std::string log_;
};

// One reply serves both download and entry: a 10,888-byte table whose first line is the
// entry's marker for the upload. A replay of another route under 711's name has no line.
TEST(DialogE2e, UnreadableSettingsListDownloadEntryOpensTheReturnedPageAndErase) {
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  for (const char* name : {"good/r710.replay", "good/r712.replay", "good/r745.replay",
                           "bad/route713-as-r712.replay"}) {
    const std::string file = name[0] == 'b' ? "r711.replay" : std::string(name + 5);
    WriteAll(user.ReplayPath(file), ReadAll(TestDataPath(std::string("replays/") + name)));
  }
  WriteAll(user.VendorPath("qlanb.ee"), Bytes(20000, 0x55));
  Bytes shortFile = ReadAll(TestDataPath("settings/defaults.ini"));
  shortFile.resize(143);  // too short to read: defaults are used
  Store(user, shortFile);
  std::string body = "**ID:Ab3-x_9\r\n";
  body.resize(10888, '\x5A');
  BrowserStandIn browser;
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 10888\r\n\r\n" + body);
  peer.Start(2);
  Tool tool(user.appData());
  tool.ExpectBox(L"設定ファイルを読み込めません。\n標準の設定を使用します。", kCaption,
                 IDI_ASTERISK);
  ASSERT_NE(tool.Dialog(), nullptr);
  EXPECT_EQ(tool.ListLines(IDC_RECORD_LIST),
            (std::vector<std::wstring>{L"R 710:  45,678m  2'03.06", L"R 712:       0m  0'00.00",
                                       L"R 745:  3,456km  1:23'20"}));
  HWND list = GetDlgItem(tool.Dialog(), IDC_RECORD_LIST);
  EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 0);
  tool.Click(IDC_USE_PROXY);
  tool.SetText(IDE_PROXY_ADDRESS, L"127.0.0.1");
  tool.SetText(IDE_PROXY_PORT, std::to_wstring(peer.port()));

  constexpr wchar_t kDownload[] = L"ダウンロード";
  tool.Press(IDC_DOWNLOAD);
  tool.ExpectBox(
      L"インターネットに接続し最新のハイスコア記録を取得します。\nダウンロードが成功"
      L"すると、現在のデータは上書きされ消滅します。\nよろしいですか？",
      kDownload, IDI_EXCLAMATION, true);
  tool.ExpectBox(L"ダウンロードが完了しました。", kDownload, IDI_ASTERISK);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), Bytes(body.begin(), body.end()));
  EXPECT_TRUE(peer.Request(0).starts_with(std::string("GET http://") + RankingHost +
                                          "/sw/qlan/score.dat HTTP/1.1\r\n"));

  constexpr wchar_t kEntry[] = L"エントリー";
  SendMessageW(list, CB_SETCURSEL, 2, 0);  // route 745
  tool.Press(IDC_ENTRY);
  tool.ExpectBox(
      L"インターネットに接続し記録のエントリーを行います。\n走行記録がアップロードされ"
      L"公開されます。\nよろしいですか？",
      kEntry, IDI_ASTERISK, true);
  tool.ExpectBox(
      L"走行記録のアップロードが完了しました。\nこれよりウェブブラウザを立ち上げます。"
      L"OKボタンを押してから10秒程度お待ちください。",
      kEntry, IDI_ASTERISK);
  EXPECT_EQ(browser.Opened(),
            std::string("http://") + RankingHost + "/sw/qlan/hsentry/1/?UNIQUE_ID=Ab3-x_9\n");
  const std::string request = peer.Request(1);
  EXPECT_TRUE(request.starts_with(std::string("POST http://") + RankingHost +
                                  "/sw/qlan/hsentry/0/ HTTP/1.1\n"));
  // The replay of route 745 went out: its Base64 starts with the magic "QLNR".
  EXPECT_NE(request.find("base64\n\nUUxOU"), std::string::npos);

  constexpr wchar_t kErase[] = L"記録の消去";
  tool.Press(IDC_ERASE);
  tool.ExpectBox(L"この操作を行うとリプレイとハイスコアが全て消去されます。\nよろしいですか？",
                 kErase, IDI_EXCLAMATION, true);
  tool.ExpectBox(L"いちど消去すると元に戻すことはできません。\n本当によろしいですか？", kErase,
                 IDI_EXCLAMATION, true);
  tool.ExpectBox(L"消去が完了しました。", kErase, IDI_ASTERISK);
  EXPECT_TRUE(WaitUntil([&] { return tool.ListLines(IDC_RECORD_LIST).empty(); }, 3000));
  EXPECT_FALSE(Exists(user.ReplayPath("r710.replay")) || Exists(user.ReplayPath("r745.replay")));
  const auto empty = ReadAll(TestDataPath("highscore/empty-table.ee"));
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")), empty);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanc.ee")), empty);
  tool.Ok();
}

const struct Row {
  int id;
  const wchar_t* cls;
  DWORD style;  // the type bits of its class, WS_TABSTOP and WS_GROUP
  const wchar_t* text;
  RECT du;  // x, y, width, height; the list's height is its open list
} kTemplate[] = {
    // clang-format off
    {IDOK, L"Button", BS_DEFPUSHBUTTON | WS_TABSTOP, L"OK", {188, 173, 50, 14}},
    {IDCANCEL, L"Button", BS_PUSHBUTTON | WS_TABSTOP, L"キャンセル", {252, 173, 50, 14}},
    {IDC_DOWNLOAD, L"Button", BS_PUSHBUTTON | WS_TABSTOP, L"インターネットからダウンロード...", {61, 22, 101, 14}},
    {IDC_AUTO_DOWNLOAD, L"Button", BS_AUTOCHECKBOX | WS_TABSTOP, L"ゲーム起動時に自動ダウンロード", {61, 41, 104, 10}},
    {IDC_RECORD_LIST, L"ComboBox", CBS_DROPDOWNLIST | WS_TABSTOP, L"", {60, 60, 102, 84}},
    {IDC_ENTRY, L"Button", BS_PUSHBUTTON | WS_TABSTOP, L"↑の記録でエントリー", {61, 76, 99, 14}},
    {IDC_USE_PROXY, L"Button", BS_AUTOCHECKBOX | WS_TABSTOP, L"ランキングの処理にプロキシサーバを使う", {18, 110, 142, 10}},
    {IDE_PROXY_ADDRESS, L"Edit", ES_AUTOHSCROLL | WS_TABSTOP, L"", {54, 128, 105, 14}},
    {IDE_PROXY_PORT, L"Edit", ES_AUTOHSCROLL | WS_TABSTOP, L"", {54, 146, 48, 14}},
    {IDC_FULL_SCREEN, L"Button", BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, L"フルスクリーン", {190, 31, 72, 10}},
    {IDC_WINDOW_320, L"Button", BS_AUTORADIOBUTTON, L"ウインドウ (320x240)", {190, 43, 81, 10}},
    {IDC_WINDOW_640, L"Button", BS_AUTORADIOBUTTON, L"ウインドウ (640x480, ぼやける場合あり)", {190, 55, 121, 10}},
    {IDC_REPLAY_BETTER, L"Button", BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, L"よりよい記録が出たとき", {190, 85, 88, 10}},
    {IDC_REPLAY_EVERY_RUN, L"Button", BS_AUTORADIOBUTTON | WS_TABSTOP, L"毎回", {190, 97, 32, 10}},
    // The group bit ends the replay buttons' group, so the arrow keys stay inside it.
    {IDC_ERASE, L"Button", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, L"全ての記録を消去", {191, 110, 83, 14}},
    {IDC_SWAP_BUTTONS, L"Button", BS_AUTOCHECKBOX | WS_TABSTOP, L"ボタン1とボタン2を入れ換える", {190, 144, 95, 10}},
    {IDC_STATIC, L"Button", BS_GROUPBOX, L"ランキング", {7, 7, 164, 183}},
    {IDC_STATIC, L"Static", SS_RIGHT | WS_GROUP, L"ダウンロード：", {13, 25, 42, 8}},
    {IDC_STATIC, L"Button", BS_GROUPBOX, L"ゲーム設定", {175, 7, 140, 154}},
    {IDC_STATIC, L"Static", SS_LEFT | WS_GROUP, L"画面モード：", {181, 19, 48, 8}},
    {IDC_STATIC, L"Static", SS_LEFT | WS_GROUP, L"リプレイの保存：", {181, 73, 50, 8}},
    {IDC_STATIC, L"Static", SS_RIGHT | WS_GROUP, L"エントリー：", {21, 62, 34, 8}},
    {IDC_STATIC, L"Button", BS_GROUPBOX, L"プロキシ", {12, 98, 154, 84}},
    {IDC_STATIC, L"Static", SS_RIGHT | WS_GROUP, L"アドレス：", {18, 130, 30, 8}},
    {IDC_STATIC, L"Static", SS_RIGHT | WS_GROUP, L"ポート：", {18, 148, 30, 8}},
    {IDC_STATIC, L"Static", SS_LEFT | WS_GROUP, L"ウェブブラウザと同様にプロキシを指定してください", {24, 167, 135, 8}},
    {IDC_STATIC, L"Static", SS_LEFT | WS_GROUP, L"コントローラ：", {181, 132, 56, 8}},
    // clang-format on
};

INT_PTR CALLBACK Passive(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// An item's style and height as the template resource writes them: Wine's built controls
// drop some of its bits.
struct Item {
  DWORD style;
  short cy;
};

const WORD* SkipSzOrOrd(const WORD* p) {
  if (*p == 0xFFFF) return p + 2;
  while (*p++ != 0) {
  }
  return p;
}

// The items of a DLGTEMPLATEEX with DS_SETFONT: menu, class, title and font come first.
std::vector<Item> ItemsOf(const void* resource) {
  const auto* p = static_cast<const WORD*>(resource);
  const WORD count = p[8];
  p = SkipSzOrOrd(SkipSzOrOrd(SkipSzOrOrd(p + 13)));
  p = SkipSzOrOrd(p + 3);
  std::vector<Item> items;
  for (WORD i = 0; i < count; ++i) {
    p = reinterpret_cast<const WORD*>((reinterpret_cast<std::uintptr_t>(p) + 3) &
                                      ~std::uintptr_t{3});
    items.push_back({p[4] | (DWORD{p[5]} << 16), static_cast<short>(p[9])});
    p = SkipSzOrOrd(SkipSzOrOrd(p + 12));
    p += 1 + (*p + 1) / 2;  // the creation data's size, then the data
  }
  return items;
}

TEST(TemplateE2e, ControlsAndDialogAreAsDesigned) {
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> exe(
      LoadLibraryExW(ToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), &FreeLibrary);
  ASSERT_NE(exe, nullptr);
  HRSRC found = FindResourceW(exe.get(), MAKEINTRESOURCEW(IDD_CONFIG), MAKEINTRESOURCEW(5));
  ASSERT_NE(found, nullptr);
  const void* resource = LockResource(LoadResource(exe.get(), found));
  const std::vector<Item> items = ItemsOf(resource);
  ASSERT_EQ(items.size(), std::size(kTemplate));
  const std::unique_ptr<HWND__, decltype(&DestroyWindow)> dialog(
      CreateDialogIndirectParamW(GetModuleHandleW(nullptr), static_cast<LPCDLGTEMPLATEW>(resource),
                                 nullptr, Passive, 0),
      &DestroyWindow);
  ASSERT_NE(dialog, nullptr);
  HWND dlg = dialog.get();
  wchar_t caption[64] = {};
  GetWindowTextW(dlg, caption, 64);
  EXPECT_STREQ(caption, L"Quillaneツール for Quillane v.2b");
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, L"MS UI Gothic");
  EXPECT_EQ(font.lfWeight, 400);
  // Windows maps each of x, y, width and height on its own, as MapDialogRect does.
  const auto pixels = [&](RECT du) {
    MapDialogRect(dlg, &du);
    return std::vector<LONG>{du.left, du.top, du.right, du.bottom};
  };
  RECT client{};
  GetClientRect(dlg, &client);
  EXPECT_EQ((std::vector<LONG>{0, 0, client.right, client.bottom}), pixels({0, 0, 322, 197}));
  const LONG built = GetWindowLongW(dlg, GWL_STYLE);
  EXPECT_EQ(built & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
            WS_CAPTION | WS_SYSMENU);
  EXPECT_TRUE(GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  RECT window{}, work{};
  GetWindowRect(dlg, &window);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(std::abs((window.left + window.right) - (work.left + work.right)), 2);
  EXPECT_LE(std::abs((window.top + window.bottom) - (work.top + work.bottom)), 2);

  std::vector<HWND> tabStops;
  HWND child = GetWindow(dlg, GW_CHILD);
  for (const Row& row : kTemplate) {
    SCOPED_TRACE(row.text);
    // The template keeps the list's scroll bar, the fields' borders and the open list's height.
    const Item& item = items[static_cast<std::size_t>(&row - kTemplate)];
    const std::wstring_view type = row.cls;
    const DWORD kept = type == L"Edit" ? WS_BORDER : type == L"ComboBox" ? WS_VSCROLL : 0;
    EXPECT_EQ(item.style & (0x9Fu | WS_TABSTOP | WS_GROUP | WS_VSCROLL | WS_BORDER),
              row.style | kept);
    EXPECT_EQ(item.cy, row.du.bottom);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetDlgCtrlID(child), row.id);
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    EXPECT_EQ(_wcsicmp(cls, row.cls), 0) << row.cls;
    const bool list = row.style == (CBS_DROPDOWNLIST | WS_TABSTOP);
    EXPECT_EQ(list ? std::wstring(row.text) : TextOf(child), row.text);
    RECT at{};
    GetWindowRect(child, &at);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&at), 2);
    // The list's closed height follows its font; the template holds the open list's.
    RECT du = row.du;
    if (list) du.bottom = 0;
    EXPECT_EQ(
        (std::vector<LONG>{at.left, at.top, at.right - at.left, list ? 0 : at.bottom - at.top}),
        pixels(du));
    if (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) tabStops.push_back(child);
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);
  // The Tab key's order: every tab stop once, in template order, then round again.
  for (std::size_t i = 0; i < tabStops.size(); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(dlg, tabStops[i], FALSE), tabStops[(i + 1) % tabStops.size()]) << i;
  }
}

}  // namespace
}  // namespace qlan::test
