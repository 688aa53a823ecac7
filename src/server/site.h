// The site's addresses and what each one means: the tool's (net/ranking.h) and the pages',
// in one route table that the transport and the service both read.
#pragma once
#include <string>
#include <string_view>

namespace qlan::server {

// The site's own paths beside the tool's: the index, a route's ranking
// ("/sw/qlan/ranking/710/", "?page=K" from the second page on) and an entry's replay.
inline constexpr char kIndexPath[] = "/sw/qlan/";
inline constexpr char kRankingPath[] = "/sw/qlan/ranking/";
inline constexpr char kReplayPath[] = "/sw/qlan/replay/";
inline constexpr char kPageField[] = "page";

enum class RouteKind {
  kScoreTable,  // the tool's high-score file
  kEntryPost,   // an entry: the only request with a body the server reads
  kEntryPage,
  kIndex,
  kRanking,  // the rest of the path names the route: "710/"
  kReplay,   // the rest of the path is the entry's identifier
};

struct Route {
  std::string_view method;  // "GET" (answering HEAD too) or "POST"
  std::string_view path;
  bool prefix;  // the path followed by at least one more character
  RouteKind kind;
};

// The route a request is for, nullptr when none is (404, whatever the method).
const Route* FindRoute(std::string_view method, std::string_view path) noexcept;

// What follows a prefix route's path in path.
inline std::string_view RouteRest(const Route& route, std::string_view path) noexcept {
  return path.substr(route.path.size());
}

// The one style every page carries (narrow enough for a 390-pixel phone: only dates wrap in
// the ranking's cells) ...
inline constexpr char kSiteStyle[] =
    "body{font-family:sans-serif;line-height:1.5;color:#222;background:#fff;max-width:50em;"
    "margin:0 auto;padding:.5em .8em 2em}"
    "header{border-bottom:2px solid #246}header a{font-weight:bold;color:#246}"
    "h1{font-size:1.4em;margin:.5em 0}h2{font-size:1.15em;margin:1.2em 0 .4em}"
    "table{border-collapse:collapse;margin:.5em 0}caption{text-align:left;font-weight:bold}"
    "th,td{border:1px solid #999;padding:.3em .5em;text-align:left;vertical-align:top;"
    "white-space:nowrap}th{background:#eef2f7}td.num{text-align:right}td.date{white-space:normal}"
    "tr.self td{background:#fff1b8;font-weight:bold}a{color:#0645ad}"
    "nav ul{list-style:none;padding:0;margin:1em 0;display:flex;flex-wrap:wrap;gap:.5em 1.5em}"
    "@media (max-width:30em){body{padding:.5em .4em 2em}th,td{padding:.3em .35em}}";

// ... and the Content-Security-Policy every reply is sent with: that style (by its digest)
// and an empty icon, nothing else; no script, no frame, no form.
const std::string& ContentSecurityPolicy();

}  // namespace qlan::server
