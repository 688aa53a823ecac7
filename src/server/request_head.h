// Reading the head of a request as the tool and other clients send it: LF or CR LF line
// ends, origin-form or absolute-form targets (the server may stand in for a proxy).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/outcome.h"

namespace qlan::server {

inline constexpr std::size_t kMaxHeadBytes = 16384;
inline constexpr std::size_t kMaxHeaderLines = 64;
inline constexpr std::size_t kMaxTargetLength = 4096;

// Where the head ends within the bytes received so far.
enum class HeadScan {
  kComplete,  // *headEnd is the offset just after the blank line
  kNeedMore,  // no blank line yet, and the head is still within kMaxHeadBytes
  kTooLarge,  // no blank line within kMaxHeadBytes
};

// Empty lines before the request line are skipped (a client's stray line ends after an
// earlier body, such as the tool's two extra LFs, are not a request).
HeadScan FindHeadEnd(std::string_view received, std::size_t* headEnd) noexcept;

struct NormalizedHead {
  std::string method;
  std::string target;  // origin form
  bool absoluteForm = false;
  bool hasBody = false;  // Content-Length given and above zero
  std::uint64_t contentLength = 0;
  bool keepAlive = false;  // HTTP/1.1 without "Connection: close", or 1.0 asking for it
  std::string contentType;
  std::string realIp;  // X-Real-IP as a front sets it; believed only behind one
};

// Checks one head (the bytes up to headEnd from FindHeadEnd). kOk, or why it is refused:
// kBadRequest, kLengthRequired (a POST without Content-Length), kBodyTooLarge
// (Content-Length above maxBody), kTargetTooLong, kHeadTooLarge (too many header lines),
// kNotImplemented (Transfer-Encoding), kVersion (HTTP other than 1.0 and 1.1).
Outcome NormalizeRequestHead(std::string_view head, std::uint64_t maxBody, NormalizedHead* out);

}  // namespace qlan::server
