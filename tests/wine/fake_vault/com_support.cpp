#include "com_support.hpp"

#include <oleauto.h>

#include <cstring>

namespace lupirane::fake_vault {

std::wstring copy_hstring(HSTRING value) {
  UINT32 length = 0;
  const wchar_t* buffer = WindowsGetStringRawBuffer(value, &length);
  if (buffer == nullptr || length == 0) return {};
  return std::wstring(buffer, length);
}

HRESULT make_hstring(std::wstring_view value, HSTRING* out) noexcept {
  *out = nullptr;
  if (value.empty()) return S_OK;
  return WindowsCreateString(value.data(), static_cast<UINT32>(value.size()), out);
}

HRESULT copy_iids(const IID* iids, ULONG count, ULONG* out_count, IID** out) noexcept {
  if (out_count == nullptr || out == nullptr) return E_POINTER;
  *out_count = 0;
  *out = static_cast<IID*>(CoTaskMemAlloc(sizeof(IID) * count));
  if (*out == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*out, iids, sizeof(IID) * count);
  *out_count = count;
  return S_OK;
}

std::optional<std::wstring> environment_variable(const wchar_t* name) {
  std::wstring value(64, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD written = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (written == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    // Too small: the result is the size needed, terminator included.
    if (written >= value.size()) {
      value.resize(written);
      continue;
    }
    value.resize(written);
    return value;
  }
}

HRESULT plain_failure(HRESULT result) noexcept {
  SetErrorInfo(0, nullptr);
  return result;
}

}  // namespace lupirane::fake_vault
