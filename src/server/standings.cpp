// The standings in memory.
#include "server/standings.h"

#include <algorithm>
#include <cstring>

namespace qlan::server {
namespace {

// Up to this many changes to a route go in one by one; more (the first load) are sorted in.
constexpr std::size_t kOneByOne = 32;

}  // namespace

Standings::Key Standings::KeyOf(const ArrivedEntry& e) noexcept {
  Key key{e.entry.timeTicks, e.entry.distance, e.rowid, e.entry.created, {}};
  std::memcpy(key.id.data(), e.entry.id.data(), std::min(e.entry.id.size(), key.id.size()));
  return key;
}

StoredEntry Standings::EntryOf(std::uint32_t route, const Key& key) {
  StoredEntry e;
  e.id.assign(key.id.data(), key.id.size());
  e.route = route;
  e.timeTicks = key.timeTicks;
  e.distance = key.distance;
  e.created = key.created;
  return e;
}

const std::vector<Standings::Key>* Standings::Route(std::uint32_t route) const noexcept {
  const auto first = static_cast<std::uint32_t>(kFirstRoute);
  return route >= first && route - first < routes_.size() ? &routes_[route - first] : nullptr;
}

bool Standings::Refresh() {
  const std::uint64_t version = store_.Version();
  const std::lock_guard<std::mutex> lock(refreshMutex_);
  // A commit after the version was read is read now or by the next refresh.
  if (loaded_ && version != 0 && version == version_) return true;
  std::int64_t lastEntry = lastEntry_;
  std::int64_t lastEvent = lastEvent_;
  std::vector<ArrivedEntry> changed;
  if (store_.Changes(&lastEntry, &lastEvent, &changed) != StoreResult::kOk) return false;
  Apply(changed);
  loaded_ = true;
  version_ = version;
  lastEntry_ = lastEntry;
  lastEvent_ = lastEvent;
  return true;
}

void Standings::Apply(const std::vector<ArrivedEntry>& changed) {
  // Each change is the entry as it is now: shown ones are in their route's array once,
  // withdrawn ones in none, whatever came before.
  std::array<std::vector<Key>, kRouteCount> shown;
  std::array<std::vector<Key>, kRouteCount> withdrawn;
  for (const ArrivedEntry& e : changed) {
    const auto index =
        static_cast<std::size_t>(e.entry.route - static_cast<std::uint32_t>(kFirstRoute));
    if (index >= shown.size()) continue;
    (e.entry.hidden ? withdrawn : shown)[index].push_back(KeyOf(e));
  }
  const std::unique_lock<std::shared_mutex> lock(mutex_);
  for (std::size_t r = 0; r < routes_.size(); ++r) {
    std::vector<Key>& keys = routes_[r];
    const auto same = [](const Key& a, const Key& b) { return a.rowid == b.rowid; };
    if (shown[r].size() + withdrawn[r].size() <= kOneByOne) {
      for (const Key& k : withdrawn[r]) {
        const auto at = std::lower_bound(keys.begin(), keys.end(), k);
        if (at != keys.end() && same(*at, k)) keys.erase(at);
      }
      for (const Key& k : shown[r]) {
        const auto at = std::lower_bound(keys.begin(), keys.end(), k);
        if (at == keys.end() || !same(*at, k)) keys.insert(at, k);
      }
      continue;
    }
    keys.insert(keys.end(), shown[r].begin(), shown[r].end());
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end(), same), keys.end());
    std::sort(withdrawn[r].begin(), withdrawn[r].end());
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const Key& k) {
                                return std::binary_search(withdrawn[r].begin(), withdrawn[r].end(),
                                                          k);
                              }),
               keys.end());
  }
}

void Standings::Copy(std::uint32_t route, std::size_t from, std::size_t to,
                     std::vector<StoredEntry>* rows) const {
  const std::vector<Key>& keys = *Route(route);
  to = std::min(to, keys.size());
  for (std::size_t i = from; i < to; ++i) rows->push_back(EntryOf(route, keys[i]));
}

StoreResult Standings::Find(std::string_view id, StoredEntry* entry, std::uint32_t* rank,
                            std::uint32_t* routeCount, std::vector<StoredEntry>* around,
                            std::uint32_t radius) {
  // The entry read after a refresh may be newer than it; a second refresh catches up.
  for (int attempt = 0; attempt < 2; ++attempt) {
    ArrivedEntry found;
    if (!Refresh()) return StoreResult::kFailed;
    const StoreResult looked = store_.Lookup(id, &found);
    if (looked != StoreResult::kOk) return looked;
    const std::shared_lock<std::shared_mutex> lock(mutex_);
    const std::vector<Key>* keys = Route(found.entry.route);
    if (keys == nullptr) return StoreResult::kFailed;
    *entry = found.entry;
    *routeCount = static_cast<std::uint32_t>(keys->size());
    *rank = 0;
    if (entry->hidden) return StoreResult::kOk;
    const Key key = KeyOf(found);
    const auto at = std::lower_bound(keys->begin(), keys->end(), key);
    if (at == keys->end() || at->rowid != key.rowid) continue;
    const auto index = static_cast<std::size_t>(at - keys->begin());
    *rank = static_cast<std::uint32_t>(index + 1);
    if (around != nullptr) {
      Copy(entry->route, index - std::min<std::size_t>(index, radius), index + 1 + radius, around);
    }
    return StoreResult::kOk;
  }
  return StoreResult::kFailed;
}

StoreResult Standings::Best(std::vector<RouteStanding>* routes) {
  if (!Refresh()) return StoreResult::kFailed;
  routes->assign(routes_.size(), RouteStanding());
  const std::shared_lock<std::shared_mutex> lock(mutex_);
  for (std::size_t r = 0; r < routes_.size(); ++r) {
    (*routes)[r].count = static_cast<std::uint32_t>(routes_[r].size());
    Copy(static_cast<std::uint32_t>(kFirstRoute) + static_cast<std::uint32_t>(r), 0, kBestPerRoute,
         &(*routes)[r].best);
  }
  return StoreResult::kOk;
}

StoreResult Standings::Ranked(std::uint32_t route, std::uint32_t offset, std::uint32_t limit,
                              std::vector<StoredEntry>* rows, std::uint32_t* routeCount) {
  if (!Refresh()) return StoreResult::kFailed;
  const std::shared_lock<std::shared_mutex> lock(mutex_);
  const std::vector<Key>* keys = Route(route);
  if (keys == nullptr) return StoreResult::kFailed;
  *routeCount = static_cast<std::uint32_t>(keys->size());
  if (offset < keys->size()) Copy(route, offset, std::size_t{offset} + limit, rows);
  return StoreResult::kOk;
}

}  // namespace qlan::server
