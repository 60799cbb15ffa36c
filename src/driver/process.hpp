// What one run needs from its process: the environment, standard input, standard output.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lupirane::driver {

struct ReadFailure {};

// Standard input as a stream of bytes.
class InputStream {
 public:
  virtual ~InputStream() = default;
  // Fills the front of `into`; 0 means the end of input.
  [[nodiscard]] virtual std::expected<std::size_t, ReadFailure> read(std::span<char> into) = 0;
};

class Process {
 public:
  virtual ~Process() = default;
  // The variable's value as UTF-8 (possibly empty), or nothing when the variable is absent
  // or its value isn't valid Unicode. Each call looks anew.
  [[nodiscard]] virtual std::optional<std::string> environment_value(std::string_view name) = 0;
  [[nodiscard]] virtual InputStream& standard_input() = 0;
  // Writes an answer to standard output. A write that fails is a fault of the process,
  // handled where the streams are kept, so the caller never sees it.
  virtual void write_output(std::string_view bytes) = 0;
};

}  // namespace lupirane::driver
