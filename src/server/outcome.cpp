// The server's outcomes as HTTP statuses and page texts, and the store's results as outcomes.
#include "server/outcome.h"

#include "server/entry_store.h"

namespace qlan::server {
namespace {

struct OutcomeText {
  int status;
  const char* message;
};

// A switch with no default: an outcome added without its text does not compile (-Wswitch).
OutcomeText TextOf(Outcome outcome) noexcept {
  switch (outcome) {
    case Outcome::kOk:
      return {200, ""};
    case Outcome::kBadForm:
      return {400, "フォームを読み取れません。(malformed multipart form)"};
    case Outcome::kNoReplay:
      return {400, "リプレイがありません。(field frep missing)"};
    case Outcome::kRepeatedReplay:
      return {400, "リプレイが複数あります。(field frep repeated)"};
    case Outcome::kBadBase64:
      return {400, "リプレイの Base64 が不正です。(bad Base64)"};
    case Outcome::kBadRequest:
      return {400, "リクエストが不正です。(bad request)"};
    case Outcome::kNotFound:
      return {404, "そのページはありません。(not found)"};
    case Outcome::kUnknownEntry:
      return {404, "そのエントリーはありません。(unknown entry)"};
    case Outcome::kWithdrawn:
      return {410, "このエントリーは取り下げられました。(withdrawn)"};
    case Outcome::kLengthRequired:
      return {411, "Content-Length がありません。(length required)"};
    case Outcome::kBodyTooLarge:
      return {413, "送信データが大きすぎます。(request body too large)"};
    case Outcome::kReplayTooLarge:
      return {413, "リプレイが大きすぎます。(replay too large)"};
    case Outcome::kInvalidReplay:
      return {422, "リプレイが不正です。(invalid replay)"};
    case Outcome::kStoreReadFailed:
      return {500, "データベースを読めません。(database read failed)"};
    case Outcome::kBusy:
      return {503, "混み合っています。しばらくしてからお試しください。(busy)"};
    case Outcome::kNotStored:
      return {503, "エントリーを保存できません。(entry not stored)"};
    case Outcome::kTooManyEntries:
      return {429, "このアドレスからの今日のエントリーは上限に達しました。(too many entries)"};
    case Outcome::kNoSpace:
      return {507, "空き容量が足りず、エントリーを受け付けていません。(insufficient storage)"};
  }
  return {500, ""};  // not a value of Outcome
}

}  // namespace

int HttpStatus(Outcome outcome) noexcept { return TextOf(outcome).status; }
std::string_view OutcomeMessage(Outcome outcome) noexcept { return TextOf(outcome).message; }

Outcome OutcomeOf(StoreResult result, StoreAccess access) noexcept {
  switch (result) {
    case StoreResult::kOk:
    case StoreResult::kSameRun:    // the entry is the one stored earlier
    case StoreResult::kUnchanged:  // already as asked
      return Outcome::kOk;
    case StoreResult::kNotFound:
      return Outcome::kUnknownEntry;
    case StoreResult::kAddressLimited:
      return Outcome::kTooManyEntries;
    case StoreResult::kBusy:
      return Outcome::kBusy;
    case StoreResult::kIdTaken:  // still, after new identifiers were drawn
    case StoreResult::kFailed:
      break;
  }
  return access == StoreAccess::kRead ? Outcome::kStoreReadFailed : Outcome::kNotStored;
}

}  // namespace qlan::server
