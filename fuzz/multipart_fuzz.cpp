// The ranking server's multipart/form-data parser on any content type (the input's first
// line) and any body: every view it gives lies inside the body, no part holds a
// delimiter, and Find gives the first part of a name.
#include <cstdint>
#include <string>
#include <string_view>

#include "server/multipart.h"
#include "support/check.h"

namespace {

bool Inside(std::string_view view, std::string_view whole) {
  return view.empty() ||
         (view.data() >= whole.data() && view.data() + view.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t lf = input.find('\n');
  const std::string_view contentType = input.substr(0, lf);
  const std::string_view body = lf == std::string_view::npos ? "" : input.substr(lf + 1);
  qlan::server::MultipartForm form;
  const bool ok = qlan::server::ParseMultipartForm(contentType, body, &form);
  QLAN_FUZZ_CHECK(form.count <= qlan::server::kMaxFormParts);
  if (!ok) return 0;
  std::string_view boundary;
  QLAN_FUZZ_CHECK(qlan::server::ParseFormBoundary(contentType, &boundary));
  const std::string delimiter = "\n--" + std::string(boundary);
  for (std::size_t i = 0; i < form.count; ++i) {
    const qlan::server::FormPart& part = form.parts[i];
    QLAN_FUZZ_CHECK(Inside(part.name, body) && Inside(part.filename, body) &&
                    Inside(part.contentType, body) && Inside(part.data, body));
    QLAN_FUZZ_CHECK(part.data.find(delimiter) == std::string_view::npos);
    const qlan::server::FormPart* first = form.Find(part.name);
    QLAN_FUZZ_CHECK(first != nullptr && first <= &part && first->name == part.name);
  }
  return 0;
}
