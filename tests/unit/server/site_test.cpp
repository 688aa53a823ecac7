// The route table: each (method, path) the server meets, with the near misses that must
// find nothing (404) or another route.
#include "server/site.h"

#include <gtest/gtest.h>

#include <optional>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

TEST(Site, EachRequestHasOneRouteOrNone) {
  using K = RouteKind;
  const std::pair<std::optional<RouteKind>, const char*> cases[] = {
      {K::kScoreTable, "GET /sw/qlan/score.dat|HEAD /sw/qlan/score.dat"},
      {K::kEntryPost, "POST /sw/qlan/hsentry/0/"},
      {K::kEntryPage, "GET /sw/qlan/hsentry/1/|HEAD /sw/qlan/hsentry/1/"},
      {K::kIndex, "GET /sw/qlan/"},
      // The service reads the rest of these.
      {K::kRanking, "HEAD /sw/qlan/ranking/710/|GET /sw/qlan/ranking/710/x/"},
      {K::kReplay, "GET /sw/qlan/replay/AbCd|GET /sw/qlan/replay//"},
      {{},
       "GET /sw/qlan/score.datx|get /sw/qlan/score.dat|POST /sw/qlan/score.dat|"
       "POST /sw/qlan/hsentry/0|GET /sw/qlan/hsentry/0/|HEAD /sw/qlan/hsentry/0/|"
       "PUT /sw/qlan/hsentry/0/|POST /sw/qlan/hsentry/1/|GET /sw/qlan/hsentry/1/x|"
       "GET /sw/qlan|GET /sw/qlan/index.html|GET /SW/QLAN/|GET |GET /sw/qlan/ranking/|"
       "GET /sw/qlan/ranking|POST /sw/qlan/ranking/710/|GET /sw/qlan/replay/|"
       "DELETE /sw/qlan/replay/AbCd"}};
  for (const auto& [kind, requests] : cases) {
    for (const std::string& request : test::Cases(requests)) {
      const std::size_t space = request.find(' ');
      const Route* route = FindRoute(request.substr(0, space), request.substr(space + 1));
      EXPECT_EQ(route == nullptr ? std::nullopt : std::optional(route->kind), kind) << request;
    }
  }
  const Route* replay = FindRoute("GET", "/sw/qlan/replay/AbCd");
  ASSERT_NE(replay, nullptr);
  EXPECT_EQ(RouteRest(*replay, "/sw/qlan/replay/AbCd"), "AbCd");
}

}  // namespace
}  // namespace qlan::server
