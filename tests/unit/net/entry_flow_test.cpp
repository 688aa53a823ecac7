// The entry button through the fake window: question, messages, captions and icons, the
// entry page handed to the browser, and every browser launch failure explained.
#include "net/entry_flow.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "net/ranking.h"
#include "net_test_support.h"
#include "records/record_list.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"
#include "ui/resource.h"

namespace qlan {
namespace {

const std::string kFailed = "エントリー中にエラーが起きました。";
const std::string kBrowserHead = "ウェブブラウザを開く際にエラーが起きました。\n・ ";

std::string PagePrefix() {
  return std::string("http://") + RankingHost + "/sw/qlan/hsentry/1/?UNIQUE_ID=";
}

class EntryFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedList_ = g_recordList;
    test::MakeFolder(user_.VendorPath());
    test::MakeFolder(user_.ReplayPath());
    // Two records: routes 712 and 745, the second selected.
    g_recordList.count = 2;
    g_recordList.entries[0] = RecordEntry{2, 100, 200};
    g_recordList.entries[1] = RecordEntry{35, 300, 400};
    window_.SetListSelection(IDC_RECORD_LIST, 1);
    test::UseProxy("127.0.0.1", peer_.port());
  }
  void TearDown() override { g_recordList = savedList_; }
  void WriteReplay(std::size_t size) {
    test::WriteAll(user_.ReplayPath(test::ReplayName(745)), test::Bytes(size, 0x61));
  }
  // The question, then these messages.
  void ExpectMessages(const std::vector<std::pair<std::string, unsigned>>& after) {
    ASSERT_EQ(window_.messages.size(), after.size() + 1);
    test::ExpectMessage(
        window_.messages[0],
        "インターネットに接続し記録のエントリーを行います。\n走行記録がアップロードされ"
        "公開されます。\nよろしいですか？",
        "エントリー", kMbOkCancel | kMbIconInformation | kMbSetForeground);
    for (std::size_t i = 0; i < after.size(); ++i) {
      test::ExpectMessage(window_.messages[i + 1], after[i].first, "エントリー", after[i].second);
    }
  }
  // True when nobody connected to the peer within a short bound.
  bool NeverConnected() {
    peer_.Wait(300);
    return peer_.Accepted() == 0;
  }

  test::SettingsGuard settings_;
  test::UserDataFixture user_;
  test::FakeWindow window_;
  test::LoopbackPeer peer_;
  RecordList savedList_{};
};

TEST_F(EntryFlowTest, SuccessShowsCompletionThenOpensTheEntryPageAndExplainsAFailedLaunch) {
  WriteReplay(10);
  peer_.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:abc123\r\n").Start();
  window_.openUrlResult = 2;
  RunEntrySequence(window_);
  ASSERT_TRUE(peer_.WaitClosed(5000));
  ExpectMessages({{"走行記録のアップロードが完了しました。\nこれよりウェブブラウザを立ち上げます。"
                   "OKボタンを押してから10秒程度お待ちください。",
                   kMbOk | kMbIconInformation | kMbSetForeground},
                  {kBrowserHead + "ファイルがみつかりません。", kMbOk | kMbIconHand}});
  ASSERT_EQ(window_.openedUrls.size(), 1u);
  EXPECT_EQ(window_.openedUrls[0], PagePrefix() + "abc123");
  EXPECT_EQ(window_.waitCursorCount, 1);
  EXPECT_EQ(window_.waitCursorDepth, 0);
  EXPECT_EQ(peer_.Request().rfind("POST http://", 0), 0u);
}

TEST_F(EntryFlowTest, CancelOrNoRecordSelectedUploadsNothing) {
  WriteReplay(1);
  peer_.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n**ID:1\r\n").Start();
  window_.answers.push_back(kIdCancel);
  RunEntrySequence(window_);
  ExpectMessages({});
  for (const int selected : {-1, 2}) {
    window_.SetListSelection(IDC_RECORD_LIST, selected);
    RunEntrySequence(window_);
  }
  g_recordList.count = 0;
  RunEntrySequence(window_);
  EXPECT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.waitCursorCount, 0);
  EXPECT_TRUE(NeverConnected());
}

TEST_F(EntryFlowTest, FailuresHaveTheirMessagesAndConnectNowhere) {
  const std::string tooLarge = "ファイルサイズが大きすぎてアップロードできません。";
  const std::string noAddress =
      "プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。";
  const struct {
    std::size_t replay;  // 0: none
    bool proxyWithoutAddress;
    std::vector<std::pair<std::string, unsigned>> messages;
    int cursors;
  } cases[] = {{0, false, {{kFailed, kMbIconHand}}, 1},
               {3097333, false, {{tooLarge, kMbIconHand}}, 1},
               {1, true, {{noAddress, kMbIconHand}, {kFailed, kMbIconHand}}, 0}};
  for (const auto& c : cases) {
    if (c.replay > 0) WriteReplay(c.replay);
    if (c.proxyWithoutAddress) test::UseProxy("", 8080);
    window_.messages.clear();
    window_.waitCursorCount = 0;
    RunEntrySequence(window_);
    ExpectMessages(c.messages);
    EXPECT_EQ(window_.waitCursorCount, c.cursors);
    EXPECT_EQ(window_.waitCursorDepth, 0);
    EXPECT_TRUE(window_.openedUrls.empty());
  }
  EXPECT_TRUE(NeverConnected());
  EXPECT_EQ(TcpConnection::liveCount(), 0);
}

TEST(EntryPageUrlTest, EveryByteButLettersDigitsAndFourMarksIsPercentEncoded) {
  EXPECT_EQ(EntryPageUrl("abc123XYZ"),
            std::string("http://") + RankingHost + "/sw/qlan/hsentry/1/?UNIQUE_ID=abc123XYZ");
  const std::pair<std::string, std::string> cases[] = {{"", ""},
                                                       {"a-b.c_d~e", "a-b.c_d~e"},
                                                       {" a b ", "%20a%20b%20"},
                                                       {"x&y=z#w?/%+", "x%26y%3Dz%23w%3F%2F%25%2B"},
                                                       {"\xE3\x81\x82\xFF", "%E3%81%82%FF"},
                                                       {std::string("a\0b\x7F", 4), "a%00b%7F"}};
  for (const auto& c : cases) EXPECT_EQ(EntryPageUrl(c.first), PagePrefix() + c.second) << c.first;
}

TEST(BrowserErrorTest, EveryFailureCodeHasItsReasonAndSuccessShowsNothing) {
  const struct {
    int code;
    const char* reason;  // null: no message
  } cases[] = {{0, "メモリ不足です。"},
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
               {25, "エラー 25"},
               {-1, "エラー -1"},
               {INT_MIN, "エラー -2147483648"},
               {33, nullptr},
               {INT_MAX, nullptr}};
  for (const auto& c : cases) {
    test::FakeWindow window;
    showBrowserError(window, c.code);
    ASSERT_EQ(window.messages.size(), c.reason == nullptr ? 0u : 1u) << c.code;
    if (c.reason != nullptr) {
      test::ExpectMessage(window.messages[0], kBrowserHead + c.reason, "エントリー",
                          kMbOk | kMbIconHand);
    }
  }
}

}  // namespace
}  // namespace qlan
