// What a page costs as a route grows: one route filled to 1,000, 10,000 and 100,000
// entries while an entry arrives every second, and at each size the median cost of the
// pages a player asks for (through the service, no network), printed in microseconds and
// as a ratio to the same page at 1,000 entries, measured in this run. Then, at the largest
// size, 32 connections from one address ask for pages nobody caches while another player
// fetches an entry page: that player's median and worst wait, through HTTP on loopback.
//
// usage: page_cost_bench [--largest N] [--seconds S]   (defaults 100000 and 5)
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "records/replay.h"
#include "server/entry_store.h"
#include "server/http_server.h"
#include "server/ranking_service.h"
#include "unit/server/support/server_harness.h"

namespace {

using Clock = std::chrono::steady_clock;
using qlan::server::Outcome;
using qlan::server::StoredEntry;

double Micros(Clock::duration d) {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count()) /
         1000.0;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A valid replay of route 710 of its own for n (its payload's first word), with this time.
std::string MakeReplay(std::uint32_t n, std::uint32_t time) {
  return qlan::test::RunOf(qlan::test::BlankRun(710, 256), n, time);
}

// One GET on a fresh connection from 127.0.0.from; the status (0 on failure).
int Get(int port, int from, const std::string& target) {
  const std::string request = qlan::test::Request("GET " + target + " HTTP/1.0", {}, {}, "\r\n");
  const int fd = qlan::test::Connect(port, ("127.0.0." + std::to_string(from)).c_str());
  return qlan::test::StatusOf(qlan::test::Complete(fd, request, 20000));
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t largest = 100000;
  double seconds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--largest") == 0)
      largest = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    else if (std::strcmp(argv[i], "--seconds") == 0)
      seconds = std::strtod(argv[i + 1], nullptr);
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("page_cost_bench." + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  qlan::server::EntryStore store;
  std::string error;
  if (!store.Open((folder / "ranking.db").string(), false, &error)) {
    std::printf("page_cost_bench: %s\n", error.c_str());
    return 1;
  }
  qlan::server::RankingService service(store);
  std::mt19937 random(12345);
  std::vector<std::string> ids;  // in arrival order
  std::mutex idsMutex;
  std::uint32_t next = 0;
  std::mutex addMutex;
  const auto add = [&](std::int64_t now) {
    const std::lock_guard<std::mutex> lock(addMutex);
    StoredEntry e;
    const std::uint32_t time = 3600 + static_cast<std::uint32_t>(random() % 36000);
    if (service.AddReplay(MakeReplay(next++, time), now, &e) != Outcome::kOk) return false;
    const std::lock_guard<std::mutex> idsLock(idsMutex);
    ids.push_back(e.id);
    return true;
  };
  const auto idAt = [&](std::size_t i) {
    const std::lock_guard<std::mutex> lock(idsMutex);
    return ids[i];
  };
  const auto count = [&] {
    const std::lock_guard<std::mutex> lock(idsMutex);
    return ids.size();
  };

  // An entry every second while pages are asked for.
  std::atomic<bool> arriving{false};
  std::atomic<bool> done{false};
  std::thread arrivals([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      if (arriving) add(1700000000 + next);
    }
  });

  struct Kind {
    const char* name;
    std::string path, id, page;
  };
  std::map<std::string, double> anchor;
  std::printf("%-26s %8s %12s %10s\n", "page", "entries", "median us", "x 1,000");
  for (std::uint32_t size = 1000; size <= largest; size *= 10) {
    arriving = false;
    while (next < size) {
      if (!add(1700000000 + next)) {
        std::printf("page_cost_bench: cannot add an entry\n");
        done = true;
        arrivals.join();
        return 1;
      }
    }
    arriving = true;
    // The best entry is the one ranked first: found through the route's first page.
    const std::string some = idAt(count() / 2);
    const std::string pageCount = std::to_string((size + 49) / 50);
    const Kind kinds[] = {
        {"entry page (first id)", "/sw/qlan/hsentry/1/", idAt(0), ""},
        {"entry page (middle id)", "/sw/qlan/hsentry/1/", some, ""},
        {"route page 1", "/sw/qlan/ranking/710/", "", ""},
        {"route page (last)", "/sw/qlan/ranking/710/", "", pageCount},
        {"route page past the end", "/sw/qlan/ranking/710/", "", std::to_string(size / 50 + 2)},
        {"index", "/sw/qlan/", "", ""},
        {"score.dat (after a commit)", "/sw/qlan/score.dat", "", ""},
    };
    for (const Kind& k : kinds) {
      std::vector<double> costs;
      const Clock::time_point end = Clock::now() + std::chrono::milliseconds(1500);
      while (costs.size() < 25 || (Clock::now() < end && costs.size() < 400)) {
        if (k.path == "/sw/qlan/score.dat") add(1700000000 + next);  // the cache is of no use
        const Clock::time_point start = Clock::now();
        const qlan::server::Reply reply = service.Read(k.path, k.id, k.page);
        costs.push_back(Micros(Clock::now() - start));
        if (reply.body.empty()) std::printf("page_cost_bench: %s: empty\n", k.name);
      }
      const double median = Median(costs);
      if (size == 1000) anchor[k.name] = median;
      std::printf("%-26s %8u %12.1f %10.2f\n", k.name, size, median,
                  anchor[k.name] > 0 ? median / anchor[k.name] : 0.0);
    }
  }

  // 32 connections from 127.0.0.9 ask for route pages and entry pages at random; a player
  // on 127.0.0.2 asks for one entry page, once every 50 ms.
  qlan::server::ServerOptions options;
  options.perAddressLimit = 64;
  qlan::server::RankingHttpServer server(service, options);
  const int port = server.Start("127.0.0.1", 0);
  if (port <= 0) {
    std::printf("page_cost_bench: cannot listen\n");
  } else {
    std::atomic<bool> flooding{true};
    std::atomic<long> floodRequests{0};
    std::vector<std::thread> flood;
    flood.reserve(32);
    for (int c = 0; c < 32; ++c) {
      flood.emplace_back([&, c] {
        std::mt19937 pick(static_cast<unsigned>(c));
        while (flooding) {
          const std::size_t n = count();
          const std::string target =
              pick() % 2 == 0
                  ? "/sw/qlan/ranking/710/?page=" + std::to_string(1 + pick() % (n / 50))
                  : "/sw/qlan/hsentry/1/?UNIQUE_ID=" + idAt(pick() % n);
          if (Get(port, 9, target) != 0) ++floodRequests;
        }
      });
    }
    std::vector<double> waits;
    const std::string target = "/sw/qlan/hsentry/1/?UNIQUE_ID=" + idAt(count() / 3);
    const Clock::time_point end =
        Clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    int failed = 0;
    while (Clock::now() < end) {
      const Clock::time_point start = Clock::now();
      failed += Get(port, 2, target) != 200;
      waits.push_back(Micros(Clock::now() - start) / 1000.0);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    flooding = false;
    for (std::thread& t : flood) t.join();
    server.Stop(1000);
    std::printf(
        "another player's entry page under 32 connections from one address, %zu entries:\n"
        "  median %.1f ms, worst %.1f ms over %zu requests (%d failed); the flood made %.0f "
        "requests/s\n",
        count(), Median(waits), waits.empty() ? 0.0 : *std::max_element(waits.begin(), waits.end()),
        waits.size(), failed, static_cast<double>(floodRequests) / seconds);
  }
  done = true;
  arrivals.join();
  // A server started on this database: its first page reads the whole route.
  {
    qlan::server::EntryStore reopened;
    if (reopened.Open((folder / "ranking.db").string(), false, &error)) {
      qlan::server::RankingService fresh(reopened);
      const Clock::time_point start = Clock::now();
      fresh.Read("/sw/qlan/", "", "");
      const double first = Micros(Clock::now() - start);
      const Clock::time_point again = Clock::now();
      fresh.Read("/sw/qlan/", "", "");
      std::printf("index after a start on %zu entries: first %.1f ms, then %.1f ms\n", count(),
                  first / 1000.0, Micros(Clock::now() - again) / 1000.0);
    }
  }
  store.Close();
  std::filesystem::remove_all(folder);
  return 0;
}
