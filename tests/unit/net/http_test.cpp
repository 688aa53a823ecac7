// The proxy settings check, the choice of peer, the request head and its send rule, and
// the reading and judging of response heads.
#include "net/http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "app/settings.h"
#include "net/ranking.h"
#include "support/fake_window.h"
#include "support/loopback_peer.h"

namespace qlan {
namespace {

using test::FakeWindow;
using test::LoopbackPeer;

constexpr Timeouts kTestTimeouts{2000, 2000};
constexpr char kAddressMessage[] =
    "プロキシを使うように指定されていますが、プロキシアドレスが記入されていません。";
constexpr char kPortMessage[] =
    "プロキシのポート指定が不正です。\nポートは1から65535の間で指定してください。";

// Expected bytes below name the default host; a build with another host skips them.
bool DefaultHost() { return std::string(RankingHost) == "ranking.quillane.example"; }

class SettingsGuard {
 public:
  SettingsGuard() : saved_(g_settings) { ResetSettings(g_settings); }
  ~SettingsGuard() { g_settings = saved_; }

 private:
  Settings saved_;
};

void UseProxy(const char* address, std::int32_t port) {
  g_settings.flags |= kFlagUseProxy;
  std::memset(g_settings.proxyAddress, 0, sizeof g_settings.proxyAddress);
  std::memcpy(g_settings.proxyAddress, address, std::strlen(address));
  g_settings.proxyPort = port;
}

// A connection to the peer, made the way an exchange through a proxy makes it.
std::unique_ptr<TcpConnection> Open(const LoopbackPeer& peer, Timeouts timeouts = kTestTimeouts) {
  auto c = std::make_unique<TcpConnection>();
  c->setTimeouts(timeouts);
  EXPECT_EQ(openExchange(*c, "127.0.0.1", peer.port()), 0);
  return c;
}

// --- Proxy settings check --------------------------------------------------------------

TEST(ProxyCheck, NoProxyPassesNothingAndShowsNothing) {
  SettingsGuard guard;
  g_settings.proxyPort = 0;
  FakeWindow window;
  ProxyChoice choice{"stale", 9};
  EXPECT_TRUE(CheckProxySettings(window, "ダウンロード", &choice));
  EXPECT_EQ(choice.proxyAddress, nullptr);
  EXPECT_EQ(choice.proxyPort, 0);
  EXPECT_TRUE(window.messages.empty());
}

TEST(ProxyCheck, EmptyAddressIsReportedWithTheFlowsCaption) {
  SettingsGuard guard;
  UseProxy("", 8080);
  FakeWindow window;
  ProxyChoice choice;
  EXPECT_FALSE(CheckProxySettings(window, "エントリー", &choice));
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0].text, kAddressMessage);
  EXPECT_EQ(window.messages[0].caption, "エントリー");
  EXPECT_EQ(window.messages[0].style, kMbIconHand);
  EXPECT_TRUE(window.messages[0].owned);
}

TEST(ProxyCheck, PortsOutsideOneTo65535AreReported) {
  for (std::int32_t port : {0, 65536, -1, 100000}) {
    SettingsGuard guard;
    UseProxy("proxy.local", port);
    FakeWindow window;
    ProxyChoice choice;
    EXPECT_FALSE(CheckProxySettings(window, "ダウンロード", &choice)) << port;
    ASSERT_EQ(window.messages.size(), 1u) << port;
    EXPECT_EQ(window.messages[0].text, kPortMessage);
    EXPECT_EQ(window.messages[0].caption, "ダウンロード");
    EXPECT_EQ(window.messages[0].style, kMbIconHand);
  }
}

TEST(ProxyCheck, EdgePortsAndBlankAddressPass) {
  for (std::int32_t port : {1, 65535}) {
    SettingsGuard guard;
    UseProxy("   ", port);
    FakeWindow window;
    ProxyChoice choice;
    EXPECT_TRUE(CheckProxySettings(window, "ダウンロード", &choice));
    EXPECT_TRUE(window.messages.empty());
    ASSERT_NE(choice.proxyAddress, nullptr);
    EXPECT_STREQ(choice.proxyAddress, "   ");
    EXPECT_EQ(choice.proxyPort, port);
  }
}

