// The "List" answer read back by an independent JSON parser: random names of every kind
// of character must come back exactly. Native only: the parser's headers aren't part of
// the Windows toolchain.
#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "actions/name_list.hpp"

namespace lupirane::actions {
namespace {

// Encoded here rather than with the program's own encoder, so that a fault there can't hide.
void append_code_point(std::string& out, std::uint32_t value) {
  const auto byte = [](std::uint32_t bits) { return static_cast<char>(static_cast<std::uint8_t>(bits)); };
  if (value < 0x80) {
    out += byte(value);
  } else if (value < 0x800) {
    out += byte(0xC0 | (value >> 6));
    out += byte(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    out += byte(0xE0 | (value >> 12));
    out += byte(0x80 | ((value >> 6) & 0x3F));
    out += byte(0x80 | (value & 0x3F));
  } else {
    out += byte(0xF0 | (value >> 18));
    out += byte(0x80 | ((value >> 12) & 0x3F));
    out += byte(0x80 | ((value >> 6) & 0x3F));
    out += byte(0x80 | (value & 0x3F));
  }
}

class NameGenerator {
 public:
  std::string name() {
    std::string bytes;
    for (std::uint32_t count = pick(0, 20); count > 0; --count) append_code_point(bytes, code_point());
    return bytes;
  }
  std::vector<std::string> list() {
    std::vector<std::string> names;
    for (std::uint32_t count = pick(0, 8); count > 0; --count) names.push_back(name());
    return names;
  }

 private:
  std::uint32_t pick(std::uint32_t low, std::uint32_t high) {
    return std::uniform_int_distribution<std::uint32_t>(low, high)(random_);
  }
  std::uint32_t code_point() {
    switch (pick(0, 6)) {
      case 0: return pick(0x00, 0x1F);
      case 1: return pick(0, 1) == 0 ? '"' : '\\';
      case 2: return pick(0x20, 0x7F);
      case 3: return pick(0x80, 0x7FF);
      case 4: {
        const std::uint32_t value = pick(0x800, 0xFFFF - 0x800);
        return value >= 0xD800 ? value + 0x800 : value;  // no surrogates
      }
      case 5: return pick(0x10000, 0x10FFFF);
      default: return pick(0x2028, 0x2029);
    }
  }

  std::mt19937 random_{20240611};
};

TEST(NameListJson, RandomListsParseBackToTheNames) {
  NameGenerator generator;
  for (int round = 0; round < 2000; ++round) {
    const std::vector<std::string> names = generator.list();
    const std::string text = encode_name_list(names);
    SCOPED_TRACE(text);

    for (const char byte : text) ASSERT_GE(static_cast<unsigned char>(byte), 0x20u);
    const nlohmann::json parsed = nlohmann::json::parse(text);
    ASSERT_TRUE(parsed.is_array());
    ASSERT_EQ(parsed.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      ASSERT_TRUE(parsed[i].is_string());
      EXPECT_EQ(parsed[i].get<std::string>(), names[i]);
    }
  }
}

}  // namespace
}  // namespace lupirane::actions

