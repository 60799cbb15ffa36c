// The four actions: the locker calls they make and in which order, what a failing call turns
// into, and what is left stored afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "actions/actions.hpp"
#include "driver/secret_intake.hpp"
#include "support/fakes.hpp"

namespace lupirane::testing {
void PrintTo(const FakeEntry& entry, std::ostream* out) {
  *out << '{' << entry.resource << ", " << entry.user_name << ", " << ::testing::PrintToString(entry.password) << '}';
}
}  // namespace lupirane::testing

namespace lupirane::actions {
namespace {

using testing::FakeEntry;
using testing::FakeLocker;
using testing::FakeMessageTable;
using testing::FakeProcess;
using testing::Failure;
using testing::Operation;
using testing::ScriptedInput;
using Calls = std::vector<std::string>;
using Entries = std::vector<FakeEntry>;
using Failures = std::vector<std::pair<Operation, Failure>>;
namespace message = action_message;

constexpr std::string_view missing_user_name = "Configuração nativa ausente: LUPIRANE_VAULT_USERNAME.";

// The three ways a locker call fails, and how each is told after the action's prefix.
const Failure described{hresult::access_denied, u"Access is denied.\r\n"};
constexpr std::string_view described_text = "Access is denied. (0x80070005)";
const Failure code_only{hresult::access_denied, std::nullopt};
constexpr std::string_view code_only_text = "0x80070005";
const Failure empty_failure{hresult::ok, std::nullopt};
constexpr std::string_view empty_text = "0x00000000";

std::string said(std::string_view prefix, std::string_view detail) {
  return std::string(prefix) + std::string(detail);
}

// One request's world: the locker, the process and the system texts (none).
struct Bench {
  explicit Bench(Entries stored = {}, bool transactional = false, const Failures& failures = {}) {
    locker.entries = std::move(stored);
    locker.transactional = transactional;
    locker.failures.insert(failures.begin(), failures.end());
    process.environment["LUPIRANE_VAULT_USERNAME"] = "u";
  }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  void expect_nothing_written() const {
    EXPECT_EQ(process.output, "");
    EXPECT_EQ(process.output_writes, 0u);
  }

