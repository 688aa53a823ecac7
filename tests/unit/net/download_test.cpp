// The high-score download: the request, and what lands in qlanb.ee for every kind of
// response head and body, file problem and network failure.
#include "net/download.h"

#include <gtest/gtest.h>

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
  void SetUp() override { test::MakeFolder(users_.VendorPath()); }
  std::string Target() const { return users_.VendorPath("qlanb.ee"); }
  int Run(LoopbackPeer& peer, Timeouts t = test::kTestTimeouts) {
    peer.Start();
    return downloadHighScores(UserAgent, "127.0.0.1", peer.port(), t);
  }
  // qlanb.ee as before (or as stored), and no temporary file behind.
  void ExpectStored(const std::string& bytes, const std::string& why) {
    EXPECT_EQ(test::S(test::ReadAll(Target())), bytes) << why;
    EXPECT_FALSE(test::Exists(Target() + ".part")) << why;
  }
  test::UserDataFixture users_;
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
    GTEST_SKIP() << "the expected request names the default ranking host, not " << RankingHost;
  }
  EXPECT_EQ(peer.Request(),
            "GET http://ranking.quillane.example/sw/qlan/score.dat HTTP/1.1\r\n"
            "Host: ranking.quillane.example\r\nUser-Agent: QuillaneTool/050702\r\n\r\n");
}

TEST_F(Download, EveryResponseStoresItsBodyOrLeavesTheFile) {
  const std::string ok = "HTTP/1.1 200 OK\r\n", length = ok + "Content-Length: ";
  enum Tail { kClose, kReset, kSilence };
  const struct {
    std::string response;
    int code;
    std::string stored;  // for code 0
    Tail tail = kClose;
  } cases[] = {
      {ok + "Server: t\r\n\r\n" + std::string(1048576, 'm'), 0, std::string(1048576, 'm')},
      {ok + "\r\n" + std::string(1048577, 'm'), kBadResponse, ""},  // no length: 1 MB at most
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nServer: t\r\n\r\n12345EXTRA", 0, "12345"},
      {OkHead(4) + "NEW!", 0, "NEW!", kSilence},  // a keep-alive server says nothing more
      {OkHead(0), 0, "", kSilence},
      {length + "5\r\nContent-Length:3\r\n\r\nabc", 0, "abc"},
      {ok + "content-length: 4\r\n\r\nbody", 0, "body"},  // the name's case matters
      {"HTTP/1.1   +200OK\r\n\r\nx", 0, "x"},             // a number after the first blank
      // A 1026-byte header line comes as 1023 bytes and "x\r\n", which ends the block.
      {ok + "X: " + std::string(1020, 'l') + "x\r\nContent-Length: 1\r\n\r\n", 0,
       "Content-Length: 1\r\n\r\n"},
      {length + "-1\r\n\r\n", kBadResponse, ""},
      {length + "2147483648\r\n\r\n", kBadResponse, ""},
      {length + "abc\r\n\r\n", kBadResponse, ""},
      {length + "\r\n\r\n", kBadResponse, ""},
      {"http/1.1 200 OK\r\n\r\n", kBadResponse, ""},
      {"<html>hello</html>\r\n", kBadResponse, ""},
      {"HTTP/1.1\r\n\r\n", kHttpError, ""},
      {"HTTP/1.1 503 Busy\r\n\r\n", kHttpError, ""},
      {OkHead(100) + std::string(50, 's'), kConnectionCut, ""},
      {OkHead(5000) + std::string(2500, 'r'), kConnectionCut, "", kReset},
      {OkHead(5000) + std::string(2500, 'r'), kConnectionCut, "", kSilence},
      {ok + "Server: t\r\n", kConnectionCut, "", kSilence},
      {ok, kNothingReceived, ""},  // closed right after the status line
      {"", kNothingReceived, ""}};
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
}

TEST_F(Download, PeerAndFileProblemsLeaveTheFile) {
  test::WriteAll(Target(), {'o', 'l', 'd'});
  LoopbackPeer unanswered(0);  // the connect gives up at its limit
  unanswered.SaturateBacklog();
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", unanswered.port(), Timeouts{300, 2000}),
            kConnectFailed);
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), kConnectFailed);
  EXPECT_EQ(downloadHighScores(UserAgent, test::kUnresolvableHost, 8080), kNameNotFound);
  for (const int port : {0, 65536}) {
    EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", port), kBadProxy) << port;
  }
  LoopbackPeer deaf;  // stops reading: a request far longer than the buffers cannot go out
  deaf.StopReading(5000).Start();
  const std::string agent(std::size_t{64} << 20, 'a');
  EXPECT_EQ(downloadHighScores(agent.c_str(), "127.0.0.1", deaf.port(), Timeouts{2000, 300}),
            kSendFailed);
  ExpectStored("old", "peer failures");
  const auto expectFileFailure = [this](bool connects, const char* why) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(OkHead(3) + "abc");
    EXPECT_EQ(Run(peer), kHighScoreFileFailed) << why;
    EXPECT_EQ(peer.Wait(connects ? 5000 : 300), connects) << why;
  };
  test::SetReadOnly(Target(), true);
  expectFileFailure(false, "read-only");
  ExpectStored("old", "read-only");
  test::SetReadOnly(Target(), false);
  DeleteFileAt(Target().c_str());
  test::MakeFolder(Target());  // a folder cannot be replaced by a file
  expectFileFailure(true, "no replace");
  EXPECT_FALSE(test::Exists(Target() + ".part"));
  test::MakeFolder(Target() + ".part");  // the temporary file cannot be opened
  expectFileFailure(false, "no temporary file");
  test::ScopedEnv missing("APPDATA", users_.appData() + test::Separator() + "missing");
  expectFileFailure(false, "no folder");
}

}  // namespace
}  // namespace qlan
