// Bytes from outside on screen: UTF-8 when they are, else code page 932.
#include "app/text.h"

#include <gtest/gtest.h>

namespace qlan {
namespace {

TEST(ShowableText, Utf8AsItIsElseCodePage932WithAReplacementPerBadCharacter) {
  const struct {
    const char *bytes, *shown;
  } cases[] = {
      {"", ""},
      {"HTTP/1.1 503 \xE3\x82\xB5\xE3\x83\xBC\xE3\x83\x90", "HTTP/1.1 503 サーバ"},  // UTF-8
      {"HTTP/1.1 503 \x83\x54\x81\x5B\x83\x6F\x8D\xAC\x8E\x47\x92\x86",
       "HTTP/1.1 503 サーバ混雑中"},
      {"\xB1\xB2 proxy\x5C\x7E", "ｱｲ proxy\\~"},
      {"\x80 \xFD\xFE \x81", "\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD"},  // neither
      {"\xE3\x81\x82 \x82\xA0",
       "縺\xEF\xBF\xBD あ"},  // UTF-8 and Shift-JIS mixed: read as code page 932
  };
  for (const auto& c : cases) EXPECT_EQ(ShowableText(c.bytes), c.shown) << c.bytes;
}

}  // namespace
}  // namespace qlan
