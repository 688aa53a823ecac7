// SQLite storage of the ranking's entries.
#include "server/entry_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <set>
#include <thread>

namespace qlan::server {
namespace {

// The digest and hidden columns are added to older databases by Upgrade, and the indexes
// after it, since they name those columns.
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS entries ("
    " id TEXT NOT NULL UNIQUE,"
    " route INTEGER NOT NULL CHECK (route BETWEEN 710 AND 749),"
    " time_ticks INTEGER NOT NULL,"
    " distance INTEGER NOT NULL,"
    " created INTEGER NOT NULL,"
    " replay BLOB NOT NULL,"
    " digest BLOB,"
    " hidden INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS moderation ("
    " entry TEXT NOT NULL, at INTEGER NOT NULL, hidden INTEGER NOT NULL, reason TEXT NOT NULL);";
// Ranking order on a route: shorter time first, then longer distance, then the earlier
// entry (rowid grows with every insert); withdrawn entries are left out of the index.
constexpr char kIndexes[] =
    "CREATE UNIQUE INDEX IF NOT EXISTS entries_by_digest ON entries (digest);"
    "DROP INDEX IF EXISTS entries_by_rank;"
    "CREATE INDEX IF NOT EXISTS shown_by_rank ON entries (route, time_ticks, distance DESC)"
    " WHERE hidden = 0;";
constexpr char kEntryColumns[] = "SELECT id, route, time_ticks, distance, created, hidden";
constexpr char kRankOrder[] = " ORDER BY time_ticks, distance DESC, rowid";
using Clock = std::chrono::steady_clock;
constexpr int kReadBusyMs = 1000;  // WAL readers wait only in rare cases (recovery)
// How often a writer that waits for the lock looks again (and at its deadline and a stop).
constexpr auto kBusyPoll = std::chrono::milliseconds(5);

// One read transaction over several statements, so that what they read agrees.
class ReadTransaction {
 public:
  explicit ReadTransaction(sqlite3* db) noexcept
      : db_(db), ok_(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK) {}
  ~ReadTransaction() {
    if (ok_) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;
  bool ok() const noexcept { return ok_; }

 private:
  sqlite3* db_;
  bool ok_;
};

// Resets a statement when it goes out of scope, so that no read transaction stays open.
class StatementUse {
 public:
  explicit StatementUse(const SqliteStatement& s) noexcept : s_(s.get()) {}
  ~StatementUse() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

 private:
  sqlite3_stmt* s_;
};

bool BindText(const SqliteStatement& s, int index, std::string_view text) {
  return sqlite3_bind_text(s.get(), index, text.data(), static_cast<int>(text.size()),
                           SQLITE_TRANSIENT) == SQLITE_OK;
}

bool BindBlob(const SqliteStatement& s, int index, const void* data, std::size_t size) {
  return sqlite3_bind_blob64(s.get(), index, data, size, SQLITE_STATIC) == SQLITE_OK;
}

std::uint32_t ColumnU32(const SqliteStatement& s, int column) {
  const sqlite3_int64 v = sqlite3_column_int64(s.get(), column);
  return v < 0 ? 0u : (v > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v));
}

// The columns of kEntryColumns.
void ReadEntry(const SqliteStatement& s, StoredEntry* e) {
  const unsigned char* id = sqlite3_column_text(s.get(), 0);
  e->id.assign(id ? reinterpret_cast<const char*>(id) : "",
               static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 0)));
  e->route = ColumnU32(s, 1);
  e->timeTicks = ColumnU32(s, 2);
  e->distance = ColumnU32(s, 3);
  e->created = sqlite3_column_int64(s.get(), 4);
  e->hidden = sqlite3_column_int(s.get(), 5) != 0;
}

// Steps through every row of a bound statement; kOk when all were read.
StoreResult ReadEntries(const SqliteStatement& s, std::vector<StoredEntry>* rows) {
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    StoredEntry e;
    ReadEntry(s, &e);
    rows->push_back(std::move(e));
  }
  return rc == SQLITE_DONE ? StoreResult::kOk : StoreResult::kFailed;
}

SqliteStatement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
  return SqliteStatement(s);
}

bool Exec(sqlite3* db, const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

SqliteDatabase OpenConnection(const std::string& path, int busyMs, std::string* error) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  SqliteDatabase owned(db);
  if (rc != SQLITE_OK) {
    *error = db ? sqlite3_errmsg(db) : "cannot open the database";
    return nullptr;
  }
  sqlite3_busy_timeout(db, busyMs);
  return owned;
}

