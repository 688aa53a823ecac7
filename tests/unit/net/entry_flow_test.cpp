// The entry button through the fake window: question, messages, captions and icons, the
// entry page handed to the browser, and every browser launch failure explained.
#include "net/entry_flow.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/text.h"
#include "net/ranking.h"
#include "net/tcp_connection.h"
#include "records/record_list.h"
#include "support/fake_window.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan {
namespace {

std::string ReplayName(int route) {
  std::string name = "r";
  name += std::to_string(route);
  name += ".replay";
  return name;
}

using test::FakeWindow;
using test::LoopbackPeer;

const std::string kQuestion =
    "インターネットに接続し記録のエントリーを行います。\n走行記録がアップロードされ公開されます。\nよろしいですか？";
const std::string kFailed = "エントリー中にエラーが起きました。";
const std::string kTooLarge = "ファイルサイズが大きすぎてアップロードできません。";
const std::string kDone =
    "走行記録のアップロードが完了しました。\nこれよりウェブブラウザを立ち上げます。OKボタンを押してから10秒程度お待ちください。";
const std::string kNoProxyAddress =
    "プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。";
const std::string kBrowserHead = "ウェブブラウザを開く際にエラーが起きました。\n・ ";
constexpr unsigned kQuestionStyle = kMbOkCancel | kMbIconInformation | kMbSetForeground;
constexpr unsigned kDoneStyle = kMbOk | kMbIconInformation | kMbSetForeground;

std::string PagePrefix() { return std::string("http://") + RankingHost + "/sw/qlan/hsentry/1/?UNIQUE_ID="; }

class EntryFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedSettings_ = g_settings;
    savedList_ = g_recordList;
    test::MakeFolder(user_.VendorPath());
    test::MakeFolder(user_.ReplayPath());
    // Two records: routes 712 and 745, the second selected.
    g_recordList.count = 2;
    g_recordList.entries[0] = RecordEntry{2, 100, 200};
    g_recordList.entries[1] = RecordEntry{35, 300, 400};
    window_.SetListSelection(IDC_RECORD_LIST, 1);
    UseProxy("127.0.0.1", peer_.port());
  }
  void TearDown() override {
    g_settings = savedSettings_;
    g_recordList = savedList_;
  }
  void UseProxy(const char* address, int port) {
    g_settings.flags |= kFlagUseProxy;
    std::memset(g_settings.proxyAddress, 0, sizeof g_settings.proxyAddress);
    ASSERT_TRUE(CopyText(g_settings.proxyAddress, sizeof g_settings.proxyAddress, address));
    g_settings.proxyPort = port;
  }
  void WriteReplay(int route, std::size_t size) {
    test::WriteAll(user_.ReplayPath(ReplayName(route)),
                   std::vector<std::uint8_t>(size, 0x61));
  }
  void ExpectMessage(std::size_t i, const std::string& text, unsigned style) {
    ASSERT_LT(i, window_.messages.size());
    EXPECT_EQ(window_.messages[i].text, text);
    EXPECT_EQ(window_.messages[i].caption, "エントリー");
    EXPECT_EQ(window_.messages[i].style, style);
    EXPECT_TRUE(window_.messages[i].owned);
  }
  // True when nobody connected to the peer within a short bound.
  bool NeverConnected() {
    peer_.Wait(300);
    return peer_.Accepted() == 0;
  }

  test::UserDataFixture user_;
  FakeWindow window_;
  LoopbackPeer peer_;
  Settings savedSettings_{};
  RecordList savedList_{};
};

TEST_F(EntryFlowTest, SuccessShowsCompletionThenOpensTheEntryPage) {
  WriteReplay(745, 10);
  peer_.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:abc123\r\n").Start();
  RunEntrySequence(window_);
  ASSERT_TRUE(peer_.WaitClosed(5000));
  ASSERT_EQ(window_.messages.size(), 2u);
  ExpectMessage(0, kQuestion, kQuestionStyle);
  ExpectMessage(1, kDone, kDoneStyle);
  ASSERT_EQ(window_.openedUrls.size(), 1u);
  EXPECT_EQ(window_.openedUrls[0], PagePrefix() + "abc123");
  EXPECT_EQ(window_.waitCursorCount, 1);
  EXPECT_EQ(window_.waitCursorDepth, 0);
  EXPECT_NE(peer_.Request().find("POST http://"), std::string::npos);
}

