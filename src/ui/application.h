// The run outside the dialog: settings in, dialog, settings out.
#pragma once
#include <functional>

#include "ui/window_system.h"

namespace qlan {

// runDialog runs the modal dialog and returns 1 (OK), 0 (Cancel, close) or -1 (it could
// not be created). Returns the process exit code: 0, or -1 when the final save failed.
int RunApplication(WindowSystem& window, const std::function<int()>& runDialog);

}  // namespace qlan
