// The high-score download: what lands in qlanb.ee for every kind of response, and the
// dialog flow's question, cursor and closing messages.
#include "net/download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <csignal>
#endif

#include "app/settings.h"
#include "net/ranking.h"
#include "support/fake_window.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::FakeWindow;
using test::LoopbackPeer;
using Bytes = std::vector<std::uint8_t>;

constexpr Timeouts kTestTimeouts{2000, 2000};
constexpr char kQuestion[] =
    "インターネットに接続し最新のハイスコア記録を取得します。\n"
    "ダウンロードが成功すると、現在のデータは上書きされ消滅します。\nよろしいですか？";
constexpr char kDone[] = "ダウンロードが完了しました。";
constexpr unsigned kQuestionStyle = 0x1 | 0x30 | 0x10000;  // OK/Cancel, exclamation, foreground

void RemoveFile(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::path(std::u8string(path.begin(), path.end())), ignored);
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string OkHead(std::size_t length) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

class Download : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = g_settings;
    ResetSettings(g_settings);
    test::MakeFolder(users_.VendorPath());
    test::WriteAll(Target(), old_);
  }
  void TearDown() override { g_settings = saved_; }

  std::string Target() const { return users_.VendorPath("qlanb.ee"); }
  std::string Partial() const { return users_.VendorPath("qlanb.ee.part"); }

  int Run(LoopbackPeer& peer, Timeouts t = kTestTimeouts) {
    peer.Start();
    return downloadHighScores(UserAgent, "127.0.0.1", peer.port(), t);
  }

  // qlanb.ee as before the download, and no temporary file behind.
  void ExpectUntouched() {
    EXPECT_EQ(test::ReadAll(Target()), old_);
    EXPECT_FALSE(test::Exists(Partial()));
  }

  void UseProxy(const char* address, std::int32_t port) {
    g_settings.flags |= kFlagUseProxy;
    std::memset(g_settings.proxyAddress, 0, sizeof g_settings.proxyAddress);
    std::memcpy(g_settings.proxyAddress, address, std::strlen(address));
    g_settings.proxyPort = port;
  }

  test::UserDataFixture users_;
  const Bytes old_ = B("previous high-score table, longer than some bodies");
  Settings saved_{};
};

// --- Complete downloads ------------------------------------------------------------------

TEST_F(Download, RequestIsTheAbsoluteFormGetWithCrLf) {
  if (std::string(RankingHost) != "ranking.quillane.example") GTEST_SKIP() << "other ranking host";
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(3) + "abc");
  ASSERT_EQ(Run(peer), 0);
  EXPECT_EQ(peer.Request(),
            "GET http://ranking.quillane.example/sw/qlan/score.dat HTTP/1.1\r\n"
            "Host: ranking.quillane.example\r\n"
            "User-Agent: QuillaneTool/050702\r\n"
            "\r\n");
}

TEST_F(Download, BodyWithLengthReplacesTheFileWhole) {
  const Bytes table = test::ReadAll(test::TestDataPath("highscore/empty-table.ee"));
  ASSERT_EQ(table.size(), 10888u);
  LoopbackPeer peer;
  peer.ReadRequest().SendSplit(OkHead(table.size()) + S(table), {5, 40, 41, 1000, 5000, 9999}, 5);
  ASSERT_EQ(Run(peer), 0);
  EXPECT_EQ(test::ReadAll(Target()), table);
  EXPECT_FALSE(test::Exists(Partial()));
}

TEST_F(Download, ShorterBodyLeavesNoOldTail) {
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(4) + "NEW!");
  ASSERT_EQ(Run(peer), 0);
  EXPECT_EQ(S(test::ReadAll(Target())), "NEW!");
}

TEST_F(Download, FileIsCreatedWhenThereWasNone) {
  RemoveFile(Target());
  LoopbackPeer peer;
  peer.ReadRequest().SendSlowly(OkHead(6) + "scores", 7, 5);
  ASSERT_EQ(Run(peer), 0);
  EXPECT_EQ(S(test::ReadAll(Target())), "scores");
}

TEST_F(Download, OnlyTheAnnouncedBytesAreWrittenAndNothingMoreIsAwaited) {
  // A keep-alive server sends its body and then nothing: the download ends at once.
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(5) + "12345EXTRA").Silent(5000);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(peer, Timeouts{2000, 4000}), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_EQ(S(test::ReadAll(Target())), "12345");
}

