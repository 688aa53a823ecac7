// Download and entry on the real dialog, through the proxy fields pointed at a loopback
// peer, and the browser launch captured by a stand-in browser.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "driver.h"
#include "net/ranking.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan::e2e {
namespace {

using test::LoopbackPeer;
using test::ReadAll;
using test::TestDataPath;
using test::UserDataFixture;

void UseProxy(Tool& tool, int port) {
  tool.Click(IDC_USE_PROXY);
  tool.SetText(IDE_PROXY_ADDRESS, L"127.0.0.1");
  tool.SetText(IDE_PROXY_PORT, std::to_wstring(port));
}

TEST(DownloadE2e, TableFromThePeerReplacesTheFirstHighScoreFile) {
  UserDataFixture user;
  test::MakeFolder(user.VendorPath());
  test::WriteAll(user.VendorPath("qlanb.ee"), std::vector<std::uint8_t>(20000, 0x55));
  const std::string body(10888, '\x5A');
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 10888\r\n\r\n" + body);
  peer.Start();

  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  UseProxy(tool, peer.port());
  tool.Press(IDC_DOWNLOAD);
  const MessageBoxSeen question = tool.WaitForMessageBox();
  EXPECT_EQ(question.text,
            L"インターネットに接続し最新のハイスコア記録を取得します。\nダウンロードが成功すると、"
            L"現在のデータは上書きされ消滅します。\nよろしいですか？");
  EXPECT_EQ(question.caption, L"ダウンロード");
  EXPECT_EQ(question.icon, IDI_EXCLAMATION);
  tool.Answer(question, IDOK);
  const MessageBoxSeen done = tool.WaitForMessageBox();
  EXPECT_EQ(done.text, L"ダウンロードが完了しました。");
  EXPECT_EQ(done.icon, IDI_ASTERISK);
  tool.Answer(done, IDOK);

  EXPECT_EQ(ReadAll(user.VendorPath("qlanb.ee")),
            std::vector<std::uint8_t>(body.begin(), body.end()));
  const std::string request = peer.Request();
  EXPECT_EQ(request.substr(0, request.find('\n') + 1),
            std::string("GET http://") + RankingHost + "/sw/qlan/score.dat HTTP/1.1\r\n");
  tool.Press(IDOK);
  EXPECT_EQ(tool.WaitForExit(), 0u);
}

TEST(DownloadE2e, UnusableProxySettingsAreReportedWithoutAQuestion) {
  UserDataFixture user;
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  tool.Click(IDC_USE_PROXY);
  tool.Press(IDC_DOWNLOAD);
  MessageBoxSeen box = tool.WaitForMessageBox();
  EXPECT_EQ(box.text,
            L"プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。");
  EXPECT_EQ(box.caption, L"ダウンロード");
  EXPECT_EQ(box.icon, IDI_HAND);
  tool.Answer(box, IDOK);
  EXPECT_TRUE(tool.NoMessageBoxWithin(300));

  tool.SetText(IDE_PROXY_ADDRESS, L"127.0.0.1");
  tool.SetText(IDE_PROXY_PORT, L"0");
  tool.Press(IDC_DOWNLOAD);
  box = tool.WaitForMessageBox();
  EXPECT_EQ(box.text,
            L"プロキシのポート指定が不正です。\nポートは1から65535の間で指定してください。");
  tool.Answer(box, IDOK);
  EXPECT_TRUE(tool.NoMessageBoxWithin(300));
  EXPECT_FALSE(test::Exists(user.VendorPath("qlanb.ee")));
  tool.Press(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), 0u);
}

TEST(DownloadE2e, ServerErrorShowsTheStatusLineAndKeepsTheFile) {
  UserDataFixture user;
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  peer.Start();
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  UseProxy(tool, peer.port());
  tool.Press(IDC_DOWNLOAD);
  tool.Answer(tool.WaitForMessageBox(), IDOK);
  const MessageBoxSeen box = tool.WaitForMessageBox();
  EXPECT_EQ(box.text, L"HTTPエラーです。\nHTTP/1.1 404 Not Found\r\n");
  EXPECT_EQ(box.icon, IDI_HAND);
  tool.Answer(box, IDOK);
  EXPECT_FALSE(test::Exists(user.VendorPath("qlanb.ee")));
  tool.Press(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), 0u);
}

