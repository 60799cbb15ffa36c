// The Windows vault binding: the thread joins the multithreaded apartment, and the locker
// is the Windows Runtime class PasswordVault reached through its raw ABI.
#include <limits>

#include "common/utf16.hpp"
#include "vault/binding.hpp"
#include "vault/windows/error_info_windows.hpp"
#include "vault/windows/handles.hpp"
#include "vault/windows/winrt_abi.hpp"

namespace lupirane::winrt {

namespace {

using vault::VaultError;
using vault::VaultResult;

// A fast-pass HSTRING over UTF-16 owned by the caller: nothing is copied, so a secret's
// UTF-16 form lives only in a buffer that is wiped. The text must outlive the reference
// and be followed by a NUL unit. Not movable: the handle points into the header.
class HStringReference {
 public:
  HStringReference(const char16_t* units, std::size_t length) {
    if (length == 0) return;  // the empty text is the null handle
    if (length >= std::numeric_limits<UINT32>::max()) {
      status_ = E_INVALIDARG;
      return;
    }
    status_ = WindowsCreateStringReference(reinterpret_cast<PCWSTR>(units), static_cast<UINT32>(length), &header_,
                                           &string_);
  }
  HStringReference(const HStringReference&) = delete;
  HStringReference& operator=(const HStringReference&) = delete;

  [[nodiscard]] HRESULT status() const noexcept { return status_; }
  [[nodiscard]] HSTRING get() const noexcept { return string_; }

 private:
  HSTRING_HEADER header_{};
  HSTRING string_ = nullptr;
  HRESULT status_ = S_OK;
};

// UTF-8 text as a locker string, for as long as this object lives.
class LockerText {
 public:
  explicit LockerText(std::string_view utf8) : units_(text::utf8_to_utf16(utf8)), reference_(units_.c_str(), units_.size()) {}
  [[nodiscard]] HRESULT status() const noexcept { return reference_.status(); }
  [[nodiscard]] HSTRING get() const noexcept { return reference_.get(); }

 private:
  std::u16string units_;
  HStringReference reference_;
};

// The secret as a locker string, its UTF-16 form wiped when this object goes.
class SecretLockerText {
 public:
  explicit SecretLockerText(std::string_view utf8)
      : units_(to_units(utf8)), reference_(units_.data(), units_.size() - 1) {}
  [[nodiscard]] HRESULT status() const noexcept { return reference_.status(); }
  [[nodiscard]] HSTRING get() const noexcept { return reference_.get(); }

 private:
  static text::SecretUtf16 to_units(std::string_view utf8) {
    text::SecretUtf16 units;
    units.reserve(utf8.size() + 1);
    text::append_utf16(units, utf8);
    units.push_back(u'\0');
    return units;
  }

  text::SecretUtf16 units_;
  HStringReference reference_;
};

std::u16string_view raw_units(HSTRING string) {
  UINT32 length = 0;
  const wchar_t* units = WindowsGetStringRawBuffer(string, &length);
  if (units == nullptr) return {};
  return {reinterpret_cast<const char16_t*>(units), length};
}

class WinRtCredential final : public vault::Credential {
 public:
  explicit WinRtCredential(ComPtr<IPasswordCredential> credential) : credential_(std::move(credential)) {}
  [[nodiscard]] IPasswordCredential* get() const noexcept { return credential_.get(); }

  VaultResult<void> retrieve_password() override {
    const HRESULT result = credential_->RetrievePassword();
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    return {};
  }
  VaultResult<text::SecretText> password() override {
    UniqueHString password;
    const HRESULT result = credential_->get_Password(password.put());
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    text::SecretText utf8;
    text::append_utf8_lenient(utf8, raw_units(password.get()));
    return utf8;
  }
  VaultResult<std::string> user_name() override {
    UniqueHString user_name;
    const HRESULT result = credential_->get_UserName(user_name.put());
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    return text::utf16_to_utf8_lenient(raw_units(user_name.get()));
  }

 private:
  ComPtr<IPasswordCredential> credential_;
};

// A credential the call gave, or the empty failure when it gave none.
VaultResult<std::unique_ptr<vault::Credential>> credential_from(HRESULT result, ComPtr<IPasswordCredential> credential) {
  if (FAILED(result)) return std::unexpected(capture_failure(result));
  if (!credential) return std::unexpected(VaultError::empty());
  return std::make_unique<WinRtCredential>(std::move(credential));
}

class WinRtCredentialList final : public vault::CredentialList {
 public:
  explicit WinRtCredentialList(ComPtr<IVectorView_PasswordCredential> list) : list_(std::move(list)) {}

  VaultResult<std::uint32_t> size() override {
    UINT32 size = 0;
    const HRESULT result = list_->get_Size(&size);
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    return size;
  }
  VaultResult<std::unique_ptr<vault::Credential>> at(std::uint32_t index) override {
    ComPtr<IPasswordCredential> credential;
    const HRESULT result = list_->GetAt(index, credential.put());
    return credential_from(result, std::move(credential));
  }

