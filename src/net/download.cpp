// The high-score download.
#include "net/download.h"

#include <algorithm>

#include "app/files.h"
#include "app/filesystem.h"
#include "app/text.h"
#include "net/ranking.h"
#include "records/highscore.h"

namespace qlan {
namespace {

// The body lands here first; it replaces qlanb.ee only when complete.
constexpr char kPartialSuffix[] = ".part";

// The status line of the last download, kept for the HTTP error message.
char g_downloadStatusLine[kLineBufferSize];

bool WriteBlock(FileHandle file, const char* block, int n) noexcept {
  return FileWrite(file, n, block) == n && FileError() == 0;
}

// One exchange whose body goes into file. 0 only when the whole body was written.
int RunExchange(FileHandle file, const char* userAgent, const char* proxyAddress, int proxyPort,
                const Timeouts& timeouts) noexcept {
  TcpConnection connection;
  connection.setTimeouts(timeouts);
  if (const int code = openExchange(connection, proxyAddress, proxyPort); code != 0) return code;

  RequestSender sender(connection);
  SendRequestHead(sender, "GET", kScorePath, proxyAddress, userAgent, "\r\n");
  sender.send(std::string_view("\r\n"));
  if (!sender.sent()) return kSendFailed;

  std::int32_t length = 0;
  bool lengthGiven = false;
  if (const int code = readResponseHead(connection, g_downloadStatusLine, &length, &lengthGiven);
      code != 0) {
    return code;
  }

  char block[kLineBufferSize];
  if (lengthGiven) {
    // Exactly the announced bytes: never more (a keep-alive server may send nothing after
    // them), and a close before all of them is a cut connection.
    for (std::int32_t remaining = length; remaining > 0;) {
      const int n = connection.receive(block, std::min<std::int32_t>(remaining, kLineBufferSize));
      if (n <= 0) return kConnectionCut;
      if (!WriteBlock(file, block, n)) return kHighScoreFileFailed;
      remaining -= n;
    }
    return 0;
  }
  // No length: the body ends where the peer closes, and may not grow without bound.
  std::int32_t total = 0;
  for (;;) {
    const int n = connection.receive(block, kLineBufferSize);
    if (n < 0) return kConnectionCut;
    if (n == 0) return 0;
    if (n > kDefaultContentLength - total) return kBadResponse;
    if (!WriteBlock(file, block, n)) return kHighScoreFileFailed;
    total += n;
  }
}

}  // namespace

const char* downloadStatusLine() noexcept { return g_downloadStatusLine; }

int downloadHighScores(const char* userAgent, const char* proxyAddress, int proxyPort,
                       const Timeouts& timeouts) noexcept {
  g_downloadStatusLine[0] = '\0';
  char target[kPathSize] = {};
  if (GetHighScoreFilePath(target, sizeof target) != 0) return kHighScoreFileFailed;
  // A file that could not be replaced is refused before anything goes on the network.
  if (IsReadOnlyFile(target)) return kHighScoreFileFailed;
  char partial[kPathSize] = {};
  if (!CopyText(partial, sizeof partial, target) ||
      !AppendText(partial, sizeof partial, kPartialSuffix)) {
    return kHighScoreFileFailed;
  }

  int result = 0;
  {
    ScopedFile file(FileOpen(partial, kFileWrite | kFileTruncate));
    if (FileError() != 0) return kHighScoreFileFailed;
    result = RunExchange(file.get(), userAgent, proxyAddress, proxyPort, timeouts);
    if (result == 0 && !FileFlush(file.get())) result = kHighScoreFileFailed;
  }
  if (result == 0 && ReplaceFileAtomically(partial, target) != 0) result = kHighScoreFileFailed;
  if (result != 0) DeleteFileAt(partial);
  return result;
}

}  // namespace qlan
