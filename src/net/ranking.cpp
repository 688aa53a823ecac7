// The ranking server's host name, the tool's user-agent text and the entry page address.
#include "net/ranking.h"

namespace qlan {

const char* const RankingHost = QLAN_RANKING_HOST;
const char* const UserAgent = "QuillaneTool/050702";

namespace {

bool IsUnreserved(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string EntryPageUrl(std::string_view identifier) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "http://";
  url += RankingHost;
  url += kEntryPagePath;
  url += '?';
  url += kEntryIdField;
  url += '=';
  for (const char ch : identifier) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      url += ch;
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15u];
    }
  }
  return url;
}

}  // namespace qlan
