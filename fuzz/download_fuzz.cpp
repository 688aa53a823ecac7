// The high-score download against a scripted peer: the line reader, the response head and
// the body loop on any reply, cut into any pieces, ended by a close or a reset. qlanb.ee
// holds the body only after a success and is untouched otherwise; nothing is left open.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include <unistd.h>

#include "app/text.h"
#include "net/download.h"
#include "net/ranking.h"
#include "records/highscore.h"
#include "support/check.h"
#include "support/fake_socket.h"
#include "support/temp_folder.h"

constexpr std::string_view kOldTable = "the table from before";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qlan::fuzz::TempFolder();
  qlan::fuzz::PeerScript script;
  if (!qlan::fuzz::SetPeerFromInput(data, size, &script)) return 0;
  static const std::string target = [] {
    char path[qlan::kPathSize];
    QLAN_FUZZ_CHECK(qlan::GetHighScoreFilePath(path, sizeof path) == 0);
    std::string posix = path;
    std::replace(posix.begin(), posix.end(), '\\', '/');
    return posix;
  }();
  QLAN_FUZZ_CHECK(qlan::fuzz::WriteWholeFile(target, kOldTable));

  const int result = qlan::downloadHighScores(qlan::UserAgent, nullptr, 0, qlan::Timeouts{});

  QLAN_FUZZ_CHECK(result == 0 || result == qlan::kBadResponse || result == qlan::kNothingReceived ||
                  result == qlan::kHttpError || result == qlan::kConnectionCut);
  QLAN_FUZZ_CHECK(qlan::fuzz::OpenSockets() == 0 && qlan::TcpConnection::liveCount() == 0);
  QLAN_FUZZ_CHECK(::access((target + ".part").c_str(), F_OK) != 0);
  std::string stored;
  QLAN_FUZZ_CHECK(qlan::fuzz::ReadWholeFile(target, &stored));
  // The status line is kept terminated inside its buffer for the error message.
  QLAN_FUZZ_CHECK(std::char_traits<char>::length(qlan::downloadStatusLine()) <
                  qlan::kLineBufferSize);

  const std::string_view reply(reinterpret_cast<const char*>(script.reply), script.replySize);
  // Without a length line the body is everything after the head, up to 1 MB; with one it is
  // some bytes of the reply.
  const bool lengthLine = reply.find("Content-Length:") != std::string_view::npos;
  if (result != 0) {
    QLAN_FUZZ_CHECK(stored == kOldTable);
  } else {
    QLAN_FUZZ_CHECK(reply.substr(0, 5) == "HTTP/" && reply.find(stored) != std::string_view::npos);
    QLAN_FUZZ_CHECK(lengthLine ||
                    (stored.size() <= static_cast<std::size_t>(qlan::kDefaultContentLength) &&
                     reply.substr(reply.size() - stored.size()) == stored));
  }
  if (script.resetAtEnd && !lengthLine) QLAN_FUZZ_CHECK(result != 0);
  return 0;
}
