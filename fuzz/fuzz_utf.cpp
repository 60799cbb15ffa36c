// The UTF-8 and UTF-16 conversions against reference conversions. The input is read twice:
// as UTF-16 units (pairs of bytes, low byte first) and as bytes meant to be UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

#include "common/secret_buffer.hpp"
#include "common/utf16.hpp"
#include "common/utf8.hpp"
#include "reference.hpp"

namespace {

namespace ref = fuzz_reference;
namespace text = lupirane::text;

constexpr char32_t replacement = 0xFFFD;

// Every proper beginning of the UTF-8 form of some scalar value.
std::unordered_set<std::string>& sequence_beginnings() {
  static std::unordered_set<std::string> beginnings;
  return beginnings;
}

// UTF-16 to code points, an unpaired surrogate becoming U+FFFD; `unpaired` tells if one did.
std::u32string reference_from_utf16(std::u16string_view units, bool& unpaired) {
  std::u32string code_points;
  unpaired = false;
  std::size_t i = 0;
  while (i < units.size()) {
    const std::uint32_t unit = units[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      code_points.push_back(0x10000 + (unit - 0xD800) * 1024 + (units[i + 1] - 0xDC00u));
      i += 2;
    } else {
      if (high || low) unpaired = true;
      code_points.push_back((high || low) ? replacement : unit);
      i += 1;
    }
  }
  return code_points;
}

std::string reference_to_utf8(std::u32string_view code_points) {
  std::string bytes;
  for (const char32_t code_point : code_points) ref::encode_utf8(bytes, code_point);
  return bytes;
}

std::u16string reference_to_utf16(std::u32string_view code_points) {
  std::u16string units;
  for (const char32_t code_point : code_points) ref::encode_utf16(units, code_point);
  return units;
}

// Bytes to UTF-16 with each maximal subpart of an ill-formed sequence becoming one U+FFFD:
// the longest run that begins some well-formed sequence, or else a single byte.
std::u16string reference_utf8_to_utf16_lenient(std::string_view bytes) {
  std::u16string units;
  std::size_t position = 0;
  while (position < bytes.size()) {
    if (const auto decoded = ref::decode_at(bytes, position)) {
      ref::encode_utf16(units, decoded->code_point);
      position += decoded->length;
      continue;
    }
    std::size_t subpart = 1;
    while (position + subpart < bytes.size() && subpart < 3 &&
           sequence_beginnings().contains(std::string(bytes.substr(position, subpart + 1)))) {
      ++subpart;
    }
    ref::encode_utf16(units, replacement);
    position += subpart;
  }
  return units;
}

void check_utf16(std::u16string_view units) {
  bool unpaired = false;
  const std::u32string code_points = reference_from_utf16(units, unpaired);
  const std::string expected_utf8 = reference_to_utf8(code_points);

  const std::optional<std::string> strict = text::utf16_to_utf8_strict(units);
  ref::check(strict.has_value() == !unpaired,
             "utf16_to_utf8_strict: success doesn't match the absence of unpaired surrogates");
  if (strict) {
    ref::check(*strict == expected_utf8, "utf16_to_utf8_strict: wrong bytes");
    ref::check(text::utf8_to_utf16(*strict) == units, "utf8_to_utf16 doesn't undo utf16_to_utf8_strict");
  }

  const std::string lenient = text::utf16_to_utf8_lenient(units);
  ref::check(ref::is_valid(lenient), "utf16_to_utf8_lenient: ill-formed UTF-8 out");
  ref::check(text::is_valid_utf8(lenient), "utf16_to_utf8_lenient: is_valid_utf8 refuses its output");
  ref::check(lenient == expected_utf8, "utf16_to_utf8_lenient: wrong bytes");
  if (strict) ref::check(lenient == *strict, "lenient and strict differ on text without unpaired surrogates");

  std::u16string_view kept = units;
  while (!kept.empty() && ((kept.back() >= 0x09 && kept.back() <= 0x0D) || kept.back() == 0x20)) kept.remove_suffix(1);
  bool ignored = false;
  ref::check(text::trimmed_message_utf8(units) == reference_to_utf8(reference_from_utf16(kept, ignored)),
             "trimmed_message_utf8: wrong bytes");
}

void check_utf8(std::string_view bytes) {
  const auto code_points = ref::decode(bytes);
  ref::check(text::is_valid_utf8(bytes) == code_points.has_value(), "is_valid_utf8 disagrees with the reference");
  if (!bytes.empty()) {
    ref::check(text::is_valid_utf8(bytes.substr(1)) == ref::is_valid(bytes.substr(1)),
               "is_valid_utf8 disagrees with the reference one byte in");
  }

  std::size_t ascii = 0;
  while (ascii < bytes.size() && static_cast<std::uint8_t>(bytes[ascii]) < 0x80) ++ascii;
  ref::check(text::ascii_prefix_length(bytes.data(), bytes.size()) == ascii, "ascii_prefix_length: wrong length");

  const std::u16string expected_lenient = reference_utf8_to_utf16_lenient(bytes);
  std::u16string lenient;
  text::append_utf16_lenient(lenient, bytes);
  ref::check(lenient == expected_lenient, "append_utf16_lenient: wrong units");
  text::SecretUtf16 secret_lenient;
  text::append_utf16_lenient(secret_lenient, bytes);
  ref::check(secret_lenient.view() == expected_lenient, "append_utf16_lenient into a SecretUtf16: wrong units");

  if (!code_points) return;
  const std::u16string expected_utf16 = reference_to_utf16(*code_points);
  ref::check(text::utf8_to_utf16(bytes) == expected_utf16, "utf8_to_utf16: wrong units");
  ref::check(lenient == expected_utf16, "append_utf16_lenient differs from utf8_to_utf16 on valid text");

  std::size_t position = 0;
  for (const char32_t code_point : *code_points) {
    ref::check(position < bytes.size() && text::decode_forward(bytes, position) == code_point,
               "decode_forward: wrong code point");
  }
  ref::check(position == bytes.size(), "decode_forward: doesn't end at the end");
  for (std::size_t i = code_points->size(); i-- > 0;) {
    ref::check(position > 0 && text::decode_backward(bytes, position) == (*code_points)[i],
               "decode_backward: wrong code point");
  }
  ref::check(position == 0, "decode_backward: doesn't end at the start");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (std::uint32_t value = 0; value <= 0x10FFFF; ++value) {
    if (!ref::is_scalar_value(value)) continue;
    std::string encoded;
    ref::encode_utf8(encoded, static_cast<char32_t>(value));
    for (std::size_t length = 1; length < encoded.size(); ++length) {
      sequence_beginnings().insert(encoded.substr(0, length));
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Blocks of exactly the input's size, so that reading past either end is caught.
  const std::size_t unit_count = size / 2;
  const auto units = std::make_unique<char16_t[]>(unit_count);
  for (std::size_t i = 0; i < unit_count; ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  check_utf16(std::u16string_view(units.get(), unit_count));
  check_utf8(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
