// Reference rules for the fuzz oracles, written straight from the Unicode definitions and
// sharing no code with what they judge: slow and plain on purpose.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

// The reference is left out of coverage and comparison tracing: the fuzzer should steer by
// the code under test, and tracing every byte of a megabyte input would slow it tenfold.
// Not inlined, since inlining would carry the code back into instrumented callers.
#define FUZZ_REFERENCE [[clang::no_sanitize("coverage"), gnu::noinline]]

namespace fuzz_reference {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "ORACLE VIOLATION: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

inline void check(bool holds, const char* what) {
  if (!holds) fail(what);
}

struct Decoded {
  char32_t code_point;
  std::size_t length;
};

// The well-formed sequence that starts at `position`, or nothing. The lead byte's bit
// pattern gives the length; the value must need that length (no overlong form), must not be
// a surrogate and must not pass U+10FFFF.
FUZZ_REFERENCE inline std::optional<Decoded> decode_at(std::string_view bytes, std::size_t position) {
  const auto lead = static_cast<std::uint8_t>(bytes[position]);
  std::size_t length = 0;
  std::uint32_t value = 0;
  std::uint32_t smallest = 0;
  if ((lead & 0x80u) == 0x00u) return Decoded{lead, 1};
  if ((lead & 0xE0u) == 0xC0u) {
    length = 2;
    value = lead & 0x1Fu;
    smallest = 0x80;
  } else if ((lead & 0xF0u) == 0xE0u) {
    length = 3;
    value = lead & 0x0Fu;
    smallest = 0x800;
  } else if ((lead & 0xF8u) == 0xF0u) {
    length = 4;
    value = lead & 0x07u;
    smallest = 0x10000;
  } else {
    return std::nullopt;
  }
  if (bytes.size() - position < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<std::uint8_t>(bytes[position + i]);
    if ((byte & 0xC0u) != 0x80u) return std::nullopt;
    value = (value << 6) | (byte & 0x3Fu);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
  return Decoded{value, length};
}

// The code points of well-formed UTF-8, or nothing for anything else.
FUZZ_REFERENCE inline std::optional<std::u32string> decode(std::string_view bytes) {
  std::u32string code_points;
  std::size_t position = 0;
  while (position < bytes.size()) {
    const auto decoded = decode_at(bytes, position);
    if (!decoded) return std::nullopt;
    code_points.push_back(decoded->code_point);
    position += decoded->length;
  }
  return code_points;
}

FUZZ_REFERENCE inline bool is_valid(std::string_view bytes) { return decode(bytes).has_value(); }

FUZZ_REFERENCE inline bool is_scalar_value(std::uint32_t value) {
  return value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
}

FUZZ_REFERENCE inline void encode_utf8(std::string& out, char32_t code_point) {
  const auto value = static_cast<std::uint32_t>(code_point);
  const auto put = [&out](std::uint32_t byte) { out.push_back(static_cast<char>(static_cast<std::uint8_t>(byte))); };
  if (value <= 0x7F) {
    put(value);
  } else if (value <= 0x7FF) {
    put(0xC0 + (value / 64));
    put(0x80 + (value % 64));
  } else if (value <= 0xFFFF) {
    put(0xE0 + (value / 4096));
    put(0x80 + (value / 64 % 64));
    put(0x80 + (value % 64));
  } else {
    put(0xF0 + (value / 262144));
    put(0x80 + (value / 4096 % 64));
    put(0x80 + (value / 64 % 64));
    put(0x80 + (value % 64));
  }
}

FUZZ_REFERENCE inline void encode_utf16(std::u16string& out, char32_t code_point) {
  const auto value = static_cast<std::uint32_t>(code_point);
  if (value <= 0xFFFF) {
    out.push_back(static_cast<char16_t>(value));
  } else {
    const std::uint32_t offset = value - 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + offset / 1024));
    out.push_back(static_cast<char16_t>(0xDC00 + offset % 1024));
  }
}

// The 25 code points with the Unicode White_Space property, listed one by one.
inline constexpr std::array<char32_t, 25> white_space = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
    0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

FUZZ_REFERENCE inline bool is_white_space(char32_t code_point) {
  for (const char32_t listed : white_space) {
    if (code_point == listed) return true;
  }
  return false;
}

}  // namespace fuzz_reference
