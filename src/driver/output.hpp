// Standard output and standard error: buffering, faults, and the end of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace lupirane::driver {

// An error code of the operating system (errno, or a Windows error code).
struct OsError {
  std::int32_t code = 0;
};

// One standard stream as the system offers it. A stream the process lacks reports every
// byte as written, so that what goes to it is swallowed.
class RawOutput {
 public:
  virtual ~RawOutput() = default;
  // Writes some of the bytes (at least one), retrying interrupted calls.
  [[nodiscard]] virtual std::expected<std::size_t, OsError> write_some(std::span<const char> bytes) = 0;
};

[[nodiscard]] std::expected<void, OsError> write_all(RawOutput& output, std::string_view bytes);

// Line buffering over a raw stream: complete lines go out when written, a tail without line
// end waits in the buffer, and a write too large for the buffer goes out directly.
class LineBufferedWriter {
 public:
  static constexpr std::size_t default_capacity = 1024;

  explicit LineBufferedWriter(RawOutput& output, std::size_t capacity = default_capacity);
  LineBufferedWriter(const LineBufferedWriter&) = delete;
  LineBufferedWriter& operator=(const LineBufferedWriter&) = delete;
  ~LineBufferedWriter();

  [[nodiscard]] std::expected<void, OsError> write(std::string_view bytes);
  // Writes out what the buffer holds; on failure the unwritten rest stays buffered.
  [[nodiscard]] std::expected<void, OsError> flush();
  [[nodiscard]] std::string_view buffered() const noexcept { return {buffer_.data(), buffer_.size()}; }
  // Drops whatever is still buffered, overwriting it: it may be an answer holding a secret.
  void discard() noexcept;

 private:
  [[nodiscard]] std::expected<void, OsError> write_buffered(std::string_view bytes);

  RawOutput& output_;
  std::size_t capacity_;
  std::string buffer_;  // may hold an answer, so it is wiped when dropped
};

// The platform's part in ending the process.
class ProcessControl {
 public:
  virtual ~ProcessControl() = default;
  // The system's text for an error code, trailing white space removed.
  [[nodiscard]] virtual std::string error_text(OsError error) const = 0;
  // Ends the process at once with the status.
  [[noreturn]] virtual void terminate(int status) = 0;
};

// The process's two output streams and the one routine that ends the process.
class StandardStreams {
 public:
  static constexpr int fault_status = 101;

  StandardStreams(RawOutput& output, RawOutput& error, ProcessControl& control);

  // A write that fails here is a fault: it is reported on standard error and the process
  // ends with status 101.
  void write_output(std::string_view bytes);
  // The message and one line feed, unbuffered.
  void write_error_line(std::string_view message);
  // Flushes standard output and ends the process; a failure of that flush is ignored.
  [[noreturn]] void exit(int status);

 private:
  [[noreturn]] void fault(std::string_view stream_name, OsError error);

  LineBufferedWriter output_;
  RawOutput& error_;
  ProcessControl& control_;
};

}  // namespace lupirane::driver
