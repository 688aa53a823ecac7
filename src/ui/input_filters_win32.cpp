// The proxy fields' subclass procedures: they turn window messages into the decisions of
// ui/input_filters.h and carry out the verdict.
#include "ui/input_filters_win32.h"

#include <imm.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/input_filters.h"
#include "ui/resource.h"

namespace qlan {
namespace {

// The field's previous procedure, kept on the field itself.
constexpr wchar_t kPreviousProcedure[] = L"QlanPreviousProcedure";

// The platform's plain default beep (the user's "Default Beep" sound).
void Refuse() noexcept { MessageBeep(MB_OK); }

LRESULT PassOn(HWND field, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  const auto kept = reinterpret_cast<LONG_PTR>(GetPropW(field, kPreviousProcedure));
  if (kept == 0) return DefWindowProcW(field, message, wParam, lParam);
  return CallWindowProcW(reinterpret_cast<WNDPROC>(kept), field, message, wParam, lParam);
}

// The field is going away: put its own procedure back before it handles the message.
LRESULT Uninstall(HWND field, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  const auto kept = reinterpret_cast<LONG_PTR>(RemovePropW(field, kPreviousProcedure));
  if (kept == 0) return DefWindowProcW(field, message, wParam, lParam);
  SetWindowLongPtrW(field, GWLP_WNDPROC, kept);
  return CallWindowProcW(reinterpret_cast<WNDPROC>(kept), field, message, wParam, lParam);
}

// Reads at most capacity - 1 units of the field's text.
template <std::size_t capacity>
std::u16string_view ReadText(HWND field, char16_t (&out)[capacity]) noexcept {
  wchar_t wide[capacity];
  const int got = GetWindowTextW(field, wide, static_cast<int>(capacity));
  const std::size_t n = got > 0 ? static_cast<std::size_t>(got) : 0;
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char16_t>(wide[i]);
  return {out, n};
}

std::size_t TextLength(HWND field) noexcept {
  const int length = GetWindowTextLengthW(field);
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

std::size_t SelectionStart(HWND field) noexcept {
  DWORD start = 0;
  SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
  return start;
}

// A typed unit: what the field would insert, so the low 16 bits of the message's code.
std::uint32_t TypedUnit(WPARAM wParam) noexcept { return static_cast<std::uint16_t>(wParam); }

void Apply(HWND field, const FieldRepair& repair) noexcept {
  if (!repair.changed) return;
  Refuse();
  wchar_t wide[kAddressPasteLimit + 1];
  const std::u16string_view text = repair.text();
  for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<wchar_t>(text[i]);
  wide[text.size()] = L'\0';
  SetWindowTextW(field, wide);
  const auto caret = static_cast<WPARAM>(repair.caret);
  SendMessageW(field, EM_SETSEL, caret, static_cast<LPARAM>(caret));
  SendMessageW(field, EM_SCROLLCARET, 0, 0);
}

void RepairAddress(HWND field) noexcept {
  char16_t text[kAddressPasteLimit + 2];  // one unit more than is kept tells a longer text
  Apply(field, RepairAddressAfterPaste(ReadText(field, text), SelectionStart(field)));
}

void CheckPort(HWND field) noexcept {
  char16_t text[kPortReadLimit + 1];
  Apply(field, CheckPortValue(ReadText(field, text)));
}

void RepairPortConversion(HWND field) noexcept {
  char16_t text[kAddressPasteLimit + 2];
  Apply(field, RepairPortAfterConversion(ReadText(field, text), SelectionStart(field)));
}

// An input method's converted text goes into the field without a character message.
bool IsConversionResult(UINT message, LPARAM lParam) noexcept {
  return message == WM_IME_COMPOSITION && (lParam & GCS_RESULTSTR) != 0;
}

void Install(HWND field, WNDPROC filter) noexcept {
  if (field == nullptr || GetPropW(field, kPreviousProcedure) != nullptr) return;
  const LONG_PTR previous = GetWindowLongPtrW(field, GWLP_WNDPROC);
  if (previous == 0 || !SetPropW(field, kPreviousProcedure, reinterpret_cast<HANDLE>(previous)))
    return;
  SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(filter));
}

}  // namespace

LRESULT CALLBACK AddressFieldFilter(HWND field, UINT message, WPARAM wParam,
                                    LPARAM lParam) noexcept {
  switch (message) {
    case WM_CHAR:
    case WM_IME_CHAR:  // the field inserts it without a WM_CHAR of its own
      if (DecideAddressKey(TextLength(field), TypedUnit(wParam)) == KeyVerdict::kRefuse) {
        Refuse();
        return 0;
      }
      return PassOn(field, message, wParam, lParam);
    case WM_UNICHAR:
      if (wParam != UNICODE_NOCHAR &&
          DecideAddressKey(TextLength(field), static_cast<std::uint32_t>(wParam)) ==
              KeyVerdict::kRefuse) {
        Refuse();
        return 0;
      }
      return PassOn(field, message, wParam, lParam);
    case WM_PASTE:
    case WM_IME_COMPOSITION: {
      const LRESULT result = PassOn(field, message, wParam, lParam);
      if (message == WM_PASTE || IsConversionResult(message, lParam)) RepairAddress(field);
      return result;
    }
    case WM_KEYDOWN: {
      // Shift+Insert pastes inside the field, without a WM_PASTE on some systems.
      const LRESULT result = PassOn(field, message, wParam, lParam);
      if (wParam == VK_INSERT && GetKeyState(VK_SHIFT) < 0) RepairAddress(field);
      return result;
    }
    case WM_NCDESTROY:
      return Uninstall(field, message, wParam, lParam);
    default:
      return PassOn(field, message, wParam, lParam);
  }
}

LRESULT CALLBACK PortFieldFilter(HWND field, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_CHAR:
    case WM_IME_CHAR: {
      if (DecidePortKey(TextLength(field), TypedUnit(wParam)) == KeyVerdict::kRefuse) {
        Refuse();
        return 0;
      }
      const LRESULT result = PassOn(field, message, wParam, lParam);
      CheckPort(field);
      return result;
    }
    case WM_UNICHAR:
      if (wParam != UNICODE_NOCHAR &&
          DecidePortKey(TextLength(field), static_cast<std::uint32_t>(wParam)) ==
              KeyVerdict::kRefuse) {
        Refuse();
        return 0;
      }
      return PassOn(field, message, wParam, lParam);
    case WM_PASTE:
    // The context menu's cut, delete and undo reach the field without a character message;
    // their keyboard shortcuts are checked after their WM_CHAR as well.
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case EM_UNDO: {
      const LRESULT result = PassOn(field, message, wParam, lParam);
      CheckPort(field);
      return result;
    }
    case WM_IME_COMPOSITION: {
      const LRESULT result = PassOn(field, message, wParam, lParam);
      if (IsConversionResult(message, lParam)) RepairPortConversion(field);
      return result;
    }
    case WM_KEYDOWN: {
      // Delete, Shift+Delete (cut) and Shift+Insert (paste) change the text without a
      // character message.
      const LRESULT result = PassOn(field, message, wParam, lParam);
      if (wParam == VK_DELETE || wParam == VK_INSERT) CheckPort(field);
      return result;
    }
    case WM_NCDESTROY:
      return Uninstall(field, message, wParam, lParam);
    default:
      return PassOn(field, message, wParam, lParam);
  }
}

void InstallInputFilters(HWND dialog) noexcept {
  Install(GetDlgItem(dialog, IDE_PROXY_ADDRESS), AddressFieldFilter);
  Install(GetDlgItem(dialog, IDE_PROXY_PORT), PortFieldFilter);
}

}  // namespace qlan
