// The record entry upload: the request bytes on the wire, the size limit judged before
// anything is read, the reply scan for the identifier, and every failure as null.
#include "net/upload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings.h"
#include "net/ranking.h"
#include "net/tcp_connection.h"
#include "support/loopback_peer.h"
#include "support/temp_env.h"

namespace qlan {
namespace {

std::string ReplayName(int route) {
  std::string name = "r";
  name += std::to_string(route);
  name += ".replay";
  return name;
}

using Bytes = std::vector<std::uint8_t>;
using test::LoopbackPeer;

constexpr char kOkReply[] = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html>\r\n**ID:abc123\r\n</html>\r\n";

Bytes Counting(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
  return b;
}

std::string Host() { return RankingHost; }

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

std::string Request(const std::string& requestLine, const std::string& userAgentLine,
                    const std::string& contentLength, const std::string& text) {
  return requestLine + "Host: " + Host() + "\n" + userAgentLine +
         "Connection: close\n"
         "Content-Type: multipart/form-data; boundary=------AaXx00\n"
         "Content-Length: " + contentLength + "\n"
         "\n" + Form(text) + "\n\n";
}

// Replay bytes held in memory.
class BytesSource : public ByteSource {
 public:
  explicit BytesSource(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::int64_t size() noexcept override { return static_cast<std::int64_t>(bytes_.size() - at_); }
  std::int32_t read(void* buffer, std::int32_t count) noexcept override {
    const std::size_t n = std::min(bytes_.size() - at_, static_cast<std::size_t>(count));
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<std::int32_t>(n);
  }

 private:
  Bytes bytes_;
  std::size_t at_ = 0;
};

const std::string kProxyLine = "POST http://" + Host() + "/sw/qlan/hsentry/0/ HTTP/1.1\n";
const std::string kDirectLine = "POST /sw/qlan/hsentry/0/ HTTP/1.1\n";
const std::string kAgentLine = "User-Agent: QuillaneTool/050702\n";
const std::string kText49 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v\nMA==";

class UploadTest : public ::testing::Test {
 protected:
  void WriteReplay(int route, const Bytes& bytes) {
    test::WriteAll(user_.ReplayPath(ReplayName(route)), bytes);
  }
  void SetUp() override {
    test::MakeFolder(user_.VendorPath());
    test::MakeFolder(user_.ReplayPath());
  }
  // True when nobody connected to the peer within a short bound.
  static bool NeverConnected(LoopbackPeer& peer) {
    peer.Wait(300);
    return peer.Accepted() == 0;
  }

