// The Linux store under faults a host can't prevent: a run killed at any moment, and a
// file system with no room left. Either way every secret stays whole and findable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <expected>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "scenario.hpp"

namespace lupirane::testing {
namespace {

const std::string open_failed = "Não foi possível abrir o Cofre do Windows: ";
const std::string save_failed = "Não foi possível salvar a credencial local: ";
const std::string replace_failed = "Não foi possível substituir a credencial local: ";
// SQLite's text for SQLITE_FULL, and the code the program gives it.
const std::string disk_full = "database or disk is full (0x80070070)\n";
const std::string disk_full_code = " (0x80070070)\n";

// What run_step runs natively, as a ProgramRun so that a kill can be added.
ProgramRun native_run(const Sandbox& sandbox, const Step& step) {
  ProgramRun run;
  run.command = {LUPIRANE_NATIVE_EXE};
  run.environment = {{"PATH", "/usr/bin:/bin"},
                     {"HOME", (sandbox.root() / "home").string()},
                     {"XDG_DATA_HOME", sandbox.data_home().string()}};
  run.environment.insert(run.environment.end(), step.variables.begin(), step.variables.end());
  run.input = step.input;
  return run;
}

std::string json_list(const std::vector<std::string>& names) {
  std::string text = "[";
  for (const std::string& name : names) text += (text.size() > 1 ? ",\"" : "\"") + name + "\"";
  return text + "]";
}

// ---------------------------------------------------------------------------------------
// Killed runs

struct Pair {
  std::string resource;
  std::string user;
  [[nodiscard]] std::string name() const { return resource + "/" + user; }
};

const std::array<Pair, 5> pairs{
    {{"alpha", "ana"}, {"alpha", "bruno"}, {"alpha", "carla"}, {"beta", "ana"}, {"beta", "davi"}}};

// A secret that names its pair, version and length, then bytes drawn from those: any
// truncated, mixed or misplaced secret fails to match its own header.
std::string make_secret(const Pair& pair, unsigned version, std::size_t length) {
  static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string text =
      "pair=" + pair.name() + ";version=" + std::to_string(version) + ";length=" + std::to_string(length) + ";";
  std::uint64_t state = std::hash<std::string>{}(text);
  while (text.size() < length) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    text.push_back(alphabet[state >> 58]);
  }
  return text;
}

// Which sent version `stored` is, or what is wrong with it.
std::expected<unsigned, std::string> identify(const Pair& pair, const std::string& stored,
                                              const std::map<unsigned, std::size_t>& sent) {
  const std::string start = "pair=" + pair.name() + ";version=";
  const auto describe = [&stored](std::string what) {
    return std::unexpected(what + " (" + std::to_string(stored.size()) + " bytes, starting \"" + stored.substr(0, 60) +
                           "\")");
  };
  if (!stored.starts_with(start)) return describe("not a secret sent for " + pair.name());
  const unsigned version = static_cast<unsigned>(std::strtoul(stored.c_str() + start.size(), nullptr, 10));
  const auto found = sent.find(version);
  if (found == sent.end()) return describe("a version never sent for " + pair.name());
  const std::string expected = make_secret(pair, version, found->second);
  if (stored != expected) {
    const auto mismatch = std::mismatch(stored.begin(), stored.end(), expected.begin(), expected.end());
    return describe("version " + std::to_string(version) + " damaged: " + std::to_string(expected.size()) +
                    " bytes sent, first difference at byte " + std::to_string(mismatch.first - stored.begin()));
  }
  return version;
}

std::string held_text(std::optional<unsigned> version) {
  return version ? "version " + std::to_string(*version) : "nothing";
}

class StoreFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (current_target() != Target::native) GTEST_SKIP() << "the Linux store only";
  }
  ProgramResult run(const Step& step) { return run_step(sandbox, step, scenario); }

  Sandbox sandbox;
  Scenario scenario;
};

constexpr std::size_t largest_secret = 200'000;

// How long unhindered replacements of a small and of the largest secret take here, so
// that kills can be spread over a whole run and a little past it, whatever the machine.
struct NormalDurations {
  std::chrono::microseconds small;
  std::chrono::microseconds large;
  // For a change of `length` bytes (0 for Remove).
  [[nodiscard]] std::chrono::microseconds of(std::size_t length) const {
    return small + (large - small) * static_cast<std::int64_t>(length) / static_cast<std::int64_t>(largest_secret);
  }
};

