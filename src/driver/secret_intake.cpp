// Streaming intake: validation and the blank test as the bytes pass, storage bounded.
#include "driver/secret_intake.hpp"

#include <algorithm>
#include <cstdint>

#include "driver/settings.hpp"

namespace lupirane::driver {

namespace {
constexpr std::size_t first_room = 16 * 1024;
constexpr std::size_t overflow_chunk = 64 * 1024;
}  // namespace

void IntakeScanner::scan(std::span<const char> bytes) noexcept {
  if (invalid_) return;
  std::size_t position = 0;
  while (position < bytes.size()) {
    // Past the first visible character only validity matters, and ASCII needs no decoding.
    if (non_white_seen_ && !decoder_.mid_sequence()) {
      position += text::ascii_prefix_length(bytes.data() + position, bytes.size() - position);
      if (position == bytes.size()) return;
    }
    const auto step = decoder_.feed(static_cast<std::uint8_t>(bytes[position++]));
    if (step == text::Utf8Decoder::Step::invalid) {
      invalid_ = true;
      return;
    }
    if (step == text::Utf8Decoder::Step::code_point && !non_white_seen_ && !is_white_space(decoder_.code_point())) {
      non_white_seen_ = true;
    }
  }
}

std::expected<text::SecretText, std::string> read_secret(InputStream& input) {
  IntakeScanner scanner;
  text::SecretText secret;
  text::SecretText overflow;  // reads past the limit land here and are dropped
  std::uint64_t total = 0;
  secret.reserve(first_room);

  for (;;) {
    std::span<char> target;
    const bool storing = total < MAX_SECRET_BYTES;
    if (storing) {
      if (secret.spare().empty()) secret.reserve(std::min(MAX_SECRET_BYTES, secret.capacity() * 4));
      target = secret.spare().first(std::min(secret.spare().size(), MAX_SECRET_BYTES - secret.size()));
    } else {
      overflow.reserve(overflow_chunk);
      overflow.clear();
      target = overflow.spare();
    }
    const auto count = input.read(target);
    if (!count) return std::unexpected(std::string(intake_message::unreadable));
    if (*count == 0) break;
    scanner.scan(target.first(*count));
    if (storing) {
      secret.commit(*count);
    } else {
      overflow.commit(*count);
      // Past the limit the secret will be refused whatever follows: hold none of it.
      if (secret.capacity() != 0) secret = text::SecretText{};
    }
    total += *count;
  }

  if (!scanner.valid()) return std::unexpected(std::string(intake_message::unreadable));
  if (scanner.blank()) return std::unexpected(std::string(intake_message::blank));
  if (total > MAX_SECRET_BYTES) return std::unexpected(std::string(intake_message::too_long));
  return secret;
}

}  // namespace lupirane::driver
