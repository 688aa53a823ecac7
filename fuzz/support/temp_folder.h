// A private folder in memory-backed storage for the fuzzers that go through files: made
// once per process, set as APPDATA, removed at exit.
#pragma once
#include <cstddef>
#include <string>

namespace qlan::fuzz {

// The folder's POSIX path (made and set as APPDATA on the first call).
const std::string& TempFolder();

// Writes bytes to path (POSIX) whole; false on any failure.
bool WriteWholeFile(const std::string& path, const unsigned char* data, std::size_t size);

// The whole file, or false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* out);

bool FileExists(const std::string& path);

// A path of the program's own form (backslashes) as the POSIX layer opens it.
std::string PosixPath(const char* path);

}  // namespace qlan::fuzz
