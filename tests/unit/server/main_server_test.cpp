// The server program itself (main_server.cpp): its start, signals, descriptor limit and
// the floods and kills it must survive (suites ending in Slow: ctest label slow).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using std::chrono::milliseconds;
using test::AtOnce;
using test::BodyOf;
using test::EntryRequest;
using test::Exchange;
using test::HeldWriteLock;
using test::kDownload;
using test::StatusOf;

// A process's peak resident size in MB, from /proc; 0 under AddressSanitizer, whose shadow
// memory and quarantine of freed blocks say nothing of the server's own.
long PeakMb([[maybe_unused]] int pid) {
#ifdef __SANITIZE_ADDRESS__
  return 0;
#else
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string word;
  while (status >> word && word != "VmHWM:") {
  }
  long kb = 0;
  status >> kb;
  return kb / 1024;
#endif
}

// The server program itself, its output read here.
class ServerProgram {
 public:
  explicit ServerProgram(const std::string& arguments, const std::string& prefix = "env")
      : child_(prefix + " " QLAN_SERVER_PROGRAM " --port 0 " + arguments) {
    if (child_.WaitFor(" connections, ")) {
      const std::size_t at = child_.output().find("127.0.0.1:");
      port_ = static_cast<int>(ReadDecimal(std::string_view(child_.output()).substr(at + 10)));
    }
  }
  int port() const { return port_; }
  test::ChildProcess& child() { return child_; }

 private:
  test::ChildProcess child_;
  int port_ = 0;
};

// SIGTERM: no new connections, but every request in progress finishes with its reply.
TEST(MainServer, SigtermLetsRequestsInProgressFinish) {
  test::TempFolder folder;
  ServerProgram server("--db " + folder.Join("ranking.db"));
  ASSERT_GT(server.port(), 0) << server.child().output();
  std::vector<std::pair<int, std::string>> halfSent;
  for (std::uint32_t i = 0; i < 8; ++i) {
    const std::string request = EntryRequest(100 + i);
    const int fd = test::Connect(server.port());
    send(fd, request.data(), request.size() / 2, MSG_NOSIGNAL);
    halfSent.emplace_back(fd, request.substr(request.size() / 2));
  }
  std::this_thread::sleep_for(milliseconds(200));
  kill(server.child().pid(), SIGTERM);
  ASSERT_TRUE(server.child().WaitFor("finishing the requests in progress"));
  EXPECT_EQ(test::Connect(server.port()), -1);
  for (const auto& [fd, rest] : halfSent) {
    const std::string reply = test::Complete(fd, rest);
    EXPECT_EQ(test::EntryIdIn(BodyOf(reply)).size(), 16u) << reply;
  }
  EXPECT_EQ(server.child().Stop(SIGTERM), 0);
  EXPECT_EQ(test::Occurrences(server.child().output(), "/0/\" proxy-form 200 "), 8u)
      << server.child().output();
}

// SIGTERM while entries wait for a write lock held elsewhere: each is answered 503 at once,
// and the server is gone a moment later.
TEST(MainServer, SigtermAnswersEntriesWaitingForAHeldLockAtOnce) {
  test::TempFolder folder;
  ServerProgram server("--db " + folder.Join("ranking.db") + " --quiet");
  ASSERT_GT(server.port(), 0);
  const HeldWriteLock lock(folder.Join("ranking.db"));
  auto entries = std::async(std::launch::async, [&] {
    return AtOnce(server.port(), 20, [](std::uint32_t i) { return EntryRequest(i); });
  });
  std::this_thread::sleep_for(milliseconds(500));
  const auto signalled = test::Clock::now();
  kill(server.child().pid(), SIGTERM);
  for (const auto& [reply, ms] : entries.get()) EXPECT_EQ(StatusOf(reply), 503) << reply;
  EXPECT_EQ(server.child().Stop(SIGTERM), 0);
  EXPECT_LT(test::Clock::now() - signalled, std::chrono::seconds(2));
}

