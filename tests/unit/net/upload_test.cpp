// The record entry upload: the request bytes on the wire, the size limit judged before
// anything is read, the reply scan for the identifier, and every failure as null.
#include "net/upload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "net/ranking.h"
#include "net_test_support.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

using test::Bytes;
using test::Counting;
using test::FakeReplay;
using test::LoopbackPeer;

constexpr char kOkReply[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html>\r\n**ID:abc123\r\n</html>\r\n";
const std::string kText49 =
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\nMA==";

// The form around a Base64 text, as the server expects it.
std::string Form(const std::string& text) {
  return "--------AaXx00\n"
         "Content-Disposition: form-data; name=\"MAX_FILE_SIZE\"\n"
         "\n"
         "1048576\n"
         "--------AaXx00\n"
         "Content-Disposition: form-data; name=\"frep\"; filename=\"tmp.qlx\"\n"
         "Content-Type: application/octet-stream; Encoding: base64\n"
         "\n" +
         text + "\n--------AaXx00--";
}

std::string Head(bool proxy, bool userAgent, const std::string& contentLength) {
  return std::string("POST ") + (proxy ? std::string("http://") + RankingHost : "") +
         "/sw/qlan/hsentry/0/ HTTP/1.1\nHost: " + RankingHost + "\n" +
         (userAgent ? "User-Agent: QuillaneTool/050702\n" : "") +
         "Connection: close\n"
         "Content-Type: multipart/form-data; boundary=------AaXx00\n"
         "Content-Length: " +
         contentLength + "\n\n";
}

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeFolder(user_.VendorPath());
    test::MakeFolder(user_.ReplayPath());
  }
  void WriteReplay(int route, const Bytes& bytes) {
    test::WriteAll(user_.ReplayPath(test::ReplayName(route)), bytes);
  }

  test::UserDataFixture user_;
};

TEST_F(UploadTest, RequestGoesOutByteForByteThroughAProxyOrDirect) {
  const struct {
    Bytes replay;
    bool proxy;
    bool userAgent;
    const char* length;
    std::string text;
  } cases[] = {
      {Bytes{0x00}, true, true, "235", "AA=="},     {Counting(49), true, true, "300", kText49},
      {Bytes{0x00}, false, true, "235", "AA=="},    {Counting(49), false, true, "300", kText49},
      {Counting(49), false, false, "300", kText49},
  };
  EXPECT_EQ(Form("AA==").size(), 235u);
  for (const auto& c : cases) {
    LoopbackPeer peer;
    // A reply to a client that has gone would reset the connection before the peer has
    // read the last bytes: only the whole upload gets one.
    peer.ReadRequest().Send(c.proxy ? kOkReply : "").Start();
    if (c.proxy) {
      // The whole upload, with the peer as the proxy.
      WriteReplay(749, c.replay);
      const EntryResult r = uploadRecord(749, UserAgent, "127.0.0.1", peer.port());
      ASSERT_EQ(r, g_entryId);
      EXPECT_STREQ(r, "abc123");
    } else {
      // The direct form goes to the ranking host; here only its bytes reach the peer.
      FakeReplay replay(c.replay, static_cast<std::int64_t>(c.replay.size()), false);
      QString body;
      ASSERT_TRUE(BuildEntryBody(replay, body));
      TcpConnection connection;
      ASSERT_EQ(connection.resolve("127.0.0.1", peer.port()), 0);
      ASSERT_EQ(connection.connectToPeer(), 0);
      EXPECT_TRUE(sendEntryRequest(connection, body, c.userAgent ? UserAgent : nullptr, nullptr));
    }
    ASSERT_TRUE(peer.WaitClosed(5000));
    EXPECT_EQ(peer.Request(), Head(c.proxy, c.userAgent, c.length) + Form(c.text) + "\n\n");
  }
}

TEST_F(UploadTest, LargestReplayIsPosted) {
  Bytes big(3097332);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + 3);
  WriteReplay(720, big);
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  const EntryResult r = uploadRecord(720, UserAgent, "127.0.0.1", peer.port());
  ASSERT_TRUE(peer.WaitClosed(10000));
  ASSERT_EQ(r, g_entryId);
  const std::string sent = peer.Request();
  const std::string head = Head(true, true, "4194534");
  ASSERT_EQ(sent.size(), head.size() + 4194534u + 2u);
  EXPECT_EQ(sent.substr(0, head.size()), head);
  EXPECT_EQ(sent.substr(sent.size() - 19), "\n--------AaXx00--\n\n");
}

