// The flows the buttons start, through the fake window: every question and message with
// its caption, icon and owner, the wait cursor, the list, the browser and the files.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "net/ranking.h"
#include "records/record_list.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"
#include "ui/online_flow.h"
#include "ui/records_flow.h"
#include "ui/resource.h"
#include "unit/net/net_test_support.h"
#include "unit/records/replay_bytes.h"

namespace qlan {
namespace {

using test::LoopbackPeer;
using Messages = std::vector<test::ShownMessage>;

constexpr unsigned kQuestion = kMbOkCancel | kMbIconExclamation | kMbSetForeground;
constexpr unsigned kError = kMbOk | kMbIconHand;
const std::string kNoAddress =
    "プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。";
const std::string kBadPort =
    "プロキシのポート指定が不正です。\nポートは1から65535の間で指定してください。";
const std::string kDownloadQuestion =
    "インターネットに接続し最新のハイスコア記録を取得します。\n"
    "ダウンロードが成功すると、現在のデータは上書きされ消滅します。\nよろしいですか？";
const std::string kDownloadDone = "ダウンロードが完了しました。";

class Flows : public ::testing::Test {
 protected:
  void SetUp() override { test::MakeFolder(user_.ReplayPath()); }
  // One message box each, owned by the dialog, under caption.
  static Messages Owned(const char* caption, std::vector<std::pair<std::string, unsigned>> shown) {
    Messages m;
    for (auto& [text, style] : shown) m.push_back({text, caption, style, true});
    return m;
  }
  test::SettingsGuard settings_;
  test::UserDataFixture user_;
  test::FakeWindow window_;
};

int g_fakeResult = 0;
std::string g_seen;
int FakeDownload(const char* agent, const char* address, int port, const Timeouts&) {
  g_seen =
      std::string(agent) + " " + (address != nullptr ? address : "-") + ":" + std::to_string(port);
  return g_fakeResult;
}

TEST_F(Flows, DownloadStopsAtAProxyProblemOrACancelAndHasAMessageForEveryResult) {
  const std::pair<std::string, int> proxies[] = {{"", 8080}, {"proxy.lan", 0}, {"p", 65536}};
  for (const auto& [address, port] : proxies) {
    test::UseProxy(address, port);
    window_.messages.clear();
    EXPECT_EQ(runDownload(window_, FakeDownload), -1);
    EXPECT_EQ(window_.messages,
              Owned("ダウンロード", {{address.empty() ? kNoAddress : kBadPort, kMbIconHand}}));
  }
  const struct {
    int result;
    const char *direct, *proxied;  // proxied null: as direct
  } cases[] = {{-128, "サーバが見つかりません。", "プロキシサーバが見つかりません。"},
               {-129, "サーバへの接続に失敗しました。", "プロキシサーバへの接続に失敗しました。"},
               {-130, "サーバが不正なレスポンスを返しました。", nullptr},
               {-131, "何もダウンロードできませんでした。", nullptr},
               {-133, "ハイスコアファイルの保存に失敗しました。", nullptr},
               {-134, "プロキシの指定が間違っています。", nullptr},
               {-135, "ダウンロードリクエストを送信できません。", nullptr},
               {-136, "サーバが接続を遮断しました。", nullptr},
               {0, nullptr, nullptr},  // results outside the table count as success
               {-127, nullptr, nullptr},
               {-137, nullptr, nullptr}};
  for (const auto& c : cases) {
    for (const bool proxy : {false, true}) {
      test::UseProxy("proxy.lan", 8080);
      if (!proxy) g_settings.flags &= ~kFlagUseProxy;
      g_fakeResult = c.result;
      test::FakeWindow window;
      window.answers = {c.result == 0 && proxy ? kIdCancel : kIdOk};
      const bool cancelled = c.result == 0 && proxy;
      EXPECT_EQ(runDownload(window, FakeDownload), c.direct != nullptr ? -1 : 0) << c.result;
      const std::string closing = c.direct == nullptr  ? kDownloadDone
                                  : proxy && c.proxied ? c.proxied
                                                       : c.direct;
      auto expected = Owned("ダウンロード", {{kDownloadQuestion, kQuestion}});
      if (!cancelled) {
        expected.push_back({closing, "ダウンロード",
                            c.direct != nullptr ? kMbIconHand : kMbIconInformation, true});
        EXPECT_EQ(g_seen, proxy ? "QuillaneTool/050702 proxy.lan:8080" : "QuillaneTool/050702 -:0");
      }
      EXPECT_EQ(window.messages, expected) << c.result;
      EXPECT_EQ(window.waitCursorCount, cancelled ? 0 : 1);
      EXPECT_EQ(window.waitCursorDepth, 0);
    }
  }
}

TEST_F(Flows, DownloadShowsTheStatusLineAsDataInUtf8OrCodePage932) {
  const struct {
    std::string response, message;
  } cases[] = {{"HTTP/1.1 503 \x83\x54\x81\x5B\x83\x6F\x8D\xAC\x8E\x47\x92\x86\r\n\r\n",
                "HTTPエラーです。\nHTTP/1.1 503 サーバ混雑中\r\n"},
               {"HTTP/1.1 500 %s%n%x\r\n\r\n", "HTTPエラーです。\nHTTP/1.1 500 %s%n%x\r\n"},
               {"HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nSCORES", kDownloadDone}};
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(c.response).Start();
    test::UseProxy("127.0.0.1", peer.port());
    test::FakeWindow window;
    const bool done = c.message == kDownloadDone;
    EXPECT_EQ(runDownload(window), done ? 0 : -1);
    EXPECT_EQ(window.messages,
              Owned("ダウンロード", {{kDownloadQuestion, kQuestion},
                                     {c.message, done ? kMbIconInformation : kMbIconHand}}));
    EXPECT_EQ(test::Exists(user_.VendorPath("qlanb.ee")), done);
  }
  EXPECT_EQ(test::S(test::ReadAll(user_.VendorPath("qlanb.ee"))), "SCORES");
}

TEST_F(Flows, EntryOfTheSelectedRecordEndsInItsMessageAndTheBrowser) {
  const std::string question =
      "インターネットに接続し記録のエントリーを行います。\n走行記録がアップロードされ公開されます。"
      "\n"
      "よろしいですか？";
  const std::string done =
      "走行記録のアップロードが完了しました。\nこれよりウェブブラウザを立ち上げます。OKボタンを押し"
      "て"
      "から10秒程度お待ちください。";
  const std::string failed = "エントリー中にエラーが起きました。";
  constexpr unsigned kInfo = kMbOk | kMbIconInformation | kMbSetForeground;
  const struct {
    std::size_t replay;  // bytes of r745.replay; 0: none
    const char* address;
    int answer;
    std::vector<std::pair<std::string, unsigned>> after;  // behind the question
    int cursors;
    std::size_t connections;
  } cases[] = {{10,
                "127.0.0.1",
                kIdOk,
                {{done, kInfo},
                 {"ウェブブラウザを開く際にエラーが起きました。\n・ "
                  "ファイルがみつかりません。",
                  kError}},
                1,
                1},
               {10, "127.0.0.1", kIdCancel, {}, 0, 0},
               {0, "127.0.0.1", kIdOk, {{failed, kError}}, 1, 0},
               {3097333,
                "127.0.0.1",
                kIdOk,
                {{"ファイルサイズが大きすぎてアップロードできません。", kError}},
                1,
                0},
               {10, "", kIdOk, {{kNoAddress, kMbIconHand}, {failed, kError}}, 0, 0}};
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:a b\r\n").Start();
    test::UseProxy(c.address, peer.port());
    const std::string replay = user_.ReplayPath("r745.replay");
    if (c.replay > 0) test::WriteAll(replay, test::Bytes(c.replay, 0x61));
    if (c.replay == 0) test::WriteAll(replay, {});
    g_recordList.count = 2;  // routes 712 and 745, the second selected
    g_recordList.entries[0] = RecordEntry{2, 100, 200};
    g_recordList.entries[1] = RecordEntry{35, 300, 400};
    test::FakeWindow window;
    window.SetListSelection(IDC_RECORD_LIST, 1);
    window.answers = {c.answer};
    window.openUrlResult = 2;
    RunEntrySequence(window);
    auto expected = Owned("エントリー", c.after);
    expected.insert(expected.begin(), {question, "エントリー", kInfo | kMbOkCancel, true});
    EXPECT_EQ(window.messages, expected) << c.replay;
    EXPECT_EQ(window.waitCursorCount, c.cursors);
    EXPECT_EQ(window.waitCursorDepth, 0);
    EXPECT_EQ(window.openedUrls, std::vector<std::string>(c.connections, EntryPageUrl("a b")));
    EXPECT_EQ(peer.Wait(c.connections ? 5000 : 200), c.connections == 1) << c.replay;
    // Nothing selected, a line past the records, or no records: no question at all.
    for (const int selected : {-1, 2}) {
      window.SetListSelection(IDC_RECORD_LIST, selected);
      RunEntrySequence(window);
    }
    g_recordList.count = 0;
    RunEntrySequence(window);
    EXPECT_EQ(window.messages.size(), expected.size());
  }
  EXPECT_EQ(EntryPageUrl("a-b.c_d~e x&=#?/%+\xE3\x81\x82" + std::string("\0\x7F", 2)),
            std::string("http://") + RankingHost +
                "/sw/qlan/hsentry/1/?UNIQUE_ID=a-b.c_d~e%20x%26%3D%23%3F%2F%25%2B%E3%81%82%00%7F");
}

