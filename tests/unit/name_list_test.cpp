// The bytes of the "List" answer: a compact JSON array of the user names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/name_list.hpp"

namespace lupirane::actions {
namespace {

TEST(NameList, ExactBytes) {
  struct Case {
    const char* name;
    std::vector<std::string> names;
    std::string expected;
  };
  const Case cases[] = {
      {"no names", {}, "[]"},
      {"one empty name", {""}, "[\"\"]"},
      {"two names, no space", {"a", "b"}, "[\"a\",\"b\"]"},
      {"quote and tab", {"a\"\tb"}, "\x5B\x22\x61\x5C\x22\x5C\x74\x62\x22\x5D"},
      {"backslash doubled", {"a\\b\\"}, "[\"a\\\\b\\\\\"]"},
      {"CR LF", {"\r\n"}, "[\"\\r\\n\"]"},
      {"backspace and form feed", {"\b\f"}, "[\"\\b\\f\"]"},
      {"NUL", {std::string(1, '\0')}, "[\"\\u0000\"]"},
      {"other controls in lower-case hex", {"\x1F\x0B\x1B\x01"}, "[\"\\u001f\\u000b\\u001b\\u0001\"]"},
      {"DEL and slash unchanged", {"\x7F/"}, "[\"\x7F/\"]"},
      {"non-ASCII unchanged", {"\xC3\xA9", "\xF0\x9F\x98\x80", "\xE2\x80\xA8"},
       "[\"\xC3\xA9\",\"\xF0\x9F\x98\x80\",\"\xE2\x80\xA8\"]"},
      {"bytes that aren't UTF-8 unchanged", {"\xFF\x80"}, "[\"\xFF\x80\"]"},
      {"escapes at both ends with runs between", {"\"ab\ncd\\"}, "[\"\\\"ab\\ncd\\\\\"]"},
      {"duplicate written twice", {"dup", "dup"}, "[\"dup\",\"dup\"]"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(encode_name_list(test.names), test.expected);
  }
}

// What every single byte must become inside a JSON string.
std::string expected_escape(unsigned byte) {
  switch (byte) {
    case '\b': return "\\b";
    case '\t': return "\\t";
    case '\n': return "\\n";
    case '\f': return "\\f";
    case '\r': return "\\r";
    case '"': return "\\\"";
    case '\\': return "\\\\";
    default: break;
  }
  if (byte < 0x20) {
    constexpr const char* hex = "0123456789abcdef";
    return std::string("\\u00") + hex[byte >> 4] + hex[byte & 0xF];
  }
  return std::string(1, static_cast<char>(byte));
}

TEST(NameList, EverySingleByteName) {
  for (unsigned byte = 0; byte < 256; ++byte) {
    SCOPED_TRACE(byte);
    const std::string name(1, static_cast<char>(byte));
    const std::string escaped = expected_escape(byte);

    const std::string list = encode_name_list({name});
    EXPECT_EQ(list.size(), 2 + (escaped.size() + 2));
    EXPECT_EQ(list, "[\"" + escaped + "\"]");

    // Appending keeps what the text already holds.
    std::string text = "prefix";
    append_json_string(text, name);
    EXPECT_EQ(text, "prefix\"" + escaped + "\"");
  }
}

}  // namespace
}  // namespace lupirane::actions
