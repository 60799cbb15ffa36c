// The locker's runtime classes and the DLL's entry points.
#include "com_support.hpp"
#include "credential_file.hpp"
#include "fault_injection.hpp"
#include "vault/windows/handles.hpp"
#include "vault/windows/winrt_abi.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lupirane::fake_vault {
namespace {

namespace rt = lupirane::winrt;

// Answered only by this DLL's credentials, so that the vault reads them directly instead of
// through the accessors that fault rules count.
// {D2921BA2-4823-4EE8-8AB9-A721D3CF9EC5}
constexpr IID IID_OwnCredential = {0xD2921BA2, 0x4823, 0x4EE8, {0x8A, 0xB9, 0xA7, 0x21, 0xD3, 0xCF, 0x9E, 0xC5}};

constexpr auto not_found = static_cast<HRESULT>(0x80070490);  // ERROR_NOT_FOUND
constexpr auto out_of_bounds = static_cast<HRESULT>(0x8000000B);
constexpr auto class_not_registered = static_cast<HRESULT>(0x80040154);

constexpr wchar_t credential_list_class[] =
    L"Windows.Foundation.Collections.IVectorView`1<Windows.Security.Credentials.PasswordCredential>";

template <std::size_t Size>
HRESULT class_name(const wchar_t (&name)[Size], HSTRING* out) noexcept {
  if (out == nullptr) return E_POINTER;
  return make_hstring(std::wstring_view(name, Size - 1), out);
}

HRESULT base_trust(TrustLevel* level) noexcept {
  if (level == nullptr) return E_POINTER;
  *level = BaseTrust;
  return S_OK;
}

bool is_inspectable_base(REFIID iid) noexcept {
  return iid == IID_IUnknown || iid == IID_IInspectable_ || iid == IID_IAgileObject_;
}

// For a call whose out value is already null: the result when a fault rule ends it here.
std::optional<HRESULT> intercepted(Operation operation) noexcept {
  const Interception interception = intercept(operation);
  if (interception.effect == Effect::fail) return interception.result;
  if (interception.effect == Effect::null_result) return S_OK;
  return std::nullopt;
}

class Credential final : public RefCounted<rt::IPasswordCredential> {
 public:
  // Without a password the credential came from a listing; RetrievePassword fetches it.
  Credential(std::wstring resource, std::wstring user_name, std::optional<std::wstring> password)
      : resource_(std::move(resource)), user_name_(std::move(user_name)), password_(std::move(password)) {}

  [[nodiscard]] StoredCredential stored() const {
    return {resource_, user_name_, password_.value_or(std::wstring())};
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!is_inspectable_base(iid) && iid != rt::IID_IPasswordCredential && iid != IID_OwnCredential)
      return E_NOINTERFACE;
    *out = static_cast<rt::IPasswordCredential*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) noexcept override {
    return copy_iids(&rt::IID_IPasswordCredential, 1, count, iids);
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) noexcept override {
    return class_name(rt::password_credential_class, name);
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) noexcept override { return base_trust(level); }