TEST_F(Download, ZeroLengthIsCompleteAtOnce) {
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(0)).Silent(5000);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(peer, Timeouts{2000, 4000}), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_TRUE(test::ReadAll(Target()).empty());
}

TEST_F(Download, WithoutLengthTheBodyRunsToTheClose) {
  const std::string body(3000, 'q');
  LoopbackPeer peer;
  peer.ReadRequest().SendSplit("HTTP/1.1 200 OK\r\nServer: t\r\n\r\n" + body, {30, 1500}, 10);
  ASSERT_EQ(Run(peer), 0);
  EXPECT_EQ(S(test::ReadAll(Target())), body);
}

TEST_F(Download, WithoutLengthExactlyTheLimitIsAccepted) {
  const std::string body(1048576, 'm');
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n" + body);
  ASSERT_EQ(Run(peer), 0);
  EXPECT_EQ(test::ReadAll(Target()).size(), 1048576u);
}

// --- Failures leave qlanb.ee as it was ---------------------------------------------------

TEST_F(Download, WithoutLengthALongerBodyIsBadResponse) {
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 200 OK\r\n\r\n" + std::string(1048577, 'm'));
  EXPECT_EQ(Run(peer), kBadResponse);
  ExpectUntouched();
}

TEST_F(Download, CloseBeforeTheAnnouncedLengthIsConnectionCut) {
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(100) + std::string(50, 's'));
  EXPECT_EQ(Run(peer), kConnectionCut);
  ExpectUntouched();
}

TEST_F(Download, ResetMidBodyIsConnectionCut) {
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(5000) + std::string(2500, 'r')).Pause(100).Reset();
  EXPECT_EQ(Run(peer), kConnectionCut);
  ExpectUntouched();
}

TEST_F(Download, SilenceMidBodyIsConnectionCutAfterTheLimit) {
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(5000) + std::string(2500, 'r')).Silent(5000);
  EXPECT_EQ(Run(peer, Timeouts{2000, 300}), kConnectionCut);
  ExpectUntouched();
}

TEST_F(Download, HttpErrorKeepsTheStatusLineAndCreatesNoFile) {
  RemoveFile(Target());
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
  EXPECT_EQ(Run(peer), kHttpError);
  EXPECT_STREQ(downloadStatusLine(), "HTTP/1.1 404 Not Found\r\n");
  EXPECT_FALSE(test::Exists(Target()));
  EXPECT_FALSE(test::Exists(Partial()));
}

TEST_F(Download, PeerThatAnswersNothingIsNothingReceived) {
  LoopbackPeer peer;
  peer.ReadRequest();
  EXPECT_EQ(Run(peer), kNothingReceived);
  ExpectUntouched();
}

TEST_F(Download, GarbageIsBadResponse) {
  LoopbackPeer peer;
  peer.ReadRequest().Send("<html>hello</html>\r\n");
  EXPECT_EQ(Run(peer), kBadResponse);
  ExpectUntouched();
}

TEST_F(Download, PeerProblemsKeepTheirCodes) {
  EXPECT_EQ(downloadHighScores(UserAgent, test::kUnresolvableHost, 8080, kTestTimeouts),
            kNameNotFound);
  ExpectUntouched();
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort(), kTestTimeouts),
            kConnectFailed);
  ExpectUntouched();
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", 0, kTestTimeouts), kBadProxy);
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", 65536, kTestTimeouts), kBadProxy);
  ExpectUntouched();
}

TEST_F(Download, UnansweredConnectGivesUpAtItsLimit) {
  LoopbackPeer peer(0);
  peer.SaturateBacklog();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", peer.port(), Timeouts{300, 2000}),
            kConnectFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  ExpectUntouched();
}

TEST_F(Download, ReadOnlyTargetFailsBeforeAnyNetwork) {
  test::SetReadOnly(Target(), true);
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(3) + "abc");
  EXPECT_EQ(Run(peer), kHighScoreFileFailed);
  EXPECT_EQ(peer.Accepted(), 0);
  test::SetReadOnly(Target(), false);
  ExpectUntouched();
}

TEST_F(Download, UnusableUserFolderFailsBeforeAnyNetwork) {
  test::ScopedEnv missing("APPDATA", users_.appData() + test::Separator() + "missing");
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(3) + "abc");
  EXPECT_EQ(Run(peer), kHighScoreFileFailed);
  EXPECT_EQ(peer.Accepted(), 0);
}

TEST_F(Download, TemporaryFileThatCannotBeOpenedFailsBeforeAnyNetwork) {
  test::MakeFolder(Partial());
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(3) + "abc");
  EXPECT_EQ(Run(peer), kHighScoreFileFailed);
  EXPECT_EQ(peer.Accepted(), 0);
  EXPECT_EQ(test::ReadAll(Target()), old_);
}