// The bytes of a stored replay that make the run: the validated ones, or all of a replay
// that no longer validates.
std::string_view RunBytes(const void* blob, int size) {
  const std::string_view bytes(static_cast<const char*>(blob), static_cast<std::size_t>(size));
  ReplaySummary summary{};
  const bool valid = ValidateReplayBytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                                         bytes.size(), &summary) == 0;
  return valid ? bytes.substr(0, summary.size) : bytes;
}

// Gives a database written without digests its column, within the open transaction: the
// first copy of each run gets the digest, later copies of it keep theirs empty (they stay
// entries, with their identifiers and pages, and new posts of the run find the first).
bool AddDigests(sqlite3* db, std::string* note, std::string* error) {
  if (!Exec(db, "ALTER TABLE entries ADD COLUMN digest BLOB;", error)) return false;
  const SqliteStatement rows = Prepare(db, "SELECT rowid, replay FROM entries ORDER BY rowid;");
  const SqliteStatement set = Prepare(db, "UPDATE entries SET digest = ?1 WHERE rowid = ?2;");
  if (!rows || !set) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  std::set<Sha256Digest> seen;
  std::size_t copies = 0;
  int rc;
  while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
    Sha256Digest digest{};
    if (!Sha256(RunBytes(sqlite3_column_blob(rows.get(), 1), sqlite3_column_bytes(rows.get(), 1)),
                &digest)) {
      *error = "cannot compute a digest";
      return false;
    }
    if (!seen.insert(digest).second) {
      ++copies;
      continue;
    }
    const StatementUse use(set);
    if (!BindBlob(set, 1, digest.data(), digest.size()) ||
        sqlite3_bind_int64(set.get(), 2, sqlite3_column_int64(rows.get(), 0)) != SQLITE_OK ||
        sqlite3_step(set.get()) != SQLITE_DONE) {
      *error = sqlite3_errmsg(db);
      return false;
    }
  }
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  *note = "gave " + std::to_string(seen.size()) + " entries their digest; " +
          std::to_string(copies) + " repeated copies of a run kept without one";
  return true;
}

// Brings an older database's entries table up to the schema; *note says what changed.
bool Upgrade(sqlite3* db, std::string* note, std::string* error) {
  std::set<std::string, std::less<>> columns;
  {
    const SqliteStatement info = Prepare(db, "PRAGMA table_info(entries);");
    while (info && sqlite3_step(info.get()) == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(info.get(), 1);
      if (name != nullptr) columns.emplace(reinterpret_cast<const char*>(name));
    }
  }
  if (columns.count("digest") == 0 && !AddDigests(db, note, error)) return false;
  if (columns.count("hidden") == 0) {
    if (!Exec(db, "ALTER TABLE entries ADD COLUMN hidden INTEGER NOT NULL DEFAULT 0;", error)) {
      return false;
    }
    *note += std::string(note->empty() ? "" : "; ") + "entries can be withdrawn now";
  }
  return true;
}

