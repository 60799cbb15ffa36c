// Conversions between UTF-8 and UTF-16: strict where text comes in, lenient where it goes out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/utf8.hpp"

namespace lupirane::text {

inline constexpr char32_t replacement_character = 0xFFFD;

constexpr bool is_high_surrogate(char16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool is_low_surrogate(char16_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool is_surrogate(char16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDFFF; }

// Appends one Unicode scalar value as UTF-16: one unit, or a surrogate pair above U+FFFF.
template <class Units>
void append_utf16_code_point(Units& out, char32_t code_point) {
  const auto value = static_cast<std::uint32_t>(code_point);
  if (value < 0x10000) {
    out.push_back(static_cast<char16_t>(value));
  } else {
    out.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
  }
}

// Appends the UTF-16 form of valid UTF-8 text to a container of char16_t.
template <class Units>
void append_utf16(Units& out, std::string_view valid_utf8) {
  std::size_t position = 0;
  while (position < valid_utf8.size()) append_utf16_code_point(out, decode_forward(valid_utf8, position));
}

namespace detail {
// UTF-16 to UTF-8; an unpaired surrogate either stops the conversion (false) or becomes
// U+FFFD, after which the next unit is decoded afresh.
template <class Bytes>
bool append_utf8_from_utf16(Bytes& out, std::u16string_view units, bool stop_at_unpaired) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (!is_surrogate(unit)) {
      append_utf8(out, unit);
    } else if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
      append_utf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00u));
      ++i;
    } else if (stop_at_unpaired) {
      return false;
    } else {
      append_utf8(out, replacement_character);
    }
  }
  return true;
}
}  // namespace detail

// Appends UTF-16 as UTF-8, each unpaired surrogate becoming U+FFFD.
template <class Bytes>
void append_utf8_lenient(Bytes& out, std::u16string_view units) {
  (void)detail::append_utf8_from_utf16(out, units, false);
}

// Appends UTF-16 as UTF-8; false (with `out` partly filled) at the first unpaired surrogate.
template <class Bytes>
[[nodiscard]] bool append_utf8_strict(Bytes& out, std::u16string_view units) {
  return detail::append_utf8_from_utf16(out, units, true);
}

// Appends bytes that should be UTF-8 as UTF-16, each ill-formed part becoming U+FFFD.
template <class Units>
void append_utf16_lenient(Units& out, std::string_view bytes) {
  Utf8Decoder decoder;
  for (std::size_t position = 0; position < bytes.size(); ++position) {
    const bool was_mid_sequence = decoder.mid_sequence();
    const auto step = decoder.feed(static_cast<std::uint8_t>(bytes[position]));
    if (step == Utf8Decoder::Step::code_point) {
      append_utf16_code_point(out, decoder.code_point());
    } else if (step == Utf8Decoder::Step::invalid) {
      append_utf16_code_point(out, replacement_character);
      decoder = Utf8Decoder{};
      // The byte that broke a sequence may begin the next one.
      if (was_mid_sequence) --position;
    }
  }
  if (decoder.mid_sequence()) append_utf16_code_point(out, replacement_character);
}

[[nodiscard]] std::u16string utf8_to_utf16(std::string_view valid_utf8);
[[nodiscard]] std::string utf16_to_utf8_lenient(std::u16string_view units);
// A system message as UTF-8: trailing white space (U+0009 to U+000D, U+0020) removed, one
// unit at a time; leading and inner white space kept.
[[nodiscard]] std::string trimmed_message_utf8(std::u16string_view message);
// The UTF-8 form, or nothing when the text holds an unpaired surrogate.
[[nodiscard]] std::optional<std::string> utf16_to_utf8_strict(std::u16string_view units);

}  // namespace lupirane::text
