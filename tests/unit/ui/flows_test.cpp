// The flows the buttons start, through the fake window: every question and message with
// its caption, icon and owner, the wait cursor, the list and the browser.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "app/settings.h"
#include "net/ranking.h"
#include "records/record_list.h"
#include "support/fake_window.h"
#include "support/loopback_peer.h"
#include "ui/online_flow.h"
#include "ui/records_flow.h"
#include "ui/resource.h"
#include "unit/net/net_test_support.h"

namespace qlan::test {
namespace {

using Shown = std::vector<std::pair<std::string, unsigned>>;

// Default settings for the test, the previous ones back afterwards.
struct SettingsGuard {
  SettingsGuard() { ResetSettings(g_settings); }
  ~SettingsGuard() { g_settings = saved; }
  Settings saved = g_settings;  // taken before the constructor's body runs
};

void UseProxy(const std::string& address, std::int32_t port) {
  g_settings.flags |= kFlagUseProxy;
  std::memset(g_settings.proxyAddress, 0, sizeof g_settings.proxyAddress);
  std::memcpy(g_settings.proxyAddress, address.data(),
              std::min(address.size(), sizeof g_settings.proxyAddress));
  g_settings.proxyPort = port;
}

constexpr unsigned kAsk = kMbOkCancel | kMbIconExclamation | kMbSetForeground;
constexpr unsigned kError = kMbOk | kMbIconHand;
constexpr unsigned kInfo = kMbOk | kMbIconInformation | kMbSetForeground;
const std::string kNoAddress =
    "プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。";
const std::string kDownloadAsk =
    "インターネットに接続し最新のハイスコア記録を取得します。\n"
    "ダウンロードが成功すると、現在のデータは上書きされ消滅します。\nよろしいですか？";
const std::string kEntryFailed = "エントリー中にエラーが起きました。";
const std::string kBrowserHead = "ウェブブラウザを開く際にエラーが起きました。\n・ ";

// The boxes shown, each owned by the dialog under caption, and the cursor back as it was.
void ExpectShown(const FakeWindow& window, const char* caption, const Shown& shown, int cursors,
                 const std::string& why) {
  std::vector<ShownMessage> expected;
  for (const auto& [text, style] : shown) expected.push_back({text, caption, style, true});
  EXPECT_EQ(window.messages, expected) << why;
  EXPECT_EQ(window.waitCursorCount, cursors) << why;
  EXPECT_EQ(window.waitCursorDepth, 0) << why;
}

int g_fakeResult = 0;
std::string g_seen;
int FakeDownload(const char* agent, const char* address, int port, const Timeouts&) {
  g_seen =
      std::string(agent) + " " + (address != nullptr ? address : "-") + ":" + std::to_string(port);
  return g_fakeResult;
}

TEST(DownloadFlow, ProxyProblemOrCancelStopsItAndEveryResultHasItsMessage) {
  SettingsGuard settings;
  const std::string badPort =
      "プロキシのポート指定が不正です。\nポートは1から65535の間で指定してください。";
  const std::pair<std::string, int> proxies[] = {{"", 8080}, {"p", 0}, {"p", 65536}};
  for (const auto& [address, port] : proxies) {
    UseProxy(address, port);
    FakeWindow window;
    EXPECT_EQ(runDownload(window, FakeDownload), -1);
    ExpectShown(window, "ダウンロード", {{address.empty() ? kNoAddress : badPort, kMbIconHand}}, 0,
                address);
  }
  // clang-format off
  const char* const done = "ダウンロードが完了しました。";
  const struct {
    int result;
    const char *direct, *proxied;  // proxied null: as direct
    unsigned icon;
  } cases[] = {{-128, "サーバが見つかりません。", "プロキシサーバが見つかりません。", kMbIconHand},
               {-129, "サーバへの接続に失敗しました。", "プロキシサーバへの接続に失敗しました。", kMbIconHand},
               {-130, "サーバが不正なレスポンスを返しました。", nullptr, kMbIconHand},
               {-131, "何もダウンロードできませんでした。", nullptr, kMbIconHand},
               {-133, "ハイスコアファイルの保存に失敗しました。", nullptr, kMbIconHand},
               {-134, "プロキシの指定が間違っています。", nullptr, kMbIconHand},
               {-135, "ダウンロードリクエストを送信できません。", nullptr, kMbIconHand},
               {-136, "サーバが接続を遮断しました。", nullptr, kMbIconHand},
               {0, done, nullptr, kMbIconInformation}, {-127, done, nullptr, kMbIconInformation},
               {-137, done, nullptr, kMbIconInformation}};
  // clang-format on
  for (const auto& c : cases) {
    for (const bool proxy : {false, true}) {
      UseProxy("proxy.lan", 65535);  // the highest port is one
      if (!proxy) g_settings.flags &= ~kFlagUseProxy;
      g_fakeResult = c.result;
      FakeWindow window;
      EXPECT_EQ(runDownload(window, FakeDownload), c.icon == kMbIconHand ? -1 : 0) << c.result;
      ExpectShown(window, "ダウンロード",
                  {{kDownloadAsk, kAsk}, {proxy && c.proxied ? c.proxied : c.direct, c.icon}}, 1,
                  std::to_string(c.result));
      EXPECT_EQ(g_seen, proxy ? "QuillaneTool/050702 proxy.lan:65535" : "QuillaneTool/050702 -:0");
    }
  }
  g_seen.clear();
  FakeWindow cancelled;  // nothing is downloaded and nothing more shown
  cancelled.answers = {kIdCancel};
  EXPECT_EQ(runDownload(cancelled, FakeDownload), 0);
  ExpectShown(cancelled, "ダウンロード", {{kDownloadAsk, kAsk}}, 0, "cancel");
  EXPECT_EQ(g_seen, "");
}

TEST(DownloadFlow, StatusLineIsShownAsDataInUtf8OrCodePage932) {
  SettingsGuard settings;
  UserDataFixture user;
  const std::pair<std::string, std::string> cases[] = {
      {"HTTP/1.1 503 \x83\x54\x81\x5B\x83\x6F\x8D\xAC\x8E\x47\x92\x86\r\n\r\n",
       "HTTP/1.1 503 サーバ混雑中\r\n"},
      {"HTTP/1.1 500 %s%n%x\r\n\r\n", "HTTP/1.1 500 %s%n%x\r\n"}};
  for (const auto& [response, shown] : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(response).Start();
    UseProxy("127.0.0.1", peer.port());
    FakeWindow window;
    EXPECT_EQ(runDownload(window), -1);
    ExpectShown(window, "ダウンロード",
                {{kDownloadAsk, kAsk}, {"HTTPエラーです。\n" + shown, kMbIconHand}}, 1, shown);
  }
}

TEST(EntryFlow, SelectedRecordIsEnteredAndItsPageOpenedOrTheFailureShown) {
  SettingsGuard settings;
  UserDataFixture user;
  MakeFolder(user.ReplayPath());
  // clang-format off
  const std::string done = "走行記録のアップロードが完了しました。\nこれよりウェブブラウザを立ち上げます。"
                           "OKボタンを押してから10秒程度お待ちください。";
  const std::pair<std::string, unsigned> ask = {"インターネットに接続し記録のエントリーを行います。\n"
      "走行記録がアップロードされ公開されます。\nよろしいですか？", kInfo | kMbOkCancel};
  const struct {
    std::size_t replay;  // bytes of r745.replay
    const char* address;
    int answer;
    Shown shown;
    int cursors;
    bool entered;
  } cases[] = {
      {10, "127.0.0.1", kIdOk, {ask, {done, kInfo}, {kBrowserHead + std::string("ファイルがみつかりません。"), kError}}, 1, true},
      {10, "127.0.0.1", kIdCancel, {ask}, 0, false},
      {0, "127.0.0.1", kIdOk, {ask, {kEntryFailed, kError}}, 1, false},
      {3097333, "127.0.0.1", kIdOk, {ask, {"ファイルサイズが大きすぎてアップロードできません。", kError}}, 1, false},
      {10, "", kIdOk, {ask, {kNoAddress, kMbIconHand}, {kEntryFailed, kError}}, 0, false}};
  // clang-format on
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:a b\r\n").Start();
    UseProxy(c.address, peer.port());
    WriteAll(user.ReplayPath("r745.replay"), Bytes(c.replay, 0x61));
    g_recordList.count = 1;  // route 745 on the first line, selected
    g_recordList.entries[0] = RecordEntry{35, 300, 400};
    FakeWindow window;
    window.SetListSelection(IDC_RECORD_LIST, 0);
    window.answers = {c.answer};
    window.openUrlResult = 2;
    RunEntrySequence(window);
    ExpectShown(window, "エントリー", c.shown, c.cursors, std::to_string(c.replay));
    EXPECT_EQ(window.openedUrls, std::vector<std::string>(c.entered ? 1 : 0, EntryPageUrl("a b")));
    EXPECT_EQ(peer.Wait(c.entered ? 5000 : 200), c.entered);
    // Nothing selected, a line past the records, or no records: not even a question.
    for (const int selected : {-1, 1}) {
      window.SetListSelection(IDC_RECORD_LIST, selected);
      RunEntrySequence(window);
    }
    g_recordList.count = 0;
    RunEntrySequence(window);
    EXPECT_EQ(window.messages.size(), c.shown.size());
  }
  EXPECT_EQ(EntryPageUrl("Aa-b.c_d~e x&=#?/%+\xE3\x81\x82" + std::string("\0\x7F", 2)),
            std::string("http://") + RankingHost +
                "/sw/qlan/hsentry/1/?UNIQUE_ID=Aa-b.c_d~e%20x%26%3D%23%3F%2F%25%2B%E3%81%82%00%7F");
}

TEST(EntryFlow, EveryBrowserFailureCodeHasItsReasonAndSuccessShowsNothing) {
  // clang-format off
  const std::pair<int, const char*> cases[] = {
      {0, "メモリ不足です。"}, {2, "ファイルがみつかりません。"}, {3, "パスがみつかりません。"},
      {5, "ファイルへのアクセスが拒否されました。"}, {8, "メモリ不足です。"},
      {11, "exeファイルが異常です。"}, {26, "アクセス共有違反です。"},
      {27, "標準ブラウザの設定がないか、不完全です。"}, {28, "DDE通信が時間切れで失敗しました。"},
      {29, "DDE通信に失敗しました。"}, {30, "DDE通信がビジー状態です。"},
      {31, "標準のブラウザが設定されていません。"}, {32, "必要なDLLファイルがみつかりません。"},
      {1, "エラー 1"}, {INT_MIN, "エラー -2147483648"}, {33, nullptr}, {INT_MAX, nullptr}};
  // clang-format on
  for (const auto& [code, reason] : cases) {
    FakeWindow window;
    showBrowserError(window, code);
    ExpectShown(window, "エントリー", reason ? Shown{{kBrowserHead + reason, kError}} : Shown{}, 0,
                std::to_string(code));
  }
}

TEST(EraseFlow, AsksTwiceReportsAndAlwaysRebuildsTheList) {
  UserDataFixture user;
  PlaceReplay(user, "replays/good/r710.replay", 710);
  PlaceReplay(user, "replays/good/r745.replay", 745);
  // clang-format off
  const std::string first = "この操作を行うとリプレイとハイスコアが全て消去されます。\nよろしいですか？";
  const std::string second = "いちど消去すると元に戻すことはできません。\n本当によろしいですか？";
  const std::string r745 = "R 745:  3,456km  1:23'20";
  const struct {
    std::vector<int> answers;
    Shown shown;
    std::vector<std::string> list;
  } cases[] = {{{kIdCancel}, {{first, kAsk}}, {"R 710:  45,678m  2'03.06", r745}},
               {{kIdOk, kIdOk}, {{first, kAsk}, {second, kAsk}, {"消去中にエラーが発生しました。\n一部の記録が残った可能性があります。", kMbIconInformation}}, {r745}},
               {{kIdOk, kIdOk}, {{first, kAsk}, {second, kAsk}, {"消去が完了しました。", kMbIconInformation}}, {}}};
  // clang-format on
  for (const auto& c : cases) {
    const bool locked = c.list.size() == 1;  // the replay that cannot be deleted stays listed
    if (locked) SetReadOnly(user.ReplayPath("r745.replay"), true);
    FakeWindow window;
    window.lists[IDC_RECORD_LIST] = {"stale"};
    window.answers.assign(c.answers.begin(), c.answers.end());
    RunEraseSequence(window);
    if (locked) SetReadOnly(user.ReplayPath("r745.replay"), false);
    ExpectShown(window, "記録の消去", c.shown, 0, std::to_string(c.list.size()));
    EXPECT_EQ(window.lists[IDC_RECORD_LIST], c.list);
    EXPECT_EQ(window.GetListSelection(IDC_RECORD_LIST), c.list.empty() ? -1 : 0);
  }
}

}  // namespace
}  // namespace qlan::test
