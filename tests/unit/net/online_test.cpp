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

namespace qlan {
namespace {

using test::Bytes;
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
  EXPECT_EQ(downloadHighScores(UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), kConnectFailed);
  EXPECT_EQ(downloadHighScores(UserAgent, test::kUnresolvableHost, 8080), kNameNotFound);
  // The highest port is one: whatever answers there, the proxy was not refused.
  EXPECT_NE(downloadHighScores(UserAgent, "127.0.0.1", 65535, Timeouts{300, 300}), kBadProxy);
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

constexpr char kOkReply[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<p>\r\n**ID:abc123\r\n";

// clang-format off
std::string Request(bool proxy, bool userAgent, const std::string& length, const std::string& text) {
  return std::string("POST ") + (proxy ? std::string("http://") + RankingHost : "") +
         "/sw/qlan/hsentry/0/ HTTP/1.1\nHost: " + RankingHost + "\n" +
         (userAgent ? "User-Agent: QuillaneTool/050702\n" : "") +
         "Connection: close\nContent-Type: multipart/form-data; boundary=------AaXx00\n"
         "Content-Length: " + length + "\n\n"
         "--------AaXx00\nContent-Disposition: form-data; name=\"MAX_FILE_SIZE\"\n\n1048576\n"
         "--------AaXx00\nContent-Disposition: form-data; name=\"frep\"; filename=\"tmp.qlx\"\n"
         "Content-Type: application/octet-stream; Encoding: base64\n\n" + text + "\n--------AaXx00--\n\n";
}
// clang-format on

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override { test::MakeFolder(user_.ReplayPath()); }
  EntryResult Upload(int route, const Bytes& replay, LoopbackPeer& peer) {
    test::WriteAll(user_.ReplayPath(test::ReplayName(route)), replay);
    peer.Start();
    return uploadRecord(route, UserAgent, "127.0.0.1", peer.port());
  }
  test::UserDataFixture user_;
};

TEST_F(UploadTest, RequestGoesOutByteForByteThroughAProxyOrDirect) {
  const std::string text49 =
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\nMA==";
  LoopbackPeer proxied;
  proxied.ReadRequest().Send(kOkReply);
  EXPECT_STREQ(Upload(749, test::Counting(49), proxied), "abc123");
  ASSERT_TRUE(proxied.WaitClosed(5000));
  EXPECT_EQ(proxied.Request(), Request(true, true, "300", text49));
  // The direct form goes to the ranking host; here only its bytes reach the peer.
  for (const bool userAgent : {true, false}) {
    LoopbackPeer peer;
    peer.ReadRequest().Start();
    test::FakeReplay replay(Bytes{0}, 1, false);
    QString body;
    ASSERT_TRUE(BuildEntryBody(replay, body));
    {
      TcpConnection c;
      ASSERT_EQ(openExchange(c, "127.0.0.1", peer.port()), 0);
      EXPECT_TRUE(sendEntryRequest(c, body, userAgent ? UserAgent : nullptr, nullptr));
    }
    ASSERT_TRUE(peer.WaitClosed(5000));
    EXPECT_EQ(peer.Request(), Request(false, userAgent, "235", "AA=="));
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
    EXPECT_TRUE(r == nullptr || r == g_entryId) << c.reply;
    EXPECT_STREQ(r, c.identifier) << c.reply;
  }
  EXPECT_EQ(uploadRecord(710, UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), nullptr);
  // A missing replay or a route outside the forty posts nothing. (The size limit and an
  // empty replay: the entry flow's test; a failing read: the encoder's.)
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  for (const int route : {723, 709}) {
    EXPECT_EQ(uploadRecord(route, UserAgent, "127.0.0.1", peer.port()), nullptr) << route;
  }
  EXPECT_FALSE(peer.Wait(300));
  EXPECT_EQ(TcpConnection::liveCount(), 0);
}

}  // namespace
}  // namespace qlan
