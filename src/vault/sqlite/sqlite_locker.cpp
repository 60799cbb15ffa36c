// The SQLite store: one table keyed by the exact bytes of resource and user name, rows in
// the order they were stored, a rollback journal so that reads never write, and every
// change synced before it is reported done.
#include "vault/sqlite/sqlite_locker.hpp"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "common/posix/unique_fd.hpp"
#include "vault/sqlite/wiping_memory.hpp"

namespace lupirane::vault {

namespace {

// "LPVT": marks a database as a store of this program.
constexpr std::uint32_t store_application_id = 0x4C505654;
constexpr std::uint32_t store_schema_version = 1;

constexpr const char* schema_sql =
    "CREATE TABLE credentials ("
    " resource BLOB NOT NULL,"
    " user_name BLOB NOT NULL,"
    " password BLOB NOT NULL,"
    " UNIQUE (resource, user_name));";

// Runs wait for each other rather than fail; this long a wait means something is stuck.
constexpr std::chrono::seconds longest_lock_wait{60};

struct DatabaseCloser {
  void operator()(sqlite3* database) const noexcept { sqlite3_close_v2(database); }
};
using UniqueDatabase = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using UniqueStatement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

HResult hresult_for_errno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return hresult::access_denied;
    case ENOSPC:
    case EDQUOT:
      return hresult::disk_full;
    case ENOMEM:
      return hresult::out_of_memory;
    default:
      return hresult::fail;
  }
}

VaultError errno_error(int error, std::string_view what) {
  std::string text(what);
  text += ": ";
  text += std::strerror(error);
  return VaultError::described(hresult_for_errno(error), text);
}

// The failure of the last call on `database`, in the terms of the Windows locker.
VaultError database_error(sqlite3* database, int result) {
  const int system_error = sqlite3_system_errno(database);
  std::string text = database != nullptr ? sqlite3_errmsg(database) : sqlite3_errstr(result);
  HResult code = hresult::fail;
  switch (result & 0xFF) {
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_READONLY:
      code = hresult::access_denied;
      break;
    case SQLITE_FULL:
      code = hresult::disk_full;
      break;
    case SQLITE_NOMEM:
      code = hresult::out_of_memory;
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      code = hresult::file_corrupt;
      break;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      if (system_error != 0) {
        code = hresult_for_errno(system_error);
        text += ": ";
        text += std::strerror(system_error);
      }
      break;
    default:
      break;
  }
  return VaultError::described(code, text);
}

VaultError not_found() { return VaultError::described(hresult::not_found, "Element not found."); }

