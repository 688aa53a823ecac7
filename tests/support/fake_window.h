// A scriptable stand-in for the dialog's window: records every call, answers message
// boxes from a queue of answers.
#pragma once
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ui/window_system.h"

namespace qlan::test {

struct ShownMessage {
  std::string text, caption;
  unsigned style;
  bool owned;
  bool operator==(const ShownMessage&) const = default;
};

class FakeWindow : public WindowSystem {
 public:
  bool IsChecked(int id) override { return checked.count(id) != 0; }
  void SetChecked(int id, bool on) override {
    on ? (void)checked.insert(id) : (void)checked.erase(id);
  }
  std::string GetItemText(int id) override { return texts[id]; }
  void SetItemText(int id, std::string_view text) override { texts[id] = std::string(text); }
  void EnableItem(int id, bool on) override {
    on ? (void)disabled.erase(id) : (void)disabled.insert(id);
  }
  void ClearList(int id) override { lists[id].clear(), selection[id] = -1; }
  void AddListLine(int id, std::string_view line) override { lists[id].emplace_back(line); }
  int GetListSelection(int id) override { return selection.count(id) ? selection[id] : -1; }
  void SetListSelection(int id, int index) override { selection[id] = index; }
  int ShowMessage(std::string_view text, std::string_view caption, unsigned style,
                  bool owned) override {
    messages.push_back({std::string(text), std::string(caption), style, owned});
    if (answers.empty()) return kIdOk;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void* SetWaitCursor() override { return ++waitCursorCount, ++waitCursorDepth, nullptr; }
  void RestoreCursor(void*) override { --waitCursorDepth; }
  void Beep() override { ++beeps; }
  int OpenUrl(std::string_view url) override { return openedUrls.emplace_back(url), openUrlResult; }

  std::set<int> checked, disabled;
  std::map<int, std::string> texts;
  std::map<int, std::vector<std::string>> lists;
  std::map<int, int> selection;
  std::vector<ShownMessage> messages;
  std::deque<int> answers;  // kIdOk / kIdCancel for the next message boxes
  int waitCursorDepth = 0, waitCursorCount = 0, beeps = 0;
  std::vector<std::string> openedUrls;
  int openUrlResult = 42;
};

}  // namespace qlan::test
