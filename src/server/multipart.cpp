// multipart/form-data splitting with LF or CR LF line ends.
#include "server/multipart.h"

#include "app/text.h"

namespace qlan::server {
namespace {

// Takes one "key=value" or "key=\"value\"" parameter off the front of s (after a ';').
// False on a malformed parameter.
bool NextParameter(std::string_view* s, std::string_view* key, std::string_view* value) noexcept {
  std::string_view rest = TrimBlanks(*s);
  const std::size_t eq = rest.find('=');
  if (eq == std::string_view::npos) return false;
  *key = TrimBlanks(rest.substr(0, eq));
  rest = TrimBlanks(rest.substr(eq + 1));
  if (!rest.empty() && rest.front() == '"') {
    // Quoted string; a backslash escape keeps its next character (the view keeps the
    // backslash, which never occurs in the names this server looks for).
    std::size_t i = 1;
    while (i < rest.size() && rest[i] != '"') {
      if (rest[i] == '\\') ++i;
      ++i;
    }
    if (i >= rest.size()) return false;
    *value = rest.substr(1, i - 1);
    rest = TrimBlanks(rest.substr(i + 1));
  } else {
    const std::size_t end = rest.find(';');
    *value = TrimBlanks(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
  }
  if (!rest.empty()) {
    if (rest.front() != ';') return false;
    rest.remove_prefix(1);
  }
  *s = rest;
  return !key->empty();
}

// The Content-Disposition value of a part: "form-data" and its name and filename.
bool ParseDisposition(std::string_view value, FormPart* part) noexcept {
  const std::size_t semi = value.find(';');
  if (!EqualsIgnoringCase(TrimBlanks(value.substr(0, semi)), "form-data")) return false;
  if (semi == std::string_view::npos) return false;
  std::string_view rest = value.substr(semi + 1);
  bool haveName = false;
  while (!TrimBlanks(rest).empty()) {
    std::string_view key;
    std::string_view v;
    if (!NextParameter(&rest, &key, &v)) return false;
    if (EqualsIgnoringCase(key, "name")) {
      if (v.empty()) return false;  // a part is found by its name; a nameless one is no field
      part->name = v;
      haveName = true;
    } else if (EqualsIgnoringCase(key, "filename")) {
      part->filename = v;
    }
  }
  return haveName;
}

// One line of the part head, without its LF or CR LF; false when no LF comes within the
// line limit.
bool TakeLine(std::string_view* s, std::string_view* line) noexcept {
  const std::size_t lf = s->substr(0, kMaxPartHeaderLine + 2).find('\n');
  if (lf == std::string_view::npos) return false;
  std::string_view l = s->substr(0, lf);
  if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
  if (l.size() > kMaxPartHeaderLine) return false;
  *line = l;
  s->remove_prefix(lf + 1);
  return true;
}

// After a delimiter: optional blanks, then LF or CR LF. False when anything else follows.
bool SkipDelimiterLineEnd(std::string_view* s) noexcept {
  const std::size_t start = s->find_first_not_of(" \t");
  s->remove_prefix(start == std::string_view::npos ? s->size() : start);
  if (s->size() >= 2 && (*s)[0] == '\r' && (*s)[1] == '\n') {
    s->remove_prefix(2);
    return true;
  }
  if (!s->empty() && s->front() == '\n') {
    s->remove_prefix(1);
    return true;
  }
  return false;
}

// A part's header lines up to the empty one, into *part; false when one is malformed, when
// there are too many, or when no Content-Disposition names the field.
bool TakePartHead(std::string_view* rest, FormPart* part) noexcept {
  bool haveDisposition = false;
  std::size_t lines = 0;
  for (;;) {
    std::string_view line;
    if (!TakeLine(rest, &line)) return false;
    if (line.empty()) return haveDisposition;
    if (++lines > kMaxPartHeaderLines) return false;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (EqualsIgnoringCase(name, "Content-Disposition")) {
      if (haveDisposition || !ParseDisposition(value, part)) return false;
      haveDisposition = true;
    } else if (EqualsIgnoringCase(name, "Content-Type")) {
      part->contentType = value;
    }
  }
}

// A part's content, up to the line end before the next delimiter ("\n--" + boundary), which
// is taken too; false when no delimiter follows.
bool TakePartData(std::string_view* rest, std::string_view lfDelimiter,
                  std::string_view* data) noexcept {
  // An empty content puts the delimiter right at the start of what is left.
  const std::string_view delimiter = lfDelimiter.substr(1);
  if (rest->substr(0, delimiter.size()) == delimiter) {
    *data = rest->substr(0, 0);
    rest->remove_prefix(delimiter.size());
    return true;
  }
  const std::size_t found = rest->find(lfDelimiter);
  if (found == std::string_view::npos) return false;
  const std::size_t end = found > 0 && (*rest)[found - 1] == '\r' ? found - 1 : found;
  *data = rest->substr(0, end);
  rest->remove_prefix(found + lfDelimiter.size());
  return true;
}

}  // namespace

const FormPart* MultipartForm::Find(std::string_view name) const noexcept {
  for (std::size_t i = 0; i < count; ++i) {
    if (parts[i].name == name) return &parts[i];
  }
  return nullptr;
}

bool ParseFormBoundary(std::string_view contentType, std::string_view* boundary) noexcept {
  const std::size_t semi = contentType.find(';');
  if (!EqualsIgnoringCase(TrimBlanks(contentType.substr(0, semi)), "multipart/form-data"))
    return false;
  if (semi == std::string_view::npos) return false;
  std::string_view rest = contentType.substr(semi + 1);
  while (!TrimBlanks(rest).empty()) {
    std::string_view key;
    std::string_view value;
    if (!NextParameter(&rest, &key, &value)) return false;
    if (EqualsIgnoringCase(key, "boundary")) {
      if (value.empty() || value.size() > kMaxBoundaryLength) return false;
      for (const char c : value) {
        if (c == '\r' || c == '\n') return false;
      }
      *boundary = value;
      return true;
    }
  }
  return false;
}

bool ParseMultipartForm(std::string_view contentType, std::string_view body,
                        MultipartForm* form) noexcept {
  form->count = 0;
  std::string_view boundary;
  if (!ParseFormBoundary(contentType, &boundary)) return false;

  // "\n--" + boundary, built in a fixed buffer (the boundary is bounded).
  char delimiterBuffer[kMaxBoundaryLength + 3];
  delimiterBuffer[0] = '\n';
  delimiterBuffer[1] = '-';
  delimiterBuffer[2] = '-';
  for (std::size_t i = 0; i < boundary.size(); ++i) delimiterBuffer[3 + i] = boundary[i];
  const std::string_view lfDelimiter(delimiterBuffer, boundary.size() + 3);
  const std::string_view delimiter = lfDelimiter.substr(1);

  // The first delimiter stands at the very start or at the start of a line (preamble).
  std::size_t at;
  if (body.substr(0, delimiter.size()) == delimiter) {
    at = 0;
  } else {
    const std::size_t found = body.find(lfDelimiter);
    if (found == std::string_view::npos) return false;
    at = found + 1;
  }
  std::string_view rest = body.substr(at + delimiter.size());

  for (;;) {
    if (rest.substr(0, 2) == "--") return true;  // closing delimiter; the epilogue is ignored
    if (!SkipDelimiterLineEnd(&rest)) return false;
    if (form->count == kMaxFormParts) return false;
    FormPart part;
    if (!TakePartHead(&rest, &part) || !TakePartData(&rest, lfDelimiter, &part.data)) {
      return false;
    }
    form->parts[form->count++] = part;
  }
}

}  // namespace qlan::server
