// The platform's vault binding, chosen by which leaf is linked.
#pragma once

#include <memory>

#include "vault/locker.hpp"

namespace lupirane::vault {

[[nodiscard]] std::unique_ptr<VaultBinding> make_platform_binding();

}  // namespace lupirane::vault
