// The high-score download: what lands in qlanb.ee for every kind of response, and the
// dialog flow's question, cursor and closing messages.
#include "net/download.h"

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#include <csignal>
#endif

#include "app/filesystem.h"
#include "net/ranking.h"
#include "net_test_support.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::LoopbackPeer;

constexpr char kQuestion[] =
    "インターネットに接続し最新のハイスコア記録を取得します。\n"
    "ダウンロードが成功すると、現在のデータは上書きされ消滅します。\nよろしいですか？";
constexpr char kDone[] = "ダウンロードが完了しました。";

std::string OkHead(std::size_t length) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

class Download : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeFolder(users_.VendorPath());
    test::WriteAll(Target(), old_);
  }
  std::string Target() const { return users_.VendorPath("qlanb.ee"); }
  std::string Partial() const { return users_.VendorPath("qlanb.ee.part"); }

  int Run(LoopbackPeer& peer, Timeouts t = test::kTestTimeouts) {
    peer.Start();
    return downloadHighScores(UserAgent, "127.0.0.1", peer.port(), t);
  }
  // qlanb.ee as before the download, and no temporary file behind.
  void ExpectUntouched() {
    EXPECT_EQ(test::ReadAll(Target()), old_);
    EXPECT_FALSE(test::Exists(Partial()));
  }
  // The question, then the closing message, with the wait cursor shown once and restored.
  static void ExpectClosing(const test::FakeWindow& window, const std::string& text,
                            unsigned style) {
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[0].text, kQuestion);
    test::ExpectMessage(window.messages[1], text, "ダウンロード", style);
    EXPECT_EQ(window.waitCursorCount, 1);
    EXPECT_EQ(window.waitCursorDepth, 0);
  }

  test::SettingsGuard settings_;
  test::UserDataFixture users_;
  const test::Bytes old_ = test::Counting(50);
};

TEST_F(Download, AbsoluteFormGetWithCrLfFetchesABodyThatReplacesTheFileWhole) {
  const test::Bytes table = test::ReadAll(test::TestDataPath("highscore/empty-table.ee"));
  ASSERT_EQ(table.size(), 10888u);
  LoopbackPeer peer;
  // Cut inside the status line, the length line, the blank line, and the body.
  peer.ReadRequest().SendSplit(OkHead(table.size()) + test::S(table),
                               {5, 16, 17, 30, 40, 41, 1000, 5000, 9999}, 5);
  ASSERT_EQ(Run(peer), 0);
  EXPECT_EQ(test::ReadAll(Target()), table);
  EXPECT_FALSE(test::Exists(Partial()));
  if (std::string(RankingHost) != "ranking.quillane.example") return;  // bytes name the default
  EXPECT_EQ(peer.Request(),
            "GET http://ranking.quillane.example/sw/qlan/score.dat HTTP/1.1\r\n"
            "Host: ranking.quillane.example\r\n"
            "User-Agent: QuillaneTool/050702\r\n"
            "\r\n");
}

TEST_F(Download, CompleteBodiesReplaceTheFileAndNothingMoreIsAwaited) {
  const std::string unframed = "HTTP/1.1 200 OK\r\nServer: t\r\n\r\n";
  const struct {
    std::string response, stored;
  } cases[] = {
      {unframed + std::string(3000, 'q'), std::string(3000, 'q')},  // runs to the close
      {OkHead(4) + "NEW!", "NEW!"},                                 // no old tail left
      {OkHead(5) + "12345EXTRA", "12345"},                          // only the announced bytes
      {OkHead(0), ""},                                              // complete at once
      {unframed + std::string(1048576, 'm'), std::string(1048576, 'm')}};  // the limit itself
  DeleteFileAt(Target().c_str());  // the first one creates the file
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(c.response);
    // A keep-alive server says nothing after a framed body: the download ends at once.
    if (c.response.find("Content-Length") != std::string::npos) peer.Silent(5000);
    const auto start = test::Clock::now();
    ASSERT_EQ(Run(peer, Timeouts{2000, 4000}), 0) << c.stored.size();
    EXPECT_LT(test::MsSince(start), 3000);
    EXPECT_TRUE(test::S(test::ReadAll(Target())) == c.stored) << c.stored.size();
    EXPECT_FALSE(test::Exists(Partial()));
  }
}