  HRESULT STDMETHODCALLTYPE get_Resource(HSTRING* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    return make_hstring(resource_, value);
  }
  HRESULT STDMETHODCALLTYPE put_Resource(HSTRING value) noexcept override {
    resource_ = copy_hstring(value);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_UserName(HSTRING* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    if (const auto early = intercepted(Operation::get_user_name)) return *early;
    return make_hstring(user_name_, value);
  }
  HRESULT STDMETHODCALLTYPE put_UserName(HSTRING value) noexcept override {
    user_name_ = copy_hstring(value);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Password(HSTRING* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    if (const auto early = intercepted(Operation::get_password)) return *early;
    return password_ ? make_hstring(*password_, value) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Password(HSTRING value) noexcept override {
    password_ = copy_hstring(value);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RetrievePassword() noexcept override {
    if (const Interception interception = intercept(Operation::retrieve_password); interception.effect == Effect::fail)
      return interception.result;
    if (password_) return S_OK;
    std::vector<StoredCredential> all;
    if (const HRESULT result = read_credentials(all); FAILED(result)) return plain_failure(result);
    for (StoredCredential& entry : all) {
      if (entry.resource == resource_ && entry.user_name == user_name_) {
        password_ = std::move(entry.password);
        return S_OK;
      }
    }
    return plain_failure(not_found);
  }
  HRESULT STDMETHODCALLTYPE get_Properties(IInspectable** value) noexcept override {
    if (value != nullptr) *value = nullptr;
    return plain_failure(E_NOTIMPL);
  }

 private:
  std::wstring resource_;
  std::wstring user_name_;
  std::optional<std::wstring> password_;
};

// Null for a credential some other code implemented.
rt::ComPtr<Credential> own_credential(rt::IPasswordCredential* credential) noexcept {
  void* raw = nullptr;
  if (FAILED(credential->QueryInterface(IID_OwnCredential, &raw)) || raw == nullptr) return {};
  return rt::ComPtr<Credential>(static_cast<Credential*>(static_cast<rt::IPasswordCredential*>(raw)));
}

class CredentialList final : public RefCounted<rt::IVectorView_PasswordCredential> {
 public:
  explicit CredentialList(std::vector<rt::ComPtr<Credential>> items) : items_(std::move(items)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!is_inspectable_base(iid) && iid != rt::IID_IVectorView_PasswordCredential) return E_NOINTERFACE;
    *out = static_cast<rt::IVectorView_PasswordCredential*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) noexcept override {
    return copy_iids(&rt::IID_IVectorView_PasswordCredential, 1, count, iids);
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) noexcept override {
    return class_name(credential_list_class, name);
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) noexcept override { return base_trust(level); }

  HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, rt::IPasswordCredential** item) noexcept override {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (const auto early = intercepted(Operation::get_at)) return *early;
    if (index >= items_.size()) return plain_failure(out_of_bounds);
    *item = items_[index].get();
    (*item)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Size(UINT32* size) noexcept override {
    if (size == nullptr) return E_POINTER;
    *size = 0;
    const Interception interception = intercept(Operation::get_size);
    if (interception.effect == Effect::fail) return interception.result;
    *size = interception.effect == Effect::report_size ? interception.size : static_cast<UINT32>(items_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IndexOf(rt::IPasswordCredential* value, UINT32* index, boolean* found) noexcept override {
    if (index == nullptr || found == nullptr) return E_POINTER;
    *index = 0;
    *found = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].get() == value) {
        *index = static_cast<UINT32>(i);
        *found = 1;
        break;
      }
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMany(UINT32 start_index, UINT32 capacity, rt::IPasswordCredential** items,
                                    UINT32* actual) noexcept override {
    if (actual == nullptr || (items == nullptr && capacity != 0)) return E_POINTER;
    *actual = 0;
    if (start_index > items_.size()) return plain_failure(out_of_bounds);
    UINT32 copied = 0;
    for (std::size_t i = start_index; i < items_.size() && copied < capacity; ++i, ++copied) {
      items[copied] = items_[i].get();
      items[copied]->AddRef();
    }
    *actual = copied;
    return S_OK;
  }

 private:
  std::vector<rt::ComPtr<Credential>> items_;
};

// A snapshot of the stored credentials that `keep` selects, without their passwords.
template <class Keep>
HRESULT list_credentials(Keep keep, bool none_is_failure, rt::IVectorView_PasswordCredential** out) noexcept {
  std::vector<StoredCredential> all;
  if (const HRESULT result = read_credentials(all); FAILED(result)) return plain_failure(result);
  std::vector<rt::ComPtr<Credential>> items;
  for (StoredCredential& entry : all) {
    if (keep(entry))
      items.emplace_back(new Credential(std::move(entry.resource), std::move(entry.user_name), std::nullopt));
  }
  if (items.empty() && none_is_failure) return plain_failure(not_found);
  *out = new CredentialList(std::move(items));
  return S_OK;
}

bool same_key(const StoredCredential& left, const StoredCredential& right) noexcept {
  return left.resource == right.resource && left.user_name == right.user_name;
}

class Vault final : public RefCounted<rt::IPasswordVault> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == rt::IID_IPasswordVault) {
      if (const auto early = intercepted(Operation::query_interface)) return *early;
    } else if (!is_inspectable_base(iid)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<rt::IPasswordVault*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) noexcept override {
    return copy_iids(&rt::IID_IPasswordVault, 1, count, iids);
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) noexcept override {
    return class_name(rt::password_vault_class, name);
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) noexcept override { return base_trust(level); }

  HRESULT STDMETHODCALLTYPE Add(rt::IPasswordCredential* credential) noexcept override {
    if (const Interception interception = intercept(Operation::add); interception.effect == Effect::fail)
      return interception.result;
    if (credential == nullptr) return plain_failure(E_POINTER);
    const auto own = own_credential(credential);
    if (!own) return plain_failure(E_INVALIDARG);
    StoredCredential added = own->stored();
    const HRESULT result = update_credentials([&](std::vector<StoredCredential>& all) {
      std::erase_if(all, [&](const StoredCredential& entry) { return same_key(entry, added); });
      all.push_back(std::move(added));
      return S_OK;
    });
    return FAILED(result) ? plain_failure(result) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Remove(rt::IPasswordCredential* credential) noexcept override {
    if (const Interception interception = intercept(Operation::remove); interception.effect == Effect::fail)
      return interception.result;
    if (credential == nullptr) return plain_failure(E_POINTER);
    const auto own = own_credential(credential);
    if (!own) return plain_failure(E_INVALIDARG);
    const StoredCredential removed = own->stored();
    const HRESULT result = update_credentials([&](std::vector<StoredCredential>& all) {
      return std::erase_if(all, [&](const StoredCredential& entry) { return same_key(entry, removed); }) == 0
                 ? not_found
                 : S_OK;
    });
    return FAILED(result) ? plain_failure(result) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Retrieve(HSTRING resource, HSTRING user_name,
                                     rt::IPasswordCredential** credential) noexcept override {
    if (credential == nullptr) return plain_failure(E_POINTER);
    *credential = nullptr;
    if (const auto early = intercepted(Operation::retrieve)) return *early;
    const StoredCredential wanted{copy_hstring(resource), copy_hstring(user_name), {}};
    std::vector<StoredCredential> all;
    if (const HRESULT result = read_credentials(all); FAILED(result)) return plain_failure(result);
    for (StoredCredential& entry : all) {
      if (same_key(entry, wanted)) {
        *credential = new Credential(std::move(entry.resource), std::move(entry.user_name), std::move(entry.password));
        return S_OK;
      }
    }
    return plain_failure(not_found);
  }
  HRESULT STDMETHODCALLTYPE FindAllByResource(HSTRING resource,
                                              rt::IVectorView_PasswordCredential** credentials) noexcept override {
    if (credentials == nullptr) return plain_failure(E_POINTER);
    *credentials = nullptr;
    if (const auto early = intercepted(Operation::find_all_by_resource)) return *early;
    const std::wstring wanted = copy_hstring(resource);
    return list_credentials([&](const StoredCredential& entry) { return entry.resource == wanted; }, true,
                            credentials);
  }
  HRESULT STDMETHODCALLTYPE FindAllByUserName(HSTRING user_name,
                                              rt::IVectorView_PasswordCredential** credentials) noexcept override {
    if (credentials == nullptr) return plain_failure(E_POINTER);
    *credentials = nullptr;
    const std::wstring wanted = copy_hstring(user_name);
    return list_credentials([&](const StoredCredential& entry) { return entry.user_name == wanted; }, true,
                            credentials);
  }
  HRESULT STDMETHODCALLTYPE RetrieveAll(rt::IVectorView_PasswordCredential** credentials) noexcept override {
    if (credentials == nullptr) return plain_failure(E_POINTER);
    *credentials = nullptr;
    return list_credentials([](const StoredCredential&) { return true; }, false, credentials);
  }
};

class VaultFactory final : public RefCounted<IActivationFactory> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!is_inspectable_base(iid) && iid != rt::IID_IActivationFactory_) return E_NOINTERFACE;
    *out = static_cast<IActivationFactory*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) noexcept override {
    return copy_iids(&rt::IID_IActivationFactory_, 1, count, iids);
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) noexcept override {
    return class_name(rt::password_vault_class, name);
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) noexcept override { return base_trust(level); }

  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) noexcept override {
    if (instance == nullptr) return plain_failure(E_POINTER);
    *instance = nullptr;
    if (const auto early = intercepted(Operation::activate_instance)) return *early;
    *instance = new Vault();
    return S_OK;
  }
};

