// Request handling of the ranking server.
#include "server/ranking_service.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <vector>

#include "net/ranking.h"
#include "records/replay.h"
#include "server/base64_decode.h"
#include "server/entry_id.h"
#include "server/multipart.h"
#include "server/pages.h"
#include "server/paging.h"
#include "server/score_table.h"
#include "server/site.h"

namespace qlan::server {
namespace {

constexpr char kHtml[] = "text/html; charset=utf-8";

Reply HtmlReply(std::string body) {
  Reply r;
  r.contentType = kHtml;
  r.body = std::move(body);
  return r;
}

}  // namespace

Reply ErrorReply(Outcome outcome) {
  Reply r;
  r.outcome = outcome;
  r.contentType = kHtml;
  r.body = RenderErrorPage(outcome);
  if (outcome == Outcome::kBusy) r.retryAfterS = 5;  // a busy server's queue has moved on by then
  return r;
}

Reply RankingService::ScoreTable() {
  const std::uint64_t version = store_.Version();
  std::shared_ptr<const std::string> table;
  {
    const std::lock_guard<std::mutex> lock(cacheMutex_);
    if (cachedTable_ && version != 0 && cachedVersion_ == version) table = cachedTable_;
  }
  if (!table) {
    std::vector<RouteStanding> routes;
    if (const StoreResult read = standings_.Best(&routes); read != StoreResult::kOk) {
      return ErrorReply(OutcomeOf(read, StoreAccess::kRead));
    }
    const std::vector<unsigned char> file = BuildHighScoreFile(routes);
    table = std::make_shared<const std::string>(file.begin(), file.end());
    const std::lock_guard<std::mutex> lock(cacheMutex_);
    // A commit meanwhile has moved the version on; the next request rebuilds.
    cachedTable_ = table;
    cachedVersion_ = version;
  }
  Reply r;
  r.contentType = "application/octet-stream";
  r.body = *table;
  r.cacheControl = "public, max-age=5";
  return r;
}

Outcome RankingService::AdmitEntry(std::string_view address, std::int64_t now, Reply* refusal) {
  struct statvfs disk {};
  if (limits_.minFreeBytes != 0 && statvfs(limits_.folder.c_str(), &disk) == 0 &&
      std::uint64_t{disk.f_bavail} * disk.f_frsize < limits_.minFreeBytes) {
    std::int64_t logged = spaceLogged_;
    if (limits_.log && now - logged >= 60 && spaceLogged_.compare_exchange_strong(logged, now)) {
      limits_.log("entries refused (507): " +
                  std::to_string(std::uint64_t{disk.f_bavail} * disk.f_frsize >> 20) +
                  " MB free on the file system of " + limits_.folder + ", below the floor of " +
                  std::to_string(limits_.minFreeBytes >> 20) + " MB");
    }
    *refusal = ErrorReply(Outcome::kNoSpace);
    return Outcome::kNoSpace;
  }
  std::uint32_t count = 0;
  std::int64_t oldest = 0;
  // When the count cannot be read the entry goes on: the insert counts again.
  if (limits_.entriesPerAddressPerDay != 0 && !address.empty() &&
      store_.AddressEntries(address, now - kDaySeconds, &count, &oldest) == StoreResult::kOk &&
      count >= limits_.entriesPerAddressPerDay) {
    *refusal = LimitReply(now, oldest);
    return Outcome::kTooManyEntries;
  }
  return Outcome::kOk;
}

Reply RankingService::LimitReply(std::string_view address, std::int64_t now) {
  std::uint32_t count = 0;
  std::int64_t oldest = 0;
  const bool read =
      store_.AddressEntries(address, now - kDaySeconds, &count, &oldest) == StoreResult::kOk &&
      count != 0;
  return LimitReply(now, read ? oldest : 0);
}

Reply RankingService::LimitReply(std::int64_t now, std::int64_t oldest) {
  Reply r = ErrorReply(Outcome::kTooManyEntries);
  if (oldest == 0) return r;
  // The oldest of the day's entries leaves the window then.
  const std::int64_t opens = oldest + kDaySeconds;
  r.retryAfterS = std::max<std::int64_t>(opens - now, 1);
  r.body = RenderLimitPage(limits_.entriesPerAddressPerDay, opens);
  return r;
}

Outcome RankingService::ReadRun(std::int64_t now, std::string_view address, NewEntry* entry) {
  const std::string_view replay = entry->replay;
  if (replay.size() > kMaxReplayBytes) return Outcome::kReplayTooLarge;
  ReplaySummary summary{};
  const int check = ValidateReplayBytes(reinterpret_cast<const unsigned char*>(replay.data()),
                                        replay.size(), &summary);
  if (check != 0) return Outcome::kInvalidReplay;
  // Bytes after the declared payload are not part of the run: neither stored nor a new entry.
  const std::string_view run = replay.substr(0, summary.size);
  entry->runSize = summary.size;
  if (!RunDigest(summary.route, run.substr(kReplayHeaderSize), &entry->digest)) {
    return Outcome::kNotStored;
  }
  entry->entry.address = address;
  entry->entry.route = summary.route;
  entry->entry.timeTicks = summary.time;
  entry->entry.distance = summary.distance;
  entry->entry.created = now;
  entry->deadline = std::chrono::steady_clock::now() + kWriteWait;
  return Outcome::kOk;
}

Outcome RankingService::AddReplay(std::string_view replay, std::int64_t now, StoredEntry* entry,
                                  std::string_view address) {
  NewEntry e;
  e.replay = replay;
  Outcome outcome = ReadRun(now, address, &e);
  if (outcome == Outcome::kOk) outcome = StoreEntries({&e, 1}).front().outcome;
  *entry = e.entry;
  return outcome;
}

std::vector<Reply> RankingService::StoreEntries(std::span<NewEntry> entries,
                                                const std::atomic<bool>* giveUp) {
  // A clash of 96 random bits is practically impossible; a few tries cover it anyway.
  std::vector<NewEntry*> batch;
  for (int attempt = 0; attempt < 3; ++attempt) {
    batch.clear();
    for (NewEntry& e : entries) {
      if (attempt > 0 && e.result != StoreResult::kIdTaken) continue;
      e.result = StoreResult::kFailed;
      if (NewEntryId(&e.entry.id)) batch.push_back(&e);
    }
    if (batch.empty()) break;
    store_.AddBatch(batch, giveUp);
  }
  std::vector<Reply> replies;
  replies.reserve(entries.size());
  for (const NewEntry& e : entries) {
    const Outcome outcome = OutcomeOf(e.result, StoreAccess::kWrite);
    replies.push_back(outcome == Outcome::kOk ? HtmlReply(RenderEntryAccepted(e.entry))
                      : outcome == Outcome::kTooManyEntries
                          ? LimitReply(e.entry.address, e.entry.created)
                          : ErrorReply(outcome));
  }
  return replies;
}

Outcome RankingService::ReadEntry(std::string_view contentType, std::string_view body,
                                  std::int64_t now, std::string_view address, NewEntry* entry) {
  if (body.size() > kMaxEntryBody) return Outcome::kBodyTooLarge;
  MultipartForm form;
  if (!ParseMultipartForm(contentType, body, &form)) return Outcome::kBadForm;
  const FormPart* frep = form.Find(kReplayField);
  if (frep == nullptr) return Outcome::kNoReplay;
  for (std::size_t i = 0; i < form.count; ++i) {
    if (&form.parts[i] != frep && form.parts[i].name == kReplayField) {
      return Outcome::kRepeatedReplay;
    }
  }
  if (!DecodeBase64(frep->data, &entry->replay, kMaxReplayBytes)) return Outcome::kBadBase64;
  return ReadRun(now, address, entry);
}

Reply RankingService::PostEntry(std::string_view contentType, std::string_view body,
                                std::int64_t now, std::string_view address) {
  NewEntry entry;
  const Outcome outcome = ReadEntry(contentType, body, now, address, &entry);
  if (outcome != Outcome::kOk) return ErrorReply(outcome);
  return std::move(StoreEntries({&entry, 1}).front());
}

Reply RankingService::EntryPage(std::string_view uniqueId) {
  if (!IsEntryIdShape(uniqueId)) return ErrorReply(Outcome::kUnknownEntry);
  StoredEntry entry;
  std::uint32_t rank = 0;
  std::uint32_t count = 0;
  std::vector<StoredEntry> around;
  const StoreResult found = standings_.Find(uniqueId, &entry, &rank, &count, &around, kNeighbours);
  if (found != StoreResult::kOk) return ErrorReply(OutcomeOf(found, StoreAccess::kRead));
  if (entry.hidden) return ErrorReply(Outcome::kWithdrawn);
  return HtmlReply(RenderEntryPage(entry, rank, count, around));
}

Reply RankingService::Index() {
  std::vector<RouteStanding> routes;
  if (const StoreResult read = standings_.Best(&routes); read != StoreResult::kOk) {
    return ErrorReply(OutcomeOf(read, StoreAccess::kRead));
  }
  return HtmlReply(RenderIndex(routes));
}

Reply RankingService::RoutePage(std::string_view route, std::string_view query) {
  // route is what follows the ranking's path: three digits and a slash.
  const std::uint32_t number =
      route.size() == 4 && route[3] == '/' ? PlainNumber(route.substr(0, 3)) : 0;
  const std::uint32_t pageNumber = PageOf(query);
  const auto first = static_cast<std::uint32_t>(kFirstRoute);
  if (number < first || number - first >= static_cast<std::uint32_t>(kRouteCount) ||
      pageNumber == 0) {
    return ErrorReply(Outcome::kNotFound);
  }
  std::vector<StoredEntry> rows;
  std::uint32_t count = 0;
  if (const StoreResult read =
          standings_.Ranked(number, (pageNumber - 1) * kRowsPerPage, kRowsPerPage, &rows, &count);
      read != StoreResult::kOk) {
    return ErrorReply(OutcomeOf(read, StoreAccess::kRead));
  }
  if (pageNumber > PageCount(count)) return ErrorReply(Outcome::kNotFound);
  return HtmlReply(RenderRoutePage(number, pageNumber, count, rows));
}

Reply RankingService::ReplayFile(std::string_view id) {
  if (!IsEntryIdShape(id)) return ErrorReply(Outcome::kUnknownEntry);
  StoredEntry entry;
  Reply r;
  std::int64_t row = 0;
  const StoreResult found = store_.ReplayPlace(id, &entry, &row, &r.readSize);
  if (found != StoreResult::kOk) return ErrorReply(OutcomeOf(found, StoreAccess::kRead));
  if (entry.hidden) return ErrorReply(Outcome::kWithdrawn);
  r.contentType = "application/octet-stream";
  r.fileName = ReplayFileName(entry.route);
  r.read = [this, row](std::size_t offset, char* to, std::size_t size) {
    return store_.ReadReplay(row, offset, to, size);
  };
  return r;
}

Reply RankingService::Read(std::string_view path, std::string_view uniqueId,
                           std::string_view query) {
  const Route* route = FindRoute("GET", path);
  return route == nullptr ? ErrorReply(Outcome::kNotFound) : Read(*route, path, uniqueId, query);
}

Reply RankingService::Read(const Route& route, std::string_view path, std::string_view uniqueId,
                           std::string_view query) {
  switch (route.kind) {
    case RouteKind::kScoreTable:
      return ScoreTable();
    case RouteKind::kEntryPage:
      return EntryPage(uniqueId);
    case RouteKind::kIndex:
      return Index();
    case RouteKind::kRanking:
      return RoutePage(RouteRest(route, path), query);
    case RouteKind::kReplay:
      return ReplayFile(RouteRest(route, path));
    case RouteKind::kEntryPost:  // posted (PostEntry), never read
      break;
  }
  return ErrorReply(Outcome::kNotFound);
}

}  // namespace qlan::server