TEST_F(Download, FailuresAndTimeOutsLeaveTheFileAsItWas) {
  enum Tail { kClose, kReset, kSilence };
  const struct {
    std::string response;
    Tail tail;
    int code;
  } cases[] = {{"HTTP/1.1 200 OK\r\n\r\n" + std::string(1048577, 'm'), kClose, kBadResponse},
               {OkHead(100) + std::string(50, 's'), kClose, kConnectionCut},
               {OkHead(5000) + std::string(2500, 'r'), kReset, kConnectionCut},
               {OkHead(5000) + std::string(2500, 'r'), kSilence, kConnectionCut},
               {"", kClose, kNothingReceived},
               {"<html>hello</html>\r\n", kClose, kBadResponse}};
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(c.response);
    if (c.tail == kReset) peer.Pause(100).Reset();
    if (c.tail == kSilence) peer.Silent(5000);
    EXPECT_EQ(Run(peer, c.tail == kSilence ? Timeouts{2000, 300} : test::kTestTimeouts), c.code)
        << c.response.substr(0, 40);
    ExpectUntouched();
  }
  LoopbackPeer unanswered(0);  // the connect gives up at its limit
  unanswered.SaturateBacklog();
  const auto start = test::Clock::now();
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", unanswered.port(), Timeouts{300, 2000}),
            kConnectFailed);
  EXPECT_LT(test::MsSince(start), 3000);
  EXPECT_EQ(downloadHighScores(UserAgent, test::kUnresolvableHost, 8080, test::kTestTimeouts),
            kNameNotFound);
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", 0, test::kTestTimeouts), kBadProxy);
  LoopbackPeer deaf;  // stops reading: a request far longer than the buffers cannot go out
  deaf.StopReading(5000);
  deaf.Start();
  const std::string agent(std::size_t{64} << 20, 'a');
  EXPECT_EQ(downloadHighScores(agent.c_str(), "127.0.0.1", deaf.port(), Timeouts{2000, 300}),
            kSendFailed);
  ExpectUntouched();
}

TEST_F(Download, FileProblemsFailBeforeAnyNetwork) {
  const auto expectNoNetwork = [this] {
    LoopbackPeer peer;
    peer.ReadRequest().Send(OkHead(3) + "abc");
    EXPECT_EQ(Run(peer), kHighScoreFileFailed);
    EXPECT_EQ(peer.Accepted(), 0);
    EXPECT_EQ(test::ReadAll(Target()), old_);
  };
  test::SetReadOnly(Target(), true);
  expectNoNetwork();
  test::SetReadOnly(Target(), false);
  test::MakeFolder(Partial());  // the temporary file cannot be opened
  expectNoNetwork();
  test::ScopedEnv missing("APPDATA", users_.appData() + test::Separator() + "missing");
  expectNoNetwork();
}

TEST_F(Download, ReplaceFailureIsReportedAndTheTemporaryFileRemoved) {
  DeleteFileAt(Target().c_str());
  test::MakeFolder(Target());  // a folder cannot be replaced by a file
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(3) + "abc");
  EXPECT_EQ(Run(peer), kHighScoreFileFailed);
  EXPECT_FALSE(test::Exists(Partial()));
}

#ifndef _WIN32
TEST_F(Download, WriteFailureMidBodyIsReportedAndTheFileKept) {
  // A file-size limit makes the write of the body fail part-way.
  struct sigaction ignore {};
  struct sigaction before {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &before);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 2048;
  setrlimit(RLIMIT_FSIZE, &small);
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(8000) + std::string(8000, 'w'));
  const int result = Run(peer);
  setrlimit(RLIMIT_FSIZE, &saved);
  sigaction(SIGXFSZ, &before, nullptr);
  EXPECT_EQ(result, kHighScoreFileFailed);
  ExpectUntouched();
}
#endif