bool Step(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace

void SqliteCloser::operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
void SqliteCloser::operator()(sqlite3_stmt* statement) const noexcept {
  sqlite3_finalize(statement);
}
void SqliteCloser::operator()(sqlite3_blob* blob) const noexcept { sqlite3_blob_close(blob); }

void EntryStore::Close() noexcept {
  {
    const std::lock_guard<std::timed_mutex> lock(writeMutex_);
    insert_.reset();
    byDigest_.reset();
    writer_.reset();
  }
  const std::lock_guard<std::mutex> lock(readMutex_);
  for (SqliteStatement* s : {&find_, &rank_, &count_, &ranked_, &counts_, &version_}) s->reset();
  reader_.reset();
}

bool EntryStore::Open(const std::string& path, bool fullSync, std::string* error) {
  Close();
  const std::lock_guard<std::timed_mutex> writeLock(writeMutex_);
  const std::lock_guard<std::mutex> readLock(readMutex_);
  upgradeNote_.clear();
  SqliteDatabase writer = OpenConnection(path, 0, error);
  if (!writer) return false;
  // One deadline per write, not a timeout per statement: see AddBatch.
  busyUntil_ = Clock::now() + kWriteWait;
  giveUp_ = nullptr;
  sqlite3_busy_handler(
      writer.get(),
      [](void* self, int) {
        const EntryStore& store = *static_cast<const EntryStore*>(self);
        const Clock::time_point now = Clock::now();
        if (now >= store.busyUntil_ || (store.giveUp_ != nullptr && *store.giveUp_)) return 0;
        std::this_thread::sleep_for(std::min<Clock::duration>(kBusyPoll, store.busyUntil_ - now));
        return 1;
      },
      this);
  const std::string pragmas = std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=") +
                              (fullSync ? "FULL" : "NORMAL") + ";";
  if (!Exec(writer.get(), pragmas.c_str(), error) ||
      !Exec(writer.get(), "BEGIN IMMEDIATE;", error)) {
    return false;
  }
  if (!Exec(writer.get(), kSchema, error) || !Upgrade(writer.get(), &upgradeNote_, error) ||
      !Exec(writer.get(), kIndexes, error) || !Exec(writer.get(), "COMMIT;", error)) {
    sqlite3_exec(writer.get(), "ROLLBACK;", nullptr, nullptr, nullptr);
    return false;
  }
  // WAL must really be in force (it is not on some file systems), or readers would wait.
  {
    const SqliteStatement mode = Prepare(writer.get(), "PRAGMA journal_mode;");
    const unsigned char* text = mode && sqlite3_step(mode.get()) == SQLITE_ROW
                                    ? sqlite3_column_text(mode.get(), 0)
                                    : nullptr;
    if (text == nullptr || std::string_view(reinterpret_cast<const char*>(text)) != "wal") {
      *error = "the database cannot be put into WAL mode";
      return false;
    }
  }
  SqliteDatabase reader = OpenConnection(path, kReadBusyMs, error);
  if (!reader || !Exec(reader.get(), "PRAGMA query_only=1;", error)) return false;

  insert_ = Prepare(writer.get(),
                    "INSERT INTO entries (id, route, time_ticks, distance, created, replay, digest)"
                    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7);");
  byDigest_ =
      Prepare(writer.get(), std::string(kEntryColumns) + " FROM entries WHERE digest = ?1;");
  find_ = Prepare(reader.get(), std::string(kEntryColumns) + ", rowid FROM entries WHERE id = ?1;");
  rank_ =
      Prepare(reader.get(),
              "SELECT COUNT(*) FROM entries WHERE route = ?1 AND hidden = 0 AND (time_ticks < ?2"
              " OR (time_ticks = ?2 AND (distance > ?3 OR (distance = ?3 AND rowid < ?4))));");
  count_ = Prepare(reader.get(), "SELECT COUNT(*) FROM entries WHERE route = ?1 AND hidden = 0;");
  ranked_ = Prepare(reader.get(), std::string(kEntryColumns) +
                                      " FROM entries WHERE route = ?1 AND hidden = 0" + kRankOrder +
                                      " LIMIT ?2 OFFSET ?3;");
  counts_ =
      Prepare(reader.get(), "SELECT route, COUNT(*) FROM entries WHERE hidden = 0 GROUP BY route;");
  version_ = Prepare(reader.get(), "PRAGMA data_version;");
  if (!insert_ || !byDigest_ || !find_ || !rank_ || !count_ || !ranked_ || !counts_ || !version_) {
    *error = sqlite3_errmsg(insert_ && byDigest_ ? reader.get() : writer.get());
    return false;
  }
  writer_ = std::move(writer);
  reader_ = std::move(reader);
  return true;
}

std::uint64_t EntryStore::Version() {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return 0;
  const StatementUse use(version_);
  return sqlite3_step(version_.get()) == SQLITE_ROW
             ? static_cast<std::uint64_t>(sqlite3_column_int64(version_.get(), 0))
             : 0;
}

void EntryStore::AddBatch(std::span<NewEntry* const> entries, const std::atomic<bool>* giveUp) {
  std::vector<NewEntry*> waiting(entries.begin(), entries.end());
  // Leaves those whose time is up kBusy (all of them when giving up): the earliest deadline
  // of the rest.
  const auto keepOnTime = [&waiting](bool all) {
    const Clock::time_point now = Clock::now();
    std::erase_if(waiting, [&](const NewEntry* e) { return all || e->deadline <= now; });
    Clock::time_point earliest = Clock::time_point::max();
    for (const NewEntry* e : waiting) earliest = std::min(earliest, e->deadline);
    return earliest;
  };
  for (NewEntry* e : entries) e->result = StoreResult::kBusy;
  std::unique_lock<std::timed_mutex> lock(writeMutex_, std::defer_lock);
  for (Clock::time_point until = keepOnTime(false); !waiting.empty() && !lock.try_lock_until(until);
       until = keepOnTime(false)) {
  }
  if (!lock.owns_lock()) return;
  giveUp_ = giveUp;
  for (;;) {
    busyUntil_ = keepOnTime(false);
    if (waiting.empty()) return;
    if (writer_ && Step(writer_.get(), "BEGIN IMMEDIATE")) break;
    if (!writer_ || sqlite3_errcode(writer_.get()) != SQLITE_BUSY) {
      for (NewEntry* e : waiting) e->result = StoreResult::kFailed;
      return;
    }
    if (giveUp != nullptr && *giveUp) keepOnTime(true);
  }
  bool rolledBack = false;
  for (NewEntry* e : waiting) {
    e->result = Insert(e);
    // Most errors undo one statement; a few (a full disk, I/O) the whole transaction.
    rolledBack = rolledBack || sqlite3_get_autocommit(writer_.get()) != 0;
  }
  if (rolledBack || !Step(writer_.get(), "COMMIT")) {
    Step(writer_.get(), "ROLLBACK");
    for (NewEntry* e : waiting) e->result = StoreResult::kFailed;
  }
}

StoreResult EntryStore::Add(StoredEntry* entry, std::string_view replay,
                            const Sha256Digest& digest) {
  NewEntry e;
  e.entry = *entry;
  e.replay = replay;
  e.runSize = replay.size();
  e.digest = digest;
  e.deadline = Clock::now() + kWriteWait;
  NewEntry* const one[] = {&e};
  AddBatch(one);
  *entry = e.entry;
  return e.result;
}

StoreResult EntryStore::Insert(NewEntry* e) {
  StoredEntry* entry = &e->entry;
  const std::string_view run = std::string_view(e->replay).substr(0, e->runSize);
  int rc;
  {
    const StatementUse use(insert_);
    if (!BindText(insert_, 1, entry->id) ||
        sqlite3_bind_int64(insert_.get(), 2, entry->route) != SQLITE_OK ||
        sqlite3_bind_int64(insert_.get(), 3, entry->timeTicks) != SQLITE_OK ||
        sqlite3_bind_int64(insert_.get(), 4, entry->distance) != SQLITE_OK ||
        sqlite3_bind_int64(insert_.get(), 5, entry->created) != SQLITE_OK ||
        !BindBlob(insert_, 6, run.data(), run.size()) ||
        !BindBlob(insert_, 7, e->digest.data(), e->digest.size())) {
      return StoreResult::kFailed;
    }
    rc = sqlite3_step(insert_.get());
  }
  if (rc == SQLITE_DONE) return StoreResult::kOk;
  if (sqlite3_extended_errcode(writer_.get()) != SQLITE_CONSTRAINT_UNIQUE) {
    return StoreResult::kFailed;
  }
  // Either the run is stored already (by this transaction too) or the identifier is taken.
  const StatementUse use(byDigest_);
  if (!BindBlob(byDigest_, 1, e->digest.data(), e->digest.size())) return StoreResult::kFailed;
  rc = sqlite3_step(byDigest_.get());
  if (rc == SQLITE_DONE) return StoreResult::kDuplicate;
  if (rc != SQLITE_ROW) return StoreResult::kFailed;
  ReadEntry(byDigest_, entry);
  return StoreResult::kExisting;
}

StoreResult EntryStore::Find(std::string_view id, StoredEntry* entry, std::uint32_t* rank,
                             std::uint32_t* routeCount, std::vector<StoredEntry>* around,
                             std::uint32_t radius) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const ReadTransaction transaction(reader_.get());
  if (!transaction.ok()) return StoreResult::kFailed;
  sqlite3_int64 rowid = 0;
  {
    const StatementUse use(find_);
    const int rc = BindText(find_, 1, id) ? sqlite3_step(find_.get()) : SQLITE_ERROR;
    if (rc == SQLITE_DONE) return StoreResult::kNotFound;
    if (rc != SQLITE_ROW) return StoreResult::kFailed;
    ReadEntry(find_, entry);
    rowid = sqlite3_column_int64(find_.get(), 6);
  }
  if (ReadCount(entry->route, routeCount) != StoreResult::kOk) return StoreResult::kFailed;
  *rank = 0;
  if (entry->hidden) return StoreResult::kOk;
  {
    const StatementUse use(rank_);
    sqlite3_bind_int64(rank_.get(), 1, entry->route);
    sqlite3_bind_int64(rank_.get(), 2, entry->timeTicks);
    sqlite3_bind_int64(rank_.get(), 3, entry->distance);
    sqlite3_bind_int64(rank_.get(), 4, rowid);
    if (sqlite3_step(rank_.get()) != SQLITE_ROW) return StoreResult::kFailed;
    *rank = ColumnU32(rank_, 0) + 1;
  }
  if (around == nullptr) return StoreResult::kOk;
  const std::uint32_t above = std::min(*rank - 1, radius);
  return ReadRanked(entry->route, *rank - 1 - above, above + 1 + radius, around);
}

