// The game's two high-score files: the table the tool writes into them (the empty one,
// at erase time), and the scrambling the game expects. The tool never reads them.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/files.h"

namespace qlan {

inline constexpr char kHighScoreFileB[] = "qlanb.ee";
inline constexpr char kHighScoreFileC[] = "qlanc.ee";
inline constexpr std::size_t kHighScoreTableSize = 10884;
inline constexpr std::size_t kHighScoreFileSize = 10888;
inline constexpr std::size_t kHighScoreBlockSize = 272;
// Inside the table: a leading word, then one block per route; a block has four words
// (count, best distance, best time, best date) and then the identifier slots.
inline constexpr std::size_t kHighScoreHeaderSize = 4;
inline constexpr std::size_t kHighScoreTimeOffset = 8;
inline constexpr std::size_t kHighScoreSlotsOffset = 16;
inline constexpr std::size_t kHighScoreSlotCount = 16;
inline constexpr std::size_t kHighScoreSlotSize = 16;
// The best time of a route that has no entry.
inline constexpr std::uint32_t kHighScoreNoTime = 0xFFFFFFFFu;
inline constexpr std::int32_t kMaxScrambledBlock = 16384;

inline constexpr std::int16_t kHighScoreBlockTooLong = -50;
inline constexpr std::int16_t kHighScorePathTooLong = -108;

using HighScoreTable = std::array<unsigned char, kHighScoreTableSize>;
extern HighScoreTable g_highScoreTable;

// Running state of the scrambler: generator and checksum, both 0 at the start of a file.
struct Scrambler {
  std::uint32_t g = 0;
  std::uint32_t sum = 0;
  // Scrambles n bytes, last input byte first, into out (n bytes).
  void Scramble(const unsigned char* in, std::size_t n, unsigned char* out) noexcept;
};

unsigned char ReverseBits(unsigned char byte) noexcept;

// The table's and the files' word order.
void PutLittleEndian(unsigned char* out, std::uint32_t value) noexcept;

// Sets g_highScoreTable to the empty table.
void ResetHighScoreTable() noexcept;

// Writes g_highScoreTable to qlanb.ee, then (only if that worked) to qlanc.ee.
// 0 or the first failure's code.
std::int16_t SaveHighScoreFiles() noexcept;

// Writes one high-score file in the per-user folder, without truncating it. 0; the
// operating system's code of a failed open; -1 (no per-user folder, short write); -108.
std::int16_t SaveHighScoreFile(const unsigned char* table, const char* fileName) noexcept;

// Scrambles a block of at most 16,384 bytes with the module's scrambler state and writes
// it in one call. 0, -1 for a short write, -50 for a block too long; *length becomes the
// count written.
std::int16_t WriteScrambled(FileHandle file, const unsigned char* bytes,
                            std::int32_t* length) noexcept;

// Full path of qlanb.ee. 0, -1 (no per-user folder) or -108 (does not fit outSize).
std::int16_t GetHighScoreFilePath(char* out, std::size_t outSize) noexcept;

// The 10,888 bytes of a high-score file holding the table (10,884 bytes), scrambled as
// the file writer does it; for the ranking server. Uses no shared state.
std::vector<unsigned char> ScrambleHighScoreTable(const unsigned char* table);

}  // namespace qlan
