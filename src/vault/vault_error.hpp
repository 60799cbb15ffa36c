// The failure value of a locker call and the text that reports it.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "common/hresult.hpp"

namespace lupirane::vault {

// The thread's error object captured right after a failed call. On Windows it wraps
// IErrorInfo; the Linux locker makes one that carries its own English description.
class ErrorObject {
 public:
  struct RestrictedDetails {
    std::optional<std::u16string> description;             // nullopt: a null string
    std::optional<std::u16string> restricted_description;  // nullopt: a null string
  };

  virtual ~ErrorObject() = default;
  // The texts of IRestrictedErrorInfo::GetErrorDetails, or nothing when the object lacks
  // that interface.
  [[nodiscard]] virtual std::optional<RestrictedDetails> restricted_details() const = 0;
  // IErrorInfo::GetDescription; nothing when it gives no string.
  [[nodiscard]] virtual std::optional<std::u16string> description() const = 0;
};

// An error object holding only a description: what the Linux locker attaches.
class DescribedError final : public ErrorObject {
 public:
  explicit DescribedError(std::u16string description) : description_(std::move(description)) {}
  [[nodiscard]] std::optional<RestrictedDetails> restricted_details() const override { return std::nullopt; }
  [[nodiscard]] std::optional<std::u16string> description() const override { return description_; }

 private:
  std::u16string description_;
};

struct VaultError {
  HResult code = hresult::ok;
  std::unique_ptr<ErrorObject> error_info;  // owned; released with the value

  // An operation that succeeded without giving the object it was due to give.
  [[nodiscard]] static VaultError empty() { return VaultError{}; }
  // A failure described in English text (UTF-8), as the Linux locker reports its errors.
  [[nodiscard]] static VaultError described(HResult code, std::string_view english_text);
};

template <class T>
using VaultResult = std::expected<T, VaultError>;

// Where a system message is looked up.
enum class MessageSource : std::uint8_t { system, ntdll };

// The operating system's message texts by identifier.
class MessageTable {
 public:
  virtual ~MessageTable() = default;
  // The raw text for `id`, or nothing when the system has none.
  [[nodiscard]] virtual std::optional<std::u16string> message(std::uint32_t id, MessageSource source) const = 0;
};

// A table without texts, for a platform with no system messages for HRESULTs.
class NoMessageTable final : public MessageTable {
 public:
  [[nodiscard]] std::optional<std::u16string> message(std::uint32_t, MessageSource) const override {
    return std::nullopt;
  }
};

// "0x" and eight upper-case hexadecimal digits of the code's 32 bits.
[[nodiscard]] std::string code_text(HResult code);

// The description the error object (or, without one, the message table) gives, trailing
// white space removed, as UTF-8.
[[nodiscard]] std::string describe(const VaultError& error, const MessageTable& messages);

// The description, a blank and the code text in parentheses; or the code text alone.
[[nodiscard]] std::string display_text(const VaultError& error, const MessageTable& messages);

// A failure's message: a fixed prefix followed directly by the display text.
[[nodiscard]] std::string failure_message(std::string_view prefix, const VaultError& error,
                                          const MessageTable& messages);

}  // namespace lupirane::vault
