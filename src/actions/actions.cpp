// The actions: which failures are reported, which only mean that nothing is stored.
#include "actions/actions.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "actions/name_list.hpp"
#include "driver/secret_intake.hpp"
#include "driver/settings.hpp"

namespace lupirane::actions {

namespace {

RunOutcome vault_failure(std::string_view prefix, const vault::VaultError& error, const ActionContext& context) {
  return RunOutcome::error(vault::failure_message(prefix, error, context.messages));
}

// Groups one action's changes; whatever isn't committed is discarded when it goes.
class ChangeScope {
 public:
  explicit ChangeScope(vault::Locker& locker) : locker_(locker) {}
  ChangeScope(const ChangeScope&) = delete;
  ChangeScope& operator=(const ChangeScope&) = delete;
  ~ChangeScope() {
    if (open_) locker_.discard_changes();
  }

  [[nodiscard]] vault::VaultResult<void> begin() {
    auto begun = locker_.begin_changes();
    open_ = begun.has_value();
    return begun;
  }
  [[nodiscard]] vault::VaultResult<void> commit() {
    open_ = false;
    auto committed = locker_.commit_changes();
    if (!committed) locker_.discard_changes();
    return committed;
  }

 private:
  vault::Locker& locker_;
  bool open_ = false;
};

// A list's count is the locker's word; reserving for an absurd one would only exhaust memory.
constexpr std::uint32_t largest_up_front_reservation = 1u << 20;

}  // namespace

std::unique_ptr<vault::Credential> try_retrieve(vault::Locker& locker, std::string_view resource,
                                                std::string_view user_name) {
  auto credential = locker.retrieve(resource, user_name);
  if (!credential) return nullptr;
  return std::move(*credential);
}

RunOutcome get_credential(vault::Locker& locker, std::string_view resource, ActionContext& context) {
  auto user_name = driver::read_setting(driver::setting::user_name, context.process);
  if (!user_name) return RunOutcome::error(std::move(user_name.error()));

  const auto credential = try_retrieve(locker, resource, *user_name);
  if (!credential) return RunOutcome::status(driver::exit_status::not_found);
  if (auto released = credential->retrieve_password(); !released) {
    return vault_failure(action_message::release_failed, released.error(), context);
  }
  const auto password = credential->password();
  if (!password) return vault_failure(action_message::read_failed, password.error(), context);

  context.process.write_output(password->view());
  return RunOutcome::status(driver::exit_status::done);
}

RunOutcome set_credential(vault::Locker& locker, std::string_view resource, ActionContext& context) {
  auto user_name = driver::read_setting(driver::setting::user_name, context.process);
  if (!user_name) return RunOutcome::error(std::move(user_name.error()));
  auto secret = driver::read_secret(context.process.standard_input());
  if (!secret) return RunOutcome::error(std::move(secret.error()));

  ChangeScope changes(locker);
  if (auto begun = changes.begin(); !begun) return vault_failure(action_message::save_failed, begun.error(), context);

  const auto old_credential = try_retrieve(locker, resource, *user_name);
  auto new_credential = locker.create_credential(resource, *user_name, secret->view());
  if (!new_credential) return vault_failure(action_message::prepare_failed, new_credential.error(), context);
  if (old_credential) {
    if (auto removed = locker.remove(*old_credential); !removed) {
      return vault_failure(action_message::replace_failed, removed.error(), context);
    }
  }
  if (auto added = locker.add(**new_credential); !added) {
    // Put the old secret back; should that fail too, the first failure is the one to report.
    if (old_credential) (void)locker.add(*old_credential);
    return vault_failure(action_message::save_failed, added.error(), context);
  }
  if (auto committed = changes.commit(); !committed) {
    return vault_failure(action_message::save_failed, committed.error(), context);
  }
  return RunOutcome::status(driver::exit_status::done);
}

RunOutcome remove_credential(vault::Locker& locker, std::string_view resource, ActionContext& context) {
  auto user_name = driver::read_setting(driver::setting::user_name, context.process);
  if (!user_name) return RunOutcome::error(std::move(user_name.error()));

  ChangeScope changes(locker);
  if (auto begun = changes.begin(); !begun) return vault_failure(action_message::remove_failed, begun.error(), context);

  const auto credential = try_retrieve(locker, resource, *user_name);
  if (!credential) return RunOutcome::status(driver::exit_status::done);
  if (auto removed = locker.remove(*credential); !removed) {
    return vault_failure(action_message::remove_failed, removed.error(), context);
  }
  if (auto committed = changes.commit(); !committed) {
    return vault_failure(action_message::remove_failed, committed.error(), context);
  }
  return RunOutcome::status(driver::exit_status::done);
}

RunOutcome list_credentials(vault::Locker& locker, std::string_view resource, ActionContext& context) {
  std::vector<std::string> names;
  if (auto list = locker.find_all_by_resource(resource)) {
    const std::uint32_t count = (*list)->size().value_or(0);
    names.reserve(std::min(count, largest_up_front_reservation));
    for (std::uint32_t index = 0; index < count; ++index) {
      auto credential = (*list)->at(index);
      if (!credential) continue;
      auto user_name = (*credential)->user_name();
      if (!user_name) continue;
      names.push_back(std::move(*user_name));
    }
  }
  context.process.write_output(encode_name_list(names));
  return RunOutcome::status(driver::exit_status::done);
}

}  // namespace lupirane::actions
