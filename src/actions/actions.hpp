// The four actions ("Get", "Set", "Remove", "List") as fixed sequences of locker calls.
#pragma once

#include <memory>
#include <string_view>

#include "driver/process.hpp"
#include "driver/run_outcome.hpp"
#include "vault/locker.hpp"

namespace lupirane::actions {

using driver::RunOutcome;

namespace action_message {
inline constexpr std::string_view release_failed = "Não foi possível liberar a credencial local: ";
inline constexpr std::string_view read_failed = "Não foi possível ler a credencial local: ";
inline constexpr std::string_view replace_failed = "Não foi possível substituir a credencial local: ";
inline constexpr std::string_view prepare_failed = "Não foi possível preparar a credencial local: ";
inline constexpr std::string_view save_failed = "Não foi possível salvar a credencial local: ";
inline constexpr std::string_view remove_failed = "Não foi possível remover a credencial local: ";
}  // namespace action_message

// What the actions use besides the locker: the process's streams and environment, and the
// system texts that failures are told with.
struct ActionContext {
  driver::Process& process;
  const vault::MessageTable& messages;
};

// The pair's credential, or null when the lookup fails for any reason (never reported).
[[nodiscard]] std::unique_ptr<vault::Credential> try_retrieve(vault::Locker& locker, std::string_view resource,
                                                              std::string_view user_name);

// Writes the pair's password; status 3 when there is none.
[[nodiscard]] RunOutcome get_credential(vault::Locker& locker, std::string_view resource, ActionContext& context);
// Stores the secret from standard input for the pair. A failure never leaves the pair
// without the secret it had: the old credential is removed only once the new one is made,
// and put back if the new one can't be stored.
[[nodiscard]] RunOutcome set_credential(vault::Locker& locker, std::string_view resource, ActionContext& context);
// Deletes the pair's credential; done as well when there is none.
[[nodiscard]] RunOutcome remove_credential(vault::Locker& locker, std::string_view resource, ActionContext& context);
// Writes the user names stored under the resource as a JSON array; lookups that fail count
// as nothing stored.
[[nodiscard]] RunOutcome list_credentials(vault::Locker& locker, std::string_view resource, ActionContext& context);

}  // namespace lupirane::actions
