// The ranking of every route kept in memory, so that an entry's rank, a route's page and
// the index cost the same on a route of a million entries as on one of ten: a sorted array
// of compact keys per route, loaded on first use and brought up to date from the rows added
// and moderated since, whenever any connection has committed.
//
// Memory: 40 bytes per shown entry (twice that while an array grows), 4 MB for 100,000.
#pragma once
#include <array>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <vector>

#include "server/entry_id.h"
#include "server/entry_store.h"

namespace qlan::server {

class Standings {
 public:
  explicit Standings(EntryStore& store) noexcept : store_(store) {}

  // EntryStore's Find and Standings (here Best) with the same results, from memory, each as
  // of the latest commit; any thread.
  StoreResult Find(std::string_view id, StoredEntry* entry, std::uint32_t* rank,
                   std::uint32_t* routeCount, std::vector<StoredEntry>* around = nullptr,
                   std::uint32_t radius = 0);
  StoreResult Best(std::vector<RouteStanding>* routes);
  // The route's entries ranked offset + 1 on, at most limit, and its entry count.
  StoreResult Ranked(std::uint32_t route, std::uint32_t offset, std::uint32_t limit,
                     std::vector<StoredEntry>* rows, std::uint32_t* routeCount);

 private:
  // Ranking order: shorter time, then longer distance, then the earlier entry.
  struct Key {
    std::uint32_t timeTicks;
    std::uint32_t distance;
    std::int64_t rowid;
    std::int64_t created;
    std::array<char, kEntryIdLength> id;
    bool operator<(const Key& o) const noexcept {
      return timeTicks != o.timeTicks ? timeTicks < o.timeTicks
             : distance != o.distance ? distance > o.distance
                                      : rowid < o.rowid;
    }
  };
  static_assert(sizeof(Key) == 40);
  static Key KeyOf(const ArrivedEntry& e) noexcept;
  static StoredEntry EntryOf(std::uint32_t route, const Key& key);

  // Reads what was committed since the last refresh; false when the store cannot be read.
  bool Refresh();
  void Apply(const std::vector<ArrivedEntry>& changed);
  // With mutex_ held: the route's array, or nullptr for a route outside 710..749.
  const std::vector<Key>* Route(std::uint32_t route) const noexcept;
  void Copy(std::uint32_t route, std::size_t from, std::size_t to,
            std::vector<StoredEntry>* rows) const;

  EntryStore& store_;
  std::mutex refreshMutex_;  // one refresh at a time; guards what follows
  bool loaded_ = false;
  std::uint64_t version_ = 0;
  std::int64_t lastEntry_ = 0;
  std::int64_t lastEvent_ = 0;

  mutable std::shared_mutex mutex_;  // guards routes_
  std::array<std::vector<Key>, kRouteCount> routes_;
};

}  // namespace qlan::server