TEST_F(EntryFlowTest, EmptyIdentifierStillOpensThePage) {
  WriteReplay(745, 1);
  peer_.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:\r\n").Start();
  RunEntrySequence(window_);
  ASSERT_TRUE(peer_.WaitClosed(5000));
  ASSERT_EQ(window_.messages.size(), 2u);
  ExpectMessage(1, kDone, kDoneStyle);
  ASSERT_EQ(window_.openedUrls.size(), 1u);
  EXPECT_EQ(window_.openedUrls[0], PagePrefix());
}

TEST_F(EntryFlowTest, LaunchFailureIsExplainedAfterTheCompletion) {
  WriteReplay(745, 1);
  peer_.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:7\r\n").Start();
  window_.openUrlResult = 2;
  RunEntrySequence(window_);
  ASSERT_TRUE(peer_.WaitClosed(5000));
  ASSERT_EQ(window_.messages.size(), 3u);
  ExpectMessage(1, kDone, kDoneStyle);
  ExpectMessage(2, kBrowserHead + "ファイルがみつかりません。", kMbOk | kMbIconHand);
}

TEST_F(EntryFlowTest, ReplyWithoutIdentifierIsAFailure) {
  WriteReplay(745, 1);
  peer_.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n<html>thanks</html>\r\n").Start();
  RunEntrySequence(window_);
  ASSERT_TRUE(peer_.WaitClosed(5000));
  ASSERT_EQ(window_.messages.size(), 2u);
  ExpectMessage(1, kFailed, kMbIconHand);
  EXPECT_TRUE(window_.openedUrls.empty());
}

TEST_F(EntryFlowTest, CancelUploadsNothing) {
  WriteReplay(745, 1);
  peer_.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:1\r\n").Start();
  window_.answers.push_back(kIdCancel);
  RunEntrySequence(window_);
  ASSERT_EQ(window_.messages.size(), 1u);
  ExpectMessage(0, kQuestion, kQuestionStyle);
  EXPECT_EQ(window_.waitCursorCount, 0);
  EXPECT_TRUE(NeverConnected());
}

TEST_F(EntryFlowTest, EmptyListOrNoSelectionDoesNothing) {
  g_recordList.count = 0;
  RunEntrySequence(window_);
  EXPECT_TRUE(window_.messages.empty());
  g_recordList.count = 2;
  window_.SetListSelection(IDC_RECORD_LIST, -1);
  RunEntrySequence(window_);
  window_.SetListSelection(IDC_RECORD_LIST, 2);
  RunEntrySequence(window_);
  EXPECT_TRUE(window_.messages.empty());
}

TEST_F(EntryFlowTest, SelectedLineChoosesTheRoute) {
  WriteReplay(712, 1);  // only the first line's route has a replay
  peer_.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:first\r\n").Start();
  window_.SetListSelection(IDC_RECORD_LIST, 0);
  RunEntrySequence(window_);
  ASSERT_TRUE(peer_.WaitClosed(5000));
  ASSERT_EQ(window_.openedUrls.size(), 1u);
  EXPECT_EQ(window_.openedUrls[0], PagePrefix() + "first");
}

TEST_F(EntryFlowTest, MissingReplayIsAFailure) {
  RunEntrySequence(window_);
  ASSERT_EQ(window_.messages.size(), 2u);
  ExpectMessage(1, kFailed, kMbIconHand);
  EXPECT_EQ(window_.waitCursorDepth, 0);
  EXPECT_TRUE(window_.openedUrls.empty());
}

