// Code page 932 decoding through iconv (glibc names it "CP932").
#include <iconv.h>

#include <string>
#include <utility>

#include "app/text.h"

namespace qlan {
namespace {

class Converter {
 public:
  Converter() noexcept : cd_(iconv_open("UTF-8", "CP932")) {}
  ~Converter() {
    if (valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool valid() const noexcept { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const noexcept { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

bool DecodeCodePage932(std::string_view bytes, std::string& out) {
  out.clear();
  Converter converter;
  if (!converter.valid()) return false;
  std::string in(bytes);
  char* from = in.data();
  std::size_t fromLeft = in.size();
  // A code page 932 character is at most three bytes of UTF-8.
  std::string result(in.size() * 3, '\0');
  char* to = result.data();
  std::size_t toLeft = result.size();
  if (iconv(converter.get(), &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1)) {
    return false;
  }
  result.resize(result.size() - toLeft);
  out = std::move(result);
  return true;
}

}  // namespace qlan
