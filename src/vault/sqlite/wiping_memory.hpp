// How SQLite uses memory here: wiped when freed (its page cache holds the secrets it reads
// and writes), and no more of it than one single-threaded run needs.
#pragma once

namespace lupirane::vault {

// Sets SQLite up for this process; must run before the first SQLite call. Returns false if
// SQLite was already initialised otherwise.
[[nodiscard]] bool configure_sqlite_memory() noexcept;

}  // namespace lupirane::vault
