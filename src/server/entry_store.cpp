// SQLite storage of the ranking's entries.
#include "server/entry_store.h"

#include <sqlite3.h>

#include <cstring>

namespace qlan::server {
namespace {

// Ranking order on a route: shorter time first, then longer distance, then the earlier
// entry (rowid grows with every insert).
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS entries ("
    " id TEXT NOT NULL UNIQUE,"
    " route INTEGER NOT NULL CHECK (route BETWEEN 710 AND 749),"
    " time_ticks INTEGER NOT NULL,"
    " distance INTEGER NOT NULL,"
    " created INTEGER NOT NULL,"
    " replay BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS entries_by_rank ON entries (route, time_ticks, distance DESC);";

// Resets a statement when it goes out of scope, so that no read transaction stays open.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* s) noexcept : s_(s) {}
  ~StatementUse() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

 private:
  sqlite3_stmt* s_;
};

bool BindText(sqlite3_stmt* s, int index, std::string_view text) {
  return sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()),
                           SQLITE_TRANSIENT) == SQLITE_OK;
}

std::uint32_t ColumnU32(sqlite3_stmt* s, int column) {
  const sqlite3_int64 v = sqlite3_column_int64(s, column);
  return v < 0 ? 0u : (v > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v));
}

void ReadEntry(sqlite3_stmt* s, StoredEntry* e) {
  const unsigned char* id = sqlite3_column_text(s, 0);
  e->id.assign(id ? reinterpret_cast<const char*>(id) : "",
               static_cast<std::size_t>(sqlite3_column_bytes(s, 0)));
  e->route = ColumnU32(s, 1);
  e->timeTicks = ColumnU32(s, 2);
  e->distance = ColumnU32(s, 3);
  e->created = sqlite3_column_int64(s, 4);
}

}  // namespace

EntryStore::~EntryStore() { Close(); }

void EntryStore::FinalizeAll() noexcept {
  for (sqlite3_stmt** s : {&insert_, &find_, &rank_, &count_, &best_, &counts_, &same_}) {
    sqlite3_finalize(*s);
    *s = nullptr;
  }
}

void EntryStore::Close() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  FinalizeAll();
  if (db_ != nullptr) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
}

sqlite3_stmt* EntryStore::Prepare(const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    return nullptr;
  }
  return s;
}