StoreResult EntryStore::ReadCount(std::uint32_t route, std::uint32_t* count) {
  const StatementUse use(count_);
  sqlite3_bind_int64(count_.get(), 1, route);
  if (sqlite3_step(count_.get()) != SQLITE_ROW) return StoreResult::kFailed;
  *count = ColumnU32(count_, 0);
  return StoreResult::kOk;
}

StoreResult EntryStore::ReadRanked(std::uint32_t route, std::uint32_t offset, std::uint32_t limit,
                                   std::vector<StoredEntry>* rows) {
  const StatementUse use(ranked_);
  sqlite3_bind_int64(ranked_.get(), 1, route);
  sqlite3_bind_int64(ranked_.get(), 2, limit);
  sqlite3_bind_int64(ranked_.get(), 3, offset);
  return ReadEntries(ranked_, rows);
}

StoreResult EntryStore::Ranked(std::uint32_t route, std::uint32_t offset, std::uint32_t limit,
                               std::vector<StoredEntry>* rows, std::uint32_t* routeCount) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const ReadTransaction transaction(reader_.get());
  if (!transaction.ok() || ReadCount(route, routeCount) != StoreResult::kOk) {
    return StoreResult::kFailed;
  }
  return ReadRanked(route, offset, limit, rows);
}

