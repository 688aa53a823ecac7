// SQLite storage of the ranking's entries.
#include "server/entry_store.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>
#include <thread>

namespace qlan::server {
namespace {

// The digest, hidden and address columns are added to older databases by Upgrade, and the
// indexes after it, since they name those columns. address is the sender's (personal data:
// kept for the per-address limit only, NULL for entries stored before it).
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS entries ("
    " id TEXT NOT NULL UNIQUE,"
    " route INTEGER NOT NULL CHECK (route BETWEEN 710 AND 749),"
    " time_ticks INTEGER NOT NULL,"
    " distance INTEGER NOT NULL,"
    " created INTEGER NOT NULL,"
    " replay BLOB NOT NULL,"
    " digest BLOB,"
    " hidden INTEGER NOT NULL DEFAULT 0,"
    " address TEXT);"
    "CREATE TABLE IF NOT EXISTS moderation ("
    " entry TEXT NOT NULL, at INTEGER NOT NULL, hidden INTEGER NOT NULL, reason TEXT NOT NULL);";
// Ranking order on a route: shorter time first, then longer distance, then the earlier
// entry (rowid grows with every insert); withdrawn entries are left out of the index.
constexpr char kIndexes[] =
    "CREATE UNIQUE INDEX IF NOT EXISTS entries_by_digest ON entries (digest);"
    "DROP INDEX IF EXISTS entries_by_rank;"
    "CREATE INDEX IF NOT EXISTS shown_by_rank ON entries (route, time_ticks, distance DESC)"
    " WHERE hidden = 0;"
    "CREATE INDEX IF NOT EXISTS entries_by_address ON entries (address, created)"
    " WHERE address IS NOT NULL;";
// The entries table's columns in every version.
constexpr const char* kFirstColumns[] = {"id",       "route",   "time_ticks",
                                         "distance", "created", "replay"};
constexpr char kEntryColumns[] = "SELECT id, route, time_ticks, distance, created, hidden";
constexpr char kRankOrder[] = " ORDER BY time_ticks, distance DESC, rowid";
using Clock = std::chrono::steady_clock;
constexpr int kReadBusyMs = 1000;  // WAL readers wait only in rare cases (recovery)
// How often a writer that waits for the lock looks again (and at its deadline and a stop).
constexpr auto kBusyPoll = std::chrono::milliseconds(5);
constexpr sqlite3_int64 kApplicationId = 0x514C524B;  // "QLRK" in the file's header
constexpr std::int64_t kFaultRepeatSeconds = 60;
constexpr int kMovedCause = -1;  // a fault cause of our own beside SQLite's codes
// PRAGMA user_version of a database whose digests are of route and payload (RunDigest).
constexpr int kRunDigestVersion = 1;

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
  bool Ok() const noexcept { return ok_; }

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

// Rolls back a write transaction still open when it goes out of scope.
class RollbackUnlessCommitted {
 public:
  explicit RollbackUnlessCommitted(sqlite3* db) noexcept : db_(db) {}
  ~RollbackUnlessCommitted() {
    if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  RollbackUnlessCommitted(const RollbackUnlessCommitted&) = delete;
  RollbackUnlessCommitted& operator=(const RollbackUnlessCommitted&) = delete;

 private:
  sqlite3* db_;
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

SqliteDatabase OpenConnection(const std::string& path, int busyMs, std::string* error,
                              int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteDatabase owned(db);
  if (rc != SQLITE_OK) {
    *error = db ? sqlite3_errmsg(db) : "cannot open the database";
    return nullptr;
  }
  sqlite3_busy_timeout(db, busyMs);
  return owned;
}

// The identity of a stored replay: RunDigest, or the digest of all its bytes when it no
// longer validates.
bool StoredRunDigest(const void* blob, int size, Sha256Digest* digest) {
  const std::string_view bytes(static_cast<const char*>(blob), static_cast<std::size_t>(size));
  ReplaySummary summary{};
  if (ValidateReplayBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                          &summary) != 0) {
    return Sha256(bytes, digest);
  }
  return RunDigest(summary.route, bytes.substr(kReplayHeaderSize, summary.size - kReplayHeaderSize),
                   digest);
}

// Gives every entry the digest of its run anew, within the open transaction: the first copy
// of each run gets the digest, later copies of it keep theirs empty (they stay entries, with
// their identifiers, ranks and pages, and new posts of the run find the first).
bool SetRunDigests(sqlite3* db, std::string* note, std::string* error) {
  if (!Exec(db, "UPDATE entries SET digest = NULL;", error)) return false;
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
    if (!StoredRunDigest(sqlite3_column_blob(rows.get(), 1), sqlite3_column_bytes(rows.get(), 1),
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
  if (seen.empty()) return true;
  *note = "gave " + std::to_string(seen.size()) +
          " entries the digest of their route and payload; " + std::to_string(copies) +
          " later copies of a run kept as entries without one (ranked and shown as before; "
          "a new post of the run is answered with the first)";
  return true;
}

// The first column of every row of a query.
std::set<std::string, std::less<>> Names(sqlite3* db, const char* sql, int column = 0) {
  std::set<std::string, std::less<>> names;
  const SqliteStatement s = Prepare(db, sql);
  while (s && sqlite3_step(s.get()) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(s.get(), column);
    if (name != nullptr) names.emplace(reinterpret_cast<const char*>(name));
  }
  return names;
}

// Whether the file is the ranking's database: marked so (*marked), or unmarked and empty or
// holding the tables of an earlier version. It only reads, so that another program's file
// is left as it was, its journal mode included.
bool IsRankingDatabase(sqlite3* db, bool* marked, std::string* error) {
  const SqliteStatement mark = Prepare(db, "PRAGMA application_id;");
  if (!mark || sqlite3_step(mark.get()) != SQLITE_ROW) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  *marked = sqlite3_column_int64(mark.get(), 0) == kApplicationId;
  if (*marked) return true;
  const auto tables = Names(db, "SELECT name FROM sqlite_schema WHERE type = 'table';");
  const auto columns = Names(db, "PRAGMA table_info(entries);", 1);
  const bool earlier =
      std::all_of(tables.begin(), tables.end(),
                  [](const std::string& t) { return t == "entries" || t == "moderation"; }) &&
      std::all_of(std::begin(kFirstColumns), std::end(kFirstColumns),
                  [&](const char* c) { return tables.empty() || columns.count(c) != 0; });
  if (sqlite3_column_int64(mark.get(), 0) == 0 && earlier) return true;
  *error = "not a ranking database (another program's SQLite file?)";
  return false;
}

// Brings an older database's entries table up to the schema; *note says what changed.
bool Upgrade(sqlite3* db, std::string* note, std::string* error) {
  const auto columns = Names(db, "PRAGMA table_info(entries);", 1);
  if (columns.count("digest") == 0 &&
      !Exec(db, "ALTER TABLE entries ADD COLUMN digest BLOB;", error)) {
    return false;
  }
  if (columns.count("address") == 0 &&
      !Exec(db, "ALTER TABLE entries ADD COLUMN address TEXT;", error)) {
    return false;
  }
  if (columns.count("hidden") == 0) {
    if (!Exec(db, "ALTER TABLE entries ADD COLUMN hidden INTEGER NOT NULL DEFAULT 0;", error)) {
      return false;
    }
    *note += std::string(note->empty() ? "" : "; ") + "entries can be withdrawn now";
  }
  // Digests of an older kind covered every header word; they are made anew once.
  int kind = 0;
  if (const SqliteStatement version = Prepare(db, "PRAGMA user_version;");
      version && sqlite3_step(version.get()) == SQLITE_ROW) {
    kind = sqlite3_column_int(version.get(), 0);
  } else {
    *error = sqlite3_errmsg(db);
    return false;
  }
  if (kind >= kRunDigestVersion) return true;
  std::string digests;
  if (!SetRunDigests(db, &digests, error) ||
      !Exec(db, ("PRAGMA user_version=" + std::to_string(kRunDigestVersion) + ";").c_str(),
            error)) {
    return false;
  }
  if (!digests.empty()) *note = digests + (note->empty() ? "" : "; ") + *note;
  return true;
}

// The folder a path's file is in, for the files SQLite makes beside it.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool Step(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Makes a new or older ranking database the current one, in WAL mode with the given
// synchronous mode; *note says what an upgrade changed. Another program's file is refused
// before anything in it changes.
bool SetUpSchema(sqlite3* db, bool fullSync, std::string* note, std::string* error) {
  bool marked = false;
  if (!IsRankingDatabase(db, &marked, error)) return false;
  const std::string pragmas = std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=") +
                              (fullSync ? "FULL" : "NORMAL") + ";";
  if (!Exec(db, pragmas.c_str(), error) || !Exec(db, "BEGIN IMMEDIATE;", error)) return false;
  const std::string mark = "PRAGMA application_id=" + std::to_string(kApplicationId) + ";";
  if (!Exec(db, kSchema, error) || !Upgrade(db, note, error) || !Exec(db, kIndexes, error) ||
      (!marked && !Exec(db, mark.c_str(), error)) || !Exec(db, "COMMIT;", error)) {
    sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
    return false;
  }
  // WAL must really be in force (it is not on some file systems), or readers would wait.
  const SqliteStatement mode = Prepare(db, "PRAGMA journal_mode;");
  const unsigned char* text =
      mode && sqlite3_step(mode.get()) == SQLITE_ROW ? sqlite3_column_text(mode.get(), 0) : nullptr;
  if (text == nullptr || std::string_view(reinterpret_cast<const char*>(text)) != "wal") {
    *error = "the database cannot be put into WAL mode";
    return false;
  }
  return true;
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
    addressCount_.reset();
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
  path_ = path;
  SqliteDatabase writer = OpenConnection(path, 0, error);
  if (!writer) return false;
  InstallBusyHandler(writer.get());
  // SQLite opens a file it may not write for reading; WAL also needs the folder. Either
  // would refuse every entry later, after leaving a -shm file a later start cannot open.
  if (sqlite3_db_readonly(writer.get(), "main") != 0 ||
      access(FolderOf(path).c_str(), W_OK | X_OK) != 0) {
    *error = "database is read-only";
    return false;
  }
  if (!SetUpSchema(writer.get(), fullSync, &upgradeNote_, error)) return false;
  SqliteDatabase reader = OpenConnection(path, kReadBusyMs, error);
  if (!reader || !Exec(reader.get(), "PRAGMA query_only=1;", error)) return false;

  insert_ = Prepare(writer.get(),
                    "INSERT INTO entries (id, route, time_ticks, distance, created, replay, digest,"
                    " address) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8);");
  byDigest_ =
      Prepare(writer.get(), std::string(kEntryColumns) + " FROM entries WHERE digest = ?1;");
  addressCount_ =
      Prepare(writer.get(), "SELECT COUNT(*) FROM entries WHERE address = ?1 AND created > ?2;");
  if (!insert_ || !byDigest_ || !addressCount_) {
    *error = sqlite3_errmsg(writer.get());
    return false;
  }
  if (!PrepareReads(std::move(reader), error)) return false;
  writer_ = std::move(writer);
  return true;
}

void EntryStore::InstallBusyHandler(sqlite3* writer) {
  // One deadline per write, not a timeout per statement: see AddBatch.
  busyUntil_ = Clock::now() + kWriteWait;
  giveUp_ = nullptr;
  sqlite3_busy_handler(
      writer,
      [](void* self, int) {
        const EntryStore& store = *static_cast<const EntryStore*>(self);
        const Clock::time_point now = Clock::now();
        if (now >= store.busyUntil_ || (store.giveUp_ != nullptr && *store.giveUp_)) return 0;
        std::this_thread::sleep_for(std::min<Clock::duration>(kBusyPoll, store.busyUntil_ - now));
        return 1;
      },
      this);
}

bool EntryStore::OpenReadOnly(const std::string& path, std::string* error) {
  Close();
  const std::lock_guard<std::mutex> readLock(readMutex_);
  path_ = path;
  // Without -wal and -shm beside it no process has the database open and all of it is in
  // the file, so it is read as it is (immutable) and nothing is made beside it: in a
  // read-only folder that works, and no file of ours is left that the server could not open.
  // Otherwise it is read through those files, as any reader does, seeing the last commit.
  const bool idle =
      access((path + "-wal").c_str(), F_OK) != 0 && access((path + "-shm").c_str(), F_OK) != 0;
  std::string uri = "file:";
  for (const char c : path) {
    const bool plain =
        std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '-' || c == '_';
    uri += plain ? std::string(1, c)
                 : "%" + std::string(1, "0123456789ABCDEF"[(c >> 4) & 15]) +
                       "0123456789ABCDEF"[c & 15];
  }
  uri += idle ? "?immutable=1" : "?mode=ro";
  SqliteDatabase reader =
      OpenConnection(uri, kReadBusyMs, error, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
  bool marked = false;
  return reader && IsRankingDatabase(reader.get(), &marked, error) &&
         PrepareReads(std::move(reader), error);
}

bool EntryStore::PrepareReads(SqliteDatabase reader, std::string* error) {
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
  if (!find_ || !rank_ || !count_ || !ranked_ || !counts_ || !version_) {
    *error = sqlite3_errmsg(reader.get());
    return false;
  }
  reader_ = std::move(reader);
  return true;
}

void EntryStore::SetFaultReport(std::function<void(std::string_view)> report) {
  const std::lock_guard<std::mutex> lock(faultMutex_);
  faultReport_ = std::move(report);
}

StoreResult EntryStore::Fault(sqlite3* db, StoreResult result) {
  const int code = db == nullptr ? SQLITE_OK : sqlite3_extended_errcode(db);
  if (result == StoreResult::kFailed && code != SQLITE_OK && code != SQLITE_ROW &&
      code != SQLITE_DONE) {
    ReportFault(code,
                sqlite3_errmsg(db) + std::string(" (SQLite code ") + std::to_string(code) + ")");
  }
  return result;
}

void EntryStore::ReportFault(int cause, const std::string& text) {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  const std::lock_guard<std::mutex> lock(faultMutex_);
  const auto [last, first] = lastFault_.try_emplace(cause, now);
  if (!faultReport_ || (!first && now - last->second < kFaultRepeatSeconds)) return;
  last->second = now;
  const int primary = cause & 0xFF;
  const bool damaged = cause > 0 && (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB);
  faultReport_("storage failure on " + path_ + ": " + text +
               (damaged ? "; the database is damaged: stop the server, then restore the last "
                          "backup or save what is readable with sqlite3 FILE .recover "
                          "(docs/deploy.md)"
                        : ""));
}

bool EntryStore::CommitChecked() {
  // A commit to a file moved, replaced or unlinked with its folder would be acknowledged
  // and then be nowhere a restart looks.
  int moved = 0;
  if (sqlite3_file_control(writer_.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK ||
      moved != 0) {
    Step(writer_.get(), "ROLLBACK");
    ReportFault(kMovedCause,
                "the database is no longer the file at its path (moved, replaced "
                "or deleted); no entry is stored until the server is restarted");
    return false;
  }
  if (Step(writer_.get(), "COMMIT")) return true;
  Fault(writer_.get());
  Step(writer_.get(), "ROLLBACK");
  return false;
}

bool EntryStore::Backup(const std::string& path, std::string* error) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  SqliteDatabase copy =
      OpenConnection(path, kReadBusyMs, error, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW);
  if (!reader_ || !copy) return false;
  sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", reader_.get(), "main");
  if (backup == nullptr) {
    *error = sqlite3_errmsg(copy.get());
    return false;
  }
  // All pages in one step: one read transaction, so the copy is of one moment.
  int rc = sqlite3_backup_step(backup, -1);
  for (int i = 0; i < 50 && (rc == SQLITE_BUSY || rc == SQLITE_LOCKED); ++i) {
    sqlite3_sleep(100);
    rc = sqlite3_backup_step(backup, -1);
  }
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) *error = sqlite3_errstr(rc);
  return rc == SQLITE_DONE;
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
      Fault(writer_.get());
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
  if (rolledBack || !CommitChecked()) {
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
  // An address that has its day's entries stores nothing more. Counted by the writer inside
  // the batch's transaction, so entries arriving together cannot pass it; not in the insert
  // itself, which would then copy each row through a temporary table.
  bool limited = false;
  if (addressLimit_ != 0 && !entry->address.empty()) {
    const StatementUse use(addressCount_);
    if (!BindText(addressCount_, 1, entry->address) ||
        sqlite3_bind_int64(addressCount_.get(), 2, entry->created - kDaySeconds) != SQLITE_OK ||
        sqlite3_step(addressCount_.get()) != SQLITE_ROW) {
      return Fault(writer_.get());
    }
    limited = ColumnU32(addressCount_, 0) >= addressLimit_;
  }
  int rc = SQLITE_DONE;
  if (!limited) {
    const StatementUse use(insert_);
    if (!BindText(insert_, 1, entry->id) ||
        sqlite3_bind_int64(insert_.get(), 2, entry->route) != SQLITE_OK ||
        sqlite3_bind_int64(insert_.get(), 3, entry->timeTicks) != SQLITE_OK ||
        sqlite3_bind_int64(insert_.get(), 4, entry->distance) != SQLITE_OK ||
        sqlite3_bind_int64(insert_.get(), 5, entry->created) != SQLITE_OK ||
        !BindBlob(insert_, 6, run.data(), run.size()) ||
        !BindBlob(insert_, 7, e->digest.data(), e->digest.size()) ||
        (!entry->address.empty() && !BindText(insert_, 8, entry->address))) {
      return StoreResult::kFailed;
    }
    rc = sqlite3_step(insert_.get());
  }
  if (rc == SQLITE_DONE && !limited) return StoreResult::kOk;
  if (!limited && sqlite3_extended_errcode(writer_.get()) != SQLITE_CONSTRAINT_UNIQUE) {
    return Fault(writer_.get());
  }
  // Either the run is stored already (by this transaction too) or the identifier is taken.
  const StatementUse use(byDigest_);
  if (!BindBlob(byDigest_, 1, e->digest.data(), e->digest.size())) return StoreResult::kFailed;
  rc = sqlite3_step(byDigest_.get());
  if (rc == SQLITE_DONE) return limited ? StoreResult::kAddressLimited : StoreResult::kIdTaken;
  if (rc != SQLITE_ROW) return Fault(writer_.get());
  ReadEntry(byDigest_, entry);
  return StoreResult::kSameRun;
}

StoreResult EntryStore::AddressEntries(std::string_view address, std::int64_t since,
                                       std::uint32_t* count, std::int64_t* oldest) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const SqliteStatement s = Prepare(reader_.get(),
                                    "SELECT COUNT(*), IFNULL(MIN(created), 0) FROM entries"
                                    " WHERE address = ?1 AND created > ?2;");
  if (!s || !BindText(s, 1, address) || sqlite3_bind_int64(s.get(), 2, since) != SQLITE_OK ||
      sqlite3_step(s.get()) != SQLITE_ROW) {
    return StoreResult::kFailed;
  }
  *count = ColumnU32(s, 0);
  *oldest = sqlite3_column_int64(s.get(), 1);
  return StoreResult::kOk;
}

StoreResult EntryStore::Lookup(std::string_view id, ArrivedEntry* found) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const StatementUse use(find_);
  const int rc = BindText(find_, 1, id) ? sqlite3_step(find_.get()) : SQLITE_ERROR;
  if (rc == SQLITE_DONE) return StoreResult::kNotFound;
  if (rc != SQLITE_ROW) return Fault(reader_.get());
  ReadEntry(find_, &found->entry);
  found->rowid = sqlite3_column_int64(find_.get(), 6);
  return StoreResult::kOk;
}

StoreResult EntryStore::Changes(std::int64_t* lastEntry, std::int64_t* lastEvent,
                                std::vector<ArrivedEntry>* changed) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const ReadTransaction transaction(reader_.get());
  // Column 6 is the entry's rowid, column 7 the rowid that moves *last on.
  const SqliteStatement added =
      Prepare(reader_.get(), std::string(kEntryColumns) +
                                 ", rowid, rowid FROM entries WHERE rowid > ?1 ORDER BY rowid;");
  const SqliteStatement moderated =
      Prepare(reader_.get(),
              "SELECT e.id, e.route, e.time_ticks, e.distance, e.created, e.hidden, e.rowid,"
              " m.rowid FROM moderation m LEFT JOIN entries e ON e.id = m.entry"
              " WHERE m.rowid > ?1 ORDER BY m.rowid;");
  if (!transaction.Ok() || !added || !moderated) return Fault(reader_.get());
  for (const auto& [s, last] : {std::pair(&added, lastEntry), std::pair(&moderated, lastEvent)}) {
    sqlite3_bind_int64(s->get(), 1, *last);
    int rc;
    while ((rc = sqlite3_step(s->get())) == SQLITE_ROW) {
      *last = sqlite3_column_int64(s->get(), 7);
      if (sqlite3_column_type(s->get(), 0) == SQLITE_NULL) continue;  // no such entry
      ArrivedEntry e;
      ReadEntry(*s, &e.entry);
      e.rowid = sqlite3_column_int64(s->get(), 6);
      changed->push_back(std::move(e));
    }
    if (rc != SQLITE_DONE) return Fault(reader_.get());
  }
  return StoreResult::kOk;
}

StoreResult EntryStore::Find(std::string_view id, StoredEntry* entry, std::uint32_t* rank,
                             std::uint32_t* routeCount, std::vector<StoredEntry>* around,
                             std::uint32_t radius) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const ReadTransaction transaction(reader_.get());
  if (!transaction.Ok()) return Fault(reader_.get());
  sqlite3_int64 rowid = 0;
  {
    const StatementUse use(find_);
    const int rc = BindText(find_, 1, id) ? sqlite3_step(find_.get()) : SQLITE_ERROR;
    if (rc == SQLITE_DONE) return StoreResult::kNotFound;
    if (rc != SQLITE_ROW) return Fault(reader_.get());
    ReadEntry(find_, entry);
    rowid = sqlite3_column_int64(find_.get(), 6);
  }
  if (ReadCount(entry->route, routeCount) != StoreResult::kOk) return Fault(reader_.get());
  *rank = 0;
  if (entry->hidden) return StoreResult::kOk;
  {
    const StatementUse use(rank_);
    sqlite3_bind_int64(rank_.get(), 1, entry->route);
    sqlite3_bind_int64(rank_.get(), 2, entry->timeTicks);
    sqlite3_bind_int64(rank_.get(), 3, entry->distance);
    sqlite3_bind_int64(rank_.get(), 4, rowid);
    if (sqlite3_step(rank_.get()) != SQLITE_ROW) return Fault(reader_.get());
    *rank = ColumnU32(rank_, 0) + 1;
  }
  if (around == nullptr) return StoreResult::kOk;
  const std::uint32_t above = std::min(*rank - 1, radius);
  return Fault(reader_.get(),
               ReadRanked(entry->route, *rank - 1 - above, above + 1 + radius, around));
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

StoreResult EntryStore::Standings(std::vector<RouteStanding>* routes) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  routes->assign(static_cast<std::size_t>(kRouteCount), RouteStanding());
  const ReadTransaction transaction(reader_.get());
  if (!transaction.Ok()) return Fault(reader_.get());
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
    if (rc != SQLITE_DONE) return Fault(reader_.get());
  }
  for (int i = 0; i < kRouteCount; ++i) {
    RouteStanding& standing = (*routes)[static_cast<std::size_t>(i)];
    if (standing.count != 0 &&
        ReadRanked(static_cast<std::uint32_t>(kFirstRoute + i), 0,
                   static_cast<std::uint32_t>(kBestPerRoute), &standing.best) != StoreResult::kOk) {
      return Fault(reader_.get());
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
  if (rc != SQLITE_ROW) return Fault(reader_.get());
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
         sqlite3_blob_read(owned.get(), to, static_cast<int>(size), static_cast<int>(offset)) ==
             SQLITE_OK;
}

StoreResult EntryStore::Latest(std::uint32_t route, std::uint32_t count,
                               std::vector<StoredEntry>* rows) {
  const std::lock_guard<std::mutex> lock(readMutex_);
  if (!reader_) return StoreResult::kFailed;
  const SqliteStatement s =
      Prepare(reader_.get(), std::string(kEntryColumns) +
                                 " FROM entries WHERE ?1 = 0 OR route = ?1 ORDER BY rowid DESC"
                                 " LIMIT ?2;");
  if (!s) return Fault(reader_.get());
  sqlite3_bind_int64(s.get(), 1, route);
  sqlite3_bind_int64(s.get(), 2, count);
  return Fault(reader_.get(), ReadEntries(s, rows));
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
  return rc == SQLITE_DONE ? StoreResult::kOk : Fault(reader_.get());
}

StoreResult EntryStore::SetHidden(std::string_view id, bool hidden, std::string_view reason,
                                  std::int64_t now) {
  const std::lock_guard<std::timed_mutex> lock(writeMutex_);
  busyUntil_ = Clock::now() + kWriteWait;
  giveUp_ = nullptr;
  if (!writer_ || !Step(writer_.get(), "BEGIN IMMEDIATE")) return Fault(writer_.get());
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
        result = rc == SQLITE_ROW    ? StoreResult::kUnchanged
                 : rc == SQLITE_DONE ? StoreResult::kNotFound
                                     : StoreResult::kFailed;
      }
    }
  }
  if (result != StoreResult::kOk || !CommitChecked()) {
    Fault(writer_.get(), result);
    Step(writer_.get(), "ROLLBACK");
    return result == StoreResult::kOk ? StoreResult::kFailed : result;
  }
  return StoreResult::kOk;
}

}  // namespace qlan::server
