// The high-score download, which stores the ranking server's table as qlanb.ee only once
// all of it has arrived.
#pragma once

#include "net/http.h"
#include "net/tcp_connection.h"

namespace qlan {

// Fetches the table through proxyAddress:proxyPort, or straight from RankingHost when
// proxyAddress is null, into a temporary file that replaces qlanb.ee once the body is
// complete. 0 or one of the online result codes (kHighScoreFileFailed for the file side);
// on any failure qlanb.ee is left as it was.
int downloadHighScores(const char* userAgent, const char* proxyAddress, int proxyPort,
                       const Timeouts& timeouts = Timeouts{}) noexcept;

// The status line of the last download, as received (line end included).
const char* downloadStatusLine() noexcept;

}  // namespace qlan
