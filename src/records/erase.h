// Erasing every local record: the replay files, then both high-score files.
#pragma once

#include "ui/window_system.h"

namespace qlan {

inline constexpr int kEraseSearchFailed = -1;
inline constexpr int kEraseDeleteFailed = -10;

inline constexpr char kEraseCaption[] = "記録の消去";
inline constexpr char kEraseFirstQuestion[] =
    "この操作を行うとリプレイとハイスコアが全て消去されます。\nよろしいですか？";
inline constexpr char kEraseSecondQuestion[] =
    "いちど消去すると元に戻すことはできません。\n本当によろしいですか？";
inline constexpr char kEraseDone[] = "消去が完了しました。";
inline constexpr char kEraseFailed[] =
    "消去中にエラーが発生しました。\n一部の記録が残った可能性があります。";

// Deletes every file matching "*.replay" in folder (no trailing backslash); sub-folders
// are left alone. 0 when every match was deleted or nothing matched, -10 when a deletion
// failed (the others are still deleted), -1 when the folder could not be searched.
int EraseReplays(const char* folder) noexcept;

// The erase button: two questions, the replays, the high-score files, one closing
// message, and the record list rebuilt (after a cancel too). The dialog refreshes its
// controls afterwards.
void RunEraseSequence(WindowSystem& window);

}  // namespace qlan
