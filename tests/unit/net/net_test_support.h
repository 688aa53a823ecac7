// What the network tests and those above them share: byte patterns, the tool's form and
// request around a Base64 text, and replay bytes from memory.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/byte_source.h"
#include "net/base64.h"
#include "support/temp_env.h"

namespace qlan::test {

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}
inline Bytes Counting(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
  return b;
}
inline std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}
inline std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }
// The tool's Base64 text (64-character lines joined by LF), its entry form around such a
// text, and the whole LF-only request around a form, two extra LFs included.
inline std::string Base64Lines(std::string_view bytes) {
  MemorySource source(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  const auto size = static_cast<std::int64_t>(bytes.size());
  std::string text(static_cast<std::size_t>(Base64TextLength(size)), '\0');
  return EncodeBase64Into(source, size, text.data()) ? text : "";
}
inline std::string ToolForm(std::string_view base64) {
  return "--------AaXx00\nContent-Disposition: form-data; name=\"MAX_FILE_SIZE\"\n\n1048576\n"
         "--------AaXx00\nContent-Disposition: form-data; name=\"frep\"; filename=\"tmp.qlx\"\n"
         "Content-Type: application/octet-stream; Encoding: base64\n\n" +
         std::string(base64) + "\n--------AaXx00--";
}
inline std::string ToolRequest(std::string_view form, bool absolute = true, bool userAgent = true,
                               const std::string& host = "ranking.quillane.example") {
  return "POST " + (absolute ? "http://" + host : "") +
         "/sw/qlan/hsentry/0/ HTTP/1.1\nHost: " + host +
         (userAgent ? "\nUser-Agent: QuillaneTool/050702" : "") +
         "\nConnection: close\nContent-Type: multipart/form-data; boundary=------AaXx00\n"
         "Content-Length: " +
         std::to_string(form.size()) + "\n\n" + std::string(form) + "\n\n";
}

// Replay bytes in memory under an announced size; after them the source ends, or fails.
class FakeReplay : public ByteSource {
 public:
  FakeReplay(Bytes bytes, std::int64_t size, bool failAtEnd)
      : bytes_(std::move(bytes)), size_(size), failAtEnd_(failAtEnd) {}
  std::int64_t size() noexcept override { return size_; }
  std::int32_t read(void* buffer, std::int32_t count) noexcept override {
    ++reads;
    const std::size_t n = std::min(bytes_.size() - at_, static_cast<std::size_t>(count));
    if (n == 0 && failAtEnd_) return -1;
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<std::int32_t>(n);
  }
  int reads = 0;

 private:
  Bytes bytes_;
  std::int64_t size_;
  bool failAtEnd_;
  std::size_t at_ = 0;
};

}  // namespace qlan::test
