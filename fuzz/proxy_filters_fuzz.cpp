// The proxy fields' repairs on any UTF-16 text and caret: what a paste into the address
// field, a typed or pasted port and an input method's port text become.
#include <cstdint>
#include <string>
#include <string_view>

#include "support/check.h"
#include "ui/input_filters.h"

namespace {

bool IsDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

// The port value as the dialog reads its first 7 units: blanks, a sign, digits.
long long PortValue(std::u16string_view text) {
  text = text.substr(0, qlan::kPortReadLimit);
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) value = value * 10 + (text[i] - u'0');
  return negative ? -value : value;
}

std::u16string Decimal(long long value) {
  std::u16string text;
  for (const char c : std::to_string(value)) text.push_back(static_cast<char16_t>(c));
  return text;
}

void CheckRepairShape(const qlan::FieldRepair& repair) {
  QLAN_FUZZ_CHECK(repair.length <= qlan::kAddressPasteLimit);
  QLAN_FUZZ_CHECK(repair.units[repair.length] == u'\0');
  QLAN_FUZZ_CHECK(repair.caret <= repair.length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t caret = data[0] | (std::size_t{data[1]} << 8);
  std::u16string text;
  for (std::size_t i = 2; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }

  // Address paste: the first 127 units with every unit outside the host name characters
  // removed; the caret moves back by the removals before it.
  const qlan::FieldRepair address = qlan::RepairAddressAfterPaste(text, caret);
  CheckRepairShape(address);
  std::u16string kept;
  std::size_t removedBefore = 0;
  for (std::size_t i = 0; i < text.size() && i < qlan::kAddressPasteLimit; ++i) {
    if (qlan::kHostNameChars.find(static_cast<char>(text[i])) != std::string_view::npos &&
        text[i] < 0x80 && text[i] != 0) {
      kept.push_back(text[i]);
    } else if (i < caret) {
      ++removedBefore;
    }
  }
  QLAN_FUZZ_CHECK(address.text() == kept);
  QLAN_FUZZ_CHECK(address.changed == (kept != text));
  const std::size_t movedCaret = caret > removedBefore ? caret - removedBefore : 0;
  QLAN_FUZZ_CHECK(address.caret == (movedCaret < kept.size() ? movedCaret : kept.size()));

  // Port value check: a value outside 0..65535 becomes its bound, caret at the end.
  const qlan::FieldRepair port = qlan::CheckPortValue(text);
  CheckRepairShape(port);
  const long long value = PortValue(text);
  if (text.empty() || (value >= 0 && value <= qlan::kPortMaximum)) {
    QLAN_FUZZ_CHECK(!port.changed && port.length == 0);
  } else {
    QLAN_FUZZ_CHECK(port.changed && port.text() == Decimal(value < 0 ? 0 : qlan::kPortMaximum));
    QLAN_FUZZ_CHECK(port.caret == port.length);
  }

  // Port after an input method: digits only, at most five, within the range.
  const qlan::FieldRepair converted = qlan::RepairPortAfterConversion(text, caret);
  CheckRepairShape(converted);
  QLAN_FUZZ_CHECK(converted.length <= qlan::kPortTypingLimit);
  for (const char16_t unit : converted.text()) QLAN_FUZZ_CHECK(IsDigit(unit));
  QLAN_FUZZ_CHECK(PortValue(converted.text()) <= qlan::kPortMaximum);
  if (!converted.changed) QLAN_FUZZ_CHECK(converted.text() == text);

  // Typed keys: control codes always pass; the rest by class and length.
  for (const char16_t unit : text.substr(0, 8)) {
    const bool printable = unit >= 0x20 && unit != 0x7F;
    const bool host = unit < 0x80 && unit != 0 &&
                      qlan::kHostNameChars.find(static_cast<char>(unit)) != std::string_view::npos;
    const bool addressPass = !printable || (caret < qlan::kAddressTypingLimit && host);
    const bool portPass = !printable || (caret < qlan::kPortTypingLimit && IsDigit(unit));
    QLAN_FUZZ_CHECK((qlan::DecideAddressKey(caret, unit) == qlan::KeyVerdict::kPass) ==
                    addressPass);
    QLAN_FUZZ_CHECK((qlan::DecidePortKey(caret, unit) == qlan::KeyVerdict::kPass) == portPass);
  }
  return 0;
}
