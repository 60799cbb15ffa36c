// The fake locker's contents. With LUPIRANE_FAKE_VAULT_FILE set they live in that file, re-read
// by every operation and rewritten by every change, so that separate processes share them;
// otherwise they live in this process only.
//
// File format, one credential a line in index order: RESOURCE USER PASSWORD, each field the
// UTF-16 units as 4 hex digits apiece, or `-` when empty.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lupirane::fake_vault {

struct StoredCredential {
  std::wstring resource;
  std::wstring user_name;
  std::wstring password;
};

[[nodiscard]] std::string encode_credentials(const std::vector<StoredCredential>& credentials);
// Nullopt when the text is not in the format above.
[[nodiscard]] std::optional<std::vector<StoredCredential>> decode_credentials(std::string_view text);

// A damaged file fails with HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
[[nodiscard]] HRESULT read_credentials(std::vector<StoredCredential>& credentials) noexcept;
// Loads, lets `change` edit, and saves unless `change` fails; no other process of the same
// vault file gets in between.
[[nodiscard]] HRESULT update_credentials(
    const std::function<HRESULT(std::vector<StoredCredential>&)>& change) noexcept;

}  // namespace lupirane::fake_vault
