// Splitting multipart/form-data bodies as the tool and browsers send them.
#include "server/multipart.h"

#include <gtest/gtest.h>

#include <string>

namespace qlan::server {
namespace {

constexpr char kToolType[] = "multipart/form-data; boundary=------AaXx00";

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
  EXPECT_EQ(form.parts[0].name, "MAX_FILE_SIZE");
  EXPECT_EQ(form.parts[0].data, "1048576");
  EXPECT_EQ(form.parts[0].filename, "");
  EXPECT_EQ(form.parts[1].name, "frep");
  EXPECT_EQ(form.parts[1].filename, "tmp.qlx");
  EXPECT_EQ(form.parts[1].contentType, "application/octet-stream; Encoding: base64");
  EXPECT_EQ(form.parts[1].data, "QUJD\nREVG");
  ASSERT_NE(form.Find("frep"), nullptr);
  EXPECT_EQ(form.Find("frep")->data, "QUJD\nREVG");
  EXPECT_EQ(form.Find("other"), nullptr);
}

TEST(MultipartForm, SplitsCrLfFormsWithQuotedBoundaryPreambleAndEpilogue) {
  const std::string body =
      "preamble text\r\n"
      "--abc\r\n"
      "content-disposition: form-data; name=frep\r\n"
      "\r\n"
      "QUJD\r\n"
      "--abc  \r\n"
      "Content-Disposition: form-data; name=\"empty\"\r\n"
      "\r\n"
      "\r\n"
      "--abc--\r\n"
      "epilogue\r\n";
  MultipartForm form;
  ASSERT_TRUE(ParseMultipartForm("Multipart/Form-Data; charset=utf-8; boundary=\"abc\"", body, &form));
  ASSERT_EQ(form.count, 2u);
  EXPECT_EQ(form.parts[0].name, "frep");
  EXPECT_EQ(form.parts[0].data, "QUJD");
  EXPECT_EQ(form.parts[1].name, "empty");
  EXPECT_EQ(form.parts[1].data, "");
}

TEST(MultipartForm, KeepsDataThatOnlyResemblesTheDelimiter) {
  const std::string body =
      "--b\n"
      "Content-Disposition: form-data; name=\"x\"\n"
      "\n"
      "a--b\n"
      "-b\n"
      "--b--";
  MultipartForm form;
  ASSERT_TRUE(ParseMultipartForm("multipart/form-data; boundary=b", body, &form));
  ASSERT_EQ(form.count, 1u);
  EXPECT_EQ(form.parts[0].data, "a--b\n-b");
}

TEST(MultipartForm, RefusesOtherContentTypesAndBadBoundaries) {
  MultipartForm form;
  EXPECT_FALSE(ParseMultipartForm("", kToolBody, &form));
  EXPECT_FALSE(ParseMultipartForm("text/plain; boundary=------AaXx00", kToolBody, &form));
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data", kToolBody, &form));
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=", kToolBody, &form));
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=\"------AaXx00", kToolBody, &form));
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=other", kToolBody, &form));
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=" + std::string(71, 'b'), kToolBody, &form));
  EXPECT_EQ(form.count, 0u);
}

TEST(MultipartForm, RefusesCutOrMalformedBodies) {
  MultipartForm form;
  const std::string full = kToolBody;
  // Without the closing delimiter, or cut anywhere inside, the form is incomplete.
  for (std::size_t cut : {0u, 10u, 16u, 60u, 80u, 200u}) {
    EXPECT_FALSE(ParseMultipartForm(kToolType, full.substr(0, cut), &form)) << cut;
  }
  EXPECT_FALSE(ParseMultipartForm(kToolType, full.substr(0, full.size() - 2), &form));
  // A part without Content-Disposition, without a name, or not form-data.
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=b",
                                  "--b\nContent-Type: text/plain\n\nx\n--b--", &form));
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=b",
                                  "--b\nContent-Disposition: form-data\n\nx\n--b--", &form));
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=b",
                                  "--b\nContent-Disposition: attachment; name=\"x\"\n\nx\n--b--", &form));
  // A header line without a colon, and text right after a delimiter.
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=b",
                                  "--b\nContent-Disposition: form-data; name=x\nbogus\n\nx\n--b--", &form));
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=b",
                                  "--bX\nContent-Disposition: form-data; name=x\n\nx\n--b--", &form));
}

TEST(MultipartForm, BoundsPartsAndPartHeads) {
  MultipartForm form;
  std::string many;
  for (std::size_t i = 0; i <= kMaxFormParts; ++i) {
    many += "--b\nContent-Disposition: form-data; name=\"f" + std::to_string(i) + "\"\n\nv\n";
  }
  many += "--b--";
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=b", many, &form));

  std::string longLine = "--b\nContent-Disposition: form-data; name=\"x\"\nX-Long: " +
                         std::string(kMaxPartHeaderLine, 'a') + "\n\nv\n--b--";
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=b", longLine, &form));

  std::string manyLines = "--b\nContent-Disposition: form-data; name=\"x\"\n";
  for (std::size_t i = 0; i < kMaxPartHeaderLines; ++i) manyLines += "X-A: 1\n";
  manyLines += "\nv\n--b--";
  EXPECT_FALSE(ParseMultipartForm("multipart/form-data; boundary=b", manyLines, &form));
}

}  // namespace
}  // namespace qlan::server
