// The configuration dialog's logic: binds the option controls to the live settings
// record and starts the three flows.
#pragma once
#include <optional>

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
};

}  // namespace qlan
