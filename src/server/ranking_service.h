// What the ranking server does for each of its addresses, independent of the HTTP library:
// tests and fuzzers call it directly.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/upload.h"
#include "server/entry_store.h"
#include "server/outcome.h"
#include "server/site.h"
#include "server/standings.h"

namespace qlan::server {

// Largest body the tool can send, with room for a client's CR LF line ends.
inline constexpr std::uint64_t kMaxEntryBody =
    std::uint64_t{kMaxEntryTextLength} + kFormFixedLength + 4096;
// Largest replay: what a Base64 text of the tool's longest length decodes to.
inline constexpr std::size_t kMaxReplayBytes = std::size_t{kMaxEntryTextLength} / 4 * 3;

struct Reply {
  Outcome outcome = Outcome::kOk;
  std::string contentType;
  std::string body;
  std::string fileName;          // offered as a download under this name when not empty
  std::int64_t retryAfterS = 0;  // sent as Retry-After when not 0
  // Pages, replays and refusals are asked for again each time (and kept for back and
  // forward); the table alone may be kept a few seconds, by a CDN say.
  const char* cacheControl = "no-cache";
  // When set, the body is rather these readSize bytes, read in pieces as they are sent:
  // size bytes from offset; false when they cannot be read.
  std::function<bool(std::size_t offset, char* to, std::size_t size)> read;
  std::size_t readSize = 0;
};

// What the service lets into the database (the program's options set them; 0: no bound).
struct AdmissionLimits {
  std::uint32_t entriesPerAddressPerDay = 0;    // new entries in any 24 hours
  std::uint64_t minFreeBytes = 0;               // free space kept on the database's file system
  std::string folder{};                         // the database's folder, for minFreeBytes
  std::function<void(std::string_view)> log{};  // why entries are refused, once a minute
};

// The error page of an outcome, as every refusal is answered.
Reply ErrorReply(Outcome outcome);

class RankingService {
 public:
  explicit RankingService(EntryStore& store, AdmissionLimits limits = {})
      : store_(store), limits_(std::move(limits)), standings_(store) {
    store_.SetAddressLimit(limits_.entriesPerAddressPerDay);
  }

  // Every method may be called from several threads at once.

  // GET "/sw/qlan/score.dat": the high-score file built from the stored entries.
  Reply ScoreTable();
  // Whether an entry from address (empty: not limited) may be sent now, asked on its head
  // before its body is read: kOk, or why not with the page to answer in *refusal.
  Outcome AdmitEntry(std::string_view address, std::int64_t now, Reply* refusal);
  // POST "/sw/qlan/hsentry/0/": the multipart form with the replay's Base64 in "frep";
  // now is the entry's date (seconds since 1970 UTC), address its sender's. ReadEntry, then
  // StoreEntries of one.
  Reply PostEntry(std::string_view contentType, std::string_view body, std::int64_t now,
                  std::string_view address = {});
  // An entry's form read, decoded and validated, its run's digest taken, without the
  // database: kOk with *entry ready for StoreEntries (to wait kWriteWait), or why not.
  Outcome ReadEntry(std::string_view contentType, std::string_view body, std::int64_t now,
                    std::string_view address, NewEntry* entry);
  // Stores entries from ReadEntry together (EntryStore::AddBatch), giving an entry whose
  // identifier is taken another; each one's reply, in order.
  std::vector<Reply> StoreEntries(std::span<NewEntry> entries,
                                  const std::atomic<bool>* giveUp = nullptr);
  // Validates and stores replay bytes (as PostEntry does after decoding): kOk and *entry
  // (the stored one when the same run came before), or why they are refused.
  Outcome AddReplay(std::string_view replay, std::int64_t now, StoredEntry* entry,
                    std::string_view address = {});
  // GET "/sw/qlan/hsentry/1/?UNIQUE_ID=id".
  Reply EntryPage(std::string_view uniqueId);
  // GET or HEAD of any path, as its route in the site's table (site.h) says: the table, the
  // entry page, the index, a route's ranking, a replay, or the 404 page. uniqueId is the
  // query's field of that name; query is the query text as received, of which a route's
  // ranking takes nothing but "page=N" in plain digits.
  Reply Read(std::string_view path, std::string_view uniqueId, std::string_view query);
  // The same for a request whose route the caller has found already (FindRoute).
  Reply Read(const Route& route, std::string_view path, std::string_view uniqueId,
             std::string_view query);

 private:
  Reply Index();
  // The rest of a ranking's or a replay's path: "710/", an identifier.
  Reply RoutePage(std::string_view route, std::string_view query);
  Reply ReplayFile(std::string_view id);
  // The 429 page of address, saying when it may send again: a day after the oldest of its
  // day's entries (0: not known, no time said).
  Reply LimitReply(std::string_view address, std::int64_t now);
  Reply LimitReply(std::int64_t now, std::int64_t oldest);
  // Validates entry->replay as ReadEntry does after decoding.
  static Outcome ReadRun(std::int64_t now, std::string_view address, NewEntry* entry);

  EntryStore& store_;
  const AdmissionLimits limits_;
  Standings standings_;
  std::atomic<std::int64_t> spaceLogged_{0};
  std::mutex cacheMutex_;
  std::uint64_t cachedVersion_ = 0;
  std::shared_ptr<const std::string> cachedTable_;
};

}  // namespace qlan::server
