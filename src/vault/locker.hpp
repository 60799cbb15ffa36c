// The credential locker as the actions see it: a small interface with one implementation
// per platform (the Windows Runtime locker, the SQLite store on Linux) and fakes in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/secret_buffer.hpp"
#include "vault/vault_error.hpp"

namespace lupirane::vault {

// One entry of the locker: resource, user name and password. Texts cross this interface as
// UTF-8; a binding converts them to and from the system's strings, turning unpaired
// surrogates into U+FFFD on the way out. No operation gives a null object on success: a
// binding reports that as the empty failure.
class Credential {
 public:
  virtual ~Credential() = default;
  // Fills in the password of an entry that was found by listing.
  [[nodiscard]] virtual VaultResult<void> retrieve_password() = 0;
  [[nodiscard]] virtual VaultResult<text::SecretText> password() = 0;
  [[nodiscard]] virtual VaultResult<std::string> user_name() = 0;
};

// A read-only snapshot of the credentials of one resource, in the locker's index order.
class CredentialList {
 public:
  virtual ~CredentialList() = default;
  [[nodiscard]] virtual VaultResult<std::uint32_t> size() = 0;
  [[nodiscard]] virtual VaultResult<std::unique_ptr<Credential>> at(std::uint32_t index) = 0;
};

class Locker {
 public:
  virtual ~Locker() = default;

  [[nodiscard]] virtual VaultResult<std::unique_ptr<Credential>> retrieve(std::string_view resource,
                                                                          std::string_view user_name) = 0;
  [[nodiscard]] virtual VaultResult<void> remove(Credential& credential) = 0;
  // Stores the credential; one already stored for its pair is replaced.
  [[nodiscard]] virtual VaultResult<void> add(Credential& credential) = 0;
  [[nodiscard]] virtual VaultResult<std::unique_ptr<CredentialList>> find_all_by_resource(
      std::string_view resource) = 0;
  // Makes a credential that isn't stored yet.
  [[nodiscard]] virtual VaultResult<std::unique_ptr<Credential>> create_credential(std::string_view resource,
                                                                                   std::string_view user_name,
                                                                                   std::string_view password) = 0;

  // A store that can group changes makes the calls between these all-or-nothing, and keeps
  // other runs out meanwhile; a locker without transactions applies each call at once and
  // implements these as no-ops. Changes not committed are discarded.
  [[nodiscard]] virtual VaultResult<void> begin_changes() = 0;
  [[nodiscard]] virtual VaultResult<void> commit_changes() = 0;
  virtual void discard_changes() noexcept = 0;
};

// The platform's way to the locker, and the texts its failures are told with.
class VaultBinding {
 public:
  virtual ~VaultBinding() = default;
  // Prepares the thread for the locker (the Windows Runtime's multithreaded apartment).
  [[nodiscard]] virtual VaultResult<void> initialize() = 0;
  [[nodiscard]] virtual VaultResult<std::unique_ptr<Locker>> open_locker() = 0;
  [[nodiscard]] virtual const MessageTable& messages() const = 0;
};

}  // namespace lupirane::vault
