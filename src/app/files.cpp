// The program-wide result code of the file layer.
#include "app/files.h"

namespace qlan {
namespace {
std::int16_t g_fileError = 0;
}

void SetFileError(int code) noexcept { g_fileError = static_cast<std::int16_t>(code); }
std::int16_t FileError() noexcept { return g_fileError; }

}  // namespace qlan
