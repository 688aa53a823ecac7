// Erasing every local record: the replay files, then both high-score files.
#pragma once

namespace qlan {

inline constexpr int kEraseSearchFailed = -1;
inline constexpr int kEraseDeleteFailed = -10;

// Deletes every file matching "*.replay" in folder (no trailing backslash); sub-folders
// are left alone. 0 when every match was deleted or nothing matched, -10 when a deletion
// failed (the others are still deleted), -1 when the folder could not be searched.
int EraseReplays(const char* folder) noexcept;

// Every replay in the replay folder, then the empty table into both high-score files; a
// missing replay folder does not keep the high scores. 0, or the first failure's code (the
// high scores stay as they were when a replay could not be deleted).
int EraseAllRecords() noexcept;

}  // namespace qlan
