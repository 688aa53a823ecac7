// The flows of the two online buttons: the download (1006) and the entry of the selected
// record (1020) with the entry page in the browser, with their questions and messages.
#pragma once
#include <string>
#include <string_view>

#include "net/download.h"
#include "net/http.h"
#include "net/tcp_connection.h"
#include "net/upload.h"
#include "ui/window_system.h"

namespace qlan {

// Checks the live settings' proxy fields; false after showing the problem under caption
// (the flow stops). Otherwise *choice is what the exchange gets.
bool CheckProxySettings(WindowSystem& window, std::string_view caption, ProxyChoice* choice);

// The download proper as runDownload calls it; tests put their own in its place.
using DownloadFunction = int (*)(const char* userAgent, const char* proxyAddress, int proxyPort,
                                 const Timeouts& timeouts);

// Proxy check, question, wait cursor, the download, one closing message. 0 when the user
// cancels or the download completes, -1 after any error message.
int runDownload(WindowSystem& window, DownloadFunction download = downloadHighScores);

// The closing message for a download result; empty for success. throughProxy: whether
// the flow started with the proxy in use. The status line is shown as data.
std::string DownloadErrorMessage(int result, bool throughProxy, const char* statusLine);

// Works on the line selected in the record list: question, upload, closing message.
void RunEntrySequence(WindowSystem& window);

// Proxy check (its message shown here), wait cursor, then uploadRecord with UserAgent.
EntryResult runEntry(WindowSystem& window, int route);

// After an upload that returned an identifier: the completion message, then the browser.
void ShowEntryPage(WindowSystem& window, const char* identifier);

// Explains a failed browser launch (a result of 32 or less); nothing for a success.
void showBrowserError(WindowSystem& window, int code);

}  // namespace qlan
