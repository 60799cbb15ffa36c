// Reading the secret of a "Set" request from standard input.
#pragma once

#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "common/secret_buffer.hpp"
#include "common/utf8.hpp"
#include "driver/process.hpp"

namespace lupirane::driver {

inline constexpr std::size_t MAX_SECRET_BYTES = 1'000'000;

namespace intake_message {
inline constexpr std::string_view unreadable = "Não foi possível ler a credencial recebida.";
inline constexpr std::string_view blank = "A credencial recebida está vazia.";
inline constexpr std::string_view too_long = "A credencial recebida excede o limite permitido.";
}  // namespace intake_message

// Checks UTF-8 well-formedness and watches for a character other than white space while
// the bytes stream past, so that no input has to be held whole to be judged.
class IntakeScanner {
 public:
  void scan(std::span<const char> bytes) noexcept;
  // Well-formed, with no sequence cut off at the end; meaningful once the input has ended.
  [[nodiscard]] bool valid() const noexcept { return !invalid_ && !decoder_.mid_sequence(); }
  [[nodiscard]] bool blank() const noexcept { return !non_white_seen_; }

 private:
  text::Utf8Decoder decoder_;
  bool invalid_ = false;
  bool non_white_seen_ = false;
};

// All of standard input, untouched, or the message for an unreadable, blank or too long
// input (in that order of precedence). Reads to the end of input whatever arrives, but
// never holds more than MAX_SECRET_BYTES plus one read buffer.
[[nodiscard]] std::expected<text::SecretText, std::string> read_secret(InputStream& input);

}  // namespace lupirane::driver