  test::UserDataFixture user_;
};

TEST_F(UploadTest, OneByteReplayGoesOutByteForByteThroughTheProxy) {
  WriteReplay(710, Bytes{0x00});
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  const EntryResult r = uploadRecord(710, UserAgent, "127.0.0.1", peer.port());
  ASSERT_TRUE(peer.WaitClosed(5000));
  ASSERT_EQ(r, g_entryId);
  EXPECT_STREQ(r, "abc123");
  const std::string sent = peer.Request();
  EXPECT_EQ(sent, Request(kProxyLine, kAgentLine, "235", "AA=="));
  EXPECT_EQ(sent.find('\r'), std::string::npos);
  EXPECT_EQ(Form("AA==").size(), 235u);
}

TEST_F(UploadTest, FortyNineByteReplayTakesTwoTextLines) {
  WriteReplay(749, Counting(49));
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  const EntryResult r = uploadRecord(749, UserAgent, "127.0.0.1", peer.port());
  ASSERT_TRUE(peer.WaitClosed(5000));
  ASSERT_EQ(r, g_entryId);
  EXPECT_EQ(peer.Request(), Request(kProxyLine, kAgentLine, "300", kText49));
}

TEST_F(UploadTest, DirectFormAndMissingUserAgentChangeOnlyTheirLines) {
  BytesSource replay(Counting(49));
  QString body;
  ASSERT_TRUE(BuildEntryBody(replay, body));
  EXPECT_EQ(std::string(body.text()), Form(kText49));
  EXPECT_EQ(body.length(), 300);

  for (const char* agent : {UserAgent, static_cast<const char*>(nullptr)}) {
    LoopbackPeer peer;
    peer.ReadRequest().Start();
    {
      TcpConnection connection;
      ASSERT_EQ(connection.resolve("127.0.0.1", peer.port()), 0);
      ASSERT_EQ(connection.connectToPeer(), 0);
      EXPECT_TRUE(sendEntryRequest(connection, body, agent, nullptr));
    }
    ASSERT_TRUE(peer.WaitClosed(5000));
    EXPECT_EQ(peer.Request(), Request(kDirectLine, agent ? kAgentLine : "", "300", kText49));
  }
}

TEST_F(UploadTest, OneByteReplayDirectForm) {
  BytesSource replay(Bytes{0x00});
  QString body;
  ASSERT_TRUE(BuildEntryBody(replay, body));
  LoopbackPeer peer;
  peer.ReadRequest().Start();
  {
    TcpConnection connection;
    ASSERT_EQ(connection.resolve("127.0.0.1", peer.port()), 0);
    ASSERT_EQ(connection.connectToPeer(), 0);
    EXPECT_TRUE(sendEntryRequest(connection, body, UserAgent, nullptr));
  }
  ASSERT_TRUE(peer.WaitClosed(5000));
  EXPECT_EQ(peer.Request(), Request(kDirectLine, kAgentLine, "235", "AA=="));
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
  const std::string head = kProxyLine + "Host: " + Host() + "\n" + kAgentLine +
                           "Connection: close\n"
                           "Content-Type: multipart/form-data; boundary=------AaXx00\n"
                           "Content-Length: 4194534\n\n";
  ASSERT_EQ(sent.size(), head.size() + 4194534u + 2u);
  EXPECT_EQ(sent.substr(0, head.size()), head);
  EXPECT_EQ(sent.substr(sent.size() - 19), "\n--------AaXx00--\n\n");
}

TEST_F(UploadTest, OneByteMoreIsTooLargeBeforeAnyConnection) {
  WriteReplay(721, Bytes(3097333, 0x41));
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  EXPECT_EQ(uploadRecord(721, UserAgent, "127.0.0.1", peer.port()), kEntryTooLarge);
  EXPECT_TRUE(NeverConnected(peer));
  // Not even a name is looked up: an unresolvable proxy does not change the result.
  EXPECT_EQ(uploadRecord(721, UserAgent, test::kUnresolvableHost, 8080), kEntryTooLarge);
}

TEST_F(UploadTest, EmptyOrMissingReplayFailsWithoutConnection) {
  WriteReplay(722, Bytes{});
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  EXPECT_EQ(uploadRecord(722, UserAgent, "127.0.0.1", peer.port()), nullptr);
  EXPECT_EQ(uploadRecord(723, UserAgent, "127.0.0.1", peer.port()), nullptr);
  EXPECT_EQ(uploadRecord(709, UserAgent, "127.0.0.1", peer.port()), nullptr);
  EXPECT_TRUE(NeverConnected(peer));
}

TEST_F(UploadTest, UnusableReplayFolderFails) {
  WriteReplay(710, Bytes{1, 2, 3});
  test::ScopedEnv noAppData("APPDATA", "", true);
  EXPECT_EQ(uploadRecord(710, UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), nullptr);
}

// Delivers one chunk, then the read fails.
class FailingSource : public ByteSource {
 public:
  std::int64_t size() noexcept override { return 3 * std::int64_t{kBase64ChunkSize}; }
  std::int32_t read(void* buffer, std::int32_t count) noexcept override {
    if (reads_++ > 0) return -1;
    std::memset(buffer, 0x33, static_cast<std::size_t>(count));
    return count;
  }

 private:
  int reads_ = 0;
};

TEST_F(UploadTest, ReadFailureInTheMiddleSendsNothing) {
  LoopbackPeer peer;
  peer.ReadRequest().Send(kOkReply).Start();
  FailingSource source;
  EXPECT_EQ(postReplayFrom(source, UserAgent, "127.0.0.1", peer.port()), nullptr);
  EXPECT_TRUE(NeverConnected(peer));
}

// Announces a size and must never be read.
class UnreadSource : public ByteSource {
 public:
  explicit UnreadSource(std::int64_t size) : size_(size) {}
  std::int64_t size() noexcept override { return size_; }
  std::int32_t read(void*, std::int32_t) noexcept override {
    ++reads;
    return -1;
  }
  int reads = 0;

