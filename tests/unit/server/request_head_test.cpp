// Finding, checking and rewriting request heads (LF or CR LF, origin or absolute form).
#include "server/request_head.h"

#include <gtest/gtest.h>

#include <string>

namespace qlan::server {
namespace {

TEST(RequestHead, FindsTheEndOfLfAndCrLfHeads) {
  std::size_t end = 0;
  const std::string lf = "GET / HTTP/1.1\nHost: h\n\nBODY";
  ASSERT_EQ(FindHeadEnd(lf, &end), HeadScan::kComplete);
  EXPECT_EQ(lf.substr(end), "BODY");
  const std::string crlf = "GET / HTTP/1.1\r\nHost: h\r\n\r\nBODY";
  ASSERT_EQ(FindHeadEnd(crlf, &end), HeadScan::kComplete);
  EXPECT_EQ(crlf.substr(end), "BODY");
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: h\r\n", &end), HeadScan::kNeedMore);
  EXPECT_EQ(FindHeadEnd("", &end), HeadScan::kNeedMore);
}

TEST(RequestHead, SkipsEmptyLinesBeforeTheRequestLine) {
  // The tool's two extra LFs after a body must not read as an empty head.
  std::size_t end = 0;
  const std::string s = "\n\r\n\nGET / HTTP/1.1\n\nX";
  ASSERT_EQ(FindHeadEnd(s, &end), HeadScan::kComplete);
  EXPECT_EQ(s.substr(end), "X");
  EXPECT_EQ(FindHeadEnd("\n\n", &end), HeadScan::kNeedMore);
  NormalizedHead head;
  EXPECT_EQ(NormalizeRequestHead(s.substr(0, end), 100, &head), 0);
  EXPECT_EQ(head.head, "GET / HTTP/1.1\r\n\r\n");
}

TEST(RequestHead, RefusesHeadsAboveTheLimit) {
  std::size_t end = 0;
  EXPECT_EQ(FindHeadEnd(std::string(kMaxHeadBytes, 'a'), &end), HeadScan::kTooLarge);
  EXPECT_EQ(FindHeadEnd(std::string(kMaxHeadBytes - 1, 'a'), &end), HeadScan::kNeedMore);
  const std::string big = "GET / HTTP/1.1\nX: " + std::string(kMaxHeadBytes, 'a') + "\n\n";
  EXPECT_EQ(FindHeadEnd(big, &end), HeadScan::kTooLarge);
}

TEST(RequestHead, RewritesTheToolsLfHeadWithCrLf) {
  const std::string raw =
      "POST /sw/qlan/hsentry/0/ HTTP/1.1\n"
      "Host: ranking.quillane.example\n"
      "User-Agent: QuillaneTool/050702\n"
      "Connection: close\n"
      "Content-Type: multipart/form-data; boundary=------AaXx00\n"
      "Content-Length: 235\n"
      "\n";
  NormalizedHead head;
  ASSERT_EQ(NormalizeRequestHead(raw, 1000, &head), 0);
  EXPECT_EQ(head.method, "POST");
  EXPECT_EQ(head.target, "/sw/qlan/hsentry/0/");
  EXPECT_FALSE(head.absoluteForm);
  EXPECT_TRUE(head.hasBody);
  EXPECT_EQ(head.contentLength, 235u);
  EXPECT_EQ(head.head,
            "POST /sw/qlan/hsentry/0/ HTTP/1.1\r\n"
            "Host: ranking.quillane.example\r\n"
            "User-Agent: QuillaneTool/050702\r\n"
            "Connection: close\r\n"
            "X-Qlan-Content-Type: multipart/form-data; boundary=------AaXx00\r\n"
            "Content-Length: 235\r\n"
            "\r\n");
}

TEST(RequestHead, TurnsAbsoluteFormIntoOriginForm) {
  struct Case {
    const char* target;
    const char* origin;
  };
  for (const Case& c : {Case{"http://ranking.quillane.example/sw/qlan/score.dat", "/sw/qlan/score.dat"},
                        Case{"HTTP://h:8080/sw/qlan/hsentry/1/?UNIQUE_ID=abc", "/sw/qlan/hsentry/1/?UNIQUE_ID=abc"},
                        Case{"http://h", "/"}, Case{"http://h?x=1", "/?x=1"}}) {
    NormalizedHead head;
    ASSERT_EQ(NormalizeRequestHead(std::string("GET ") + c.target + " HTTP/1.1\r\nHost: h\r\n\r\n", 0, &head), 0)
        << c.target;
    EXPECT_TRUE(head.absoluteForm);
    EXPECT_EQ(head.target, c.origin);
    EXPECT_EQ(head.head, std::string("GET ") + c.origin + " HTTP/1.1\r\nHost: h\r\n\r\n");
  }
}

TEST(RequestHead, DropsAClientsOwnInternalContentTypeLine) {
  NormalizedHead head;
  ASSERT_EQ(NormalizeRequestHead("GET / HTTP/1.0\nx-qlan-content-type: forged\n\n", 0, &head), 0);
  EXPECT_EQ(head.head, "GET / HTTP/1.0\r\n\r\n");
}

TEST(RequestHead, AnswersBadHeadsWithTheirStatus) {
  struct Case {
    std::string head;
    int status;
  };
  const std::string longTarget = "GET /" + std::string(kMaxTargetLength, 'a') + " HTTP/1.1\n\n";
  std::string manyLines = "GET / HTTP/1.1\n";
  for (std::size_t i = 0; i <= kMaxHeaderLines; ++i) manyLines += "X-A: 1\n";
  manyLines += "\n";
  const Case cases[] = {
      {"GET / HTTP/1.1\n\n", 0},
      {"GET /\n\n", 400},
      {"GET  / HTTP/1.1\n\n", 400},
      {"GET / HTTP/1.1 \n\n", 400},
      {"G(T / HTTP/1.1\n\n", 400},
      {"GET / HTTP/2.0\n\n", 505},
      {"GET / FTP/1.0\n\n", 400},
      {"GET relative HTTP/1.1\n\n", 400},
      {"GET http:///x HTTP/1.1\n\n", 400},
      {"GET /\x01 HTTP/1.1\n\n", 400},
      {longTarget, 414},
      {manyLines, 431},
      {"GET / HTTP/1.1\nNoColon\n\n", 400},
      {"GET / HTTP/1.1\n: empty name\n\n", 400},
      {"GET / HTTP/1.1\nBad Name: x\n\n", 400},
      {"GET / HTTP/1.1\nX: a\n folded\n\n", 400},
      {"GET / HTTP/1.1\nX: a\x01z\n\n", 400},
      {"POST / HTTP/1.1\n\n", 411},
      {"POST / HTTP/1.1\nContent-Length: 10\n\n", 0},
      {"POST / HTTP/1.1\nContent-Length: 11\n\n", 413},
      {"POST / HTTP/1.1\nContent-Length: -1\n\n", 400},
      {"POST / HTTP/1.1\nContent-Length: 1x\n\n", 400},
      {"POST / HTTP/1.1\nContent-Length: 99999999999999999999\n\n", 400},
      {"POST / HTTP/1.1\nContent-Length: 5\nContent-Length: 6\n\n", 400},
      {"POST / HTTP/1.1\nContent-Length: 5\nContent-Length: 5\n\n", 0},
      {"POST / HTTP/1.1\nTransfer-Encoding: chunked\n\n", 501},
  };
  for (const Case& c : cases) {
    NormalizedHead head;
    EXPECT_EQ(NormalizeRequestHead(c.head, 10, &head), c.status) << c.head;
  }
}

}  // namespace
}  // namespace qlan::server
