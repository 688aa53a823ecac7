// The proxy address and port fields: which typed characters they take, and what a paste, a
// converted text or a too-large port becomes.
#include "ui/input_filters.h"

#include <gtest/gtest.h>

#include <string>

namespace qlan::test {
namespace {

std::u16string Repeat(char16_t unit, std::size_t n) { return std::u16string(n, unit); }

// A single-line edit field driven through the decisions the way the subclass procedures
// call them: text, selection [start, end) and beeps.
struct Field {
  bool port;
  std::u16string text;
  std::size_t start, end;
  int beeps = 0;

  void Type(std::u16string_view units) {
    for (const char16_t unit : units) {
      if ((port ? DecidePortKey(text.size(), unit) : DecideAddressKey(text.size(), unit)) ==
          KeyVerdict::kRefuse) {
        ++beeps;
        continue;
      }
      if (unit == 0x08) {
        if (start == end && start > 0) --start;
        Replace(u"");
      } else if (IsPrintableCode(unit)) {
        Replace(std::u16string(1, unit));
      }
      if (port) Apply(CheckPortValue(text));
    }
  }
  void Paste(std::u16string_view clip) {
    Replace(clip);
    Apply(port ? CheckPortValue(text) : RepairAddressAfterPaste(text, start));
  }
  void Convert() { Apply(RepairPortAfterConversion(text, start)); }