 private:
  std::int64_t size_;
};

TEST_F(UploadTest, SizeAloneDecidesBeforeAnyRead) {
  for (const std::int64_t size : {std::int64_t{3097333}, std::int64_t{1} << 40, INT64_MAX}) {
    UnreadSource source(size);
    EXPECT_EQ(postReplayFrom(source, UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), kEntryTooLarge)
        << size;
    EXPECT_EQ(source.reads, 0);
  }
  for (const std::int64_t size : {std::int64_t{0}, std::int64_t{-1}}) {
    UnreadSource source(size);
    EXPECT_EQ(postReplayFrom(source, UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), nullptr);
    EXPECT_EQ(source.reads, 0);
  }
}

TEST_F(UploadTest, ReplayThatCannotBeReadFails) {
  const std::string path = user_.ReplayPath("r730.replay");
  test::WriteAll(path, Counting(100));
  ScopedFile writeOnly(FileOpen(path.c_str(), kFileWrite));
  ASSERT_TRUE(writeOnly.valid());
  EXPECT_EQ(postReplay(writeOnly.get(), UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), nullptr);
}

struct ReplyCase {
  const char* name;
  std::string reply;
  bool reset;
  const char* identifier;  // null: the upload fails
};

TEST_F(UploadTest, RepliesDecideTheResult) {
  const std::vector<ReplyCase> cases = {
      {"marker with CR LF", "HTTP/1.1 200 OK\n\n**ID:Z9\r\n", false, "Z9"},
      {"HTTP/1.0 accepted", "HTTP/1.0 200 OK\r\n\r\n**ID:q\n", false, "q"},
      {"empty identifier", "HTTP/1.1 200 OK\r\n\r\n**ID:\r\n", false, ""},
      {"marker at the very end", "HTTP/1.1 200 OK\r\n\r\nx\n**ID:last", false, "last"},
      {"no marker", "HTTP/1.1 200 OK\r\n\r\n<html>ID: 5</html>\r\n", false, nullptr},
      {"empty body", "HTTP/1.1 200 OK\r\n\r\n", false, nullptr},
      {"not found", "HTTP/1.1 404 Not Found\r\n\r\n**ID:x\n", false, nullptr},
      {"redirect", "HTTP/1.1 302 Found\r\nLocation: /\r\n\r\n", false, nullptr},
      {"lower-case status", "http/1.1 200 OK\r\n\r\n**ID:x\n", false, nullptr},
      {"nothing at all", "", false, nullptr},
      {"cut inside the head", "HTTP/1.1 200 OK\r\nServer: x\r\n", false, nullptr},
      {"reset inside the body", "HTTP/1.1 200 OK\r\n\r\n<html>\r\n", true, nullptr},
  };
  WriteReplay(710, Bytes{'q', 'l'});
  for (const ReplyCase& c : cases) {
    LoopbackPeer peer;
    peer.ReadRequest().Send(c.reply);
    if (c.reset) peer.Pause(100).Reset();
    peer.Start();
    std::strcpy(g_entryId, "stale");
    const EntryResult r = uploadRecord(710, UserAgent, "127.0.0.1", peer.port());
    EXPECT_TRUE(peer.WaitClosed(5000)) << c.name;
    if (c.identifier == nullptr) {
      EXPECT_EQ(r, nullptr) << c.name;
    } else {
      ASSERT_EQ(r, g_entryId) << c.name;
      EXPECT_STREQ(r, c.identifier) << c.name;
    }
  }
}

TEST_F(UploadTest, UnreachableOrUnknownPeerFails) {
  WriteReplay(710, Bytes{1});
  EXPECT_EQ(uploadRecord(710, UserAgent, "127.0.0.1", LoopbackPeer::ClosedPort()), nullptr);
  EXPECT_EQ(uploadRecord(710, UserAgent, test::kUnresolvableHost, 8080), nullptr);
  EXPECT_EQ(uploadRecord(710, UserAgent, "127.0.0.1", 0), nullptr);
  EXPECT_EQ(uploadRecord(710, UserAgent, "127.0.0.1", 65536), nullptr);
  EXPECT_EQ(TcpConnection::liveCount(), 0);
}

// The reply scan over scripted line pieces.
struct ScanResult {
  int found;
  std::string identifier;
};

ScanResult Scan(const std::vector<std::string>& pieces, int failAt = -1) {
  std::size_t next = 0;
  char buffer[kLineBufferSize];
  const int found = ScanForEntryId(
      [&](char* line, int size) noexcept -> int {
        if (static_cast<int>(next) == failAt) return -1;
        if (next >= pieces.size()) {
          line[0] = '\0';
          return 0;
        }
        const std::string& p = pieces[next++];
        const std::size_t n = std::min(p.size(), static_cast<std::size_t>(size - 1));
        std::memcpy(line, p.data(), n);
        line[n] = '\0';
        return static_cast<int>(n);
      },
      buffer);
  return ScanResult{found, found == 1 ? std::string(buffer) : std::string()};
}

TEST(EntryReplyScanTest, MarkerLineGivesTheIdentifierWithoutItsLineEnd) {
  EXPECT_EQ(Scan({"<p>\r\n", "**ID:abc123\r\n", "rest\n"}).identifier, "abc123");
  EXPECT_EQ(Scan({"**ID:abc\n"}).identifier, "abc");
  EXPECT_EQ(Scan({"**ID:abc"}).identifier, "abc");
}

TEST(EntryReplyScanTest, BlanksAroundTheIdentifierStay) {
  const ScanResult r = Scan({"**ID: abc \r\n"});
  EXPECT_EQ(r.found, 1);
  EXPECT_EQ(r.identifier, " abc ");
}

TEST(EntryReplyScanTest, NothingAfterTheMarkerIsAnEmptyIdentifier) {
  const ScanResult r = Scan({"**ID:\r\n"});
  EXPECT_EQ(r.found, 1);
  EXPECT_EQ(r.identifier, "");
  EXPECT_EQ(Scan({"**ID:\t\x01\r\n"}).identifier, "");
}

TEST(EntryReplyScanTest, OnlyControlBytesAreStrippedFromTheEnd) {
  EXPECT_EQ(Scan({"**ID:ab\xE3\x81\x82\r\n"}).identifier, "ab\xE3\x81\x82");
  EXPECT_EQ(Scan({"**ID:ab\xFF\n"}).identifier, "ab\xFF");
  EXPECT_EQ(Scan({"**ID:ab\x7F\n"}).identifier, "ab\x7F");
  EXPECT_EQ(Scan({"**ID:a\tb\t\x1F\n"}).identifier, "a\tb");
}

TEST(EntryReplyScanTest, MarkerElsewhereThanTheLineStartIsSkipped) {
  EXPECT_EQ(Scan({" **ID:x\n", "x**ID:y\n", "*ID:z\n", "**id:w\n"}).found, 0);
  EXPECT_EQ(Scan({" **ID:x\n", "**ID:real\n"}).identifier, "real");
}

TEST(EntryReplyScanTest, FirstOfTwoMarkersCounts) {
  EXPECT_EQ(Scan({"**ID:first\n", "**ID:second\n"}).identifier, "first");
}

TEST(EntryReplyScanTest, ReplyWithoutMarkerFindsNothing) {
  EXPECT_EQ(Scan({}).found, 0);
  EXPECT_EQ(Scan({"<html>\n", "</html>\n"}).found, 0);
}

TEST(EntryReplyScanTest, ContinuationOfALongLineIsNotALineStart) {
  const std::string longPiece(kLineBufferSize - 1, 'x');
  EXPECT_EQ(Scan({longPiece, "**ID:inside\n", "**ID:own\n"}).identifier, "own");
}

TEST(EntryReplyScanTest, ReceiveErrorIsReported) {
  EXPECT_EQ(Scan({"<html>\n", "**ID:x\n"}, 1).found, -1);
}

}  // namespace
}  // namespace qlan
