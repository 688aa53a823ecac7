// The record entry upload: one route's replay, Base64-encoded, posted as a multipart form
// to the ranking server; the reply names the new entry's identifier.
#pragma once
#include <cstdint>

#include "app/files.h"
#include "net/base64.h"
#include "net/http.h"
#include "net/qstring.h"

namespace qlan {

// Longest Base64 text (line feeds included) the server takes: a replay of 3,097,332 bytes.
inline constexpr std::int32_t kMaxEntryTextLength = 4194304;
// Bytes the form adds around the Base64 text.
inline constexpr std::int32_t kFormFixedLength = 231;

// What an upload came to: kUploaded with its identifier (id points to g_entryId), or
// refused as too large before anything was sent, or failed for any other reason.
enum class EntryKind { kFailed, kUploaded, kTooLarge };
struct EntryResult {
  EntryKind kind = EntryKind::kFailed;
  const char* id = nullptr;
};
inline constexpr EntryResult kEntryTooLarge{EntryKind::kTooLarge, nullptr};

// The last identifier (during an upload: the last reply line read).
extern char g_entryId[kLineBufferSize];

EntryResult uploadRecord(int route, const char* userAgent, const char* proxyAddress,
                         int proxyPort) noexcept;
EntryResult uploadReplayFile(const char* path, const char* userAgent, const char* proxyAddress,
                             int proxyPort) noexcept;
EntryResult postReplay(FileHandle file, const char* userAgent, const char* proxyAddress,
                       int proxyPort) noexcept;
// postReplay over any source of the replay's bytes.
EntryResult PostReplayFrom(ByteSource& replay, const char* userAgent, const char* proxyAddress,
                           int proxyPort) noexcept;

// The form body with the replay's Base64 text encoded straight into it (no second copy of
// the text). False when the replay cannot be read whole or memory runs out.
bool BuildEntryBody(ByteSource& replay, QString& body) noexcept;

// Sends the request's pieces over an open connection: the common head lines with LF,
// then Connection, Content-Type, Content-Length, the blank line, the body and two more
// LFs. proxyAddress only picks the form of the request line. True when the send rule
// holds.
bool SendEntryRequest(TcpConnection& connection, const QString& body, const char* userAgent,
                      const char* proxyAddress) noexcept;

// The reply-body scan. line holds one piece of a reply line as received (NUL-terminated,
// at most kLineBufferSize bytes with the NUL); atLineStart tells whether it begins a
// line. When it is the marker line ("**ID:" at the start), turns it in place into the
// identifier, with every control byte (below 0x20) stripped from its end, and returns
// true.
bool TakeEntryIdLine(char* line, bool atLineStart) noexcept;

// How the reply-body scan ended.
enum class EntryIdScan { kFound, kNoMarker, kReceiveFailed };

// Reads reply lines with next(buffer, size), which returns the count stored (0 at the end
// of the reply, negative on error), until the marker line. kFound: buffer holds the
// identifier; kNoMarker: the reply ended without a marker line.
template <typename NextLine>
EntryIdScan ScanForEntryId(NextLine&& next, char* buffer) noexcept {
  bool atLineStart = true;
  for (;;) {
    const int n = next(buffer, kLineBufferSize);
    if (n < 0) return EntryIdScan::kReceiveFailed;
    if (n == 0) return EntryIdScan::kNoMarker;
    if (TakeEntryIdLine(buffer, atLineStart)) return EntryIdScan::kFound;
    // A piece of a line longer than the buffer does not begin a line.
    atLineStart = buffer[n - 1] == '\n';
  }
}

}  // namespace qlan
