// The white-space rule and reading one request variable.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "common/utf8.hpp"
#include "driver/settings.hpp"
#include "support/fakes.hpp"

namespace lupirane::driver {
namespace {

// Sorted, so that the exhaustive sweep can binary-search it.
constexpr std::array<char32_t, 25> white_space_code_points = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

std::string utf8(char32_t code_point) {
  std::string bytes;
  text::append_utf8(bytes, code_point);
  return bytes;
}

TEST(WhiteSpace, IsExactlyTheTwentyFiveCodePoints) {
  ASSERT_TRUE(std::is_sorted(white_space_code_points.begin(), white_space_code_points.end()));
  int mismatches = 0;
  for (char32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    const bool expected =
        std::binary_search(white_space_code_points.begin(), white_space_code_points.end(), code_point);
    if (is_white_space(code_point) != expected && ++mismatches <= 10) {
      ADD_FAILURE() << "U+" << std::hex << std::uppercase << static_cast<std::uint32_t>(code_point)
                    << (expected ? " should" : " should not") << " be white space";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(WhiteSpace, TrimRemovesEveryWhiteSpaceCharacterFromBothEndsOnly) {
  for (const char32_t white : white_space_code_points) {
    SCOPED_TRACE(static_cast<std::uint32_t>(white));
    const std::string space = utf8(white);
    const std::string inner = "a" + space + "b";
    const std::string padded = space + space + inner + space;
    EXPECT_EQ(trim_whitespace(padded), inner);
    EXPECT_EQ(trim_whitespace(space + space), "");
  }
}

struct SettingCase {
  const char* name;
  enum class Kind { absent, not_unicode, value } kind;
  std::string value;
  std::optional<std::string> expected;  // nullopt: the missing-setting message
};

TEST(ReadSetting, TrimmedValueOrMissingMessage) {
  using Kind = SettingCase::Kind;
  std::string long_value;
  for (int i = 0; i < 1000; ++i) long_value += "a\xC3\xA9";  // 2000 characters
  const std::string x = "x";
  const SettingCase cases[] = {
      {"absent", Kind::absent, "", std::nullopt},
      {"not Unicode", Kind::not_unicode, "", std::nullopt},
      {"empty", Kind::value, "", std::nullopt},
      {"white space only", Kind::value, " \t\r\n" + utf8(0x3000) + utf8(0xA0) + utf8(0x2028), std::nullopt},
      {"action with CR LF", Kind::value, " Get\r\n", "Get"},
      {"no-break space and ideographic space", Kind::value, utf8(0xA0) + x + utf8(0x3000), "x"},
      {"zero width space kept", Kind::value, utf8(0x200B) + x + utf8(0x200B), utf8(0x200B) + x + utf8(0x200B)},
      {"byte order mark kept", Kind::value, utf8(0xFEFF) + x + utf8(0xFEFF), utf8(0xFEFF) + x + utf8(0xFEFF)},
      {"Mongolian vowel separator kept", Kind::value, utf8(0x180E) + x + utf8(0x180E),
       utf8(0x180E) + x + utf8(0x180E)},
      {"file separator kept", Kind::value, "\x1C" "x\x1C", "\x1C" "x\x1C"},
      {"NUL kept", Kind::value, std::string("\0x\0", 3), std::string("\0x\0", 3)},
      {"inner space and tab kept", Kind::value, "  user name\twith tab ", "user name\twith tab"},
      {"four-byte character kept", Kind::value, " " + utf8(0x1F600) + " ", utf8(0x1F600)},
      {"four-byte character at both ends", Kind::value, utf8(0x10FFFF) + " " + utf8(0x10000),
       utf8(0x10FFFF) + " " + utf8(0x10000)},
      {"2000 characters", Kind::value, long_value, long_value},
  };
  const std::string variable = std::string(setting::resource);
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    testing::FakeProcess process;
    if (test.kind == Kind::not_unicode) process.environment[variable] = std::nullopt;
    if (test.kind == Kind::value) process.environment[variable] = test.value;

    const auto result = read_setting(variable, process);

    EXPECT_EQ(process.variables_read, std::vector<std::string>{variable});
    if (test.expected) {
      ASSERT_TRUE(result.has_value()) << result.error();
      EXPECT_EQ(*result, *test.expected);
    } else {
      ASSERT_FALSE(result.has_value()) << *result;
      EXPECT_EQ(result.error(), "Configuração nativa ausente: LUPIRANE_VAULT_RESOURCE.");
    }
  }
}

}  // namespace
}  // namespace lupirane::driver
