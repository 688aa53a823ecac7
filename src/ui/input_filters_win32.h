// The proxy fields' input filters, installed on the dialog's two edit fields.
#pragma once
#include <windows.h>

namespace qlan {

// Subclasses the proxy address and port fields of dialog; call before the dialog puts the
// stored values into them. Installing twice on the same field changes nothing.
void InstallInputFilters(HWND dialog) noexcept;

// The subclass procedures: every message they do not refuse goes to the field's previous
// procedure, whose result they return. Installed by InstallInputFilters. Text the program
// sets (WM_SETTEXT) is passed on unfiltered, so the stored values show as they are.
LRESULT CALLBACK AddressFieldFilter(HWND field, UINT message, WPARAM wParam,
                                    LPARAM lParam) noexcept;
LRESULT CALLBACK PortFieldFilter(HWND field, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

}  // namespace qlan
