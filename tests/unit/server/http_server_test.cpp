// The server on a loopback port, spoken to with exact bytes: the tool's LF-only request,
// both request-line forms, refusals, limits, slow clients and the request log.
#include "server/http_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "server/entry_id.h"
#include "server/request_head.h"
#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using test::BodyOf;
using test::Exchange;
using test::StatusOf;

// Closes its socket however the test leaves the scope, a failed ASSERT included.
class SocketHolder {
 public:
  explicit SocketHolder(int fd) noexcept : fd_(fd) {}
  ~SocketHolder() {
    if (fd_ >= 0) close(fd_);
  }
  SocketHolder(const SocketHolder&) = delete;
  SocketHolder& operator=(const SocketHolder&) = delete;
  int get() const noexcept { return fd_; }
  void Close() noexcept {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

ServerOptions FastOptions() {
  ServerOptions o;
  o.threads = 4;
  o.headTimeoutMs = 1000;
  o.ioTimeoutMs = 1000;
  o.keepAliveMs = 500;
  o.requestTimeoutMs = 1500;
  return o;
}

class HttpServerTest : public ::testing::Test {
 protected:
  test::TempFolder folder_;
  test::RunningServer server_{folder_.Join("ranking.db"), FastOptions()};
  const std::string uploadHead_ =
      "POST /sw/qlan/hsentry/0/ HTTP/1.1\n"
      "Content-Type: multipart/form-data; boundary=------AaXx00\n";
};

TEST_F(HttpServerTest, ServesTheTableTakesTheToolsUploadAndShowsItsPageInBothForms) {
  ASSERT_TRUE(server_.ok());
  for (const char* request :
       {"GET /sw/qlan/score.dat HTTP/1.1\r\nHost: ranking.quillane.example\r\n"
        "Connection: close\r\n\r\n",
        "GET http://ranking.quillane.example/sw/qlan/score.dat HTTP/1.1\r\n"
        "Host: ranking.quillane.example\r\nConnection: close\r\n\r\n",
        "GET /sw/qlan/score.dat HTTP/1.0\n\n"}) {
    const std::string reply = Exchange(server_.port(), request);
    ASSERT_EQ(StatusOf(reply), 200) << request;
    EXPECT_NE(reply.find("\r\nContent-Length: 10888\r\n"), std::string::npos);
    EXPECT_EQ(BodyOf(reply), test::KnownFile("highscore/empty-table.ee"));
  }
  const std::string body =
      test::ToolFormBody(test::Base64Lines(test::KnownFile("replays/good/r712.replay")));
  const std::string reply = Exchange(server_.port(), test::ToolEntryRequest(body, false));
  ASSERT_EQ(StatusOf(reply), 200) << reply;
  EXPECT_NE(reply.find("\r\nConnection: close\r\n"), std::string::npos);
  const std::string id = test::EntryIdIn(BodyOf(reply));
  ASSERT_TRUE(IsEntryIdShape(id)) << reply;

  const std::string page = Exchange(
      server_.port(), "GET http://ranking.quillane.example/sw/qlan/hsentry/1/?UNIQUE_ID=" + id +
                          " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  ASSERT_EQ(StatusOf(page), 200);
  EXPECT_NE(page.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
  EXPECT_NE(page.find("<td>R 712</td>"), std::string::npos);
  for (const std::string target : {"/sw/qlan/hsentry/1/", "/sw/qlan/hsentry/1/?UNIQUE_ID=%27%3B",
                                   "/nothing/here", "/sw/qlan/score.dat/x"}) {
    const std::string missing =
        Exchange(server_.port(), "GET " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(missing), 404) << target;
    EXPECT_NE(BodyOf(missing).find("<html lang=\"ja\">"), std::string::npos) << target;
  }
  EXPECT_EQ(test::StoredCount(server_.store()), 1u);
}

TEST_F(HttpServerTest, RefusesBadRequestsWithTheir4xxAndStoresNothing) {
  ASSERT_TRUE(server_.ok());
  const std::string good =
      test::ToolFormBody(test::Base64Lines(test::KnownFile("replays/good/r710.replay")));
  const std::string badChecksum = test::ToolFormBody(
      test::Base64Lines(test::KnownFile("replays/bad/bad-checksum-r710.replay")));
  const std::pair<std::string, int> cases[] = {
      {test::ToolEntryRequest(badChecksum, true), 422},
      {"POST /sw/qlan/hsentry/0/ HTTP/1.1\nHost: h\n\n", 411},
      {"POST /sw/qlan/hsentry/0/ HTTP/1.1\nTransfer-Encoding: chunked\n\n0\n\n", 501},
      {uploadHead_ + "Content-Length: " + std::to_string(kMaxEntryBody + 1) + "\n\n", 413},
      // A good form under another path.
      {"POST /sw/qlan/hsentry/1/ HTTP/1.1\nContent-Type: multipart/form-data; "
       "boundary=------AaXx00\nConnection: close\nContent-Length: " +
           std::to_string(good.size()) + "\n\n" + good,
       404},
      {"GET /" + std::string(kMaxTargetLength, 'a') + " HTTP/1.1\n\n", 414},
      {"GET /sw/qlan/score.dat HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n", 431},
      {"GET / HTTP/3.0\n\n", 505},
      {"BROKEN\n\n", 400},
  };
  for (const auto& [request, status] : cases) {
    const std::string reply = Exchange(server_.port(), request);
    EXPECT_EQ(StatusOf(reply), status) << request.substr(0, 120) << "\n--\n"
                                       << reply.substr(0, 200);
  }
  EXPECT_EQ(test::StoredCount(server_.store()), 0u);
}

TEST_F(HttpServerTest, GivesUpOnSilentStalledOrTricklingClientsInTime) {
  ASSERT_TRUE(server_.ok());
  // A head that never ends is answered 408 after the head time; nothing at all, no reply.
  Clock::time_point start = Clock::now();
  EXPECT_EQ(StatusOf(Exchange(server_.port(), "GET /sw/qlan/score.dat HTTP/1.1\r\nHost: x\r\n")),
            408);
  EXPECT_LT(Clock::now() - start, milliseconds(4000));
  EXPECT_EQ(Exchange(server_.port(), ""), "");
  // A body that stops ends after the progress time.
  const std::string head = uploadHead_ + "Content-Length: 1000\n\n";
  start = Clock::now();
  Exchange(server_.port(), head + "--------Aa");
  EXPECT_LT(Clock::now() - start, milliseconds(3000));

  // A byte every 200 ms keeps the progress time from running out, but not the request's.
  SocketHolder socketHolder(socket(AF_INET, SOCK_STREAM, 0));
  const int fd = socketHolder.get();
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(server_.port()));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  start = Clock::now();
  ASSERT_EQ(send(fd, head.data(), head.size(), MSG_NOSIGNAL), static_cast<ssize_t>(head.size()));
  bool cut = false;
  for (int i = 0; i < 25 && !cut; ++i) {
    std::this_thread::sleep_for(milliseconds(200));
    char b;
    cut = send(fd, "x", 1, MSG_NOSIGNAL) != 1 || recv(fd, &b, 1, MSG_DONTWAIT) >= 0;
  }
  socketHolder.Close();
  EXPECT_TRUE(cut);
  EXPECT_LT(Clock::now() - start, milliseconds(4000));
  EXPECT_EQ(test::StoredCount(server_.store()), 0u);
}

TEST_F(HttpServerTest, KeepsAliveAcrossRequestsAndLogsOneLineEach) {
  ASSERT_TRUE(server_.ok());
  const std::string reply =
      Exchange(server_.port(),
               "GET /sw/qlan/score.dat HTTP/1.1\r\nHost: x\r\n\r\n"
               "GET http://x/nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(reply), 200);
  EXPECT_NE(reply.find("HTTP/1.1 404 Not Found\r\n"), std::string::npos);
  Exchange(server_.port(), "BROKEN\n\n");
  // A body on a GET is not read as a next request: the connection ends after the reply.
  const std::string withBody =
      Exchange(server_.port(), "GET /sw/qlan/score.dat HTTP/1.1\nContent-Length: 5\n\nGET /x");
  EXPECT_EQ(StatusOf(withBody), 200);
  EXPECT_NE(withBody.find("Connection: close\r\n"), std::string::npos);
  server_.Stop();
  const std::vector<std::string> lines = server_.LogLines();
  ASSERT_EQ(lines.size(), 4u);
  const char* patterns[] = {R"(\S+Z 127\.0\.0\.1 "GET /sw/qlan/score\.dat" 200 10888 \S+ms)",
                            R"(\S+Z 127\.0\.0\.1 "GET /nothing" proxy-form 404 \d+ \S+ms)",
                            R"(\S+Z 127\.0\.0\.1 "- -" 400 \d+ \S+ms)"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], std::regex(patterns[i]))) << lines[i];
  }
}

}  // namespace
}  // namespace qlan::server
