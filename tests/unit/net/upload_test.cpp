// The record entry upload: the request bytes, the size limit judged before anything is
// read, the reply read by its status alone and scanned for the identifier.
#include "net/upload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net/ranking.h"
#include "net_test_support.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::Bytes;
using test::LoopbackPeer;

constexpr char kOkReply[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<p>\r\n**ID:abc123\r\n";

std::string Request(bool proxy, bool userAgent, const std::string& length,
                    const std::string& text) {
  return std::string("POST ") + (proxy ? std::string("http://") + RankingHost : "") +
         "/sw/qlan/hsentry/0/ HTTP/1.1\nHost: " + RankingHost + "\n" +
         (userAgent ? "User-Agent: QuillaneTool/050702\n" : "") +
         "Connection: close\nContent-Type: multipart/form-data; boundary=------AaXx00\n"
         "Content-Length: " +
         length +
         "\n\n"
         "--------AaXx00\nContent-Disposition: form-data; name=\"MAX_FILE_SIZE\"\n\n1048576\n"
         "--------AaXx00\nContent-Disposition: form-data; name=\"frep\"; filename=\"tmp.qlx\"\n"
         "Content-Type: application/octet-stream; Encoding: base64\n\n" +
         text + "\n--------AaXx00--\n\n";
}

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

TEST_F(UploadTest, SizeOrReadFailureDecidesBeforeAnyConnection) {
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  const std::int64_t chunk = kBase64ChunkSize;
  const struct {
    std::int64_t size, good;
    EntryResult result;
  } cases[] = {{3097333, 0, kEntryTooLarge},  // one byte too many, judged from the size alone
               {INT64_MAX, 0, kEntryTooLarge},
               {0, 0, nullptr},
               {3 * chunk, chunk, nullptr}};  // a read fails in the middle: nothing is posted
  for (const auto& c : cases) {
    test::FakeReplay source(Bytes(static_cast<std::size_t>(c.good), 0x33), c.size, true);
    EXPECT_EQ(postReplayFrom(source, UserAgent, "127.0.0.1", peer.port()), c.result) << c.size;
    EXPECT_EQ(source.reads, c.good > 0 ? 2 : 0) << c.size;
  }
  EXPECT_EQ(uploadRecord(723, UserAgent, "127.0.0.1", peer.port()), nullptr);  // missing
  EXPECT_EQ(uploadRecord(709, UserAgent, "127.0.0.1", peer.port()), nullptr);  // no route
  EXPECT_FALSE(peer.Wait(300));
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
  EXPECT_EQ(TcpConnection::liveCount(), 0);
}

}  // namespace
}  // namespace qlan
