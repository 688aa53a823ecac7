// The high-score download: the dialog's flow for button 1006 and the download proper,
// which stores the ranking server's table as qlanb.ee only once all of it has arrived.
#pragma once
#include <string>

#include "net/http.h"
#include "net/tcp_connection.h"

namespace qlan {

class WindowSystem;

inline constexpr char kDownloadCaption[] = "ダウンロード";
// Longest body accepted from a response without a Content-Length line.
inline constexpr std::int32_t kMaxUnframedBody = 1048576;

// The download proper as runDownload calls it; tests put their own in its place.
using DownloadFunction = int (*)(const char* userAgent, const char* proxyAddress, int proxyPort);

// Proxy check, question, wait cursor, the download, one closing message. 0 when the user
// cancels or the download completes, -1 after any error message. download null means
// downloadHighScores.
int runDownload(WindowSystem& window, DownloadFunction download = nullptr);

// Fetches the table through proxyAddress:proxyPort, or straight from RankingHost when
// proxyAddress is null, into a temporary file that replaces qlanb.ee once the body is
// complete. 0 or one of the online result codes (kHighScoreFileFailed for the file side);
// on any failure qlanb.ee is left as it was.
int downloadHighScores(const char* userAgent, const char* proxyAddress, int proxyPort) noexcept;
int downloadHighScores(const char* userAgent, const char* proxyAddress, int proxyPort,
                       const Timeouts& timeouts) noexcept;

// The status line of the last download, as received (line end included).
const char* downloadStatusLine() noexcept;

// The closing message for a download result; empty for success. throughProxy: whether
// the flow started with the proxy in use.
std::string DownloadErrorMessage(int result, bool throughProxy, const char* statusLine);

}  // namespace qlan
