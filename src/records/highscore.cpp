// High-score table, its scrambler and the two files.
#include "records/highscore.h"

#include <cstring>

#include "app/paths.h"
#include "app/text.h"
#include "records/replay.h"

namespace qlan {

HighScoreTable g_highScoreTable{};

namespace {

Scrambler g_scrambler;

// The per-user folder (-1 when it cannot be had) joined with the file name (-108 when
// the whole path would reach 260 characters).
std::int16_t HighScorePath(const char* fileName, char (&path)[kPathSize]) noexcept {
  if (GetUserDataPath(kVendorFolder, "", path) != 0) return -1;
  if (!AppendText(path, sizeof path, fileName)) return kHighScorePathTooLong;
  return 0;
}

}  // namespace

void PutLittleEndian(unsigned char* out, std::uint32_t value) noexcept {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

unsigned char ReverseBits(unsigned char byte) noexcept {
  unsigned char out = 0;
  for (int bit = 0; bit < 8; ++bit) {
    out = static_cast<unsigned char>((out << 1) | ((byte >> bit) & 1));
  }
  return out;
}

void Scrambler::Scramble(const unsigned char* in, std::size_t n, unsigned char* out) noexcept {
  for (std::size_t k = 0; k < n; ++k) {
    g = g * 1709u + 2917u;
    const auto key = static_cast<unsigned char>(g >> 8);
    const auto e = static_cast<unsigned char>(ReverseBits(in[n - 1 - k]) ^ key);
    sum = ((sum << 1) | (sum >> 31)) ^ e;
    out[k] = e;
  }
}

void ResetHighScoreTable() noexcept {
  g_highScoreTable.fill(0);
  for (std::size_t k = 0; k < kRouteCount; ++k) {
    PutLittleEndian(g_highScoreTable.data() + kHighScoreHeaderSize + kHighScoreBlockSize * k +
                        kHighScoreTimeOffset,
                    kHighScoreNoTime);
  }
}

std::int16_t WriteScrambled(FileHandle file, const unsigned char* bytes,
                            std::int32_t* length) noexcept {
  const std::int32_t n = *length;
  if (n > kMaxScrambledBlock) {
    *length = 0;
    return kHighScoreBlockTooLong;
  }
  if (n < 1) {
    *length = 0;
    return 0;
  }
  unsigned char work[kMaxScrambledBlock];
  g_scrambler.Scramble(bytes, static_cast<std::size_t>(n), work);
  const std::int32_t written = FileWrite(file, n, work);
  *length = written < 0 ? 0 : written;
  return written == n ? 0 : -1;
}

std::int16_t SaveHighScoreFile(const unsigned char* table, const char* fileName) noexcept {
  char path[kPathSize] = {};
  const std::int16_t pathResult = HighScorePath(fileName, path);
  if (pathResult != 0) return pathResult;

  // Not truncated: what the game keeps after the table stays as it is.
  ScopedFile file(FileOpen(path, kFileWrite));
  const std::int16_t openError = FileError();
  if (openError != 0) return openError;

  g_scrambler = Scrambler{};
  std::int32_t length = static_cast<std::int32_t>(kHighScoreTableSize);
  std::int16_t result = WriteScrambled(file.get(), table, &length);
  if (result == 0) {
    unsigned char sum[4];
    PutLittleEndian(sum, g_scrambler.sum);
    length = 4;
    result = WriteScrambled(file.get(), sum, &length);
  }
  return result;
}

std::int16_t SaveHighScoreFiles() noexcept {
  const std::int16_t first = SaveHighScoreFile(g_highScoreTable.data(), kHighScoreFileB);
  if (first != 0) return first;
  return SaveHighScoreFile(g_highScoreTable.data(), kHighScoreFileC);
}

std::int16_t GetHighScoreFilePath(char* out, std::size_t outSize) noexcept {
  char path[kPathSize] = {};
  const std::int16_t pathResult = HighScorePath(kHighScoreFileB, path);
  if (pathResult != 0) return pathResult;
  if (!CopyText(out, outSize, path)) return kHighScorePathTooLong;
  return 0;
}

std::vector<unsigned char> ScrambleHighScoreTable(const unsigned char* table) {
  std::vector<unsigned char> file(kHighScoreFileSize);
  Scrambler scrambler;
  scrambler.Scramble(table, kHighScoreTableSize, file.data());
  unsigned char sum[4];
  PutLittleEndian(sum, scrambler.sum);
  scrambler.Scramble(sum, 4, file.data() + kHighScoreTableSize);
  return file;
}

}  // namespace qlan
