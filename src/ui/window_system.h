// What the dialog's logic needs from the window system. The Win32 dialog implements it;
// tests use a fake that records every call and answers message boxes from a script.
#pragma once
#include <string>
#include <string_view>

namespace qlan {

// Message box styles and answers, with the platform's values.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbOkCancel = 0x1;
inline constexpr unsigned kMbIconHand = 0x10;
inline constexpr unsigned kMbIconExclamation = 0x30;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr unsigned kMbSetForeground = 0x10000;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  virtual bool IsChecked(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  // Texts are UTF-8.
  virtual std::string GetItemText(int id) = 0;
  virtual void SetItemText(int id, std::string_view text) = 0;
  virtual void EnableItem(int id, bool enabled) = 0;

  virtual void ClearList(int id) = 0;
  virtual void AddListLine(int id, std::string_view line) = 0;
  // -1 when nothing is selected.
  virtual int GetListSelection(int id) = 0;
  virtual void SetListSelection(int id, int index) = 0;

  // Owned by the dialog window while it runs; ownerless when owned is false (start-up and
  // save messages). Returns kIdOk or kIdCancel.
  virtual int ShowMessage(std::string_view text, std::string_view caption, unsigned style,
                          bool owned = true) = 0;

  // Shows the stock wait cursor and returns a token for the cursor it replaced.
  virtual void* SetWaitCursor() = 0;
  virtual void RestoreCursor(void* previous) = 0;
  virtual void Beep() = 0;
  // Hands url to the default browser; the shell's result (above 32 means success).
  virtual int OpenUrl(std::string_view url) = 0;
};

// Shows the wait cursor for the lifetime of the object.
class WaitCursor {
 public:
  explicit WaitCursor(WindowSystem& window) : window_(window), previous_(window.SetWaitCursor()) {}
  ~WaitCursor() { window_.RestoreCursor(previous_); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  WindowSystem& window_;
  void* previous_;
};

}  // namespace qlan
