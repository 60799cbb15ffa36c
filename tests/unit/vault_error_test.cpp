// Which description a failed locker call is shown with, and how the code is written.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/fakes.hpp"
#include "vault/vault_error.hpp"

namespace lupirane::vault {
namespace {

using Lookup = std::pair<std::uint32_t, MessageSource>;

TEST(CodeText, EightUpperCaseHexDigits) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0x00000000, "0x00000000"}, {0x80004003, "0x80004003"}, {0x00000001, "0x00000001"},
      {0xDEADBEEF, "0xDEADBEEF"}, {0x0000ABCD, "0x0000ABCD"}, {0xFFFFFFFF, "0xFFFFFFFF"},
  };
  for (const auto& [bits, expected] : cases) {
    EXPECT_EQ(code_text(hresult_from_bits(bits)), expected);
  }
  EXPECT_EQ(code_text(hresult::pointer), "0x80004003");
}

struct ErrorObjectTexts {
  bool restricted_interface = false;
  std::optional<std::u16string> restricted;
  std::optional<std::u16string> details;
  std::optional<std::u16string> plain;
};

struct DisplayCase {
  const char* name;
  std::uint32_t code;
  std::optional<ErrorObjectTexts> object;  // nullopt: no error object
  std::vector<std::pair<Lookup, std::u16string>> table;
  std::string expected;
  std::vector<Lookup> expected_lookups;
};

TEST(DisplayText, DescriptionChoiceAndForm) {
  constexpr std::uint32_t denied = 0x80070005;
  constexpr auto system = MessageSource::system;
  constexpr auto ntdll = MessageSource::ntdll;
  const std::vector<std::pair<Lookup, std::u16string>> denied_text = {{{denied, system}, u"Table text.\r\n"}};
  const DisplayCase cases[] = {
      {"restricted description first", denied, ErrorObjectTexts{true, u"Restricted.", u"Details.", u"Plain."},
       denied_text, "Restricted. (0x80070005)", {}},
      {"empty restricted falls back to details", denied, ErrorObjectTexts{true, u"", u"Details.", u"Plain."}, {},
       "Details. (0x80070005)", {}},
      {"null restricted falls back to details", denied,
       ErrorObjectTexts{true, std::nullopt, u"Details.", u"Plain."}, {}, "Details. (0x80070005)", {}},
      {"both null falls back to plain", denied, ErrorObjectTexts{true, std::nullopt, std::nullopt, u"Plain."}, {},
       "Plain. (0x80070005)", {}},
      {"both empty falls back to plain", denied, ErrorObjectTexts{true, u"", u"", u"Plain."}, {},
       "Plain. (0x80070005)", {}},
      {"no restricted interface", denied, ErrorObjectTexts{false, u"Restricted.", u"Details.", u"Plain.\r\n"}, {},
       "Plain. (0x80070005)", {}},
      {"object with no text: table not consulted", denied, ErrorObjectTexts{true, std::nullopt, std::nullopt,
                                                                           std::nullopt},
       denied_text, "0x80070005", {}},
      {"object with empty plain text", denied, ErrorObjectTexts{false, {}, {}, u""}, denied_text, "0x80070005", {}},
      {"object with white space only", denied, ErrorObjectTexts{false, {}, {}, u" \t\r\n"}, denied_text,
       "0x80070005", {}},
      {"white-space restricted text is chosen, then empty", denied,
       ErrorObjectTexts{true, u" \r\n", u"Details.", u"Plain."}, denied_text, "0x80070005", {}},
      {"unpaired surrogate", denied, ErrorObjectTexts{false, {}, {}, u"Bad \xD800 text"}, {},
       "Bad \xEF\xBF\xBD text (0x80070005)", {}},
      {"multi-line keeps inner line break", denied, ErrorObjectTexts{false, {}, {}, u"One.\r\nTwo.\r\n"}, {},
       "One.\r\nTwo. (0x80070005)", {}},
      {"table text", denied, std::nullopt, denied_text, "Table text. (0x80070005)", {{denied, system}}},
      {"no table text", 0x80004005, std::nullopt, denied_text, "0x80004005", {{0x80004005, system}}},
      {"table text white space only", denied, std::nullopt, {{{denied, system}, u"\r\n"}}, "0x80070005",
       {{denied, system}}},
      {"status code looked up in ntdll", 0xD0000022, std::nullopt,
       {{{0xC0000022, ntdll}, u"Status text.\r\n"}, {{0xD0000022, system}, u"Wrong."}},
       "Status text. (0xD0000022)", {{0xC0000022, ntdll}}},
      {"zero", 0, std::nullopt, {}, "0x00000000", {{0, system}}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    testing::FakeMessageTable messages;
    for (const auto& [key, text] : test.table) messages.texts.emplace(key, text);
    VaultError error{hresult_from_bits(test.code), nullptr};
    if (test.object) {
      auto object = std::make_unique<testing::FakeErrorObject>();
      object->has_restricted_interface = test.object->restricted_interface;
      object->restricted_description = test.object->restricted;
      object->details_description = test.object->details;
      object->plain_description = test.object->plain;
      error.error_info = std::move(object);
    }

    EXPECT_EQ(display_text(error, messages), test.expected);
    EXPECT_EQ(messages.lookups, test.expected_lookups);
  }
}

TEST(DisplayText, DescribedErrorCarriesItsText) {
  const std::pair<const char*, const char*> cases[] = {
      {"The store is locked.", "The store is locked. (0x80070005)"},
      {"Ação \xF0\x9F\x98\x80 negada.\n", "Ação \xF0\x9F\x98\x80 negada. (0x80070005)"},
      {"", "0x80070005"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    testing::FakeMessageTable messages;
    EXPECT_EQ(display_text(VaultError::described(hresult::access_denied, text), messages), expected);
    EXPECT_TRUE(messages.lookups.empty());
  }
}

}  // namespace
}  // namespace lupirane::vault
