// The replay files the game writes, one per route: where they are, how they are named,
// and how one is read whole and validated. The tool never writes them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "records/auto_array.h"

namespace qlan {

inline constexpr int kFirstRoute = 710;
inline constexpr int kRouteCount = 40;
inline constexpr char kReplayFolderName[] = "qlan_rep";
inline constexpr std::size_t kReplayHeaderSize = 64;

// Result codes of a replay read besides 0 and the operating system's positive codes.
// No replay folder or path, or a valid file that holds another route.
inline constexpr int kReplayUnusable = -1;
inline constexpr int kReplayShortPayload = -2;
inline constexpr int kReplayBadMagic = -4;
inline constexpr int kReplayBadChecksum = -8;
inline constexpr int kReplayShortHeader = -16;
inline constexpr int kReplayNoMemory = -32;  // no room for the payload

// Checksum constants, chosen by bit 10 of the flags word.
inline constexpr std::uint32_t kChecksumFlagBit = 0x400;
inline constexpr std::uint32_t kChecksumConstantSet = 0x2F6B19C4;
inline constexpr std::uint32_t kChecksumConstantClear = 0x73D0A85E;

// The header words of the file last read, each stored as soon as it was read.
struct ReplayHeader {
  std::uint32_t time;
  std::uint32_t distance;
  std::uint32_t route;
  std::uint32_t keptWord1;
  std::uint32_t keptWord2;
  std::uint32_t flags;
};

// The replay folder (no trailing backslash), created with the per-user folder when
// missing. out is zero-filled after the path. 0, or -1 when the folder cannot be resolved
// or created or the path and its terminator do not fit outSize.
int GetReplayFolder(char* out, std::size_t outSize) noexcept;

// The replay folder followed by "\r%03d.replay" for the route (710..749). 0 or -1.
int GetReplayPath(int route, char* out, std::size_t outSize) noexcept;

// Reads and validates the route's replay into the last header and payload. 0, the
// operating system's code of a failed open (2: no file, 32: open for writing elsewhere),
// or one of the negative codes above.
int ReadReplaySummary(int route) noexcept;

// Summary values of the last read; meaningful only right after it returned 0.
std::uint32_t LastReplayTime() noexcept;
std::uint32_t LastReplayDistance() noexcept;
const ReplayHeader& LastReplayHeader() noexcept;
const AutoArray<unsigned char>& LastReplayPayload() noexcept;

// The payload checksum: v starts as the route field; each byte is XORed into v, then v
// is rotated left bit by bit eight times, XORing in the mask (flags XOR the constant of
// bit 10) whenever bit 31 was set. Table-driven, same result for every input.
std::uint32_t ReplayChecksum(std::uint32_t route, std::uint32_t flags, const unsigned char* data,
                             std::size_t n) noexcept;

// What a validation of replay bytes learned, for the ranking server.
struct ReplaySummary {
  std::uint32_t route;
  std::uint32_t time;
  std::uint32_t distance;
  std::uint32_t flags;
  std::size_t size;  // header and declared payload: the bytes the checks covered
};

// Validates replay bytes held in memory by the same rules as the file reader: 0, -2, -4,
// -8, -16, -32, or -1 when the route field is outside 710..749. Uses no shared state, so
// it may run on several threads at once. out, when given, receives the header values.
int ValidateReplayBytes(const unsigned char* data, std::size_t size, ReplaySummary* out) noexcept;

}  // namespace qlan
