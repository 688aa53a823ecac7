// Test fixtures that give every test its own folders and environment.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qlan::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder, removed with all it holds at the end; path() has the platform's separator.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string Join(const std::string& name) const;

 private:
  std::string path_;
};

// Sets (or, with unset, removes) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value, bool unset = false);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Points APPDATA at a fresh folder; the per-user folder is then appData()/velmorn.
class UserDataFixture {
 public:
  UserDataFixture();
  const std::string& appData() const { return root_.path(); }
  std::string VendorPath(const std::string& name = "") const;  // .../velmorn/name
  std::string ReplayPath(const std::string& name = "") const;  // .../velmorn/qlan_rep/name

 private:
  TempFolder root_;
  ScopedEnv env_;
};

Bytes ReadAll(const std::string& path);  // nothing for a folder or a missing file
void WriteAll(const std::string& path, const Bytes& bytes);
bool Exists(const std::string& path);
void MakeFolder(const std::string& path);
void SetReadOnly(const std::string& path, bool readOnly);
// A known-answer file in tests/data, e.g. "replays/good/r710.replay".
std::string TestDataPath(const std::string& relative);
char Separator();

// The replay file's name for a route (appended: GCC 12 warns falsely about "r" + ...).
inline std::string ReplayName(int route) {
  std::string name = "r";
  name += std::to_string(route);
  return name += ".replay";
}
// A known-answer replay in the user's replay folder under the route's own name.
inline void PlaceReplay(const UserDataFixture& user, const std::string& known, int route) {
  MakeFolder(user.ReplayPath());
  WriteAll(user.ReplayPath(ReplayName(route)), ReadAll(TestDataPath(known)));
}

}  // namespace qlan::test
