// read_secret against a reference verdict on the whole input, with the input delivered in
// reads of fuzzer-chosen sizes so that sequences arrive split.
//
// Input layout: [flags] [count] [count & 15 chunk sizes] [delta, when large] payload...
//   flags bits 0 to 2 all set: grow the payload by repetition to 1,000,000 + (signed) delta
//   bytes; needing three bits keeps these slow runs to a small share
//   flags bit 3: the stream reports a read failure where it would report the end
//   chunk size byte c: a read delivers at most c + 1 bytes; no sizes: as much as asked
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/secret_intake.hpp"
#include "reference.hpp"

namespace {

namespace ref = fuzz_reference;
using lupirane::driver::InputStream;
using lupirane::driver::ReadFailure;

class ChunkedInput final : public InputStream {
 public:
  ChunkedInput(std::string_view data, std::vector<std::size_t> chunk_sizes, bool fail_at_end)
      : data_(data), chunk_sizes_(std::move(chunk_sizes)), fail_at_end_(fail_at_end) {}

  std::expected<std::size_t, ReadFailure> read(std::span<char> into) override {
    // A real stream may block or misbehave once it has said it is done.
    ref::check(!finished_, "read after the end of input or a failure");
    // An empty buffer makes a real read return 0, which would look like the end of input.
    ref::check(!into.empty(), "read into an empty buffer");
    if (position_ == data_.size()) {
      finished_ = true;
      if (fail_at_end_) return std::unexpected(ReadFailure{});
      return 0;
    }
    std::size_t count = std::min(into.size(), data_.size() - position_);
    if (!chunk_sizes_.empty()) {
      count = std::min(count, chunk_sizes_[next_chunk_]);
      next_chunk_ = (next_chunk_ + 1) % chunk_sizes_.size();
    }
    std::memcpy(into.data(), data_.data() + position_, count);
    position_ += count;
    return count;
  }

 private:
  std::string_view data_;
  std::vector<std::size_t> chunk_sizes_;
  bool fail_at_end_;
  std::size_t position_ = 0;
  std::size_t next_chunk_ = 0;
  bool finished_ = false;
};

// The message for the whole input, in the order of precedence unreadable, blank, too long;
// empty for a secret to accept.
FUZZ_REFERENCE std::string_view expected_refusal(std::string_view secret, bool read_fails) {
  namespace message = lupirane::driver::intake_message;
  bool valid = true;
  bool blank = true;
  for (std::size_t position = 0; position < secret.size();) {
    const auto decoded = ref::decode_at(secret, position);
    if (!decoded) {
      valid = false;
      break;
    }
    if (blank && !ref::is_white_space(decoded->code_point)) blank = false;
    position += decoded->length;
  }
  if (read_fails || !valid) return message::unreadable;
  if (blank) return message::blank;
  if (secret.size() > lupirane::driver::MAX_SECRET_BYTES) return message::too_long;
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.size() < 2) return -1;
  const auto flags = static_cast<std::uint8_t>(input[0]);
  const bool large = (flags & 7u) == 7u;
  const bool fail_at_end = (flags & 8u) != 0;
  const std::size_t chunk_count = static_cast<std::uint8_t>(input[1]) & 15u;
  input.remove_prefix(2);
  if (input.size() < chunk_count + (large ? 1 : 0)) return -1;
  std::vector<std::size_t> chunk_sizes;
  for (std::size_t i = 0; i < chunk_count; ++i) chunk_sizes.push_back(static_cast<std::uint8_t>(input[i]) + 1u);
  input.remove_prefix(chunk_count);

  // Kept from run to run: a megabyte allocated afresh each time would slow the large runs.
  static std::string secret;
  secret.assign(input);
  if (large) {
    const auto delta = static_cast<std::int8_t>(input[0]);
    input.remove_prefix(1);
    if (input.empty()) return -1;
    const auto wanted = static_cast<std::size_t>(static_cast<long>(lupirane::driver::MAX_SECRET_BYTES) + delta);
    secret.assign(input);
    while (secret.size() < wanted) secret.append(secret);
    secret.resize(wanted);
  }

  const std::string_view expected_message = expected_refusal(secret, fail_at_end);

  ChunkedInput stream(secret, std::move(chunk_sizes), fail_at_end);
  const auto result = lupirane::driver::read_secret(stream);
  if (expected_message.empty()) {
    ref::check(result.has_value(), "a good secret was refused");
    ref::check(result->view() == secret, "the secret read differs from the input");
  } else {
    ref::check(!result.has_value(), "a bad secret was accepted");
    if (result.error() != expected_message) {
      std::fprintf(stderr, "expected \"%.*s\", got \"%s\"\n", static_cast<int>(expected_message.size()),
                   expected_message.data(), result.error().c_str());
      ref::fail("wrong refusal message");
    }
  }
  // Large runs stay out of the corpus: their loop counts look new to the fuzzer, which would
  // then spend nearly all its time on them. Mutations keep making fresh ones.
  return large ? -1 : 0;
}
