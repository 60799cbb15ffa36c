// UTF-8 validation with a word-at-a-time path for ASCII, and decoding of valid text.
#include "common/utf8.hpp"

#include <cstring>

namespace lupirane::text {

std::size_t ascii_prefix_length(const char* bytes, std::size_t size) noexcept {
  constexpr std::uint64_t high_bits = 0x8080808080808080u;
  std::size_t position = 0;
  while (size - position >= 32) {
    std::uint64_t words[4];
    std::memcpy(words, bytes + position, sizeof words);
    if (((words[0] | words[1] | words[2] | words[3]) & high_bits) != 0) break;
    position += 32;
  }
  while (size - position >= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + position, sizeof word);
    if ((word & high_bits) != 0) break;
    position += 8;
  }
  while (position < size && static_cast<unsigned char>(bytes[position]) < 0x80) ++position;
  return position;
}

bool is_valid_utf8(std::string_view bytes) noexcept {
  Utf8Decoder decoder;
  std::size_t position = 0;
  while (position < bytes.size()) {
    if (!decoder.mid_sequence()) {
      position += ascii_prefix_length(bytes.data() + position, bytes.size() - position);
      if (position == bytes.size()) break;
    }
    if (decoder.feed(static_cast<std::uint8_t>(bytes[position])) == Utf8Decoder::Step::invalid) return false;
    ++position;
  }
  return !decoder.mid_sequence();
}

char32_t decode_forward(std::string_view valid_utf8, std::size_t& position) noexcept {
  const auto lead = static_cast<std::uint8_t>(valid_utf8[position++]);
  if (lead < 0x80) return lead;
  const int continuation_count = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  std::uint32_t value = lead & (0x3Fu >> continuation_count);
  for (int i = 0; i < continuation_count; ++i) {
    value = (value << 6) | (static_cast<std::uint8_t>(valid_utf8[position++]) & 0x3Fu);
  }
  return value;
}

char32_t decode_backward(std::string_view valid_utf8, std::size_t& position) noexcept {
  std::size_t start = position - 1;
  while ((static_cast<std::uint8_t>(valid_utf8[start]) & 0xC0) == 0x80) --start;
  std::size_t cursor = start;
  const char32_t code_point = decode_forward(valid_utf8, cursor);
  position = start;
  return code_point;
}

}  // namespace lupirane::text
