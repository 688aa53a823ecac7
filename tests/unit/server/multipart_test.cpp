// Splitting multipart/form-data bodies as the tool and browsers send them.
#include "server/multipart.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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

TEST(MultipartForm, SplitsTheToolsLfFormAndCrLfFormsWithQuotedBoundaryAndLookalikes) {
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
  // Preamble and epilogue ignored; the first part's data only resembles the delimiter.
  ASSERT_TRUE(ParseMultipartForm("Multipart/Form-Data; charset=utf-8; boundary=\"abc\"",
                                 "preamble\r\n--abc\r\ncontent-disposition: form-data; name=frep"
                                 "\r\n\r\na--abc\r\n-abc\r\n--abc  \r\nContent-Disposition: "
                                 "form-data; name=\"e\"\r\n\r\n\r\n--abc--\r\nepilogue\r\n",
                                 &form));
  ASSERT_EQ(form.count, 2u);
  EXPECT_EQ(std::tuple(form.parts[0].data, form.parts[1].name, form.parts[1].data),
            std::tuple("a--abc\r\n-abc", "e", ""));
}

TEST(MultipartForm, RefusesOtherTypesBadBoundariesAndCutOrMalformedBodies) {
  const std::string full = kToolBody;
  std::string many;
  for (std::size_t i = 0; i <= kMaxFormParts; ++i) {
    many += "--b\nContent-Disposition: form-data; name=\"f" + std::to_string(i) + "\"\n\nv\n";
  }
  std::string manyLines = "--b\nContent-Disposition: form-data; name=\"x\"\n";
  for (std::size_t i = 0; i < kMaxPartHeaderLines; ++i) manyLines += "X-A: 1\n";
  const std::pair<std::string, std::string> cases[] = {
      {"", full},
      {"text/plain; boundary=------AaXx00", full},
      {"multipart/form-data", full},
      {"multipart/form-data; boundary=", full},
      {"multipart/form-data; boundary=\"------AaXx00", full},
      {"multipart/form-data; boundary=other", full},
      {"multipart/form-data; boundary=" + std::string(71, 'b'), full},
      // Cut anywhere, or without the closing delimiter.
      {kToolType, ""},
      {kToolType, full.substr(0, 80)},
      {kToolType, full.substr(0, full.size() - 2)},
      // A part without Content-Disposition, without a name, or not form-data.
      {kB, "--b\nContent-Type: text/plain\n\nx\n--b--"},
      {kB, "--b\nContent-Disposition: form-data\n\nx\n--b--"},
      {kB, "--b\nContent-Disposition: attachment; name=\"x\"\n\nx\n--b--"},
      // An empty name, quoted or not, even beside a named part.
      {kB, "--b\nContent-Disposition: form-data; name=\"\"\n\nx\n--b--"},
      {kB, "--b\nContent-Disposition: form-data; name=\n\nx\n--b--"},
      {kB,
       "--b\nContent-Disposition: form-data; name=x\n\ny\n--b\n"
       "Content-Disposition: form-data; name=\"\"\n\nz\n--b--"},
      // A header line without a colon, and text right after a delimiter.
      {kB, "--b\nContent-Disposition: form-data; name=x\nbogus\n\nx\n--b--"},
      {kB, "--bX\nContent-Disposition: form-data; name=x\n\nx\n--b--"},
      // Too many parts, too long a header line, too many header lines.
      {kB, many + "--b--"},
      {kB, "--b\nContent-Disposition: form-data; name=\"x\"\nX-Long: " +
               std::string(kMaxPartHeaderLine, 'a') + "\n\nv\n--b--"},
      {kB, manyLines + "\nv\n--b--"},
  };
  for (const auto& [type, body] : cases) {
    MultipartForm form;
    EXPECT_FALSE(ParseMultipartForm(type, body, &form)) << type << "\n" << body.substr(0, 100);
  }
}

}  // namespace
}  // namespace qlan::server
