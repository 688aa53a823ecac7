// The per-user folder that the tool shares with the game, and paths inside it.
#pragma once

namespace qlan {

inline constexpr char kVendorFolder[] = "velmorn";
inline constexpr char kSettingsFileName[] = "qlan.ini";

// out, when given, must hold kPathSize bytes. 0 on success, -1 on failure (out untouched):
// an unusable application-data folder, a vendor folder that cannot be created, or a path
// that would not fit.
int GetUserDataPath(const char* folder, const char* fileName, char* out) noexcept;

// parent + "\" + name, created as one folder level when nothing of that name exists.
// out may be the parent buffer itself. 0 or -1.
int EnsureSubfolder(const char* parent, const char* name, char* out) noexcept;

}  // namespace qlan
