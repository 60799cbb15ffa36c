// Standard output and standard error on Windows: bytes to pipes and files, UTF-16 to a
// console that isn't set to UTF-8.
#include <windows.h>

#include <algorithm>
#include <limits>

#include "common/secret_buffer.hpp"
#include "common/utf16.hpp"
#include "driver/platform.hpp"
#include "vault/windows/error_info_windows.hpp"

namespace lupirane::driver::platform {

namespace {

constexpr UINT utf8_code_page = 65001;

DWORD clamp_length(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max() / 4));
}

// The longest prefix that ends on a character boundary; a write never splits a character
// between two console conversions.
std::size_t complete_prefix(std::span<const char> bytes) {
  std::size_t end = bytes.size();
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    if (byte >= 0xC0) {
      const std::size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
      if (back < needed) end = bytes.size() - back;
    }
    break;
  }
  return end == 0 ? bytes.size() : end;
}

// After a failed write: a handle that isn't valid is a stream the process lacks, which
// swallows what it is given; any other error is the write's failure.
std::expected<std::size_t, OsError> failed_write(std::size_t size) {
  const DWORD error = GetLastError();
  if (error == ERROR_INVALID_HANDLE) return size;
  return std::unexpected(OsError{static_cast<std::int32_t>(error)});
}

class HandleOutput final : public RawOutput {
 public:
  explicit HandleOutput(DWORD standard_handle) : standard_handle_(standard_handle) {}

  std::expected<std::size_t, OsError> write_some(std::span<const char> bytes) override {
    const HANDLE handle = GetStdHandle(standard_handle_);
    // A stream the process lacks swallows what is written to it.
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return bytes.size();
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode) != FALSE && GetConsoleOutputCP() != utf8_code_page) {
      return write_console(handle, bytes);
    }
    DWORD written = 0;
    if (WriteFile(handle, bytes.data(), clamp_length(bytes.size()), &written, nullptr) == FALSE) {
      return failed_write(bytes.size());
    }
    if (written == 0) return std::unexpected(OsError{ERROR_WRITE_FAULT});
    return written;
  }

 private:
  static std::expected<std::size_t, OsError> write_console(HANDLE handle, std::span<const char> bytes) {
    const std::size_t taken = complete_prefix(bytes);
    // The text may be a password: its UTF-16 form is wiped too.
    text::SecretUtf16 units;
    units.reserve(taken);
    text::append_utf16_lenient(units, std::string_view(bytes.data(), taken));
    std::u16string_view pending = units.view();
    while (!pending.empty()) {
      DWORD written = 0;
      if (WriteConsoleW(handle, pending.data(), clamp_length(pending.size()), &written, nullptr) == FALSE) {
        return failed_write(bytes.size());
      }
      if (written == 0) return std::unexpected(OsError{ERROR_WRITE_FAULT});
      pending.remove_prefix(written);
    }
    return taken;
  }

  DWORD standard_handle_;
};

class WindowsControl final : public ProcessControl {
 public:
  std::string error_text(OsError error) const override {
    const auto message = winrt::system_message(static_cast<std::uint32_t>(error.code), vault::MessageSource::system);
    std::string text = text::trimmed_message_utf8(message.value_or(std::u16string{}));
    return text.empty() ? "unknown error" : text;
  }
  [[noreturn]] void terminate(int status) override { ExitProcess(static_cast<UINT>(status)); }
};

}  // namespace

RawOutput& standard_output() {
  static HandleOutput output(STD_OUTPUT_HANDLE);
  return output;
}

RawOutput& standard_error() {
  static HandleOutput output(STD_ERROR_HANDLE);
  return output;
}

ProcessControl& process_control() {
  static WindowsControl control;
  return control;
}

}  // namespace lupirane::driver::platform
