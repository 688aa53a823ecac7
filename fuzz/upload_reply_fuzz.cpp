// The entry upload's reply against a scripted peer: the response head, then the scan of
// the body for the "**ID:" line, on any reply cut into any pieces. The identifier must be
// the first marker line's rest without its trailing control bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "net/ranking.h"
#include "net/upload.h"
#include "support/check.h"
#include "support/fake_socket.h"
#include "support/reply_model.h"

namespace {

// A few replay bytes; the reply is what is fuzzed, not the form.
class MemoryReplay : public qlan::ByteSource {
 public:
  std::int64_t size() noexcept override { return static_cast<std::int64_t>(sizeof kBytes) - at_; }
  std::int32_t read(void* buffer, std::int32_t count) noexcept override {
    const std::int32_t n = std::min<std::int32_t>(count, static_cast<std::int32_t>(size()));
    std::memcpy(buffer, kBytes + at_, static_cast<std::size_t>(n));
    at_ += n;
    return n;
  }

 private:
  static constexpr unsigned char kBytes[] = "QLNR replay bytes for the form";
  std::int32_t at_ = 0;
};

// The identifier the first marker line of the body gives, or false when no line of the
// body starts with the marker.
bool ExpectedId(std::string_view reply, std::size_t bodyStart, std::string* id, bool* endsLine) {
  bool atLineStart = true;
  for (const qlan::fuzz::Piece& piece : qlan::fuzz::CutPieces(reply, bodyStart)) {
    const std::string_view text = reply.substr(piece.start, piece.length);
    if (atLineStart && text.substr(0, 5) == "**ID:") {
      // The piece is a C string to the scan: a NUL byte ends it.
      std::string_view rest = text.substr(5);
      rest = rest.substr(0, rest.find('\0'));
      while (!rest.empty() && static_cast<unsigned char>(rest.back()) < 0x20) rest.remove_suffix(1);
      *id = std::string(rest);
      *endsLine = piece.endsLine;
      return true;
    }
    atLineStart = piece.endsLine;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qlan::fuzz::PeerScript script;
  if (!qlan::fuzz::ScriptFromInput(data, size, &script)) return 0;
  qlan::fuzz::SetPeer(script);
  MemoryReplay replay;
  const qlan::EntryResult result = qlan::postReplayFrom(replay, qlan::UserAgent, nullptr, 0);

  QLAN_FUZZ_CHECK(result == nullptr || result == qlan::g_entryId);
  QLAN_FUZZ_CHECK(qlan::fuzz::OpenSockets() == 0 && qlan::TcpConnection::liveCount() == 0);
  if (script.sendFails) QLAN_FUZZ_CHECK(result == nullptr);

  const std::string_view reply(reinterpret_cast<const char*>(script.reply), script.replySize);
  const qlan::fuzz::HeadModel head = qlan::fuzz::ModelHead(reply);
  std::string expected;
  bool endsLine = false;
  const bool marker = head.complete && ExpectedId(reply, head.bodyStart, &expected, &endsLine);
  if (result != nullptr) {
    const std::size_t length = std::strlen(result);
    QLAN_FUZZ_CHECK(length < qlan::kLineBufferSize);
    QLAN_FUZZ_CHECK(length == 0 || static_cast<unsigned char>(result[length - 1]) >= 0x20);
    QLAN_FUZZ_CHECK(marker && expected == result);
  }
  // Whatever a length line says, the marker line is looked for.
  if (head.plain && !script.sendFails) {
    if (marker && endsLine) QLAN_FUZZ_CHECK(result != nullptr && expected == result);
    if (!marker && !script.resetAtEnd) QLAN_FUZZ_CHECK(result == nullptr);
  }
  return 0;
}
