// The frame of a run seen from a host: settings, their messages and precedence, the
// unopenable locker, and faults of the standard streams.
#include <gtest/gtest.h>

#include "scenario.hpp"

namespace lupirane::testing {
namespace {

const std::string missing_action = "Configuração nativa ausente: LUPIRANE_VAULT_ACTION.";
const std::string missing_resource = "Configuração nativa ausente: LUPIRANE_VAULT_RESOURCE.";
const std::string missing_user_name = "Configuração nativa ausente: LUPIRANE_VAULT_USERNAME.";
const std::string invalid_action = "Ação nativa de credencial inválida.";
// Wine has no locker of its own: activation fails with REGDB_E_CLASSNOTREG and no text.
const std::string wine_cannot_open = "Não foi possível abrir o Cofre do Windows: 0x80040154";

Step only(Variables variables) {
  Step step;
  step.variables = std::move(variables);
  return step;
}

std::vector<Scenario> settings_scenarios() {
  std::vector<Scenario> scenarios = {
      {"NoVariablesNamesTheActionFirst", both_targets, {only({}).fails_with(missing_action)}},
      {"EmptyActionIsMissing", both_targets,
       {only({{"LUPIRANE_VAULT_ACTION", ""}, {"LUPIRANE_VAULT_RESOURCE", "r"}}).fails_with(missing_action)}},
      {"BlankActionIsMissing", both_targets,
       {only({{"LUPIRANE_VAULT_ACTION", " \t\r\n\u3000\u00a0"}, {"LUPIRANE_VAULT_RESOURCE", "r"}}).fails_with(missing_action)}},
      {"MissingResourceAfterAction", both_targets,
       {only({{"LUPIRANE_VAULT_ACTION", "Get"}, {"LUPIRANE_VAULT_USERNAME", "u"}}).fails_with(missing_resource)}},
      {"BlankResourceIsMissing", both_targets,
       {only({{"LUPIRANE_VAULT_ACTION", "List"}, {"LUPIRANE_VAULT_RESOURCE", "\u2003 "}}).fails_with(missing_resource)}},
      {"MissingResourceWinsOverInvalidAction", both_targets,
       {only({{"LUPIRANE_VAULT_ACTION", "Fetch"}}).fails_with(missing_resource)}},
      {"MissingUserNameForGet", native_only, {request("Get", "r").fails_with(missing_user_name)}},
      {"InvalidActionNeedsNoUserName", native_only, {request("Delete", "r").fails_with(invalid_action)}},
      {"UnopenableLockerWinsOverInvalidAction", wine_only,
       {request("Fetch", "r").fails_with(wine_cannot_open)}, false},
      {"UnopenableLockerForEveryAction", wine_only,
       {request("Get", "r", "u").fails_with(wine_cannot_open), request("List", "r").fails_with(wine_cannot_open),
        request("Set", "r", "u").with_input("x").fails_with(wine_cannot_open),
        request("Remove", "r", "u").fails_with(wine_cannot_open)},
       false},
      {"ActionIsTrimmedBeforeDispatch", native_only,
       {request(" List\r\n", "r").expect(0, "[]"), request("\u00a0List\u3000", "r").expect(0, "[]")}},
      {"ResourceIsTrimmedButInnerSpaceKept", native_only,
       {request("Set", " two words\t", "u").with_input("s"), request("List", "two words").expect(0, "[\"u\"]"),
        request("List", "two  words").expect(0, "[]"), request("List", "twowords").expect(0, "[]")}},
      {"UnopenableNativeStore", native_only,
       {request("Fetch", "r").fails_starting_with("Não foi possível abrir o Cofre do Windows: cannot create the folder "),
        request("List", "r").fails_starting_with("Não foi possível abrir o Cofre do Windows: cannot create the folder ")},
       false},
  };
  // Near misses of the four action names are all the same invalid action.
  for (const char* near_miss : {"get", "GET", "set", "LIST", "remove", "Get!", "G et", "Gett", "Ge", "List\u200b",
                                "\ufeffGet"}) {
    scenarios.push_back({std::string("InvalidAction_") + std::to_string(scenarios.size()), native_only,
                         {request(near_miss, "r", "u").fails_with(invalid_action)}});
  }
  // A value that is not UTF-8 counts as missing, whatever the bytes.
  for (const char* not_utf8 : {"\xff", "Get\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "Get\xe2\x82"}) {
    scenarios.push_back({"NotUtf8Action_" + std::to_string(scenarios.size()), native_only,
                         {only({{"LUPIRANE_VAULT_ACTION", not_utf8}, {"LUPIRANE_VAULT_RESOURCE", "r"}})
                              .fails_with(missing_action),
                          request("Get", not_utf8, "u").fails_with(missing_resource),
                          request("Get", "r", not_utf8).fails_with(missing_user_name)}});
  }
  return scenarios;
}

std::vector<Scenario> stream_scenarios() {
  const std::string long_password(3000, 'p');
  return {
      {"CompleteLineToVanishedReaderIsAFault", native_only,
       {request("Set", "r", "u").with_input("line one\nline two"),
        request("Get", "r", "u")
            .with_streams(OutputMode::reader_gone, OutputMode::pipe)
            .expect(101, "", "failed printing to stdout: Broken pipe (os error 32)\n")}},
      {"BufferedTailToVanishedReaderIsIgnoredAtExit", native_only,
       {request("Set", "r", "u").with_input("no line end"),
        request("Get", "r", "u").with_streams(OutputMode::reader_gone, OutputMode::pipe).expect(0)}},
      {"WriteLargerThanTheBufferGoesOutAtOnce", native_only,
       {request("Set", "r", "u").with_input(long_password),
        request("Get", "r", "u")
            .with_streams(OutputMode::reader_gone, OutputMode::pipe)
            .expect(101, "", "failed printing to stdout: Broken pipe (os error 32)\n"),
        request("Get", "r", "u").expect(0, long_password)}},
      {"FullDeviceOnStandardOutput", native_only,
       {request("Set", "r", "u").with_input("a\n"),
        request("Get", "r", "u")
            .with_streams(OutputMode::full, OutputMode::pipe)
            .expect(101, "", "failed printing to stdout: No space left on device (os error 28)\n")}},
      {"ClosedStandardOutputSwallowsTheAnswer", native_only,
       {request("Set", "r", "u").with_input("secret\n"),
        request("Get", "r", "u").with_streams(OutputMode::closed, OutputMode::pipe).expect(0),
        request("List", "r").with_streams(OutputMode::closed, OutputMode::pipe).expect(0),
        // Had the store been opened on descriptor 1, the answer would have been written into it.
        request("Get", "r", "u").expect(0, "secret\n"), request("List", "r").expect(0, "[\"u\"]")}},
      {"ClosedStandardErrorSwallowsTheMessage", native_only,
       {request("Get", "r").with_streams(OutputMode::pipe, OutputMode::closed).expect(1),
        request("Set", "r", "u").with_input("kept").with_streams(OutputMode::closed, OutputMode::closed).expect(0),
        request("Get", "r", "u").expect(0, "kept")}},
      {"FailingStandardErrorIsAFault", native_only,
       {request("Get", "r").with_streams(OutputMode::pipe, OutputMode::full).expect(101),
        request("Get", "r").with_streams(OutputMode::pipe, OutputMode::reader_gone).expect(101)}},
      {"NoStandardInputIsEmpty", native_only,
       {request("Set", "r", "u").with_input(std::nullopt).fails_with("A credencial recebida está vazia."),
        request("Set", "r", "u").with_input(std::nullopt).with_streams(OutputMode::closed, OutputMode::pipe)
            .fails_with("A credencial recebida está vazia."),
        request("Get", "r", "u").expect(3)}},
  };
}

class RequestFlow : public ::testing::TestWithParam<Scenario> {};

TEST_P(RequestFlow, Scenario) { run_scenario(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Settings, RequestFlow, ::testing::ValuesIn(for_current_target(settings_scenarios())),
                         [](const auto& parameter) { return parameter.param.name; });
INSTANTIATE_TEST_SUITE_P(Streams, RequestFlow, ::testing::ValuesIn(for_current_target(stream_scenarios())),
                         [](const auto& parameter) { return parameter.param.name; });

}  // namespace
}  // namespace lupirane::testing
