// The entry form split into its parts: the tool's own form (LF line ends), the CR LF form
// other clients send, and the forms refused whole.
#include "server/multipart.h"

#include <gtest/gtest.h>

#include "unit/server/support/server_harness.h"

namespace qlan::server {
namespace {

constexpr char kToolType[] = "multipart/form-data; boundary=------AaXx00";
constexpr char kB[] = "multipart/form-data; boundary=b";

// A part from its Content-Disposition value on.
std::string Part(std::string_view rest) { return "--b\nContent-Disposition: " + std::string(rest); }

TEST(Multipart, ReadsTheToolsFormWithLfOrCrLfLineEndsAroundAPreambleAndEpilogue) {
  const std::string text = test::Base64Lines(test::KnownFile("replays/good/r710.replay"));
  const std::string crlf = test::WithLineEnds(text, "\r\n");
  const std::string binary = "application/octet-stream; Encoding: base64";
  std::string fullForm, fullHead = Part("form-data; name=frep\n");  // at the limits
  for (std::size_t i = 1; i < kMaxFormParts; ++i) fullForm += Part("form-data; name=f\n\nv\n");
  for (std::size_t i = 2; i < kMaxPartHeaderLines; ++i)
    fullHead += "X: " + std::string(i, 'a') + "\n";
  // type, body, the number of parts, the "frep" part's filename, type and data.
  const std::tuple<std::string, std::string, std::size_t, std::string, std::string, std::string>
      cases[] = {
          {kToolType, test::ToolForm(text), 2, "tmp.qlx", binary, text},
          {kToolType, test::WithLineEnds(test::ToolForm(text), "\r\n"), 2, "tmp.qlx", binary, crlf},
          {"Multipart/Form-Data; boundary=\"b\"",
           "pre\r\n" + Part("form-data; name=\"frep\"\r\n\r\nv\r\n--b--x"), 1, "", "", "v"},
          {kB, Part("form-data; filename=f; name=frep \t\n\nv\r\n\n--b--\n"), 1, "f", "", "v\r\n"},
          {kB, fullForm + Part("form-data; name=frep\n\nv\n--b--"), kMaxFormParts, "", "", "v"},
          {kB,
           fullHead + "Content-Type: " + std::string(kMaxPartHeaderLine - 14, 't') + "\n\nv\n--b--",
           1, "", std::string(kMaxPartHeaderLine - 14, 't'), "v"}};
  for (const auto& [type, body, count, filename, partType, data] : cases) {
    MultipartForm form;
    ASSERT_TRUE(ParseMultipartForm(type, body, &form)) << body.substr(0, 200);
    const FormPart* part = form.Find("frep");
    ASSERT_NE(part, nullptr) << body.substr(0, 200);
    EXPECT_EQ(std::tuple(form.count, part->filename, part->contentType, part->data),
              std::tuple(count, filename, partType, data));
  }
}

TEST(Multipart, RefusesFormsOfOtherTypesBadBoundariesOverLimitsOrCutOrMalformedParts) {
  const std::string b71(71, 'b');
  std::string many;
  for (std::size_t i = 0; i <= kMaxFormParts; ++i) many += Part("form-data; name=f\n\nv\n");
  std::string manyLines = Part("form-data; name=x\n");
  for (std::size_t i = 0; i < kMaxPartHeaderLines; ++i) manyLines += "X-A: 1\n";
  std::vector<std::pair<std::string, std::string>> forms = {
      {"text/plain", test::ReplayForm(test::KnownFile("replays/good/r710.replay"))},
      {kToolType, "--------AaXx00\nContent-Disposition: form-data; name=\"frep\"\n\nQUJD\n"},
      {"multipart/form-data; boundary=" + b71,
       "--" + b71 + "\nContent-Disposition: form-data; name=frep\n\nv\n--" + b71 + "--"},
      {kB, many + "--b--"},
      {kB, manyLines + "\nv\n--b--"},
      {kB, Part("form-data; name=x\nX: " + std::string(kMaxPartHeaderLine, 'a') + "\n\nv\n--b--")},
      {kB, "--b\nContent-Type: text/plain\n\nx\n--b--"},
      {kB, "--bX\nContent-Disposition: form-data; name=frep\n\nx\n--b--"}};
  for (const std::string& type : test::Cases("multipart/form-data|multipart/form-data; boundary=|"
                                             "multipart/form-data; boundary=\"b")) {
    forms.emplace_back(type, Part("form-data; name=frep\n\nv\n--b--"));
  }
  for (const std::string& rest :
       test::Cases("form-data\n\nx\n--b--|attachment; name=frep\n\nx\n--b--|"
                   "form-data; name=\n\nx\n--b--|form-data; name=\"\"\n\nx\n--b--|"
                   "form-data; name=frep\nbogus\n\nx\n--b--")) {
    forms.emplace_back(kB, Part(rest));
  }
  for (const auto& [type, body] : forms) {
    MultipartForm form;
    EXPECT_FALSE(ParseMultipartForm(type, body, &form)) << type << "\n" << body.substr(0, 200);
  }
}

}  // namespace
}  // namespace qlan::server
