// Base64 encoder of the upload. The text is sized once from the source's size and filled in
// place, chunk by chunk, so the work grows linearly with the file.
#include "net/base64.h"

#include <memory>
#include <new>

namespace qlan {
namespace {

// Encodes count bytes (a multiple of 3 except in the last chunk) at out, with column
// characters already on the current line. Returns the end of what was written.
char* EncodeChunk(const unsigned char* in, std::int32_t count, char* out, int& column) noexcept {
  const char* const a = kBase64Alphabet;
  std::int32_t i = 0;
  for (; i + 3 <= count; i += 3) {
    if (column >= kBase64LineLength) {
      *out++ = '\n';
      column = 0;
    }
    const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
    out[0] = a[b0 >> 2];
    out[1] = a[((b0 & 3u) << 4) | (b1 >> 4)];
    out[2] = a[((b1 & 15u) << 2) | (b2 >> 6)];
    out[3] = a[b2 & 63u];
    out += 4;
    column += 4;
  }
  const std::int32_t rest = count - i;
  if (rest > 0) {
    if (column >= kBase64LineLength) {
      *out++ = '\n';
      column = 0;
    }
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

std::int64_t FileSource::size() noexcept { return FileSize(file_); }

std::int32_t FileSource::read(void* buffer, std::int32_t count) noexcept {
  const std::int32_t got = FileRead(file_, count, buffer);
  return FileError() != 0 ? -1 : got;
}

std::int32_t encodeBase64(ByteSource& source, QString& out) noexcept {
  out.clear();
  const std::int64_t size = source.size();
  const std::int64_t expected = Base64TextLength(size);
  if (size < 0 || expected > QString::kMaxLength) return -1;
  if (!out.assign("")) return -1;

  char* const text = size > 0 ? out.appendSpace(static_cast<std::int32_t>(expected)) : nullptr;
  const std::int32_t chunk = size < kBase64ChunkSize ? static_cast<std::int32_t>(size) + 1 : kBase64ChunkSize;
  const auto bufferSize = static_cast<std::size_t>(chunk);
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[bufferSize]);
  if ((size > 0 && text == nullptr) || buffer == nullptr) {
    out.clear();
    return -1;
  }

  char* end = text;
  int column = 0;
  std::int64_t remaining = size;
  while (remaining > 0) {
    const auto want = static_cast<std::int32_t>(remaining < chunk ? remaining : chunk);
    if (source.read(buffer.get(), want) != want) {
      out.clear();  // failed, or shorter than announced: never a cut text
      return -1;
    }
    end = EncodeChunk(buffer.get(), want, end, column);
    remaining -= want;
  }
  // The source must end where its size said: a file that grew meanwhile is not taken.
  if (source.read(buffer.get(), 1) != 0) {
    out.clear();
    return -1;
  }
  return static_cast<std::int32_t>(end - text);
}

std::int32_t encodeFileBase64(FileHandle file, QString& out) noexcept {
  FileSource source(file);
  return encodeBase64(source, out);
}

}  // namespace qlan
