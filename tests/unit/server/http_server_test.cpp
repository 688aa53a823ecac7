// The server's HTTP side on a loopback port, spoken to with exact bytes: in this process,
// and as the program itself for what needs signals or its own descriptor limit.
#include "server/http_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <thread>

#include "server/request_log.h"
#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

using std::chrono::milliseconds;
using test::BodyOf;
using test::Exchange;
using test::StatusOf;

constexpr char kDownload[] = "GET /sw/qlan/score.dat HTTP/1.0\n\n";

// A valid run of its own for each time.
std::string EntryRequest(std::uint32_t time) {
  std::string replay = test::RunOf(test::KnownFile("replays/good/r712.replay"), time);
  for (std::size_t i = 0; i < 4; ++i) replay[4 + i] = static_cast<char>(time >> (24 - 8 * i));
  return test::ToolRequest(test::ReplayForm(replay));
}

// The write lock held by another connection, as a backup or sqlite3 by hand holds it.
class HeldWriteLock {
 public:
  explicit HeldWriteLock(const std::string& path)
      : held_(sqlite3_open(path.c_str(), &db_) == SQLITE_OK &&
              sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {}
  ~HeldWriteLock() { sqlite3_close(db_); }  // rolls back
  bool held() const { return held_; }

 private:
  sqlite3* db_ = nullptr;
  bool held_;
};

// count requests at once, request(i) from 127.0.0.(2 + i % 8): each reply and its time in ms.
template <typename MakeRequest>
std::vector<std::pair<std::string, long>> AtOnce(int port, std::uint32_t count,
                                                 MakeRequest request) {
  std::vector<std::pair<std::string, long>> replies(count);
  std::vector<std::thread> clients;
  for (std::uint32_t i = 0; i < count; ++i) {
    clients.emplace_back([&, i] {
      const std::string& text = request(i);
      const auto start = test::Clock::now();
      const int fd = test::Connect(port, ("127.0.0." + std::to_string(2 + i % 8)).c_str());
      replies[i] = {test::Complete(fd, text, 12000), static_cast<long>(test::MsSince(start))};
    });
  }
  for (std::thread& t : clients) t.join();
  return replies;
}

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

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }
  test::TempFolder folder_;
  test::RunningServer server_{folder_.Join("ranking.db")};
};