// Waits with short, growing pauses: far less delay under contention than a fixed schedule.
int wait_for_lock(void* context, int attempt) {
  using namespace std::chrono;
  auto& started = *static_cast<steady_clock::time_point*>(context);
  if (attempt == 0) started = steady_clock::now();
  if (steady_clock::now() - started > longest_lock_wait) return 0;
  const auto pause = microseconds(std::min(100 << std::min(attempt, 7), 10'000));
  std::this_thread::sleep_for(pause);
  return 1;
}

VaultResult<void> ensure_folder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return {};
  if (errno != ENOENT) return std::unexpected(errno_error(errno, "cannot create the folder " + folder));
  // Make the missing parents too, each private, as the base directory rules ask.
  const std::size_t slash = folder.rfind('/');
  if (slash == 0 || slash == std::string::npos) return std::unexpected(errno_error(ENOENT, folder));
  if (auto parent = ensure_folder(folder.substr(0, slash)); !parent) return parent;
  if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return {};
  return std::unexpected(errno_error(errno, "cannot create the folder " + folder));
}

// True when the database header already names the file a store of ours (the magic string,
// user_version at offset 60 and application_id at 68, both big-endian), so that opening
// needs no query. Those fields never change once the store is made, so reading them without
// SQLite's locks is safe; anything unexpected takes the full check through SQLite.
bool header_is_ours(int fd) {
  unsigned char header[100];
  if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
  if (std::memcmp(header, "SQLite format 3", 16) != 0) return false;
  const auto field = [&header](std::size_t offset) {
    return (std::uint32_t{header[offset]} << 24) | (std::uint32_t{header[offset + 1]} << 16) |
           (std::uint32_t{header[offset + 2]} << 8) | std::uint32_t{header[offset + 3]};
  };
  return field(60) == store_schema_version && field(68) == store_application_id;
}

// Creates the file when missing and refuses one that others could read or replace; true
// when its header shows a store of ours. This runs before SQLite opens the file: closing a
// descriptor of a file drops every POSIX lock the process holds on it, SQLite's included.
VaultResult<bool> check_file(const std::string& file) {
  const posix::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd) return std::unexpected(errno_error(errno, "cannot open " + file));
  struct stat status{};
  if (::fstat(fd.get(), &status) != 0) return std::unexpected(errno_error(errno, "cannot inspect " + file));
  if (!S_ISREG(status.st_mode)) {
    return std::unexpected(VaultError::described(hresult::fail, file + " is not a regular file"));
  }
  if (status.st_uid != ::geteuid()) {
    return std::unexpected(VaultError::described(
        hresult::access_denied, file + " belongs to another user; the store must be the user's own"));
  }
  if ((status.st_mode & 077) != 0) {
    return std::unexpected(VaultError::described(
        hresult::access_denied, file + " is open to other users; the store must have mode 0600"));
  }
  // The journal stays once made (it is truncated, not deleted). Made here, a full disk shows
  // as such: when SQLite can't create it, it retries read-only and reports only that the
  // file doesn't exist. Other errors are left for SQLite to meet when it needs the journal.
  const std::string journal = file + "-journal";
  const posix::UniqueFd journal_fd(::open(journal.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!journal_fd && (errno == ENOSPC || errno == EDQUOT)) {
    return std::unexpected(errno_error(errno, "cannot create " + journal));
  }
  return header_is_ours(fd.get());
}

class Statement {
 public:
  Statement(sqlite3* database, const char* sql) : database_(database) {
    sqlite3_stmt* statement = nullptr;
    result_ = sqlite3_prepare_v3(database, sql, -1, 0, &statement, nullptr);
    statement_.reset(statement);
  }
  [[nodiscard]] bool prepared() const noexcept { return result_ == SQLITE_OK; }
  [[nodiscard]] VaultError error() const { return database_error(database_, result_); }

  void bind(int index, std::string_view bytes) {
    // An empty blob binds as a zero-length blob, never as NULL.
    sqlite3_bind_blob64(statement_.get(), index, bytes.empty() ? "" : bytes.data(), bytes.size(), SQLITE_STATIC);
  }
  // SQLITE_ROW, SQLITE_DONE or an error, which is kept for error().
  int step() {
    result_ = sqlite3_step(statement_.get());
    return result_;
  }
  [[nodiscard]] std::string_view column(int index) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_.get(), index));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), index));
    return bytes == nullptr ? std::string_view{} : std::string_view(bytes, size);
  }
  [[nodiscard]] int column_int(int index) const { return sqlite3_column_int(statement_.get(), index); }

 private:
  sqlite3* database_;
  UniqueStatement statement_;
  int result_ = SQLITE_OK;
};

VaultResult<void> execute(sqlite3* database, const char* sql) {
  const int result = sqlite3_exec(database, sql, nullptr, nullptr, nullptr);
  if (result != SQLITE_OK) return std::unexpected(database_error(database, result));
  return {};
}

// How changes are written: the journal is truncated rather than deleted (it stays, made
// with the store), FULL syncs the journal and the database before a change is reported
// done, and deleted secrets are overwritten in the file. Reads need none of it, so a
// read-only run doesn't spend the time.
VaultResult<void> configure_for_changes(sqlite3* database) {
  return execute(database,
                 "PRAGMA journal_mode = TRUNCATE;"
                 "PRAGMA synchronous = FULL;"
                 "PRAGMA secure_delete = ON;");
}

class SqliteCredential final : public Credential {
 public:
  SqliteCredential(sqlite3* database, std::string resource, std::string user_name)
      : database_(database), resource_(std::move(resource)), user_name_(std::move(user_name)) {}

  void set_password(std::string_view password) {
    password_.clear();
    password_.append(password.data(), password.size());
    password_known_ = true;
  }
  [[nodiscard]] const std::string& resource() const noexcept { return resource_; }
  [[nodiscard]] const std::string& stored_user_name() const noexcept { return user_name_; }
  [[nodiscard]] std::string_view stored_password() const noexcept { return password_.view(); }

