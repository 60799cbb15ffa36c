// Failures on request, read once per process from LUPIRANE_FAKE_VAULT_FAIL:
//   RULE[;RULE...]   RULE = OPERATION[#N]=RESULT[,ERRORINFO...]
// #N limits a rule to the N-th call of OPERATION in this process; the first matching rule wins.
// RESULT is 0xHHHHHHHH (returned, out values null, nothing changed), `null` (success with a
// null out value) or, for get_Size only, `count:N`. ERRORINFO, after a hex RESULT only, is one
// of desc=TEXT, nodesc, rdesc=TEXT, restricted=TEXT; TEXT understands \uXXXX, \\, \, and \;.
// Anything malformed makes every operation fail with E_INVALIDARG, so a bad test shows.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lupirane::fake_vault {

enum class Operation {
  activate_instance,
  query_interface,
  credential_factory,
  retrieve,
  remove,
  add,
  find_all_by_resource,
  get_size,
  get_at,
  retrieve_password,
  get_password,
  get_user_name,
  create_password_credential,
};
inline constexpr std::size_t operation_count = 13;

// The error object a failing call leaves for GetErrorInfo.
struct ErrorObjectContent {
  std::optional<std::wstring> description;
  // With either of the next two the object also answers IRestrictedErrorInfo.
  std::optional<std::wstring> details_description;
  std::optional<std::wstring> restricted_description;
  [[nodiscard]] bool restricted() const noexcept {
    return details_description.has_value() || restricted_description.has_value();
  }
};

enum class Effect { proceed, fail, null_result, report_size };

struct FaultRule {
  Operation operation = Operation::activate_instance;
  unsigned long long call = 0;  // 1-based; 0 means every call
  Effect effect = Effect::fail;
  HRESULT result = S_OK;
  UINT32 size = 0;
  std::optional<ErrorObjectContent> error_object;
};

// Nullopt when any rule is malformed. Empty rules (";;") are ignored.
[[nodiscard]] std::optional<std::vector<FaultRule>> parse_fault_rules(std::wstring_view text);

struct Interception {
  Effect effect = Effect::proceed;
  HRESULT result = S_OK;
  UINT32 size = 0;
};

// Counts a call of `operation` in this process and says what it must do. For Effect::fail the
// error object (or its absence) is already in place; malformed rules fail with E_INVALIDARG.
[[nodiscard]] Interception intercept(Operation operation) noexcept;
[[nodiscard]] bool fault_rules_valid() noexcept;

}  // namespace lupirane::fake_vault
