// The driver's system calls on Linux: descriptors, the environment, signals, exit.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/utf8.hpp"
#include "driver/platform.hpp"

namespace lupirane::driver::platform {

namespace {

// Reads descriptor 0 to its end; a process without one has empty input.
class DescriptorInput final : public InputStream {
 public:
  std::expected<std::size_t, ReadFailure> read(std::span<char> into) override {
    for (;;) {
      const ssize_t count = ::read(STDIN_FILENO, into.data(), into.size());
      if (count >= 0) return static_cast<std::size_t>(count);
      if (errno == EINTR) continue;
      if (errno == EBADF) return 0;
      return std::unexpected(ReadFailure{});
    }
  }
};

// Writes to descriptor 1 or 2; a descriptor the process lacks swallows what it is given.
class DescriptorOutput final : public RawOutput {
 public:
  explicit DescriptorOutput(int fd) : fd_(fd) {}
  std::expected<std::size_t, OsError> write_some(std::span<const char> bytes) override {
    for (;;) {
      const ssize_t count = ::write(fd_, bytes.data(), bytes.size());
      if (count > 0) return static_cast<std::size_t>(count);
      if (count == 0) return std::unexpected(OsError{EIO});
      if (errno == EINTR) continue;
      if (errno == EBADF) return bytes.size();
      return std::unexpected(OsError{errno});
    }
  }

 private:
  int fd_;
};

class PosixControl final : public ProcessControl {
 public:
  std::string error_text(OsError error) const override { return std::strerror(error.code); }
  [[noreturn]] void terminate(int status) override { ::_exit(status); }
};

}  // namespace

void prepare_process() noexcept {
  // A reader that went away must be a failed write, not a killed process.
  ::signal(SIGPIPE, SIG_IGN);
  // Files the program creates are for this user alone.
  ::umask(077);
  // A closed standard descriptor would be handed to the next file opened (the store), and
  // an answer written to "standard output" would land in it. Hold each closed one open on
  // /dev/null, which reads as empty and swallows writes, just as a missing stream should.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int placeholder = ::open("/dev/null", O_RDWR);
    // Without /dev/null, a descriptor on the root folder fills the slot: reads and writes
    // on it fail with EBADF, which the streams treat as a missing stream.
    if (placeholder < 0) placeholder = ::open("/", O_PATH);
    if (placeholder >= 0 && placeholder != fd) {
      ::dup2(placeholder, fd);
      ::close(placeholder);
    }
  }
}

std::optional<std::string> environment_value(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  std::string bytes(value);
  if (!text::is_valid_utf8(bytes)) return std::nullopt;
  return bytes;
}

InputStream& standard_input() {
  static DescriptorInput input;
  return input;
}

RawOutput& standard_output() {
  static DescriptorOutput output(STDOUT_FILENO);
  return output;
}

RawOutput& standard_error() {
  static DescriptorOutput output(STDERR_FILENO);
  return output;
}

ProcessControl& process_control() {
  static PosixControl control;
  return control;
}

// Writing to a descriptor allocates nothing, so the ordinary stream serves here too.
void write_error_unbuffered(std::string_view text) noexcept { (void)write_all(standard_error(), text); }

void abort_process() noexcept { std::abort(); }

}  // namespace lupirane::driver::platform

// The store never loads extensions. Linked with --wrap=dlopen, SQLite's one call to dlopen
// lands here, so the static program needs no shared library at run time.
extern "C" void* __wrap_dlopen(const char*, int) { return nullptr; }
