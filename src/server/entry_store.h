// The ranking's entries in an SQLite database (WAL mode). Entries that wait together are
// stored in one transaction, each acknowledged only after that transaction has been committed.
// Entries are written through one connection and read through another, so that pages and
// the table never wait for a writer, ours or another process's.
#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/highscore.h"
#include "records/replay.h"
#include "server/digest.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_blob;

namespace qlan::server {

// Identifiers of this many best entries per route go into the high-score table.
inline constexpr std::size_t kBestPerRoute = kHighScoreSlotCount;
// The window of the per-address limit of entries.
inline constexpr std::int64_t kDaySeconds = 86400;

struct StoredEntry {
  std::string id;
  std::uint32_t route = 0;
  std::uint32_t timeTicks = 0;
  std::uint32_t distance = 0;
  std::int64_t created = 0;  // seconds since 1970-01-01 UTC
  bool hidden = false;       // withdrawn by the operator: in no table, page or download
  std::string address{};     // of its sender, when it is added; never read back
};

// An entry with its place in the order of arrival, the last key of the ranking order.
struct ArrivedEntry {
  StoredEntry entry;
  std::int64_t rowid = 0;
};

// One withdrawal or return of an entry by the operator.
struct ModerationEvent {
  std::int64_t at = 0;
  bool hidden = false;
  std::string reason;
};

// One route of the ranking: how many shown entries it has and its best ones in rank order.
// Withdrawn entries count nowhere and rank nowhere.
struct RouteStanding {
  std::uint32_t count = 0;
  std::vector<StoredEntry> best;  // at most kBestPerRoute
};

// How long a write waits for the write lock (held by another process: a backup, the
// operator's tools) by default, and an entry in all from its arrival.
inline constexpr std::chrono::milliseconds kWriteWait{5000};

// What a call of the store came to. Adding an entry: kSameRun, the same run is stored
// already (the entry given back is that one); kIdTaken, another entry has its identifier;
// kAddressLimited, its address has its day's entries; kBusy, the write lock was not had in
// time. Withdrawing or returning one: kUnchanged, it is so already. kNotFound: no entry has
// that identifier.
enum class StoreResult {
  kOk,
  kSameRun,
  kUnchanged,
  kNotFound,
  kIdTaken,
  kFailed,
  kAddressLimited,
  kBusy,
};

// An entry to be stored together with others, and what became of it.
struct NewEntry {
  StoredEntry entry;   // replaced by the stored entry of the same run on kSameRun
  std::string replay;  // as received; its first runSize bytes are the run, which is stored
  std::size_t runSize = 0;
  Sha256Digest digest{};                           // of the run
  std::chrono::steady_clock::time_point deadline;  // the write lock is waited for until then
  StoreResult result = StoreResult::kFailed;
};

struct SqliteCloser {
  void operator()(sqlite3* db) const noexcept;
  void operator()(sqlite3_stmt* statement) const noexcept;
  void operator()(sqlite3_blob* blob) const noexcept;
};
using SqliteDatabase = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteCloser>;

class EntryStore {
 public:
  // Opens (creating when missing) the database and its schema; an older database gains
  // the digests and the withdrawal column and record (see UpgradeNote). fullSync makes every commit
  // reach the disk before it is acknowledged (synchronous=FULL), so that even a power cut keeps
  // acknowledged entries; otherwise only a killed process is survived.
  // A file that is not the ranking's (another program's SQLite file, say) or that this
  // process cannot write is refused before anything in it or beside it changes.
  bool Open(const std::string& path, bool fullSync, std::string* error);
  // Opens an existing database for reading only: no schema change, no lock a writer waits
  // for, nothing created beside a database nobody has open. Adding fails.
  bool OpenReadOnly(const std::string& path, std::string* error);
  void Close() noexcept;
  // Told every storage failure's cause (SQLite's message), at most once a minute per cause;
  // set before opening.
  void SetFaultReport(std::function<void(std::string_view)> report);
  // A consistent copy of the whole database, as of one moment, into the existing empty
  // file at path (a symlink is refused).
  bool Backup(const std::string& path, std::string* error);
  // What opening changed in an older database, for the operator; empty when nothing.
  const std::string& UpgradeNote() const noexcept { return upgradeNote_; }

  // At most this many entries a day from one address (see Add); 0: no limit.
  void SetAddressLimit(std::uint32_t perDay) noexcept { addressLimit_ = perDay; }
  // The entries stored from address after `since` (a day's window): how many, and the time
  // of the oldest (0 when none).
  StoreResult AddressEntries(std::string_view address, std::int64_t since, std::uint32_t* count,
                             std::int64_t* oldest);

