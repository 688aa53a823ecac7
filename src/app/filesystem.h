// Folder and file-system operations beyond the file layer: attributes, folders, deletion,
// search, atomic replacement and the environment. Paths are UTF-8 with backslashes.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace qlan {

enum class PathKind { Missing, Folder, File };

PathKind GetPathKind(const char* path) noexcept;
// True when the path names an existing file marked read-only.
bool IsReadOnlyFile(const char* path) noexcept;
// Creates one folder level; 0 or the operating system's code.
int CreateFolder(const char* path) noexcept;
// Deletes a file; 0 or the operating system's code (5 for a read-only file everywhere).
int DeleteFileAt(const char* path) noexcept;
// Replaces target by source in one step; 0 or the operating system's code. A read-only
// target is refused with 5.
int ReplaceFileAtomically(const char* source, const char* target) noexcept;

struct FolderEntry {
  std::string name;
  bool isFolder;
};
// Lists the entries of folder whose names match "*<suffix>" as the platform's search
// matches them (letter case ignored). 0 when the search ran (the callback saw every
// entry), otherwise the operating system's code: 2 when nothing matches, 3 when the folder
// is missing.
int FindEntries(const char* folder, std::string_view suffix,
                const std::function<void(const FolderEntry&)>& visit) noexcept;

// Environment variable as UTF-8; false when unset. (Length checks are the caller's.)
bool GetEnvironmentText(const char* name, std::string* value) noexcept;
// The Windows directory (natively: the WINDIR variable); false when there is none.
bool GetWindowsFolder(std::string* value) noexcept;

}  // namespace qlan