// Started with 64 descriptors, the server refuses what it cannot hold at once and does not
// spin on a full table of descriptors; when they close, it serves again.
TEST(MainServer, TooFewDescriptorsRefuseWithoutSpinning) {
  test::TempFolder folder;
  ServerProgram server("--db " + folder.Join("ranking.db") + " --quiet", "prlimit --nofile=64");
  ASSERT_GT(server.port(), 0);
  EXPECT_NE(server.child().output().find("up to 40 connections, from a limit of 64 open files"),
            std::string::npos);
  std::vector<int> held(150);
  for (std::size_t i = 0; i < held.size(); ++i) {
    held[i] = test::Connect(server.port(), ("127.0.0." + std::to_string(2 + i % 8)).c_str());
  }
  const auto cpu = [&] {
    std::ifstream stat("/proc/" + std::to_string(server.child().pid()) + "/stat");
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i) ticks += i >= 14 ? std::stol(field) : 0;
    return ticks;
  };
  const long before = cpu();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_LT(cpu() - before, sysconf(_SC_CLK_TCK) * 3 / 10);
  for (const int fd : held) close(fd);
  EXPECT_EQ(StatusOf(Exchange(server.port(), kDownload, 2000)), 200);
}

// A database the server could not write or that is another program's is refused at start,
// nothing made beside it, the other program's file unchanged byte for byte.
TEST(MainServer, RefusesADatabaseItCannotWriteOrThatIsNotTheRankings) {
  const std::string user = test::AsUnprivileged();
  if (user.empty()) GTEST_SKIP() << "root cannot run the server as another user here";
  test::TempFolder folder;
  const std::string readOnly = folder.Join("ranking.db");
  const std::string other = folder.Join("other.db");
  EntryStore made;
  std::string error;
  ASSERT_TRUE(made.Open(readOnly, false, &error)) << error;
  made.Close();
  ASSERT_EQ(test::Sql(other, "CREATE TABLE notes (x); INSERT INTO notes VALUES (1);"), "");
  const std::string otherBytes = test::S(test::ReadAll(other));
  chmod(readOnly.c_str(), 0444);
  chmod(other.c_str(), 0666);  // another user's server may write it, but must not
  ASSERT_TRUE(getuid() != 0 || chown(folder.path().c_str(), 65534, 65534) == 0);
  for (const auto& [path, message] :
       {std::pair(readOnly, "database is read-only: "),
        std::pair(other, "not a ranking database (another program's SQLite file?): ")}) {
    ServerProgram server("--db " + path, user);
    EXPECT_EQ(server.child().Stop(SIGTERM), 1);
    EXPECT_NE(server.child().output().find(message + path + "\n"), std::string::npos)
        << server.child().output();
  }
  EXPECT_FALSE(std::filesystem::exists(readOnly + "-shm"));
  EXPECT_EQ(test::S(test::ReadAll(other)), otherBytes);
}

// A replay given at start that cannot be read or stored is named, and the server does not start.
TEST(MainServer, AddReplaySaysWhyAFileIsNotStored) {
  test::TempFolder folder;
  for (const auto& [file, said] :
       {std::pair(folder.Join("none.replay"), ": cannot read the file\n"),
        std::pair(test::TestDataPath("replays/bad/bad-checksum-r710.replay"),
                  ": not stored (status 422)\n")}) {
    ServerProgram server("--db " + folder.Join("ranking.db") + " --add-replay " + file);
    EXPECT_EQ(server.child().Stop(SIGTERM), 1);
    EXPECT_NE(server.child().output().find(file + said), std::string::npos)
        << server.child().output();
  }
}