TEST_F(EntryFlowTest, TooLargeReplayHasItsOwnMessage) {
  WriteReplay(745, 3097333);
  RunEntrySequence(window_);
  ASSERT_EQ(window_.messages.size(), 2u);
  ExpectMessage(1, kTooLarge, kMbIconHand);
  EXPECT_EQ(window_.waitCursorCount, 1);
  EXPECT_EQ(window_.waitCursorDepth, 0);
  EXPECT_TRUE(NeverConnected());
}

TEST_F(EntryFlowTest, ProxyWithoutAddressShowsTwoMessagesAndNoCursor) {
  WriteReplay(745, 1);
  UseProxy("", 8080);
  RunEntrySequence(window_);
  ASSERT_EQ(window_.messages.size(), 3u);
  ExpectMessage(1, kNoProxyAddress, kMbIconHand);
  ExpectMessage(2, kFailed, kMbIconHand);
  EXPECT_EQ(window_.waitCursorCount, 0);
  EXPECT_EQ(TcpConnection::liveCount(), 0);
}

TEST_F(EntryFlowTest, ProxyPortOutOfRangeStopsTheUpload) {
  WriteReplay(745, 1);
  UseProxy("127.0.0.1", 65536);
  RunEntrySequence(window_);
  ASSERT_EQ(window_.messages.size(), 3u);
  ExpectMessage(1, "プロキシのポート指定が不正です。\nポートは1から65535の間で指定してください。", kMbIconHand);
  ExpectMessage(2, kFailed, kMbIconHand);
}

TEST(EntryPageUrlTest, LettersAndDigitsStandAsTheyAre) {
  EXPECT_EQ(EntryPageUrl("abc123XYZ"),
            std::string("http://") + RankingHost + "/sw/qlan/hsentry/1/?UNIQUE_ID=abc123XYZ");
  EXPECT_EQ(EntryPageUrl("a-b.c_d~e"), PagePrefix() + "a-b.c_d~e");
  EXPECT_EQ(EntryPageUrl(""), PagePrefix());
}

TEST(EntryPageUrlTest, EveryOtherByteIsPercentEncoded) {
  EXPECT_EQ(EntryPageUrl(" a b "), PagePrefix() + "%20a%20b%20");
  EXPECT_EQ(EntryPageUrl("x&y=z#w?/%+"), PagePrefix() + "x%26y%3Dz%23w%3F%2F%25%2B");
  EXPECT_EQ(EntryPageUrl("\xE3\x81\x82\xFF"), PagePrefix() + "%E3%81%82%FF");
  EXPECT_EQ(EntryPageUrl(std::string_view("a\0b\x7F", 4)), PagePrefix() + "a%00b%7F");
}

struct BrowserCase {
  int code;
  const char* reason;  // null: no message
};

TEST(BrowserErrorTest, EveryFailureCodeHasItsReason) {
  const std::vector<BrowserCase> cases = {
      {0, "メモリ不足です。"},
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
      {4, "エラー 4"},
      {12, "エラー 12"},
      {25, "エラー 25"},
      {-1, "エラー -1"},
      {-42, "エラー -42"},
      {INT_MIN, "エラー -2147483648"},
  };
  for (const BrowserCase& c : cases) {
    FakeWindow window;
    showBrowserError(window, c.code);
    ASSERT_EQ(window.messages.size(), 1u) << c.code;
    EXPECT_EQ(window.messages[0].text, kBrowserHead + c.reason) << c.code;
    EXPECT_EQ(window.messages[0].caption, "エントリー");
    EXPECT_EQ(window.messages[0].style, kMbOk | kMbIconHand);
    EXPECT_TRUE(window.messages[0].owned);
  }
}

TEST(BrowserErrorTest, SuccessfulLaunchShowsNothing) {
  for (const int code : {33, 42, INT_MAX}) {
    FakeWindow window;
    showBrowserError(window, code);
    EXPECT_TRUE(window.messages.empty()) << code;
  }
}

}  // namespace
}  // namespace qlan
