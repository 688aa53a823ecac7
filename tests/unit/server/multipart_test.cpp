// Splitting multipart/form-data bodies as the tool and browsers send them.
#include "server/multipart.h"

#include <gtest/gtest.h>

#include <tuple>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

constexpr char kToolType[] = "multipart/form-data; boundary=------AaXx00";
constexpr char kB[] = "multipart/form-data; boundary=b";

// The tool's form with a short Base64 text, byte for byte (LF only).
constexpr char kToolBody[] =
    "--------AaXx00\n"
    "Content-Disposition: form-data; name=\"MAX_FILE_SIZE\"\n"
    "\n"
    "1048576\n"
    "--------AaXx00\n"
    "Content-Disposition: form-data; name=\"frep\"; filename=\"tmp.qlx\"\n"
    "Content-Type: application/octet-stream; Encoding: base64\n"
    "\n"
    "QUJD\n"
    "REVG\n"
    "--------AaXx00--";

TEST(MultipartForm, SplitsTheToolsLfForm) {
  MultipartForm form;
  ASSERT_TRUE(ParseMultipartForm(kToolType, kToolBody, &form));
  ASSERT_EQ(form.count, 2u);
  const auto fields = [](const FormPart& p) {
    return std::tuple(p.name, p.filename, p.contentType, p.data);
  };
  EXPECT_EQ(fields(form.parts[0]), std::tuple("MAX_FILE_SIZE", "", "", "1048576"));
  EXPECT_EQ(
      fields(*form.Find("frep")),
      std::tuple("frep", "tmp.qlx", "application/octet-stream; Encoding: base64", "QUJD\nREVG"));
  EXPECT_EQ(form.Find("other"), nullptr);
}

TEST(MultipartForm, RefusesOtherTypesBadBoundariesAndCutOrMalformedBodies) {
  const std::string full = kToolBody;
  std::string many;
  for (std::size_t i = 0; i <= kMaxFormParts; ++i) {
    many += "--b\nContent-Disposition: form-data; name=\"f" + std::to_string(i) + "\"\n\nv\n";
  }
  std::string manyLines = "--b\nContent-Disposition: form-data; name=\"x\"\n";
  for (std::size_t i = 0; i < kMaxPartHeaderLines; ++i) manyLines += "X-A: 1\n";
  // Wrong types, cut bodies, parts without a form-data name, bad header lines, limits.
  std::vector<std::pair<std::string, std::string>> cases = {
      {kToolType, ""},
      {kToolType, full.substr(0, 80)},
      {kToolType, full.substr(0, full.size() - 2)},
      {kB, many + "--b--"},
      {kB, manyLines + "\nv\n--b--"},
      {kB, "--b\nContent-Disposition: form-data; name=\"x\"\nX-Long: " +
               std::string(kMaxPartHeaderLine, 'a') + "\n\nv\n--b--"}};
  cases.emplace_back("multipart/form-data; boundary=" + std::string(71, 'b'), full);
  for (const std::string& type :
       test::Cases("|text/plain; boundary=------AaXx00|multipart/form-data|multipart/form-data; "
                   "boundary=|multipart/form-data; boundary=\"------AaXx00|multipart/form-data; "
                   "boundary=other")) {
    cases.emplace_back(type, full);
  }
  // "D" stands for the start of a part up to its Content-Disposition value.
  for (std::string body : test::Cases(
           "--b\nContent-Type: text/plain\n\nx\n--b--|Dform-data\n\nx\n--b--|Dattachment; "
           "name=\"x\"\n\nx\n--b--|Dform-data; name=\"\"\n\nx\n--b--|Dform-data; name=\n\nx\n--b--|"
           "Dform-data; name=x\n\ny\n--b\nContent-Disposition: form-data; name=\"\"\n\nz\n--b--|"
           "Dform-data; name=x\nbogus\n\nx\n--b--|--bX\nContent-Disposition: form-data; "
           "name=x\n\nx\n--b--")) {
    if (body[0] == 'D') body.replace(0, 1, "--b\nContent-Disposition: ");
    cases.emplace_back(kB, body);
  }
  for (const auto& [type, body] : cases) {
    MultipartForm form;
    EXPECT_FALSE(ParseMultipartForm(type, body, &form)) << type << "\n" << body.substr(0, 100);
  }
}

}  // namespace
}  // namespace qlan::server