TEST_F(Download, FlowStopsAtAProxyProblemOrACancelledQuestion) {
  test::UseProxy("", 8080);
  test::FakeWindow window;
  EXPECT_EQ(runDownload(window), -1);
  ASSERT_EQ(window.messages.size(), 1u);  // no question
  test::ExpectMessage(
      window.messages[0],
      "プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。",
      "ダウンロード", kMbIconHand);
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(3) + "abc");
  peer.Start();
  test::UseProxy("127.0.0.1", peer.port());
  test::FakeWindow cancelled;
  cancelled.answers = {kIdCancel};
  EXPECT_EQ(runDownload(cancelled), 0);
  ASSERT_EQ(cancelled.messages.size(), 1u);
  test::ExpectMessage(cancelled.messages[0], kQuestion, "ダウンロード",
                      kMbOkCancel | kMbIconExclamation | kMbSetForeground);
  EXPECT_EQ(window.waitCursorCount + cancelled.waitCursorCount, 0);
  EXPECT_EQ(peer.Accepted(), 0);
  ExpectUntouched();
}

TEST_F(Download, FlowShowsTheStatusLineAsDataOrStoresTheBody) {
  DeleteFileAt(Target().c_str());  // a failure creates no file where there was none
  const struct {
    std::string response, message;
    unsigned style;
  } cases[] = {
      {"HTTP/1.1 500 %s%n%x\r\n\r\n", "HTTPエラーです。\nHTTP/1.1 500 %s%n%x\r\n", kMbIconHand},
      {OkHead(6) + "SCORES", kDone, kMbIconInformation}};
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(c.response);
    peer.Start();
    test::UseProxy("127.0.0.1", peer.port());
    test::FakeWindow window;
    EXPECT_EQ(runDownload(window), c.style == kMbIconHand ? -1 : 0);
    ExpectClosing(window, c.message, c.style);
    EXPECT_EQ(test::Exists(Target()), c.style != kMbIconHand);
    EXPECT_FALSE(test::Exists(Partial()));
  }
  EXPECT_EQ(test::S(test::ReadAll(Target())), "SCORES");
}

// The download as the flow calls it, replaced so that every result can be produced.
int g_fakeResult = 0;
std::string g_seen;

int FakeDownload(const char* userAgent, const char* proxyAddress, int proxyPort) {
  g_seen = std::string(userAgent) + " " + (proxyAddress != nullptr ? proxyAddress : "(null)") +
           ":" + std::to_string(proxyPort);
  return g_fakeResult;
}

TEST_F(Download, EveryResultHasItsMessageAndTheProxyIsPassedOnlyWhenInUse) {
  const struct {
    int result;
    const char* direct;
    const char* proxied;  // null: as direct
  } cases[] = {{-128, "サーバが見つかりません。", "プロキシサーバが見つかりません。"},
               {-129, "サーバへの接続に失敗しました。", "プロキシサーバへの接続に失敗しました。"},
               {-130, "サーバが不正なレスポンスを返しました。", nullptr},
               {-131, "何もダウンロードできませんでした。", nullptr},
               {-133, "ハイスコアファイルの保存に失敗しました。", nullptr},
               {-134, "プロキシの指定が間違っています。", nullptr},
               {-135, "ダウンロードリクエストを送信できません。", nullptr},
               {-136, "サーバが接続を遮断しました。", nullptr},
               {0, kDone, nullptr},  // results outside the table count as success
               {1, kDone, nullptr},
               {-127, kDone, nullptr},
               {-137, kDone, nullptr}};
  for (const auto& c : cases) {
    for (const bool proxy : {false, true}) {
      test::UseProxy("proxy.lan", 8080);
      if (!proxy) g_settings.flags &= ~kFlagUseProxy;
      g_fakeResult = c.result;
      test::FakeWindow window;
      const bool done = c.direct == std::string(kDone);
      EXPECT_EQ(runDownload(window, FakeDownload), done ? 0 : -1) << c.result;
      ExpectClosing(window, proxy && c.proxied ? c.proxied : c.direct,
                    done ? kMbIconInformation : kMbIconHand);
      EXPECT_EQ(g_seen,
                proxy ? "QuillaneTool/050702 proxy.lan:8080" : "QuillaneTool/050702 (null):0");
    }
  }
}

}  // namespace
}  // namespace qlan
