// encode_name_list against an independent JSON parser, the compact layout and the length
// that the escapes imply.
//
// Input layout: [mode] names separated by 0xFF (a byte that never occurs in UTF-8)...
//   mode bit 0 clear: each name is taken as it is; ill-formed ones are left out
//   mode bit 0 set: each name is read as UTF-16 units (low byte first) and converted
//   leniently, so every name is kept
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "actions/name_list.hpp"
#include "common/utf16.hpp"
#include "reference.hpp"

namespace {

namespace ref = fuzz_reference;

// The bytes a name's byte becomes inside a JSON string.
std::size_t escaped_length(std::uint8_t byte) {
  switch (byte) {
    case '\b':
    case '\t':
    case '\n':
    case '\f':
    case '\r':
    case '"':
    case '\\':
      return 2;
    default:
      return byte < 0x20 ? 6 : 1;
  }
}

std::vector<std::string> names_from(std::string_view rest, bool as_utf16) {
  std::vector<std::string> names;
  if (rest.empty()) return names;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = rest.find('\xFF', start);
    const std::string_view piece =
        rest.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (as_utf16) {
      std::u16string units;
      for (std::size_t i = 0; i + 1 < piece.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(piece[i]) |
                                              (static_cast<std::uint8_t>(piece[i + 1]) << 8)));
      }
      names.push_back(lupirane::text::utf16_to_utf8_lenient(units));
    } else if (ref::is_valid(piece)) {
      names.emplace_back(piece);
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return -1;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<std::string> names = names_from(rest, (data[0] & 1u) != 0);
  const std::string encoded = lupirane::actions::encode_name_list(names);

  std::size_t expected_length = names.empty() ? 2 : 2 + (names.size() - 1);
  for (const std::string& name : names) {
    expected_length += 2;
    for (const char byte : name) expected_length += escaped_length(static_cast<std::uint8_t>(byte));
  }
  if (encoded.size() != expected_length) {
    std::fprintf(stderr, "length %zu, expected %zu\n", encoded.size(), expected_length);
    ref::fail("the output's length doesn't match its escapes");
  }

  // Outside strings only brackets and commas; no control byte anywhere.
  bool in_string = false;
  bool escaped = false;
  for (const char byte : encoded) {
    ref::check(static_cast<std::uint8_t>(byte) >= 0x20, "a control byte in the output");
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (byte == '\\') {
        escaped = true;
      } else if (byte == '"') {
        in_string = false;
      }
    } else if (byte == '"') {
      in_string = true;
    } else {
      ref::check(byte == '[' || byte == ']' || byte == ',', "something other than [ ] , outside strings");
    }
  }
  ref::check(!in_string, "the output ends inside a string");

  nlohmann::json parsed;
  try {
    parsed = nlohmann::json::parse(encoded);
  } catch (const nlohmann::json::exception& error) {
    std::fprintf(stderr, "parse error: %s\n", error.what());
    ref::fail("the output is not JSON");
  }
  ref::check(parsed.is_array(), "the output is not a JSON array");
  ref::check(parsed.size() == names.size(), "the array has the wrong number of names");
  for (std::size_t i = 0; i < names.size(); ++i) {
    ref::check(parsed[i].is_string(), "an element is not a string");
    ref::check(parsed[i].get_ref<const std::string&>() == names[i], "a name came back changed");
  }
  return 0;
}
