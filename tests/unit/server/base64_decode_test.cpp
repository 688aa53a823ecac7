// Base64 decoding of the uploaded replay text.
#include "server/base64_decode.h"

#include <gtest/gtest.h>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

TEST(Base64Decode, DecodesPaddedTextAcrossLineEndsWithinTheLimit) {
  // The known-answer replay r712.replay as the tool lays it out: 64 characters, LF, rest.
  const std::string r712 =
      "UUxOUgAAAAAAAAAAAAACyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\n"
      "AAAAAAAAAAAAAALIAAAAAHRyYWlsaW5nIGJ5dGVzIGFyZSBpZ25vcmVk";
  const struct {
    std::string text;
    std::size_t max;
    bool ok;
    std::string out;
  } cases[] = {
      {"TWFu", 3, true, "Man"},
      {"TWE=", 3, true, "Ma"},
      {"TQ==", 3, true, "M"},
      {"", 3, true, ""},
      {"+/+/", 3, true, "\xfb\xff\xbf"},
      {"TW\r\nFu\n", 3, true, "Man"},
      {"TWFuTWFu", 6, true, "ManMan"},
      {"TWFuTWFu", 5, false, ""},  // above the limit
      {"TWFuTQ==", 4, true, "ManM"},
      {r712, 1 << 20, true, test::KnownFile("replays/good/r712.replay")},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    EXPECT_EQ(DecodeBase64(c.text, &out, c.max), c.ok) << c.text;
    EXPECT_EQ(out, c.out) << c.text;
  }
}

TEST(Base64Decode, RefusesMalformedText) {
  for (const char* bad : {"TWF", "TWFuT", "T===", "=TWF", "TW=u", "TWE=TWFu", "TWE==", "TW u",
                          "TW-u", "TW_u", "TWFu\t", "TQ==\nTQ=="}) {
    std::string out = "x";
    EXPECT_FALSE(DecodeBase64(bad, &out, 100)) << bad;
    EXPECT_TRUE(out.empty()) << bad;
  }
}

}  // namespace
}  // namespace qlan::server