 private:
  ComPtr<IVectorView_PasswordCredential> list_;
};

class WinRtLocker final : public vault::Locker {
 public:
  explicit WinRtLocker(ComPtr<IPasswordVault> vault) : vault_(std::move(vault)) {}

  VaultResult<std::unique_ptr<vault::Credential>> retrieve(std::string_view resource,
                                                           std::string_view user_name) override {
    const LockerText resource_text(resource);
    const LockerText user_text(user_name);
    if (const HRESULT status = first_failure(resource_text.status(), user_text.status()); FAILED(status)) {
      return std::unexpected(VaultError{status, nullptr});
    }
    ComPtr<IPasswordCredential> credential;
    const HRESULT result = vault_->Retrieve(resource_text.get(), user_text.get(), credential.put());
    return credential_from(result, std::move(credential));
  }

  VaultResult<void> remove(vault::Credential& credential) override {
    const HRESULT result = vault_->Remove(static_cast<WinRtCredential&>(credential).get());
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    return {};
  }

  VaultResult<void> add(vault::Credential& credential) override {
    const HRESULT result = vault_->Add(static_cast<WinRtCredential&>(credential).get());
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    return {};
  }

  VaultResult<std::unique_ptr<vault::CredentialList>> find_all_by_resource(std::string_view resource) override {
    const LockerText resource_text(resource);
    if (FAILED(resource_text.status())) return std::unexpected(VaultError{resource_text.status(), nullptr});
    ComPtr<IVectorView_PasswordCredential> list;
    const HRESULT result = vault_->FindAllByResource(resource_text.get(), list.put());
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    if (!list) return std::unexpected(VaultError::empty());
    return std::make_unique<WinRtCredentialList>(std::move(list));
  }

  VaultResult<std::unique_ptr<vault::Credential>> create_credential(std::string_view resource,
                                                                    std::string_view user_name,
                                                                    std::string_view password) override {
    if (!credential_factory_) {
      // Activated once a run, on first use.
      const HStringReference class_name(reinterpret_cast<const char16_t*>(password_credential_class),
                                        std::size(password_credential_class) - 1);
      const HRESULT result =
          RoGetActivationFactory(class_name.get(), IID_ICredentialFactory, credential_factory_.put_void());
      if (FAILED(result)) return std::unexpected(capture_failure(result));
      if (!credential_factory_) return std::unexpected(VaultError::empty());
    }
    const LockerText resource_text(resource);
    const LockerText user_text(user_name);
    const SecretLockerText password_text(password);
    const HRESULT status = first_failure(first_failure(resource_text.status(), user_text.status()), password_text.status());
    if (FAILED(status)) return std::unexpected(VaultError{status, nullptr});
    ComPtr<IPasswordCredential> credential;
    const HRESULT result = credential_factory_->CreatePasswordCredential(resource_text.get(), user_text.get(),
                                                                         password_text.get(), credential.put());
    return credential_from(result, std::move(credential));
  }

  // The locker has no transactions: each call takes effect at once.
  VaultResult<void> begin_changes() override { return {}; }
  VaultResult<void> commit_changes() override { return {}; }
  void discard_changes() noexcept override {}

 private:
  static HRESULT first_failure(HRESULT first, HRESULT second) { return FAILED(first) ? first : second; }

  ComPtr<IPasswordVault> vault_;
  ComPtr<ICredentialFactory> credential_factory_;
};

class WinRtBinding final : public vault::VaultBinding {
 public:
  VaultResult<void> initialize() override {
    // Never balanced by RoUninitialize: the end of the process ends the apartment.
    const HRESULT result = RoInitialize(RO_INIT_MULTITHREADED);
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    return {};
  }

  VaultResult<std::unique_ptr<vault::Locker>> open_locker() override {
    const HStringReference class_name(reinterpret_cast<const char16_t*>(password_vault_class),
                                      std::size(password_vault_class) - 1);
    ComPtr<IActivationFactory> factory;
    HRESULT result = RoGetActivationFactory(class_name.get(), IID_IActivationFactory_, factory.put_void());
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    if (!factory) return std::unexpected(VaultError::empty());

    ComPtr<IInspectable> instance;
    result = factory->ActivateInstance(instance.put());
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    if (!instance) return std::unexpected(VaultError::empty());

    ComPtr<IPasswordVault> vault;
    result = instance->QueryInterface(IID_IPasswordVault, vault.put_void());
    if (FAILED(result)) return std::unexpected(capture_failure(result));
    if (!vault) return std::unexpected(capture_failure(E_POINTER));
    return std::make_unique<WinRtLocker>(std::move(vault));
  }

  const vault::MessageTable& messages() const override { return messages_; }

 private:
  SystemMessageTable messages_;
};

}  // namespace

}  // namespace lupirane::winrt

namespace lupirane::vault {

std::unique_ptr<VaultBinding> make_platform_binding() { return std::make_unique<winrt::WinRtBinding>(); }

}  // namespace lupirane::vault
