// Reading standard input from an interactive Windows console: the rules as plain logic
// over one injected "read some UTF-16" call, so that they run and are tested anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/secret_buffer.hpp"
#include "driver/process.hpp"

namespace lupirane::driver {

namespace console {
inline constexpr char16_t ctrl_z = 0x1A;
// Makes a console read return on Ctrl-Z as well as on Enter.
inline constexpr std::uint32_t ctrl_z_wakeup_mask = std::uint32_t{1} << ctrl_z;
inline constexpr std::uint32_t error_invalid_handle = 6;
inline constexpr std::uint32_t error_operation_aborted = 995;  // Ctrl-C or Ctrl-Break during a read
}  // namespace console

// One console read: ReadConsoleW with the wake-up mask, the last error cleared before it.
class ConsoleDevice {
 public:
  struct Result {
    bool succeeded = false;
    std::size_t count = 0;        // UTF-16 units placed at the front of the buffer
    std::uint32_t last_error = 0;  // GetLastError after the call
  };
  virtual ~ConsoleDevice() = default;
  [[nodiscard]] virtual Result read(std::span<char16_t> into) = 0;
};

class ConsoleInput final : public InputStream {
 public:
  explicit ConsoleInput(ConsoleDevice& device, std::size_t units_per_read = 4096);
  [[nodiscard]] std::expected<std::size_t, ReadFailure> read(std::span<char> into) override;

 private:
  // Reads and converts until some UTF-8 is ready: true with bytes, false at the end.
  [[nodiscard]] std::expected<bool, ReadFailure> fill();

  ConsoleDevice& device_;
  text::SecretUtf16 units_;
  text::SecretText ready_;  // converted bytes not yet handed out
  std::size_t handed_out_ = 0;
  std::optional<char16_t> held_high_surrogate_;
  bool ended_ = false;
};

}  // namespace lupirane::driver
