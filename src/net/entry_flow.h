// The entry button's sequence: the question, the upload of the selected record, its
// closing message, and on success the entry page in the default browser.
#pragma once
#include <string>
#include <string_view>

namespace qlan {

class WindowSystem;

// Button 1020: works on the line selected in the record list.
void RunEntrySequence(WindowSystem& window);

// After an upload that returned an identifier: the completion message, then the browser.
void ShowEntryPage(WindowSystem& window, const char* identifier);

// The entry page of an identifier: "http://" + RankingHost + "/sw/qlan/hsentry/1/" +
// "?UNIQUE_ID=" + the identifier, each byte outside A-Z a-z 0-9 - . _ ~ written as %XX.
std::string EntryPageUrl(std::string_view identifier);

// Explains a failed browser launch (a result of 32 or less); nothing for a success.
void showBrowserError(WindowSystem& window, int code);

}  // namespace qlan
