// Plumbing shared by the fake locker's objects: reference counting, string copies in and out
// of HSTRING, and environment look-ups.
#pragma once

#include <windows.h>

#include <inspectable.h>
#include <winstring.h>

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

namespace lupirane::fake_vault {

// Not every import library carries these two.
// {AF86E2E0-B12D-4C6A-9C5A-D7AA65101E90}
inline constexpr IID IID_IInspectable_ = {0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
// {94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90}
inline constexpr IID IID_IAgileObject_ = {0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};

// AddRef and Release for an object exposing the given interfaces. The destructor is virtual
// here because the interfaces have none.
template <class... Interfaces>
class RefCounted : public Interfaces... {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return refs_.fetch_add(1) + 1; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~RefCounted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

// A null HSTRING is the empty string; fast-pass references are copied like any other.
[[nodiscard]] std::wstring copy_hstring(HSTRING value);
// A new string the caller owns (null for the empty string).
[[nodiscard]] HRESULT make_hstring(std::wstring_view value, HSTRING* out) noexcept;
// IInspectable::GetIids: a CoTaskMemAlloc'd copy of the list.
[[nodiscard]] HRESULT copy_iids(const IID* iids, ULONG count, ULONG* out_count, IID** out) noexcept;
// Nullopt when the variable is not set.
[[nodiscard]] std::optional<std::wstring> environment_variable(const wchar_t* name);
// A failure that was not injected leaves no stale error object behind.
HRESULT plain_failure(HRESULT result) noexcept;

}  // namespace lupirane::fake_vault
