// Folders, environment and file helpers for tests, on both platforms.
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace qlan::test {
namespace {

fs::path FromUtf8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

std::string ToUtf8(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

// The process environment itself (on Windows not the C runtime's copy): what the tool reads.
#ifdef _WIN32
std::optional<std::string> GetEnv(const std::string& name) {
  wchar_t buffer[32768];
  const DWORD n = GetEnvironmentVariableW(FromUtf8(name).c_str(), buffer, 32768);
  if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
  return ToUtf8(fs::path(std::wstring(buffer, n)));
}
void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  SetEnvironmentVariableW(FromUtf8(name).c_str(), value ? FromUtf8(*value).c_str() : nullptr);
}
#else
std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}
void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value) setenv(name.c_str(), value->c_str(), 1);
  if (!value) unsetenv(name.c_str());
}
#endif

}  // namespace

char Separator() { return static_cast<char>(fs::path::preferred_separator); }

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  fs::path p = fs::temp_directory_path() /
               ("qlantest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  fs::create_directories(p);
  path_ = ToUtf8(p);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Read-only files must be made writable before a recursive removal on Windows.
  for (auto it = fs::recursive_directory_iterator(FromUtf8(path_), ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  }
  fs::remove_all(FromUtf8(path_), ec);
}

std::string TempFolder::Join(const std::string& name) const { return path_ + Separator() + name; }

ScopedEnv::ScopedEnv(const char* name, const std::string& value, bool unset)
    : name_(name), old_(GetEnv(name_)) {
  SetEnv(name_, unset ? std::nullopt : std::optional<std::string>(value));
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, old_); }

UserDataFixture::UserDataFixture() : env_("APPDATA", root_.path()) {}

std::string UserDataFixture::VendorPath(const std::string& name) const {
  return root_.Join("velmorn") + (name.empty() ? "" : Separator() + name);
}

std::string UserDataFixture::ReplayPath(const std::string& name) const {
  return VendorPath("qlan_rep") + (name.empty() ? "" : Separator() + name);
}

Bytes ReadAll(const std::string& path) {
  if (fs::is_directory(FromUtf8(path))) return {};
  std::ifstream in(FromUtf8(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(FromUtf8(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

bool Exists(const std::string& path) { return fs::exists(FromUtf8(path)); }

void MakeFolder(const std::string& path) { fs::create_directories(FromUtf8(path)); }

void SetReadOnly(const std::string& path, bool readOnly) {
  const auto bits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(FromUtf8(path), readOnly ? bits : fs::perms::owner_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

std::string TestDataPath(const std::string& relative) {
  std::string p = std::string(QLAN_TESTDATA_DIR) + "/" + relative;
#ifdef _WIN32
  // Wine maps the Unix root to drive Z:.
  std::replace(p.begin(), p.end(), '/', '\\');
  if (!p.empty() && p[0] == '\\') p = "Z:" + p;
#endif
  return p;
}

}  // namespace qlan::test
