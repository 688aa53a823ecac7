// No input crashes or hangs the parsers: seeded random mutations of the tool's own form
// and request head, run under the sanitizers of the native test build.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "server/base64_decode.h"
#include "server/multipart.h"
#include "server/ranking_service.h"
#include "server/request_head.h"
#include "support/temp_env.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

// Flips, inserts, deletes or duplicates a few bytes; the alphabet favours the bytes the
// parsers care about.
std::string Mutate(std::string s, std::mt19937& rng) {
  static const char kInteresting[] = "\r\n-=:;\" \t/?AaXx0";
  const int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    const std::size_t at = s.empty() ? 0 : rng() % s.size();
    const char c = rng() % 2 ? kInteresting[rng() % (sizeof kInteresting - 1)]
                             : static_cast<char>(rng() & 0xFF);
    switch (rng() % 4) {
      case 0:
        if (!s.empty()) s[at] = c;
        break;
      case 1:
        s.insert(at, 1, c);
        break;
      case 2:
        if (!s.empty()) s.erase(at, 1 + rng() % 8);
        break;
      default:
        s.insert(at, s.substr(at, rng() % 32));
        break;
    }
  }
  return s;
}

bool Inside(std::string_view part, const std::string& whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

TEST(Robustness, MutatedToolFormsNeverBreakTheParsersOrTheService) {
  test::TempFolder folder;
  EntryStore store;
  std::string error;
  ASSERT_TRUE(store.Open(folder.Join("r.db"), false, &error)) << error;
  RankingService service(store);
  const std::string form =
      test::ToolFormBody(test::Base64Lines(test::KnownFile("replays/good/r745.replay")));
  std::mt19937 rng(20050702);
  int accepted = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string body = Mutate(form, rng);
    std::string type = "multipart/form-data; boundary=------AaXx00";
    if (i % 5 == 0) type = Mutate(type, rng);
    MultipartForm parsed;
    if (ParseMultipartForm(type, body, &parsed)) {
      ASSERT_LE(parsed.count, kMaxFormParts);
      for (std::size_t k = 0; k < parsed.count; ++k) {  // every view lies in body or type
        const FormPart& p = parsed.parts[k];
        for (std::string_view v : {p.name, p.filename, p.contentType, p.data}) {
          ASSERT_TRUE(v.empty() || Inside(v, body) || Inside(v, type));
        }
      }
    }
    const Reply reply = service.PostEntry(type, body, 1);
    ASSERT_TRUE(reply.status == 200 || (reply.status >= 400 && reply.status < 500)) << reply.status;
    accepted += reply.status == 200;
  }
  EXPECT_GT(accepted, 0);  // mutations of ignored bytes still store an entry
}

TEST(Robustness, MutatedHeadsAndBase64NeverBreakTheirParsers) {
  const std::string head =
      "POST http://ranking.quillane.example/sw/qlan/hsentry/0/ HTTP/1.1\n"
      "Host: ranking.quillane.example\nUser-Agent: QuillaneTool/050702\nConnection: close\n"
      "Content-Type: multipart/form-data; boundary=------AaXx00\nContent-Length: 235\n\n";
  std::mt19937 rng(710);
  for (int i = 0; i < 20000; ++i) {
    const std::string raw = Mutate(head, rng);
    std::size_t end = 0;
    if (FindHeadEnd(raw, &end) == HeadScan::kComplete) {
      ASSERT_LE(end, raw.size());
      NormalizedHead out;
      const int status =
          NormalizeRequestHead(std::string_view(raw).substr(0, end), kMaxEntryBody, &out);
      if (status == 0) {
        ASSERT_EQ(out.head.substr(out.head.size() - 4), "\r\n\r\n");
        ASSERT_TRUE(out.target.front() == '/' || out.target == "*") << out.target;
        ASSERT_EQ(out.head.find('\n'), out.head.find("\r\n") + 1);
      } else {
        ASSERT_TRUE(status >= 400 && status < 600) << status;
      }
    }
    std::string decoded;
    (void)DecodeBase64(raw, &decoded, 64);
    ASSERT_LE(decoded.size(), 64u);
  }
}

}  // namespace
}  // namespace qlan::server