TEST(BrowserError, EveryFailureCodeHasItsReasonAndSuccessShowsNothing) {
  const std::pair<int, const char*> cases[] = {{0, "メモリ不足です。"},
                                               {2, "ファイルがみつかりません。"},
                                               {3, "パスがみつかりません。"},
                                               {5, "ファイルへのアクセスが拒否されました。"},
                                               {8, "メモリ不足です。"},
                                               {11, "exeファイルが異常です。"},
                                               {26, "アクセス共有違反です。"},
                                               {27, "標準ブラウザの設定がないか、不完全です。"},
                                               {28, "DDE通信が時間切れで失敗しました。"},
                                               {29, "DDE通信に失敗しました。"},
                                               {30, "DDE通信がビジー状態です。"},
                                               {31, "標準のブラウザが設定されていません。"},
                                               {32, "必要なDLLファイルがみつかりません。"},
                                               {1, "エラー 1"},
                                               {INT_MIN, "エラー -2147483648"},
                                               {33, nullptr},
                                               {INT_MAX, nullptr}};
  for (const auto& [code, reason] : cases) {
    test::FakeWindow window;
    showBrowserError(window, code);
    Messages expected;
    if (reason != nullptr) {
      expected.push_back({std::string("ウェブブラウザを開く際にエラーが起きました。\n・ ") + reason,
                          "エントリー", kError, true});
    }
    EXPECT_EQ(window.messages, expected) << code;
  }
}

