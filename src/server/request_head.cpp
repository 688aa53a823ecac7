// Request-head checks.
#include "server/request_head.h"

#include "app/text.h"

namespace qlan::server {
namespace {

bool StartsNoCase(std::string_view s, std::string_view prefix) noexcept {
  return s.size() >= prefix.size() && EqualsIgnoringCase(s.substr(0, prefix.size()), prefix);
}

bool IsTokenChar(char c) noexcept {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

// Next line without its LF or CR LF.
std::string_view TakeLine(std::string_view* s) noexcept {
  const std::size_t lf = s->find('\n');
  std::string_view line = s->substr(0, lf);
  s->remove_prefix(lf == std::string_view::npos ? s->size() : lf + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Strict decimal without sign or blanks; false on overflow or anything else.
bool ParseLength(std::string_view s, std::uint64_t* value) noexcept {
  if (s.empty() || s.size() > 18) return false;
  std::uint64_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *value = v;
  return true;
}

// Where the request starts: past the empty lines a client may send before it.
std::size_t SkipEmptyLines(std::string_view received) noexcept {
  std::size_t start = 0;
  for (;;) {
    if (start < received.size() && received[start] == '\n') {
      ++start;
    } else if (start + 1 < received.size() && received[start] == '\r' &&
               received[start + 1] == '\n') {
      start += 2;
    } else {
      return start;
    }
    if (start > kMaxHeadBytes) return start;
  }
}

}  // namespace

HeadScan FindHeadEnd(std::string_view received, std::size_t* headEnd) noexcept {
  const std::size_t start = SkipEmptyLines(received);
  if (start > kMaxHeadBytes) return HeadScan::kTooLarge;
  // The head ends at a LF that follows a LF, with an optional CR between.
  const std::string_view window = received.substr(0, kMaxHeadBytes);
  for (std::size_t i = window.find('\n', start); i != std::string_view::npos;
       i = window.find('\n', i + 1)) {
    std::size_t j = i + 1;
    if (j < received.size() && received[j] == '\r') ++j;
    if (j < received.size() && received[j] == '\n') {
      if (j + 1 > kMaxHeadBytes) return HeadScan::kTooLarge;
      *headEnd = j + 1;
      return HeadScan::kComplete;
    }
  }
  return received.size() >= kMaxHeadBytes ? HeadScan::kTooLarge : HeadScan::kNeedMore;
}

Outcome NormalizeRequestHead(std::string_view head, std::uint64_t maxBody, NormalizedHead* out) {
  *out = NormalizedHead();
  std::string_view rest = head;
  std::string_view requestLine;
  do {
    if (rest.empty()) return Outcome::kBadRequest;
    requestLine = TakeLine(&rest);
  } while (requestLine.empty());

  // method SP target SP version, single blanks as the grammar has them.
  const std::size_t sp1 = requestLine.find(' ');
  if (sp1 == std::string_view::npos || sp1 == 0 || sp1 > 16) return Outcome::kBadRequest;
  const std::size_t sp2 = requestLine.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || sp2 == sp1 + 1) return Outcome::kBadRequest;
  const std::string_view method = requestLine.substr(0, sp1);
  std::string_view target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = requestLine.substr(sp2 + 1);
  for (const char c : method) {
    if (!IsTokenChar(c)) return Outcome::kBadRequest;
  }
  if (version != "HTTP/1.1" && version != "HTTP/1.0") {
    if (version.size() == 8 && version.substr(0, 5) == "HTTP/" && version[6] == '.')
      return Outcome::kVersion;
    return Outcome::kBadRequest;
  }
  if (target.size() > kMaxTargetLength) return Outcome::kTargetTooLong;
  for (const char c : target) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 32 || u == 127) return Outcome::kBadRequest;
  }
  if (StartsNoCase(target, "http://")) {
    // Absolute form, as a proxy receives it: keep path and query.
    out->absoluteForm = true;
    target.remove_prefix(7);
    const std::size_t pathStart = target.find_first_of("/?");
    if (pathStart == 0) return Outcome::kBadRequest;  // no authority
    target = pathStart == std::string_view::npos ? std::string_view() : target.substr(pathStart);
    std::string origin;
    if (target.empty() || target.front() == '?') origin.push_back('/');
    origin.append(target);
    out->target = std::move(origin);
  } else if ((!target.empty() && target.front() == '/') || (target == "*" && method == "OPTIONS")) {
    out->target.assign(target);
  } else {
    return Outcome::kBadRequest;
  }
  out->method.assign(method);
  out->keepAlive = version == "HTTP/1.1";

  std::size_t lines = 0;
  bool haveLength = false;
  for (;;) {
    const std::string_view line = TakeLine(&rest);
    if (line.empty()) break;
    if (++lines > kMaxHeaderLines) return Outcome::kHeadTooLarge;
    if (IsBlank(line.front())) return Outcome::kBadRequest;  // obsolete line folding
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return Outcome::kBadRequest;
    const std::string_view name = line.substr(0, colon);
    for (const char c : name) {
      if (!IsTokenChar(c)) return Outcome::kBadRequest;
    }
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    for (const char c : value) {
      const auto u = static_cast<unsigned char>(c);
      if ((u < 32 && c != '\t') || u == 127) return Outcome::kBadRequest;
    }
    if (EqualsIgnoringCase(name, "Transfer-Encoding")) return Outcome::kNotImplemented;
    if (EqualsIgnoringCase(name, "Content-Length")) {
      std::uint64_t length = 0;
      if (!ParseLength(value, &length)) return Outcome::kBadRequest;
      if (haveLength && length != out->contentLength) return Outcome::kBadRequest;
      haveLength = true;
      out->contentLength = length;
      if (length > maxBody) return Outcome::kBodyTooLarge;
    }
    if (EqualsIgnoringCase(name, "Content-Type")) out->contentType.assign(value);
    if (EqualsIgnoringCase(name, "X-Real-IP")) out->realIp.assign(value);
    if (EqualsIgnoringCase(name, "Connection")) {
      if (EqualsIgnoringCase(value, "close")) out->keepAlive = false;
      if (EqualsIgnoringCase(value, "keep-alive")) out->keepAlive = true;
    }
  }
  if (!rest.empty())
    return Outcome::kBadRequest;  // bytes after the blank line are not part of the head
  if (method == "POST" && !haveLength) return Outcome::kLengthRequired;
  out->hasBody = out->contentLength > 0;
  return Outcome::kOk;
}

}  // namespace qlan::server