TEST_F(UploadTest, SizeOrReadFailureDecidesBeforeAnyConnectionAndNoPeerIsNull) {
  const std::int64_t chunk = kBase64ChunkSize;
  const struct {
    std::int64_t size, good;
    EntryResult result;
  } cases[] = {
      {3097333, 0, kEntryTooLarge},  // judged from the size alone: never read
      {std::int64_t{1} << 40, 0, kEntryTooLarge},
      {INT64_MAX, 0, kEntryTooLarge},
      {0, 0, nullptr},
      {-1, 0, nullptr},
      {3 * chunk, chunk, nullptr},  // a read fails in the middle: nothing is posted
  };
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  for (const auto& c : cases) {
    FakeReplay source(Bytes(static_cast<std::size_t>(c.good), 0x33), c.size, true);
    EXPECT_EQ(postReplayFrom(source, UserAgent, "127.0.0.1", peer.port()), c.result) << c.size;
    EXPECT_EQ(source.reads, c.good > 0 ? 2 : 0) << c.size;
  }
  WriteReplay(722, Bytes{});
  EXPECT_EQ(uploadRecord(722, UserAgent, "127.0.0.1", peer.port()), nullptr);  // empty
  EXPECT_EQ(uploadRecord(723, UserAgent, "127.0.0.1", peer.port()), nullptr);  // missing
  EXPECT_EQ(uploadRecord(709, UserAgent, "127.0.0.1", peer.port()), nullptr);  // no route
  peer.Wait(300);
  EXPECT_EQ(peer.Accepted(), 0);
  WriteReplay(710, Bytes{1});  // a peer that cannot be reached
  EXPECT_EQ(uploadRecord(710, UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), nullptr);
  EXPECT_EQ(TcpConnection::liveCount(), 0);
}

TEST_F(UploadTest, RepliesDecideTheResult) {
  const struct {
    const char* name;
    std::string reply;
    bool reset;
    const char* identifier;  // null: the upload fails
  } cases[] = {
      {"marker with CR LF", "HTTP/1.1 200 OK\n\n**ID:Z9\r\n", false, "Z9"},
      {"no marker", "HTTP/1.1 200 OK\r\n\r\n<html>ID: 5</html>\r\n", false, nullptr},
      {"not found", "HTTP/1.1 404 Not Found\r\n\r\n**ID:x\n", false, nullptr},
      {"reset inside the body", "HTTP/1.1 200 OK\r\n\r\n<html>\r\n", true, nullptr},
  };
  WriteReplay(710, Bytes{'q', 'l'});
  for (const auto& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(c.reply);
    if (c.reset) peer.Pause(100).Reset();
    peer.Start();
    std::strcpy(g_entryId, "stale");
    const EntryResult r = uploadRecord(710, UserAgent, "127.0.0.1", peer.port());
    EXPECT_TRUE(peer.WaitClosed(5000)) << c.name;
    EXPECT_TRUE(r == nullptr || r == g_entryId) << c.name;
    EXPECT_STREQ(r, c.identifier) << c.name;
  }
}

TEST(EntryReplyScanTest, MarkerLinesAndWhatIsLeftOfThem) {
  const std::string longPiece(kLineBufferSize - 1, 'x');
  const struct {
    std::vector<std::string> pieces;
    int failAt;  // the call that fails (-1: none)
    int found;
    const char* identifier;
  } cases[] = {
      {{"<p>\r\n", "**ID:abc123\r\n", "rest\n"}, -1, 1, "abc123"},
      {{"**ID:abc"}, -1, 1, "abc"},
      {{"**ID: abc \r\n"}, -1, 1, " abc "},  // blanks stay
      {{"**ID:\r\n"}, -1, 1, ""},
      // Only control bytes are stripped from the end.
      {{"**ID:ab\xE3\x81\x82\r\n"}, -1, 1, "ab\xE3\x81\x82"},
      {{"**ID:ab\x7F\n"}, -1, 1, "ab\x7F"},
      {{"**ID:a\tb\t\x1F\n"}, -1, 1, "a\tb"},
      // Only at the start of a line, and the first one counts.
      {{" **ID:x\n", "x**ID:y\n", "*ID:z\n", "**id:w\n"}, -1, 0, nullptr},
      {{" **ID:x\n", "**ID:real\n"}, -1, 1, "real"},
      {{"**ID:first\n", "**ID:second\n"}, -1, 1, "first"},
      {{longPiece, "**ID:inside\n", "**ID:own\n"}, -1, 1, "own"},  // continuation of a line
      {{}, -1, 0, nullptr},
      {{"<html>\n", "**ID:x\n"}, 1, -1, nullptr},
  };
  for (const auto& c : cases) {
    std::size_t next = 0;
    char buffer[kLineBufferSize];
    const int found = ScanForEntryId(
        [&](char* line, int size) noexcept -> int {
          if (static_cast<int>(next) == c.failAt) return -1;
          if (next >= c.pieces.size()) return 0;
          const std::string& p = c.pieces[next++];
          const std::size_t n = std::min(p.size(), static_cast<std::size_t>(size - 1));
          std::memcpy(line, p.data(), n);
          line[n] = '\0';
          return static_cast<int>(n);
        },
        buffer);
    const std::string first = c.pieces.empty() ? "" : c.pieces[0].substr(0, 20);
    EXPECT_EQ(found, c.found) << first;
    if (c.identifier != nullptr) {
      EXPECT_STREQ(buffer, c.identifier) << first;
    }
  }
}

}  // namespace
}  // namespace qlan
