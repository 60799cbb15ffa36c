// The steps of a run in their fixed order, and the dispatch table.
#include "driver/run.hpp"

#include <array>
#include <string>

#include "actions/actions.hpp"
#include "driver/settings.hpp"

namespace lupirane::driver {

namespace {

using ActionFunction = RunOutcome (*)(vault::Locker&, std::string_view, actions::ActionContext&);

struct DispatchEntry {
  std::string_view text;
  VaultAction action;
  ActionFunction function;
};

constexpr std::array<DispatchEntry, 4> dispatch_table{{
    {"Get", VaultAction::Get, actions::get_credential},
    {"Set", VaultAction::Set, actions::set_credential},
    {"Remove", VaultAction::Remove, actions::remove_credential},
    {"List", VaultAction::List, actions::list_credentials},
}};

const DispatchEntry* find_entry(std::string_view action_text) noexcept {
  for (const DispatchEntry& entry : dispatch_table) {
    if (entry.text == action_text) return &entry;
  }
  return nullptr;
}

RunOutcome vault_failure(std::string_view prefix, const vault::VaultError& error,
                         const vault::MessageTable& messages) {
  return RunOutcome::error(vault::failure_message(prefix, error, messages));
}

}  // namespace

std::optional<VaultAction> decode_action(std::string_view action_text) noexcept {
  const DispatchEntry* entry = find_entry(action_text);
  if (entry == nullptr) return std::nullopt;
  return entry->action;
}

RunOutcome run(Process& process, vault::VaultBinding& binding) {
  if (auto initialized = binding.initialize(); !initialized) {
    return vault_failure(run_message::initialize_failed, initialized.error(), binding.messages());
  }
  auto action_text = read_setting(setting::action, process);
  if (!action_text) return RunOutcome::error(std::move(action_text.error()));
  auto resource = read_setting(setting::resource, process);
  if (!resource) return RunOutcome::error(std::move(resource.error()));

  auto locker = binding.open_locker();
  if (!locker) return vault_failure(run_message::open_failed, locker.error(), binding.messages());

  const DispatchEntry* entry = find_entry(*action_text);
  if (entry == nullptr) return RunOutcome::error(std::string(run_message::invalid_action));

  actions::ActionContext context{process, binding.messages()};
  return entry->function(**locker, *resource, context);
}

}  // namespace lupirane::driver
