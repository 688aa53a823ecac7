// A page written escaped by construction: markup comes only from the program's own
// literals, every other text is escaped on its way in.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qlan::server {

// Markup known when the program is built: a string literal or a constexpr character array.
// The constructor reads the characters at compile time, so nothing made at run time (a
// std::string from the database or the request, a buffer) can become one.
class Markup {
 public:
  // Implicit, so that a page reads Raw("<p>"); consteval keeps it to literals.
  // cppcheck-suppress noExplicitConstructor
  consteval Markup(const char* literal) : text_(literal) {}  // NOLINT(*-explicit-*)
  std::string_view Text() const noexcept { return text_; }

 private:
  std::string_view text_;
};

class HtmlWriter {
 public:
  HtmlWriter& Raw(const Markup& markup) {
    out_ += markup.Text();
    return *this;
  }
  // Text for an element's content or a quoted attribute's value: & < > " ' escaped.
  HtmlWriter& Text(std::string_view text);
  HtmlWriter& Number(std::uint64_t n) {
    out_ += std::to_string(n);
    return *this;
  }
  // <a href="href">text</a>, the address and the text escaped.
  HtmlWriter& Link(std::string_view href, std::string_view text);
  // What another writer wrote, escaped as it was.
  HtmlWriter& Append(const HtmlWriter& part) {
    out_ += part.out_;
    return *this;
  }

  std::string Take() && { return std::move(out_); }

 private:
  std::string out_;
};

}  // namespace qlan::server
