// The file layer: every file the tool reads or writes whole goes through it. Each call
// records its outcome in one program-wide code that FileError reports.
#pragma once
#include <cstdint>

namespace qlan {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

inline constexpr std::uint16_t kFileRead = 1;
inline constexpr std::uint16_t kFileWrite = 2;
inline constexpr std::uint16_t kFileReadWrite = 3;
inline constexpr std::uint16_t kFileTruncate = 0x10;

// Operating-system codes the callers name (Windows values on every platform).
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorPathNotFound = 3;
inline constexpr int kErrorAccessDenied = 5;
inline constexpr int kErrorSharingViolation = 32;
inline constexpr int kErrorTooManyOpenFiles = 4;
inline constexpr int kErrorGeneralFailure = 31;
inline constexpr int kErrorDiskFull = 112;

// Paths are UTF-8 with backslash separators on every platform.
FileHandle FileOpen(const char* path, std::uint16_t mode) noexcept;
std::int32_t FileRead(FileHandle file, std::int32_t count, void* buffer) noexcept;
std::int32_t FileWrite(FileHandle file, std::int32_t count, const void* buffer) noexcept;
void FileClose(FileHandle file) noexcept;
std::int16_t FileError() noexcept;

// Size in bytes of an open file, or -1.
std::int64_t FileSize(FileHandle file) noexcept;
// Forces written data to the disk; false on failure.
bool FileFlush(FileHandle file) noexcept;

// Closes the file when it goes out of scope (FileClose resets the shared code, so callers
// read FileError before this runs).
class ScopedFile {
 public:
  explicit ScopedFile(FileHandle file) noexcept : file_(file) {}
  ~ScopedFile() { reset(); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  FileHandle get() const noexcept { return file_; }
  bool valid() const noexcept { return file_ != kInvalidFile; }
  void reset() noexcept {
    if (file_ != kInvalidFile) FileClose(file_);
    file_ = kInvalidFile;
  }

 private:
  FileHandle file_;
};

// Sets the shared code; for the platform files of this layer only.
void SetFileError(int code) noexcept;

}  // namespace qlan
