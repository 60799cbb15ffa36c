// The answer of "List": the user names as a compact JSON array of strings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lupirane::actions {

// Appends one name as a JSON string: quotation marks, the escapes of the byte table, and
// every other byte (all of 0x80 and up included) unchanged.
void append_json_string(std::string& text, std::string_view name);

// "[", the names as JSON strings separated by commas, "]"; no white space anywhere.
[[nodiscard]] std::string encode_name_list(const std::vector<std::string>& names);

}  // namespace lupirane::actions