class CredentialFactory final : public RefCounted<IActivationFactory, rt::ICredentialFactory> {
 public:
  // With `hands_out_null` every QueryInterface succeeds with a null pointer, which is how the
  // activation machinery passes a null factory on to the caller.
  explicit CredentialFactory(bool hands_out_null) noexcept : hands_out_null_(hands_out_null) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (hands_out_null_) return S_OK;
    if (is_inspectable_base(iid) || iid == rt::IID_IActivationFactory_) {
      *out = static_cast<IActivationFactory*>(this);
    } else if (iid == rt::IID_ICredentialFactory) {
      *out = static_cast<rt::ICredentialFactory*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) noexcept override {
    const IID implemented[] = {rt::IID_IActivationFactory_, rt::IID_ICredentialFactory};
    return copy_iids(implemented, 2, count, iids);
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) noexcept override {
    return class_name(rt::password_credential_class, name);
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) noexcept override { return base_trust(level); }

  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) noexcept override {
    if (instance == nullptr) return plain_failure(E_POINTER);
    *instance = new Credential(std::wstring(), std::wstring(), std::wstring());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreatePasswordCredential(HSTRING resource, HSTRING user_name, HSTRING password,
                                                     rt::IPasswordCredential** credential) noexcept override {
    if (credential == nullptr) return plain_failure(E_POINTER);
    *credential = nullptr;
    if (const auto early = intercepted(Operation::create_password_credential)) return *early;
    *credential = new Credential(copy_hstring(resource), copy_hstring(user_name), copy_hstring(password));
    return S_OK;
  }

 private:
  bool hands_out_null_;
};

