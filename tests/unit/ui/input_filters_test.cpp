// The proxy address and port fields: which typed characters they take, and what a paste or
// a too-large port becomes.
#include "ui/input_filters.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace qlan {
namespace {

enum class Kind { kAddress, kPort };

// A single-line edit field as the filters see it: the text, the selection and the beeps.
// Every step goes through the decisions the way the subclass procedures call them.
struct Field {
  explicit Field(Kind k, std::u16string initial = u"")
      : kind(k), text(std::move(initial)), start(text.size()), end(text.size()) {}

  void Type(char16_t unit) {
    const KeyVerdict verdict = kind == Kind::kAddress ? DecideAddressKey(text.size(), unit)
                                                      : DecidePortKey(text.size(), unit);
    if (verdict == KeyVerdict::kRefuse) {
      ++beeps;
      return;
    }
    if (unit == 0x08) {
      if (start == end && start > 0) --start;
      Replace(u"");
    } else if (IsPrintableCode(unit)) {
      Replace(std::u16string(1, unit));
    }
    if (kind == Kind::kPort) Apply(CheckPortValue(text));
  }
  void Type(std::u16string_view units) {
    for (const char16_t unit : units) Type(unit);
  }
  void Paste(std::u16string_view clip) {
    Replace(clip);
    Apply(kind == Kind::kAddress ? RepairAddressAfterPaste(text, start) : CheckPortValue(text));
  }
  void Select(std::size_t from, std::size_t to) {
    start = from;
    end = to;
  }

  Kind kind;
  std::u16string text;
  std::size_t start;
  std::size_t end;
  int beeps = 0;

