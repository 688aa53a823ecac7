// The growable 8-bit text string of the upload: owns one heap block whose size follows the
// length (the smallest multiple of 256 above it), and keeps the length so that appending
// never rescans the text.
#pragma once
#include <cstdint>

namespace qlan {

class QString {
 public:
  static constexpr std::int32_t kBlockStep = 256;
  // Longest text a string can hold (its block must still fit 32 signed bits).
  static constexpr std::int32_t kMaxLength = INT32_MAX - kBlockStep;

  QString() noexcept = default;
  virtual ~QString();
  QString(const QString&) = delete;
  QString& operator=(const QString&) = delete;

  // Block size for a text of length bytes: its low 8 bits cleared, plus 256.
  static constexpr std::int64_t BlockSizeFor(std::int64_t length) noexcept {
    return (length & ~std::int64_t{kBlockStep - 1}) + kBlockStep;
  }

  // Every operation below returns false, with the string unchanged, when the block it
  // needs cannot be had (or would exceed kMaxLength). Sources may lie inside the string.
  // Text and its length; null is the empty text.
  bool assign(const char* text) noexcept;
  // Replaces the content with count bytes (a byte 0 among them ends the text). A null
  // pointer or a negative count gives the empty text.
  bool setBytes(const void* bytes, std::int32_t count) noexcept;
  // Null changes nothing.
  bool append(const char* text) noexcept;
  bool append(const QString& other) noexcept;
  // A null pointer or a count below 1 changes nothing and allocates nothing.
  bool appendBytes(const void* bytes, std::int32_t count) noexcept;
  // Extends the text by count bytes that the caller must fill at once, none of them 0
  // (they are not cleared first: the encoder writes 4 MB here); the address of the
  // first, or null with nothing changed.
  char* appendSpace(std::int32_t count) noexcept;
  // Frees the block: the state of a new string.
  void clear() noexcept;

  // Never null.
  const char* text() const noexcept { return data_ != nullptr ? data_ : &emptyText_; }
  std::int32_t length() const noexcept { return length_; }
  std::int32_t capacity() const noexcept { return capacity_; }

 private:
  // Makes the block hold newLength bytes (moving to a block of the right size when that
  // differs), keeping the first keep bytes and copying count bytes from source to offset
  // keep. Stores the terminator at newLength.
  bool store(std::int32_t keep, const void* source, std::int32_t count,
             std::int32_t newLength) noexcept;

  std::int32_t capacity_ = 0;
  char* data_ = nullptr;
  char emptyText_ = 0;
  std::int32_t length_ = 0;
};

}  // namespace qlan
