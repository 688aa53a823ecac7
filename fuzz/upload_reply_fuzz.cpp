// The entry upload's reply against a scripted peer: the head read for its status, then the
// scan of the body for the "**ID:" line, on any reply cut into any pieces. The identifier
// must be the first marker line's rest without its trailing control bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "app/byte_source.h"
#include "net/ranking.h"
#include "net/upload.h"
#include "support/check.h"
#include "support/fake_socket.h"

// A few replay bytes; the reply is what is fuzzed, not the form.
constexpr unsigned char kReplay[] = "QLNR replay bytes for the form";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qlan::fuzz::PeerScript script;
  if (!qlan::fuzz::SetPeerFromInput(data, size, &script)) return 0;
  qlan::MemorySource replay(kReplay, sizeof kReplay);
  const qlan::EntryResult result = qlan::PostReplayFrom(replay, qlan::UserAgent, nullptr, 0);

  const bool uploaded = result.kind == qlan::EntryKind::kUploaded;
  QLAN_FUZZ_CHECK(result.id == (uploaded ? qlan::g_entryId : nullptr));
  QLAN_FUZZ_CHECK(qlan::fuzz::OpenSockets() == 0 && qlan::TcpConnection::liveCount() == 0);

  if (uploaded) {
    // The rest of a marker line at the start of a line, without trailing control bytes.
    const std::string_view reply(reinterpret_cast<const char*>(script.reply), script.replySize);
    const std::string line = "\n**ID:" + std::string(result.id);
    const std::size_t at = reply.find(line);
    QLAN_FUZZ_CHECK(at != std::string_view::npos);
    const std::size_t length = std::strlen(result.id);
    QLAN_FUZZ_CHECK(length < qlan::kLineBufferSize &&
                    (length == 0 || static_cast<unsigned char>(result.id[length - 1]) >= 0x20));
  }
  return 0;
}
