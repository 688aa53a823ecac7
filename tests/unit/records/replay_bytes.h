// Builds replay files for tests, with the checksum from the bit-by-bit definition.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "records/checksum_reference.h"
#include "support/temp_env.h"

namespace qlan::test {

inline void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

struct ReplaySpec {
  std::uint32_t time = 0;
  std::uint32_t distance = 0;
  std::uint32_t route = 710;
  std::uint32_t flags = 0;
  std::vector<std::uint8_t> payload;
};

inline std::vector<std::uint8_t> MakeReplay(const ReplaySpec& spec) {
  std::vector<std::uint8_t> out = {'Q', 'L', 'N', 'R'};
  PutBigEndian(out, spec.time);
  PutBigEndian(out, spec.distance);
  PutBigEndian(out, spec.route);
  for (int i = 0; i < 9; ++i) PutBigEndian(out, 0);  // kept words and reserved words
  PutBigEndian(out, spec.flags);
  PutBigEndian(out, reference::ReplayChecksumBitwise(spec.route, spec.flags, spec.payload.data(),
                                                     spec.payload.size()));
  PutBigEndian(out, static_cast<std::uint32_t>(spec.payload.size()));
  out.insert(out.end(), spec.payload.begin(), spec.payload.end());
  return out;
}

// "r710.replay" for route 710 (built by appending: GCC 12 misreports "r" + std::string).
inline std::string ReplayName(std::uint32_t route) {
  std::string name = "r";
  name.append(std::to_string(route));
  name.append(".replay");
  return name;
}

// Puts a known-answer replay into the replay folder under the route's own name.
inline void PlaceReplay(const UserDataFixture& user, const std::string& known, int route) {
  MakeFolder(user.ReplayPath());
  WriteAll(user.ReplayPath(ReplayName(static_cast<std::uint32_t>(route))), ReadAll(TestDataPath(known)));
}

}  // namespace qlan::test
