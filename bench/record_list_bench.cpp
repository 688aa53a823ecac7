// Rebuilding the record list from 40 replays of 3 MB each, against merely reading the
// same 40 files through the file layer, both measured in this run.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/files.h"
#include "app/text.h"
#include "records/record_list.h"
#include "records/replay.h"
#include "ui/records_flow.h"
#include "ui/resource.h"
#include "ui/window_system.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::uint32_t kFileSize = 3097332;  // the largest replay the game writes
constexpr std::uint32_t kPayload = kFileSize - 64;

// Counts list lines and ignores everything else.
class CountingWindow final : public qlan::WindowSystem {
 public:
  bool IsChecked(int) override { return false; }
  void SetChecked(int, bool) override {}
  std::string GetItemText(int) override { return {}; }
  void SetItemText(int, std::string_view) override {}
  void EnableItem(int, bool) override {}
  void ClearList(int) override { lines = 0; }
  void AddListLine(int, std::string_view) override { ++lines; }
  int GetListSelection(int) override { return 0; }
  void SetListSelection(int, int) override {}
  int ShowMessage(std::string_view, std::string_view, unsigned, bool) override {
    return qlan::kIdOk;
  }
  void* SetWaitCursor() override { return nullptr; }
  void RestoreCursor(void*) override {}
  void Beep() override {}
  int OpenUrl(std::string_view) override { return 42; }
  int lines = 0;
};

void PutBigEndian(std::vector<unsigned char>& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

bool WriteReplays(const fs::path& folder) {
  std::mt19937 random(745);
  std::vector<unsigned char> file(kFileSize);
  for (int i = 0; i < qlan::kRouteCount; ++i) {
    const auto route = static_cast<std::uint32_t>(qlan::kFirstRoute + i);
    for (std::size_t k = 64; k < file.size(); ++k)
      file[k] = static_cast<unsigned char>(random() >> 24);
    file[0] = 'Q';
    file[1] = 'L';
    file[2] = 'N';
    file[3] = 'R';
    PutBigEndian(file, 4, 3600u * static_cast<std::uint32_t>(i + 1));
    PutBigEndian(file, 8, 1000u * static_cast<std::uint32_t>(i + 1));
    PutBigEndian(file, 12, route);
    const std::uint32_t flags = i % 2 == 0 ? 0x400u : 0u;
    PutBigEndian(file, 52, flags);
    PutBigEndian(file, 56, qlan::ReplayChecksum(route, flags, file.data() + 64, kPayload));
    PutBigEndian(file, 60, kPayload);
    char name[32];
    const int length = std::snprintf(name, sizeof name, "r%03u.replay", route);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof name) return false;
    std::ofstream out(folder / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    if (!out.good()) return false;
  }
  return true;
}

// What reading the 40 files costs without any checking: open, one read, close.
std::uint32_t ReadAllReplays(std::vector<unsigned char>& buffer) {
  std::uint32_t keep = 0;
  for (int i = 0; i < qlan::kRouteCount; ++i) {
    char path[qlan::kPathSize];
    if (qlan::GetReplayPath(qlan::kFirstRoute + i, path, sizeof path) != 0) return 0;
    qlan::ScopedFile file(qlan::FileOpen(path, qlan::kFileRead));
    if (!file.valid()) return 0;
    const std::int32_t got =
        qlan::FileRead(file.get(), static_cast<std::int32_t>(buffer.size()), buffer.data());
    keep += static_cast<std::uint32_t>(got) + buffer[static_cast<std::size_t>(got) / 2];
  }
  return keep;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/qlan-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path root = pattern;
  ::setenv("APPDATA", root.c_str(), 1);
  const fs::path folder = root / "velmorn" / qlan::kReplayFolderName;
  fs::create_directories(folder);
  int status = 0;
  if (!WriteReplays(folder)) {
    std::printf("could not write the replays under %s\n", root.c_str());
    status = 1;
  } else {
    CountingWindow window;
    std::vector<unsigned char> buffer(kFileSize);
    double bestRebuild = 1e30;
    double bestRead = 1e30;
    std::uint32_t keep = 0;
    // Interleaved, so both see the same page cache; the first round warms it.
    for (int round = 0; round < 6; ++round) {
      auto start = Clock::now();
      keep += ReadAllReplays(buffer);
      const double read = std::chrono::duration<double>(Clock::now() - start).count();
      start = Clock::now();
      qlan::RebuildRecordList(window);
      const double rebuild = std::chrono::duration<double>(Clock::now() - start).count();
      if (round == 0) continue;
      if (read < bestRead) bestRead = read;
      if (rebuild < bestRebuild) bestRebuild = rebuild;
    }
    if (window.lines != qlan::kRouteCount) {
      std::printf("rebuild listed %d routes, expected %d\n", window.lines, qlan::kRouteCount);
      status = 1;
    }
    std::printf("record list from 40 replays of %u bytes (best of 5, warm cache)\n", kFileSize);
    std::printf("  plain read     %8.2f ms\n", bestRead * 1000.0);
    std::printf("  rebuild        %8.2f ms   %.2fx the plain read (target <= 6x)\n",
                bestRebuild * 1000.0, bestRebuild / bestRead);
    std::printf("(ignore: %u)\n", keep);
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return status;
}