TEST(ProxyCheck, UnterminatedAddressFieldIsCutTo127Bytes) {
  SettingsGuard guard;
  UseProxy("", 8080);
  std::memset(g_settings.proxyAddress, 'p', sizeof g_settings.proxyAddress);
  FakeWindow window;
  ProxyChoice choice;
  ASSERT_TRUE(CheckProxySettings(window, "ダウンロード", &choice));
  EXPECT_EQ(std::string(choice.proxyAddress), std::string(127, 'p'));
}

// --- Peer choice -------------------------------------------------------------------------

TEST(OpenExchange, ProxyPortOutOfRangeIsRefusedBeforeResolving) {
  for (int port : {0, -5, 65536}) {
    TcpConnection c;
    EXPECT_EQ(openExchange(c, "127.0.0.1", port), kBadProxy) << port;
  }
}

TEST(OpenExchange, UnresolvableProxyIsNameNotFound) {
  TcpConnection c;
  EXPECT_EQ(openExchange(c, test::kUnresolvableHost, 8080), kNameNotFound);
}

TEST(OpenExchange, RefusedProxyIsConnectFailure) {
  TcpConnection c;
  c.setTimeouts(kTestTimeouts);
  EXPECT_EQ(openExchange(c, "127.0.0.1", LoopbackPeer::ClosedPort()), kConnectFailed);
}

TEST(OpenExchange, UnansweredProxyIsConnectFailureAfterItsLimit) {
  LoopbackPeer peer(0);
  peer.SaturateBacklog();
  TcpConnection c;
  c.setTimeouts(Timeouts{300, 2000});
  EXPECT_EQ(openExchange(c, "127.0.0.1", peer.port()), kConnectFailed);
}

// --- Request head and send rule ----------------------------------------------------------

TEST(RequestHead, AbsoluteFormWithCrLfThroughAProxy) {
  if (!DefaultHost()) GTEST_SKIP() << "built with another ranking host";
  LoopbackPeer peer;
  peer.ReadRequest();
  peer.Start();
  auto c = Open(peer);
  RequestSender sender(*c);
  sendRequestHead(sender, "GET", "/sw/qlan/score.dat", "127.0.0.1", "QuillaneTool/050702", "\r\n");
  sender.send(std::string_view("\r\n"));
  EXPECT_TRUE(sender.sent());
  ASSERT_TRUE(peer.Wait(5000));
  EXPECT_EQ(peer.Request(),
            "GET http://ranking.quillane.example/sw/qlan/score.dat HTTP/1.1\r\n"
            "Host: ranking.quillane.example\r\n"
            "User-Agent: QuillaneTool/050702\r\n"
            "\r\n");
}

TEST(RequestHead, OriginFormWithBareLfAndNoUserAgent) {
  if (!DefaultHost()) GTEST_SKIP() << "built with another ranking host";
  LoopbackPeer peer;
  peer.ReadRequest();
  peer.Start();
  auto c = Open(peer);
  RequestSender sender(*c);
  sendRequestHead(sender, "POST", "/sw/qlan/hsentry/0/", nullptr, nullptr, "\n");
  sender.send(std::string_view("\n"));
  EXPECT_TRUE(sender.sent());
  ASSERT_TRUE(peer.Wait(5000));
  EXPECT_EQ(peer.Request(),
            "POST /sw/qlan/hsentry/0/ HTTP/1.1\n"
            "Host: ranking.quillane.example\n"
            "\n");
}

TEST(SendRule, NothingOrOnlyEmptyPiecesIsNotSent) {
  LoopbackPeer peer;
  peer.Start();
  auto c = Open(peer);
  RequestSender none(*c);
  EXPECT_FALSE(none.sent());
  RequestSender empty(*c);
  empty.send(std::string_view(""));
  empty.send("", 0);
  EXPECT_FALSE(empty.sent());
}

TEST(SendRule, PieceLargerThanOneSendGoesOutWholeAndCounts) {
  // Far more than one send takes at once: the rest of the piece is sent, not dropped.
  std::string piece(std::size_t{8} << 20, '\0');
  for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>('A' + i % 23);
  LoopbackPeer peer;
  peer.ReadBytes(piece.size() + 2);
  peer.Start();
  auto c = Open(peer, Timeouts{2000, 5000});
  RequestSender sender(*c);
  sender.send(piece.data(), static_cast<int>(piece.size()));
  sender.send(std::string_view("\r\n"));
  EXPECT_TRUE(sender.sent());
  ASSERT_TRUE(peer.Wait(10000));
  EXPECT_TRUE(peer.Request() == piece + "\r\n");
}

