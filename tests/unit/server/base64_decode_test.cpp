// Base64 decoding of the uploaded replay text.
#include "server/base64_decode.h"

#include <gtest/gtest.h>

namespace qlan::server {
namespace {

std::string Decode(std::string_view text, bool* ok, std::size_t max = 1 << 20) {
  std::string out;
  *ok = DecodeBase64(text, &out, max);
  return out;
}

TEST(Base64Decode, DecodesGroupsWithAndWithoutPadding) {
  bool ok = false;
  EXPECT_EQ(Decode("TWFu", &ok), "Man");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decode("TWE=", &ok), "Ma");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decode("TQ==", &ok), "M");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decode("", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decode("+/+/", &ok), std::string("\xfb\xff\xbf", 3));
  EXPECT_TRUE(ok);
}

TEST(Base64Decode, SkipsTheToolsLineFeedsAndCarriageReturns) {
  // The known-answer replay r712.replay as the tool lays it out: 64 characters, LF, rest.
  const std::string text =
      "UUxOUgAAAAAAAAAAAAACyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\n"
      "AAAAAAAAAAAAAALIAAAAAHRyYWlsaW5nIGJ5dGVzIGFyZSBpZ25vcmVk";
  bool ok = false;
  const std::string bytes = Decode(text, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(bytes.size(), 90u);
  EXPECT_EQ(bytes.substr(0, 4), "QLNR");
  EXPECT_EQ(bytes.substr(64), "trailing bytes are ignored");
  EXPECT_EQ(Decode("TW\r\nFu\n", &ok), "Man");
  EXPECT_TRUE(ok);
}

TEST(Base64Decode, RefusesMalformedText) {
  bool ok = true;
  for (const char* bad : {"TWF", "TWFuT", "T===", "=TWF", "TW=u", "TWE=TWFu", "TWE==", "TW u",
                          "TW-u", "TW_u", "TWFu\t", "TQ==\nTQ=="}) {
    const std::string out = Decode(bad, &ok);
    EXPECT_FALSE(ok) << bad;
    EXPECT_TRUE(out.empty()) << bad;
  }
}

TEST(Base64Decode, RefusesResultsAboveTheLimit) {
  bool ok = true;
  EXPECT_EQ(Decode("TWFuTWFu", &ok, 6), "ManMan");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decode("TWFuTWFu", &ok, 5), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(Decode("TWFuTQ==", &ok, 4), "ManM");
  EXPECT_TRUE(ok);
}

}  // namespace
}  // namespace qlan::server