// A backup taken in the flood
// holds every entry acknowledged before it began; the database every one acknowledged.
TEST(MainServerSlow, SigkillOrABackupInAnEntryFloodLosesNoAcknowledgedEntry) {
  test::TempFolder folder;
  const std::string db = folder.Join("ranking.db");
  ServerProgram server("--db " + db +
                       " --synchronous full --quiet --entries-per-address-per-day 0");
  ASSERT_GT(server.port(), 0);
  std::mutex mutex;
  std::vector<std::string> acknowledged;
  std::atomic<bool> killed{false};
  std::vector<std::thread> clients;
  for (std::uint32_t c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      for (std::uint32_t i = 0; !killed; ++i) {
        const std::string reply = Exchange(server.port(), EntryRequest(c * 1000000 + i), 2000);
        const std::lock_guard<std::mutex> lock(mutex);
        if (const std::string id = test::EntryIdIn(BodyOf(reply)); !id.empty()) {
          acknowledged.push_back(id);
        }
      }
    });
  }
  std::this_thread::sleep_for(milliseconds(700));
  std::unique_lock<std::mutex> before(mutex);
  const std::vector<std::string> beforeBackup = acknowledged;
  before.unlock();
  test::ChildProcess backup(QLAN_SERVER_PROGRAM " admin --db " + db + " backup " + db + ".copy");
  EXPECT_EQ(backup.Stop(0), 0) << backup.output();
  std::this_thread::sleep_for(milliseconds(800));
  kill(server.child().pid(), SIGKILL);
  killed = true;
  for (std::thread& t : clients) t.join();
  server.child().Stop(SIGKILL);
  ASSERT_GT(beforeBackup.size(), 10u);
  for (const auto& [path, ids] :
       {std::pair(db + ".copy", beforeBackup), std::pair(db, acknowledged)}) {
    EntryStore store;
    std::string error;
    ASSERT_TRUE(store.Open(path, true, &error)) << error;
    for (const std::string& id : ids) {
      StoredEntry entry;
      std::uint32_t rank = 0;
      std::uint32_t count = 0;
      EXPECT_EQ(store.Find(id, &entry, &rank, &count), StoreResult::kOk) << id;
    }
    store.Close();
    EXPECT_EQ(test::Sql(path, "PRAGMA integrity_check"), "ok") << path;
  }
}

// The front's worst, scaled down: 8 addresses each with a burst of 6 entries of about 4 MB,
// the write lock held meanwhile. The server holds its budget and refuses the rest at once.
TEST(MainServerSlow, AnEntryFloodStaysInItsMemoryBudget) {
  test::TempFolder folder;
  ServerProgram server("--db " + folder.Join("ranking.db") + " --quiet --entry-memory-mb 16");
  ASSERT_GT(server.port(), 0);
  const HeldWriteLock lock(folder.Join("ranking.db"));
  std::string replay = test::KnownFile("replays/good/r712.replay");
  replay.resize(3000000, 'x');  // bytes after the run: a valid entry all the same
  const std::string request = test::EntryPost(replay);
  long atOnce = 0;
  for (const auto& [reply, ms] :
       AtOnce(server.port(), 48, [&](std::uint32_t) -> const std::string& { return request; })) {
    EXPECT_EQ(StatusOf(reply), 503);
    atOnce += ms < 2000 ? 1 : 0;
  }
  EXPECT_GE(atOnce, 44);
  EXPECT_LT(PeakMb(server.child().pid()), 16 + 40);
}

// Clients that ask for a 3 MB replay and never read it: no reply holds a copy of it.
TEST(MainServerSlow, ReplayReadersThatNeverReadHoldNoCopies) {
  test::TempFolder folder;
  {
    EntryStore store;
    std::string error;
    ASSERT_TRUE(store.Open(folder.Join("ranking.db"), false, &error));
    StoredEntry entry{"AAAAAAAAAAAAAAAA", 710};
    ASSERT_EQ(store.Add(&entry, std::string(3 << 20, 'r'), {}), StoreResult::kOk);
  }
  ServerProgram server("--db " + folder.Join("ranking.db") + " --quiet");
  ASSERT_GT(server.port(), 0);
  std::vector<int> readers(160);
  for (std::size_t i = 0; i < readers.size(); ++i) {
    readers[i] =
        test::Connect(server.port(), ("127.0.0." + std::to_string(2 + i % 8)).c_str(), 4096);
    const std::string get = "GET /sw/qlan/replay/AAAAAAAAAAAAAAAA HTTP/1.1\r\nHost: x\r\n\r\n";
    send(readers[i], get.data(), get.size(), MSG_NOSIGNAL);
  }
  std::this_thread::sleep_for(milliseconds(1500));
  EXPECT_LT(PeakMb(server.child().pid()), 64);
  for (const int fd : readers) close(fd);
}

}  // namespace
}  // namespace qlan::server
