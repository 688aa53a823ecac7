// A small, bounded parser for multipart/form-data bodies (RFC 7578). The tool's own form
// has LF line ends; browsers and other clients use CR LF; both are accepted.
#pragma once
#include <cstddef>
#include <string_view>

namespace qlan::server {

inline constexpr std::size_t kMaxFormParts = 8;
inline constexpr std::size_t kMaxBoundaryLength = 70;
inline constexpr std::size_t kMaxPartHeaderLines = 8;
inline constexpr std::size_t kMaxPartHeaderLine = 1024;

// Views into the body and content type given to the parser; valid while those are.
struct FormPart {
  std::string_view name;         // name parameter of Content-Disposition
  std::string_view filename;     // filename parameter, empty when absent
  std::string_view contentType;  // the part's Content-Type value, empty when absent
  std::string_view data;         // the part's content, without the line end before the delimiter
};

struct MultipartForm {
  FormPart parts[kMaxFormParts];
  std::size_t count = 0;

  // The first part of that name, or null.
  const FormPart* Find(std::string_view name) const noexcept;
};

// The boundary parameter of a multipart/form-data content type (quoted or not); false
// when the type is another one or the boundary is missing, empty or too long.
bool ParseFormBoundary(std::string_view contentType, std::string_view* boundary) noexcept;

// Splits body into its parts. False when the content type is not multipart/form-data with
// a usable boundary, when no opening or closing delimiter is found, when a part has no
// Content-Disposition of type form-data with a name, when a part's header block is
// malformed or too long, or when there are more than kMaxFormParts parts. Preamble and
// epilogue are ignored. Work is linear in the body's length.
bool ParseMultipartForm(std::string_view contentType, std::string_view body,
                        MultipartForm* form) noexcept;

}  // namespace qlan::server
