// Loading and saving the settings record.
#include "app/settings.h"

#include <cstring>

#include "app/files.h"
#include "app/filesystem.h"
#include "app/text.h"

namespace qlan {

Settings g_settings{};
Settings g_settingsSnapshot{};

namespace {

std::uint32_t Swap32(std::uint32_t v) noexcept {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// The header fields are big-endian in the file; this converts either way on any host.
void ToggleFileOrder(Settings& record) noexcept {
  constexpr std::uint32_t probe = 1;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  if (first == 1) SwapSettingsHeader(record);
}

}  // namespace

void ResetSettings(Settings& record) noexcept {
  std::memset(&record, 0, sizeof record);
  record.magic = kSettingsMagic;
  record.bodyLength = kSettingsBodyLength;
  record.flags = 0;
}

void SwapSettingsHeader(Settings& record) noexcept {
  record.magic = Swap32(record.magic);
  record.bodyLength = Swap32(record.bodyLength);
  record.flags = Swap32(record.flags);
  record.proxyPort =
      static_cast<std::int32_t>(Swap32(static_cast<std::uint32_t>(record.proxyPort)));
}

std::int16_t LoadSettings(const char* path, Settings& record) noexcept {
  ResetSettings(record);
  ScopedFile file(FileOpen(path, kFileRead));
  if (const std::int16_t code = FileError(); code != 0) return code;
  std::int16_t result = 0;
  if (FileRead(file.get(), kSettingsSize, &record) < kSettingsSize) {
    ResetSettings(record);
    result = kShortSettingsFile;
  } else {
    ToggleFileOrder(record);
  }
  if (record.magic != kSettingsMagic) {
    ResetSettings(record);
    result = -1;
  }
  return result;
}

std::int16_t SaveSettings(const char* path, Settings& record) noexcept {
  // Refused before anything is written: the attribute is not honoured everywhere.
  if (IsReadOnlyFile(path)) return kErrorAccessDenied;
  char temporary[kPathSize] = {};
  if (!CopyText(temporary, sizeof temporary, path) ||
      !AppendText(temporary, sizeof temporary, ".new")) {
    return -1;
  }
  std::int16_t result = 0;
  {
    ScopedFile file(FileOpen(temporary, kFileWrite | kFileTruncate));
    if (const std::int16_t code = FileError(); code != 0) return code;
    ToggleFileOrder(record);
    const std::int32_t written = FileWrite(file.get(), kSettingsSize, &record);
    ToggleFileOrder(record);
    if (written != kSettingsSize || FileError() != 0 || !FileFlush(file.get())) result = -1;
  }
  if (result == 0) {
    const int code = ReplaceFileAtomically(temporary, path);
    if (code != 0) result = static_cast<std::int16_t>(code);
  }
  if (result != 0) DeleteFileAt(temporary);
  return result;
}

const char* ProxyAddressText(const Settings& record, char (&out)[128]) noexcept {
  const std::size_t n = BoundedLength(record.proxyAddress, sizeof record.proxyAddress);
  const std::size_t kept = n < sizeof out ? n : sizeof out - 1;
  std::memcpy(out, record.proxyAddress, kept);
  out[kept] = '\0';
  return out;
}

}  // namespace qlan
