// The record entry upload, from the route number to the identifier in the reply.
#include "net/upload.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "app/text.h"
#include "net/ranking.h"
#include "records/replay.h"

namespace qlan {

char g_entryId[kLineBufferSize];

namespace {

constexpr char kFormHead[] =
    "--------AaXx00\n"
    "Content-Disposition: form-data; name=\"MAX_FILE_SIZE\"\n"
    "\n"
    "1048576\n"
    "--------AaXx00\n"
    "Content-Disposition: form-data; name=\"frep\"; filename=\"tmp.qlx\"\n"
    "Content-Type: application/octet-stream; Encoding: base64\n"
    "\n";
constexpr char kFormTail[] = "\n--------AaXx00--";
constexpr auto kFormHeadLength = static_cast<std::int32_t>(sizeof kFormHead - 1);
constexpr auto kFormTailLength = static_cast<std::int32_t>(sizeof kFormTail - 1);
static_assert(kFormHeadLength + kFormTailLength == kFormFixedLength);

// The size limit the form states is the HTTP layer's default length.
constexpr bool FormStatesLimit() noexcept {
  constexpr std::string_view kField = "name=\"MAX_FILE_SIZE\"\n\n";
  const std::string_view head(kFormHead);
  std::int64_t value = 0;
  for (std::size_t i = head.find(kField) + kField.size(); head[i] != '\n'; ++i) {
    value = value * 10 + (head[i] - '0');
  }
  return value == kDefaultContentLength;
}
static_assert(FormStatesLimit());

// The form names the replay's field as the server looks it up.
constexpr bool FormNamesReplayField() noexcept {
  const std::string_view head(kFormHead), field(kReplayField);
  const std::size_t end = head.find("\"; filename=");
  return head.substr(end - field.size(), field.size()) == field &&
         head.substr(end - field.size() - 6, 6) == "name=\"";
}
static_assert(FormNamesReplayField());

constexpr std::size_t kMarkerLength = sizeof kEntryIdMarker - 1;

}  // namespace

bool BuildEntryBody(ByteSource& replay, QString& body) noexcept {
  const std::int64_t size = replay.size();
  const std::int64_t textLength = Base64TextLength(size);
  if (size < 0 || textLength > QString::kMaxLength - kFormFixedLength) return false;
  const auto n = static_cast<std::int32_t>(textLength);
  // One block of the final size, filled in place.
  if (!body.assign(kFormHead)) return false;
  char* text = body.appendSpace(n + kFormTailLength);
  if (text == nullptr || !EncodeBase64Into(replay, size, text)) {
    body.clear();
    return false;
  }
  std::memcpy(text + n, kFormTail, static_cast<std::size_t>(kFormTailLength));
  return true;
}

bool SendEntryRequest(TcpConnection& connection, const QString& body, const char* userAgent,
                      const char* proxyAddress) noexcept {
  RequestSender sender(connection);
  SendRequestHead(sender, "POST", kEntryPostPath, proxyAddress, userAgent, "\n");
  sender.send("Connection: close\n");
  sender.send("Content-Type: multipart/form-data; boundary=------AaXx00\n");
  char lengthLine[40] = "Content-Length: ";
  const std::size_t prefix = std::strlen(lengthLine);
  char* const digitsEnd =
      std::to_chars(lengthLine + prefix, lengthLine + sizeof lengthLine - 1, body.length()).ptr;
  *digitsEnd = '\n';
  sender.send(lengthLine, static_cast<int>(digitsEnd + 1 - lengthLine));
  sender.send("\n");
  sender.send(body.text(), body.length());
  sender.send("\n");
  sender.send("\n");
  return sender.sent();
}

bool TakeEntryIdLine(char* line, bool atLineStart) noexcept {
  if (!atLineStart || std::strncmp(line, kEntryIdMarker, kMarkerLength) != 0) return false;
  std::size_t end = BoundedLength(line, kLineBufferSize);
  // Control bytes only: bytes from 0x80 up belong to the identifier.
  while (end > kMarkerLength && static_cast<unsigned char>(line[end - 1]) < 0x20) --end;
  const std::size_t idLength = end - kMarkerLength;
  std::memmove(line, line + kMarkerLength, idLength);
  line[idLength] = '\0';
  return true;
}

EntryResult PostReplayFrom(ByteSource& replay, const char* userAgent, const char* proxyAddress,
                           int proxyPort) noexcept {
  // Judged from the size before anything is read, encoded or connected.
  const std::int64_t size = replay.size();
  if (size <= 0) return {};
  const std::int64_t textLength = Base64TextLength(size);
  if (textLength > kMaxEntryTextLength) return kEntryTooLarge;

  QString body;
  if (!BuildEntryBody(replay, body)) return {};

  TcpConnection connection;
  if (openExchange(connection, proxyAddress, proxyPort) != 0) return {};
  if (!SendEntryRequest(connection, body, userAgent, proxyAddress)) return {};
  body.clear();  // 4 MB that waiting for the reply does not need

  // Only the status counts: whatever a length line says, the marker line is looked for.
  char statusLine[kLineBufferSize];
  if (readResponseHead(connection, statusLine, nullptr) != 0) return {};
  const EntryIdScan scan = ScanForEntryId(
      [&connection](char* line, int lineSize) noexcept {
        return connection.receiveLine('\n', line, lineSize);
      },
      g_entryId);
  // A reply without an identifier line is no entry.
  if (scan != EntryIdScan::kFound) return {};
  return {EntryKind::kUploaded, g_entryId};
}

EntryResult postReplay(FileHandle file, const char* userAgent, const char* proxyAddress,
                       int proxyPort) noexcept {
  FileSource source(file);
  return PostReplayFrom(source, userAgent, proxyAddress, proxyPort);
}

EntryResult uploadReplayFile(const char* path, const char* userAgent, const char* proxyAddress,
                             int proxyPort) noexcept {
  ScopedFile file(FileOpen(path, kFileRead));
  if (FileError() != 0) return {};
  return postReplay(file.get(), userAgent, proxyAddress, proxyPort);
}

EntryResult uploadRecord(int route, const char* userAgent, const char* proxyAddress,
                         int proxyPort) noexcept {
  char path[kPathSize];
  if (GetReplayPath(route, path, sizeof path) != 0) return {};
  return uploadReplayFile(path, userAgent, proxyAddress, proxyPort);
}

}  // namespace qlan
