// The fuzzers' private folder: /dev/shm when there is one (no disk traffic per input).
#include "support/temp_folder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace qlan::fuzz {

const std::string& TempFolder() {
  static const std::string folder = [] {
    std::error_code ec;
    std::string pattern =
        std::string(std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp") +
        "/qlan-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr || ::setenv("APPDATA", pattern.c_str(), 1) != 0) {
      std::perror("fuzz folder");
      std::abort();
    }
    return pattern;
  }();
  static const struct Remover {
    ~Remover() {
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
    }
  } remover;
  return folder;
}

bool WriteWholeFile(const std::string& path, const unsigned char* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return out.good();
}

bool ReadWholeFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

std::string PosixPath(const char* path) {
  std::string p(path);
  for (char& c : p) c = c == '\\' ? '/' : c;
  return p;
}

}  // namespace qlan::fuzz
