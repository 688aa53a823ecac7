// HTML rendering for the ranking server's pages, all of it through the HTML writer.
#include "server/pages.h"

#include <algorithm>

#include "net/ranking.h"
#include "server/html.h"
#include "server/labels.h"
#include "server/paging.h"
#include "server/site.h"

namespace qlan::server {
namespace {

constexpr char kSiteName[] = "Quillane オンラインランキング";

struct NavLink {
  std::string href;
  std::string text;
};

// The whole page: head, header, content in <main>, then the links to go on with.
std::string Page(std::string_view title, const HtmlWriter& content,
                 const std::vector<NavLink>& links = {}) {
  HtmlWriter page;
  page.Raw(
      "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"description\" content=\"Quillane の各ルートの順位、記録とリプレイ\">\n"
      // An empty icon: without it a browser asks for /favicon.ico and logs the 404.
      "<link rel=\"icon\" href=\"data:,\">\n<title>");
  page.Text(title).Raw("</title>\n<style>").Raw(kSiteStyle).Raw("</style>\n</head>\n<body>\n");
  page.Raw("<header><p>").Link(kIndexPath, kSiteName).Raw("</p></header>\n<main>\n");
  page.Append(content).Raw("</main>\n");
  if (!links.empty()) {
    page.Raw("<nav aria-label=\"ページ移動\"><ul>\n");
    for (const NavLink& link : links) page.Raw("<li>").Link(link.href, link.text).Raw("</li>\n");
    page.Raw("</ul></nav>\n");
  }
  return std::move(page.Raw("</body>\n</html>\n")).Take();
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
void EntryCells(HtmlWriter& w, const StoredEntry& e) {
  w.Raw("<td class=\"num\">").Text(DistanceLabel(e.distance));
  w.Raw("</td><td class=\"num\">").Text(TimeLabel(e.timeTicks));
  w.Raw("</td><td class=\"date\">").Text(JapanDateText(e.created)).Raw("</td>");
}

// Rows ranked firstRank on, each linking to its entry page but the marked one.
void RankTable(HtmlWriter& w, std::string_view caption, const std::vector<StoredEntry>& rows,
               std::uint32_t firstRank, std::string_view marked = {}) {
  w.Raw("<table>\n<caption>").Text(caption);
  w.Raw(
      "</caption>\n<tr><th scope=\"col\">順位</th><th scope=\"col\">走行距離</th>"
      "<th scope=\"col\">タイム</th><th scope=\"col\">登録日時</th><th "
      "scope=\"col\">記録</th></tr>\n");
  std::uint32_t rank = firstRank;
  for (const StoredEntry& e : rows) {
    const bool self = e.id == marked;
    if (self) {
      w.Raw("<tr class=\"self\" aria-current=\"true\"><td class=\"num\">");
    } else {
      w.Raw("<tr><td class=\"num\">");
    }
    w.Number(rank++).Raw("</td>");
    EntryCells(w, e);
    if (self) {
      w.Raw("<td>この記録</td></tr>\n");
    } else {
      w.Raw("<td>").Link(EntryUrl(e.id), "詳細").Raw("</td></tr>\n");
    }
  }
  w.Raw("</table>\n");
}

// The title and the one paragraph of a refusal.
HtmlWriter ErrorContent(std::string_view title, Outcome outcome) {
  HtmlWriter w;
  w.Raw("<h1>").Text(title).Raw("</h1>\n<p>").Text(OutcomeMessage(outcome)).Raw("</p>\n");
  return w;
}

}  // namespace

std::string ReplayFileName(std::uint32_t route) { return "r" + std::to_string(route) + ".replay"; }

std::string RenderIndex(const std::vector<RouteStanding>& routes) {
  HtmlWriter w;
  w.Raw(
      "<h1>ルート一覧</h1>\n<table>\n<caption>各ルートのエントリー数と 1 位の記録</caption>\n"
      "<tr><th scope=\"col\">ルート</th><th scope=\"col\">件数</th><th scope=\"col\">走行距離</th>"
      "<th scope=\"col\">タイム</th><th scope=\"col\">登録日時</th></tr>\n");
  for (std::size_t i = 0; i < routes.size(); ++i) {
    const auto route = static_cast<std::uint32_t>(kFirstRoute) + static_cast<std::uint32_t>(i);
    const RouteStanding& r = routes[i];
    w.Raw("<tr><th scope=\"row\">").Link(RouteUrl(route, 1), RouteName(route));
    w.Raw("</th><td class=\"num\">").Number(r.count).Raw("</td>");
    if (r.best.empty()) {
      w.Raw("<td colspan=\"3\">エントリーなし</td>");
    } else {
      EntryCells(w, r.best[0]);
    }
    w.Raw("</tr>\n");
  }
  w.Raw("</table>\n");
  return Page(kSiteName, w);
}

std::string RenderRoutePage(std::uint32_t route, std::uint32_t page, std::uint32_t routeCount,
                            const std::vector<StoredEntry>& rows) {
  const std::uint32_t pages = PageCount(routeCount);
  const std::uint32_t first = (page - 1) * kRowsPerPage + 1;
  const std::string name = RouteName(route);
  HtmlWriter w;
  w.Raw("<h1>").Text(name).Raw(" のランキング</h1>\n<p>");
  if (rows.empty()) {
    w.Raw("このルートにはまだエントリーがありません。</p>\n");
  } else {
    w.Number(routeCount).Raw(" 件中 ").Number(first).Raw("〜");
    w.Number(first + static_cast<std::uint32_t>(rows.size()) - 1).Raw(" 位（ページ ");
    w.Number(page).Raw(" / ").Number(pages).Raw("）</p>\n");
    RankTable(w, name + " の順位", rows, first);
  }
  std::vector<NavLink> links;
  if (page > 1) links.push_back({RouteUrl(route, page - 1), "前のページ"});
  if (page < pages) links.push_back({RouteUrl(route, page + 1), "次のページ"});
  if (route > static_cast<std::uint32_t>(kFirstRoute)) {
    links.push_back({RouteUrl(route - 1, 1), "前のルート（" + RouteName(route - 1) + "）"});
  }
  if (route + 1 < static_cast<std::uint32_t>(kFirstRoute + kRouteCount)) {
    links.push_back({RouteUrl(route + 1, 1), "次のルート（" + RouteName(route + 1) + "）"});
  }
  links.push_back({kIndexPath, "ルート一覧"});
  return Page(name + " のランキング - " + kSiteName, w, links);
}

std::string RenderEntryAccepted(const StoredEntry& entry) {
  HtmlWriter w;
  w.Raw("<p>エントリーを受け付けました。</p>\n<p>ルート R ").Number(entry.route);
  w.Raw(" / ").Text(DistanceLabel(entry.distance)).Raw(" / ").Text(TimeLabel(entry.timeTicks));
  w.Raw("</p>\n<pre>\n").Raw(kEntryIdMarker).Text(entry.id).Raw("\n</pre>\n");
  return Page("エントリー完了", w);
}

std::string RenderEntryPage(const StoredEntry& entry, std::uint32_t rank, std::uint32_t routeCount,
                            const std::vector<StoredEntry>& around) {
  const std::string name = RouteName(entry.route);
  HtmlWriter w;
  w.Raw("<h1>").Text(name).Raw(" のエントリー</h1>\n<table>\n");
  w.Raw("<tr><th scope=\"row\">ルート</th><td>").Text(name);
  w.Raw("</td></tr>\n<tr><th scope=\"row\">走行距離</th><td>").Text(DistanceLabel(entry.distance));
  w.Raw("</td></tr>\n<tr><th scope=\"row\">タイム</th><td>").Text(TimeLabel(entry.timeTicks));
  w.Raw("</td></tr>\n<tr><th scope=\"row\">登録日時</th><td>").Text(JapanDateText(entry.created));
  w.Raw("</td></tr>\n<tr><th scope=\"row\">順位</th><td>").Number(rank).Raw("位 / ");
  w.Number(routeCount).Raw("件中</td></tr>\n<tr><th scope=\"row\">ID</th><td>").Text(entry.id);
  w.Raw("</td></tr>\n</table>\n<h2>前後の順位</h2>\n");
  RankTable(w, name + " の " + std::to_string(rank) + " 位の前後", around,
            rank - std::min(rank - 1, kNeighbours), entry.id);
  const std::vector<NavLink> links = {
      {RouteUrl(entry.route, (rank - 1) / kRowsPerPage + 1), name + " のランキング"},
      {kIndexPath, "ルート一覧"},
      {kReplayPath + entry.id, "リプレイ（" + ReplayFileName(entry.route) + "）"}};
  return Page(name + " のエントリー - " + kSiteName, w, links);
}

std::string RenderErrorPage(Outcome outcome) {
  const std::string title = "エラー " + std::to_string(HttpStatus(outcome));
  return Page(title, ErrorContent(title, outcome), {{kIndexPath, "ルート一覧"}});
}

std::string RenderLimitPage(std::uint32_t perDay, std::int64_t opens) {
  const std::string title = "エラー 429";
  HtmlWriter w = ErrorContent(title, Outcome::kTooManyEntries);
  w.Raw("<p>1 日 ").Number(perDay).Raw(" 件まで。次のエントリーは ").Text(JapanDateText(opens));
  w.Raw(" から受け付けます。(open again at that time)</p>\n");
  return Page(title, w, {{kIndexPath, "ルート一覧"}});
}

}  // namespace qlan::server
