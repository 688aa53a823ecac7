// The owning array that holds a replay's payload: grows and shrinks in steps of 256
// elements and never throws. Access that would need storage it cannot get is refused.
#pragma once
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

namespace qlan {

template <typename T>
class AutoArray {
  static_assert(std::is_trivially_copyable_v<T>, "elements are copied as bytes");

 public:
  static constexpr std::uint32_t kStep = 256;

  AutoArray() noexcept : data_(new (std::nothrow) T[kStep]), size_(0), capacity_(kStep) {
    if (data_ == nullptr) capacity_ = 0;
  }
  virtual ~AutoArray() { delete[] data_; }
  AutoArray(const AutoArray&) = delete;
  AutoArray& operator=(const AutoArray&) = delete;

  // The next multiple of the step strictly above n; 0 when that does not fit 32 bits.
  static constexpr std::uint32_t CapacityFor(std::uint32_t n) noexcept {
    const std::uint64_t c = (static_cast<std::uint64_t>(n) / kStep + 1) * kStep;
    return c > UINT32_MAX ? 0 : static_cast<std::uint32_t>(c);
  }

  // Sets the size to n, keeping the first elements and zeroing new ones. False, with
  // nothing changed, when the storage for n elements cannot be had.
  bool Resize(std::uint32_t n) noexcept {
    const std::uint32_t newCapacity = CapacityFor(n);
    if (newCapacity == 0) return false;
    if (newCapacity != capacity_ || data_ == nullptr) {
      T* block = new (std::nothrow) T[newCapacity];
      if (block == nullptr) return false;
      if (size_ > n) size_ = n;
      if (data_ != nullptr && size_ > 0) std::memcpy(block, data_, size_ * sizeof(T));
      delete[] data_;
      data_ = block;
    }
    if (size_ > n) size_ = n;
    if (size_ < n) std::memset(static_cast<void*>(data_ + size_), 0, (n - size_) * sizeof(T));
    size_ = n;
    capacity_ = newCapacity;
    return true;
  }

  // Element i, growing the array to i + 1 elements first when i is past the end; null
  // when it cannot grow that far.
  T* At(std::uint32_t i) noexcept {
    if (i >= size_ || data_ == nullptr) {
      if (i == UINT32_MAX || !Resize(i + 1)) return nullptr;
    }
    return data_ + i;
  }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  std::uint32_t size() const noexcept { return size_; }
  std::uint32_t capacity() const noexcept { return capacity_; }

 private:
  T* data_;
  std::uint32_t size_;
  std::uint32_t capacity_;
};

}  // namespace qlan