NormalDurations measure_normal_durations() {
  const Sandbox scratch;
  const Scenario none;
  const auto median_of_sets = [&](std::size_t length) {
    const std::string secret = make_secret({"calibration", "u"}, 0, length);
    (void)run_step(scratch, request("Set", "calibration", "u").with_input(secret), none);
    std::vector<std::chrono::microseconds> durations;
    for (int attempt = 0; attempt < 5; ++attempt) {
      const auto started = std::chrono::steady_clock::now();
      (void)run_step(scratch, request("Set", "calibration", "u").with_input(secret), none);
      durations.push_back(
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started));
    }
    std::ranges::sort(durations);
    return durations[durations.size() / 2];
  };
  const auto small = median_of_sets(64);
  return {small, std::max(small, median_of_sets(largest_secret))};
}

TEST_F(StoreFaults, KilledChangesLeaveTheOldOrTheNewSecretWhole) {
  constexpr std::uint64_t seed = 20240611;
  constexpr int runs = 200;
  const NormalDurations normal = measure_normal_durations();

  std::mt19937_64 random(seed);
  std::uniform_int_distribution<std::size_t> pick_pair(0, pairs.size() - 1);
  std::uniform_int_distribution<int> pick_action(0, 3);  // three in four are Set
  std::uniform_real_distribution<double> pick_log_length(std::log(64.0), std::log(static_cast<double>(largest_secret)));
  // From the start to a quarter past a normal run's end: before, during and after the work.
  std::uniform_real_distribution<double> pick_delay_fraction(0.0, 1.25);

  std::array<std::optional<unsigned>, pairs.size()> held;          // the model of the store
  std::array<std::map<unsigned, std::size_t>, pairs.size()> sent;  // version -> length
  std::map<std::string, std::vector<std::string>> listed;          // resource -> List order
  for (const Pair& pair : pairs) listed[pair.resource];

  struct Counts {
    int finished = 0, killed = 0, journal_left = 0, kept_old = 0, took_new = 0, stayed_empty = 0;
  };
  Counts set_counts;
  Counts remove_counts;
  const auto summary = [&] {
    std::ostringstream text;
    text << "seed " << seed << ", kills after 0-125% of an unhindered change (" << normal.small.count() << " us for "
         << "64 bytes, " << normal.large.count() << " us for " << largest_secret << "); Set: " << set_counts.finished
         << " finished, " << set_counts.killed << " killed (" << set_counts.journal_left << " left a journal; kept old "
         << set_counts.kept_old << ", took new " << set_counts.took_new << ", still none " << set_counts.stayed_empty
         << "); Remove: " << remove_counts.finished << " finished, " << remove_counts.killed << " killed ("
         << remove_counts.journal_left << " left a journal; kept " << remove_counts.kept_old << ", removed "
         << remove_counts.took_new << ", was none " << remove_counts.stayed_empty << ")";
    return text.str();
  };
  const std::filesystem::path journal = sandbox.store_file().string() + "-journal";

  for (int index = 0; index < runs; ++index) {
    const std::size_t target = pick_pair(random);
    const Pair& pair = pairs[target];
    const bool is_set = pick_action(random) != 0;
    const auto version = static_cast<unsigned>(index + 1);
    const auto length = static_cast<std::size_t>(std::exp(pick_log_length(random)));
    const auto delay = std::chrono::microseconds(static_cast<std::int64_t>(
        pick_delay_fraction(random) * static_cast<double>(normal.of(is_set ? length : 0).count())));

    Step step = is_set ? request("Set", pair.resource, pair.user).with_input(make_secret(pair, version, length))
                       : request("Remove", pair.resource, pair.user);
    if (is_set) sent[target][version] = length;
    ProgramRun killed_run = native_run(sandbox, step);
    killed_run.kill_after = delay;
    const ProgramResult result = run_program(killed_run);
    const bool killed = result.signal == SIGKILL;
    std::error_code ignored;
    const bool journal_left = std::filesystem::file_size(journal, ignored) > 0 && !ignored;

    const std::string what =
        "seed " + std::to_string(seed) + ", run " + std::to_string(index) + ": " +
        (is_set ? "Set of version " + std::to_string(version) + " (" + std::to_string(length) + " bytes)"
                : std::string("Remove")) +
        " for " + pair.name() + ", kill after " + std::to_string(delay.count()) + " us, " +
        (killed ? "killed" : "finished") + ", held before: " + held_text(held[target]);
    SCOPED_TRACE(what);
    if (!killed) {
      ASSERT_EQ(result.signal, 0);
      ASSERT_EQ(result.exit_status, 0) << result.error;
      ASSERT_EQ(result.error, "");
    }

    for (std::size_t other = 0; other < pairs.size(); ++other) {
      const ProgramResult got = run(request("Get", pairs[other].resource, pairs[other].user));
      ASSERT_TRUE(got.exit_status == 0 || got.exit_status == 3)
          << pairs[other].name() << ": status " << got.exit_status << ", signal " << got.signal << ": " << got.error;
      std::optional<unsigned> now;
      if (got.exit_status == 0) {
        const auto identified = identify(pairs[other], got.output, sent[other]);
        ASSERT_TRUE(identified.has_value()) << pairs[other].name() << " holds " << identified.error() << "\n"
                                            << summary();
        now = *identified;
      }
      std::vector<std::optional<unsigned>> allowed{held[other]};
      if (other == target) {
        const std::optional<unsigned> after = is_set ? std::optional(version) : std::nullopt;
        allowed = killed ? std::vector{held[target], after} : std::vector{after};
      }
      ASSERT_TRUE(std::ranges::find(allowed, now) != allowed.end())
          << pairs[other].name() << " holds " << held_text(now) << (held[other] && !now ? ": the secret is lost" : "")
          << "\n"
          << summary();
      if (other == target) {
        Counts& counts = is_set ? set_counts : remove_counts;
        ++(killed ? counts.killed : counts.finished);
        if (killed) {
          counts.journal_left += journal_left ? 1 : 0;
          ++(!held[target] && !now ? counts.stayed_empty : now == held[target] ? counts.kept_old : counts.took_new);
        }
      }
      if (now != held[other]) {
        auto& names = listed[pairs[other].resource];
        std::erase(names, pairs[other].user);
        // A replaced or new secret is the last one stored.
        if (now) names.push_back(pairs[other].user);
      }
      held[other] = now;
    }
    for (const auto& [resource, names] : listed) {
      const ProgramResult list = run(request("List", resource));
      ASSERT_EQ(list.exit_status, 0) << list.error;
      ASSERT_EQ(list.error, "");
      ASSERT_EQ(list.output, json_list(names)) << resource << "\n" << summary();
    }
  }
  RecordProperty("kills", summary());
  std::cout << "[ kills    ] " << summary() << "\n";
}

