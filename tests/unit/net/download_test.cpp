// The high-score download: the request, and what lands in qlanb.ee for every kind of
// response, file problem and network failure.
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

std::string OkHead(std::size_t length) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

class Download : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeFolder(users_.VendorPath());
    test::WriteAll(Target(), test::Bytes(old_.begin(), old_.end()));
  }
  std::string Target() const { return users_.VendorPath("qlanb.ee"); }
  std::string Partial() const { return users_.VendorPath("qlanb.ee.part"); }
  int Run(LoopbackPeer& peer, Timeouts t = test::kTestTimeouts) {
    peer.Start();
    return downloadHighScores(UserAgent, "127.0.0.1", peer.port(), t);
  }
  // qlanb.ee as before (or as stored), and no temporary file behind.
  void ExpectStored(const std::string& bytes, const std::string& why) {
    EXPECT_EQ(test::S(test::ReadAll(Target())), bytes) << why;
    EXPECT_FALSE(test::Exists(Partial())) << why;
  }

  test::UserDataFixture users_;
  const std::string old_ = "the table from before";
};

TEST_F(Download, AbsoluteFormRequestAndASplitBodyThatReplacesTheFileWhole) {
  const test::Bytes table = test::ReadAll(test::TestDataPath("highscore/empty-table.ee"));
  LoopbackPeer peer;
  // Cut inside the status line, the length line, the blank line, and the body.
  peer.ReadRequest().SendSplit(OkHead(table.size()) + test::S(table),
                               {5, 16, 17, 30, 40, 41, 1000, 5000, 9999}, 5);
  ASSERT_EQ(Run(peer), 0);
  ExpectStored(test::S(table), "split");
  if (std::string(RankingHost) != "ranking.quillane.example") {
    GTEST_SKIP() << "the expected bytes name the default ranking host, this build names "
                 << RankingHost;
  }
  EXPECT_EQ(peer.Request(),
            "GET http://ranking.quillane.example/sw/qlan/score.dat HTTP/1.1\r\n"
            "Host: ranking.quillane.example\r\nUser-Agent: QuillaneTool/050702\r\n\r\n");
}

TEST_F(Download, EveryResponseStoresItsBodyOrLeavesTheFile) {
  const std::string unframed = "HTTP/1.1 200 OK\r\nServer: t\r\n\r\n";
  enum Tail { kClose, kReset, kSilence };
  const struct {
    std::string response;
    Tail tail;
    int code;
    std::string stored;  // for code 0
  } cases[] = {
      {unframed + std::string(3000, 'q'), kClose, 0, std::string(3000, 'q')},  // to the close
      {OkHead(4) + "NEW!", kSilence, 0, "NEW!"},  // a keep-alive server says nothing more
      {OkHead(5) + "12345EXTRA", kSilence, 0, "12345"},
      {OkHead(0), kSilence, 0, ""},
      {unframed + std::string(1048576, 'm'), kClose, 0, std::string(1048576, 'm')},
      {unframed + std::string(1048577, 'm'), kClose, kBadResponse, ""},
      {OkHead(100) + std::string(50, 's'), kClose, kConnectionCut, ""},
      {OkHead(5000) + std::string(2500, 'r'), kReset, kConnectionCut, ""},
      {OkHead(5000) + std::string(2500, 'r'), kSilence, kConnectionCut, ""},
      {"", kClose, kNothingReceived, ""},
      {"<html>hello</html>\r\n", kClose, kBadResponse, ""},
      {"HTTP/1.1 503 Busy\r\n\r\n", kClose, kHttpError, ""}};
  for (const auto& c : cases) {
    test::WriteAll(Target(), {'o', 'l', 'd'});
    LoopbackPeer peer;
    peer.ReadRequest().Send(c.response);
    if (c.tail == kReset) peer.Pause(100).Reset();
    if (c.tail == kSilence) peer.Silent(5000);
    const std::string shown = c.response.substr(0, 40);
    EXPECT_EQ(Run(peer, Timeouts{2000, c.tail == kSilence && c.code != 0 ? 300 : 4000}), c.code)
        << shown;
    ExpectStored(c.code == 0 ? c.stored : "old", shown);
  }
  EXPECT_STREQ(downloadStatusLine(), "HTTP/1.1 503 Busy\r\n");
}

TEST_F(Download, PeerFailuresLeaveTheFile) {
  LoopbackPeer unanswered(0);  // the connect gives up at its limit
  unanswered.SaturateBacklog();
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", unanswered.port(), Timeouts{300, 2000}),
            kConnectFailed);
  EXPECT_EQ(downloadHighScores(UserAgent, test::kUnresolvableHost, 8080, test::kTestTimeouts),
            kNameNotFound);
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", 0, test::kTestTimeouts), kBadProxy);
  LoopbackPeer deaf;  // stops reading: a request far longer than the buffers cannot go out
  deaf.StopReading(5000).Start();
  const std::string agent(std::size_t{64} << 20, 'a');
  EXPECT_EQ(downloadHighScores(agent.c_str(), "127.0.0.1", deaf.port(), Timeouts{2000, 300}),
            kSendFailed);
  ExpectStored(old_, "peer failures");
}

TEST_F(Download, FileProblemsFailBeforeAnyNetworkOrAtTheReplace) {
  const auto expectFailure = [this](bool connects, const char* why) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(OkHead(3) + "abc");
    EXPECT_EQ(Run(peer), kHighScoreFileFailed) << why;
    EXPECT_EQ(peer.Wait(connects ? 5000 : 300), connects) << why;
  };
  test::SetReadOnly(Target(), true);
  expectFailure(false, "read-only");
  ExpectStored(old_, "read-only");
  test::SetReadOnly(Target(), false);
  DeleteFileAt(Target().c_str());
  test::MakeFolder(Target());  // a folder cannot be replaced by a file
  expectFailure(true, "no replace");
  EXPECT_FALSE(test::Exists(Partial()));
  test::MakeFolder(Partial());  // the temporary file cannot be opened
  expectFailure(false, "no temporary file");
  test::ScopedEnv missing("APPDATA", users_.appData() + test::Separator() + "missing");
  expectFailure(false, "no folder");
}

#ifndef _WIN32
TEST_F(Download, WriteFailureMidBodyIsReportedAndTheFileKept) {
  // A file-size limit makes the write of the body fail part-way.
  struct sigaction ignore {
  }, before{};
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
  ExpectStored(old_, "write failure");
}
#endif

}  // namespace
}  // namespace qlan
