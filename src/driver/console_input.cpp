// Console reading: Ctrl-Z ends the input, Ctrl-C is retried, split surrogate pairs joined.
#include "driver/console_input.hpp"

#include <algorithm>
#include <cstring>

#include "common/utf16.hpp"

namespace lupirane::driver {

ConsoleInput::ConsoleInput(ConsoleDevice& device, std::size_t units_per_read) : device_(device) {
  // One unit more, for a high surrogate held back from the previous read.
  units_.reserve(units_per_read + 1);
}

std::expected<bool, ReadFailure> ConsoleInput::fill() {
  while (!ended_) {
    units_.clear();
    std::size_t start = 0;
    if (held_high_surrogate_) {
      units_.push_back(*held_high_surrogate_);
      held_high_surrogate_.reset();
      start = 1;
    }
    const std::span<char16_t> room = units_.spare();
    ConsoleDevice::Result result;
    do {
      result = device_.read(room);
    } while (result.succeeded && result.count == 0 && result.last_error == console::error_operation_aborted);
    if (!result.succeeded) {
      if (result.last_error != console::error_invalid_handle) return std::unexpected(ReadFailure{});
      result.count = 0;
    }
    std::size_t count = result.count;
    if (count > 0 && room[count - 1] == console::ctrl_z) --count;
    if (count == 0) {
      ended_ = true;
      // A high surrogate that never met its low half is an unpaired surrogate like any other.
      if (start != 0) return std::unexpected(ReadFailure{});
      return false;
    }
    units_.commit(count);
    std::u16string_view units = units_.view();
    if (text::is_high_surrogate(units.back())) {
      held_high_surrogate_ = units.back();
      units.remove_suffix(1);
    }
    ready_.clear();
    handed_out_ = 0;
    if (!text::append_utf8_strict(ready_, units)) return std::unexpected(ReadFailure{});
    if (!ready_.empty()) return true;
  }
  return false;
}

std::expected<std::size_t, ReadFailure> ConsoleInput::read(std::span<char> into) {
  if (into.empty()) return 0;
  if (handed_out_ == ready_.size()) {
    const auto filled = fill();
    if (!filled) return std::unexpected(filled.error());
    if (!*filled) return 0;
  }
  const std::size_t count = std::min(into.size(), ready_.size() - handed_out_);
  std::memcpy(into.data(), ready_.data() + handed_out_, count);
  handed_out_ += count;
  return count;
}

}  // namespace lupirane::driver
