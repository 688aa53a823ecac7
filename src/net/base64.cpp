// Base64 encoder of the upload. The text is sized once from the source's size and filled in
// place, chunk by chunk, so the work grows linearly with the file.
#include "net/base64.h"

#include <bit>
#include <cstring>
#include <memory>
#include <new>

namespace qlan {
namespace {

// Two alphabet characters for every 12-bit value: one lookup per half of a group.
struct PairTable {
  char c[2 * 4096];
};

constexpr PairTable MakePairTable() {
  PairTable t{};
  for (std::size_t i = 0; i < 4096; ++i) {
    t.c[2 * i] = kBase64Alphabet[i >> 6];
    t.c[2 * i + 1] = kBase64Alphabet[i & 63];
  }
  return t;
}

constexpr PairTable kPairs = MakePairTable();

inline std::uint64_t Pair(std::uint64_t index) noexcept {
  std::uint16_t p = 0;
  std::memcpy(&p, kPairs.c + 2 * index, 2);
  return p;
}

// Six bytes to eight characters with one load and one store. Reads two bytes past the six.
inline void EncodeSix(const unsigned char* in, char* out) noexcept {
  std::uint64_t v = 0;
  std::memcpy(&v, in, 8);
  std::uint64_t w = 0;
  if constexpr (std::endian::native == std::endian::little) {
    v = __builtin_bswap64(v);
    w = Pair(v >> 52) | Pair((v >> 40) & 0xFFFu) << 16 | Pair((v >> 28) & 0xFFFu) << 32 |
        Pair((v >> 16) & 0xFFFu) << 48;
  } else {
    w = Pair(v >> 52) << 48 | Pair((v >> 40) & 0xFFFu) << 32 | Pair((v >> 28) & 0xFFFu) << 16 |
        Pair((v >> 16) & 0xFFFu);
  }
  std::memcpy(out, &w, 8);
}

inline void EncodeGroup(const unsigned char* in, char* out) noexcept {
  const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
  std::memcpy(out, kPairs.c + std::size_t{2} * (v >> 12), 2);
  std::memcpy(out + 2, kPairs.c + std::size_t{2} * (v & 0xFFFu), 2);
}

// Readable bytes the chunk buffer holds after its data, for EncodeSix.
constexpr std::int32_t kChunkSlack = 8;

// Encodes count bytes (a multiple of 3 except in the last chunk; kChunkSlack readable
// bytes after them) at out, with column characters already on the current line. Returns
// the end of what was written.
char* EncodeChunk(const unsigned char* in, std::int32_t count, char* out, int& column) noexcept {
  std::int32_t i = 0;
  while (i + 3 <= count) {
    if (column >= kBase64LineLength) {
      *out++ = '\n';
      column = 0;
    }
    if (column == 0 && i + 48 <= count) {
      // A whole line of 16 groups.
      for (int g = 0; g < 8; ++g, i += 6, out += 8) EncodeSix(in + i, out);
      column = kBase64LineLength;
      continue;
    }
    EncodeGroup(in + i, out);
    i += 3;
    out += 4;
    column += 4;
  }
  const std::int32_t rest = count - i;
  if (rest > 0) {
    if (column >= kBase64LineLength) {
      *out++ = '\n';
      column = 0;
    }
    const char* const a = kBase64Alphabet;
    const unsigned b0 = in[i];
    const unsigned b1 = rest == 2 ? in[i + 1] : 0u;
    out[0] = a[b0 >> 2];
    out[1] = a[((b0 & 3u) << 4) | (b1 >> 4)];
    out[2] = rest == 2 ? a[(b1 & 15u) << 2] : kBase64Pad;
    out[3] = kBase64Pad;
    out += 4;
    column += 4;
  }
  return out;
}

}  // namespace

bool EncodeBase64Into(ByteSource& source, std::int64_t size, char* out) noexcept {
  if (size < 0) return false;
  const std::int32_t chunk =
      size < kBase64ChunkSize ? static_cast<std::int32_t>(size) + 1 : kBase64ChunkSize;
  const auto bufferSize = static_cast<std::size_t>(chunk) + kChunkSlack;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[bufferSize]());
  if (buffer == nullptr) return false;

  int column = 0;
  std::int64_t remaining = size;
  while (remaining > 0) {
    const auto want = static_cast<std::int32_t>(remaining < chunk ? remaining : chunk);
    // A failed read or one that ends early never leaves a cut text behind.
    if (source.read(buffer.get(), want) != want) return false;
    out = EncodeChunk(buffer.get(), want, out, column);
    remaining -= want;
  }
  // The source must end where its size said: a file that grew meanwhile is not taken.
  return source.read(buffer.get(), 1) == 0;
}

}  // namespace qlan