  VaultResult<void> retrieve_password() override {
    // A credential that was retrieved already carries its password.
    if (password_known_) return {};
    Statement select(database_, "SELECT password FROM credentials WHERE resource = ?1 AND user_name = ?2");
    if (!select.prepared()) return std::unexpected(select.error());
    select.bind(1, resource_);
    select.bind(2, user_name_);
    const int result = select.step();
    if (result == SQLITE_DONE) return std::unexpected(not_found());
    if (result != SQLITE_ROW) return std::unexpected(select.error());
    set_password(select.column(0));
    return {};
  }
  VaultResult<text::SecretText> password() override {
    text::SecretText copy;
    copy.append(password_.data(), password_.size());
    return copy;
  }
  VaultResult<std::string> user_name() override { return user_name_; }

 private:
  sqlite3* database_;
  std::string resource_;
  std::string user_name_;
  text::SecretText password_;
  bool password_known_ = false;
};

class SqliteCredentialList final : public CredentialList {
 public:
  SqliteCredentialList(sqlite3* database, std::string resource, std::vector<std::string> user_names)
      : database_(database), resource_(std::move(resource)), user_names_(std::move(user_names)) {}

  VaultResult<std::uint32_t> size() override { return static_cast<std::uint32_t>(user_names_.size()); }
  VaultResult<std::unique_ptr<Credential>> at(std::uint32_t index) override {
    if (index >= user_names_.size()) {
      return std::unexpected(VaultError::described(hresult::fail, "index out of range"));
    }
    return std::make_unique<SqliteCredential>(database_, resource_, user_names_[index]);
  }

 private:
  sqlite3* database_;
  std::string resource_;
  std::vector<std::string> user_names_;
};

class SqliteLocker final : public Locker {
 public:
  explicit SqliteLocker(UniqueDatabase database) : database_(std::move(database)) {
    sqlite3_busy_handler(db(), wait_for_lock, &lock_wait_started_);
  }

  VaultResult<std::unique_ptr<Credential>> retrieve(std::string_view resource, std::string_view user_name) override {
    auto credential = std::make_unique<SqliteCredential>(db(), std::string(resource), std::string(user_name));
    if (auto found = credential->retrieve_password(); !found) return std::unexpected(std::move(found.error()));
    return credential;
  }

  VaultResult<void> remove(Credential& credential) override {
    if (auto usable = check_still_in_changes(); !usable) return usable;
    if (auto configured = configure(); !configured) return configured;
    auto& stored = static_cast<SqliteCredential&>(credential);
    Statement remove(db(), "DELETE FROM credentials WHERE resource = ?1 AND user_name = ?2");
    if (!remove.prepared()) return std::unexpected(remove.error());
    remove.bind(1, stored.resource());
    remove.bind(2, stored.stored_user_name());
    if (remove.step() != SQLITE_DONE) return std::unexpected(remove.error());
    if (sqlite3_changes64(db()) == 0) return std::unexpected(not_found());
    return {};
  }

  VaultResult<void> add(Credential& credential) override {
    if (auto usable = check_still_in_changes(); !usable) return usable;
    if (auto configured = configure(); !configured) return configured;
    auto& stored = static_cast<SqliteCredential&>(credential);
    // Replacing deletes the old row and appends a new one: the pair moves to the end.
    Statement insert(db(),
                     "INSERT OR REPLACE INTO credentials (resource, user_name, password) VALUES (?1, ?2, ?3)");
    if (!insert.prepared()) return std::unexpected(insert.error());
    insert.bind(1, stored.resource());
    insert.bind(2, stored.stored_user_name());
    insert.bind(3, stored.stored_password());
    if (insert.step() != SQLITE_DONE) return std::unexpected(insert.error());
    return {};
  }

  VaultResult<std::unique_ptr<CredentialList>> find_all_by_resource(std::string_view resource) override {
    Statement select(db(), "SELECT user_name FROM credentials WHERE resource = ?1 ORDER BY rowid");
    if (!select.prepared()) return std::unexpected(select.error());
    select.bind(1, resource);
    std::vector<std::string> user_names;
    int result;
    while ((result = select.step()) == SQLITE_ROW) user_names.emplace_back(select.column(0));
    if (result != SQLITE_DONE) return std::unexpected(select.error());
    return std::make_unique<SqliteCredentialList>(db(), std::string(resource), std::move(user_names));
  }

  VaultResult<std::unique_ptr<Credential>> create_credential(std::string_view resource, std::string_view user_name,
                                                             std::string_view password) override {
    auto credential = std::make_unique<SqliteCredential>(db(), std::string(resource), std::string(user_name));
    credential->set_password(password);
    return credential;
  }

