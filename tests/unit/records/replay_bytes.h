// Replay files for tests, written out byte by byte.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_env.h"

namespace qlan::test {

// A valid replay without payload: magic, time, distance, route, and the route again as the
// checksum of the empty payload.
inline std::vector<std::uint8_t> HeaderOnlyReplay(std::uint32_t time, std::uint32_t distance,
                                                  std::uint32_t route) {
  std::vector<std::uint8_t> out(64, 0);
  out[0] = 'Q', out[1] = 'L', out[2] = 'N', out[3] = 'R';
  for (const auto& [at, value] :
       {std::pair{4u, time}, {8u, distance}, {12u, route}, {56u, route}}) {
    for (unsigned k = 0; k < 4; ++k) out[at + k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
  }
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
  WriteAll(user.ReplayPath(ReplayName(static_cast<std::uint32_t>(route))),
           ReadAll(TestDataPath(known)));
}

}  // namespace qlan::test
