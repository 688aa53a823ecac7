// The HTTP/1.1 subset both online operations speak: proxy choice, peer, request head,
// send rule and response head.
#pragma once
#include <cstdint>
#include <string_view>

#include "net/tcp_connection.h"

namespace qlan {

inline constexpr int kNameNotFound = -128;
inline constexpr int kConnectFailed = -129;
inline constexpr int kBadResponse = -130;
inline constexpr int kNothingReceived = -131;
inline constexpr int kHttpError = -132;
inline constexpr int kHighScoreFileFailed = -133;
inline constexpr int kBadProxy = -134;
inline constexpr int kSendFailed = -135;
inline constexpr int kConnectionCut = -136;

// The length a response without a Content-Length line is taken to have, which is also the
// most the download takes from one; the upload form states it as its size limit.
inline constexpr std::int32_t kDefaultContentLength = 1048576;
inline constexpr int kLineBufferSize = 1024;
inline constexpr int kHighestPort = 65535;

// The peer of an exchange: proxyAddress null means straight to RankingHost on port 80.
struct ProxyChoice {
  const char* proxyAddress = nullptr;
  int proxyPort = 0;
};

enum class ProxyCheck { kUsable, kNoAddress, kBadPort };

// Judges the live settings' proxy fields. When usable, *choice is what the exchange gets
// (no proxy without the flag; the address points to a terminated copy that lasts until the
// next call).
ProxyCheck ChooseProxy(ProxyChoice* choice) noexcept;

// 0, kBadProxy, kNameNotFound or kConnectFailed.
int openExchange(TcpConnection& connection, const char* proxyAddress, int proxyPort) noexcept;

// Joins the results of the pieces of one request: the request counts as sent only when
// every piece went out whole.
class RequestSender {
 public:
  explicit RequestSender(TcpConnection& connection) noexcept : connection_(connection) {}
  void send(const void* data, int count) noexcept;
  void send(std::string_view text) noexcept { send(text.data(), static_cast<int>(text.size())); }
  // Marks the request as lost (a piece that could not even be built).
  void fail() noexcept { failed_ = true; }
  // Some bytes went out and no piece failed.
  bool sent() const noexcept { return someSent_ && !failed_; }

 private:
  TcpConnection& connection_;
  bool someSent_ = false;
  bool failed_ = false;
};

// Request line, Host and User-Agent lines with the exchange's line end (eol).
void SendRequestHead(RequestSender& sender, std::string_view method, std::string_view path,
                     const char* proxyAddress, const char* userAgent,
                     std::string_view eol) noexcept;

// Reads the status line into statusLine (kLineBufferSize bytes) and the header block.
// 0, or kNothingReceived, kConnectionCut, kBadResponse, kHttpError. With contentLength,
// *contentLength is set (kDefaultContentLength when the head had no Content-Length line;
// *lengthGiven, when asked for, tells which) and a length that is no number, negative or
// out of range is kBadResponse; without it, length lines are not looked at.
int readResponseHead(TcpConnection& connection, char* statusLine, std::int32_t* contentLength,
                     bool* lengthGiven = nullptr) noexcept;

}  // namespace qlan
