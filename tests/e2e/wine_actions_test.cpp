// The Windows program's actions against the Wine test locker: what each failing locker call
// becomes (a message with its display text, or a silent absence), and how a replacing Set
// keeps the old secret when a later call fails.
#include <gtest/gtest.h>

#include "scenario.hpp"

namespace lupirane::testing {
namespace {

// The test locker's file format: each field as 4-hex-digit UTF-16 units, "-" when empty.
std::string field(std::u16string_view text) {
  if (text.empty()) return "-";
  constexpr char digits[] = "0123456789abcdef";
  std::string out;
  for (const char16_t unit : text) {
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(digits[(static_cast<unsigned>(unit) >> shift) & 0xFu]);
  }
  return out;
}

std::string entry(std::u16string_view resource, std::u16string_view user_name, std::u16string_view password) {
  return field(resource) + " " + field(user_name) + " " + field(password) + "\n";
}

const std::string replacement_char = "\xEF\xBF\xBD";

const std::string cannot_open = "Não foi possível abrir o Cofre do Windows: ";
const std::string cannot_release = "Não foi possível liberar a credencial local: ";
const std::string cannot_read = "Não foi possível ler a credencial local: ";
const std::string cannot_remove = "Não foi possível remover a credencial local: ";
const std::string cannot_prepare = "Não foi possível preparar a credencial local: ";
const std::string cannot_replace = "Não foi possível substituir a credencial local: ";
const std::string cannot_save = "Não foi possível salvar a credencial local: ";

// Wine's FormatMessageW texts (checked once with a probe under this Wine; Windows words them
// differently). 0x80004003 and 0x80040154 have none under Wine, so only the code shows.
const std::string wine_access_denied = "Access denied. (0x80070005)";
const std::string wine_success = "Success. (0x00000000)";

// "r" holds "u" (secret "antigo") and then "w"; "s" is another resource.
const std::string two_users =
    entry(u"r", u"u", u"antigo") + entry(u"s", u"x", u"outro recurso") + entry(u"r", u"w", u"w");

Scenario on_two_users(std::string name, std::string failures, std::vector<Step> steps) {
  return {.name = std::move(name),
          .targets = wine_only,
          .steps = std::move(steps),
          .seeded_wine_locker = two_users,
          .wine_failures = std::move(failures)};
}

std::vector<Scenario> plain_scenarios() {
  const std::string secret = "s\u00eanha \u20ac\U0001F511\r\nlinha dois\n";
  return {
      {.name = "RoundTrip",
       .targets = wine_only,
       .steps = {request("Set", "r", "jo\u00e3o").with_input(secret), request("Get", "r", "jo\u00e3o").expect(0, secret),
                 request("List", "r").expect(0, "[\"jo\u00e3o\"]"), request("Remove", "r", "jo\u00e3o"),
                 request("Get", "r", "jo\u00e3o").expect(3), request("List", "r").expect(0, "[]"),
                 // Removing what isn't there is done, not an error.
                 request("Remove", "r", "jo\u00e3o")}},
      on_two_users("ReplaceMovesToTheEnd", "",
                   {request("Set", "r", "u").with_input("novo"), request("List", "r").expect(0, R"(["w","u"])"),
                    request("Get", "r", "u").expect(0, "novo"), request("List", "s").expect(0, R"(["x"])")}),
      // Unpaired surrogates from the locker come out as U+FFFD, never as invalid UTF-8.
      {.name = "UnpairedSurrogatesFromTheLocker",
       .targets = wine_only,
       .steps = {request("List", "r").expect(0, "[\"" + replacement_char + "x\",\"u\"]"),
                 request("Get", "r", "u").expect(0, "a" + replacement_char + "b" + replacement_char)},
       .seeded_wine_locker = entry(u"r", u"\xD800x", u"p") + entry(u"r", u"u", u"a\xDC00" u"b\xD800")},
  };
}

// One request against a failing locker, and its message: each message with a different way
// of finding the description.
std::vector<Scenario> message_scenarios() {
  return {
      on_two_users("RestrictedDescriptionComesFirst",
                   "RetrievePassword=0x80070005,desc=Descri\\u00e7\\u00e3o,rdesc=Detalhe,restricted=Acesso restrito",
                   {request("Get", "r", "u").fails_with(cannot_release + "Acesso restrito (0x80070005)")}),
      on_two_users("DetailsDescriptionWhenRestrictedIsEmpty",
                   "get_Password=0x80004005,desc=Descri\\u00e7\\u00e3o,rdesc=Detalhe do cofre,restricted=",
                   {request("Get", "r", "u").fails_with(cannot_read + "Detalhe do cofre (0x80004005)")}),
      on_two_users("PlainDescriptionWhenRestrictedTextsAreEmpty",
                   "get_Password=0x80004005,desc=Descri\\u00e7\\u00e3o comum,rdesc=,restricted=",
                   {request("Get", "r", "u").fails_with(cannot_read + "Descri\u00e7\u00e3o comum (0x80004005)")}),
      // Only trailing U+0009-U+000D and U+0020 go: the inner line end and the no-break space stay.
      on_two_users("MultiLineDescriptionLosesTrailingWhiteSpaceOnly",
                   "Remove=0x80070020,desc=Linha um\\u000d\\u000aLinha dois\\u00a0 \\u0009\\u000b\\u000c\\u000d\\u000a",
                   {request("Remove", "r", "u").fails_with(cannot_remove + "Linha um\r\nLinha dois\u00a0 (0x80070020)")}),
      on_two_users("UnpairedSurrogatesInTheDescription", "Remove=0x80070005,restricted=a\\udc00b\\ud800",
                   {request("Remove", "r", "u")
                        .fails_with(cannot_remove + "a" + replacement_char + "b" + replacement_char + " (0x80070005)")}),
      // The error object's empty texts stand, although Wine has a text for the code.
      on_two_users("EmptyErrorObjectGivesTheCodeAlone", "Remove=0x80070005,nodesc",
                   {request("Remove", "r", "u").fails_with(cannot_remove + "0x80070005")}),
      on_two_users("SuccessWithoutCredentialToPrepare", "CreatePasswordCredential=null",
                   {request("Set", "r", "u").with_input("novo").fails_with(cannot_prepare + wine_success)}),
      on_two_users("CredentialClassUnavailable", "CredentialFactory=0x80040154",
                   {request("Set", "r", "u").with_input("novo").fails_with(cannot_prepare + "0x80040154")}),
      on_two_users("VaultActivationFails", "ActivateInstance=0x80070005",
                   {request("List", "r").fails_with(cannot_open + wine_access_denied)}),
      on_two_users("VaultActivationGivesNothing", "ActivateInstance=null",
                   {request("Get", "r", "u").fails_with(cannot_open + wine_success)}),
      // An instance without the vault's interface counts as E_POINTER.
      on_two_users("VaultWithoutItsInterface", "QueryInterface=null",
                   {request("Remove", "r", "u").fails_with(cannot_open + "0x80004003")}),
  };
}

// A failed lookup only means that nothing is stored, whatever the code or error object.
std::vector<Scenario> absence_scenarios() {
  std::vector<Scenario> scenarios;
  for (const auto& [name, failures] : {std::pair{"RetrieveFails", "Retrieve=0x80070005,desc=N\\u00e3o mostrar"},
                                       std::pair{"RetrieveGivesNothing", "Retrieve=null"}}) {
    scenarios.push_back(on_two_users(name, failures,
                                     {request("Get", "r", "u").expect(3), request("Remove", "r", "u"),
                                      // Nothing found to replace: the new one is simply added.
                                      request("Set", "r", "v").with_input("novo"),
                                      request("List", "r").expect(0, R"(["u","w","v"])")}));
  }
  // A listing leaves out what it can't read; with no list at all it is empty.
  for (const auto& [name, failures, listed] :
       {std::tuple{"ListFindFails", "FindAllByResource=0x80070005,desc=Falha", "[]"},
        std::tuple{"ListFindGivesNothing", "FindAllByResource=null", "[]"},
        std::tuple{"ListSizeFails", "get_Size=0x80070005", "[]"},
        std::tuple{"ListSizeBeyondTheItems", "get_Size=count:4", R"(["u","w"])"},
        std::tuple{"ListItemFails", "GetAt#1=0x80070005,desc=Falha", R"(["w"])"},
        std::tuple{"ListItemGivesNothing", "GetAt#2=null", R"(["u"])"},
        std::tuple{"ListUserNameFails", "get_UserName#1=0x8000FFFF", R"(["w"])"}}) {
    scenarios.push_back(on_two_users(name, failures, {request("List", "r").expect(0, listed)}));
  }
  return scenarios;
}

// A Set that replaces: whichever call fails, the old secret is not lost when it can be kept.
std::vector<Scenario> replacement_scenarios() {
  return {
      on_two_users("PrepareFailureLeavesTheOldUntouched", "CreatePasswordCredential=0x80070005,desc=Sem espa\\u00e7o",
                   {request("Set", "r", "u").with_input("novo").fails_with(cannot_prepare + "Sem espa\u00e7o (0x80070005)"),
                    request("Get", "r", "u").expect(0, "antigo"), request("List", "r").expect(0, R"(["u","w"])")}),
      // The Remove failure blocks a replacement but not a new entry, and reads as a removal
      // failure for Remove itself.
      on_two_users("RemoveFailureKeepsTheOld", "Remove=0x80070005",
                   {request("Set", "r", "u").with_input("novo").fails_with(cannot_replace + wine_access_denied),
                    request("Get", "r", "u").expect(0, "antigo"),
                    request("Remove", "r", "u").fails_with(cannot_remove + wine_access_denied),
                    request("Set", "r", "v").with_input("novo"), request("List", "r").expect(0, R"(["u","w","v"])")}),
      on_two_users("AddFailurePutsTheOldBack", "Add#1=0x80070005,restricted=Cofre cheio",
                   {request("Set", "r", "u").with_input("novo").fails_with(cannot_save + "Cofre cheio (0x80070005)"),
                    request("Get", "r", "u").expect(0, "antigo"), request("List", "r").expect(0, R"(["w","u"])"),
                    request("Set", "r", "v").with_input("novo").fails_with(cannot_save + "Cofre cheio (0x80070005)"),
                    request("Get", "r", "v").expect(3)}),
      // When putting the old one back fails too, the first failure is the one reported.
      on_two_users("BothAddsFail", "Add#1=0x80070005,desc=Primeira falha;Add#2=0x8007000E,desc=Segunda falha",
                   {request("Set", "r", "u").with_input("novo").fails_with(cannot_save + "Primeira falha (0x80070005)"),
                    request("Get", "r", "u").expect(3), request("List", "r").expect(0, R"(["w"])")}),
  };
}

class WineActions : public ::testing::TestWithParam<Scenario> {};

TEST_P(WineActions, Scenario) { run_scenario(GetParam()); }
// Every scenario here is for Wine: a native run instantiates none.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(WineActions);

const auto scenario_name = [](const auto& parameter) { return parameter.param.name; };

INSTANTIATE_TEST_SUITE_P(WineActions, WineActions, ::testing::ValuesIn(for_current_target(plain_scenarios())),
                         scenario_name);
INSTANTIATE_TEST_SUITE_P(WineMessages, WineActions, ::testing::ValuesIn(for_current_target(message_scenarios())),
                         scenario_name);
INSTANTIATE_TEST_SUITE_P(WineAbsences, WineActions, ::testing::ValuesIn(for_current_target(absence_scenarios())),
                         scenario_name);
INSTANTIATE_TEST_SUITE_P(WineReplacement, WineActions,
                         ::testing::ValuesIn(for_current_target(replacement_scenarios())), scenario_name);

}  // namespace
}  // namespace lupirane::testing