// Points Wine's browser launcher at the recording script for the life of the object.
class BrowserStandIn {
 public:
  BrowserStandIn() {
    DeleteFileW(kLog);
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineBrowser", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    const std::wstring script = Wide(QLAN_E2E_DIR "/record-url.sh");
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
    std::string text;
    WaitUntil(
        [&] {
          std::ifstream in(kLog);
          std::stringstream all;
          all << in.rdbuf();
          text = all.str();
          return !text.empty();
        },
        waitMs);
    return text;
  }

 private:
  static constexpr const wchar_t* kLog = L"Z:\\tmp\\qlan-e2e-browser.log";
  HKEY key_ = nullptr;
};

void CopyReplay(const UserDataFixture& user, const char* name) {
  test::MakeFolder(user.ReplayPath());
  test::WriteAll(user.ReplayPath(name), ReadAll(TestDataPath(std::string("replays/good/") + name)));
}

TEST(EntryE2e, UploadOpensTheEntryPageForTheReturnedIdentifier) {
  UserDataFixture user;
  CopyReplay(user, "r712.replay");
  CopyReplay(user, "r745.replay");
  BrowserStandIn browser;
  LoopbackPeer peer;
  peer.ReadRequest().Send(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html>\n**ID:Ab3-x_9\r\n</html>\n");
  peer.Start();

  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  UseProxy(tool, peer.port());
  // The second line: route 745.
  SendMessageW(GetDlgItem(tool.Dialog(), IDC_RECORD_LIST), CB_SETCURSEL, 1, 0);
  tool.Press(IDC_ENTRY);
  const MessageBoxSeen question = tool.WaitForMessageBox();
  EXPECT_EQ(question.text,
            L"インターネットに接続し記録のエントリーを行います。\n走行記録がアップロードされ公開さ"
            L"れます。\nよろしいですか？");
  EXPECT_EQ(question.caption, L"エントリー");
  EXPECT_EQ(question.icon, IDI_ASTERISK);
  EXPECT_TRUE(question.hasCancel);
  tool.Answer(question, IDOK);
  const MessageBoxSeen done = tool.WaitForMessageBox();
  EXPECT_EQ(done.text,
            L"走行記録のアップロードが完了しました。\nこれよりウェブブラウザを立ち上げます。OKボタ"
            L"ンを押してから10秒程度お待ちください。");
  EXPECT_EQ(done.icon, IDI_ASTERISK);
  tool.Answer(done, IDOK);

  EXPECT_EQ(browser.Opened(8000),
            std::string("http://") + RankingHost + "/sw/qlan/hsentry/1/?UNIQUE_ID=Ab3-x_9\n");
  EXPECT_TRUE(tool.NoMessageBoxWithin(300));
  const std::string request = peer.Request();
  EXPECT_EQ(request.substr(0, request.find('\n') + 1),
            std::string("POST http://") + RankingHost + "/sw/qlan/hsentry/0/ HTTP/1.1\n");
  // The replay of route 745 went out: its Base64 starts with the magic "QLNR".
  EXPECT_NE(request.find("base64\n\nUUxOU"), std::string::npos);
  tool.Press(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), 0u);
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
  ASSERT_NE(tool.Dialog(), nullptr);
  UseProxy(tool, peer.port());
  tool.Press(IDC_ENTRY);
  tool.Answer(tool.WaitForMessageBox(), IDOK);
  tool.Answer(tool.WaitForMessageBox(), IDOK);
  const MessageBoxSeen box = tool.WaitForMessageBox();
  EXPECT_EQ(box.text,
            L"ウェブブラウザを開く際にエラーが起きました。\n・ ファイルがみつかりません。");
  EXPECT_EQ(box.caption, L"エントリー");
  EXPECT_EQ(box.icon, IDI_HAND);
  tool.Answer(box, IDOK);
  tool.Press(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), 0u);
}

TEST(EntryE2e, NoServerMeansTheGenericFailure) {
  UserDataFixture user;
  CopyReplay(user, "r710.replay");
  Tool tool(user.appData());
  ASSERT_NE(tool.Dialog(), nullptr);
  UseProxy(tool, LoopbackPeer::ClosedPort());
  tool.Press(IDC_ENTRY);
  tool.Answer(tool.WaitForMessageBox(), IDOK);
  const MessageBoxSeen box = tool.WaitForMessageBox();
  EXPECT_EQ(box.text, L"エントリー中にエラーが起きました。");
  EXPECT_EQ(box.icon, IDI_HAND);
  tool.Answer(box, IDOK);
  tool.Press(IDCANCEL);
  EXPECT_EQ(tool.WaitForExit(), 0u);
}

}  // namespace
}  // namespace qlan::e2e
