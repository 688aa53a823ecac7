// The record list as the dialog shows it, and the erase button's flow.
#pragma once

#include "ui/window_system.h"

namespace qlan {

// Rescans the 40 routes and refills the dialog's record list, selecting the first line.
void RebuildRecordList(WindowSystem& window);

// Two questions, the erase, one closing message, and the record list rebuilt (after a
// cancel too). The dialog refreshes its controls afterwards.
void RunEraseSequence(WindowSystem& window);

}  // namespace qlan
