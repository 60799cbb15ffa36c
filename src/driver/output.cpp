// Line-buffered standard output, unbuffered standard error, and the exit routine.
#include "driver/output.hpp"

#include <cstdlib>

#include "common/secret_buffer.hpp"

namespace lupirane::driver {

std::expected<void, OsError> write_all(RawOutput& output, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto written = output.write_some(bytes);
    if (!written) return std::unexpected(written.error());
    bytes.remove_prefix(*written);
  }
  return {};
}

LineBufferedWriter::LineBufferedWriter(RawOutput& output, std::size_t capacity)
    : output_(output), capacity_(capacity) {
  buffer_.reserve(capacity_);
}

LineBufferedWriter::~LineBufferedWriter() { discard(); }

void LineBufferedWriter::discard() noexcept {
  text::wipe_memory(buffer_.data(), buffer_.capacity());
  buffer_.clear();
}

std::expected<void, OsError> LineBufferedWriter::flush() {
  std::string_view pending = buffered();
  while (!pending.empty()) {
    const auto written = output_.write_some(pending);
    if (!written) {
      buffer_.erase(0, buffer_.size() - pending.size());
      return std::unexpected(written.error());
    }
    pending.remove_prefix(*written);
  }
  buffer_.clear();
  return {};
}

std::expected<void, OsError> LineBufferedWriter::write_buffered(std::string_view bytes) {
  if (bytes.size() > capacity_ - buffer_.size()) {
    if (auto flushed = flush(); !flushed) return flushed;
  }
  if (bytes.size() >= capacity_) return write_all(output_, bytes);
  buffer_.append(bytes);
  return {};
}

std::expected<void, OsError> LineBufferedWriter::write(std::string_view bytes) {
  const std::size_t last_line_end = bytes.rfind('\n');
  if (last_line_end == std::string_view::npos) {
    // A completed line still waiting goes out before anything new is buffered behind it.
    if (!buffer_.empty() && buffer_.back() == '\n') {
      if (auto flushed = flush(); !flushed) return flushed;
    }
    return write_buffered(bytes);
  }
  const std::string_view lines = bytes.substr(0, last_line_end + 1);
  const std::string_view tail = bytes.substr(last_line_end + 1);
  if (buffer_.empty()) {
    if (auto written = write_all(output_, lines); !written) return written;
  } else {
    if (auto buffered = write_buffered(lines); !buffered) return buffered;
    if (auto flushed = flush(); !flushed) return flushed;
  }
  return write_buffered(tail);
}

StandardStreams::StandardStreams(RawOutput& output, RawOutput& error, ProcessControl& control)
    : output_(output), error_(error), control_(control) {}

void StandardStreams::write_output(std::string_view bytes) {
  if (auto written = output_.write(bytes); !written) fault("stdout", written.error());
}

void StandardStreams::write_error_line(std::string_view message) {
  if (auto written = write_all(error_, message); !written) fault("stderr", written.error());
  if (auto written = write_all(error_, "\n"); !written) fault("stderr", written.error());
}

void StandardStreams::exit(int status) {
  (void)output_.flush();
  // The process ends without running destructors; what a failed flush left is wiped here.
  output_.discard();
  control_.terminate(status);
  std::abort();  // terminate() never returns; this keeps the promise should one ever do
}

void StandardStreams::fault(std::string_view stream_name, OsError error) {
  std::string report = "failed printing to ";
  report += stream_name;
  report += ": ";
  report += control_.error_text(error);
  report += " (os error ";
  report += std::to_string(error.code);
  report += ")\n";
  // Standard error may be the stream that failed: nothing more can be reported then.
  (void)write_all(error_, report);
  exit(fault_status);
}

}  // namespace lupirane::driver