TEST_F(HttpServerTest, ServesTheTableTakesTheToolsUploadAndShowsItsPage) {
  const std::string table = Exchange(
      server_.port(), "GET http://h/sw/qlan/score.dat HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(table), 200);
  EXPECT_NE(table.find("\r\nContent-Length: 10888\r\n"), std::string::npos) << table.substr(0, 200);
  EXPECT_EQ(BodyOf(table), test::KnownFile("highscore/empty-table.ee"));
  const std::string reply = Exchange(
      server_.port(),
      test::ToolRequest(test::ReplayForm(test::KnownFile("replays/good/r712.replay")), false));
  ASSERT_EQ(StatusOf(reply), 200) << reply;
  const std::string id = test::EntryIdIn(BodyOf(reply));
  ASSERT_EQ(id.size(), 16u) << reply;
  const std::string page = Exchange(
      server_.port(), "GET http://ranking.quillane.example/sw/qlan/hsentry/1/?x=1&UNIQUE_ID=" + id +
                          " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_NE(page.find("<td>R 712</td>"), std::string::npos) << page;
  EXPECT_EQ(test::StoredCount(server_.store()), 1u);
}

TEST_F(HttpServerTest, RefusesBadRequestsWithTheir4xxAndStoresNothing) {
  const std::pair<std::string, int> cases[] = {
      {test::ToolRequest(test::ReplayForm(test::KnownFile("replays/bad/bad-checksum-r710.replay"))),
       422},
      {"POST /sw/qlan/hsentry/0/ HTTP/1.1\nContent-Length: " + std::to_string(kMaxEntryBody + 1) +
           "\n\n",
       413},
      {"POST /sw/qlan/hsentry/0/ HTTP/1.1\nHost: x\n\n", 411},
      // A good form under another path, another method.
      {test::ToolRequest(test::ReplayForm(test::KnownFile("replays/good/r710.replay")))
           .replace(53, 1, "1"),
       404},
      // Heads with two readings; a page the front would file under another page's key.
      {"GET /sw/qlan/score.dat HTTP/1.1\nContent-Length: 0\nContent-Length: 9\n\n", 400},
      {"GET /sw/qlan/score.dat%00.html HTTP/1.0\n\n", 400},
      {std::string("GET /sw/qlan/score.dat") + '\0' + ".html HTTP/1.0\n\n", 400},
      {"GET /sw/qlan/ranking/710/?%70age=1 HTTP/1.0\n\n", 404},
      {"GET /sw/qlan/score.dat HTTP/1.1\r\nX-Big: " + std::string(40000, 'a') + "\r\n\r\n", 431},
  };
  for (const auto& [request, status] : cases) {
    EXPECT_EQ(StatusOf(Exchange(server_.port(), request)), status) << request.substr(0, 120);
  }
  EXPECT_EQ(test::StoredCount(server_.store()), 0u);
  server_.Stop();  // the library's own refusal is logged with the status it sent
  EXPECT_NE(server_.log().back().find("\"- /sw/qlan/score.dat\" 431 0 "), std::string::npos)
      << server_.log().back();
}

// Silent connections cost a socket each, no worker: downloads beside them are answered at once.
TEST_F(HttpServerTest, SilentConnectionsHoldNothingANewRequestNeeds) {
  std::vector<int> silent(64);
  for (std::size_t i = 0; i < silent.size(); ++i) {
    silent[i] = test::Connect(server_.port(), i % 2 == 0 ? "127.0.0.2" : "127.0.0.3");
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(StatusOf(Exchange(server_.port(), kDownload, 1000)), 200);
  for (const int fd : silent) close(fd);
}

// The socket's address is logged unless the server runs behind the front, which sends the
// client's in X-Real-IP; one line per request, kept-alive ones too.
TEST_F(HttpServerTest, KeepsAliveAndLogsTheSocketsAddressOrTheFrontsBehindOne) {
  const auto twice = [](int port) {
    const int fd = test::Connect(port);
    const std::string first =
        "GET /sw/qlan/score.dat HTTP/1.1\r\nHost: x\r\nX-Real-IP: 192.0.2.7\r\n\r\n";
    send(fd, first.data(), first.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(milliseconds(100));  // one request at a time, as a front sends
    return test::Complete(fd, "GET http://x/nothing HTTP/1.1\r\nConnection: close\r\n\r\n");
  };
  const std::string reply = twice(server_.port());
  EXPECT_NE(reply.find("404 Not Found"), std::string::npos) << reply.substr(0, 200);
  server_.Stop();
  const std::vector<std::string> lines = server_.log();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Z 127.0.0.1 \"GET /sw/qlan/score.dat\" 200 10888 "), std::string::npos);
  EXPECT_NE(lines[1].find(" \"GET /nothing\" proxy-form 404 "), std::string::npos) << lines[1];

  ServerOptions behind;
  behind.behindFront = true;
  test::RunningServer front(folder_.Join("front.db"), behind);
  ASSERT_TRUE(front.ok());
  twice(front.port());
  front.Stop();
  EXPECT_NE(front.log().at(0).find("Z 192.0.2.7 \"GET /sw/qlan/score.dat\" 200 10888 "),
            std::string::npos);
}

// A log nobody reads (a 4 KB pipe) drops lines, never requests, and says how many it dropped.
TEST(HttpServerLog, AStalledLogDropsLinesNotRequests) {
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK), 0);
  fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
  fcntl(pipeEnds[1], F_SETFL, 0);  // the server's side blocks, as a real stdout would
  test::TempFolder folder;
  {
    RequestLog log(pipeEnds[1], 16);
    ServerOptions options;
    options.log = [&log](std::string_view line) { log.Write(line); };
    test::RunningServer server(folder.Join("ranking.db"), options);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(StatusOf(Exchange(server.port(), kDownload)), 200) << i;
    std::string text;
    char buffer[4096];
    for (int i = 0; i < 100 && text.find("log lines dropped") == std::string::npos; ++i) {
      const ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
      if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
      std::this_thread::sleep_for(milliseconds(30));
    }
    EXPECT_NE(text.find(" log lines dropped while the log did not take them\n"), std::string::npos);
  }
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

// Another process holding the write lock (a backup, sqlite3 by hand) delays entries only, each
// until its own deadline at most (then 503, to be sent again); pages do not wait at all.
TEST(HttpServerLock, EntriesWaitForAHeldWriteLockUntilTheirOwnDeadlinePagesNotAtAll) {
  test::TempFolder folder;
  ServerOptions options;
  options.entryDeadline = milliseconds(1000);
  test::RunningServer server(folder.Join("ranking.db"), options);
  {
    const HeldWriteLock lock(folder.Join("ranking.db"));
    ASSERT_TRUE(server.ok() && lock.held());
    auto entries = std::async(std::launch::async, [&] {
      return AtOnce(server.port(), 20, [](std::uint32_t i) { return EntryRequest(i); });
    });
    std::this_thread::sleep_for(milliseconds(300));
    for (const char* read :
         {kDownload, "GET /sw/qlan/hsentry/1/?UNIQUE_ID=AAAAAAAAAAAAAAAA HTTP/1.0\n\n"}) {
      EXPECT_NE(StatusOf(Exchange(server.port(), read, 1000)), 0) << read;
    }
    for (const auto& [reply, ms] : entries.get()) {
      EXPECT_EQ(StatusOf(reply), 503);
      EXPECT_NE(reply.find("\r\nRetry-After: 5\r\n"), std::string::npos) << reply;
      EXPECT_LT(ms, 1600);
    }
  }
  EXPECT_EQ(StatusOf(Exchange(server.port(), EntryRequest(7))), 200);
}

// An entry is acknowledged only once it is kept where a restart finds it; each storage
// failure's cause is logged when found and then at most once a minute.
TEST(HttpServerStore, RefusesEntriesOnceTheDatabaseIsGoneAndLogsEachFaultsCause) {
  test::TempFolder folder;
  const std::string db = folder.Join("data/ranking.db");
  const auto logged = [](const std::vector<std::string>& log, const std::string& text) {
    std::size_t n = 0;
    for (const std::string& line : log) n += test::Occurrences(line, text);
    return n;
  };
  for (const bool corrupt : {false, true}) {
    std::filesystem::create_directory(folder.Join("data"));
    std::optional<test::RunningServer> server(db);
    ASSERT_EQ(StatusOf(Exchange(server->port(), EntryRequest(1))), 200);
    if (corrupt) {  // every page after the first overwritten while the server is stopped
      server.reset();
      std::fstream file(db, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(4096);
      file << std::string(std::filesystem::file_size(db) - 4096, '\xff');
      file.close();
      server.emplace(db);
    } else {
      std::filesystem::remove_all(folder.Join("data"));
    }
    for (std::uint32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(StatusOf(Exchange(server->port(), corrupt ? kDownload : EntryRequest(2 + i))),
                corrupt ? 500 : 503);
    }
    server->Stop();
    EXPECT_EQ(logged(server->log(), corrupt ? "database disk image is malformed (SQLite code 11); "
                                              "the database is damaged: stop the server, then "
                                              "restore the last backup or save what is readable "
                                              "with sqlite3 FILE .recover"
                                            : "the database is no longer the file at its path"),
              1u);
    std::filesystem::remove_all(folder.Join("data"));
  }
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
TEST(HttpServerProgram, SigtermLetsRequestsInProgressFinish) {
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
TEST(HttpServerProgram, SigtermAnswersEntriesWaitingForAHeldLockAtOnce) {
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
TEST(HttpServerProgram, TooFewDescriptorsRefuseWithoutSpinning) {
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

// Two entries a day from an address: a repost of one is not a third, a third is refused
// before its body with the time it may come, and the count holds at the insert too.
TEST(HttpServerLimits, AnAddressStoresItsDaysEntriesThenWaits) {
  test::TempFolder folder;
  test::RunningServer server(folder.Join("ranking.db"), {}, {2});
  const auto post = [&](std::uint32_t time) { return Exchange(server.port(), EntryRequest(time)); };
  const std::string id = test::EntryIdIn(BodyOf(post(1)));
  EXPECT_EQ(test::EntryIdIn(BodyOf(post(1))), id);
  EXPECT_EQ(StatusOf(post(2)), 200);
  const std::string refused = post(3);
  EXPECT_EQ(StatusOf(refused), 429);
  EXPECT_NE(refused.find("\r\nRetry-After: 864"), std::string::npos) << refused;
  EXPECT_NE(refused.find("(JST) から受け付けます。"), std::string::npos) << refused;
  RankingService direct(server.store(), {2});
  StoredEntry entry;
  EXPECT_EQ(direct.AddReplay(test::RunOf(test::KnownFile("replays/good/r712.replay"), 4),
                             NowSeconds(), &entry, "127.0.0.1"),
            Outcome::kTooManyEntries);
  EXPECT_EQ(test::StoredCount(server.store()), 2u);
}

// On a nearly full file system entries get 507 and one log line; pages are served.
TEST(HttpServerLimits, EntriesWaitForFreeSpaceAndPagesGoOn) {
  test::TempFolder folder;
  const std::string disk = folder.Join("small");
  if (geteuid() != 0 || mkdir(disk.c_str(), 0700) != 0 ||
      mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=8m") != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  const std::unique_ptr<const char, void (*)(const char*)> unmount(
      disk.c_str(), [](const char* path) { umount2(path, MNT_DETACH); });
  std::mutex mutex;
  std::vector<std::string> lines;
  const auto log = [&](std::string_view line) {
    const std::lock_guard<std::mutex> lock(mutex);
    lines.emplace_back(line);
  };
  test::RunningServer server(disk + "/ranking.db", {}, {0, 16 << 20, disk, log});
  for (const std::uint32_t time : {1u, 2u})
    EXPECT_EQ(StatusOf(Exchange(server.port(), EntryRequest(time))), 507);
  EXPECT_EQ(StatusOf(Exchange(server.port(), kDownload)), 200);
  EXPECT_EQ(StatusOf(Exchange(server.port(), "GET /sw/qlan/ HTTP/1.0\n\n")), 200);
  server.Stop();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("below the floor of 16 MB"), std::string::npos) << lines[0];
}

// A database the server could not write or that is another program's is refused at start,
// nothing made beside it, the other program's file unchanged byte for byte.
TEST(HttpServerProgram, RefusesADatabaseItCannotWriteOrThatIsNotTheRankings) {
  const std::string user = test::AsUnprivileged();
  if (user.empty()) GTEST_SKIP() << "root cannot run the server as another user here";
  test::TempFolder folder;
  const std::string readOnly = folder.Join("ranking.db");
  const std::string other = folder.Join("other.db");
  EntryStore made;
  std::string error;
  ASSERT_TRUE(made.Open(readOnly, false, &error)) << error;
  made.Close();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE notes (x); INSERT INTO notes VALUES (1);", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);
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
TEST(HttpServerProgram, AddReplaySaysWhyAFileIsNotStored) {
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

// Run by scripts/check (ctest label slow), not by scripts/test. A backup taken in the flood
// holds every entry acknowledged before it began; the database every one acknowledged.
TEST(HttpServerProgram, DISABLED_SigkillOrABackupInAnEntryFloodLosesNoAcknowledgedEntry) {
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
    sqlite3* db3 = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db3), SQLITE_OK);
    std::string check;
    sqlite3_exec(
        db3, "PRAGMA integrity_check",
        [](void* out, int, char** values, char**) {
          *static_cast<std::string*>(out) += values[0] ? values[0] : "";
          return 0;
        },
        &check, nullptr);
    sqlite3_close(db3);
    EXPECT_EQ(check, "ok") << path;
  }
}

// The front's worst, scaled down: 8 addresses each with a burst of 6 entries of about 4 MB,
// the write lock held meanwhile. The server holds its budget and refuses the rest at once.
TEST(HttpServerProgram, DISABLED_AnEntryFloodStaysInItsMemoryBudget) {
  test::TempFolder folder;
  ServerProgram server("--db " + folder.Join("ranking.db") + " --quiet --entry-memory-mb 16");
  ASSERT_GT(server.port(), 0);
  const HeldWriteLock lock(folder.Join("ranking.db"));
  std::string replay = test::KnownFile("replays/good/r712.replay");
  replay.resize(3000000, 'x');  // bytes after the run: a valid entry all the same
  const std::string request = test::ToolRequest(test::ReplayForm(replay));
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
TEST(HttpServerProgram, DISABLED_ReplayReadersThatNeverReadHoldNoCopies) {
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
