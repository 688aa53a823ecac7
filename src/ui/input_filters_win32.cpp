// Placeholder until the proxy field filters land.
#include "ui/input_filters_win32.h"

namespace qlan {

void InstallInputFilters(HWND) noexcept {}

}  // namespace qlan