TEST_F(Download, ReplaceFailureIsReportedAndTheTemporaryFileRemoved) {
  // A folder where qlanb.ee should be cannot be replaced by a file.
  RemoveFile(Target());
  test::MakeFolder(Target());
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

// --- The dialog flow ---------------------------------------------------------------------

TEST_F(Download, CancelAtTheQuestionDoesNothingElse) {
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(3) + "abc");
  peer.Start();
  UseProxy("127.0.0.1", peer.port());
  FakeWindow window;
  window.answers = {kIdCancel};
  EXPECT_EQ(runDownload(window), 0);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, kQuestion);
  EXPECT_EQ(window.messages[0].caption, "ダウンロード");
  EXPECT_EQ(window.messages[0].style, kQuestionStyle);
  EXPECT_TRUE(window.messages[0].owned);
  EXPECT_EQ(window.waitCursorCount, 0);
  EXPECT_EQ(peer.Accepted(), 0);
  ExpectUntouched();
}

TEST_F(Download, ProxyProblemsAreReportedWithoutAQuestion) {
  UseProxy("", 8080);
  FakeWindow window;
  EXPECT_EQ(runDownload(window), -1);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text,
            "プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。");
  EXPECT_EQ(window.messages[0].caption, "ダウンロード");
  EXPECT_EQ(window.messages[0].style, 0x10u);

  UseProxy("127.0.0.1", 65536);
  FakeWindow second;
  EXPECT_EQ(runDownload(second), -1);
  ASSERT_EQ(second.messages.size(), 1u);
  EXPECT_EQ(second.messages[0].text,
            "プロキシのポート指定が不正です。\nポートは1から65535の間で指定してください。");
  EXPECT_EQ(second.waitCursorCount, 0);
  ExpectUntouched();
}

TEST_F(Download, SuccessfulFlowShowsTheWaitCursorAndTheDoneMessage) {
  LoopbackPeer peer;
  peer.ReadRequest().Send(OkHead(6) + "SCORES");
  peer.Start();
  UseProxy("127.0.0.1", peer.port());
  FakeWindow window;
  EXPECT_EQ(runDownload(window), 0);
  ASSERT_EQ(window.messages.size(), 2u);
  EXPECT_EQ(window.messages[0].text, kQuestion);
  EXPECT_EQ(window.messages[1].text, kDone);
  EXPECT_EQ(window.messages[1].caption, "ダウンロード");
  EXPECT_EQ(window.messages[1].style, 0x40u);
  EXPECT_TRUE(window.messages[1].owned);
  EXPECT_EQ(window.waitCursorCount, 1);
  EXPECT_EQ(window.waitCursorDepth, 0);
  EXPECT_EQ(S(test::ReadAll(Target())), "SCORES");
}

TEST_F(Download, HttpErrorMessageShowsTheStatusLineAsData) {
  LoopbackPeer peer;
  peer.ReadRequest().Send("HTTP/1.1 500 %s%n%x\r\n\r\n");
  peer.Start();
  UseProxy("127.0.0.1", peer.port());
  FakeWindow window;
  EXPECT_EQ(runDownload(window), -1);
  ASSERT_EQ(window.messages.size(), 2u);
  EXPECT_EQ(window.messages[1].text, "HTTPエラーです。\nHTTP/1.1 500 %s%n%x\r\n");
  EXPECT_EQ(window.messages[1].style, 0x10u);
  EXPECT_EQ(window.waitCursorDepth, 0);
  ExpectUntouched();
}