TEST_F(Flows, EraseAsksTwiceReportsAndAlwaysRebuildsTheList) {
  const std::string first =
      "この操作を行うとリプレイとハイスコアが全て消去されます。\nよろしいですか？";
  const std::string second = "いちど消去すると元に戻すことはできません。\n本当によろしいですか？";
  const std::vector<std::string> both = {"R 710:  45,678m  2'03.06", "R 745:  3,456km  1:23'20"};
  const struct {
    std::vector<int> answers;
    const char* closing;  // null: none
    bool readOnly;
    std::vector<std::string> list;
  } cases[] = {{{kIdCancel}, nullptr, false, both},
               {{kIdOk, kIdCancel}, nullptr, false, both},
               {{kIdOk, kIdOk},
                "消去中にエラーが発生しました。\n一部の記録が残った可能性があります。",
                true,
                {"R 745:  3,456km  1:23'20"}},
               {{kIdOk, kIdOk}, "消去が完了しました。", false, {}}};
  test::PlaceReplay(user_, "replays/good/r710.replay", 710);
  test::PlaceReplay(user_, "replays/good/r745.replay", 745);
  for (const auto& c : cases) {
    if (c.readOnly) test::SetReadOnly(user_.ReplayPath("r745.replay"), true);
    test::FakeWindow window;
    window.lists[IDC_RECORD_LIST] = {"stale"};
    window.answers.assign(c.answers.begin(), c.answers.end());
    RunEraseSequence(window);
    auto expected = Owned("記録の消去", {{first, kQuestion}});
    if (c.answers.size() > 1) expected.push_back({second, "記録の消去", kQuestion, true});
    if (c.closing) expected.push_back({c.closing, "記録の消去", kMbIconInformation, true});
    EXPECT_EQ(window.messages, expected) << c.answers.size();
    EXPECT_EQ(window.lists[IDC_RECORD_LIST], c.list);
    EXPECT_EQ(window.GetListSelection(IDC_RECORD_LIST), c.list.empty() ? -1 : 0);
    if (c.readOnly) test::SetReadOnly(user_.ReplayPath("r745.replay"), false);
  }
}

}  // namespace
}  // namespace qlan