  // Stores the entries in one transaction: each is acknowledged (kOk, kSameRun) only once it
  // is committed. The write lock is waited for until each one's deadline, or not at all once
  // *giveUp is set (kBusy). One entry's refusal leaves the others be. Each result: kOk;
  // kSameRun with its entry replaced by the stored one of the same run (same digest), an
  // earlier one of the batch too; kIdTaken; kAddressLimited when entry.address (not empty)
  // has the limit's number of entries stored in the day before entry.created; kBusy or
  // kFailed.
  void AddBatch(std::span<NewEntry* const> entries, const std::atomic<bool>* giveUp = nullptr);
  // A batch of one that waits kWriteWait: kOk, kSameRun (*entry replaced), kIdTaken,
  // kAddressLimited, kBusy or kFailed.
  StoreResult Add(StoredEntry* entry, std::string_view replay, const Sha256Digest& digest);
  // kOk with the entry (a withdrawn one too), its rank on its route (1 = best; 0 when
  // withdrawn), the route's entry count and, when asked, the entries ranked up to radius
  // above and below it, itself included; kNotFound or kFailed. All from one moment.
  StoreResult Find(std::string_view id, StoredEntry* entry, std::uint32_t* rank,
                   std::uint32_t* routeCount, std::vector<StoredEntry>* around = nullptr,
                   std::uint32_t radius = 0);
  // kOk with the entry (a withdrawn one too) and its rowid; kNotFound or kFailed.
  StoreResult Lookup(std::string_view id, ArrivedEntry* found);
  // For standings kept in memory, all from one moment: the entries stored after rowid
  // *lastEntry and those withdrawn or returned after the moderation rowid *lastEvent, each as
  // it is now; both rowids are moved on to the last ones read.
  StoreResult Changes(std::int64_t* lastEntry, std::int64_t* lastEvent,
                      std::vector<ArrivedEntry>* changed);
  // Every route's standing, index 0 for route 710.
  StoreResult Standings(std::vector<RouteStanding>* routes);
  // kOk with the entry (a withdrawn one too) and its stored replay; kNotFound or kFailed.
  StoreResult Replay(std::string_view id, StoredEntry* entry, std::string* bytes);
  // As Replay, but where the replay is kept (*row) and its size, for ReadReplay.
  StoreResult ReplayPlace(std::string_view id, StoredEntry* entry, std::int64_t* row,
                          std::size_t* size);
  // Reads size bytes from offset of the replay kept at row: one short read, so that a
  // download at a client's pace holds neither a copy nor a read transaction.
  bool ReadReplay(std::int64_t row, std::size_t offset, char* to, std::size_t size);

  // The operator's: the newest entries (withdrawn ones too) of a route, or of all when
  // route is 0, newest first; an entry's withdrawals and returns, oldest first.
  StoreResult Latest(std::uint32_t route, std::uint32_t count, std::vector<StoredEntry>* rows);
  StoreResult History(std::string_view id, std::vector<ModerationEvent>* events);
  // Withdraws (hidden) or returns an entry and records it with its time and reason: kOk;
  // kUnchanged when it is so already (nothing recorded); kNotFound or kFailed.
  StoreResult SetHidden(std::string_view id, bool hidden, std::string_view reason,
                        std::int64_t now);

  // Changes whenever any connection, of this process or another, has committed (for
  // caches built from the standings); 0 when it cannot be read.
  std::uint64_t Version();

 private:
  std::timed_mutex writeMutex_;
  SqliteDatabase writer_;
  SqliteStatement insert_;
  SqliteStatement byDigest_;
  SqliteStatement addressCount_;
  // The writer's busy handler waits until then, and no more once *giveUp_ is set.
  std::chrono::steady_clock::time_point busyUntil_;
  const std::atomic<bool>* giveUp_ = nullptr;

  std::mutex readMutex_;
  SqliteDatabase reader_;
  SqliteStatement find_;
  SqliteStatement rank_;
  SqliteStatement count_;
  SqliteStatement ranked_;
  SqliteStatement counts_;
  SqliteStatement version_;

  std::string upgradeNote_;
  std::uint32_t addressLimit_ = 0;
  std::string path_;

  std::mutex faultMutex_;
  std::function<void(std::string_view)> faultReport_;
  std::map<int, std::int64_t> lastFault_;  // cause -> when it was last reported

  // Has the writer wait for a lock held elsewhere until busyUntil_ (see AddBatch).
  void InstallBusyHandler(sqlite3* writer);
  bool PrepareReads(SqliteDatabase reader, std::string* error);
  // With writeMutex_ held: commits the open transaction when the database is still the
  // file at its path, else rolls it back; false (reported) when it was not committed.
  bool CommitChecked();
  // Reports db's last error when result is kFailed; returns result.
  StoreResult Fault(sqlite3* db, StoreResult result = StoreResult::kFailed);
  void ReportFault(int cause, const std::string& text);

  // With writeMutex_ held, inside the batch's transaction.
  StoreResult Insert(NewEntry* e);

  // With readMutex_ held, inside a read transaction.
  StoreResult ReadRanked(std::uint32_t route, std::uint32_t offset, std::uint32_t limit,
                         std::vector<StoredEntry>* rows);
  StoreResult ReadCount(std::uint32_t route, std::uint32_t* count);
};

}  // namespace qlan::server