TEST_F(Download, RealFailuresThroughAProxyGetTheirMessages) {
  struct Case {
    const char* response;
    const char* message;
  };
  const Case cases[] = {
      {"", "何もダウンロードできませんでした。"},
      {"SPDY/9 200 OK\r\n\r\n", "サーバが不正なレスポンスを返しました。"},
  };
  for (const Case& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest();
    if (*c.response != '\0') peer.Send(c.response);
    peer.Start();
    UseProxy("127.0.0.1", peer.port());
    FakeWindow window;
    EXPECT_EQ(runDownload(window), -1);
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[1].text, c.message);
  }
  UseProxy(test::kUnresolvableHost, 8080);
  FakeWindow unresolved;
  EXPECT_EQ(runDownload(unresolved), -1);
  ASSERT_EQ(unresolved.messages.size(), 2u);
  EXPECT_EQ(unresolved.messages[1].text, "プロキシサーバが見つかりません。");
  UseProxy("127.0.0.1", LoopbackPeer::ClosedPort());
  FakeWindow refused;
  EXPECT_EQ(runDownload(refused), -1);
  ASSERT_EQ(refused.messages.size(), 2u);
  EXPECT_EQ(refused.messages[1].text, "プロキシサーバへの接続に失敗しました。");
  test::SetReadOnly(Target(), true);
  FakeWindow readOnly;
  EXPECT_EQ(runDownload(readOnly), -1);
  ASSERT_EQ(readOnly.messages.size(), 2u);
  EXPECT_EQ(readOnly.messages[1].text, "ハイスコアファイルの保存に失敗しました。");
  test::SetReadOnly(Target(), false);
  ExpectUntouched();
}

// The download as the flow calls it, replaced so that every result can be produced.
int g_fakeResult = 0;
std::string g_seenUserAgent;
std::string g_seenProxy;
int g_seenPort = -1;

int FakeDownload(const char* userAgent, const char* proxyAddress, int proxyPort) {
  g_seenUserAgent = userAgent != nullptr ? userAgent : "(null)";
  g_seenProxy = proxyAddress != nullptr ? proxyAddress : "(null)";
  g_seenPort = proxyPort;
  return g_fakeResult;
}

TEST_F(Download, FlowPassesTheUserAgentAndTheProxyOnlyWhenInUse) {
  g_fakeResult = 0;
  FakeWindow direct;
  g_settings.proxyPort = 3128;
  std::memcpy(g_settings.proxyAddress, "proxy.lan", 10);
  EXPECT_EQ(runDownload(direct, FakeDownload), 0);
  EXPECT_EQ(g_seenUserAgent, "QuillaneTool/050702");
  EXPECT_EQ(g_seenProxy, "(null)");
  EXPECT_EQ(g_seenPort, 0);

  UseProxy("proxy.lan", 3128);
  FakeWindow proxied;
  EXPECT_EQ(runDownload(proxied, FakeDownload), 0);
  EXPECT_EQ(g_seenProxy, "proxy.lan");
  EXPECT_EQ(g_seenPort, 3128);
}

TEST_F(Download, EveryResultHasItsMessage) {
  struct Case {
    int result;
    const char* direct;
    const char* proxied;
  };
  const Case cases[] = {
      {-128, "サーバが見つかりません。", "プロキシサーバが見つかりません。"},
      {-129, "サーバへの接続に失敗しました。", "プロキシサーバへの接続に失敗しました。"},
      {-130, "サーバが不正なレスポンスを返しました。", "サーバが不正なレスポンスを返しました。"},
      {-131, "何もダウンロードできませんでした。", "何もダウンロードできませんでした。"},
      {-133, "ハイスコアファイルの保存に失敗しました。",
       "ハイスコアファイルの保存に失敗しました。"},
      {-134, "プロキシの指定が間違っています。", "プロキシの指定が間違っています。"},
      {-135, "ダウンロードリクエストを送信できません。",
       "ダウンロードリクエストを送信できません。"},
      {-136, "サーバが接続を遮断しました。", "サーバが接続を遮断しました。"},
  };
  for (const Case& c : cases) {
    for (const bool proxy : {false, true}) {
      ResetSettings(g_settings);
      if (proxy) UseProxy("proxy.lan", 8080);
      g_fakeResult = c.result;
      FakeWindow window;
      EXPECT_EQ(runDownload(window, FakeDownload), -1) << c.result;
      ASSERT_EQ(window.messages.size(), 2u) << c.result;
      EXPECT_EQ(window.messages[1].text, proxy ? c.proxied : c.direct) << c.result;
      EXPECT_EQ(window.messages[1].caption, "ダウンロード");
      EXPECT_EQ(window.messages[1].style, 0x10u);
      EXPECT_TRUE(window.messages[1].owned);
      EXPECT_EQ(window.waitCursorCount, 1);
      EXPECT_EQ(window.waitCursorDepth, 0);
    }
  }
}

TEST_F(Download, ResultsOutsideTheTableCountAsSuccess) {
  for (int result : {0, 1, -1, -127, -137, 5}) {
    g_fakeResult = result;
    FakeWindow window;
    EXPECT_EQ(runDownload(window, FakeDownload), 0) << result;
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[1].text, kDone);
    EXPECT_EQ(window.messages[1].style, 0x40u);
  }
}

}  // namespace
}  // namespace qlan
