// HTML rendering for the ranking server's pages.
#include "server/pages.h"

#include <algorithm>
#include <ctime>
#include <mutex>
#include <utility>

#include "app/text.h"
#include "net/ranking.h"
#include "records/record_list.h"
#include "server/digest.h"

namespace qlan::server {
namespace {

std::mutex g_labelMutex;

constexpr char kSiteName[] = "Quillane オンラインランキング";
// Narrow enough for a 390-pixel phone: only dates wrap in the ranking's cells.
constexpr char kStyle[] =
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

using Link = std::pair<std::string, std::string>;  // address, text

std::string Page(std::string_view title, std::string_view content,
                 const std::vector<Link>& links = {}) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"description\" content=\"Quillane の各ルートの順位、記録とリプレイ\">\n"
      // An empty icon: without it a browser asks for /favicon.ico and logs the 404.
      "<link rel=\"icon\" href=\"data:,\">\n<title>";
  page += title;
  page += "</title>\n<style>";
  page += kStyle;
  page += "</style>\n</head>\n<body>\n<header><p><a href=\"";
  page += kIndexPath;
  page += "\">";
  page += kSiteName;
  page += "</a></p></header>\n<main>\n";
  page += content;
  page += "</main>\n";
  if (!links.empty()) {
    page += "<nav aria-label=\"ページ移動\"><ul>\n";
    for (const auto& [href, text] : links) {
      page += "<li><a href=\"" + EscapeHtml(href) + "\">" + text + "</a></li>\n";
    }
    page += "</ul></nav>\n";
  }
  page += "</body>\n</html>\n";
  return page;
}

std::string RouteName(std::uint32_t route) { return "R " + std::to_string(route); }

std::string RouteUrl(std::uint32_t route, std::uint32_t page) {
  std::string url = kRankingPath + std::to_string(route) + "/";
  if (page > 1) url += "?" + std::string(kPageField) + "=" + std::to_string(page);
  return url;
}

std::string EntryUrl(std::string_view id) {
  return std::string(kEntryPagePath) + "?" + kEntryIdField + "=" + std::string(id);
}

// Distance, time and date cells of an entry.
std::string EntryCells(const StoredEntry& e) {
  return "<td class=\"num\">" + EscapeHtml(DistanceLabel(e.distance)) + "</td><td class=\"num\">" +
         EscapeHtml(TimeLabel(e.timeTicks)) + "</td><td class=\"date\">" +
         EscapeHtml(JapanDateText(e.created)) + "</td>";
}

// Rows ranked firstRank on, each linking to its entry page but the marked one.
std::string RankTable(std::string_view caption, const std::vector<StoredEntry>& rows,
                      std::uint32_t firstRank, std::string_view marked = {}) {
  std::string table = "<table>\n<caption>";
  table += caption;
  table +=
      "</caption>\n<tr><th scope=\"col\">順位</th><th scope=\"col\">走行距離</th>"
      "<th scope=\"col\">タイム</th><th scope=\"col\">登録日時</th><th "
      "scope=\"col\">記録</th></tr>\n";
  std::uint32_t rank = firstRank;
  for (const StoredEntry& e : rows) {
    const bool self = e.id == marked;
    table += self ? "<tr class=\"self\" aria-current=\"true\">" : "<tr>";
    table += "<td class=\"num\">" + std::to_string(rank++) + "</td>" + EntryCells(e);
    table += self ? "<td>この記録</td>"
                  : "<td><a href=\"" + EscapeHtml(EntryUrl(e.id)) + "\">詳細</a></td>";
    table += "</tr>\n";
  }
  table += "</table>\n";
  return table;
}

}  // namespace

const std::string& ContentSecurityPolicy() {
  static const std::string kPolicy = "default-src 'none'; style-src 'sha256-" +
                                     Sha256Base64(kStyle) +
                                     "'; img-src data:; base-uri 'none'; form-action 'none'; "
                                     "frame-ancestors 'none'";
  return kPolicy;
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::string DistanceLabel(std::uint32_t metres) {
  std::lock_guard<std::mutex> lock(g_labelMutex);
  return std::string(TrimBlanks(FormatDistance(metres)));
}

std::string TimeLabel(std::uint32_t ticks) {
  std::lock_guard<std::mutex> lock(g_labelMutex);
  return std::string(TrimBlanks(FormatTime(ticks)));
}

std::string JapanDateText(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds + std::int64_t{9} * 3600);
  std::tm parts{};
  if (gmtime_r(&t, &parts) == nullptr) return "-";
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M (JST)", &parts);
  return n == 0 ? std::string("-") : std::string(text, n);
}

std::uint32_t PageCount(std::uint32_t count) noexcept {
  return count == 0 ? 1 : (count - 1) / kRowsPerPage + 1;
}

std::string ReplayFileName(std::uint32_t route) { return "r" + std::to_string(route) + ".replay"; }

std::string RenderIndex(const std::vector<RouteStanding>& routes) {
  std::string content =
      "<h1>ルート一覧</h1>\n<table>\n<caption>各ルートのエントリー数と 1 位の記録</caption>\n"
      "<tr><th scope=\"col\">ルート</th><th scope=\"col\">件数</th><th scope=\"col\">走行距離</th>"
      "<th scope=\"col\">タイム</th><th scope=\"col\">登録日時</th></tr>\n";
  for (std::size_t i = 0; i < routes.size(); ++i) {
    const auto route = static_cast<std::uint32_t>(kFirstRoute) + static_cast<std::uint32_t>(i);
    const RouteStanding& r = routes[i];
    content += "<tr><th scope=\"row\"><a href=\"" + RouteUrl(route, 1) + "\">" + RouteName(route) +
               "</a></th><td class=\"num\">" + std::to_string(r.count) + "</td>";
    content += r.best.empty() ? "<td colspan=\"3\">エントリーなし</td>" : EntryCells(r.best[0]);
    content += "</tr>\n";
  }
  content += "</table>\n";
  return Page(kSiteName, content);
}

