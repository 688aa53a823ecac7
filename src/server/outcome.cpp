// The server's outcomes as HTTP statuses and page texts.
#include "server/outcome.h"

#include <cstddef>

namespace qlan::server {
namespace {

struct OutcomeText {
  int status;
  const char* reason;
  const char* message;
};

// In the order of Outcome.
constexpr OutcomeText kTexts[] = {
    {200, "OK", ""},
    {400, "Bad Request", "リクエストが不正です。(bad request)"},
    {400, "Bad Request", "フォームを読み取れません。(malformed multipart form)"},
    {400, "Bad Request", "リプレイがありません。(field frep missing)"},
    {400, "Bad Request", "リプレイが複数あります。(field frep repeated)"},
    {400, "Bad Request", "リプレイの Base64 が不正です。(bad Base64)"},
    {404, "Not Found", "そのページはありません。(not found)"},
    {404, "Not Found", "そのエントリーはありません。(unknown entry)"},
    {408, "Request Timeout", "リクエストが時間内に届きませんでした。(request timeout)"},
    {411, "Length Required", "Content-Length がありません。(length required)"},
    {413, "Payload Too Large", "送信データが大きすぎます。(request body too large)"},
    {413, "Payload Too Large", "リプレイが大きすぎます。(replay too large)"},
    {414, "URI Too Long", "URL が長すぎます。(target too long)"},
    {422, "Unprocessable Entity", "リプレイが不正です。(invalid replay)"},
    {431, "Request Header Fields Too Large", "ヘッダーが大きすぎます。(header too large)"},
    {500, "Internal Server Error", "データベースを読めません。(database read failed)"},
    {501, "Not Implemented", "その転送方式には対応していません。(not implemented)"},
    {503, "Service Unavailable", "混み合っています。しばらくしてからお試しください。(busy)"},
    {503, "Service Unavailable", "エントリーを保存できません。(entry not stored)"},
    {505, "HTTP Version Not Supported",
     "その HTTP のバージョンには対応していません。(version not supported)"},
};
static_assert(sizeof kTexts / sizeof kTexts[0] == static_cast<std::size_t>(Outcome::kVersion) + 1,
              "one text per outcome");

const OutcomeText& TextOf(Outcome outcome) noexcept {
  return kTexts[static_cast<std::size_t>(outcome)];
}

}  // namespace

int HttpStatus(Outcome outcome) noexcept { return TextOf(outcome).status; }
std::string_view ReasonPhrase(Outcome outcome) noexcept { return TextOf(outcome).reason; }
std::string_view OutcomeMessage(Outcome outcome) noexcept { return TextOf(outcome).message; }

}  // namespace qlan::server
