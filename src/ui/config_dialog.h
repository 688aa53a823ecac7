// The configuration dialog's logic: binds the option controls to the live settings
// record and starts the three flows.
#pragma once
#include <optional>
#include <string>

#include "ui/window_system.h"

namespace qlan {

class ConfigDialog {
 public:
  explicit ConfigDialog(WindowSystem& window) noexcept : window_(window) {}

  // Shows the stored proxy values, fills the record list and sets every option.
  void Initialize();
  // A command from control id; the dialog's result when the command ends it.
  std::optional<int> OnCommand(int id);
  // The close box, or the window's destruction.
  static int OnClose() noexcept { return 0; }
  // Sets every option control from the flags.
  void RefreshControls();

 private:
  WindowSystem& window_;
  // The stored address as the field was given it: while the field still shows this, the
  // stored bytes stay as they are (they may not be UTF-8).
  std::string shownAddress_;
  bool addressEdited_ = false;
};

}  // namespace qlan
