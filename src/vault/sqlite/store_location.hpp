// Where the Linux store lives.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace lupirane::vault {

struct StoreLocation {
  std::string folder;  // $XDG_DATA_HOME/lupirane-vault
  std::string file;    // the folder's credentials.sqlite3
};

// $XDG_DATA_HOME/lupirane-vault/credentials.sqlite3, where an unset, empty or relative
// XDG_DATA_HOME means $HOME/.local/share (the base directory rules). Fails with an English
// reason when neither gives an absolute folder. Null pointers stand for unset variables.
[[nodiscard]] std::expected<StoreLocation, std::string> store_location(const char* xdg_data_home, const char* home);

}  // namespace lupirane::vault
