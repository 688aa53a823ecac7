// The proxy fields' input filters, installed on the dialog's two edit fields.
#pragma once
#include <windows.h>

namespace qlan {

// Subclasses the proxy address and port fields of dialog; call before the dialog puts the
// stored values into them.
void InstallInputFilters(HWND dialog) noexcept;

}  // namespace qlan