TEST(SendRule, AFailedPieceFailsTheRequestAndStopsTheRest) {
  LoopbackPeer peer;
  peer.StopReading(5000);
  peer.Start();
  auto c = Open(peer, Timeouts{2000, 300});
  RequestSender sender(*c);
  sender.send(std::string_view("GET / HTTP/1.1\r\n"));
  const std::string huge(std::size_t{64} << 20, 'h');
  sender.send(huge.data(), static_cast<int>(huge.size()));
  EXPECT_FALSE(sender.sent());
  // Later pieces do not wait out another limit each.
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) sender.send(huge.data(), static_cast<int>(huge.size()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_FALSE(sender.sent());
}

TEST(SendRule, MarkedFailureFailsTheRequest) {
  LoopbackPeer peer;
  peer.ReadBytes(3);
  peer.Start();
  auto c = Open(peer);
  RequestSender sender(*c);
  sender.send(std::string_view("abc"));
  EXPECT_TRUE(sender.sent());
  sender.fail();
  EXPECT_FALSE(sender.sent());
}

// --- Response head -----------------------------------------------------------------------

struct HeadResult {
  int code;
  std::int32_t length;
  bool given;
  std::string statusLine;
  std::string next;  // what the caller reads next (up to 64 bytes)
};

HeadResult ReadHead(LoopbackPeer& peer, Timeouts timeouts = kTestTimeouts) {
  peer.Start();
  auto c = Open(peer, timeouts);
  char status[kLineBufferSize];
  std::memset(status, 0, sizeof status);
  HeadResult r{0, -7, true, {}, {}};
  r.code = readResponseHead(*c, status, &r.length, &r.given);
  r.statusLine = status;
  if (r.code == 0) {
    char block[64];
    const int n = c->receive(block, sizeof block);
    if (n > 0) r.next.assign(block, static_cast<std::size_t>(n));
  }
  return r;
}

TEST(ResponseHead, OkWithLengthLeavesTheBodyForTheCaller) {
  LoopbackPeer peer;
  peer.Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nServer: t\r\n\r\nhello");
  const HeadResult r = ReadHead(peer);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.length, 5);
  EXPECT_TRUE(r.given);
  EXPECT_EQ(r.statusLine, "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(r.next, "hello");
}

TEST(ResponseHead, HeadSplitAtEveryPositionReadsTheSame) {
  const std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  for (std::size_t cut = 1; cut < response.size(); cut += 3) {
    LoopbackPeer peer;
    peer.SendSplit(response, {cut}, 10);
    const HeadResult r = ReadHead(peer);
    EXPECT_EQ(r.code, 0) << cut;
    EXPECT_EQ(r.length, 2) << cut;
    EXPECT_EQ(r.next.substr(0, 2), "ok") << cut;
  }
}

TEST(ResponseHead, SlowHeadIsReadWhole) {
  LoopbackPeer peer;
  peer.SendSlowly("HTTP/1.1 200 OK\nContent-Length: 3\n\nabc", 4, 5);
  const HeadResult r = ReadHead(peer);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.length, 3);
  EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK\n");
}

TEST(ResponseHead, NoLengthLineMeansTheDefaultLength) {
  LoopbackPeer peer;
  peer.Send("HTTP/1.1 200 OK\r\nServer: t\r\n\r\nbody");
  const HeadResult r = ReadHead(peer);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.length, 1048576);
  EXPECT_FALSE(r.given);
}

TEST(ResponseHead, LowerCaseLengthNameIsNotALengthLine) {
  LoopbackPeer peer;
  peer.Send("HTTP/1.1 200 OK\r\ncontent-length: 4\r\n\r\nbody");
  const HeadResult r = ReadHead(peer);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.length, 1048576);
  EXPECT_FALSE(r.given);
}

TEST(ResponseHead, LaterLengthLineOverridesEarlier) {
  LoopbackPeer peer;
  peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length:3\r\n\r\nabc");
  const HeadResult r = ReadHead(peer);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.length, 3);
}

TEST(ResponseHead, LargestLengthIsAccepted) {
  LoopbackPeer peer;
  peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\n");
  const HeadResult r = ReadHead(peer);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.length, 2147483647);
}

