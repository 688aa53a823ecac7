// Where a reader takes its bytes from: an open file or a block of memory. The replay
// parser and the Base64 encoder read through it, so the server and tests can hand them
// bytes without a file.
#pragma once
#include <cstddef>
#include <cstdint>

#include "app/files.h"

namespace qlan {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes left to read, or -1 when unknown.
  virtual std::int64_t size() noexcept = 0;
  // Up to count bytes (fewer only at the end), or -1 when the read failed.
  virtual std::int32_t read(void* buffer, std::int32_t count) noexcept = 0;
};

// A file opened for reading, through the file layer.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(FileHandle file) noexcept : file_(file) {}
  std::int64_t size() noexcept override;
  std::int32_t read(void* buffer, std::int32_t count) noexcept override;

 private:
  FileHandle file_;
  std::int64_t position_ = 0;
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(const unsigned char* data, std::size_t size) noexcept
      : data_(data), size_(data == nullptr ? 0 : size) {}
  std::int64_t size() noexcept override { return static_cast<std::int64_t>(size_ - position_); }
  std::int32_t read(void* buffer, std::int32_t count) noexcept override;

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace qlan
