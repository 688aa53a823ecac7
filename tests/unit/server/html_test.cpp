// The HTML writer: markup only from literals, everything else escaped, so that no value
// from an entry's stored fields can reach a page as markup.
#include "server/html.h"

#include <gtest/gtest.h>

#include "server/pages.h"

namespace qlan::server {
namespace {

// What is not known when the program is built cannot be markup.
static_assert(!std::is_convertible_v<std::string, Markup> &&
              !std::is_convertible_v<std::string_view, Markup>);

TEST(HtmlWriter, EscapesTextAndLinksButNotMarkup) {
  HtmlWriter w;
  w.Raw("<p>").Text("<b>&\"x'").Number(42).Link("/a?b=\"><i>", "<i>&").Raw("</p>");
  EXPECT_EQ(std::move(w).Take(),
            "<p>&lt;b&gt;&amp;&quot;x&#39;42<a href=\"/a?b=&quot;&gt;&lt;i&gt;\">&lt;i&gt;&amp;</a>"
            "</p>");
}

TEST(HtmlWriter, NoPageCarriesAStoredValueAsMarkup) {
  const std::string hostile = "\"'><script>x</script>&";
  const StoredEntry e{hostile, 712, 5, 6, 1700000000};
  const std::vector<StoredEntry> rows = {e, {"AbCd", 712, 6, 6, 0}};
  for (const std::string& page :
       {RenderRoutePage(712, 1, 2, rows), RenderEntryAccepted(e), RenderEntryPage(e, 1, 2, rows),
        RenderEntryPage(rows[1], 2, 2, rows)}) {
    EXPECT_EQ(page.find("<script>"), std::string::npos) << page;
    EXPECT_EQ(page.find("\"'"), std::string::npos) << page;
    EXPECT_NE(page.find("&quot;&#39;&gt;&lt;script&gt;x&lt;/script&gt;&amp;"), std::string::npos)
        << page;
  }
}

}  // namespace
}  // namespace qlan::server
