// The server's outcomes as HTTP statuses and page texts.
#include "server/outcome.h"

#include <cstddef>

namespace qlan::server {
namespace {

struct OutcomeText {
  int status;
  const char* message;
};

// In the order of Outcome.
constexpr OutcomeText kTexts[] = {
    {200, ""},
    {400, "フォームを読み取れません。(malformed multipart form)"},
    {400, "リプレイがありません。(field frep missing)"},
    {400, "リプレイが複数あります。(field frep repeated)"},
    {400, "リプレイの Base64 が不正です。(bad Base64)"},
    {400, "リクエストが不正です。(bad request)"},
    {404, "そのページはありません。(not found)"},
    {404, "そのエントリーはありません。(unknown entry)"},
    {410, "このエントリーは取り下げられました。(withdrawn)"},
    {411, "Content-Length がありません。(length required)"},
    {413, "送信データが大きすぎます。(request body too large)"},
    {413, "リプレイが大きすぎます。(replay too large)"},
    {422, "リプレイが不正です。(invalid replay)"},
    {500, "データベースを読めません。(database read failed)"},
    {503, "混み合っています。しばらくしてからお試しください。(busy)"},
    {503, "エントリーを保存できません。(entry not stored)"},
    {429, "このアドレスからの今日のエントリーは上限に達しました。(too many entries)"},
    {507, "空き容量が足りず、エントリーを受け付けていません。(insufficient storage)"},
};
static_assert(sizeof kTexts / sizeof kTexts[0] == static_cast<std::size_t>(Outcome::kNoSpace) + 1,
              "one text per outcome");

const OutcomeText& TextOf(Outcome outcome) noexcept {
  return kTexts[static_cast<std::size_t>(outcome)];
}

}  // namespace

int HttpStatus(Outcome outcome) noexcept { return TextOf(outcome).status; }
std::string_view OutcomeMessage(Outcome outcome) noexcept { return TextOf(outcome).message; }

}  // namespace qlan::server
