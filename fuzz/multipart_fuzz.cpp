// The ranking server's multipart/form-data parser. Even first byte: any content type
// (the input's first line) and any body; every view the parser gives must lie inside the
// body and no part may hold a delimiter. Odd first byte: the rest is a file's content
// wrapped in a well-formed form, which must come back unchanged.
#include <cstdint>
#include <string>
#include <string_view>

#include "server/multipart.h"
#include "support/check.h"

namespace {

using qlan::server::FormPart;
using qlan::server::MultipartForm;

bool Inside(std::string_view view, std::string_view whole) {
  if (view.empty()) return true;
  return view.data() >= whole.data() && view.data() + view.size() <= whole.data() + whole.size();
}

void CheckAnyBody(std::string_view input) {
  const std::size_t lf = input.find('\n');
  const std::string_view contentType = input.substr(0, lf);
  const std::string_view body =
      lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
  MultipartForm form;
  const bool ok = qlan::server::ParseMultipartForm(contentType, body, &form);
  QLAN_FUZZ_CHECK(form.count <= qlan::server::kMaxFormParts);
  if (!ok) return;
  std::string_view boundary;
  QLAN_FUZZ_CHECK(qlan::server::ParseFormBoundary(contentType, &boundary));
  const std::string lfDelimiter = "\n--" + std::string(boundary);
  for (std::size_t i = 0; i < form.count; ++i) {
    const FormPart& part = form.parts[i];
    // An empty name (name="") is taken as given; nothing looks a part up by it.
    QLAN_FUZZ_CHECK(Inside(part.name, body) && Inside(part.filename, body) &&
                    Inside(part.contentType, body) && Inside(part.data, body));
    QLAN_FUZZ_CHECK(part.data.find(lfDelimiter) == std::string_view::npos);
    const FormPart* first = form.Find(part.name);
    QLAN_FUZZ_CHECK(first != nullptr && first <= &part && first->name == part.name);
  }
  MultipartForm again;
  QLAN_FUZZ_CHECK(qlan::server::ParseMultipartForm(contentType, body, &again));
  QLAN_FUZZ_CHECK(again.count == form.count);
}

void CheckRoundTrip(bool crlf, std::string_view content) {
  const std::string boundary = "------AaXx00";
  const std::string eol = crlf ? "\r\n" : "\n";
  const std::string body = "--" + boundary + eol +
                           "Content-Disposition: form-data; name=\"frep\"; filename=\"tmp.qlx\"" +
                           eol + "Content-Type: application/octet-stream" + eol + eol +
                           std::string(content) + eol + "--" + boundary + "--" + eol;
  MultipartForm form;
  const bool ok =
      qlan::server::ParseMultipartForm("multipart/form-data; boundary=" + boundary, body, &form);
  // Content that itself holds a delimiter, or starts as one, cannot come back whole.
  const std::string delimiter = "--" + boundary;
  if (content.find("\n" + delimiter) != std::string_view::npos ||
      content.substr(0, delimiter.size()) == delimiter) {
    return;
  }
  QLAN_FUZZ_CHECK(ok && form.count == 1);
  const FormPart& part = form.parts[0];
  QLAN_FUZZ_CHECK(part.name == "frep" && part.filename == "tmp.qlx" &&
                  part.contentType == "application/octet-stream");
  // With bare LF line ends a CR at the content's end reads as part of a CR LF.
  if (!crlf && !content.empty() && content.back() == '\r') {
    QLAN_FUZZ_CHECK(part.data == content.substr(0, content.size() - 1));
  } else {
    QLAN_FUZZ_CHECK(part.data == content);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 1) == 0) {
    CheckAnyBody(rest);
  } else {
    CheckRoundTrip((data[0] & 2) != 0, rest);
  }
  return 0;
}
