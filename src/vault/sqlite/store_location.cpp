// The store's path from the environment.
#include "vault/sqlite/store_location.hpp"

namespace lupirane::vault {

namespace {
bool is_absolute(const char* path) { return path != nullptr && path[0] == '/'; }
}  // namespace

std::expected<StoreLocation, std::string> store_location(const char* xdg_data_home, const char* home) {
  std::string base;
  if (is_absolute(xdg_data_home)) {
    base = xdg_data_home;
  } else if (is_absolute(home)) {
    base = home;
    if (base.back() != '/') base += '/';
    base += ".local/share";
  } else {
    return std::unexpected("neither XDG_DATA_HOME nor HOME names an absolute folder for the credential store");
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  StoreLocation location;
  location.folder = base == "/" ? "/lupirane-vault" : base + "/lupirane-vault";
  location.file = location.folder + "/credentials.sqlite3";
  return location;
}

}  // namespace lupirane::vault
