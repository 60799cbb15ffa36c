// The error object of a failed call, read through IErrorInfo and IRestrictedErrorInfo.
#include "vault/windows/error_info_windows.hpp"

#include <cstring>

#include "vault/windows/handles.hpp"
#include "vault/windows/winrt_abi.hpp"

namespace lupirane::winrt {

namespace {

std::optional<std::u16string> bstr_text(const UniqueBstr& text) {
  if (text.get() == nullptr) return std::nullopt;
  return to_u16string(text.get(), SysStringLen(text.get()));
}

class ComErrorObject final : public vault::ErrorObject {
 public:
  explicit ComErrorObject(ComPtr<IErrorInfo> info) : info_(std::move(info)) {}

  std::optional<RestrictedDetails> restricted_details() const override {
    ComPtr<IRestrictedErrorInfo> restricted;
    if (FAILED(info_->QueryInterface(IID_IRestrictedErrorInfo, restricted.put_void())) || !restricted) {
      return std::nullopt;
    }
    UniqueBstr description;
    UniqueBstr restricted_description;
    UniqueBstr capability_sid;  // freed unread
    HRESULT error = S_OK;
    (void)restricted->GetErrorDetails(description.put(), &error, restricted_description.put(), capability_sid.put());
    return RestrictedDetails{bstr_text(description), bstr_text(restricted_description)};
  }

  std::optional<std::u16string> description() const override {
    UniqueBstr text;
    (void)info_->GetDescription(text.put());
    return bstr_text(text);
  }

 private:
  ComPtr<IErrorInfo> info_;
};

}  // namespace

std::u16string to_u16string(const wchar_t* units, std::size_t count) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  std::u16string text(count, u'\0');
  if (count != 0) std::memcpy(text.data(), units, count * sizeof(char16_t));
  return text;
}

vault::VaultError capture_failure(HRESULT code) {
  ComPtr<IErrorInfo> info;
  (void)GetErrorInfo(0, info.put());
  vault::VaultError error;
  error.code = code;
  if (info) error.error_info = std::make_unique<ComErrorObject>(std::move(info));
  return error;
}

std::optional<std::u16string> system_message(std::uint32_t id, vault::MessageSource source) {
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  HMODULE module = nullptr;
  if (source == vault::MessageSource::ntdll) {
    // Never unloaded: ntdll stays mapped for the life of the process anyway.
    module = LoadLibraryExA("ntdll.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    flags |= FORMAT_MESSAGE_FROM_HMODULE;
  }
  UniqueLocalBuffer buffer;
  const DWORD length = FormatMessageW(flags, module, id, 0, buffer.put_for_allocation(), 0, nullptr);
  if (length == 0 || buffer.get() == nullptr) return std::nullopt;
  return to_u16string(buffer.get(), length);
}

}  // namespace lupirane::winrt
