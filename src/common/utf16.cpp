// Whole-string forms of the UTF-8 and UTF-16 conversions.
#include "common/utf16.hpp"

namespace lupirane::text {

std::u16string utf8_to_utf16(std::string_view valid_utf8) {
  std::u16string units;
  units.reserve(valid_utf8.size());
  append_utf16(units, valid_utf8);
  return units;
}

std::string utf16_to_utf8_lenient(std::u16string_view units) {
  std::string bytes;
  bytes.reserve(units.size());
  append_utf8_lenient(bytes, units);
  return bytes;
}

std::string trimmed_message_utf8(std::u16string_view message) {
  while (!message.empty() && ((message.back() >= 0x09 && message.back() <= 0x0D) || message.back() == 0x20)) {
    message.remove_suffix(1);
  }
  return utf16_to_utf8_lenient(message);
}

std::optional<std::string> utf16_to_utf8_strict(std::u16string_view units) {
  std::string bytes;
  bytes.reserve(units.size());
  if (!append_utf8_strict(bytes, units)) return std::nullopt;
  return bytes;
}

}  // namespace lupirane::text
