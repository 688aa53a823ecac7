// The ranking's entries in an SQLite database (WAL mode). Each entry is stored by one
// statement in its own transaction, and acknowledged only after it has been committed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "records/highscore.h"
#include "records/replay.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qlan::server {

// Identifiers of this many best entries per route go into the high-score table.
inline constexpr std::size_t kBestPerRoute = kHighScoreSlotCount;

struct StoredEntry {
  std::string id;
  std::uint32_t route = 0;
  std::uint32_t timeTicks = 0;
  std::uint32_t distance = 0;
  std::int64_t created = 0;  // seconds since 1970-01-01 UTC
};

// One route of the ranking: how many entries it has and its best ones in rank order.
struct RouteStanding {
  std::uint32_t count = 0;
  std::vector<StoredEntry> best;  // at most kBestPerRoute
};

// kExisting: the same replay bytes are stored already.
enum class StoreResult { kOk, kExisting, kNotFound, kDuplicate, kFailed };

class EntryStore {
 public:
  EntryStore() = default;
  ~EntryStore();
  EntryStore(const EntryStore&) = delete;
  EntryStore& operator=(const EntryStore&) = delete;

  // Opens (creating when missing) the database and its schema. fullSync makes every
  // commit reach the disk before it is acknowledged (synchronous=FULL), so that even a
  // power cut keeps acknowledged entries; otherwise only a killed process is survived.
  bool Open(const std::string& path, bool fullSync, std::string* error);
  void Close() noexcept;

  // kOk; kExisting with *entry replaced by the stored entry of the same replay bytes, so
  // that a replay posted again is the same entry; kDuplicate (the identifier is taken) or
  // kFailed.
  StoreResult Add(StoredEntry* entry, std::string_view replay);
  // kOk with the entry, its rank on its route (1 = best) and the route's entry count;
  // kNotFound or kFailed.
  StoreResult Find(std::string_view id, StoredEntry* entry, std::uint32_t* rank,
                   std::uint32_t* routeCount);
  // Every route's standing, index 0 for route 710.
  StoreResult Standings(std::vector<RouteStanding>* routes);

  // Changes with every stored entry (for caches built from the standings).
  std::uint64_t generation() const noexcept;

 private:
  sqlite3_stmt* Prepare(const char* sql);
  void FinalizeAll() noexcept;

  mutable std::mutex mutex_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* find_ = nullptr;
  sqlite3_stmt* rank_ = nullptr;
  sqlite3_stmt* count_ = nullptr;
  sqlite3_stmt* best_ = nullptr;
  sqlite3_stmt* counts_ = nullptr;
  sqlite3_stmt* same_ = nullptr;
  std::uint64_t generation_ = 1;
};

}  // namespace qlan::server
