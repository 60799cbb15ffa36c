// The white-space rule and reading one request variable.
#include "driver/settings.hpp"

#include <array>
#include <cstdint>

#include "common/utf8.hpp"

namespace lupirane::driver {

namespace {

// Bit 0: white space at this code point of U+0000 to U+00FF (U+0085, U+00A0).
// Bit 1: white space at this low byte of U+2000 to U+20FF.
constexpr std::uint8_t latin1_bit = 1;
constexpr std::uint8_t general_punctuation_bit = 2;

constexpr std::array<std::uint8_t, 256> white_space_flags = [] {
  std::array<std::uint8_t, 256> flags{};
  flags[0x85] |= latin1_bit;
  flags[0xA0] |= latin1_bit;
  for (std::size_t low = 0x00; low <= 0x0A; ++low) flags[low] |= general_punctuation_bit;
  for (const std::size_t low : {0x28u, 0x29u, 0x2Fu, 0x5Fu}) flags[low] |= general_punctuation_bit;
  return flags;
}();

}  // namespace

bool is_white_space(char32_t code_point) noexcept {
  if (code_point == 0x20 || (code_point >= 0x09 && code_point <= 0x0D)) return true;
  if (code_point < 0x85) return false;
  switch (code_point >> 8) {
    case 0x00:
      return (white_space_flags[code_point] & latin1_bit) != 0;
    case 0x16:
      return code_point == 0x1680;
    case 0x20:
      return (white_space_flags[code_point & 0xFF] & general_punctuation_bit) != 0;
    case 0x30:
      return code_point == 0x3000;
    default:
      return false;
  }
}

std::string_view trim_whitespace(std::string_view valid_utf8) noexcept {
  std::size_t start = 0;
  while (start < valid_utf8.size()) {
    std::size_t next = start;
    if (!is_white_space(text::decode_forward(valid_utf8, next))) break;
    start = next;
  }
  std::size_t end = valid_utf8.size();
  while (end > start) {
    std::size_t previous = end;
    if (!is_white_space(text::decode_backward(valid_utf8, previous))) break;
    end = previous;
  }
  return valid_utf8.substr(start, end - start);
}

std::expected<std::string, std::string> read_setting(std::string_view name, Process& process) {
  // One message for every cause, and never the value itself.
  const auto missing = [name] {
    std::string message = "Configuração nativa ausente: ";
    message += name;
    message += '.';
    return std::unexpected(std::move(message));
  };
  const std::optional<std::string> value = process.environment_value(name);
  if (!value) return missing();
  const std::string_view trimmed = trim_whitespace(*value);
  if (trimmed.empty()) return missing();
  return std::string(trimmed);
}

}  // namespace lupirane::driver