// ---------------------------------------------------------------------------------------
// No room left

// A small file system of its own as the data folder, so that it can be filled.
class FullFileSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    if (current_target() != Target::native) GTEST_SKIP() << "the Linux store only";
    std::filesystem::create_directory(sandbox.data_home());
    if (::mount("tmpfs", sandbox.data_home().c_str(), "tmpfs", 0, "size=1m,nr_inodes=64,mode=0700") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs (" << std::strerror(errno) << "): needs CAP_SYS_ADMIN";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_ && ::umount2(sandbox.data_home().c_str(), 0) != 0) {
      ADD_FAILURE() << "unmount: " << std::strerror(errno);
      ::umount2(sandbox.data_home().c_str(), MNT_DETACH);
    }
  }

  ProgramResult run(const Step& step) { return run_step(sandbox, step, scenario); }
  ProgramResult store(const std::string& user, const std::string& secret) {
    return run(request("Set", "r", user).with_input(secret));
  }
  [[nodiscard]] std::filesystem::path filler() const { return sandbox.data_home() / "filler"; }

  // Writes a file until the file system refuses, then frees `room_kib` of it again.
  void fill_blocks(std::size_t room_kib) {
    const int fd = ::open(filler().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    const std::string chunk(65536, 'f');
    off_t size = 0;
    ssize_t written;
    while ((written = ::write(fd, chunk.data(), chunk.size())) > 0) size += written;
    const int error = errno;
    const int truncated = ::ftruncate(fd, size - static_cast<off_t>(room_kib * 1024));
    ::close(fd);
    ASSERT_EQ(error, ENOSPC) << std::strerror(error);
    ASSERT_EQ(truncated, 0);
  }
  // Makes empty files until no inode is left, then frees `left` of them again.
  void fill_inodes(int left) {
    int made = 0;
    for (;; ++made) {
      const int fd = ::open((sandbox.data_home() / ("inode" + std::to_string(made))).c_str(),
                            O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0) break;
      ::close(fd);
    }
    ASSERT_EQ(errno, ENOSPC) << std::strerror(errno);
    while (left-- > 0) std::filesystem::remove(sandbox.data_home() / ("inode" + std::to_string(--made)));
  }
  void empty_fillers() {
    for (const auto& entry : std::filesystem::directory_iterator(sandbox.data_home())) {
      if (entry.path().filename() != "lupirane-vault") std::filesystem::remove(entry.path());
    }
  }

  Sandbox sandbox;
  Scenario scenario;

 private:
  bool mounted_ = false;
};

struct ChangeCase {
  std::string name;
  std::size_t room_kib;  // left free after filling
  bool replacing;        // the pair already holds a secret
  std::string error;     // the whole line
};

void PrintTo(const ChangeCase& change, std::ostream* out) { *out << change.name; }

class StoreFaultsFullChange : public FullFileSystem, public ::testing::WithParamInterface<ChangeCase> {};

