// Request settings from the environment, trimmed of white space.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "driver/process.hpp"

namespace lupirane::driver {

namespace setting {
inline constexpr std::string_view action = "LUPIRANE_VAULT_ACTION";
inline constexpr std::string_view resource = "LUPIRANE_VAULT_RESOURCE";
inline constexpr std::string_view user_name = "LUPIRANE_VAULT_USERNAME";
}  // namespace setting

// The 25 code points with the Unicode White_Space property.
[[nodiscard]] bool is_white_space(char32_t code_point) noexcept;

// The part of valid UTF-8 text left after removing white space from both ends.
[[nodiscard]] std::string_view trim_whitespace(std::string_view valid_utf8) noexcept;

// The trimmed, non-empty value of a request variable, or the missing-setting message.
[[nodiscard]] std::expected<std::string, std::string> read_setting(std::string_view name, Process& process);

}  // namespace lupirane::driver
