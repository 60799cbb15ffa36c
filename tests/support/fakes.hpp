// In-process stand-ins for the process and the locker, for tests of the core logic.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/process.hpp"
#include "vault/locker.hpp"

namespace lupirane::testing {

// Standard input that hands out prepared bytes in chunks of the given sizes (cycled), and
// can fail after a number of reads.
class ScriptedInput final : public driver::InputStream {
 public:
  explicit ScriptedInput(std::string bytes, std::vector<std::size_t> chunk_sizes = {},
                         std::optional<std::size_t> fail_at_read = std::nullopt)
      : bytes_(std::move(bytes)), chunk_sizes_(std::move(chunk_sizes)), fail_at_read_(fail_at_read) {}

  std::expected<std::size_t, driver::ReadFailure> read(std::span<char> into) override {
    if (fail_at_read_ && reads_ == *fail_at_read_) return std::unexpected(driver::ReadFailure{});
    std::size_t count = std::min(into.size(), bytes_.size() - position_);
    if (!chunk_sizes_.empty()) count = std::min(count, chunk_sizes_[reads_ % chunk_sizes_.size()]);
    std::copy_n(bytes_.data() + position_, count, into.data());
    position_ += count;
    ++reads_;
    return count;
  }
  [[nodiscard]] std::size_t reads() const noexcept { return reads_; }

 private:
  std::string bytes_;
  std::vector<std::size_t> chunk_sizes_;
  std::optional<std::size_t> fail_at_read_;
  std::size_t position_ = 0;
  std::size_t reads_ = 0;
};

// A process with a map for its environment; records what was read and written.
class FakeProcess final : public driver::Process {
 public:
  std::map<std::string, std::optional<std::string>, std::less<>> environment;  // nullopt: not Unicode
  ScriptedInput input{""};
  std::string output;
  std::vector<std::string> variables_read;
  std::size_t output_writes = 0;

  std::optional<std::string> environment_value(std::string_view name) override {
    variables_read.emplace_back(name);
    const auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
  }
  driver::InputStream& standard_input() override { return input; }
  void write_output(std::string_view bytes) override {
    output.append(bytes);
    ++output_writes;
  }
};

// A message table with texts only for the identifiers given.
class FakeMessageTable final : public vault::MessageTable {
 public:
  std::map<std::pair<std::uint32_t, vault::MessageSource>, std::u16string> texts;
  mutable std::vector<std::pair<std::uint32_t, vault::MessageSource>> lookups;

  std::optional<std::u16string> message(std::uint32_t id, vault::MessageSource source) const override {
    lookups.emplace_back(id, source);
    const auto found = texts.find({id, source});
    if (found == texts.end()) return std::nullopt;
    return found->second;
  }
};

// An error object with chosen texts; nullopt stands for a null string.
class FakeErrorObject final : public vault::ErrorObject {
 public:
  bool has_restricted_interface = false;
  std::optional<std::u16string> restricted_description;
  std::optional<std::u16string> details_description;
  std::optional<std::u16string> plain_description;
  mutable int description_calls = 0;

  std::optional<RestrictedDetails> restricted_details() const override {
    if (!has_restricted_interface) return std::nullopt;
    return RestrictedDetails{details_description, restricted_description};
  }
  std::optional<std::u16string> description() const override {
    ++description_calls;
    return plain_description;
  }
};

// The locker operations a test can make fail.
enum class Operation {
  retrieve,
  remove,
  add,
  find_all_by_resource,
  create_credential,
  get_size,
  get_at,
  retrieve_password,
  get_password,
  get_user_name,
  begin_changes,
  commit_changes,
};

// How an operation fails: with a code and optionally an error object with a description;
// code 0 without a description is the empty failure (success without the object due).
struct Failure {
  HResult code = hresult::fail;
  std::optional<std::u16string> description;
  int on_call = 0;  // 1-based call of that operation to fail; 0: every call

  [[nodiscard]] vault::VaultError error() const {
    vault::VaultError made;
    made.code = code;
    if (description) made.error_info = std::make_unique<vault::DescribedError>(*description);
    return made;
  }
};

struct FakeEntry {
  std::string resource;
  std::string user_name;
  std::string password;
  bool operator==(const FakeEntry&) const = default;
};

class FakeLocker;

class FakeCredential final : public vault::Credential {
 public:
  FakeCredential(FakeLocker& locker, FakeEntry entry, bool password_known)
      : locker_(locker), entry_(std::move(entry)), password_known_(password_known) {}
  vault::VaultResult<void> retrieve_password() override;
  vault::VaultResult<text::SecretText> password() override;
  vault::VaultResult<std::string> user_name() override;
  [[nodiscard]] const FakeEntry& entry() const noexcept { return entry_; }

