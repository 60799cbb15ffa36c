// The Linux vault binding: nothing to initialise, the SQLite store as the locker.
#include <cstdlib>

#include "vault/binding.hpp"
#include "vault/sqlite/sqlite_locker.hpp"
#include "vault/sqlite/store_location.hpp"

namespace lupirane::vault {

namespace {

class SqliteBinding final : public VaultBinding {
 public:
  VaultResult<void> initialize() override { return {}; }
  VaultResult<std::unique_ptr<Locker>> open_locker() override {
    const auto location = store_location(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (!location) return std::unexpected(VaultError::described(hresult::fail, location.error()));
    return open_sqlite_locker(location->folder, location->file);
  }
  // Every failure of this locker carries its own description.
  const MessageTable& messages() const override { return no_messages_; }

 private:
  NoMessageTable no_messages_;
};

}  // namespace

std::unique_ptr<VaultBinding> make_platform_binding() { return std::make_unique<SqliteBinding>(); }

}  // namespace lupirane::vault
