// The record entry upload: the request bytes, the size limit judged before anything is
// read, the reply read by its status alone and scanned for the identifier.
#include "net/upload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

TEST_F(UploadTest, LargestReplayIsPostedAndOneByteMoreIsTooLargeUnread) {
  Bytes big(3097332);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + 3);
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply);
  EXPECT_STREQ(Upload(720, big, peer), "abc123");
  ASSERT_TRUE(peer.WaitClosed(10000));
  const std::string sent = peer.Request(), empty = Request(true, true, "4194534", "");
  EXPECT_EQ(sent.size(), empty.size() + 4194303u);
  EXPECT_EQ(sent.substr(0, empty.size() - 19), empty.substr(0, empty.size() - 19));
  const std::int64_t chunk = kBase64ChunkSize;
  const struct {
    std::int64_t size, good;
    EntryResult result;
  } cases[] = {{3097333, 0, kEntryTooLarge},  // judged from the size alone: never read
               {INT64_MAX, 0, kEntryTooLarge},
               {0, 0, nullptr},
               {3 * chunk, chunk, nullptr}};  // a read fails in the middle: nothing is posted
  for (const auto& c : cases) {
    test::FakeReplay source(Bytes(static_cast<std::size_t>(c.good), 0x33), c.size, true);
    EXPECT_EQ(postReplayFrom(source, UserAgent, "127.0.0.1", peer.port()), c.result) << c.size;
    EXPECT_EQ(source.reads, c.good > 0 ? 2 : 0) << c.size;
  }
  EXPECT_EQ(peer.Accepted(), 1);
  EXPECT_EQ(uploadRecord(723, UserAgent, "127.0.0.1", peer.port()), nullptr);  // missing
  EXPECT_EQ(uploadRecord(709, UserAgent, "127.0.0.1", peer.port()), nullptr);  // no route
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
      {ok + "\r\n<html>ID: 5 **ID:x</html>\r\n", false, nullptr},
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

TEST(EntryReplyScanTest, MarkerLinesAndWhatIsLeftOfThem) {
  const std::string longPiece(kLineBufferSize - 1, 'x');
  const struct {
    std::vector<std::string> pieces;
    int found;  // -1: the second receive fails
    const char* identifier;
  } cases[] = {{{"**ID: a\xE3\x81\x82\x7F\r\n"}, 1, " a\xE3\x81\x82\x7F"},  // only control bytes go
               {{"**ID:a\tb\t\x1F"}, 1, "a\tb"},
               {{" **ID:x\n", "*ID:z\n", "**id:w\n", "**ID:first\n", "**ID:second\n"}, 1, "first"},
               {{longPiece, "**ID:inside\n", "**ID:own\n"}, 1, "own"},  // continuation of a line
               {{"<html>\n"}, 0, nullptr},
               {{"<html>\n", "**ID:x\n"}, -1, nullptr}};
  for (const auto& c : cases) {
    std::size_t next = 0;
    char buffer[kLineBufferSize];
    const auto receive = [&](char* line, int size) noexcept -> int {
      if (c.found < 0 && next == 1) return -1;
      if (next >= c.pieces.size()) return 0;
      const std::string& p = c.pieces[next++];
      const auto n = std::min(p.size(), static_cast<std::size_t>(size - 1));
      std::memcpy(line, p.data(), n);
      line[n] = '\0';
      return static_cast<int>(n);
    };
    EXPECT_EQ(ScanForEntryId(receive, buffer), c.found) << c.pieces[0].substr(0, 20);
    if (c.identifier != nullptr) {
      EXPECT_STREQ(buffer, c.identifier);
    }
  }
}

}  // namespace
}  // namespace qlan