StoreResult EntryStore::Standings(std::vector<RouteStanding>* routes) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  routes->assign(static_cast<std::size_t>(kRouteCount), RouteStanding());
  const ReadTransaction transaction(reader_.get());
  if (!transaction.ok()) return StoreResult::kFailed;
  {
    const StatementUse use(counts_);
    int rc;
    while ((rc = sqlite3_step(counts_.get())) == SQLITE_ROW) {
      const std::uint32_t route = ColumnU32(counts_, 0);
      const auto first = static_cast<std::uint32_t>(kFirstRoute);
      if (route >= first && route - first < static_cast<std::uint32_t>(kRouteCount)) {
        (*routes)[route - first].count = ColumnU32(counts_, 1);
      }
    }
    if (rc != SQLITE_DONE) return StoreResult::kFailed;
  }
  for (int i = 0; i < kRouteCount; ++i) {
    RouteStanding& standing = (*routes)[static_cast<std::size_t>(i)];
    if (standing.count != 0 &&
        ReadRanked(static_cast<std::uint32_t>(kFirstRoute + i), 0,
                   static_cast<std::uint32_t>(kBestPerRoute), &standing.best) != StoreResult::kOk) {
      return StoreResult::kFailed;
    }
  }
  return StoreResult::kOk;
}

StoreResult EntryStore::Replay(std::string_view id, StoredEntry* entry, std::string* bytes) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const SqliteStatement s =
      Prepare(reader_.get(), std::string(kEntryColumns) + ", replay FROM entries WHERE id = ?1;");
  const int rc = s && BindText(s, 1, id) ? sqlite3_step(s.get()) : SQLITE_ERROR;
  if (rc == SQLITE_DONE) return StoreResult::kNotFound;
  if (rc != SQLITE_ROW) return StoreResult::kFailed;
  ReadEntry(s, entry);
  const void* blob = sqlite3_column_blob(s.get(), 6);
  bytes->assign(static_cast<const char*>(blob),
                blob == nullptr ? 0 : static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 6)));
  return StoreResult::kOk;
}

StoreResult EntryStore::ReplayPlace(std::string_view id, StoredEntry* entry, std::int64_t* row,
                                    std::size_t* size) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const SqliteStatement s =
      Prepare(reader_.get(),
              std::string(kEntryColumns) + ", rowid, length(replay) FROM entries WHERE id = ?1;");
  const int rc = s && BindText(s, 1, id) ? sqlite3_step(s.get()) : SQLITE_ERROR;
  if (rc == SQLITE_DONE) return StoreResult::kNotFound;
  if (rc != SQLITE_ROW) return StoreResult::kFailed;
  ReadEntry(s, entry);
  *row = sqlite3_column_int64(s.get(), 6);
  *size = static_cast<std::size_t>(std::max(sqlite3_column_int64(s.get(), 7), sqlite3_int64{0}));
  return StoreResult::kOk;
}

