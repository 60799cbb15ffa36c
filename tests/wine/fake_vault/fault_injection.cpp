#include "fault_injection.hpp"

#include "com_support.hpp"
#include "vault/windows/winrt_abi.hpp"

#include <oaidl.h>
#include <oleauto.h>

#include <array>
#include <atomic>
#include <utility>

namespace lupirane::fake_vault {
namespace {

struct OperationName {
  std::wstring_view name;
  Operation operation;
  bool gives_object;  // whether `null` makes sense for it
};

constexpr std::array<OperationName, operation_count> operation_names{{
    {L"ActivateInstance", Operation::activate_instance, true},
    {L"QueryInterface", Operation::query_interface, true},
    {L"CredentialFactory", Operation::credential_factory, true},
    {L"Retrieve", Operation::retrieve, true},
    {L"Remove", Operation::remove, false},
    {L"Add", Operation::add, false},
    {L"FindAllByResource", Operation::find_all_by_resource, true},
    {L"get_Size", Operation::get_size, false},
    {L"GetAt", Operation::get_at, true},
    {L"RetrievePassword", Operation::retrieve_password, false},
    {L"get_Password", Operation::get_password, true},
    {L"get_UserName", Operation::get_user_name, true},
    {L"CreatePasswordCredential", Operation::create_password_credential, true},
}};

int hex_digit(wchar_t c) noexcept {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Splits at `separator` where it is not escaped; the escapes stay for unescape().
std::vector<std::wstring_view> split_unescaped(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring_view> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\\') {
      ++i;
    } else if (text[i] == separator) {
      pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

std::optional<std::wstring> unescape(std::wstring_view text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    const wchar_t escaped = text[i];
    if (escaped == L'\\' || escaped == L',' || escaped == L';') {
      out.push_back(escaped);
    } else if (escaped == L'u' && text.size() - i > 4) {
      unsigned unit = 0;
      for (std::size_t k = 1; k <= 4; ++k) {
        const int digit = hex_digit(text[i + k]);
        if (digit < 0) return std::nullopt;
        unit = unit * 16 + static_cast<unsigned>(digit);
      }
      out.push_back(static_cast<wchar_t>(unit));
      i += 4;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::optional<unsigned long long> parse_decimal(std::wstring_view text, unsigned long long limit) {
  if (text.empty()) return std::nullopt;
  unsigned long long value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - L'0');
    if (value > limit) return std::nullopt;
  }
  return value;
}

std::optional<HRESULT> parse_hresult(std::wstring_view text) {
  if (text.size() < 3 || text.size() > 10 || text[0] != L'0' || (text[1] != L'x' && text[1] != L'X'))
    return std::nullopt;
  unsigned long value = 0;
  for (const wchar_t c : text.substr(2)) {
    const int digit = hex_digit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned long>(digit);
  }
  return static_cast<HRESULT>(value);
}

// Sets `field` once from TEXT; a second setting of the same field is a mistake in the test.
bool set_once(std::optional<std::wstring>& field, std::wstring_view raw_text) {
  if (field.has_value()) return false;
  field = unescape(raw_text);
  return field.has_value();
}

std::optional<FaultRule> parse_rule(std::wstring_view text) {
  const std::size_t equals = text.find(L'=');
  if (equals == std::wstring_view::npos) return std::nullopt;
  std::wstring_view name = text.substr(0, equals);
  FaultRule rule;
  if (const std::size_t hash = name.find(L'#'); hash != std::wstring_view::npos) {
    const auto call = parse_decimal(name.substr(hash + 1), 0xFFFFFFFFull);
    if (!call || *call == 0) return std::nullopt;
    rule.call = *call;
    name = name.substr(0, hash);
  }
  const OperationName* known = nullptr;
  for (const auto& entry : operation_names) {
    if (entry.name == name) known = &entry;
  }
  if (known == nullptr) return std::nullopt;
  rule.operation = known->operation;

  const auto items = split_unescaped(text.substr(equals + 1), L',');
  const std::wstring_view result = items.front();
  constexpr std::wstring_view count_prefix = L"count:";
  if (result == L"null") {
    if (!known->gives_object) return std::nullopt;
    rule.effect = Effect::null_result;
  } else if (result.starts_with(count_prefix)) {
    if (rule.operation != Operation::get_size) return std::nullopt;
    const auto size = parse_decimal(result.substr(count_prefix.size()), 0xFFFFFFFFull);
    if (!size) return std::nullopt;
    rule.effect = Effect::report_size;
    rule.size = static_cast<UINT32>(*size);
  } else {
    const auto hresult = parse_hresult(result);
    if (!hresult) return std::nullopt;
    rule.effect = Effect::fail;
    rule.result = *hresult;
  }
  if (items.size() == 1) return rule;
  if (rule.effect != Effect::fail) return std::nullopt;

  ErrorObjectContent content;
  bool no_description = false;
  for (std::size_t i = 1; i < items.size(); ++i) {
    const std::wstring_view item = items[i];
    const std::size_t item_equals = item.find(L'=');
    const std::wstring_view key = item.substr(0, item_equals);
    const std::wstring_view raw_text =
        item_equals == std::wstring_view::npos ? std::wstring_view() : item.substr(item_equals + 1);
    bool ok = false;
    if (item == L"nodesc") {
      ok = !no_description && !content.description.has_value();
      no_description = true;
    } else if (item_equals == std::wstring_view::npos) {
      ok = false;
    } else if (key == L"desc") {
      ok = !no_description && set_once(content.description, raw_text);
    } else if (key == L"rdesc") {
      ok = set_once(content.details_description, raw_text);
    } else if (key == L"restricted") {
      ok = set_once(content.restricted_description, raw_text);
    }
    if (!ok) return std::nullopt;
  }
  rule.error_object = std::move(content);
  return rule;
}

BSTR make_bstr(const std::optional<std::wstring>& text) noexcept {
  if (!text) return nullptr;
  return SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
}

HRESULT give_bstr(const std::optional<std::wstring>& text, BSTR* out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = make_bstr(text);
  return (text && *out == nullptr) ? E_OUTOFMEMORY : S_OK;
}

class ErrorObject final : public RefCounted<IErrorInfo, winrt::IRestrictedErrorInfo> {
 public:
  ErrorObject(HRESULT result, ErrorObjectContent content) : result_(result), content_(std::move(content)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IErrorInfo) {
      *out = static_cast<IErrorInfo*>(this);
    } else if (iid == winrt::IID_IRestrictedErrorInfo && content_.restricted()) {
      *out = static_cast<winrt::IRestrictedErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) noexcept override {
    if (guid == nullptr) return E_POINTER;
    *guid = GUID_NULL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) noexcept override { return give_bstr(std::nullopt, source); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) noexcept override {
    return give_bstr(content_.description, description);
  }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* help_file) noexcept override {
    return give_bstr(std::nullopt, help_file);
  }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) noexcept override {
    if (context == nullptr) return E_POINTER;
    *context = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR* description, HRESULT* error, BSTR* restricted_description,
                                            BSTR* capability_sid) noexcept override {
    if (description == nullptr || error == nullptr || restricted_description == nullptr || capability_sid == nullptr)
      return E_POINTER;
    *description = make_bstr(content_.details_description);
    *error = result_;
    *restricted_description = make_bstr(content_.restricted_description);
    *capability_sid = nullptr;
    if ((content_.details_description && *description == nullptr) ||
        (content_.restricted_description && *restricted_description == nullptr)) {
      SysFreeString(*description);
      SysFreeString(*restricted_description);
      *description = nullptr;
      *restricted_description = nullptr;
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetReference(BSTR* reference) noexcept override {
    return give_bstr(std::nullopt, reference);
  }

 private:
  HRESULT result_;
  ErrorObjectContent content_;
};

const std::optional<std::vector<FaultRule>>& fault_rules() {
  static const std::optional<std::vector<FaultRule>> rules =
      parse_fault_rules(environment_variable(L"LUPIRANE_FAKE_VAULT_FAIL").value_or(std::wstring()));
  return rules;
}

std::array<std::atomic<unsigned long long>, operation_count> call_counts{};

}  // namespace

std::optional<std::vector<FaultRule>> parse_fault_rules(std::wstring_view text) {
  std::vector<FaultRule> rules;
  for (const std::wstring_view piece : split_unescaped(text, L';')) {
    if (piece.empty()) continue;
    auto rule = parse_rule(piece);
    if (!rule) return std::nullopt;
    rules.push_back(std::move(*rule));
  }
  return rules;
}

bool fault_rules_valid() noexcept { return fault_rules().has_value(); }

Interception intercept(Operation operation) noexcept {
  const auto& rules = fault_rules();
  if (!rules) return {Effect::fail, plain_failure(E_INVALIDARG), 0};
  const unsigned long long call = call_counts[static_cast<std::size_t>(operation)].fetch_add(1) + 1;
  for (const FaultRule& rule : *rules) {
    if (rule.operation != operation || (rule.call != 0 && rule.call != call)) continue;
    if (rule.effect == Effect::fail) {
      if (!rule.error_object) return {Effect::fail, plain_failure(rule.result), 0};
      auto* error = new ErrorObject(rule.result, *rule.error_object);
      SetErrorInfo(0, error);
      error->Release();
    }
    return {rule.effect, rule.result, rule.size};
  }
  return {};
}

}  // namespace lupirane::fake_vault
