// HTML rendering for the ranking server's pages.
#include "server/pages.h"

#include <ctime>
#include <mutex>

#include "app/text.h"
#include "net/ranking.h"
#include "records/record_list.h"

namespace qlan::server {
namespace {

std::mutex g_labelMutex;

constexpr char kPageStart[] =
    "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width\">\n<title>";
constexpr char kPageHead[] =
    "</title>\n<style>body{font-family:sans-serif;margin:2em}"
    "table{border-collapse:collapse}th,td{border:1px solid #999;padding:.3em .8em;text-align:left}"
    "</style>\n</head>\n<body>\n";
constexpr char kPageEnd[] = "</body>\n</html>\n";

}  // namespace

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

std::string RenderEntryAccepted(const StoredEntry& entry) {
  std::string page = kPageStart;
  page += "エントリー完了";
  page += kPageHead;
  page += "<p>エントリーを受け付けました。</p>\n<p>ルート R ";
  page += std::to_string(entry.route);
  page += " / ";
  page += EscapeHtml(DistanceLabel(entry.distance));
  page += " / ";
  page += EscapeHtml(TimeLabel(entry.timeTicks));
  page += "</p>\n<pre>\n";
  page += kEntryIdMarker;
  page += entry.id;  // URL-safe characters only
  page += "\n</pre>\n";
  page += kPageEnd;
  return page;
}

std::string RenderEntryPage(const StoredEntry& entry, std::uint32_t rank,
                            std::uint32_t routeCount) {
  std::string page = kPageStart;
  page += "Quillane ランキング R ";
  page += std::to_string(entry.route);
  page += kPageHead;
  page += "<h1>Quillane オンラインランキング</h1>\n<table>\n<tr><th>ルート</th><td>R ";
  page += std::to_string(entry.route);
  page += "</td></tr>\n<tr><th>走行距離</th><td>";
  page += EscapeHtml(DistanceLabel(entry.distance));
  page += "</td></tr>\n<tr><th>タイム</th><td>";
  page += EscapeHtml(TimeLabel(entry.timeTicks));
  page += "</td></tr>\n<tr><th>登録日時</th><td>";
  page += EscapeHtml(JapanDateText(entry.created));
  page += "</td></tr>\n<tr><th>順位</th><td>";
  page += std::to_string(rank);
  page += "位 / ";
  page += std::to_string(routeCount);
  page += "件中</td></tr>\n<tr><th>ID</th><td>";
  page += EscapeHtml(entry.id);
  page += "</td></tr>\n</table>\n";
  page += kPageEnd;
  return page;
}

std::string RenderErrorPage(Outcome outcome) {
  const int status = HttpStatus(outcome);
  std::string page = kPageStart;
  page += "エラー ";
  page += std::to_string(status);
  page += kPageHead;
  page += "<h1>エラー ";
  page += std::to_string(status);
  page += "</h1>\n<p>";
  page += EscapeHtml(OutcomeMessage(outcome));
  page += "</p>\n";
  page += kPageEnd;
  return page;
}

}  // namespace qlan::server
