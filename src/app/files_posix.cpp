// POSIX side of the file layer and file-system seam, so the core runs natively.
// Backslashes in paths become slashes here; codes are mapped to their Windows values.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/files.h"
#include "app/filesystem.h"

namespace qlan {
namespace {

std::string Native(const char* path) {
  std::string p = path == nullptr ? std::string() : std::string(path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

bool ParentExists(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;
  struct stat st {};
  return ::stat(path.substr(0, slash == 0 ? 1 : slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int CodeFromErrno(int error, const std::string& path) {
  switch (error) {
    case ENOENT:
      return ParentExists(path) ? kErrorFileNotFound : kErrorPathNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return kErrorAccessDenied;
    case ENOSPC:
      return kErrorDiskFull;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    default:
      return kErrorGeneralFailure;
  }
}

// Root ignores permission bits, so a file without any write bit counts as read-only.
bool ReadOnly(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

}  // namespace

FileHandle FileOpen(const char* path, std::uint16_t mode) noexcept {
  const std::string p = Native(path);
  const unsigned access = mode & 3u;
  int flags = O_RDONLY;
  if (access == 2) flags = O_WRONLY | O_CREAT | ((mode & kFileTruncate) ? O_TRUNC : 0);
  if (access == 3) flags = O_RDWR | O_CREAT;
  if (access >= 2 && ReadOnly(p)) {
    SetFileError(kErrorAccessDenied);
    return kInvalidFile;
  }
  const int fd = ::open(p.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetFileError(CodeFromErrno(errno, p));
    return kInvalidFile;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetFileError(kErrorAccessDenied);
    return kInvalidFile;
  }
  SetFileError(0);
  return fd;
}

std::int32_t FileRead(FileHandle file, std::int32_t count, void* buffer) noexcept {
  if (count <= 0) {
    SetFileError(0);
    return 0;
  }
  std::int32_t done = 0;
  // One logical read: a short count only at the end of the file, as on Windows.
  while (done < count) {
    const ssize_t got = ::read(static_cast<int>(file), static_cast<char*>(buffer) + done,
                               static_cast<std::size_t>(count - done));
    if (got < 0) {
      if (errno == EINTR) continue;
      SetFileError(-1);
      return done;
    }
    if (got == 0) break;
    done += static_cast<std::int32_t>(got);
  }
  SetFileError(0);
  return done;
}

std::int32_t FileWrite(FileHandle file, std::int32_t count, const void* buffer) noexcept {
  std::int32_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(static_cast<int>(file), static_cast<const char*>(buffer) + done,
                                static_cast<std::size_t>(count - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      SetFileError(-1);
      return done;
    }
    done += static_cast<std::int32_t>(put);
  }
  SetFileError(0);
  return done;
}

void FileClose(FileHandle file) noexcept {
  if (file != kInvalidFile) ::close(static_cast<int>(file));
  SetFileError(0);
}

std::int64_t FileSize(FileHandle file) noexcept {
  struct stat st {};
  if (::fstat(static_cast<int>(file), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool FileFlush(FileHandle file) noexcept { return ::fsync(static_cast<int>(file)) == 0; }

PathKind GetPathKind(const char* path) noexcept {
  struct stat st {};
  if (::stat(Native(path).c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

bool IsReadOnlyFile(const char* path) noexcept { return ReadOnly(Native(path)); }

int CreateFolder(const char* path) noexcept {
  const std::string p = Native(path);
  return ::mkdir(p.c_str(), 0755) == 0 ? 0 : CodeFromErrno(errno, p);
}

int DeleteFileAt(const char* path) noexcept {
  const std::string p = Native(path);
  if (ReadOnly(p)) return kErrorAccessDenied;
  if (GetPathKind(path) == PathKind::Folder) return kErrorAccessDenied;
  return ::unlink(p.c_str()) == 0 ? 0 : CodeFromErrno(errno, p);
}

int ReplaceFileAtomically(const char* source, const char* target) noexcept {
  const std::string from = Native(source);
  const std::string to = Native(target);
  if (ReadOnly(to)) return kErrorAccessDenied;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : CodeFromErrno(errno, to);
}

int FindEntries(const char* folder, std::string_view suffix,
                const std::function<void(const FolderEntry&)>& visit) noexcept {
  const std::string dir = Native(folder);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr)
    return errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : CodeFromErrno(errno, dir);
  int found = 0;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() < suffix.size() ||
        ::strncasecmp(name.c_str() + name.size() - suffix.size(), std::string(suffix).c_str(),
                      suffix.size()) != 0) {
      continue;
    }
    std::string full = dir;
    full += '/';
    full += name;
    struct stat st {};
    const bool isFolder = ::lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    ++found;
    visit(FolderEntry{name, isFolder});
  }
  ::closedir(d);
  return found == 0 ? kErrorFileNotFound : 0;
}

bool GetEnvironmentText(const char* name, std::string* value) noexcept {
  const char* v = std::getenv(name);
  if (v == nullptr) return false;
  *value = v;
  return true;
}

bool GetWindowsFolder(std::string* value) noexcept {
  return GetEnvironmentText("WINDIR", value) && !value->empty();
}

}  // namespace qlan
