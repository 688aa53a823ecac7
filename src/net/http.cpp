// The HTTP/1.1 subset both online operations speak.
#include "net/http.h"

#include <cstring>

#include "app/settings.h"
#include "app/text.h"
#include "net/ranking.h"

namespace qlan {
namespace {

// The proxy address of the flow in progress, always terminated even when the stored field
// is not (the settings file may hold 128 bytes without a zero).
char g_proxyAddressText[sizeof Settings{}.proxyAddress];

}  // namespace

ProxyCheck ChooseProxy(ProxyChoice* choice) noexcept {
  if ((g_settings.flags & kFlagUseProxy) == 0) {
    if (choice != nullptr) *choice = ProxyChoice{};
    return ProxyCheck::kUsable;
  }
  ProxyAddressText(g_settings, g_proxyAddressText);
  if (g_proxyAddressText[0] == '\0') return ProxyCheck::kNoAddress;
  const auto port = static_cast<std::uint32_t>(g_settings.proxyPort);
  if (port == 0 || port > kHighestPort) return ProxyCheck::kBadPort;
  if (choice != nullptr) {
    choice->proxyAddress = g_proxyAddressText;
    choice->proxyPort = static_cast<int>(port);
  }
  return ProxyCheck::kUsable;
}

int openExchange(TcpConnection& connection, const char* proxyAddress, int proxyPort) noexcept {
  int resolved = 0;
  if (proxyAddress != nullptr) {
    if (proxyPort < 1 || proxyPort > kHighestPort) return kBadProxy;
    resolved = connection.resolve(proxyAddress, proxyPort);
  } else {
    resolved = connection.resolve(RankingHost, kRankingPort);
  }
  if (resolved != 0) return kNameNotFound;
  if (connection.connectToPeer() != 0) return kConnectFailed;
  return 0;
}

void RequestSender::send(const void* data, int count) noexcept {
  // Once a piece has failed the request is lost; sending more would only wait out more
  // time-outs on a dead peer.
  if (failed_) return;
  const int n = connection_.sendAll(data, count);
  failed_ = n < 0;
  someSent_ = someSent_ || n > 0;
}

void SendRequestHead(RequestSender& sender, std::string_view method, std::string_view path,
                     const char* proxyAddress, const char* userAgent,
                     std::string_view eol) noexcept {
  char line[2 * kLineBufferSize] = {};
  const bool fits =
      CopyText(line, sizeof line, method) && AppendText(line, sizeof line, " ") &&
      (proxyAddress == nullptr ||
       (AppendText(line, sizeof line, "http://") && AppendText(line, sizeof line, RankingHost))) &&
      AppendText(line, sizeof line, path) && AppendText(line, sizeof line, " HTTP/1.1") &&
      AppendText(line, sizeof line, eol);
  if (!fits) {
    sender.fail();
    return;
  }
  sender.send(std::string_view(line));

  char host[2 * kLineBufferSize] = {};
  if (!CopyText(host, sizeof host, "Host: ") || !AppendText(host, sizeof host, RankingHost) ||
      !AppendText(host, sizeof host, eol)) {
    sender.fail();
    return;
  }
  sender.send(std::string_view(host));

  if (userAgent != nullptr) {
    sender.send(std::string_view("User-Agent: "));
    sender.send(std::string_view(userAgent));
    sender.send(eol);
  }
}

int readResponseHead(TcpConnection& connection, char* statusLine, std::int32_t* contentLength,
                     bool* lengthGiven) noexcept {
  if (lengthGiven != nullptr) *lengthGiven = false;
  if (statusLine == nullptr) return kBadResponse;
  const int got = connection.receiveLine('\n', statusLine, kLineBufferSize);
  if (got == 0) return kNothingReceived;
  if (got < 0) return kConnectionCut;
  const std::string_view status(statusLine, static_cast<std::size_t>(got));
  if (status.substr(0, 5) != "HTTP/") return kBadResponse;
  const std::size_t blank = status.find(' ');
  const long long code = blank == std::string_view::npos ? 0 : ReadDecimal(status.substr(blank));
  if (code != 200) return kHttpError;

  std::int32_t length = kDefaultContentLength;
  bool given = false;
  char header[kLineBufferSize];
  int n = 0;
  while ((n = connection.receiveLine('\n', header, sizeof header)) > 0) {
    const std::string_view line(header, static_cast<std::size_t>(n));
    constexpr std::string_view kLengthName = "Content-Length:";
    if (contentLength != nullptr && line.substr(0, kLengthName.size()) == kLengthName) {
      bool digits = false;
      const long long parsed = ReadDecimal(line.substr(kLengthName.size()), &digits);
      // A length that is no number or does not fit the count cannot frame a body.
      if (!digits || parsed < 0 || parsed > INT32_MAX) return kBadResponse;
      length = static_cast<std::int32_t>(parsed);
      given = true;
    }
    if (n < 4) {
      if (contentLength != nullptr) *contentLength = length;
      if (lengthGiven != nullptr) *lengthGiven = given;
      return 0;
    }
  }
  return n == 0 ? kNothingReceived : kConnectionCut;
}

}  // namespace qlan
