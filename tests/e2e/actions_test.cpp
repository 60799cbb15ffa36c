// The four actions from end to end, against the Linux store and, under Wine, the Windows
// program over the test locker: one table for both, plus what only the Linux store has.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "scenario.hpp"

namespace lupirane::testing {
namespace {

const std::string unreadable = "Não foi possível ler a credencial recebida.";
const std::string blank = "A credencial recebida está vazia.";
const std::string too_long = "A credencial recebida excede o limite permitido.";

Step set(const std::string& resource, const std::string& user, std::string secret) {
  return request("Set", resource, user).with_input(std::move(secret)).expect(0);
}
Step get(const std::string& resource, const std::string& user, std::string answer) {
  return request("Get", resource, user).expect(0, std::move(answer));
}
Step get_none(const std::string& resource, const std::string& user) { return request("Get", resource, user).expect(3); }
Step list(const std::string& resource, std::string json) { return request("List", resource).expect(0, std::move(json)); }
Step remove(const std::string& resource, const std::string& user) { return request("Remove", resource, user).expect(0); }

std::vector<Scenario> round_trip_scenarios() {
  return {
      {"RoundTrip", both_targets,
       {set("r", "u", "s3cret\n"), get("r", "u", "s3cret\n"), list("r", "[\"u\"]"), remove("r", "u"),
        get_none("r", "u"), list("r", "[]"), remove("r", "u")}},
      {"NonAsciiSecretAndNames", both_targets,
       {set("café ☕", "josé", "senha çé 😀\n"), get("café ☕", "josé", "senha çé 😀\n"),
        list("café ☕", "[\"josé\"]")}},
      {"ReplacingMovesThePairToTheEnd", both_targets,
       {set("r", "a", "1"), set("r", "b", "2"), set("r", "c", "3"), set("r", "a", "new"),
        list("r", "[\"b\",\"c\",\"a\"]"), get("r", "a", "new"), remove("r", "c"), set("r", "c", "again"),
        list("r", "[\"b\",\"a\",\"c\"]")}},
      {"MatchingIsExactAfterTrimming", both_targets,
       {set("r", "User", "x"), get_none("r", "user"), get_none("R", "User"), get("\t r \n", " User\u3000", "x"),
        set("r", "a b", "one"), set("r", "a  b", "two"), get("r", "a b", "one"), get("r", "a  b", "two"),
        // Composed and decomposed forms are different names.
        set("r", "\u00e9", "nfc"), get_none("r", "e\u0301"), list("r", "[\"User\",\"a b\",\"a  b\",\"\u00e9\"]")}},
      {"ResourcesAreSeparate", both_targets,
       {set("r1", "u", "one"), set("r2", "u", "two"), get("r1", "u", "one"), list("r2", "[\"u\"]"),
        remove("r1", "u"), get("r2", "u", "two"), list("r1", "[]")}},
      {"NothingStored", both_targets, {list("nothing here", "[]"), get_none("nothing here", "u"), remove("nothing here", "u")}},
      {"ListIgnoresTheUserName", both_targets,
       {set("r", "u", "x"), request("List", "r", "someone else").expect(0, "[\"u\"]"),
        request("List", "r", "").expect(0, "[\"u\"]")}},
      {"SetWithoutUserNameLeavesInputUnread", both_targets,
       {request("Set", "r").with_input("secret").fails_with("Configuração nativa ausente: LUPIRANE_VAULT_USERNAME."),
        list("r", "[]")}},
  };
}

std::vector<Scenario> intake_scenarios() {
  const std::string limit_secret = "k" + std::string(999'999, 'v');
  return {
      {"SecretBytesAreKeptExactly", both_targets,
       {set("r", "spaces", "  padded  "), get("r", "spaces", "  padded  "), set("r", "crlf", "line\r\n"),
        get("r", "crlf", "line\r\n"), set("r", "bom", "\xEF\xBB\xBFx"), get("r", "bom", "\xEF\xBB\xBFx"),
        set("r", "nul", std::string("a\0b", 3)), get("r", "nul", std::string("a\0b", 3)),
        set("r", "zwsp", "\u200b"), get("r", "zwsp", "\u200b")}},
      {"BlankSecretsAreRefused", both_targets,
       {request("Set", "r", "u").with_input("").fails_with(blank),
        request("Set", "r", "u").with_input("\r\n").fails_with(blank),
        request("Set", "r", "u").with_input("\u3000\u00a0 \t").fails_with(blank),
        request("Set", "r", "u").with_input(std::string(1'000'001, ' ')).fails_with(blank), get_none("r", "u")}},
      {"InvalidUtf8IsRefused", both_targets,
       {request("Set", "r", "u").with_input("\xFF").fails_with(unreadable),
        request("Set", "r", "u").with_input("ok\xED\xA0\x80").fails_with(unreadable),
        request("Set", "r", "u").with_input("\xC0\xAF").fails_with(unreadable),
        request("Set", "r", "u").with_input("cut \xE2\x82").fails_with(unreadable),
        request("Set", "r", "u").with_input(std::string(2'000'000, 'a') + "\xF4\x90\x80\x80").fails_with(unreadable),
        get_none("r", "u")}},
      {"LimitIsOneMillionBytesInclusive", both_targets,
       {set("r", "u", limit_secret), get("r", "u", limit_secret),
        request("Set", "r", "u").with_input(limit_secret + "x").fails_with(too_long),
        request("Set", "r", "u").with_input(std::string(1'000'000, 'a') + "\n").fails_with(too_long),
        request("Set", "r", "u").with_input(std::string(1'000'002 / 3 * 3, '\0').replace(0, 3, "\u20ac")).fails_with(too_long),
        get("r", "u", limit_secret)}},
      {"FailedSetKeepsTheOldSecret", both_targets,
       {set("r", "u", "old"), request("Set", "r", "u").with_input("\xFF").fails_with(unreadable),
        request("Set", "r", "u").with_input(" ").fails_with(blank), get("r", "u", "old")}},
  };
}

std::vector<Scenario> name_list_scenarios() {
  return {
      {"NamesAreEscapedAsJson", both_targets,
       {set("r", "quote\"back\\slash", "1"), set("r", "tab\there", "2"), set("r", "line\r\nbreak", "3"),
        set("r", "ctl\x01\x1f", "4"), set("r", "slash/del\x7f", "5"), set("r", "\u00e9\u2028\U0001F600", "6"),
        list("r",
             "[\"quote\\\"back\\\\slash\",\"tab\\there\",\"line\\r\\nbreak\",\"ctl\\u0001\\u001f\",\"slash/del\x7f\","
             "\"\u00e9\u2028\U0001F600\"]")}},
  };
}

class Actions : public ::testing::TestWithParam<Scenario> {};

TEST_P(Actions, Scenario) { run_scenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(RoundTrips, Actions, ::testing::ValuesIn(for_current_target(round_trip_scenarios())),
                         [](const auto& parameter) { return parameter.param.name; });
INSTANTIATE_TEST_SUITE_P(Intake, Actions, ::testing::ValuesIn(for_current_target(intake_scenarios())),
                         [](const auto& parameter) { return parameter.param.name; });
INSTANTIATE_TEST_SUITE_P(NameList, Actions, ::testing::ValuesIn(for_current_target(name_list_scenarios())),
                         [](const auto& parameter) { return parameter.param.name; });

}  // namespace
}  // namespace lupirane::testing