 private:
  void Replace(std::u16string_view with) {
    text.replace(start, end - start, with);
    start = end = start + with.size();
  }
  void Apply(const FieldRepair& repair) {
    if (!repair.changed) return;
    ++beeps;
    text = repair.text();
    start = end = repair.caret;
  }
};

std::u16string Repeat(char16_t unit, std::size_t n) { return std::u16string(n, unit); }

// --- address: typed characters ---------------------------------------------------------

TEST(AddressField, HostNameIsTakenCharacterByCharacter) {
  Field field(Kind::kAddress);
  field.Type(u"Proxy-01.Example.NET");
  field.Type(u"abcdefghijklmnopqrstuvwxyz");
  field.Type(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
  EXPECT_EQ(field.text,
            u"Proxy-01.Example.NETabcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
  EXPECT_EQ(field.beeps, 0);
}

TEST(AddressField, PunctuationAndBlankAreRefusedWithABeep) {
  Field field(Kind::kAddress, u"proxy");
  field.Type(u"_:/ @~,\\");
  EXPECT_EQ(field.text, u"proxy");
  EXPECT_EQ(field.beeps, 8);
}

TEST(AddressField, CharactersOutsideAsciiAreRefused) {
  Field field(Kind::kAddress, u"a");
  // Latin-1, kana, a full-width letter and digit, both halves of a surrogate pair, C1 code.
  for (const char16_t unit : {u'\u00e9', u'\u3042', u'\uff21', u'\uff10', char16_t{0xD83D},
                              char16_t{0xDE00}, u'\u0080', u'\u00ff'}) {
    EXPECT_EQ(DecideAddressKey(1, unit), KeyVerdict::kRefuse) << static_cast<int>(unit);
    field.Type(unit);
  }
  EXPECT_EQ(field.text, u"a");
  EXPECT_EQ(field.beeps, 8);
}

TEST(AddressField, ControlCodesAlwaysReachTheField) {
  // Backspace, Ctrl+C/V/X/Z, Enter, Escape, Tab, DEL: passed on whatever the length.
  for (const std::uint32_t code : {0x08u, 0x03u, 0x16u, 0x18u, 0x1Au, 0x0Du, 0x1Bu, 0x09u,
                                   0x00u, 0x1Fu, 0x7Fu}) {
    EXPECT_EQ(DecideAddressKey(0, code), KeyVerdict::kPass) << code;
    EXPECT_EQ(DecideAddressKey(126, code), KeyVerdict::kPass) << code;
    EXPECT_EQ(DecideAddressKey(5000, code), KeyVerdict::kPass) << code;
  }
  EXPECT_EQ(DecideAddressKey(0, 0x20), KeyVerdict::kRefuse);
}

TEST(AddressField, At126CharactersEveryPrintableKeyBeepsButBackspaceWorks) {
  Field field(Kind::kAddress, Repeat(u'a', 125));
  field.Type(u'b');
  ASSERT_EQ(field.text.size(), 126u);
  EXPECT_EQ(field.beeps, 0);

  field.Type(u"c-._");
  EXPECT_EQ(field.text, Repeat(u'a', 125) + u"b");
  EXPECT_EQ(field.beeps, 4);

  field.Type(char16_t{0x08});
  EXPECT_EQ(field.text, Repeat(u'a', 125));
  field.Type(u'z');
  EXPECT_EQ(field.text, Repeat(u'a', 125) + u"z");
  EXPECT_EQ(field.beeps, 4);
}

TEST(AddressField, LimitCountsTheWholeTextEvenOverASelection) {
  Field field(Kind::kAddress, Repeat(u'a', 126));
  field.Select(0, 126);
  field.Type(u'b');
  EXPECT_EQ(field.text, Repeat(u'a', 126));
  EXPECT_EQ(field.beeps, 1);
}

// --- address: paste ----------------------------------------------------------------------

TEST(AddressField, PastedWebAddressKeepsItsHostNameCharactersInOrder) {
  Field field(Kind::kAddress);
  field.Paste(u"http://user@proxy.example:8080/");
  EXPECT_EQ(field.text, u"httpuserproxy.example8080");
  EXPECT_EQ(field.start, 25u);
  EXPECT_EQ(field.end, 25u);
  EXPECT_EQ(field.beeps, 1);
}

TEST(AddressField, PastedValidTextStaysWithoutABeep) {
  Field field(Kind::kAddress, u"proxy.");
  field.Paste(u"example-1.net");
  EXPECT_EQ(field.text, u"proxy.example-1.net");
  EXPECT_EQ(field.start, 19u);
  EXPECT_EQ(field.beeps, 0);

  const FieldRepair repair = RepairAddressAfterPaste(u"proxy.example-1.net", 19);
  EXPECT_FALSE(repair.changed);
}

TEST(AddressField, Pasted200ValidCharactersKeepTheFirst127) {
  std::u16string clip;
  for (std::size_t i = 0; i < 200; ++i) clip.push_back(u"0123456789"[i % 10]);
  Field field(Kind::kAddress);
  field.Paste(clip);
  EXPECT_EQ(field.text, clip.substr(0, 127));
  EXPECT_EQ(field.start, 127u);
  EXPECT_EQ(field.end, 127u);
  EXPECT_EQ(field.beeps, 1);
}

TEST(AddressField, Exactly127PastedCharactersAreNotAChange) {
  const FieldRepair repair = RepairAddressAfterPaste(Repeat(u'x', 127), 127);
  EXPECT_FALSE(repair.changed);
  const FieldRepair longer = RepairAddressAfterPaste(Repeat(u'x', 128), 128);
  EXPECT_TRUE(longer.changed);
  EXPECT_EQ(longer.text(), Repeat(u'x', 127));
  EXPECT_EQ(longer.caret, 127u);
}

TEST(AddressField, PasteIsNotHeldToTheTypingLimit) {
  Field field(Kind::kAddress, Repeat(u'a', 126));
  field.Paste(u"b");
  EXPECT_EQ(field.text, Repeat(u'a', 126) + u"b");
  EXPECT_EQ(field.beeps, 0);
  field.Paste(u"c");  // 128 units: cut back to 127
  EXPECT_EQ(field.text, Repeat(u'a', 126) + u"b");
  EXPECT_EQ(field.beeps, 1);
}

TEST(AddressField, InvalidCharactersBeyondTheCutAreSimplyDropped) {
  const FieldRepair repair = RepairAddressAfterPaste(Repeat(u'a', 127) + u"://", 130);
  EXPECT_TRUE(repair.changed);
  EXPECT_EQ(repair.text(), Repeat(u'a', 127));
  EXPECT_EQ(repair.caret, 127u);
}

TEST(AddressField, PasteInTheMiddleMovesTheCaretBackByTheRemovalsBeforeIt) {
  Field field(Kind::kAddress, u"abcdef");
  field.Select(3, 3);
  field.Paste(u"x:y/");
  EXPECT_EQ(field.text, u"abcxydef");
  EXPECT_EQ(field.start, 5u);
  EXPECT_EQ(field.beeps, 1);
}

TEST(AddressField, PasteOverASelectionReplacesIt) {
  Field field(Kind::kAddress, u"old.example");
  field.Select(0, 3);
  field.Paste(u"new proxy");
  EXPECT_EQ(field.text, u"newproxy.example");
  EXPECT_EQ(field.start, 8u);
}

TEST(AddressField, StoredInvalidTextBehindTheCaretDoesNotMoveIt) {
  // The stored value is shown unfiltered; a later paste repairs the whole text, and the
  // caret stays behind the pasted characters.
  Field field(Kind::kAddress, u"a_b");
  field.Select(0, 0);
  field.Paste(u"c");
  EXPECT_EQ(field.text, u"cab");
  EXPECT_EQ(field.start, 1u);

  const FieldRepair repair = RepairAddressAfterPaste(u"x__", 1);
  EXPECT_EQ(repair.text(), u"x");
  EXPECT_EQ(repair.caret, 1u);
}

TEST(AddressField, PastedTextOutsideAsciiIsRemoved) {
  Field field(Kind::kAddress);
  field.Paste(u"\u30d7\u30ed\u30ad\u30b7.\uff45xample\u3000\U0001F600net");
  EXPECT_EQ(field.text, u".xamplenet");
  EXPECT_EQ(field.start, 10u);
  EXPECT_EQ(field.beeps, 1);
}

TEST(AddressField, ProgramTextIsNotFiltered) {
  // Nothing runs on text the program puts into the field itself; only a later paste would.
  Field field(Kind::kAddress, u"http://proxy:8080");
  EXPECT_EQ(field.text, u"http://proxy:8080");
  EXPECT_EQ(field.beeps, 0);
}

// --- port: typed characters --------------------------------------------------------------

TEST(PortField, DigitsAreTakenOtherKeysRefused) {
  Field field(Kind::kPort);
  field.Type(u"8a0-+ .\uff18\u0663");
  EXPECT_EQ(field.text, u"80");
  EXPECT_EQ(field.beeps, 7);
}

TEST(PortField, FiveDigitValueAboveTheLimitBecomes65535OnTheFifthKey) {
  Field field(Kind::kPort);
  field.Type(u"6553");
  EXPECT_EQ(field.text, u"6553");
  EXPECT_EQ(field.beeps, 0);
  field.Type(u'8');
  EXPECT_EQ(field.text, u"65535");
  EXPECT_EQ(field.start, 5u);
  EXPECT_EQ(field.end, 5u);
  EXPECT_EQ(field.beeps, 1);

  field.Type(u'1');
  EXPECT_EQ(field.text, u"65535");
  EXPECT_EQ(field.beeps, 2);
}

TEST(PortField, NinesBecome65535) {
  Field field(Kind::kPort);
  field.Type(u"99999");
  EXPECT_EQ(field.text, u"65535");
  EXPECT_EQ(field.beeps, 1);
}

TEST(PortField, LimitValuesStayAsTyped) {
  Field top(Kind::kPort);
  top.Type(u"65535");
  EXPECT_EQ(top.text, u"65535");
  Field zeros(Kind::kPort);
  zeros.Type(u"00000");
  EXPECT_EQ(zeros.text, u"00000");
  EXPECT_EQ(top.beeps + zeros.beeps, 0);
}

TEST(PortField, BackspaceWorksAtFiveDigits) {
  Field field(Kind::kPort, u"65535");
  field.Type(char16_t{0x08});
  EXPECT_EQ(field.text, u"6553");
  EXPECT_EQ(field.beeps, 0);
  EXPECT_EQ(DecidePortKey(5, 0x16), KeyVerdict::kPass);
  EXPECT_EQ(DecidePortKey(7, 0x7F), KeyVerdict::kPass);
}

TEST(PortField, LimitCountsTheWholeTextEvenOverASelection) {
  Field field(Kind::kPort, u"12345");
  field.Select(0, 5);
  field.Type(u'9');
  EXPECT_EQ(field.text, u"12345");
  EXPECT_EQ(field.beeps, 1);
}

// --- port: paste and value check ---------------------------------------------------------

TEST(PortField, PastedNegativeNumberBecomesZero) {
  Field field(Kind::kPort);
  field.Paste(u"-12");
  EXPECT_EQ(field.text, u"0");
  EXPECT_EQ(field.start, 1u);
  EXPECT_EQ(field.end, 1u);
  EXPECT_EQ(field.beeps, 1);
}

TEST(PortField, PastedDigitsFollowedByLettersAreKept) {
  Field field(Kind::kPort);
  field.Paste(u"80ab");
  EXPECT_EQ(field.text, u"80ab");
  EXPECT_EQ(field.start, 4u);
  EXPECT_EQ(field.beeps, 0);
}

TEST(PortField, PastedValuesAreReadAsTheDialogReadsThem) {
  struct Case {
    std::u16string pasted;
    std::u16string shown;
  };
  const Case cases[] = {
      {u"  -5", u"0"},           {u"+70000", u"65535"},  {u"65536", u"65535"},
      {u"99999999999", u"65535"}, {u"-0", u"-0"},         {u" 8080", u" 8080"},
      {u"abc", u"abc"},           {u"\uff18\uff10", u"\uff18\uff10"},
      // Only the first seven characters carry the value, as in the dialog.
      {u"0000070000", u"0000070000"}, {u"1234567-", u"65535"},
  };
  for (const Case& c : cases) {
    Field field(Kind::kPort);
    field.Paste(c.pasted);
    EXPECT_EQ(field.text, c.shown);
    EXPECT_EQ(field.beeps, c.shown == c.pasted ? 0 : 1);
  }
}

TEST(PortField, ClampPutsTheCaretAtTheEndOfTheNumber) {
  const FieldRepair high = CheckPortValue(u"123456789");
  EXPECT_TRUE(high.changed);
  EXPECT_EQ(high.text(), u"65535");
  EXPECT_EQ(high.caret, 5u);
  const FieldRepair low = CheckPortValue(u"-99999");
  EXPECT_EQ(low.text(), u"0");
  EXPECT_EQ(low.caret, 1u);
}

TEST(PortField, EmptyFieldIsLeftAlone) {
  EXPECT_FALSE(CheckPortValue(u"").changed);
  Field field(Kind::kPort, u"7");
  field.Type(char16_t{0x08});
  EXPECT_EQ(field.text, u"");
  EXPECT_EQ(field.beeps, 0);
}

// --- port: text from an input method ------------------------------------------------------

TEST(PortField, ConvertedTextKeepsOnlyItsDigits) {
  // Full-width digits, as a Japanese input method produces them, are not digits here.
  const FieldRepair wide = RepairPortAfterConversion(u"\uff18\uff10\uff18\uff10", 4);
  EXPECT_TRUE(wide.changed);
  EXPECT_EQ(wide.text(), u"");
  EXPECT_EQ(wide.caret, 0u);

  const FieldRepair mixed = RepairPortAfterConversion(u"1\uff12a3", 3);
  EXPECT_TRUE(mixed.changed);
  EXPECT_EQ(mixed.text(), u"13");
  EXPECT_EQ(mixed.caret, 1u);
}

TEST(PortField, ConvertedTextIsHeldToFiveDigitsAndTheLimit) {
  const FieldRepair plain = RepairPortAfterConversion(u"8080", 4);
  EXPECT_FALSE(plain.changed);

  const FieldRepair longer = RepairPortAfterConversion(u"123456", 6);
  EXPECT_TRUE(longer.changed);
  EXPECT_EQ(longer.text(), u"12345");
  EXPECT_EQ(longer.caret, 5u);

  const FieldRepair high = RepairPortAfterConversion(u"7000\u30000", 6);
  EXPECT_TRUE(high.changed);
  EXPECT_EQ(high.text(), u"65535");
  EXPECT_EQ(high.caret, 5u);
}

// --- the character set --------------------------------------------------------------------

TEST(HostNameChars, AreExactlyLettersDigitsHyphenAndDot) {
  int count = 0;
  for (std::uint32_t code = 0; code < 0x10000; ++code) {
    const bool expected = (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z') ||
                          (code >= '0' && code <= '9') || code == '-' || code == '.';
    EXPECT_EQ(IsHostNameChar(code), expected) << code;
    count += IsHostNameChar(code) ? 1 : 0;
  }
  EXPECT_EQ(count, 64);
  EXPECT_EQ(kHostNameChars.size(), 64u);
  EXPECT_FALSE(IsHostNameChar(0x1002E));  // '.' plus 0x10000 is not '.'
}

}  // namespace
}  // namespace qlan
