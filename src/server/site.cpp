// The route table and the pages' security policy.
#include "server/site.h"

#include "net/ranking.h"
#include "server/digest.h"

namespace qlan::server {
namespace {

constexpr Route kRoutes[] = {
    {"GET", kScorePath, false, RouteKind::kScoreTable},
    {"POST", kEntryPostPath, false, RouteKind::kEntryPost},
    {"GET", kEntryPagePath, false, RouteKind::kEntryPage},
    {"GET", kIndexPath, false, RouteKind::kIndex},
    {"GET", kRankingPath, true, RouteKind::kRanking},
    {"GET", kReplayPath, true, RouteKind::kReplay},
};

}  // namespace

const Route* FindRoute(std::string_view method, std::string_view path) noexcept {
  if (method == "HEAD") method = "GET";
  for (const Route& route : kRoutes) {
    const bool matches = route.prefix
                             ? path.size() > route.path.size() && path.starts_with(route.path)
                             : path == route.path;
    if (matches && method == route.method) return &route;
  }
  return nullptr;
}

const std::string& ContentSecurityPolicy() {
  static const std::string kPolicy = "default-src 'none'; style-src 'sha256-" +
                                     Sha256Base64(kSiteStyle) +
                                     "'; img-src data:; base-uri 'none'; form-action 'none'; "
                                     "frame-ancestors 'none'";
  return kPolicy;
}

}  // namespace qlan::server
