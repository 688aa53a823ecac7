// The two exchanges with the ranking server: the download's request and what lands in
// qlanb.ee on every response and failure; the upload's request bytes and its reply.
#include <gtest/gtest.h>

#include <cstring>

#include "app/filesystem.h"
#include "net/download.h"
#include "net/ranking.h"
#include "net/upload.h"
#include "net_test_support.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"

namespace qlan::test {
namespace {

std::string OkHead(std::size_t length) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

class Download : public ::testing::Test {
 protected:
  void SetUp() override { MakeFolder(users_.VendorPath()); }
  std::string Target() const { return users_.VendorPath("qlanb.ee"); }
  int Run(LoopbackPeer& peer, Timeouts t = {2000, 2000}) {  // a fault fails, never hangs
    peer.Start();
    return downloadHighScores(UserAgent, "127.0.0.1", peer.port(), t);
  }
  // qlanb.ee as before (or as stored), and no temporary file behind.
  void ExpectStored(const std::string& bytes, const std::string& why) {
    EXPECT_EQ(S(ReadAll(Target())), bytes) << why;
    EXPECT_FALSE(Exists(Target() + ".part")) << why;
  }
  UserDataFixture users_;
};

TEST_F(Download, AbsoluteFormRequestAndASplitBodyThatReplacesTheFileWhole) {
  const Bytes table = ReadAll(TestDataPath("highscore/empty-table.ee"));
  LoopbackPeer peer;
  // Cut inside the status line, the length line, the blank line, and the body.
  peer.ReadRequest().SendSplit(OkHead(table.size()) + S(table),
                               {5, 16, 17, 30, 40, 41, 1000, 5000, 9999}, 5);
  ASSERT_EQ(Run(peer), 0);
  ExpectStored(S(table), "split");
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
      // clang-format off
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
      {length + "-1\r\n\r\n", kBadResponse, ""}, {length + "2147483648\r\n\r\n", kBadResponse, ""},
      {length + "abc\r\n\r\n", kBadResponse, ""}, {length + "\r\n\r\n", kBadResponse, ""},
      {"http/1.1 200 OK\r\n\r\n", kBadResponse, ""}, {"<html>hi</html>\r\n", kBadResponse, ""},
      {"HTTP/1.1\r\n\r\n", kHttpError, ""}, {"HTTP/1.1 503 Busy\r\n\r\n", kHttpError, ""},
      {OkHead(100) + std::string(50, 's'), kConnectionCut, ""},
      {OkHead(5000) + std::string(2500, 'r'), kConnectionCut, "", kReset},
      {OkHead(5000) + std::string(2500, 'r'), kConnectionCut, "", kSilence},
      {ok + "Server: t\r\n", kConnectionCut, "", kSilence},
      {ok, kNothingReceived, ""}, {"", kNothingReceived, ""}};  // closed after the status line, at once
  // clang-format on
  for (const auto& c : cases) {
    WriteAll(Target(), {'o', 'l', 'd'});
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
  WriteAll(Target(), {'o', 'l', 'd'});
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), kConnectFailed);
  EXPECT_EQ(downloadHighScores(UserAgent, kUnresolvableHost, 8080), kNameNotFound);
  // The highest port is one: whatever answers there, the proxy was not refused.
  EXPECT_NE(downloadHighScores(UserAgent, "127.0.0.1", 65535, Timeouts{300, 300}), kBadProxy);
  for (const int port : {0, 65536}) {
    EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", port), kBadProxy) << port;
  }
  LoopbackPeer deaf;  // stops reading: a request far longer than the buffers cannot go out
  deaf.Pause(5000).Start();
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
  SetReadOnly(Target(), true);
  expectFileFailure(false, "read-only");
  ExpectStored("old", "read-only");
  SetReadOnly(Target(), false);
  DeleteFileAt(Target().c_str());
  MakeFolder(Target());  // a folder cannot be replaced by a file
  expectFileFailure(true, "no replace");
  EXPECT_FALSE(Exists(Target() + ".part"));
  MakeFolder(Target() + ".part");  // the temporary file cannot be opened
  expectFileFailure(false, "no temporary file");
  ScopedEnv missing("APPDATA", users_.appData() + Separator() + "missing");
  expectFileFailure(false, "no folder");
}

