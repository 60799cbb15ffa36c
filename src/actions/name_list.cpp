// JSON text of the name list, byte by byte as the host expects it.
#include "actions/name_list.hpp"

#include <array>
#include <cstdint>

namespace lupirane::actions {

namespace {

struct Escape {
  std::uint8_t length = 0;  // 0: the byte stands for itself
  std::array<char, 6> bytes{};
};

constexpr std::array<Escape, 256> escape_table = [] {
  constexpr std::string_view hex_digits = "0123456789abcdef";
  std::array<Escape, 256> table{};
  for (std::size_t byte = 0; byte < 0x20; ++byte) {
    table[byte] = {6, {'\\', 'u', '0', '0', hex_digits[byte >> 4], hex_digits[byte & 0xF]}};
  }
  table['\b'] = {2, {'\\', 'b'}};
  table['\t'] = {2, {'\\', 't'}};
  table['\n'] = {2, {'\\', 'n'}};
  table['\f'] = {2, {'\\', 'f'}};
  table['\r'] = {2, {'\\', 'r'}};
  table['"'] = {2, {'\\', '"'}};
  table['\\'] = {2, {'\\', '\\'}};
  return table;
}();

constexpr std::size_t first_room = 128;

}  // namespace

void append_json_string(std::string& text, std::string_view name) {
  text.push_back('"');
  std::size_t run_start = 0;
  for (std::size_t position = 0; position < name.size(); ++position) {
    const Escape& escape = escape_table[static_cast<std::uint8_t>(name[position])];
    if (escape.length == 0) continue;
    text.append(name.substr(run_start, position - run_start));
    text.append(escape.bytes.data(), escape.length);
    run_start = position + 1;
  }
  text.append(name.substr(run_start));
  text.push_back('"');
}

std::string encode_name_list(const std::vector<std::string>& names) {
  std::string text;
  text.reserve(first_room);
  text.push_back('[');
  bool first = true;
  for (const std::string& name : names) {
    if (!first) text.push_back(',');
    first = false;
    append_json_string(text, name);
  }
  text.push_back(']');
  return text;
}

}  // namespace lupirane::actions
