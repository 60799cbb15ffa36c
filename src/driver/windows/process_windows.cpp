// The driver's system calls on Windows: the environment, standard input, process exit.
#include <windows.h>

#include <winternl.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "common/utf16.hpp"
#include "driver/console_input.hpp"
#include "driver/platform.hpp"

extern "C" NTSTATUS NTAPI NtReadFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine, PVOID apc_context,
                                     PIO_STATUS_BLOCK io_status, PVOID buffer, ULONG length, PLARGE_INTEGER offset,
                                     PULONG key);

namespace lupirane::driver::platform {

namespace {

constexpr NTSTATUS status_pending = 0x00000103;
constexpr NTSTATUS status_end_of_file = static_cast<NTSTATUS>(0xC0000011u);
constexpr DWORD first_environment_buffer = 512;
// The code a process killed for want of memory ends with.
constexpr UINT status_no_memory = 0xC0000017u;

std::u16string wide_name(std::string_view ascii_name) {
  return {ascii_name.begin(), ascii_name.end()};
}

DWORD clamp_length(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
}

// A pipe or a file, read synchronously; a read still pending is waited for.
class HandleInput final : public InputStream {
 public:
  explicit HandleInput(HANDLE handle) : handle_(handle) {}
  std::expected<std::size_t, ReadFailure> read(std::span<char> into) override {
    IO_STATUS_BLOCK io_status{};
    NTSTATUS status = NtReadFile(handle_, nullptr, nullptr, nullptr, &io_status, into.data(),
                                 clamp_length(into.size()), nullptr, nullptr);
    if (status == status_pending) {
      WaitForSingleObject(handle_, INFINITE);
      status = io_status.Status;
    }
    if (status == status_end_of_file) return 0;
    if (NT_SUCCESS(status)) return static_cast<std::size_t>(io_status.Information);
    switch (RtlNtStatusToDosError(status)) {
      case ERROR_BROKEN_PIPE:  // the writer has gone
      case ERROR_NO_DATA:
      case ERROR_HANDLE_EOF:
      case ERROR_INVALID_HANDLE:
        return 0;
      default:
        return std::unexpected(ReadFailure{});
    }
  }

 private:
  HANDLE handle_;
};

class WindowsConsole final : public ConsoleDevice {
 public:
  explicit WindowsConsole(HANDLE handle) : handle_(handle) {}
  Result read(std::span<char16_t> into) override {
    CONSOLE_READCONSOLE_CONTROL control{};
    control.nLength = sizeof control;
    control.dwCtrlWakeupMask = console::ctrl_z_wakeup_mask;
    DWORD count = 0;
    SetLastError(ERROR_SUCCESS);
    const BOOL succeeded = ReadConsoleW(handle_, into.data(), clamp_length(into.size()), &count, &control);
    return Result{succeeded != FALSE, count, GetLastError()};
  }

 private:
  HANDLE handle_;
};

class EmptyInput final : public InputStream {
 public:
  std::expected<std::size_t, ReadFailure> read(std::span<char>) override { return 0; }
};

class FailingInput final : public InputStream {
 public:
  std::expected<std::size_t, ReadFailure> read(std::span<char>) override { return std::unexpected(ReadFailure{}); }
};

InputStream& choose_standard_input() {
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  if (handle == INVALID_HANDLE_VALUE) {
    static FailingInput failing;
    return failing;
  }
  if (handle == nullptr) {
    static EmptyInput empty;
    return empty;
  }
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode) != FALSE) {
    static WindowsConsole console(handle);
    static ConsoleInput console_input(console);
    return console_input;
  }
  static HandleInput pipe_or_file(handle);
  return pipe_or_file;
}

}  // namespace

void prepare_process() noexcept {}

std::optional<std::string> environment_value(std::string_view name) {
  const std::u16string wide = wide_name(name);
  const auto* wide_name_pointer = reinterpret_cast<const wchar_t*>(wide.c_str());
  std::vector<wchar_t> buffer(first_environment_buffer);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(wide_name_pointer, buffer.data(), clamp_length(buffer.size()));
    if (length == 0) {
      // Zero with no error is a variable that exists with an empty value.
      if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
      return std::string();
    }
    if (length < buffer.size()) {
      std::u16string units(length, u'\0');
      std::copy_n(buffer.data(), length, units.begin());
      return text::utf16_to_utf8_strict(units);
    }
    // Too small: the length is the room needed, terminator included. Ask again, since the
    // value may have changed in between.
    buffer.resize(length);
  }
}

InputStream& standard_input() {
  static InputStream& input = choose_standard_input();
  return input;
}

void write_error_unbuffered(std::string_view text) noexcept {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  (void)WriteFile(handle, text.data(), clamp_length(text.size()), &written, nullptr);
}

void abort_process() noexcept {
  TerminateProcess(GetCurrentProcess(), status_no_memory);
  ExitProcess(status_no_memory);  // not reached: terminating the own process doesn't return
}

}  // namespace lupirane::driver::platform