bool EntryStore::Open(const std::string& path, bool fullSync, std::string* error) {
  Close();
  std::lock_guard<std::mutex> lock(mutex_);
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    *error = db_ ? sqlite3_errmsg(db_) : "cannot open the database";
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  const std::string pragmas = std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=") +
                              (fullSync ? "FULL" : "NORMAL") + ";";
  char* message = nullptr;
  if (sqlite3_exec(db_, pragmas.c_str(), nullptr, nullptr, &message) != SQLITE_OK ||
      sqlite3_exec(db_, kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
    *error = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  // WAL must really be in force (it is not on some file systems).
  {
    sqlite3_stmt* s = Prepare("PRAGMA journal_mode;");
    bool wal = false;
    if (s != nullptr && sqlite3_step(s) == SQLITE_ROW) {
      const unsigned char* mode = sqlite3_column_text(s, 0);
      wal = mode != nullptr && std::string_view(reinterpret_cast<const char*>(mode)) == "wal";
    }
    sqlite3_finalize(s);
    if (!wal) {
      *error = "the database cannot be put into WAL mode";
      sqlite3_close(db_);
      db_ = nullptr;
      return false;
    }
  }
  insert_ = Prepare(
      "INSERT INTO entries (id, route, time_ticks, distance, created, replay)"
      " VALUES (?1, ?2, ?3, ?4, ?5, ?6);");
  find_ =
      Prepare("SELECT id, route, time_ticks, distance, created, rowid FROM entries WHERE id = ?1;");
  rank_ = Prepare(
      "SELECT COUNT(*) FROM entries WHERE route = ?1 AND (time_ticks < ?2 OR (time_ticks = ?2 AND"
      " (distance > ?3 OR (distance = ?3 AND rowid < ?4))));");
  count_ = Prepare("SELECT COUNT(*) FROM entries WHERE route = ?1;");
  best_ = Prepare(
      "SELECT id, route, time_ticks, distance, created FROM entries WHERE route = ?1"
      " ORDER BY time_ticks, distance DESC, rowid LIMIT ?2;");
  counts_ = Prepare("SELECT route, COUNT(*) FROM entries GROUP BY route;");
  // Identical bytes have identical header values, so the rank index finds the candidates.
  same_ = Prepare(
      "SELECT id, route, time_ticks, distance, created, replay FROM entries"
      " WHERE route = ?1 AND time_ticks = ?2 AND distance = ?3;");
  if (!insert_ || !find_ || !rank_ || !count_ || !best_ || !counts_ || !same_) {
    *error = sqlite3_errmsg(db_);
    FinalizeAll();
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

std::uint64_t EntryStore::generation() const noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

StoreResult EntryStore::Add(StoredEntry* entry, std::string_view replay) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return StoreResult::kFailed;
  {
    StatementUse use(same_);
    sqlite3_bind_int64(same_, 1, entry->route);
    sqlite3_bind_int64(same_, 2, entry->timeTicks);
    sqlite3_bind_int64(same_, 3, entry->distance);
    int rc;
    while ((rc = sqlite3_step(same_)) == SQLITE_ROW) {
      const void* blob = sqlite3_column_blob(same_, 5);
      const auto size = static_cast<std::size_t>(sqlite3_column_bytes(same_, 5));
      if (size == replay.size() && (size == 0 || std::memcmp(blob, replay.data(), size) == 0)) {
        ReadEntry(same_, entry);
        return StoreResult::kExisting;
      }
    }
    if (rc != SQLITE_DONE) return StoreResult::kFailed;
  }
  StatementUse use(insert_);
  if (!BindText(insert_, 1, entry->id) ||
      sqlite3_bind_int64(insert_, 2, entry->route) != SQLITE_OK ||
      sqlite3_bind_int64(insert_, 3, entry->timeTicks) != SQLITE_OK ||
      sqlite3_bind_int64(insert_, 4, entry->distance) != SQLITE_OK ||
      sqlite3_bind_int64(insert_, 5, entry->created) != SQLITE_OK ||
      sqlite3_bind_blob64(insert_, 6, replay.data(), replay.size(), SQLITE_STATIC) != SQLITE_OK) {
    return StoreResult::kFailed;
  }
  const int rc = sqlite3_step(insert_);
  if (rc == SQLITE_DONE) {
    ++generation_;
    return StoreResult::kOk;
  }
  if (sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE) return StoreResult::kDuplicate;
  return StoreResult::kFailed;
}

StoreResult EntryStore::Find(std::string_view id, StoredEntry* entry, std::uint32_t* rank,
                             std::uint32_t* routeCount) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return StoreResult::kFailed;
  sqlite3_int64 rowid = 0;
  {
    StatementUse use(find_);
    if (!BindText(find_, 1, id)) return StoreResult::kFailed;
    const int rc = sqlite3_step(find_);
    if (rc == SQLITE_DONE) return StoreResult::kNotFound;
    if (rc != SQLITE_ROW) return StoreResult::kFailed;
    ReadEntry(find_, entry);
    rowid = sqlite3_column_int64(find_, 5);
  }
  {
    StatementUse use(rank_);
    sqlite3_bind_int64(rank_, 1, entry->route);
    sqlite3_bind_int64(rank_, 2, entry->timeTicks);
    sqlite3_bind_int64(rank_, 3, entry->distance);
    sqlite3_bind_int64(rank_, 4, rowid);
    if (sqlite3_step(rank_) != SQLITE_ROW) return StoreResult::kFailed;
    *rank = ColumnU32(rank_, 0) + 1;
  }
  {
    StatementUse use(count_);
    sqlite3_bind_int64(count_, 1, entry->route);
    if (sqlite3_step(count_) != SQLITE_ROW) return StoreResult::kFailed;
    *routeCount = ColumnU32(count_, 0);
  }
  return StoreResult::kOk;
}

StoreResult EntryStore::Standings(std::vector<RouteStanding>* routes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) return StoreResult::kFailed;
  routes->assign(static_cast<std::size_t>(kRouteCount), RouteStanding());
  // One read transaction, so that counts and best lists agree.
  if (sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
    return StoreResult::kFailed;
  StoreResult result = StoreResult::kOk;
  {
    StatementUse use(counts_);
    int rc;
    while ((rc = sqlite3_step(counts_)) == SQLITE_ROW) {
      const std::uint32_t route = ColumnU32(counts_, 0);
      const std::uint32_t first = static_cast<std::uint32_t>(kFirstRoute);
      if (route >= first && route - first < static_cast<std::uint32_t>(kRouteCount)) {
        (*routes)[route - first].count = ColumnU32(counts_, 1);
      }
    }
    if (rc != SQLITE_DONE) result = StoreResult::kFailed;
  }
  for (int i = 0; i < kRouteCount && result == StoreResult::kOk; ++i) {
    RouteStanding& standing = (*routes)[static_cast<std::size_t>(i)];
    if (standing.count == 0) continue;
    StatementUse use(best_);
    sqlite3_bind_int64(best_, 1, kFirstRoute + i);
    sqlite3_bind_int64(best_, 2, static_cast<sqlite3_int64>(kBestPerRoute));
    int rc;
    while ((rc = sqlite3_step(best_)) == SQLITE_ROW) {
      StoredEntry e;
      ReadEntry(best_, &e);
      standing.best.push_back(std::move(e));
    }
    if (rc != SQLITE_DONE) result = StoreResult::kFailed;
  }
  sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  return result;
}

}  // namespace qlan::server