// The activation machinery may unload the DLL once it has the factory, while the objects (and
// the error objects left with SetErrorInfo) still need its code.
void pin_module() noexcept {
  static const char anchor = 0;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&anchor), &module);
}

HRESULT get_activation_factory(HSTRING class_id, IActivationFactory** factory) noexcept {
  if (factory == nullptr) return E_POINTER;
  *factory = nullptr;
  pin_module();
  if (!fault_rules_valid()) return plain_failure(E_INVALIDARG);
  const std::wstring name = copy_hstring(class_id);
  if (name == rt::password_vault_class) {
    *factory = new VaultFactory();
    return S_OK;
  }
  if (name == rt::password_credential_class) {
    const Interception interception = intercept(Operation::credential_factory);
    if (interception.effect == Effect::fail) return interception.result;
    *factory = new CredentialFactory(interception.effect == Effect::null_result);
    return S_OK;
  }
  return class_not_registered;
}

}  // namespace
}  // namespace lupirane::fake_vault

extern "C" HRESULT WINAPI DllGetActivationFactory(HSTRING class_id, IActivationFactory** factory) noexcept {
  return lupirane::fake_vault::get_activation_factory(class_id, factory);
}

// The objects handed out outlive any unload request.
extern "C" HRESULT WINAPI DllCanUnloadNow() noexcept { return S_FALSE; }
