// The escaping of the HTML writer.
#include "server/html.h"

namespace qlan::server {

HtmlWriter& HtmlWriter::Text(std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out_ += "&amp;";
        break;
      case '<':
        out_ += "&lt;";
        break;
      case '>':
        out_ += "&gt;";
        break;
      case '"':
        out_ += "&quot;";
        break;
      case '\'':
        out_ += "&#39;";
        break;
      default:
        out_ += c;
        break;
    }
  }
  return *this;
}

HtmlWriter& HtmlWriter::Link(std::string_view href, std::string_view text) {
  return Raw("<a href=\"").Text(href).Raw("\">").Text(text).Raw("</a>");
}

}  // namespace qlan::server