const std::string old_secret(1000, 'o');
const std::string new_secret(200'000, 'n');

TEST_P(StoreFaultsFullChange, FailsAndKeepsWhatWasStored) {
  const ChangeCase& change = GetParam();
  ASSERT_EQ(store("bystander", "kept").exit_status, 0);
  if (change.replacing) {
    ASSERT_EQ(store("u", old_secret).exit_status, 0);
  }
  ASSERT_NO_FATAL_FAILURE(fill_blocks(change.room_kib));

  const ProgramResult failed = store("u", new_secret);
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_EQ(failed.error, change.error);
  EXPECT_EQ(failed.output, "");

  const ProgramResult kept = run(request("Get", "r", "u"));
  EXPECT_EQ(kept.exit_status, change.replacing ? 0 : 3) << kept.error;
  EXPECT_TRUE(kept.output == (change.replacing ? old_secret : "")) << kept.output.size() << " bytes";
  EXPECT_EQ(run(request("Get", "r", "bystander")).output, "kept");
  EXPECT_EQ(run(request("List", "r")).output, change.replacing ? R"(["bystander","u"])" : R"(["bystander"])");

  empty_fillers();
  const ProgramResult stored = store("u", new_secret);
  EXPECT_EQ(stored.exit_status, 0) << stored.error;
  EXPECT_TRUE(run(request("Get", "r", "u")).output == new_secret);
}

INSTANTIATE_TEST_SUITE_P(, StoreFaultsFullChange,
                         ::testing::Values(
                             // The first write of a replacement is the old row's removal: its journal has no room.
                             ChangeCase{"NoRoomToReplace", 0, true, replace_failed + disk_full},
                             ChangeCase{"NoRoomToAdd", 0, false, save_failed + disk_full},
                             // The journal fits; the commit then runs out of room writing the database itself.
                             ChangeCase{"RoomForTheJournalOnly", 64, true, save_failed + disk_full}),
                         [](const auto& parameter) { return parameter.param.name; });

enum class Exhaust { blocks, inodes };

struct FirstStoreCase {
  std::string name;
  Exhaust exhaust;
  bool folder_exists;
  int inodes_left;
  // After the open failure text; $FOLDER and $FILE stand for the store's paths. Empty:
  // any description, as long as the code says the disk is full.
  std::string description;
};

void PrintTo(const FirstStoreCase& first, std::ostream* out) { *out << first.name; }

class StoreFaultsFullFirstStore : public FullFileSystem, public ::testing::WithParamInterface<FirstStoreCase> {};

TEST_P(StoreFaultsFullFirstStore, FailsAsDiskFullThenWorksOnceThereIsRoom) {
  const FirstStoreCase& first = GetParam();
  const std::filesystem::path folder = sandbox.store_file().parent_path();
  if (first.folder_exists) {
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  }
  if (first.exhaust == Exhaust::blocks) {
    ASSERT_NO_FATAL_FAILURE(fill_blocks(0));
  } else {
    ASSERT_NO_FATAL_FAILURE(fill_inodes(first.inodes_left));
  }

  const ProgramResult failed = store("u", "secret");
  EXPECT_EQ(failed.exit_status, 1);
  EXPECT_EQ(failed.output, "");
  EXPECT_TRUE(failed.error.starts_with(open_failed) && failed.error.ends_with(disk_full_code)) << failed.error;
  if (!first.description.empty()) {
    std::string description = first.description;
    const auto put = [&description](std::string_view token, const std::filesystem::path& path) {
      if (const auto at = description.find(token); at != std::string::npos) description.replace(at, token.size(), path);
    };
    put("$FOLDER", folder);
    put("$FILE", sandbox.store_file());
    EXPECT_EQ(failed.error, open_failed + description);
  }

  empty_fillers();
  const ProgramResult stored = store("u", "secret");
  EXPECT_EQ(stored.exit_status, 0) << stored.error;
  EXPECT_EQ(run(request("Get", "r", "u")).output, "secret");
}

INSTANTIATE_TEST_SUITE_P(
    , StoreFaultsFullFirstStore,
    ::testing::Values(FirstStoreCase{"NoBlockForTheStore", Exhaust::blocks, false, 0, disk_full},
                      FirstStoreCase{"NoInodeForTheFolder", Exhaust::inodes, false, 0,
                                     "cannot create the folder $FOLDER: No space left on device" + disk_full_code},
                      FirstStoreCase{"NoInodeForTheStore", Exhaust::inodes, true, 0,
                                     "cannot open $FILE: No space left on device" + disk_full_code},
                      // The store file is made, its journal is not.
                      FirstStoreCase{"NoInodeForTheJournal", Exhaust::inodes, true, 1,
                                     "cannot create $FILE-journal: No space left on device" + disk_full_code}),
    [](const auto& parameter) { return parameter.param.name; });

}  // namespace
}  // namespace lupirane::testing
