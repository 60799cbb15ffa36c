// What only the Linux store promises: private files, reads that write nothing, runs that
// wait for each other, and refusal of a store that isn't safely ours.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "scenario.hpp"

namespace lupirane::testing {
namespace {

class LinuxStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (current_target() != Target::native) GTEST_SKIP() << "the Linux store only";
  }

  ProgramResult run(Step step) { return run_step(sandbox, step, scenario); }
  ProgramResult store(const std::string& user, const std::string& secret, const std::string& resource = "r") {
    return run(request("Set", resource, user).with_input(secret));
  }

  Sandbox sandbox;
  Scenario scenario;
};

struct FileState {
  ino_t inode;
  off_t size;
  timespec modified;
  timespec changed;
  mode_t mode;
  bool operator==(const FileState& other) const {
    const auto same_time = [](timespec a, timespec b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
    return inode == other.inode && size == other.size && same_time(modified, other.modified) &&
           same_time(changed, other.changed) && mode == other.mode;
  }
};

std::optional<FileState> state_of(const std::filesystem::path& path) {
  struct stat status{};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileState{status.st_ino, status.st_size, status.st_mtim, status.st_ctim, status.st_mode};
}

TEST_F(LinuxStore, FolderAndFileArePrivate) {
  ASSERT_EQ(store("u", "x").exit_status, 0);
  EXPECT_EQ(state_of(sandbox.store_file().parent_path())->mode & 07777, 0700u);
  EXPECT_EQ(state_of(sandbox.store_file())->mode & 07777, 0600u);
}

TEST_F(LinuxStore, ReadsWriteNothing) {
  ASSERT_EQ(store("u", "secret").exit_status, 0);
  const std::filesystem::path folder = sandbox.store_file().parent_path();
  std::vector<std::pair<std::filesystem::path, std::optional<FileState>>> before;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) before.emplace_back(entry.path(), state_of(entry.path()));
  before.emplace_back(folder, state_of(folder));
  // Timestamps must have a chance to differ should anything be written.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  EXPECT_EQ(run(request("Get", "r", "u")).output, "secret");
  EXPECT_EQ(run(request("Get", "r", "nobody")).exit_status, 3);
  EXPECT_EQ(run(request("List", "r")).output, "[\"u\"]");
  EXPECT_EQ(run(request("Fetch", "r")).exit_status, 1);

  for (const auto& [path, state] : before) EXPECT_EQ(state_of(path), state) << path;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()),
            static_cast<std::ptrdiff_t>(before.size() - 1));
}

TEST_F(LinuxStore, ParallelRunsWaitForEachOther) {
  constexpr std::size_t runs = 32;
  std::array<ProgramResult, runs> distinct;
  std::array<ProgramResult, runs> same_pair;
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < runs; ++i) {
      threads.emplace_back([&, i] { distinct[i] = store("user" + std::to_string(i), "secret" + std::to_string(i), "d"); });
      threads.emplace_back([&, i] { same_pair[i] = store("shared", "secret" + std::to_string(i), "s"); });
    }
  }
  for (std::size_t i = 0; i < runs; ++i) {
    EXPECT_EQ(distinct[i].exit_status, 0) << distinct[i].error;
    EXPECT_EQ(same_pair[i].exit_status, 0) << same_pair[i].error;
  }
  std::set<std::string> expected_names;
  for (std::size_t i = 0; i < runs; ++i) {
    expected_names.insert("user" + std::to_string(i));
    EXPECT_EQ(run(request("Get", "d", "user" + std::to_string(i))).output, "secret" + std::to_string(i));
  }
  const std::string listed = run(request("List", "d")).output;
  for (const std::string& name : expected_names) EXPECT_NE(listed.find("\"" + name + "\""), std::string::npos) << name;
  EXPECT_EQ(static_cast<std::size_t>(std::count(listed.begin(), listed.end(), ',')), runs - 1);

  EXPECT_EQ(run(request("List", "s")).output, "[\"shared\"]");
  const std::string kept = run(request("Get", "s", "shared")).output;
  EXPECT_TRUE(kept.starts_with("secret") && std::stoul(kept.substr(6)) < runs) << kept;
}

TEST_F(LinuxStore, RefusesAStoreThatIsNotSafelyOurs) {
  const std::string cannot_open = "Não foi possível abrir o Cofre do Windows: ";
  ASSERT_EQ(store("u", "x").exit_status, 0);
  const std::filesystem::path file = sandbox.store_file();

  ::chmod(file.c_str(), 0640);
  ProgramResult refused = run(request("List", "r"));
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_EQ(refused.error, cannot_open + file.string() + " is open to other users; the store must have mode 0600 (0x80070005)\n");
  ::chmod(file.c_str(), 0600);

  if (::geteuid() == 0) {
    // Only root can hand the file to someone else.
    ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
    refused = run(request("Get", "r", "u"));
    EXPECT_EQ(refused.error, cannot_open + file.string() + " belongs to another user; the store must be the user's own (0x80070005)\n");
    ASSERT_EQ(::chown(file.c_str(), 0, 0), 0);
  }
  EXPECT_EQ(run(request("Get", "r", "u")).output, "x");

  std::filesystem::remove(file);
  std::ofstream(file) << "this is not a database, just text that is long enough to look like a header";
  ::chmod(file.c_str(), 0600);
  EXPECT_EQ(run(request("Get", "r", "u")).error, cannot_open + "file is not a database (0x80070570)\n");

  std::filesystem::remove(file);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  sqlite3_exec(other, "CREATE TABLE notes (text);", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  ::chmod(file.c_str(), 0600);
  EXPECT_EQ(run(request("List", "r")).error,
            cannot_open + file.string() + " is not a credential store of this program (0x80004005)\n");
}

TEST_F(LinuxStore, LocationFollowsTheBaseDirectoryRules) {
  // An empty or relative XDG_DATA_HOME means $HOME/.local/share.
  const std::filesystem::path fallback = sandbox.root() / "home/.local/share/lupirane-vault/credentials.sqlite3";
  for (const char* data_home : {"relative/path", ""}) {
    Step step = request("Set", "r", "u").with_input("x");
    step.variables.emplace_back("XDG_DATA_HOME", data_home);
    ASSERT_EQ(run(step).exit_status, 0) << data_home;
  }
  EXPECT_TRUE(std::filesystem::exists(fallback));
  EXPECT_FALSE(std::filesystem::exists(sandbox.store_file()));
}

}  // namespace
}  // namespace lupirane::testing
