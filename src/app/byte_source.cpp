// File and memory byte sources.
#include "app/byte_source.h"

#include <cstring>

namespace qlan {

std::int64_t FileSource::size() noexcept {
  const std::int64_t total = FileSize(file_);
  if (total < 0) return -1;
  return total > position_ ? total - position_ : 0;
}

std::int32_t FileSource::read(void* buffer, std::int32_t count) noexcept {
  const std::int32_t got = FileRead(file_, count, buffer);
  if (FileError() != 0) return -1;
  position_ += got;
  return got;
}

std::int32_t MemorySource::read(void* buffer, std::int32_t count) noexcept {
  if (count <= 0) return 0;
  const std::size_t left = size_ - position_;
  const std::size_t take =
      static_cast<std::size_t>(count) < left ? static_cast<std::size_t>(count) : left;
  if (take > 0) std::memcpy(buffer, data_ + position_, take);
  position_ += take;
  return static_cast<std::int32_t>(take);
}

}  // namespace qlan
