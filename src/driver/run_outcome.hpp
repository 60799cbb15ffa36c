// The result of one run: an exit status, or an error message for standard error.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace lupirane::driver {

namespace exit_status {
inline constexpr std::int32_t done = 0;
inline constexpr std::int32_t failure = 1;
inline constexpr std::int32_t not_found = 3;  // "Get" found no credential for the pair
}  // namespace exit_status

class RunOutcome {
 public:
  [[nodiscard]] static RunOutcome status(std::int32_t exit_status) { return RunOutcome(exit_status); }
  // One line of UTF-8 without a line end of its own.
  [[nodiscard]] static RunOutcome error(std::string message) { return RunOutcome(std::move(message)); }

  [[nodiscard]] bool is_error() const noexcept { return std::holds_alternative<std::string>(value_); }
  [[nodiscard]] std::int32_t exit_status() const noexcept {
    return is_error() ? exit_status::failure : std::get<std::int32_t>(value_);
  }
  // The message of an error outcome; empty for a status.
  [[nodiscard]] const std::string& message() const noexcept {
    static const std::string none;
    return is_error() ? std::get<std::string>(value_) : none;
  }

 private:
  explicit RunOutcome(std::int32_t exit_status) : value_(exit_status) {}
  explicit RunOutcome(std::string message) : value_(std::move(message)) {}

  std::variant<std::int32_t, std::string> value_;
};

}  // namespace lupirane::driver
