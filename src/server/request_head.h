// Reading the head of a request as the tool and other clients send it: LF or CR LF line
// ends, origin-form or absolute-form targets (the server may stand in for a proxy). The
// head is rewritten into the strict form the HTTP library parses.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qlan::server {

inline constexpr std::size_t kMaxHeadBytes = 16384;
inline constexpr std::size_t kMaxHeaderLines = 64;
inline constexpr std::size_t kMaxTargetLength = 4096;

// The request's Content-Type travels under this name: the library would otherwise parse
// form bodies itself, with rules the tool's LF-only form does not meet.
inline constexpr char kContentTypeHeader[] = "X-Qlan-Content-Type";

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
  std::string head;  // the head rewritten with CR LF line ends, for the library
};

// Checks and rewrites one head (the bytes up to headEnd from FindHeadEnd). Returns 0, or
// the status to answer with: 400 (malformed), 411 (a POST without Content-Length),
// 413 (Content-Length above maxBody), 414 (target too long), 431 (too many header
// lines), 501 (Transfer-Encoding), 505 (HTTP version other than 1.0 and 1.1).
int NormalizeRequestHead(std::string_view head, std::uint64_t maxBody, NormalizedHead* out);

}  // namespace qlan::server