  VaultResult<void> begin_changes() override {
    if (auto configured = configure(); !configured) return configured;
    // IMMEDIATE takes the write lock now, so two runs never both read and then both write.
    if (auto begun = execute(db(), "BEGIN IMMEDIATE"); !begun) return begun;
    in_changes_ = true;
    return {};
  }
  VaultResult<void> commit_changes() override {
    in_changes_ = false;
    return execute(db(), "COMMIT");
  }
  void discard_changes() noexcept override {
    in_changes_ = false;
    if (sqlite3_get_autocommit(db()) == 0) (void)sqlite3_exec(db(), "ROLLBACK", nullptr, nullptr, nullptr);
  }

 private:
  [[nodiscard]] sqlite3* db() const noexcept { return database_.get(); }

  // The journal mode can't change inside a transaction, so this runs before one begins.
  [[nodiscard]] VaultResult<void> configure() {
    if (configured_ || sqlite3_get_autocommit(db()) == 0) return {};
    if (auto configured = configure_for_changes(db()); !configured) return configured;
    configured_ = true;
    return {};
  }

  // Some errors make SQLite roll the whole transaction back; a later change must then
  // fail rather than be applied on its own.
  [[nodiscard]] VaultResult<void> check_still_in_changes() const {
    if (in_changes_ && sqlite3_get_autocommit(db()) != 0) {
      return std::unexpected(VaultError::described(hresult::fail, "the change was rolled back after an error"));
    }
    return {};
  }

  UniqueDatabase database_;
  std::chrono::steady_clock::time_point lock_wait_started_;
  bool in_changes_ = false;
  bool configured_ = false;
};

// A store of ours, an empty database to make one of, or something else.
enum class StoreState { ours, empty, foreign };

VaultResult<StoreState> inspect(sqlite3* database) {
  Statement header(database,
                   "SELECT (SELECT application_id FROM pragma_application_id),"
                   " (SELECT user_version FROM pragma_user_version),"
                   " (SELECT count(*) FROM sqlite_schema)");
  if (!header.prepared()) return std::unexpected(header.error());
  if (header.step() != SQLITE_ROW) return std::unexpected(header.error());
  const auto application_id = static_cast<std::uint32_t>(header.column_int(0));
  const auto version = static_cast<std::uint32_t>(header.column_int(1));
  const int schema_entries = header.column_int(2);
  if (application_id == store_application_id && version == store_schema_version) return StoreState::ours;
  if (application_id == 0 && version == 0 && schema_entries == 0) return StoreState::empty;
  return StoreState::foreign;
}

VaultResult<void> make_store(sqlite3* database) {
  if (auto configured = configure_for_changes(database); !configured) return configured;
  if (auto begun = execute(database, "BEGIN IMMEDIATE"); !begun) return begun;
  // Another run may have made it while this one waited for the lock.
  auto state = inspect(database);
  if (state && *state == StoreState::empty) {
    const std::string sql = std::string(schema_sql) + "PRAGMA application_id = " +
                            std::to_string(store_application_id) + "; PRAGMA user_version = " +
                            std::to_string(store_schema_version) + ";";
    if (auto made = execute(database, sql.c_str()); !made) {
      (void)sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
      return made;
    }
  }
  if (auto committed = execute(database, "COMMIT"); !committed) {
    (void)sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
    return committed;
  }
  if (!state) return std::unexpected(std::move(state.error()));
  return {};
}

}  // namespace

VaultResult<std::unique_ptr<Locker>> open_sqlite_locker(const std::string& folder, const std::string& file) {
  if (auto made = ensure_folder(folder); !made) return std::unexpected(std::move(made.error()));
  auto header_ours = check_file(file);
  if (!header_ours) return std::unexpected(std::move(header_ours.error()));

  // Failing only when SQLite was set up elsewhere first; the store works either way.
  (void)configure_sqlite_memory();
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  UniqueDatabase database(raw);
  if (opened != SQLITE_OK) return std::unexpected(database_error(raw, opened));
  sqlite3_extended_result_codes(raw, 1);
  // A file written by someone else can't turn a query into something else.
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);

  auto locker = std::make_unique<SqliteLocker>(std::move(database));
  if (*header_ours) return locker;

  auto state = inspect(raw);
  if (state && *state == StoreState::empty) {
    if (auto made = make_store(raw); !made) return std::unexpected(std::move(made.error()));
    state = inspect(raw);
  }
  if (!state) return std::unexpected(std::move(state.error()));
  if (*state != StoreState::ours) {
    return std::unexpected(VaultError::described(hresult::fail, file + " is not a credential store of this program"));
  }
  return locker;
}

}  // namespace lupirane::vault
