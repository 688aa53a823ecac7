// The request log's line, byte for byte: what a client sent cannot forge or split a line.
#include "server/request_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <limits>
#include <thread>

#include "server/http_server.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using test::Exchange;
using test::kDownload;
using test::StatusOf;

TEST(RequestLogLine, SaysEachRequestInOneLineOfPrintableWords) {
  const std::string longPath = "/" + std::string(300, 'a');
  const std::pair<AccessRecord, std::string> cases[] = {
      {{.time = 86399,
        .peer = "127.0.0.1",
        .method = "GET",
        .path = "/sw/qlan/score.dat",
        .status = 200,
        .bytes = 10888,
        .duration = microseconds(12345)},
       "1970-01-01T23:59:59Z 127.0.0.1 \"GET /sw/qlan/score.dat\" 200 10888 12.3ms"},
      // Controls, other bytes, quotes and blanks as '?'; a tenth cut, not rounded up.
      {{.peer = "a b",
        .method = "G\"T",
        .path = "/x\ty\x7f\xc3\n",
        .proxyForm = true,
        .status = 404,
        .bytes = 9,
        .duration = microseconds(1999),
        .end = RequestEnd::kClosed},
       "1970-01-01T00:00:00Z a?b \"G?T /x?y???\" proxy-form 404 0 1.9ms closed"},
      // A head that never completed: no method, no status; an unwritable time.
      {{.time = std::numeric_limits<std::time_t>::max(),
        .path = longPath,
        .end = RequestEnd::kTimedOut},
       "- - \"- " + longPath.substr(0, 200) + "\" - 0 0.0ms timed-out"},
      {{.bytes = 5, .end = RequestEnd::kStopped},
       "1970-01-01T00:00:00Z - \"- -\" - 0 0.0ms stopped"},
      {{.end = RequestEnd::kClientClosed},
       "1970-01-01T00:00:00Z - \"- -\" - 0 0.0ms client-closed"},
      {{.end = RequestEnd::kFailed}, "1970-01-01T00:00:00Z - \"- -\" - 0 0.0ms failed"},
  };
  for (const auto& [record, line] : cases) EXPECT_EQ(FormatAccessLine(record), line);
}

// A log nobody reads (a 4 KB pipe) drops lines, never requests, and says how many it dropped.
TEST(RequestLog, AStalledLogDropsLinesNotRequests) {
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK), 0);
  fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
  fcntl(pipeEnds[1], F_SETFL, 0);  // the server's side blocks, as a real stdout would
  test::TempFolder folder;
  {
    RequestLog log(pipeEnds[1], 16);
    ServerOptions options;
    options.log = [&log](std::string_view line) { log.Write(line); };
    test::RunningServer server(folder.Join("ranking.db"), options);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(StatusOf(Exchange(server.port(), kDownload)), 200) << i;
    std::string text;
    char buffer[4096];
    for (int i = 0; i < 100 && text.find("log lines dropped") == std::string::npos; ++i) {
      const ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
      if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
      std::this_thread::sleep_for(milliseconds(30));
    }
    EXPECT_NE(text.find(" log lines dropped while the log did not take them\n"), std::string::npos);
  }
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

}  // namespace
}  // namespace qlan::server
