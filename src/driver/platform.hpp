// The system calls the driver needs, declared once and defined by one leaf per platform
// (posix/ and windows/).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "driver/output.hpp"
#include "driver/process.hpp"

namespace lupirane::driver::platform {

// Readies the process before anything else runs (standard descriptors, signals).
void prepare_process() noexcept;

// A request variable as UTF-8, or nothing when it is absent or not valid Unicode.
[[nodiscard]] std::optional<std::string> environment_value(std::string_view name);

[[nodiscard]] InputStream& standard_input();
[[nodiscard]] RawOutput& standard_output();
[[nodiscard]] RawOutput& standard_error();
[[nodiscard]] ProcessControl& process_control();

// For running out of memory: writes straight to standard error, without allocating or
// buffering, and ends the process at once, without flushing anything.
void write_error_unbuffered(std::string_view text) noexcept;
[[noreturn]] void abort_process() noexcept;

}  // namespace lupirane::driver::platform