 private:
  void Replace(std::u16string_view with) {
    // Built anew rather than erased and inserted in place, which MinGW's g++ 12 at -O3
    // wrongly warns about (-Wrestrict).
    std::u16string next(text, 0, start);
    next += with;
    next.append(text, end);
    text = std::move(next);
    start = end = start + with.size();
  }
  void Apply(const FieldRepair& repair) {
    if (!repair.changed) return;
    ++beeps;
    text = repair.text();
    start = end = repair.caret;
  }
};

struct Edit {
  std::u16string initial;
  std::size_t from, to;  // selection; npos: caret at the end
  std::u16string input, text;
  std::size_t caret;
  int beeps;
};
constexpr std::size_t kEnd = std::u16string::npos;

enum Input { kType, kPaste, kConvert };

// Runs each edit as typed keys, one paste or a finished conversion (of the initial text).
template <std::size_t N>
void RunEdits(bool port, Input input, const Edit (&edits)[N]) {
  for (const Edit& e : edits) {
    const std::size_t n = e.initial.size();
    Field f{port, e.initial, std::min(e.from, n), std::min(e.to, n)};
    if (input == kConvert) f.Convert();
    input == kPaste ? f.Paste(e.input) : f.Type(e.input);
    EXPECT_EQ(f.text, e.text) << f.text.size();
    EXPECT_EQ(f.start, e.caret);
    EXPECT_TRUE(e.from != e.to || f.end == e.caret);  // a refused key keeps a selection
    EXPECT_EQ(f.beeps, e.beeps);
  }
}

TEST(AddressField, TypedKeys) {
  const std::u16string a125 = Repeat(u'a', 125);
  const Edit edits[] = {
      {u"", kEnd, kEnd,
       u"Proxy-01.Example.NETabcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
       u"Proxy-01.Example.NETabcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", 82,
       0},
      {u"proxy", kEnd, kEnd, u"_:/ @~,\\", u"proxy", 5, 8},
      // Latin-1, kana, full-width letter and digit, both halves of a surrogate pair, C1.
      {u"a", kEnd, kEnd, u"\u00e9\u3042\uff21\uff10\xD83D\xDE00\u0080\u00ff", u"a", 1, 8},
      // The 126th character is taken, then nothing printable, but backspace still works.
      {a125, kEnd, kEnd, u"bc-._\bz", a125 + u"z", 126, 4},
      // The limit counts the whole text even over a selection.
      {Repeat(u'a', 126), 0, 126, u"b", Repeat(u'a', 126), 0, 1},
  };
  RunEdits(false, kType, edits);
  // Backspace, clipboard shortcuts, Enter, Escape, Tab, DEL: passed whatever the length.
  for (const std::uint32_t code :
       {0x08u, 0x03u, 0x16u, 0x18u, 0x1Au, 0x0Du, 0x1Bu, 0x09u, 0x00u, 0x1Fu, 0x7Fu}) {
    for (const std::size_t length : {0u, 126u, 5000u}) {
      EXPECT_EQ(DecideAddressKey(length, code), KeyVerdict::kPass) << code << " " << length;
    }
    EXPECT_EQ(DecidePortKey(7, code), KeyVerdict::kPass) << code;
  }
}

TEST(AddressField, PasteKeepsHostNameCharactersUpTo127) {
  std::u16string digits;
  for (std::size_t i = 0; i < 200; ++i) digits.push_back(u"0123456789"[i % 10]);
  const Edit edits[] = {
      {u"", kEnd, kEnd, u"http://user@proxy.example:8080/", u"httpuserproxy.example8080", 25, 1},
      {u"", kEnd, kEnd, digits, digits.substr(0, 127), 127, 1},
      // Not held to the typing limit: 127 is no change, 128 is cut back.
      {Repeat(u'a', 126), kEnd, kEnd, u"b", Repeat(u'a', 126) + u"b", 127, 0},
      {Repeat(u'a', 127), kEnd, kEnd, u"c", Repeat(u'a', 127), 127, 1},
      {Repeat(u'a', 127), kEnd, kEnd, u"://", Repeat(u'a', 127), 127, 1},
      // The caret moves back by the removals before it, not by those behind it.
      {u"abcdef", 3, 3, u"x:y/", u"abcxydef", 5, 1},
      {u"old.example", 0, 3, u"new proxy", u"newproxy.example", 8, 1},
      {u"__", 0, 0, u"x", u"x", 1, 1},
      {u"", kEnd, kEnd, u"\u30d7\u30ed\u30ad\u30b7.\uff45xample\u3000\U0001F600net", u".xamplenet",
       10, 1},
  };
  RunEdits(false, kPaste, edits);
}

TEST(PortField, TypedKeys) {
  const Edit edits[] = {
      {u"", kEnd, kEnd, u"8a0-+ .\uff18\u0663", u"80", 2, 7},
      // 6, 5, 5, 3, 8 becomes 65535 on the fifth key; a sixth digit is refused.
      {u"", kEnd, kEnd, u"655381", u"65535", 5, 2},
      {u"", kEnd, kEnd, u"00000", u"00000", 5, 0},
      {u"65535", kEnd, kEnd, u"\b", u"6553", 4, 0},
      {u"12345", 0, 5, u"9", u"12345", 0, 1},
  };
  RunEdits(true, kType, edits);
}

TEST(PortField, PastedValuesAreClampedAsTheDialogReadsThem) {
  const Edit edits[] = {
      {u"", kEnd, kEnd, u"-12", u"0", 1, 1},
      {u"", kEnd, kEnd, u"+70000", u"65535", 5, 1},
      {u"", kEnd, kEnd, u"65535", u"65535", 5, 0},
      {u"", kEnd, kEnd, u"65536", u"65535", 5, 1},
      {u"", kEnd, kEnd, u"80ab", u"80ab", 4, 0},
      {u"", kEnd, kEnd, u"-0", u"-0", 2, 0},
      {u"", kEnd, kEnd, u"\uff18\uff10", u"\uff18\uff10", 2, 0},
      // Only the first seven characters carry the value.
      {u"", kEnd, kEnd, u"0000070000", u"0000070000", 10, 0},
      {u"", kEnd, kEnd, u"1234567-", u"65535", 5, 1},
  };
  RunEdits(true, kPaste, edits);
  EXPECT_FALSE(CheckPortValue(u"").changed);
}

TEST(PortField, ConvertedTextKeepsOnlyFiveAsciiDigitsWithinTheLimit) {
  const Edit edits[] = {
      {u"\uff18\uff10\uff18\uff10", kEnd, kEnd, u"", u"", 0,
       1},  // full-width digits are not digits
      {u"1\uff12a3", 3, 3, u"", u"13", 1, 1},
      {u"8080", kEnd, kEnd, u"", u"8080", 4, 0},
      {u"123456", kEnd, kEnd, u"", u"12345", 5, 1},
      {u"7000\u30000", kEnd, kEnd, u"", u"65535", 5, 1},
  };
  RunEdits(true, kConvert, edits);
}

}  // namespace
}  // namespace qlan::test