bool EntryStore::ReadReplay(std::int64_t row, std::size_t offset, char* to, std::size_t size) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  sqlite3_blob* blob = nullptr;
  const int rc = reader_
                     ? sqlite3_blob_open(reader_.get(), "main", "entries", "replay", row, 0, &blob)
                     : SQLITE_ERROR;
  const std::unique_ptr<sqlite3_blob, SqliteCloser> owned(blob);
  return rc == SQLITE_OK && size <= INT32_MAX && offset <= INT32_MAX &&
         sqlite3_blob_read(blob, to, static_cast<int>(size), static_cast<int>(offset)) == SQLITE_OK;
}

StoreResult EntryStore::Latest(std::uint32_t route, std::uint32_t count,
                               std::vector<StoredEntry>* rows) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const SqliteStatement s =
      Prepare(reader_.get(), std::string(kEntryColumns) +
                                 " FROM entries WHERE ?1 = 0 OR route = ?1 ORDER BY rowid DESC"
                                 " LIMIT ?2;");
  if (!s) return StoreResult::kFailed;
  sqlite3_bind_int64(s.get(), 1, route);
  sqlite3_bind_int64(s.get(), 2, count);
  return ReadEntries(s, rows);
}

StoreResult EntryStore::History(std::string_view id, std::vector<ModerationEvent>* events) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const SqliteStatement s = Prepare(
      reader_.get(), "SELECT at, hidden, reason FROM moderation WHERE entry = ?1 ORDER BY rowid;");
  if (!s || !BindText(s, 1, id)) return StoreResult::kFailed;
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    const unsigned char* reason = sqlite3_column_text(s.get(), 2);
    events->push_back({sqlite3_column_int64(s.get(), 0), sqlite3_column_int(s.get(), 1) != 0,
                       reason ? reinterpret_cast<const char*>(reason) : ""});
  }
  return rc == SQLITE_DONE ? StoreResult::kOk : StoreResult::kFailed;
}

StoreResult EntryStore::SetHidden(std::string_view id, bool hidden, std::string_view reason,
                                  std::int64_t now) {
  const std::lock_guard<std::timed_mutex> lock(writeMutex_);
  busyUntil_ = Clock::now() + kWriteWait;
  giveUp_ = nullptr;
  if (!writer_ || !Step(writer_.get(), "BEGIN IMMEDIATE")) return StoreResult::kFailed;
  StoreResult result = StoreResult::kFailed;
  {
    const SqliteStatement change =
        Prepare(writer_.get(), "UPDATE entries SET hidden = ?2 WHERE id = ?1 AND hidden <> ?2;");
    const SqliteStatement record =
        Prepare(writer_.get(),
                "INSERT INTO moderation (entry, at, hidden, reason) VALUES (?1, ?2, ?3, ?4);");
    const SqliteStatement exists = Prepare(writer_.get(), "SELECT 1 FROM entries WHERE id = ?1;");
    if (change && record && exists && BindText(change, 1, id) &&
        sqlite3_bind_int(change.get(), 2, hidden ? 1 : 0) == SQLITE_OK &&
        sqlite3_step(change.get()) == SQLITE_DONE) {
      if (sqlite3_changes(writer_.get()) == 1) {
        result = BindText(record, 1, id) && sqlite3_bind_int64(record.get(), 2, now) == SQLITE_OK &&
                         sqlite3_bind_int(record.get(), 3, hidden ? 1 : 0) == SQLITE_OK &&
                         BindText(record, 4, reason) && sqlite3_step(record.get()) == SQLITE_DONE
                     ? StoreResult::kOk
                     : StoreResult::kFailed;
      } else if (BindText(exists, 1, id)) {
        const int rc = sqlite3_step(exists.get());
        result = rc == SQLITE_ROW    ? StoreResult::kExisting
                 : rc == SQLITE_DONE ? StoreResult::kNotFound
                                     : StoreResult::kFailed;
      }
    }
  }
  if (result != StoreResult::kOk || !Step(writer_.get(), "COMMIT")) {
    Step(writer_.get(), "ROLLBACK");
    return result == StoreResult::kOk ? StoreResult::kFailed : result;
  }
  return StoreResult::kOk;
}

}  // namespace qlan::server
