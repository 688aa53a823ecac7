// The 144-byte settings record shared with the game, and its file qlan.ini.
#pragma once
#include <cstdint>

namespace qlan {

inline constexpr std::uint32_t kFlagWindowed = 0x01;
inline constexpr std::uint32_t kFlagLargeWindow = 0x02;
inline constexpr std::uint32_t kFlagReplayEveryRun = 0x04;
inline constexpr std::uint32_t kFlagAutoDownload = 0x08;
inline constexpr std::uint32_t kFlagUseProxy = 0x10;
inline constexpr std::uint32_t kFlagSwapButtons = 0x20;

inline constexpr std::uint32_t kSettingsMagic = 0x514C4E49;  // "QLNI"
inline constexpr std::uint32_t kSettingsBodyLength = 136;
inline constexpr int kSettingsSize = 144;
inline constexpr int kShortSettingsFile = -39;

struct Settings {
  std::uint32_t magic;
  std::uint32_t bodyLength;
  std::uint32_t flags;
  std::int32_t proxyPort;
  char proxyAddress[128];
};
static_assert(sizeof(Settings) == kSettingsSize, "the record is stored byte for byte");

// The one record of the run and the copy taken after loading it.
extern Settings g_settings;
extern Settings g_settingsSnapshot;

void ResetSettings(Settings& record) noexcept;
void SwapSettingsHeader(Settings& record) noexcept;
// 0, the operating system's code of a failed open, -39 for a short file or failed read,
// -1 for a wrong magic. Every failure leaves the defaults.
std::int16_t LoadSettings(const char* path, Settings& record) noexcept;
// Writes a temporary file beside path and moves it over path in one step, so a failed
// save leaves the old file as it was. 0, the operating system's code, or -1.
std::int16_t SaveSettings(const char* path, Settings& record) noexcept;

// The proxy address as text: at most 127 bytes even when the field has no terminator.
const char* ProxyAddressText(const Settings& record, char (&out)[128]) noexcept;

}  // namespace qlan
