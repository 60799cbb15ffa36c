// The request flow: the order of its steps, which failure wins, and the dispatch table.
#include <gtest/gtest.h>

#include "driver/run.hpp"
#include "support/fakes.hpp"

namespace lupirane::driver {
namespace {

using testing::FakeBinding;
using testing::FakeProcess;
using testing::Failure;

constexpr std::string_view missing_action = "Configuração nativa ausente: LUPIRANE_VAULT_ACTION.";
constexpr std::string_view missing_resource = "Configuração nativa ausente: LUPIRANE_VAULT_RESOURCE.";

TEST(DecodeAction, ExactCaseSensitiveWholeText) {
  EXPECT_EQ(decode_action("Get"), VaultAction::Get);
  EXPECT_EQ(decode_action("Set"), VaultAction::Set);
  EXPECT_EQ(decode_action("Remove"), VaultAction::Remove);
  EXPECT_EQ(decode_action("List"), VaultAction::List);
  for (std::string_view near_miss : {"get", "GET", "Gets", "Ge", "", " Get", "Get ", "Remov", "Lists"}) {
    EXPECT_EQ(decode_action(near_miss), std::nullopt) << near_miss;
  }
  EXPECT_EQ(decode_action(std::string_view("Get\0", 4)), std::nullopt);
}

class RunFlow : public ::testing::Test {
 protected:
  void set(std::string_view name, std::string value) { process.environment[std::string(name)] = std::move(value); }

  FakeProcess process;
  FakeBinding binding;
};

TEST_F(RunFlow, InitialisationFailureComesFirstWithItsDisplayText) {
  binding.initialize_failure = Failure{hresult_from_bits(0x8001010E), u"Wrong thread.\r\n"};
  const RunOutcome outcome = run(process, binding);
  EXPECT_EQ(outcome.message(), "Não foi possível inicializar o Cofre do Windows: Wrong thread. (0x8001010E)");
  EXPECT_TRUE(process.variables_read.empty());
  EXPECT_EQ(binding.calls, std::vector<std::string>{"initialize"});
}

TEST_F(RunFlow, ActionIsReadBeforeResourceAndNeitherOpensTheLocker) {
  EXPECT_EQ(run(process, binding).message(), missing_action);
  set("LUPIRANE_VAULT_ACTION", "Bogus");
  EXPECT_EQ(run(process, binding).message(), missing_resource);
  EXPECT_EQ(binding.calls, (std::vector<std::string>{"initialize", "initialize"}));
}

TEST_F(RunFlow, OpenFailureWinsOverAnInvalidAction) {
  set("LUPIRANE_VAULT_ACTION", "Bogus");
  set("LUPIRANE_VAULT_RESOURCE", "r");
  binding.open_failure = Failure{hresult::class_not_registered, std::nullopt};
  EXPECT_EQ(run(process, binding).message(), "Não foi possível abrir o Cofre do Windows: 0x80040154");
}

TEST_F(RunFlow, InvalidActionReadsNeitherUserNameNorStandardInput) {
  set("LUPIRANE_VAULT_ACTION", " Fetch ");
  set("LUPIRANE_VAULT_RESOURCE", "r");
  set("LUPIRANE_VAULT_USERNAME", "u");
  process.input = testing::ScriptedInput("secret");
  const RunOutcome outcome = run(process, binding);
  EXPECT_EQ(outcome.message(), "Ação nativa de credencial inválida.");
  EXPECT_EQ(outcome.exit_status(), 1);
  EXPECT_EQ(process.variables_read, (std::vector<std::string>{"LUPIRANE_VAULT_ACTION", "LUPIRANE_VAULT_RESOURCE"}));
  EXPECT_EQ(process.input.reads(), 0u);
  EXPECT_TRUE(binding.locker.calls.empty());
}

TEST_F(RunFlow, DispatchesTrimmedActionWithTrimmedResource) {
  set("LUPIRANE_VAULT_ACTION", "\r\n List\t");
  set("LUPIRANE_VAULT_RESOURCE", "\u3000my resource\u00a0");
  const RunOutcome outcome = run(process, binding);
  EXPECT_FALSE(outcome.is_error());
  EXPECT_EQ(outcome.exit_status(), 0);
  EXPECT_EQ(process.output, "[]");
  EXPECT_EQ(binding.locker.calls, (std::vector<std::string>{"find_all_by_resource my resource", "get_size"}));
}

TEST_F(RunFlow, EachActionReachesItsOwnLockerCalls) {
  set("LUPIRANE_VAULT_RESOURCE", "r");
  set("LUPIRANE_VAULT_USERNAME", "u");
  binding.locker.entries = {{"r", "u", "pw"}};
  const std::vector<std::pair<std::string, std::string>> first_calls = {
      {"Get", "retrieve u"}, {"Remove", "begin"}, {"List", "find_all_by_resource r"}};
  for (const auto& [action, first_call] : first_calls) {
    SCOPED_TRACE(action);
    binding.locker.calls.clear();
    set("LUPIRANE_VAULT_ACTION", action);
    EXPECT_EQ(run(process, binding).exit_status(), 0);
    ASSERT_FALSE(binding.locker.calls.empty());
    EXPECT_EQ(binding.locker.calls.front(), first_call);
  }
}

}  // namespace
}  // namespace lupirane::driver
