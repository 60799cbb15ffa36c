// The request flow of one run: from the environment to a RunOutcome.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "driver/process.hpp"
#include "driver/run_outcome.hpp"
#include "vault/locker.hpp"

namespace lupirane::driver {

enum class VaultAction : std::uint8_t { Get, Set, Remove, List };

namespace run_message {
inline constexpr std::string_view initialize_failed = "Não foi possível inicializar o Cofre do Windows: ";
inline constexpr std::string_view open_failed = "Não foi possível abrir o Cofre do Windows: ";
inline constexpr std::string_view invalid_action = "Ação nativa de credencial inválida.";
}  // namespace run_message

// The action named by the trimmed action text: exact, case-sensitive, whole text.
[[nodiscard]] std::optional<VaultAction> decode_action(std::string_view action_text) noexcept;

// Carries out one request. The locker is opened before the action is decoded, so a
// failure to open it is reported even for an unknown action; an unknown action reads
// neither the user name nor standard input.
[[nodiscard]] RunOutcome run(Process& process, vault::VaultBinding& binding);

}  // namespace lupirane::driver