 private:
  FakeLocker& locker_;
  FakeEntry entry_;
  bool password_known_;
};

class FakeCredentialList final : public vault::CredentialList {
 public:
  FakeCredentialList(FakeLocker& locker, std::vector<FakeEntry> entries)
      : locker_(locker), entries_(std::move(entries)) {}
  vault::VaultResult<std::uint32_t> size() override;
  vault::VaultResult<std::unique_ptr<vault::Credential>> at(std::uint32_t index) override;

 private:
  FakeLocker& locker_;
  std::vector<FakeEntry> entries_;
};

// An in-memory locker that records every call and fails the operations it is told to.
// With transactions it keeps what changed between begin and commit all-or-nothing, as the
// Linux store does; without, it applies each call at once, as the Windows locker does.
class FakeLocker final : public vault::Locker {
 public:
  std::vector<FakeEntry> entries;
  std::vector<std::string> calls;
  // Several for one operation let its calls fail differently (by on_call); the first that
  // applies to a call wins.
  std::multimap<Operation, Failure> failures;
  bool transactional = false;
  std::optional<std::uint32_t> reported_size;  // a list size other than the real one

  // A failure to inject now, counting the call.
  std::optional<vault::VaultError> fail(Operation operation) {
    const int call = ++call_counts_[operation];
    const auto [first, last] = failures.equal_range(operation);
    for (auto found = first; found != last; ++found) {
      if (found->second.on_call == 0 || found->second.on_call == call) return found->second.error();
    }
    return std::nullopt;
  }

  vault::VaultResult<std::unique_ptr<vault::Credential>> retrieve(std::string_view resource,
                                                                  std::string_view user_name) override {
    calls.push_back("retrieve " + std::string(user_name));
    if (auto failure = fail(Operation::retrieve)) return std::unexpected(std::move(*failure));
    const auto found = find(resource, user_name);
    if (found == entries.end()) return std::unexpected(vault::VaultError{hresult::not_found, nullptr});
    return std::make_unique<FakeCredential>(*this, *found, true);
  }
  vault::VaultResult<void> remove(vault::Credential& credential) override {
    const FakeEntry& entry = static_cast<FakeCredential&>(credential).entry();
    calls.push_back("remove " + entry.user_name);
    if (auto failure = fail(Operation::remove)) return std::unexpected(std::move(*failure));
    const auto found = find(entry.resource, entry.user_name);
    if (found == entries.end()) return std::unexpected(vault::VaultError{hresult::not_found, nullptr});
    entries.erase(found);
    return {};
  }
  vault::VaultResult<void> add(vault::Credential& credential) override {
    const FakeEntry& entry = static_cast<FakeCredential&>(credential).entry();
    calls.push_back("add " + entry.user_name + "=" + entry.password);
    if (auto failure = fail(Operation::add)) return std::unexpected(std::move(*failure));
    if (const auto found = find(entry.resource, entry.user_name); found != entries.end()) entries.erase(found);
    entries.push_back(entry);
    return {};
  }
  vault::VaultResult<std::unique_ptr<vault::CredentialList>> find_all_by_resource(std::string_view resource) override {
    calls.push_back("find_all_by_resource " + std::string(resource));
    if (auto failure = fail(Operation::find_all_by_resource)) return std::unexpected(std::move(*failure));
    std::vector<FakeEntry> matching;
    for (const FakeEntry& entry : entries) {
      if (entry.resource == resource) matching.push_back({entry.resource, entry.user_name, {}});
    }
    return std::make_unique<FakeCredentialList>(*this, std::move(matching));
  }
  vault::VaultResult<std::unique_ptr<vault::Credential>> create_credential(std::string_view resource,
                                                                           std::string_view user_name,
                                                                           std::string_view password) override {
    calls.push_back("create " + std::string(user_name) + "=" + std::string(password));
    if (auto failure = fail(Operation::create_credential)) return std::unexpected(std::move(*failure));
    return std::make_unique<FakeCredential>(
        *this, FakeEntry{std::string(resource), std::string(user_name), std::string(password)}, true);
  }
  vault::VaultResult<void> begin_changes() override {
    calls.emplace_back("begin");
    if (auto failure = fail(Operation::begin_changes)) return std::unexpected(std::move(*failure));
    if (transactional) saved_ = entries;
    return {};
  }
  vault::VaultResult<void> commit_changes() override {
    calls.emplace_back("commit");
    if (auto failure = fail(Operation::commit_changes)) return std::unexpected(std::move(*failure));
    saved_.reset();
    return {};
  }
  void discard_changes() noexcept override {
    calls.emplace_back("discard");
    if (saved_) entries = *std::exchange(saved_, std::nullopt);
  }

