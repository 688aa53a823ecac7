// Program start-up and shut-down around the modal dialog.
#include "ui/application.h"

#include <cstring>

#include "app/files.h"
#include "app/paths.h"
#include "app/settings.h"
#include "app/text.h"
#include "ui/messages.h"

namespace qlan {

int RunApplication(WindowSystem& window, const std::function<int()>& runDialog) {
  ResetSettings(g_settings);
  char settingsPath[kPathSize] = {};
  const bool havePath = GetUserDataPath(kVendorFolder, kSettingsFileName, settingsPath) == 0;
  if (!havePath) {
    window.ShowMessage(text::kNoSettingsFolder, text::kAppCaption, kMbOk | kMbIconHand, false);
  } else {
    const std::int16_t loaded = LoadSettings(settingsPath, g_settings);
    // A missing file is the first start, not a fault.
    if (loaded != 0 && loaded != kErrorFileNotFound) {
      window.ShowMessage(text::kSettingsUnreadable, text::kAppCaption, kMbOk | kMbIconInformation,
                         false);
    }
  }
  std::memcpy(&g_settingsSnapshot, &g_settings, sizeof g_settings);

  if (runDialog() != 1 || !havePath) return 0;
  if (std::memcmp(&g_settings, &g_settingsSnapshot, sizeof g_settings) == 0) return 0;
  if (SaveSettings(settingsPath, g_settings) != 0) {
    window.ShowMessage(text::kSaveFailed, text::kAppCaption, kMbOk | kMbIconHand, false);
    return -1;
  }
  return 0;
}

}  // namespace qlan
