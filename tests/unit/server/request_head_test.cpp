// Finding, checking and rewriting request heads (LF or CR LF, origin or absolute form).
#include "server/request_head.h"

#include <gtest/gtest.h>

#include <tuple>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

TEST(RequestHead, FindsTheEndOfLfAndCrLfHeadsWithinTheLimit) {
  const std::string big = "GET / HTTP/1.1\nX: " + std::string(kMaxHeadBytes, 'a') + "\n\n";
  const struct {
    std::string data;
    HeadScan scan;
    std::size_t end;
  } cases[] = {
      {"GET / HTTP/1.1\nHost: h\n\nBODY", HeadScan::kComplete, 24},
      {"GET / HTTP/1.1\r\nHost: h\r\n\r\nBODY", HeadScan::kComplete, 27},
      // The tool's two extra LFs after a body must not read as an empty head.
      {"\n\r\n\nGET / HTTP/1.1\n\nX", HeadScan::kComplete, 20},
      {"\n\n", HeadScan::kNeedMore, 0},
      {std::string(kMaxHeadBytes - 1, 'a'), HeadScan::kNeedMore, 0},
      {std::string(kMaxHeadBytes, 'a'), HeadScan::kTooLarge, 0},
      {big, HeadScan::kTooLarge, 0},
  };
  for (const auto& c : cases) {
    std::size_t end = 0;
    ASSERT_EQ(FindHeadEnd(c.data, &end), c.scan) << c.data.substr(0, 40);
    EXPECT_EQ(c.scan == HeadScan::kComplete ? end : 0u, c.end) << c.data;
  }
  NormalizedHead head;
  EXPECT_EQ(NormalizeRequestHead("\n\r\n\nGET / HTTP/1.1\n\n", 100, &head), Outcome::kOk);
  EXPECT_EQ(head.target, "/");
}

TEST(RequestHead, ReadsTargetsInBothFormsAndWhetherTheConnectionStays) {
  NormalizedHead head;
  const struct {
    const char* head;
    const char* target;
    bool absolute;
    bool keepAlive;
  } cases[] = {
      {"GET http://ranking.quillane.example/sw/qlan/score.dat HTTP/1.1\n\n", "/sw/qlan/score.dat",
       true, true},
      {"GET HTTP://h:8080/sw/qlan/hsentry/1/?UNIQUE_ID=abc HTTP/1.1\r\n\r\n",
       "/sw/qlan/hsentry/1/?UNIQUE_ID=abc", true, true},
      {"GET http://h HTTP/1.1\nConnection: close\n\n", "/", true, false},
      {"GET http://h?x=1 HTTP/1.0\n\n", "/?x=1", true, false},
      {"GET / HTTP/1.0\nConnection: Keep-Alive\nX-Real-IP: 192.0.2.1\n\n", "/", false, true},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(NormalizeRequestHead(c.head, 0, &head), Outcome::kOk) << c.head;
    EXPECT_EQ(std::tuple(head.target, head.absoluteForm, head.keepAlive, head.realIp),
              std::tuple(c.target, c.absolute, c.keepAlive, c.absolute ? "" : "192.0.2.1"))
        << c.head;
  }
}

TEST(RequestHead, AnswersBadHeadsWithTheirStatus) {
  std::string manyLines = "GET / HTTP/1.1\n";
  for (std::size_t i = 0; i <= kMaxHeaderLines; ++i) manyLines += "X-A: 1\n";
  const std::pair<int, std::string> groups[] = {
      {200,
       "GET / HTTP/1.1\n\n|POST / HTTP/1.1\nContent-Length: 10\n\n|"
       "POST / HTTP/1.1\nContent-Length: 5\nContent-Length: 5\n\n"},
      {400,
       "GET /\n\n|GET  / HTTP/1.1\n\n|GET / HTTP/1.1 \n\n|G(T / HTTP/1.1\n\n|"
       "GET / FTP/1.0\n\n|GET relative HTTP/1.1\n\n|GET http:///x HTTP/1.1\n\n|"
       "GET /\x01 HTTP/1.1\n\n|GET / HTTP/1.1\nNoColon\n\n|GET / HTTP/1.1\n: empty\n\n|"
       "GET / HTTP/1.1\nBad Name: x\n\n|GET / HTTP/1.1\nX: a\n folded\n\n|"
       "GET / HTTP/1.1\nX: a\x01z\n\n|POST / HTTP/1.1\nContent-Length: -1\n\n|"
       "POST / HTTP/1.1\nContent-Length: 1x\n\n|"
       "POST / HTTP/1.1\nContent-Length: 99999999999999999999\n\n|"
       "POST / HTTP/1.1\nContent-Length: 5\nContent-Length: 6\n\n"},
      {411, "POST / HTTP/1.1\n\n"},
      {413, "POST / HTTP/1.1\nContent-Length: 11\n\n"},
      {414, "GET /" + std::string(kMaxTargetLength, 'a') + " HTTP/1.1\n\n"},
      {431, manyLines + "\n"},
      {501, "POST / HTTP/1.1\nTransfer-Encoding: chunked\n\n"},
      {505, "GET / HTTP/2.0\n\n"},
  };
  for (const auto& [status, joined] : groups) {
    for (const std::string& raw : test::Cases(joined)) {
      NormalizedHead head;
      EXPECT_EQ(HttpStatus(NormalizeRequestHead(raw, 10, &head)), status) << raw;
    }
  }
}

}  // namespace
}  // namespace qlan::server
