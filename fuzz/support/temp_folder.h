// A private folder in memory-backed storage for the fuzzers that go through files: made
// once per process, set as APPDATA, removed at exit.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

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

inline bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush().good();
}

// The whole file, or false when it cannot be read.
inline bool ReadWholeFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  out->assign(std::istreambuf_iterator<char>(in), {});
  return in.is_open() && !in.bad();
}

}  // namespace qlan::fuzz
