// UTF-8 validation and the conversions between UTF-8 and UTF-16.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/utf16.hpp"
#include "common/utf8.hpp"

namespace lupirane::text {
namespace {

struct ValidityCase {
  const char* name;
  std::string bytes;
  bool valid;
};

std::vector<ValidityCase> validity_cases() {
  std::vector<ValidityCase> cases = {
      {"U+007F", "\x7F", true},
      {"U+0080", "\xC2\x80", true},
      {"U+07FF", "\xDF\xBF", true},
      {"U+0800", "\xE0\xA0\x80", true},
      {"U+D7FF", "\xED\x9F\xBF", true},
      {"U+E000", "\xEE\x80\x80", true},
      {"U+FFFF", "\xEF\xBF\xBF", true},
      {"U+10000", "\xF0\x90\x80\x80", true},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
      {"NUL", std::string(1, '\0'), true},
      {"overlong two bytes C0", "\xC0\xAF", false},
      {"overlong two bytes C1", "\xC1\xBF", false},
      {"overlong three bytes", "\xE0\x80\xAF", false},
      {"overlong three bytes, highest", "\xE0\x9F\xBF", false},
      {"overlong four bytes", "\xF0\x80\x80\xAF", false},
      {"overlong four bytes, highest", "\xF0\x8F\xBF\xBF", false},
      {"surrogate D800", "\xED\xA0\x80", false},
      {"surrogate DFFF", "\xED\xBF\xBF", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"lone continuation 80", "\x80", false},
      {"lone continuation BF", "\xBF", false},
      {"continuation after complete sequence", "\xC3\xA9\xA9", false},
      {"truncated two bytes", "\xC3", false},
      {"truncated three bytes", "\xE2\x82", false},
      {"truncated four bytes", "\xF0\x9F\x98", false},
      {"sequence broken by a lead", "\xE2\x82\xE2\x82\xAC", false},
      {"sequence broken by ASCII", "\xE2\x82" "A", false},
  };
  for (int lead = 0xF5; lead <= 0xFF; ++lead) {
    cases.push_back({"lead F5 to FF", std::string{static_cast<char>(lead), '\x80', '\x80', '\x80'}, false});
  }
  return cases;
}

TEST(Utf8Validity, BoundariesAndIllFormedSequences) {
  for (const auto& test : validity_cases()) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(is_valid_utf8(test.bytes), test.valid);
  }
}

// The ASCII fast path works on 32- and 8-byte blocks: every case must be judged the same
// wherever it falls relative to those blocks.
TEST(Utf8Validity, SameVerdictAtEveryAlignmentInsideAsciiRuns) {
  for (const auto& test : validity_cases()) {
    SCOPED_TRACE(test.name);
    for (std::size_t before = 0; before <= 66; ++before) {
      for (const std::size_t after : {0u, 1u, 7u, 8u, 9u, 31u, 32u, 33u, 65u}) {
        const std::string bytes = std::string(before, 'a') + test.bytes + std::string(after, 'z');
        if (is_valid_utf8(bytes) != test.valid) {
          ADD_FAILURE() << before << " bytes before, " << after << " after";
        }
      }
    }
  }
}

TEST(Utf8Validity, AsciiPrefixStopsAtTheFirstHighByte) {
  for (std::size_t size = 0; size <= 80; ++size) {
    const std::string ascii(size, '\x7F');
    EXPECT_EQ(ascii_prefix_length(ascii.data(), ascii.size()), size);
    for (std::size_t high = 0; high < size; ++high) {
      std::string bytes = ascii;
      bytes[high] = '\x80';
      EXPECT_EQ(ascii_prefix_length(bytes.data(), bytes.size()), high) << "size " << size;
    }
  }
}

struct Utf16Case {
  const char* name;
  std::u16string units;
  std::string lenient;
  std::optional<std::string> strict;  // nullopt: rejected
};

TEST(Utf16ToUtf8, StrictRejectsAndLenientReplacesUnpairedSurrogates) {
  const std::string fffd = "\xEF\xBF\xBD";
  const Utf16Case cases[] = {
      {"empty", u"", "", ""},
      {"ASCII", u"abc", "abc", "abc"},
      {"two and three bytes", u"\u00E9\u20AC\uFFFF", "\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF",
       "\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF"},
      {"pair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"highest pair", u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"low at start", u"\xDC00" u"ab", fffd + "ab", std::nullopt},
      {"low in the middle", u"a\xDC00" u"b", "a" + fffd + "b", std::nullopt},
      {"high at end", u"ab\xD800", "ab" + fffd, std::nullopt},
      {"reversed pair", u"\xDC00\xD800", fffd + fffd, std::nullopt},
      {"high before ASCII", u"\xD800" u"A", fffd + "A", std::nullopt},
      {"high before a pair", u"\xD800\xD800\xDC00", fffd + "\xF0\x90\x80\x80", std::nullopt},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(utf16_to_utf8_lenient(test.units), test.lenient);
    EXPECT_EQ(utf16_to_utf8_strict(test.units), test.strict);
  }
}

TEST(Utf8ToUtf16, BoundaryValues) {
  const std::string bytes =
      "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
  const std::u16string units = u"\x007F\x0080\x07FF\x0800\xD7FF\xE000\xFFFF\xD800\xDC00\xDBFF\xDFFF";
  EXPECT_EQ(utf8_to_utf16(bytes), units);
  EXPECT_EQ(utf16_to_utf8_strict(units), bytes);
}

TEST(Utf8ToUtf16, EveryScalarValueRoundTrips) {
  std::string bytes;
  std::size_t scalar_values = 0;
  for (char32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    if (code_point >= 0xD800 && code_point <= 0xDFFF) continue;
    append_utf8(bytes, code_point);
    ++scalar_values;
  }
  ASSERT_TRUE(is_valid_utf8(bytes));
  const std::u16string units = utf8_to_utf16(bytes);
  EXPECT_EQ(units.size(), scalar_values + 0x100000);  // one extra unit per supplementary character
  EXPECT_EQ(utf16_to_utf8_strict(units), bytes);
  EXPECT_EQ(utf16_to_utf8_lenient(units), bytes);
}

TEST(Utf8ToUtf16Lenient, IllFormedPartsBecomeReplacementCharacters) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string units;
  };
  const Case cases[] = {
      {"valid", "a\xC3\xA9\xF0\x9F\x98\x80", u"a\u00E9\xD83D\xDE00"},
      {"truncated at the end", "ab\xE2\x82", u"ab\uFFFD"},
      {"truncated four bytes at the end", "\xF0\x9F\x98", u"\uFFFD"},
      {"invalid byte before ASCII", "a\xFF" "b", u"a\uFFFD" u"b"},
      {"sequence broken by ASCII keeps the ASCII", "\xE2\x82" "A", u"\uFFFD" u"A"},
      {"sequence broken by a new lead", "\xE2\x82\xE2\x82\xAC", u"\uFFFD\u20AC"},
      {"E0 then a byte outside its range", "\xE0\x80", u"\uFFFD\uFFFD"},
      {"overlong two bytes", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"lone continuations", "\x80\x80", u"\uFFFD\uFFFD"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    std::u16string units = u"<";
    append_utf16_lenient(units, test.bytes);
    EXPECT_EQ(units, u"<" + test.units);
  }
}

TEST(TrimmedMessage, RemovesOnlyTrailingAsciiWhiteSpace) {
  struct Case {
    const char* name;
    std::u16string message;
    std::string expected;
  };
  const Case cases[] = {
      {"trailing CR LF", u"Access is denied.\r\n", "Access is denied."},
      {"every trailing kind", u"a \t\n\v\f\r ", "a"},
      {"leading kept", u" \r\n\tText", " \r\n\tText"},
      {"line break between lines kept", u"Line one\r\nLine two\r\n", "Line one\r\nLine two"},
      {"white space only", u" \r\n", ""},
      {"trailing no-break space kept", u"a\u00A0", "a\xC2\xA0"},
      {"trailing ideographic space kept", u"a\u3000", "a\xE3\x80\x80"},
      {"trailing file separator kept", u"a\x001C", "a\x1C"},
      {"unpaired surrogate replaced", u"x\xD800 ", "x\xEF\xBF\xBD"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(trimmed_message_utf8(test.message), test.expected);
  }
}

}  // namespace
}  // namespace lupirane::text
