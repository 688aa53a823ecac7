// The replay's Base64 decoded: the tool's line breaks between groups, and texts refused whole.
#include "server/base64_decode.h"

#include <gtest/gtest.h>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

TEST(DecodeBase64, ReadsTheToolsLinesAndRefusesAnyOtherTextWhole) {
  std::string decoded;
  EXPECT_TRUE(DecodeBase64("TW\r\nFu\n+/+/TWE=", &decoded, 8) && decoded == "Man\xfb\xff\xbfMa");
  EXPECT_TRUE(DecodeBase64("QUI=", &decoded, 2) && decoded == "AB");  // one pad sign
  // The alphabet, groups, padding, blanks, more than room was given for.
  for (const std::string& text : test::Cases("QUJD!!!!|QUJ|Q===|=QUJ|QU=D|QUI=QUJD|QUI==|QU D")) {
    EXPECT_FALSE(DecodeBase64(text, &decoded, 100)) << text;
    EXPECT_EQ(decoded, "") << text;
  }
  EXPECT_FALSE(DecodeBase64("TWFuTWFu", &decoded, 5));
  EXPECT_EQ(decoded, "");
}

}  // namespace
}  // namespace qlan::server
