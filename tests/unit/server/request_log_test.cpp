// The request log's line, byte for byte: what a client sent cannot forge or split a line.
#include "server/request_log.h"

#include <gtest/gtest.h>

#include <limits>

namespace qlan::server {
namespace {

using std::chrono::microseconds;

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

}  // namespace
}  // namespace qlan::server
