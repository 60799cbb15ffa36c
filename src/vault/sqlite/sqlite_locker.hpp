// The Linux locker: a per-user SQLite database that behaves like the Windows locker.
#pragma once

#include <memory>
#include <string>

#include "vault/locker.hpp"

namespace lupirane::vault {

// Opens the store at `file`, creating `folder` (mode 0700) and the file (mode 0600) when
// they are missing. An existing file must be a store of this program, owned by the user
// and closed to everyone else.
[[nodiscard]] VaultResult<std::unique_ptr<Locker>> open_sqlite_locker(const std::string& folder,
                                                                      const std::string& file);

}  // namespace lupirane::vault
