// Putting a failed locker call into words: which description is shown, and how.
#include "vault/vault_error.hpp"

#include "common/utf16.hpp"

namespace lupirane::vault {

namespace {

constexpr std::uint32_t ntstatus_flag = 0x10000000;

bool has_text(const std::optional<std::u16string>& text) { return text.has_value() && !text->empty(); }

}  // namespace

VaultError VaultError::described(HResult code, std::string_view english_text) {
  return VaultError{code, std::make_unique<DescribedError>(text::utf8_to_utf16(english_text))};
}

std::string code_text(HResult code) {
  static constexpr char digits[] = "0123456789ABCDEF";
  const std::uint32_t bits = hresult_bits(code);
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) text.push_back(digits[(bits >> shift) & 0xF]);
  return text;
}

std::string describe(const VaultError& error, const MessageTable& messages) {
  if (error.error_info) {
    // A restricted description speaks to the situation more precisely than the plain one.
    std::optional<std::u16string> candidate;
    if (auto details = error.error_info->restricted_details()) {
      candidate = has_text(details->restricted_description) ? std::move(details->restricted_description)
                                                            : std::move(details->description);
    }
    if (!has_text(candidate)) candidate = error.error_info->description();
    // Once an error object is present its text stands, even empty: the table isn't consulted.
    return text::trimmed_message_utf8(candidate.value_or(std::u16string{}));
  }
  const std::uint32_t bits = hresult_bits(error.code);
  const auto message = (bits & ntstatus_flag) != 0 ? messages.message(bits & ~ntstatus_flag, MessageSource::ntdll)
                                                   : messages.message(bits, MessageSource::system);
  return text::trimmed_message_utf8(message.value_or(std::u16string{}));
}

std::string display_text(const VaultError& error, const MessageTable& messages) {
  std::string description = describe(error, messages);
  if (description.empty()) return code_text(error.code);
  description += " (";
  description += code_text(error.code);
  description += ')';
  return description;
}

std::string failure_message(std::string_view prefix, const VaultError& error, const MessageTable& messages) {
  std::string message(prefix);
  message += display_text(error, messages);
  return message;
}

}  // namespace lupirane::vault
