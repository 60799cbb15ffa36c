// UTF-8 decoding and validation exactly as the Unicode Standard defines well-formed UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lupirane::text {

// Decodes UTF-8 one byte at a time, so that a sequence may be split between reads.
// Accepts only well-formed sequences: no overlong forms, no encoded surrogates
// (U+D800 to U+DFFF), nothing above U+10FFFF.
class Utf8Decoder {
 public:
  enum class Step : std::uint8_t { need_more, code_point, invalid };

  constexpr Step feed(std::uint8_t byte) noexcept {
    if (pending_ == 0) {
      if (byte < 0x80) {
        code_point_ = byte;
        return Step::code_point;
      }
      if (byte < 0xC2) return Step::invalid;  // a stray continuation byte, or an overlong lead
      if (byte < 0xE0) return start(1, byte & 0x1Fu, 0x80, 0xBF);
      if (byte < 0xF0) return start(2, byte & 0x0Fu, byte == 0xE0 ? 0xA0 : 0x80, byte == 0xED ? 0x9F : 0xBF);
      if (byte < 0xF5) return start(3, byte & 0x07u, byte == 0xF0 ? 0x90 : 0x80, byte == 0xF4 ? 0x8F : 0xBF);
      return Step::invalid;
    }
    if (byte < lower_ || byte > upper_) return Step::invalid;
    lower_ = 0x80;
    upper_ = 0xBF;
    code_point_ = (code_point_ << 6) | (byte & 0x3Fu);
    return --pending_ == 0 ? Step::code_point : Step::need_more;
  }

  // The code point completed by the last feed() that returned Step::code_point.
  [[nodiscard]] constexpr char32_t code_point() const noexcept { return code_point_; }
  // True while a multi-byte sequence has started but not ended.
  [[nodiscard]] constexpr bool mid_sequence() const noexcept { return pending_ != 0; }

 private:
  constexpr Step start(std::uint8_t pending, std::uint32_t bits, std::uint8_t lower, std::uint8_t upper) noexcept {
    pending_ = pending;
    code_point_ = bits;
    lower_ = lower;
    upper_ = upper;
    return Step::need_more;
  }

  char32_t code_point_ = 0;
  std::uint8_t pending_ = 0;
  std::uint8_t lower_ = 0x80;  // the range the next continuation byte must fall in
  std::uint8_t upper_ = 0xBF;
};

// The length of the leading run of ASCII bytes, examined eight bytes at a time.
[[nodiscard]] std::size_t ascii_prefix_length(const char* bytes, std::size_t size) noexcept;

[[nodiscard]] bool is_valid_utf8(std::string_view bytes) noexcept;

// Decodes the code point that starts at `position` of valid UTF-8 and moves past it.
[[nodiscard]] char32_t decode_forward(std::string_view valid_utf8, std::size_t& position) noexcept;
// Decodes the code point that ends just before `position` of valid UTF-8 and moves before it.
[[nodiscard]] char32_t decode_backward(std::string_view valid_utf8, std::size_t& position) noexcept;

// Appends the UTF-8 form of a Unicode scalar value to a byte container.
template <class Bytes>
void append_utf8(Bytes& out, char32_t code_point) {
  const auto byte = [](std::uint32_t value) { return static_cast<char>(static_cast<std::uint8_t>(value)); };
  const auto value = static_cast<std::uint32_t>(code_point);
  if (value < 0x80) {
    out.push_back(byte(value));
  } else if (value < 0x800) {
    out.push_back(byte(0xC0 | (value >> 6)));
    out.push_back(byte(0x80 | (value & 0x3F)));
  } else if (value < 0x10000) {
    out.push_back(byte(0xE0 | (value >> 12)));
    out.push_back(byte(0x80 | ((value >> 6) & 0x3F)));
    out.push_back(byte(0x80 | (value & 0x3F)));
  } else {
    out.push_back(byte(0xF0 | (value >> 18)));
    out.push_back(byte(0x80 | ((value >> 12) & 0x3F)));
    out.push_back(byte(0x80 | ((value >> 6) & 0x3F)));
    out.push_back(byte(0x80 | (value & 0x3F)));
  }
}

}  // namespace lupirane::text
