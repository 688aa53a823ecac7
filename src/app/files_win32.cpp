// Win32 side of the file layer and file-system seam: W functions, codes passed through.
#include <windows.h>

#include "app/files.h"
#include "app/filesystem.h"
#include "app/wide_win32.h"

namespace qlan {
namespace {

HANDLE AsHandle(FileHandle f) { return reinterpret_cast<HANDLE>(f); }

bool HasReadOnlyAttribute(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

FileHandle FileOpen(const char* path, std::uint16_t mode) noexcept {
  const std::wstring wide = Widen(path);
  DWORD access = GENERIC_READ;
  DWORD creation = OPEN_EXISTING;
  switch (mode & 3u) {
    case 2:
      access = GENERIC_WRITE;
      creation = (mode & kFileTruncate) ? CREATE_ALWAYS : OPEN_ALWAYS;
      break;
    case 3:
      access = GENERIC_READ | GENERIC_WRITE;
      creation = OPEN_ALWAYS;
      break;
    default:
      break;
  }
  // Wine (as root) would open a read-only file for writing; Windows refuses with 5.
  if ((access & GENERIC_WRITE) != 0 && HasReadOnlyAttribute(wide)) {
    SetFileError(ERROR_ACCESS_DENIED);
    return kInvalidFile;
  }
  const HANDLE h = CreateFileW(wide.c_str(), access, FILE_SHARE_READ, nullptr, creation,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetFileError(static_cast<int>(GetLastError()));
    return kInvalidFile;
  }
  SetFileError(0);
  return reinterpret_cast<FileHandle>(h);
}

std::int32_t FileRead(FileHandle file, std::int32_t count, void* buffer) noexcept {
  DWORD got = 0;
  const BOOL ok =
      count > 0 ? ReadFile(AsHandle(file), buffer, static_cast<DWORD>(count), &got, nullptr) : TRUE;
  SetFileError(ok ? 0 : -1);
  return static_cast<std::int32_t>(got);
}

std::int32_t FileWrite(FileHandle file, std::int32_t count, const void* buffer) noexcept {
  DWORD put = 0;
  const BOOL ok = count > 0
                      ? WriteFile(AsHandle(file), buffer, static_cast<DWORD>(count), &put, nullptr)
                      : TRUE;
  SetFileError(ok ? 0 : -1);
  return static_cast<std::int32_t>(put);
}

void FileClose(FileHandle file) noexcept {
  if (file != kInvalidFile) CloseHandle(AsHandle(file));
  SetFileError(0);
}

std::int64_t FileSize(FileHandle file) noexcept {
  LARGE_INTEGER size{};
  return GetFileSizeEx(AsHandle(file), &size) ? size.QuadPart : -1;
}

bool FileFlush(FileHandle file) noexcept { return FlushFileBuffers(AsHandle(file)) != 0; }

PathKind GetPathKind(const char* path) noexcept {
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
}

bool IsReadOnlyFile(const char* path) noexcept { return HasReadOnlyAttribute(Widen(path)); }

int CreateFolder(const char* path) noexcept {
  return CreateDirectoryW(Widen(path).c_str(), nullptr) ? 0 : static_cast<int>(GetLastError());
}

int DeleteFileAt(const char* path) noexcept {
  return DeleteFileW(Widen(path).c_str()) ? 0 : static_cast<int>(GetLastError());
}

int ReplaceFileAtomically(const char* source, const char* target) noexcept {
  const std::wstring to = Widen(target);
  // MoveFileEx would replace a read-only file under Wine; Windows refuses it.
  if (HasReadOnlyAttribute(to)) return ERROR_ACCESS_DENIED;
  return MoveFileExW(Widen(source).c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : static_cast<int>(GetLastError());
}

int FindEntries(const char* folder, std::string_view suffix,
                const std::function<void(const FolderEntry&)>& visit) noexcept {
  std::wstring pattern = Widen(folder);
  pattern += L"\\*";
  pattern += Widen(suffix);
  WIN32_FIND_DATAW data{};
  const HANDLE search = FindFirstFileW(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  do {
    visit(FolderEntry{Narrow(data.cFileName),
                      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return 0;
}

bool GetEnvironmentText(const char* name, std::string* value) noexcept {
  const std::wstring wideName = Widen(name);
  std::wstring buffer(32767, L'\0');
  SetLastError(0);
  const DWORD n = GetEnvironmentVariableW(wideName.c_str(), buffer.data(), 32767);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
  if (n >= 32767) return false;
  *value = Narrow(std::wstring_view(buffer.data(), n));
  return true;
}

bool GetWindowsFolder(std::string* value) noexcept {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return false;
  *value = Narrow(std::wstring_view(buffer, n));
  return true;
}

}  // namespace qlan
