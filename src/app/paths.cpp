// Resolution of the per-user folder: APPDATA, else the Windows folder's "Application Data".
#include "app/paths.h"

#include <string>

#include "app/filesystem.h"
#include "app/text.h"

namespace qlan {

int EnsureSubfolder(const char* parent, const char* name, char* out) noexcept {
  char path[kPathSize] = {};
  if (!CopyText(path, sizeof path, parent) || !AppendText(path, sizeof path, "\\") ||
      !AppendText(path, sizeof path, name)) {
    return -1;
  }
  switch (GetPathKind(path)) {
    case PathKind::Missing:
      if (CreateFolder(path) != 0) return -1;
      break;
    case PathKind::Folder:
      break;
    case PathKind::File:
      return -1;
  }
  if (out != nullptr) CopyText(out, kPathSize, path);
  return 0;
}

int GetUserDataPath(const char* folder, const char* fileName, char* out) noexcept {
  char base[kPathSize] = {};
  std::string value;
  if (GetEnvironmentText("APPDATA", &value) && !value.empty()) {
    if (!CopyText(base, sizeof base, value)) return -1;
  } else {
    if (!GetWindowsFolder(&value) || !CopyText(base, sizeof base, value)) return -1;
    if (EnsureSubfolder(base, "Application Data", base) != 0) return -1;
  }
  if (EnsureSubfolder(base, folder, base) != 0) return -1;
  if (!AppendText(base, sizeof base, "\\") || !AppendText(base, sizeof base, fileName)) return -1;
  if (out != nullptr) CopyText(out, kPathSize, base);
  return 0;
}

}  // namespace qlan