std::string RenderRoutePage(std::uint32_t route, std::uint32_t page, std::uint32_t routeCount,
                            const std::vector<StoredEntry>& rows) {
  const std::uint32_t pages = PageCount(routeCount);
  const std::uint32_t first = (page - 1) * kRowsPerPage + 1;
  const std::string name = RouteName(route);
  std::string content = "<h1>" + name + " のランキング</h1>\n<p>";
  if (rows.empty()) {
    content += "このルートにはまだエントリーがありません。</p>\n";
  } else {
    content += std::to_string(routeCount) + " 件中 " + std::to_string(first) + "〜" +
               std::to_string(first + static_cast<std::uint32_t>(rows.size()) - 1) +
               " 位（ページ " + std::to_string(page) + " / " + std::to_string(pages) + "）</p>\n";
    content += RankTable(name + " の順位", rows, first);
  }
  std::vector<Link> links;
  if (page > 1) links.emplace_back(RouteUrl(route, page - 1), "前のページ");
  if (page < pages) links.emplace_back(RouteUrl(route, page + 1), "次のページ");
  if (route > static_cast<std::uint32_t>(kFirstRoute)) {
    links.emplace_back(RouteUrl(route - 1, 1), "前のルート（" + RouteName(route - 1) + "）");
  }
  if (route + 1 < static_cast<std::uint32_t>(kFirstRoute + kRouteCount)) {
    links.emplace_back(RouteUrl(route + 1, 1), "次のルート（" + RouteName(route + 1) + "）");
  }
  links.emplace_back(kIndexPath, "ルート一覧");
  return Page(name + " のランキング - " + kSiteName, content, links);
}

std::string RenderEntryAccepted(const StoredEntry& entry) {
  std::string content = "<p>エントリーを受け付けました。</p>\n<p>ルート R ";
  content += std::to_string(entry.route);
  content += " / ";
  content += EscapeHtml(DistanceLabel(entry.distance));
  content += " / ";
  content += EscapeHtml(TimeLabel(entry.timeTicks));
  content += "</p>\n<pre>\n";
  content += kEntryIdMarker;
  content += entry.id;  // URL-safe characters only
  content += "\n</pre>\n";
  return Page("エントリー完了", content);
}

std::string RenderEntryPage(const StoredEntry& entry, std::uint32_t rank, std::uint32_t routeCount,
                            const std::vector<StoredEntry>& around) {
  const std::string name = RouteName(entry.route);
  std::string content =
      "<h1>" + name + " のエントリー</h1>\n<table>\n<tr><th scope=\"row\">ルート</th><td>";
  content += name;
  content += "</td></tr>\n<tr><th scope=\"row\">走行距離</th><td>";
  content += EscapeHtml(DistanceLabel(entry.distance));
  content += "</td></tr>\n<tr><th scope=\"row\">タイム</th><td>";
  content += EscapeHtml(TimeLabel(entry.timeTicks));
  content += "</td></tr>\n<tr><th scope=\"row\">登録日時</th><td>";
  content += EscapeHtml(JapanDateText(entry.created));
  content += "</td></tr>\n<tr><th scope=\"row\">順位</th><td>";
  content += std::to_string(rank);
  content += "位 / ";
  content += std::to_string(routeCount);
  content += "件中</td></tr>\n<tr><th scope=\"row\">ID</th><td>";
  content += EscapeHtml(entry.id);
  content += "</td></tr>\n</table>\n<h2>前後の順位</h2>\n";
  content += RankTable(name + " の " + std::to_string(rank) + " 位の前後", around,
                       rank - std::min(rank - 1, kNeighbours), entry.id);
  const std::vector<Link> links = {
      {RouteUrl(entry.route, (rank - 1) / kRowsPerPage + 1), name + " のランキング"},
      {kIndexPath, "ルート一覧"},
      {kReplayPath + entry.id, "リプレイ（" + ReplayFileName(entry.route) + "）"}};
  return Page(name + " のエントリー - " + kSiteName, content, links);
}

std::string RenderErrorPage(Outcome outcome) {
  const std::string title = "エラー " + std::to_string(HttpStatus(outcome));
  return Page(title, "<h1>" + title + "</h1>\n<p>" + EscapeHtml(OutcomeMessage(outcome)) + "</p>\n",
              {{kIndexPath, "ルート一覧"}});
}

std::string RenderLimitPage(std::uint32_t perDay, std::int64_t opens) {
  const std::string title = "エラー 429";
  return Page(title,
              "<h1>" + title + "</h1>\n<p>" + EscapeHtml(OutcomeMessage(Outcome::kTooManyEntries)) +
                  "</p>\n<p>1 日 " + std::to_string(perDay) + " 件まで。次のエントリーは " +
                  JapanDateText(opens) + " から受け付けます。(open again at that time)</p>\n",
              {{kIndexPath, "ルート一覧"}});
}

}  // namespace qlan::server
