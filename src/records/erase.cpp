// Erase of all records.
#include "records/erase.h"

#include <string>
#include <vector>

#include "app/files.h"
#include "app/filesystem.h"
#include "app/text.h"
#include "records/highscore.h"
#include "records/replay.h"

namespace qlan {

int EraseReplays(const char* folder) noexcept {
  if (folder == nullptr) return kEraseSearchFailed;
  // Names first, deletions after the search has ended, so no search runs over a folder
  // that is changing under it.
  std::vector<std::string> names;
  bool lostName = false;
  const int searched = FindEntries(folder, ".replay", [&](const FolderEntry& entry) noexcept {
    if (entry.isFolder || entry.name == "." || entry.name == "..") return;
    try {
      names.push_back(entry.name);
    } catch (...) {
      lostName = true;  // no memory: that file stays, and the result must say so
    }
  });
  // Nothing to delete is not a failure: the high scores must stay erasable.
  if (searched == kErrorFileNotFound) return 0;
  if (searched != 0) return kEraseSearchFailed;

  int result = lostName ? kEraseDeleteFailed : 0;
  char path[kPathSize];
  for (const std::string& name : names) {
    if (!CopyText(path, sizeof path, folder) || !AppendText(path, sizeof path, "\\") ||
        !AppendText(path, sizeof path, name)) {
      result = kEraseDeleteFailed;  // a file we cannot even name stays behind
      continue;
    }
    if (DeleteFileAt(path) != 0) result = kEraseDeleteFailed;
  }
  return result;
}

int EraseAllRecords() noexcept {
  char folder[kPathSize];
  if (GetReplayFolder(folder, sizeof folder) == 0) {
    if (const int result = EraseReplays(folder); result != 0) return result;
  }
  ResetHighScoreTable();
  return SaveHighScoreFiles();
}

}  // namespace qlan