  FakeLocker locker;
  FakeProcess process;
  FakeMessageTable messages;
  ActionContext context{process, messages};
};

void expect_status(const RunOutcome& outcome, std::int32_t status) {
  EXPECT_FALSE(outcome.is_error()) << outcome.message();
  EXPECT_EQ(outcome.exit_status(), status);
}

// An outcome with `message` as its error, or status 0 when `message` is empty.
void expect_outcome(const RunOutcome& outcome, const std::string& message) {
  if (message.empty()) return expect_status(outcome, 0);
  EXPECT_EQ(outcome.message(), message);
  EXPECT_EQ(outcome.exit_status(), 1);
}

TEST(TryRetrieve, AnyFailureIsNoCredential) {
  struct Case {
    const char* name;
    Entries stored;
    std::optional<Failure> failure;
  };
  const std::vector<Case> cases = {
      {.name = "not stored", .stored = {{"r", "v", "x"}, {"q", "u", "y"}}},
      {.name = "described", .stored = {{"r", "u", "pw"}}, .failure = described},
      {.name = "code only", .stored = {{"r", "u", "pw"}}, .failure = code_only},
      {.name = "empty failure", .stored = {{"r", "u", "pw"}}, .failure = empty_failure},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    Bench bench(row.stored, false, row.failure ? Failures{{Operation::retrieve, *row.failure}} : Failures{});
    EXPECT_EQ(try_retrieve(bench.locker, "r", "u"), nullptr);
  }
  Bench bench({{"r", "u", "pw"}});
  const auto credential = try_retrieve(bench.locker, "r", "u");
  ASSERT_NE(credential, nullptr);
  EXPECT_EQ(credential->user_name(), "u");
}

TEST(PairActions, NeedTheUserNameBeforeTouchingLockerOrInput) {
  using Action = RunOutcome (*)(vault::Locker&, std::string_view, ActionContext&);
  const std::vector<std::pair<const char*, Action>> actions = {
      {"Get", get_credential}, {"Set", set_credential}, {"Remove", remove_credential}};
  for (const auto& [name, action] : actions) {
    SCOPED_TRACE(name);
    Bench bench({{"r", "u", "pw"}});
    bench.process.environment.clear();
    bench.process.input = ScriptedInput("secret");
    expect_outcome(action(bench.locker, "r", bench.context), std::string(missing_user_name));
    EXPECT_EQ(bench.process.input.reads(), 0u);
    EXPECT_TRUE(bench.locker.calls.empty());
    bench.expect_nothing_written();
  }
}

TEST(GetAction, WritesThePasswordOnceAsStored) {
  const std::vector<std::string> passwords = {"pw", "line\n", "", std::string("\xEF\xBB\xBF a\0b \r\n", 10)};
  for (const std::string& password : passwords) {
    SCOPED_TRACE(::testing::PrintToString(password));
    Bench bench({{"r", "v", "other"}, {"r", "u", password}, {"q", "u", "elsewhere"}});
    expect_status(get_credential(bench.locker, "r", bench.context), 0);
    EXPECT_EQ(bench.process.output, password);
    EXPECT_EQ(bench.process.output_writes, 1u);
    EXPECT_EQ(bench.locker.calls, (Calls{"retrieve u", "retrieve_password u", "get_password u"}));
  }
}

TEST(GetAction, FailuresTable) {
  struct Case {
    const char* name;
    Operation operation;
    std::optional<Failure> failure;  // none: the pair isn't stored
    std::string message;             // empty: status 3
    Calls calls;
  };
  const Calls looked_up = {"retrieve u"};
  const Calls released = {"retrieve u", "retrieve_password u"};
  const Calls read = {"retrieve u", "retrieve_password u", "get_password u"};
  const std::vector<Case> cases = {
      {"pair not stored", Operation::retrieve, std::nullopt, "", looked_up},
      {"retrieve described", Operation::retrieve, described, "", looked_up},
      {"retrieve code only", Operation::retrieve, code_only, "", looked_up},
      {"retrieve empty failure", Operation::retrieve, empty_failure, "", looked_up},
      {"release described", Operation::retrieve_password, described, said(message::release_failed, described_text),
       released},
      {"release code only", Operation::retrieve_password, code_only, said(message::release_failed, code_only_text),
       released},
      {"release empty failure", Operation::retrieve_password, empty_failure,
       said(message::release_failed, empty_text), released},
      {"read described", Operation::get_password, described, said(message::read_failed, described_text), read},
      {"read code only", Operation::get_password, code_only, said(message::read_failed, code_only_text), read},
      {"read empty failure", Operation::get_password, empty_failure, said(message::read_failed, empty_text), read},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    Bench bench(row.failure ? Entries{{"r", "u", "pw"}} : Entries{{"r", "v", "pw"}}, false,
                row.failure ? Failures{{row.operation, *row.failure}} : Failures{});
    const RunOutcome outcome = get_credential(bench.locker, "r", bench.context);
    if (row.message.empty()) {
      expect_status(outcome, 3);
    } else {
      expect_outcome(outcome, row.message);
    }
    bench.expect_nothing_written();
    EXPECT_EQ(bench.locker.calls, row.calls);
  }
}

TEST(SetAction, StoresTheSecretInPlaceOfAnyOld) {
  struct Case {
    const char* name;
    Entries stored;
    Failures failures;
    Calls calls;
    Entries after;
  };
  const std::vector<Case> cases = {
      {.name = "new pair",
       .stored = {{"r", "v", "x"}, {"q", "u", "y"}},
       .calls = {"begin", "retrieve u", "create u=new", "add u=new", "commit"},
       .after = {{"r", "v", "x"}, {"q", "u", "y"}, {"r", "u", "new"}}},
      {.name = "replacing, moved to the end",
       .stored = {{"r", "u", "old"}, {"r", "v", "x"}},
       .calls = {"begin", "retrieve u", "create u=new", "remove u", "add u=new", "commit"},
       .after = {{"r", "v", "x"}, {"r", "u", "new"}}},
      {.name = "old one unreadable: nothing to replace",
       .stored = {{"r", "u", "old"}},
       .failures = {{Operation::retrieve, described}},
       .calls = {"begin", "retrieve u", "create u=new", "add u=new", "commit"},
       .after = {{"r", "u", "new"}}},
  };
  for (const bool transactional : {false, true}) {
    for (const Case& row : cases) {
      SCOPED_TRACE(std::string(row.name) + (transactional ? ", transactional" : ""));
      Bench bench(row.stored, transactional, row.failures);
      bench.process.input = ScriptedInput("new");
      expect_status(set_credential(bench.locker, "r", bench.context), 0);
      bench.expect_nothing_written();
      EXPECT_EQ(bench.locker.calls, row.calls);
      EXPECT_EQ(bench.locker.entries, row.after);
    }
  }
}

TEST(SetAction, StoresTheSecretByteForByte) {
  const std::string secret("\xEF\xBB\xBF  s\0\r\n", 9);
  Bench bench;
  bench.process.input = ScriptedInput(secret, {2});
  expect_status(set_credential(bench.locker, "r", bench.context), 0);
  EXPECT_EQ(bench.locker.entries, (Entries{{"r", "u", secret}}));
}

TEST(SetAction, RefusedInputLeavesTheLockerAlone) {
  struct Case {
    const char* name;
    ScriptedInput input;
    std::string_view message;
  };
  const std::vector<Case> cases = {
      {"unreadable", ScriptedInput("secret", {}, 0), driver::intake_message::unreadable},
      {"blank", ScriptedInput(" \t\r\n"), driver::intake_message::blank},
      {"too long", ScriptedInput(std::string(driver::MAX_SECRET_BYTES + 1, 'a')), driver::intake_message::too_long},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    Bench bench({{"r", "u", "old"}});
    bench.process.input = row.input;
    expect_outcome(set_credential(bench.locker, "r", bench.context), std::string(row.message));
    EXPECT_TRUE(bench.locker.calls.empty());
    EXPECT_EQ(bench.locker.entries, (Entries{{"r", "u", "old"}}));
  }
}

TEST(SetAction, FailuresTableKeepsTheOldSecret) {
  struct Case {
    const char* name;
    bool replacing;
    Failures failures;
    std::string message;
    Calls calls;
    bool needs_rollback = false;  // only a store with transactions can undo this one
  };
  const Failure first_add{hresult::disk_full, u"Disk full.", 1};
  const Failure restore_add{hresult::access_denied, u"Access is denied.", 2};
  const std::vector<Case> cases = {
      {"begin", true, {{Operation::begin_changes, described}}, said(message::save_failed, described_text), {"begin"}},
      {"create, replacing",
       true,
       {{Operation::create_credential, code_only}},
       said(message::prepare_failed, code_only_text),
       {"begin", "retrieve u", "create u=new", "discard"}},
      {"create, new pair",
       false,
       {{Operation::create_credential, empty_failure}},
       said(message::prepare_failed, empty_text),
       {"begin", "retrieve u", "create u=new", "discard"}},
      {"remove",
       true,
       {{Operation::remove, empty_failure}},
       said(message::replace_failed, empty_text),
       {"begin", "retrieve u", "create u=new", "remove u", "discard"}},
      {"add, old one put back",
       true,
       {{Operation::add, first_add}},
       said(message::save_failed, "Disk full. (0x80070070)"),
       {"begin", "retrieve u", "create u=new", "remove u", "add u=new", "add u=old", "discard"}},
      {"add, new pair",
       false,
       {{Operation::add, code_only}},
       said(message::save_failed, code_only_text),
       {"begin", "retrieve u", "create u=new", "add u=new", "discard"}},
      {"add and its undoing, first failure told",
       true,
       {{Operation::add, first_add}, {Operation::add, restore_add}},
       said(message::save_failed, "Disk full. (0x80070070)"),
       {"begin", "retrieve u", "create u=new", "remove u", "add u=new", "add u=old", "discard"},
       true},
      {"commit",
       true,
       {{Operation::commit_changes, described}},
       said(message::save_failed, described_text),
       {"begin", "retrieve u", "create u=new", "remove u", "add u=new", "commit", "discard"},
       true},
  };
  for (const bool transactional : {false, true}) {
    for (const Case& row : cases) {
      if (row.needs_rollback && !transactional) continue;
      SCOPED_TRACE(std::string(row.name) + (transactional ? ", transactional" : ""));
      const Entries stored = row.replacing ? Entries{{"r", "u", "old"}, {"r", "v", "x"}} : Entries{{"r", "v", "x"}};
      Bench bench(stored, transactional, row.failures);
      bench.process.input = ScriptedInput("new");
      expect_outcome(set_credential(bench.locker, "r", bench.context), row.message);
      bench.expect_nothing_written();
      EXPECT_EQ(bench.locker.calls, row.calls);
      // Without transactions a put-back entry comes last; what matters is that it is there.
      if (transactional) {
        EXPECT_EQ(bench.locker.entries, stored);
      } else {
        EXPECT_TRUE(std::ranges::is_permutation(bench.locker.entries, stored))
            << ::testing::PrintToString(bench.locker.entries);
      }
    }
  }
}

TEST(RemoveAction, DeletesOnlyThePair) {
  for (const bool transactional : {false, true}) {
    SCOPED_TRACE(transactional ? "transactional" : "direct");
    Bench bench({{"r", "u", "pw"}, {"r", "v", "x"}, {"q", "u", "y"}}, transactional);
    expect_status(remove_credential(bench.locker, "r", bench.context), 0);
    bench.expect_nothing_written();
    EXPECT_EQ(bench.locker.calls, (Calls{"begin", "retrieve u", "remove u", "commit"}));
    EXPECT_EQ(bench.locker.entries, (Entries{{"r", "v", "x"}, {"q", "u", "y"}}));
  }
}

TEST(RemoveAction, FailuresTable) {
  struct Case {
    const char* name;
    std::optional<std::pair<Operation, Failure>> failure;  // none: the pair isn't stored
    std::string message;                                    // empty: status 0
    Calls calls;
  };
  const Calls nothing_to_remove = {"begin", "retrieve u", "discard"};
  const std::vector<Case> cases = {
      {"pair not stored", std::nullopt, "", nothing_to_remove},
      {"retrieve described", std::pair{Operation::retrieve, described}, "", nothing_to_remove},
      {"retrieve code only", std::pair{Operation::retrieve, code_only}, "", nothing_to_remove},
      {"retrieve empty failure", std::pair{Operation::retrieve, empty_failure}, "", nothing_to_remove},
      {"begin", std::pair{Operation::begin_changes, code_only}, said(message::remove_failed, code_only_text),
       {"begin"}},
      {"remove", std::pair{Operation::remove, described}, said(message::remove_failed, described_text),
       {"begin", "retrieve u", "remove u", "discard"}},
      {"commit", std::pair{Operation::commit_changes, empty_failure}, said(message::remove_failed, empty_text),
       {"begin", "retrieve u", "remove u", "commit", "discard"}},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const Entries stored = row.failure ? Entries{{"r", "u", "pw"}, {"r", "v", "x"}} : Entries{{"r", "v", "x"}};
    Bench bench(stored, true, row.failure ? Failures{*row.failure} : Failures{});
    expect_outcome(remove_credential(bench.locker, "r", bench.context), row.message);
    bench.expect_nothing_written();
    EXPECT_EQ(bench.locker.calls, row.calls);
    EXPECT_EQ(bench.locker.entries, stored);
  }
}

TEST(ListAction, WalksTheListInOrder) {
  Bench bench({{"r", "a", "1"}, {"q", "z", "2"}, {"r", "b", "3"}, {"r", "c", "4"}});
  expect_status(list_credentials(bench.locker, "r", bench.context), 0);
  EXPECT_EQ(bench.process.output, R"(["a","b","c"])");
  EXPECT_EQ(bench.process.output_writes, 1u);
  EXPECT_EQ(bench.locker.calls, (Calls{"find_all_by_resource r", "get_size", "get_at 0", "get_user_name a", "get_at 1",
                                       "get_user_name b", "get_at 2", "get_user_name c"}));
}

TEST(ListAction, IgnoresTheUserName) {
  std::vector<std::string> outputs;
  for (const bool named : {false, true}) {
    Bench bench({{"r", "a", "1"}, {"r", "u", "2"}});
    if (!named) bench.process.environment.clear();
    expect_status(list_credentials(bench.locker, "r", bench.context), 0);
    EXPECT_TRUE(bench.process.variables_read.empty());
    outputs.push_back(bench.process.output);
  }
  EXPECT_EQ(outputs, (std::vector<std::string>{R"(["a","u"])", R"(["a","u"])"}));
}

TEST(ListAction, FailuresTableLeavesOutWhatCantBeRead) {
  struct Case {
    const char* name;
    Failures failures;
    std::string output;
    Entries stored = {{"r", "a", ""}, {"r", "b", ""}, {"r", "c", ""}};
    std::optional<std::uint32_t> reported_size;
  };
  const std::vector<Case> cases = {
      {.name = "nothing stored", .output = "[]", .stored = {{"q", "a", ""}}},
      {.name = "find described", .failures = {{Operation::find_all_by_resource, described}}, .output = "[]"},
      {.name = "find empty failure", .failures = {{Operation::find_all_by_resource, empty_failure}}, .output = "[]"},
      {.name = "size", .failures = {{Operation::get_size, code_only}}, .output = "[]"},
      {.name = "second item",
       .failures = {{Operation::get_at, Failure{hresult::fail, std::nullopt, 2}}},
       .output = R"(["a","c"])"},
      {.name = "first item empty failure",
       .failures = {{Operation::get_at, Failure{hresult::ok, std::nullopt, 1}}},
       .output = R"(["b","c"])"},
      {.name = "last user name",
       .failures = {{Operation::get_user_name, Failure{hresult::fail, u"Gone.", 3}}},
       .output = R"(["a","b"])"},
      {.name = "every user name", .failures = {{Operation::get_user_name, empty_failure}}, .output = "[]"},
      {.name = "duplicates", .output = R"(["a","b","a"])", .stored = {{"r", "a", ""}, {"r", "b", ""}, {"r", "a", ""}}},
      {.name = "empty name", .output = R"(["","x"])", .stored = {{"r", "", ""}, {"r", "x", ""}}},
      {.name = "size beyond the items", .output = R"(["a","b","c"])", .reported_size = 5},
      {.name = "escaped", .output = R"(["a\"b","c\\d"])", .stored = {{"r", "a\"b", ""}, {"r", "c\\d", ""}}},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    Bench bench(row.stored, false, row.failures);
    bench.locker.reported_size = row.reported_size;
    expect_status(list_credentials(bench.locker, "r", bench.context), 0);
    EXPECT_EQ(bench.process.output, row.output);
    EXPECT_EQ(bench.process.output_writes, 1u);
    if (row.reported_size) {
      EXPECT_EQ(bench.locker.calls.back(), "get_at 4");
    }
  }
}

}  // namespace
}  // namespace lupirane::actions
