// Code page 932 decoding through the system's own converter.
#include <windows.h>

#include "app/text.h"
#include "app/wide_win32.h"

namespace qlan {

bool DecodeCodePage932(std::string_view bytes, std::string& out) {
  out.clear();
  if (bytes.empty()) return true;
  const int size = static_cast<int>(bytes.size());
  // Strict, so that a byte the code page does not define is reported, not guessed.
  const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), n) != n) {
    return false;
  }
  out = Narrow(wide);
  return true;
}

}  // namespace qlan