 private:
  std::vector<FakeEntry>::iterator find(std::string_view resource, std::string_view user_name) {
    return std::find_if(entries.begin(), entries.end(), [&](const FakeEntry& entry) {
      return entry.resource == resource && entry.user_name == user_name;
    });
  }

  std::map<Operation, int> call_counts_;
  std::optional<std::vector<FakeEntry>> saved_;
};

inline vault::VaultResult<void> FakeCredential::retrieve_password() {
  locker_.calls.push_back("retrieve_password " + entry_.user_name);
  if (auto failure = locker_.fail(Operation::retrieve_password)) return std::unexpected(std::move(*failure));
  for (const FakeEntry& stored : locker_.entries) {
    if (stored.resource == entry_.resource && stored.user_name == entry_.user_name) {
      entry_.password = stored.password;
      password_known_ = true;
      return {};
    }
  }
  return std::unexpected(vault::VaultError{hresult::not_found, nullptr});
}

inline vault::VaultResult<text::SecretText> FakeCredential::password() {
  locker_.calls.push_back("get_password " + entry_.user_name);
  if (auto failure = locker_.fail(Operation::get_password)) return std::unexpected(std::move(*failure));
  text::SecretText password;
  if (password_known_) password.append(entry_.password.data(), entry_.password.size());
  return password;
}

inline vault::VaultResult<std::string> FakeCredential::user_name() {
  locker_.calls.push_back("get_user_name " + entry_.user_name);
  if (auto failure = locker_.fail(Operation::get_user_name)) return std::unexpected(std::move(*failure));
  return entry_.user_name;
}

inline vault::VaultResult<std::uint32_t> FakeCredentialList::size() {
  locker_.calls.emplace_back("get_size");
  if (auto failure = locker_.fail(Operation::get_size)) return std::unexpected(std::move(*failure));
  return locker_.reported_size.value_or(static_cast<std::uint32_t>(entries_.size()));
}

inline vault::VaultResult<std::unique_ptr<vault::Credential>> FakeCredentialList::at(std::uint32_t index) {
  locker_.calls.push_back("get_at " + std::to_string(index));
  if (auto failure = locker_.fail(Operation::get_at)) return std::unexpected(std::move(*failure));
  if (index >= entries_.size()) return std::unexpected(vault::VaultError{hresult_from_bits(0x8000000B), nullptr});
  return std::make_unique<FakeCredential>(locker_, entries_[index], false);
}

// A binding over a FakeLocker, for runs of the whole request flow.
class FakeBinding final : public vault::VaultBinding {
 public:
  std::optional<Failure> initialize_failure;
  std::optional<Failure> open_failure;
  FakeLocker locker;  // lent to the run
  FakeMessageTable message_table;
  std::vector<std::string> calls;

  vault::VaultResult<void> initialize() override {
    calls.emplace_back("initialize");
    if (initialize_failure) return std::unexpected(initialize_failure->error());
    return {};
  }
  vault::VaultResult<std::unique_ptr<vault::Locker>> open_locker() override;
  const vault::MessageTable& messages() const override { return message_table; }
};

// Hands a run a locker that the test keeps.
class BorrowedLocker final : public vault::Locker {
 public:
  explicit BorrowedLocker(vault::Locker& locker) : locker_(locker) {}
  vault::VaultResult<std::unique_ptr<vault::Credential>> retrieve(std::string_view r, std::string_view u) override {
    return locker_.retrieve(r, u);
  }
  vault::VaultResult<void> remove(vault::Credential& c) override { return locker_.remove(c); }
  vault::VaultResult<void> add(vault::Credential& c) override { return locker_.add(c); }
  vault::VaultResult<std::unique_ptr<vault::CredentialList>> find_all_by_resource(std::string_view r) override {
    return locker_.find_all_by_resource(r);
  }
  vault::VaultResult<std::unique_ptr<vault::Credential>> create_credential(std::string_view r, std::string_view u,
                                                                           std::string_view p) override {
    return locker_.create_credential(r, u, p);
  }
  vault::VaultResult<void> begin_changes() override { return locker_.begin_changes(); }
  vault::VaultResult<void> commit_changes() override { return locker_.commit_changes(); }
  void discard_changes() noexcept override { locker_.discard_changes(); }

 private:
  vault::Locker& locker_;
};

inline vault::VaultResult<std::unique_ptr<vault::Locker>> FakeBinding::open_locker() {
  calls.emplace_back("open_locker");
  if (open_failure) return std::unexpected(open_failure->error());
  return std::make_unique<BorrowedLocker>(locker);
}

}  // namespace lupirane::testing
