// trim_whitespace and is_white_space against the listed White_Space code points.
//
// Input layout: [mode] rest...
//   mode bit 0 clear: rest is the text itself (skipped unless well-formed UTF-8)
//   mode bit 0 set: each byte of rest picks a code point from a table of white space and
//   near misses, so that long runs of white space at both ends come up often
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "common/utf8.hpp"
#include "driver/settings.hpp"
#include "reference.hpp"

namespace {

namespace ref = fuzz_reference;

constexpr char32_t picks[] = {
    // White space.
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
    0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
    // Neighbours and look-alikes that are not white space.
    0x0000, 0x0008, 0x000E, 0x001F, 0x0021, 0x0061, 0x0084, 0x0086, 0x00A1, 0x0109, 0x0120, 0x167F, 0x1681, 0x180E,
    0x1FFF, 0x200B, 0x200C, 0x200D, 0x2027, 0x202A, 0x202E, 0x2030, 0x205E, 0x2060, 0x2085, 0x20A0, 0x2FFF, 0x3001,
    0x3020, 0x3085, 0xFEFF, 0xFFFD, 0x10000, 0x10020, 0x12000, 0x10FFFF};

void check_trim(std::string_view text) {
  const auto code_points = ref::decode(text);
  if (!code_points) return;
  ref::check(lupirane::text::is_valid_utf8(text), "is_valid_utf8 refused well-formed text");

  const std::string_view trimmed = lupirane::driver::trim_whitespace(text);
  ref::check(trimmed.data() >= text.data() && trimmed.data() + trimmed.size() <= text.data() + text.size(),
             "the trimmed text is not a part of the input");
  const auto start = static_cast<std::size_t>(trimmed.data() - text.data());
  const std::string_view removed_front = text.substr(0, start);
  const std::string_view removed_back = text.substr(start + trimmed.size());

  const auto all_white = [](std::string_view part) {
    const auto decoded = ref::decode(part);
    if (!decoded) return false;  // cut inside a sequence
    for (const char32_t code_point : *decoded) {
      if (!ref::is_white_space(code_point)) return false;
    }
    return true;
  };
  ref::check(all_white(removed_front), "something other than white space was removed at the front");
  ref::check(all_white(removed_back), "something other than white space was removed at the back");

  const auto kept = ref::decode(trimmed);
  ref::check(kept.has_value(), "the trimmed text is cut inside a sequence");
  if (!kept->empty()) {
    ref::check(!ref::is_white_space(kept->front()), "white space left at the front");
    ref::check(!ref::is_white_space(kept->back()), "white space left at the back");
  }

  const std::string_view again = lupirane::driver::trim_whitespace(trimmed);
  ref::check(again.data() == trimmed.data() && again.size() == trimmed.size(), "trimming twice changed the text");
}

}  // namespace

// Every scalar value once, before fuzzing: the white-space test is a pure function of it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (char32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    if (lupirane::driver::is_white_space(code_point) != ref::is_white_space(code_point)) {
      std::fprintf(stderr, "is_white_space(U+%04X) is wrong\n", static_cast<unsigned>(code_point));
      ref::fail("is_white_space disagrees with the White_Space list");
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return -1;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);

  // Any 32-bit value, including ones past U+10FFFF, must not pass for white space wrongly.
  if (rest.size() >= 4) {
    std::uint32_t value = 0;
    std::memcpy(&value, rest.data(), sizeof value);
    const auto code_point = static_cast<char32_t>(value);
    ref::check(lupirane::driver::is_white_space(code_point) == ref::is_white_space(code_point),
               "is_white_space disagrees with the White_Space list on a 32-bit value");
  }

  if ((data[0] & 1u) == 0) {
    if (!ref::is_valid(rest)) return -1;
    // The fuzzer's own buffer ends where the input ends, so reading past it is caught.
    check_trim(rest);
  } else {
    std::string text;
    for (const char byte : rest) ref::encode_utf8(text, picks[static_cast<std::uint8_t>(byte) % std::size(picks)]);
    // A block of exactly the text's size: a std::string's spare room would hide an overread.
    const auto block = std::make_unique<char[]>(text.size());
    std::memcpy(block.get(), text.data(), text.size());
    check_trim(std::string_view(block.get(), text.size()));
  }
  return 0;
}
