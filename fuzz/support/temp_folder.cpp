// The fuzzers' private folder: /dev/shm when there is one (no disk traffic per input).
#include "support/temp_folder.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace qlan::fuzz {
namespace {

std::string g_folder;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

void RemoveFolder() {
  if (!g_folder.empty()) ::nftw(g_folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

const std::string& TempFolder() {
  if (!g_folder.empty()) return g_folder;
  struct stat st {};
  const bool shm = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode);
  std::string pattern = std::string(shm ? "/dev/shm" : "/tmp") + "/qlan-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_folder = pattern;
  if (::setenv("APPDATA", g_folder.c_str(), 1) != 0 || std::atexit(RemoveFolder) != 0) {
    std::perror("setenv");
    std::abort();
  }
  return g_folder;
}

bool WriteWholeFile(const std::string& path, const unsigned char* data, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && done == size;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    out->append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return n == 0;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string PosixPath(const char* path) {
  std::string p(path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

}  // namespace qlan::fuzz
