// The server's multipart/form-data parser on any content type (the input's first line) and
// body: every view lies inside the body, no part holds a delimiter, Find gives the first.
#include <cstdint>
#include <string>
#include <string_view>

#include "server/multipart.h"
#include "support/check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t lf = input.find('\n');
  const std::string_view type = input.substr(0, lf);
  const std::string_view body = lf == std::string_view::npos ? "" : input.substr(lf + 1);
  const auto inside = [body](std::string_view v) {
    return v.empty() ||
           (v.data() >= body.data() && v.data() + v.size() <= body.data() + body.size());
  };
  qlan::server::MultipartForm form;
  const bool ok = qlan::server::ParseMultipartForm(type, body, &form);
  QLAN_FUZZ_CHECK(form.count <= qlan::server::kMaxFormParts);
  std::string_view boundary;
  QLAN_FUZZ_CHECK(!ok || qlan::server::ParseFormBoundary(type, &boundary));
  for (std::size_t i = 0; ok && i < form.count; ++i) {
    const qlan::server::FormPart& part = form.parts[i];
    QLAN_FUZZ_CHECK(inside(part.name) && inside(part.filename) && inside(part.contentType) &&
                    inside(part.data));
    QLAN_FUZZ_CHECK(part.data.find("\n--" + std::string(boundary)) == std::string_view::npos);
    const qlan::server::FormPart* first = form.Find(part.name);
    QLAN_FUZZ_CHECK(first != nullptr && first <= &part && first->name == part.name);
  }
  return 0;
}
