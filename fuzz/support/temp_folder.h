// A private folder in memory-backed storage for the fuzzers that go through files: made
// once per process, set as APPDATA, removed at exit.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace qlan::fuzz {

inline const std::string& TempFolder() {
  static const struct Folder {
    std::string path =
        std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/qlan-fuzz-XXXXXX";
    Folder() {
      if (::mkdtemp(path.data()) == nullptr || ::setenv("APPDATA", path.c_str(), 1) != 0) {
        std::perror("fuzz folder");
        std::abort();
      }
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } folder;
  return folder.path;
}

inline bool WriteWholeFile(const std::string& path, const unsigned char* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return out.good();
}

// The whole file, or false when it cannot be read.
inline bool ReadWholeFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

inline bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

// A path of the program's own form (backslashes) as the POSIX layer opens it.
inline std::string PosixPath(const char* path) {
  std::string p(path);
  for (char& c : p) c = c == '\\' ? '/' : c;
  return p;
}

}  // namespace qlan::fuzz