constexpr char kOkReply[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<p>\r\n**ID:abc123\r\n";

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeFolder(user_.ReplayPath()); }
  EntryResult Upload(int route, const Bytes& replay, LoopbackPeer& peer) {
    WriteAll(user_.ReplayPath(ReplayName(route)), replay);
    peer.Start();
    return uploadRecord(route, UserAgent, "127.0.0.1", peer.port());
  }
  UserDataFixture user_;
};

TEST_F(UploadTest, RequestGoesOutByteForByteThroughAProxyOrDirect) {
  const std::string text49 =
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\nMA==";
  LoopbackPeer proxied;
  proxied.ReadRequest().Send(kOkReply);
  EXPECT_STREQ(Upload(749, Counting(49), proxied).id, "abc123");
  ASSERT_TRUE(proxied.WaitClosed(5000));
  EXPECT_EQ(proxied.Request(), ToolRequest(ToolForm(text49), true, true, RankingHost));
  // The direct form goes to the ranking host; here only its bytes reach the peer.
  for (const bool userAgent : {true, false}) {
    LoopbackPeer peer;
    peer.ReadRequest().Start();
    FakeReplay replay(Bytes{0}, 1, false);
    QString body;
    ASSERT_TRUE(BuildEntryBody(replay, body));
    {
      TcpConnection c;
      ASSERT_EQ(openExchange(c, "127.0.0.1", peer.port()), 0);
      EXPECT_TRUE(SendEntryRequest(c, body, userAgent ? UserAgent : nullptr, nullptr));
    }
    ASSERT_TRUE(peer.WaitClosed(5000));
    EXPECT_EQ(peer.Request(), ToolRequest(ToolForm("AA=="), false, userAgent, RankingHost));
  }
}

TEST_F(UploadTest, RepliesAreReadByTheirStatusAndTheFirstMarkerLine) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const struct {
    std::string reply;
    bool reset;
    const char* identifier;  // null: the upload fails
  } cases[] = {
      {"HTTP/1.1 200 OK\n\n**ID:Z9\r\n", false, "Z9"},
      {ok + "Content-Length: abc\r\n\r\n**ID:len1\r\n", false, "len1"},  // length not judged
      {ok + "Content-Length: -5\r\n\r\n**ID:len2\r\n", false, "len2"},
      {ok + "Content-Length: 2\r\n\r\n<p>\r\n**ID:len3\r\n", false, "len3"},
      {ok + "\r\n<html>ID: 5 **ID:x</html>\r\n **ID:y\n*ID:z\n**id:w\n", false, nullptr},
      // Only control bytes leave the end; a marker inside a long line is not at its start.
      {ok + "\r\n**ID: a\xE3\x81\x82\x7F\t\x1F\r\n**ID:second\n", false, " a\xE3\x81\x82\x7F"},
      {ok + "\r\n" + std::string(1100, 'x') + "**ID:inside\n**ID:own", false, "own"},
      {"HTTP/1.1 404 Not Found\r\n\r\n**ID:x\n", false, nullptr},
      {ok + "\r\n<html>\r\n", true, nullptr},       // reset inside the body
      {ok + "Content-Length: 9", false, nullptr}};  // no end of the head
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(c.reply);
    if (c.reset) peer.Pause(100).Reset();
    std::strcpy(g_entryId, "stale");
    const EntryResult r = Upload(710, Bytes{'q', 'l'}, peer);
    EXPECT_TRUE(peer.WaitClosed(5000)) << c.reply;
    EXPECT_EQ(r.kind == EntryKind::kUploaded, r.id == g_entryId) << c.reply;
    EXPECT_STREQ(r.id, c.identifier) << c.reply;
  }
  EXPECT_EQ(uploadRecord(710, UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()).kind,
            EntryKind::kFailed);
  // A missing replay or a route outside the forty posts nothing. (The size limit and an
  // empty replay: the entry flow's test; a failing read: the encoder's.)
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  for (const int route : {723, 709}) {
    EXPECT_EQ(uploadRecord(route, UserAgent, "127.0.0.1", peer.port()).kind, EntryKind::kFailed)
        << route;
  }
  EXPECT_FALSE(peer.Wait(300));
  EXPECT_EQ(TcpConnection::liveCount(), 0);
}

}  // namespace
}  // namespace qlan::test
