// Download and entry on the real dialog, through the proxy fields pointed at a loopback
// peer, and the browser launch captured by a stand-in browser.
#include <gtest/gtest.h>

#include <type_traits>

#include "app/wide_win32.h"
#include "driver.h"
#include "net/ranking.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan::e2e {
namespace {

using test::LoopbackPeer;
using test::ReadAll;
using test::UserDataFixture;

constexpr wchar_t kDownload[] = L"ダウンロード";
constexpr wchar_t kEntry[] = L"エントリー";
constexpr wchar_t kDownloadQuestion[] =
    L"インターネットに接続し最新のハイスコア記録を取得します。\nダウンロードが成功すると、現在"
    L"のデータは上書きされ消滅します。\nよろしいですか？";
constexpr wchar_t kEntryQuestion[] =
    L"インターネットに接続し記録のエントリーを行います。\n走行記録がアップロードされ公開されま"
    L"す。\nよろしいですか？";
constexpr wchar_t kUploaded[] =
    L"走行記録のアップロードが完了しました。\nこれよりウェブブラウザを立ち上げます。OKボタンを"
    L"押してから10秒程度お待ちください。";

void UseProxy(Tool& tool, int port) {
  ASSERT_NE(tool.Dialog(), nullptr);
  tool.Click(IDC_USE_PROXY);
  tool.SetText(IDE_PROXY_ADDRESS, L"127.0.0.1");
  tool.SetText(IDE_PROXY_PORT, std::to_wstring(port));
}

std::string FirstLine(const std::string& request) {
  return request.substr(0, request.find('\n') + 1);
}

// Points Wine's browser launcher at the recording script, which writes into the test's own
// file, for the life of the object.
class BrowserStandIn {
 public:
  BrowserStandIn() : log_(folder_.Join("browser.log")) {
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineBrowser", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    const std::wstring script =
        Widen("\"" QLAN_E2E_DIR "/record-url.sh\" \"" + UnixPath(log_) + "\"");
    RegSetValueExW(key_, L"Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(script.c_str()),
                   static_cast<DWORD>((script.size() + 1) * sizeof(wchar_t)));
  }
  ~BrowserStandIn() {
    RegDeleteValueW(key_, L"Browsers");
    RegCloseKey(key_);
  }
  BrowserStandIn(const BrowserStandIn&) = delete;
  BrowserStandIn& operator=(const BrowserStandIn&) = delete;

  // The addresses opened so far (the launcher reports a little after the call returns).
  std::string Opened(DWORD waitMs) const {
    std::vector<std::uint8_t> text;
    WaitUntil([&] { return !(text = ReadAll(log_)).empty(); }, waitMs);
    return {text.begin(), text.end()};
  }

 private:
  static std::string UnixPath(const std::string& path) {
    using ToUnix = std::add_pointer_t<char*(LPCWSTR)>;
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    char* unix = toUnix != nullptr ? toUnix(Widen(path).c_str()) : nullptr;
    std::string out = unix != nullptr ? unix : "";
    HeapFree(GetProcessHeap(), 0, unix);
    return out;
  }
  test::TempFolder folder_;
  std::string log_;
  HKEY key_ = nullptr;
};

void CopyReplay(const UserDataFixture& user, const char* name) {
  test::MakeFolder(user.ReplayPath());
  test::WriteAll(user.ReplayPath(name),
                 ReadAll(test::TestDataPath(std::string("replays/good/") + name)));
}

// One reply serves both: a 10,888-byte table for the download whose first line is the
// entry's marker for the upload.
TEST(OnlineE2e, DownloadReplacesTheTableAndEntryOpensThePageOfTheReturnedIdentifier) {
  UserDataFixture user;
  CopyReplay(user, "r712.replay");
  CopyReplay(user, "r745.replay");
  test::WriteAll(user.VendorPath("qlanb.ee"), std::vector<std::uint8_t>(20000, 0x55));
  std::string body = "**ID:Ab3-x_9\r\n";
  body.resize(10888, '\x5A');
  BrowserStandIn browser;
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 10888\r\n\r\n" + body);
  peer.Start(2);
  Tool tool(user.appData());
  UseProxy(tool, peer.port());
  tool.Press(IDC_DOWNLOAD);
  tool.ExpectBox(kDownloadQuestion, kDownload, IDI_EXCLAMATION, true);
  tool.ExpectBox(L"ダウンロードが完了しました。", kDownload, IDI_ASTERISK);
  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")),
            std::vector<std::uint8_t>(body.begin(), body.end()));
  EXPECT_EQ(FirstLine(peer.Request(0)),
            std::string("GET http://") + RankingHost + "/sw/qlan/score.dat HTTP/1.1\r\n");

  SendMessageW(GetDlgItem(tool.Dialog(), IDC_RECORD_LIST), CB_SETCURSEL, 1, 0);  // route 745
  tool.Press(IDC_ENTRY);
  tool.ExpectBox(kEntryQuestion, kEntry, IDI_ASTERISK, true);
  tool.ExpectBox(kUploaded, kEntry, IDI_ASTERISK);
  EXPECT_EQ(browser.Opened(8000),
            std::string("http://") + RankingHost + "/sw/qlan/hsentry/1/?UNIQUE_ID=Ab3-x_9\n");
  EXPECT_TRUE(tool.NoMessageBoxWithin(300));
  const std::string request = peer.Request(1);
  EXPECT_EQ(FirstLine(request),
            std::string("POST http://") + RankingHost + "/sw/qlan/hsentry/0/ HTTP/1.1\n");
  // The replay of route 745 went out: its Base64 starts with the magic "QLNR".
  EXPECT_NE(request.find("base64\n\nUUxOU"), std::string::npos);
  tool.End();
}

// Makes the shell's "open" for http addresses name a program that does not exist.
class BrokenBrowserAssociation {
 public:
  BrokenBrowserAssociation() {
    RegOpenKeyExW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", 0, KEY_ALL_ACCESS, &key_);
    wchar_t value[512] = {};
    DWORD size = sizeof value;
    RegQueryValueExW(key_, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    saved_ = value;
    Set(L"\"C:\\no-such-folder\\no-browser.exe\" \"%1\"");
  }
  ~BrokenBrowserAssociation() {
    Set(saved_);
    RegCloseKey(key_);
  }
  BrokenBrowserAssociation(const BrokenBrowserAssociation&) = delete;
  BrokenBrowserAssociation& operator=(const BrokenBrowserAssociation&) = delete;

 private:
  void Set(const std::wstring& command) {
    RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  }
  HKEY key_ = nullptr;
  std::wstring saved_;
};

TEST(EntryE2e, AFailedBrowserLaunchIsExplained) {
  UserDataFixture user;
  CopyReplay(user, "r710.replay");
  BrokenBrowserAssociation broken;
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:abc\n");
  peer.Start();
  Tool tool(user.appData());
  UseProxy(tool, peer.port());
  tool.Press(IDC_ENTRY);
  tool.ExpectBox(kEntryQuestion, kEntry, IDI_ASTERISK, true);
  tool.ExpectBox(kUploaded, kEntry, IDI_ASTERISK);
  tool.ExpectBox(L"ウェブブラウザを開く際にエラーが起きました。\n・ ファイルがみつかりません。",
                 kEntry, IDI_HAND);
  tool.End();
}

}  // namespace
}  // namespace qlan::e2e
