// Turning a failed Windows Runtime or COM call into a VaultError, and the system's texts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "vault/vault_error.hpp"

namespace lupirane::winrt {

// Takes the thread's error object with GetErrorInfo. Must be the very next call after
// the one that failed, so that nothing else replaces the object in between.
[[nodiscard]] vault::VaultError capture_failure(HRESULT code);

// FormatMessageW from the system table, or from the table of "ntdll.dll".
[[nodiscard]] std::optional<std::u16string> system_message(std::uint32_t id, vault::MessageSource source);

class SystemMessageTable final : public vault::MessageTable {
 public:
  [[nodiscard]] std::optional<std::u16string> message(std::uint32_t id, vault::MessageSource source) const override {
    return system_message(id, source);
  }
};

// UTF-16 in the system's wchar_t, copied into the portable type.
[[nodiscard]] std::u16string to_u16string(const wchar_t* units, std::size_t count);

}  // namespace lupirane::winrt
