// End-to-end scenarios: sequences of requests against one private store, each with the
// bytes expected on standard output and standard error and the exit status. The same
// table runs against the Linux program and, under Wine, against the Windows program.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "process_runner.hpp"

namespace lupirane::testing {

enum class Target : unsigned { native = 1, wine = 2 };
inline constexpr unsigned both_targets = 3;
inline constexpr unsigned native_only = 1;
inline constexpr unsigned wine_only = 2;

// The program the suite runs against, chosen by LUPIRANE_E2E_TARGET ("native" or "wine").
[[nodiscard]] Target current_target();

using Variables = std::vector<std::pair<std::string, std::string>>;

struct Step {
  Variables variables;                 // request variables; unset when not named
  std::optional<std::string> input = std::string();  // nullopt: no standard input at all
  OutputMode output = OutputMode::pipe;
  OutputMode error = OutputMode::pipe;
  int status = 0;
  std::string expected_output;
  std::string expected_error;
  bool error_is_prefix = false;  // the error line starts with expected_error

  Step& with_input(std::optional<std::string> bytes) {
    input = std::move(bytes);
    return *this;
  }
  Step& with_streams(OutputMode output_mode, OutputMode error_mode) {
    output = output_mode;
    error = error_mode;
    return *this;
  }
  Step& expect(int exit_status, std::string output_bytes = {}, std::string error_bytes = {}) {
    status = exit_status;
    expected_output = std::move(output_bytes);
    expected_error = std::move(error_bytes);
    return *this;
  }
  // An error line: the message and one line feed, status 1, nothing on standard output.
  Step& fails_with(std::string message) { return expect(1, {}, std::move(message) + "\n"); }
  // For messages that end in text of the system's own (paths, error descriptions).
  Step& fails_starting_with(std::string message_start) {
    error_is_prefix = true;
    return expect(1, {}, std::move(message_start));
  }
};

// A request with the three usual variables; an empty user name leaves that one unset.
[[nodiscard]] Step request(std::string action, std::string resource, std::string user_name = {});

struct Scenario {
  std::string name;
  unsigned targets = both_targets;
  std::vector<Step> steps;
  bool locker_available = true;  // false: the locker can't be opened at all
  // Entries of the Wine test locker before the first step, in its file format.
  std::string seeded_wine_locker;
  // Locker failures to inject under Wine (the test locker's rule syntax).
  std::string wine_failures;
};

inline std::ostream& operator<<(std::ostream& out, const Scenario& scenario) { return out << scenario.name; }

// Runs every step of a scenario in a fresh sandbox and checks each result.
void run_scenario(const Scenario& scenario);

// The private folders of one scenario: a home and data folder, and the Wine locker file.
class Sandbox {
 public:
  Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;
  ~Sandbox();
  [[nodiscard]] const std::filesystem::path& root() const { return root_; }
  [[nodiscard]] std::filesystem::path data_home() const { return root_ / "data"; }
  [[nodiscard]] std::filesystem::path store_file() const {
    return data_home() / "lupirane-vault" / "credentials.sqlite3";
  }
  [[nodiscard]] std::filesystem::path wine_locker_file() const { return root_ / "wine-locker.txt"; }

 private:
  std::filesystem::path root_;
};

// One request through the program under test, in a sandbox.
[[nodiscard]] ProgramResult run_step(const Sandbox& sandbox, const Step& step, const Scenario& scenario);

// Names of the scenarios that apply to the current target, for test parameter lists.
[[nodiscard]] std::vector<Scenario> for_current_target(std::vector<Scenario> scenarios);

}  // namespace lupirane::testing
