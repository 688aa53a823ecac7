// The configuration dialog's logic.
#include "ui/config_dialog.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/settings.h"
#include "app/text.h"
#include "ui/input_filters.h"
#include "ui/online_flow.h"
#include "ui/records_flow.h"
#include "ui/resource.h"

namespace qlan {
namespace {

void SetFlag(std::uint32_t mask, bool on) noexcept {
  if (on) {
    g_settings.flags |= mask;
  } else {
    g_settings.flags &= ~mask;
  }
}

}  // namespace

void ConfigDialog::Initialize() {
  char address[sizeof g_settings.proxyAddress];
  shownAddress_ = ShowableText(ProxyAddressText(g_settings, address));
  addressEdited_ = false;
  window_.SetItemText(IDE_PROXY_ADDRESS, shownAddress_);
  window_.SetItemText(IDE_PROXY_PORT,
                      std::to_string(static_cast<std::uint32_t>(g_settings.proxyPort)));
  // The fields report a programmatic change like a typed one; read them back the same way
  // whether or not the window system notifies.
  OnCommand(IDE_PROXY_ADDRESS);
  OnCommand(IDE_PROXY_PORT);
  RebuildRecordList(window_);
  RefreshControls();
}

std::optional<int> ConfigDialog::OnCommand(int id) {
  switch (id) {
    case kIdOk:
      return 1;
    case kIdCancel:
      return 0;
    case IDC_FULL_SCREEN:
    case IDC_WINDOW_640:
    case IDC_WINDOW_320:
      g_settings.flags &= ~(kFlagWindowed | kFlagLargeWindow);
      if (window_.IsChecked(IDC_FULL_SCREEN)) break;
      g_settings.flags |=
          window_.IsChecked(IDC_WINDOW_640) ? (kFlagWindowed | kFlagLargeWindow) : kFlagWindowed;
      break;
    case IDC_REPLAY_BETTER:
    case IDC_REPLAY_EVERY_RUN:
      SetFlag(kFlagReplayEveryRun, window_.IsChecked(IDC_REPLAY_EVERY_RUN));
      break;
    case IDC_AUTO_DOWNLOAD:
      SetFlag(kFlagAutoDownload, window_.IsChecked(IDC_AUTO_DOWNLOAD));
      break;
    case IDC_USE_PROXY:
      SetFlag(kFlagUseProxy, window_.IsChecked(IDC_USE_PROXY));
      RefreshControls();
      break;
    case IDC_SWAP_BUTTONS:
      SetFlag(kFlagSwapButtons, window_.IsChecked(IDC_SWAP_BUTTONS));
      break;
    case IDE_PROXY_ADDRESS: {
      // Only the new text and its terminator go over the field; older bytes behind it stay.
      const std::string text = window_.GetItemText(IDE_PROXY_ADDRESS);
      if (!addressEdited_ && text == shownAddress_) break;
      addressEdited_ = true;  // from now on the field is what is stored
      const std::size_t n = std::min<std::size_t>(text.size(), sizeof g_settings.proxyAddress - 1);
      std::memcpy(g_settings.proxyAddress, text.data(), n);
      g_settings.proxyAddress[n] = '\0';
      break;
    }
    case IDE_PROXY_PORT: {
      const std::string text = window_.GetItemText(IDE_PROXY_PORT);
      g_settings.proxyPort =
          static_cast<std::int32_t>(ReadDecimal(std::string_view(text).substr(0, kPortReadLimit)));
      break;
    }
    case IDC_DOWNLOAD:
      runDownload(window_);
      break;
    case IDC_ENTRY:
      RunEntrySequence(window_);
      break;
    case IDC_ERASE:
      RunEraseSequence(window_);
      RefreshControls();
      break;
    default:
      break;
  }
  return std::nullopt;
}

void ConfigDialog::RefreshControls() {
  const std::uint32_t flags = g_settings.flags;
  const std::uint32_t screen = flags & (kFlagWindowed | kFlagLargeWindow);
  window_.SetChecked(IDC_FULL_SCREEN, (flags & kFlagWindowed) == 0);
  window_.SetChecked(IDC_WINDOW_320, screen == kFlagWindowed);
  window_.SetChecked(IDC_WINDOW_640, screen == (kFlagWindowed | kFlagLargeWindow));
  window_.SetChecked(IDC_REPLAY_BETTER, (flags & kFlagReplayEveryRun) == 0);
  window_.SetChecked(IDC_REPLAY_EVERY_RUN, (flags & kFlagReplayEveryRun) != 0);
  window_.SetChecked(IDC_AUTO_DOWNLOAD, (flags & kFlagAutoDownload) != 0);
  const bool useProxy = (flags & kFlagUseProxy) != 0;
  window_.SetChecked(IDC_USE_PROXY, useProxy);
  window_.EnableItem(IDE_PROXY_ADDRESS, useProxy);
  window_.EnableItem(IDE_PROXY_PORT, useProxy);
  window_.SetChecked(IDC_SWAP_BUTTONS, (flags & kFlagSwapButtons) != 0);
}

}  // namespace qlan
