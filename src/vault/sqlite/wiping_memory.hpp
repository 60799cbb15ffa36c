// SQLite's memory, wiped when freed: its page cache holds the secrets it reads and writes.
#pragma once

namespace lupirane::vault {

// Installs the wiping allocator; must run before the first SQLite call. Returns false if
// SQLite was already initialised with another one.
[[nodiscard]] bool use_wiping_memory_for_sqlite() noexcept;

}  // namespace lupirane::vault
