// The upload's byte string.
#include "net/qstring.h"

#include <cstring>
#include <new>

namespace qlan {
namespace {

std::int32_t TextLength(const void* bytes, std::int32_t count) noexcept {
  const void* zero = std::memchr(bytes, 0, static_cast<std::size_t>(count));
  return zero == nullptr ? count
                         : static_cast<std::int32_t>(static_cast<const char*>(zero) -
                                                     static_cast<const char*>(bytes));
}

char* NewBlock(std::int32_t size) noexcept {
  const auto bytes = static_cast<std::size_t>(size);
  return new (std::nothrow) char[bytes];
}

}  // namespace

QString::~QString() { delete[] data_; }

bool QString::store(std::int32_t keep, const void* source, std::int32_t count,
                    std::int32_t newLength) noexcept {
  const auto size = static_cast<std::int32_t>(BlockSizeFor(keep + count));
  if (size != capacity_ || data_ == nullptr) {
    char* block = NewBlock(size);
    if (block == nullptr) return false;
    if (keep > 0 && data_ != nullptr) std::memcpy(block, data_, static_cast<std::size_t>(keep));
    // Copied before the old block goes, so a source inside it stays readable.
    if (count > 0) std::memcpy(block + keep, source, static_cast<std::size_t>(count));
    delete[] data_;
    data_ = block;
    capacity_ = size;
  } else if (count > 0 && source != nullptr) {
    std::memmove(data_ + keep, source, static_cast<std::size_t>(count));
  }
  data_[keep + count] = '\0';
  length_ = newLength;
  return true;
}

bool QString::setBytes(const void* bytes, std::int32_t count) noexcept {
  if (bytes == nullptr || count < 0) count = 0;
  if (count > kMaxLength) return false;
  return store(0, bytes, count, count > 0 ? TextLength(bytes, count) : 0);
}

bool QString::assign(const char* text) noexcept {
  if (text == nullptr) return setBytes(nullptr, 0);
  const std::size_t n = std::strlen(text);
  if (n > static_cast<std::size_t>(kMaxLength)) return false;
  return setBytes(text, static_cast<std::int32_t>(n));
}

bool QString::appendBytes(const void* bytes, std::int32_t count) noexcept {
  if (bytes == nullptr || count < 1) return true;
  if (count > kMaxLength - length_) return false;
  return store(length_, bytes, count, length_ + TextLength(bytes, count));
}

bool QString::append(const char* text) noexcept {
  if (text == nullptr) return true;
  const std::size_t n = std::strlen(text);
  if (n > static_cast<std::size_t>(kMaxLength)) return false;
  return appendBytes(text, static_cast<std::int32_t>(n));
}

bool QString::append(const QString& other) noexcept {
  return appendBytes(other.text(), other.length());
}

char* QString::appendSpace(std::int32_t count) noexcept {
  if (count < 0 || count > kMaxLength - length_) return nullptr;
  const std::int32_t start = length_;
  const auto size = static_cast<std::int32_t>(BlockSizeFor(start + count));
  if (size != capacity_ || data_ == nullptr) {
    char* block = NewBlock(size);
    if (block == nullptr) return nullptr;
    if (start > 0 && data_ != nullptr) std::memcpy(block, data_, static_cast<std::size_t>(start));
    delete[] data_;
    data_ = block;
    capacity_ = size;
  }
  data_[start + count] = '\0';
  length_ = start + count;
  return data_ + start;
}

void QString::clear() noexcept {
  delete[] data_;
  data_ = nullptr;
  capacity_ = 0;
  length_ = 0;
}

}  // namespace qlan