TEST(ResponseHead, NegativeHugeOrMissingLengthIsBadResponse) {
  for (const char* value :
       {"-1", "2147483648", "4294967301", "99999999999999999999999", "abc", ""}) {
    LoopbackPeer peer;
    peer.Send(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + value + "\r\n\r\n");
    EXPECT_EQ(ReadHead(peer).code, kBadResponse) << value;
  }
}

TEST(ResponseHead, StatusOtherThan200IsHttpErrorWithTheLineKept) {
  for (const char* line : {"HTTP/1.1 302 Found\r\n", "HTTP/1.1 404 Not Found\r\n",
                           "HTTP/1.1 204 No Content\r\n", "HTTP/1.1\r\n", "HTTP/1.1 abc\r\n"}) {
    LoopbackPeer peer;
    peer.Send(std::string(line) + "\r\n");
    const HeadResult r = ReadHead(peer);
    EXPECT_EQ(r.code, kHttpError) << line;
    EXPECT_EQ(r.statusLine, line);
  }
}

TEST(ResponseHead, StatusCodeIsReadAsANumberAfterTheFirstBlank) {
  LoopbackPeer peer;
  peer.Send("HTTP/1.1   +200OK\r\n\r\n");
  EXPECT_EQ(ReadHead(peer).code, 0);
}

TEST(ResponseHead, StatusLineMustBeginWithUpperCaseHttp) {
  for (const char* response :
       {"http/1.1 200 OK\r\n\r\n", "ICY 200 OK\r\n\r\n", "HTTP\r\n\r\n", "\r\n"}) {
    LoopbackPeer peer;
    peer.Send(response);
    EXPECT_EQ(ReadHead(peer).code, kBadResponse) << response;
  }
}

TEST(ResponseHead, CloseBeforeStatusLineIsNothingReceived) {
  LoopbackPeer peer;
  peer.ReadBytes(0);
  EXPECT_EQ(ReadHead(peer).code, kNothingReceived);
}

TEST(ResponseHead, CloseRightAfterStatusLineIsNothingReceived) {
  LoopbackPeer peer;
  peer.Send("HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(ReadHead(peer).code, kNothingReceived);
}

TEST(ResponseHead, ResetDuringHeaderBlockIsConnectionCut) {
  if (LoopbackPeer::ResetsReadAsClose()) GTEST_SKIP() << "a reset reads as a close here";
  LoopbackPeer peer;
  peer.Send("HTTP/1.1 200 OK\r\nServer: t\r\n").Pause(100).Reset();
  EXPECT_EQ(ReadHead(peer).code, kConnectionCut);
}

TEST(ResponseHead, SilenceIsConnectionCutAfterTheLimit) {
  LoopbackPeer silent;
  silent.Silent(5000);
  EXPECT_EQ(ReadHead(silent, Timeouts{2000, 300}).code, kConnectionCut);
  LoopbackPeer stalls;
  stalls.Send("HTTP/1.1 200 OK\r\nServer: t\r\n").Silent(5000);
  EXPECT_EQ(ReadHead(stalls, Timeouts{2000, 300}).code, kConnectionCut);
}

TEST(ResponseHead, ShortLastPieceOfALongHeaderLineEndsTheBlock) {
  // A 1026-byte header line comes as 1023 bytes and then "x\r\n" (3 bytes), which ends the
  // header block: the Content-Length line after it is left unread.
  const std::string longLine = "X-Long: " + std::string(1023 - 8, 'l') + "x\r\n";
  ASSERT_EQ(longLine.size(), 1026u);
  LoopbackPeer peer;
  peer.Send("HTTP/1.1 200 OK\r\n" + longLine + "Content-Length: 7\r\n\r\n");
  const HeadResult r = ReadHead(peer);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.length, 1048576);
  EXPECT_FALSE(r.given);
  EXPECT_EQ(r.next, "Content-Length: 7\r\n\r\n");
}

TEST(ResponseHead, LongHeaderLineWithLongLastPieceIsSkipped) {
  const std::string longLine = "X-Long: " + std::string(1100, 'l') + "\r\n";
  LoopbackPeer peer;
  peer.Send("HTTP/1.1 200 OK\r\n" + longLine + "Content-Length: 7\r\n\r\n1234567");
  const HeadResult r = ReadHead(peer);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.length, 7);
  EXPECT_EQ(r.next, "1234567");
}

}  // namespace
}  // namespace qlan
