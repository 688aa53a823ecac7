// Replay folder, file names, and the one parser that both the file reader and the
// in-memory validator of the ranking server go through.
#include "records/replay.h"

#include <cstdio>
#include <cstring>

#include "app/byte_source.h"
#include "app/files.h"
#include "app/paths.h"
#include "app/text.h"

namespace qlan {
namespace {

ReplayHeader g_replayHeader{};
AutoArray<unsigned char> g_replayPayload;

// Reads exactly n bytes unless the data ends or a read fails; the file layer counts in
// signed 32 bits, so a larger block goes in pieces.
std::uint32_t ReadUpTo(ByteSource& source, void* out, std::uint32_t n) noexcept {
  constexpr std::uint32_t kPiece = 0x40000000;
  std::uint32_t done = 0;
  while (done < n) {
    const std::uint32_t ask = n - done < kPiece ? n - done : kPiece;
    const std::int32_t got =
        source.read(static_cast<unsigned char*>(out) + done, static_cast<std::int32_t>(ask));
    if (got <= 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  return done;
}

std::uint32_t BigEndian(const unsigned char* b) noexcept {
  return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
         (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]);
}

// Magic, fifteen header words read one at a time, then the payload in one read and its
// checksum. Header words land in header as soon as they are read.
int ParseReplay(ByteSource& source, ReplayHeader& header,
                AutoArray<unsigned char>& payload) noexcept {
  unsigned char word[4];
  if (ReadUpTo(source, word, 4) < 4) return kReplayShortHeader;
  if (std::memcmp(word, "QLNR", 4) != 0) return kReplayBadMagic;

  std::uint32_t checksum = 0;
  std::uint32_t length = 0;
  for (int i = 0; i < 15; ++i) {
    if (ReadUpTo(source, word, 4) < 4) return kReplayShortHeader;
    const std::uint32_t value = BigEndian(word);
    switch (i) {
      case 0:
        header.time = value;
        break;
      case 1:
        header.distance = value;
        break;
      case 2:
        header.route = value;
        break;
      case 3:
        header.keptWord1 = value;
        break;
      case 4:
        header.keptWord2 = value;
        break;
      case 12:
        header.flags = value;
        break;
      case 13:
        checksum = value;
        break;
      case 14:
        length = value;
        break;
      default:
        break;  // the seven reserved words
    }
  }

  // A length beyond what the data still holds cannot be satisfied: say so before
  // asking for the memory.
  const std::int64_t remaining = source.size();
  if (remaining >= 0 && static_cast<std::int64_t>(length) > remaining) return kReplayShortPayload;
  if (!payload.Resize(length)) return kReplayNoMemory;
  if (ReadUpTo(source, payload.data(), length) < length) return kReplayShortPayload;

  if (ReplayChecksum(header.route, header.flags, payload.data(), length) != checksum) {
    return kReplayBadChecksum;
  }
  return 0;
}

}  // namespace

int GetReplayFolder(char* out, std::size_t outSize) noexcept {
  if (out == nullptr || outSize == 0) return kReplayUnusable;
  std::memset(out, 0, outSize);
  char path[kPathSize] = {};
  if (GetUserDataPath(kVendorFolder, "", path) != 0) return kReplayUnusable;
  const std::size_t withSeparator = BoundedLength(path, sizeof path);
  if (withSeparator > 0) path[withSeparator - 1] = '\0';
  if (EnsureSubfolder(path, kReplayFolderName, path) != 0) return kReplayUnusable;
  // A path cut short would name another folder: refuse instead.
  const std::size_t length = BoundedLength(path, sizeof path);
  if (length >= outSize) return kReplayUnusable;
  std::memcpy(out, path, length);
  return 0;
}

int GetReplayPath(int route, char* out, std::size_t outSize) noexcept {
  if (out == nullptr || outSize == 0) return kReplayUnusable;
  out[0] = '\0';
  if (route < kFirstRoute || route >= kFirstRoute + kRouteCount) return kReplayUnusable;
  char folder[kPathSize];
  const int result = GetReplayFolder(folder, sizeof folder);
  if (result != 0) return result;
  char name[16];
  (void)std::snprintf(name, sizeof name, "\\r%03d.replay", route);  // route is 3 digits here
  char path[kPathSize];
  if (!CopyText(path, sizeof path, folder) || !AppendText(path, sizeof path, name) ||
      !CopyText(out, outSize, path)) {
    return kReplayUnusable;
  }
  return 0;
}

int ReadReplaySummary(int route) noexcept {
  char path[kPathSize];
  const int pathResult = GetReplayPath(route, path, sizeof path);
  if (pathResult != 0) return pathResult;

  ScopedFile file(FileOpen(path, kFileRead));
  const int openError = FileError();
  if (openError != 0) return openError;

  FileSource source(file.get());
  const int result = ParseReplay(source, g_replayHeader, g_replayPayload);
  file.reset();
  if (result == 0 && g_replayHeader.route != static_cast<std::uint32_t>(route)) {
    return kReplayUnusable;
  }
  return result;
}

std::uint32_t LastReplayTime() noexcept { return g_replayHeader.time; }
std::uint32_t LastReplayDistance() noexcept { return g_replayHeader.distance; }
const ReplayHeader& LastReplayHeader() noexcept { return g_replayHeader; }
const AutoArray<unsigned char>& LastReplayPayload() noexcept { return g_replayPayload; }

int ValidateReplayBytes(const unsigned char* data, std::size_t size, ReplaySummary* out) noexcept {
  ReplayHeader header{};
  AutoArray<unsigned char> payload;
  MemorySource source(data, size);
  int result = ParseReplay(source, header, payload);
  if (result == 0 && (header.route < static_cast<std::uint32_t>(kFirstRoute) ||
                      header.route >= static_cast<std::uint32_t>(kFirstRoute + kRouteCount))) {
    result = kReplayUnusable;
  }
  if (out != nullptr)
    *out = ReplaySummary{header.route, header.time, header.distance, header.flags,
                         kReplayHeaderSize + payload.size()};
  return result;
}

}  // namespace qlan
