// Running scenarios against the Linux program or, under Wine, the Windows program.
#include "scenario.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace lupirane::testing {

namespace {

std::string environment_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

std::string windows_path(const std::filesystem::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

std::filesystem::path wine_state() { return LUPIRANE_WINE_STATE_DIR; }
std::filesystem::path windows_bin() { return LUPIRANE_WINDOWS_BIN_DIR; }

std::filesystem::path wine_prefix(bool with_locker) {
  return wine_state() / (with_locker ? "prefix-with-test-locker" : "prefix-bare");
}

Variables wine_environment(bool with_locker) {
  return {{"PATH", environment_or("PATH", "/usr/bin:/bin")},
          {"HOME", environment_or("HOME", "/root")},
          {"WINEPREFIX", wine_prefix(with_locker).string()},
          {"WINEDEBUG", "-all"},
          {"LANG", "C.UTF-8"}};
}

// Setup commands may leave a Wine server behind that holds on to inherited descriptors, so
// their output goes to /dev/null: a pipe would stay open as long as the server lives. (Not
// closed descriptors: making a prefix then hangs.)
void run_checked(const std::vector<std::string>& command, const Variables& environment) {
  const ProgramResult result = run_program({.command = command,
                                            .environment = environment,
                                            .output = OutputMode::discarded,
                                            .error = OutputMode::discarded,
                                            .timeout = std::chrono::minutes(3)});
  if (result.exit_status != 0) {
    throw std::runtime_error("setup command failed: " + command.front() + " " + command.back());
  }
}

std::string wine_program() { return environment_or("LUPIRANE_WINE", "/usr/bin/wine"); }

// Makes the two Wine prefixes once (bare, and with the test locker registered) and keeps a
// server running for each while the suite runs: a run then takes milliseconds, not seconds.
class WineEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    std::filesystem::create_directories(wine_state());
    for (const bool with_locker : {false, true}) {
      const Variables environment = wine_environment(with_locker);
      if (!std::filesystem::exists(wine_prefix(with_locker) / "system.reg")) {
        run_checked({"/usr/bin/wineboot", "-i"}, environment);
        // The server wineboot started must be gone, or the lasting one below can't start.
        run_checked({"/usr/bin/wineserver", "-w"}, environment);
      }
      // Before any other command: each would start a server of its own that ends with it, and
      // while that one lingers "-p" fails. Fails harmlessly when a server is already running.
      (void)run_program({.command = {"/usr/bin/wineserver", "-p"},
                         .environment = environment,
                         .output = OutputMode::discarded,
                         .error = OutputMode::discarded});
      // A crash must show as a status, not as a debugger's backtrace on standard output.
      run_checked({wine_program(), "reg", "add", R"(HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug)",
                   "/v", "Debugger", "/t", "REG_SZ", "/d", "", "/f"},
                  environment);
      if (with_locker) {
        const std::string dll = windows_path(windows_bin() / "fake_vault.dll");
        for (const char* class_name :
             {"Windows.Security.Credentials.PasswordVault", "Windows.Security.Credentials.PasswordCredential"}) {
          run_checked({wine_program(), "reg", "add",
                       std::string(R"(HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId\)") + class_name,
                       "/v", "DllPath", "/t", "REG_SZ", "/d", dll, "/f", "/reg:64"},
                      environment);
        }
      }
    }
  }
  void TearDown() override {
    for (const bool with_locker : {false, true}) {
      (void)run_program({.command = {"/usr/bin/wineserver", "-k"},
                         .environment = wine_environment(with_locker),
                         .output = OutputMode::discarded,
                         .error = OutputMode::discarded});
    }
  }
};

const bool wine_environment_registered = [] {
  if (current_target() == Target::wine) ::testing::AddGlobalTestEnvironment(new WineEnvironment);
  return true;
}();

}  // namespace

Target current_target() {
  const char* target = std::getenv("LUPIRANE_E2E_TARGET");
  return target != nullptr && std::string_view(target) == "wine" ? Target::wine : Target::native;
}

Step request(std::string action, std::string resource, std::string user_name) {
  Step step;
  step.variables.emplace_back("LUPIRANE_VAULT_ACTION", std::move(action));
  step.variables.emplace_back("LUPIRANE_VAULT_RESOURCE", std::move(resource));
  if (!user_name.empty()) step.variables.emplace_back("LUPIRANE_VAULT_USERNAME", std::move(user_name));
  return step;
}

Sandbox::Sandbox() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lupirane-e2e-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

ProgramResult run_step(const Sandbox& sandbox, const Step& step, const Scenario& scenario) {
  ProgramRun run;
  if (current_target() == Target::native) {
    run.command = {LUPIRANE_NATIVE_EXE};
    run.environment = {{"PATH", "/usr/bin:/bin"},
                       {"HOME", (sandbox.root() / "home").string()},
                       {"XDG_DATA_HOME", sandbox.data_home().string()}};
  } else {
    run.command = {wine_program(), (windows_bin() / "lupirane-vault.exe").string()};
    run.environment = wine_environment(scenario.locker_available);
    run.environment.emplace_back("LUPIRANE_FAKE_VAULT_FILE", windows_path(sandbox.wine_locker_file()));
    if (!scenario.wine_failures.empty()) run.environment.emplace_back("LUPIRANE_FAKE_VAULT_FAIL", scenario.wine_failures);
  }
  for (const auto& variable : step.variables) {
    // A step's own value of a variable the harness sets (XDG_DATA_HOME, say) replaces it.
    std::erase_if(run.environment, [&variable](const auto& entry) { return entry.first == variable.first; });
    run.environment.push_back(variable);
  }
  run.input = step.input;
  run.output = step.output;
  run.error = step.error;
  return run_program(run);
}

namespace {
bool wine_ended_it_silently(const Step& step, const ProgramResult& result) {
  const bool silence_expected = step.status == 1 && step.expected_error.empty();
  return current_target() == Target::wine && !silence_expected && step.error == OutputMode::pipe &&
         result.exit_status == 1 && result.output.empty() && result.error.empty();
}
}  // namespace

void run_scenario(const Scenario& scenario) {
  const Sandbox sandbox;
  if (!scenario.locker_available && current_target() == Target::native) {
    // A data folder that can't be made: the store can't be opened.
    std::ofstream(sandbox.data_home()) << "not a folder";
  }
  if (!scenario.seeded_wine_locker.empty()) std::ofstream(sandbox.wine_locker_file()) << scenario.seeded_wine_locker;
  for (std::size_t index = 0; index < scenario.steps.size(); ++index) {
    const Step& step = scenario.steps[index];
    SCOPED_TRACE("step " + std::to_string(index + 1));
    ProgramResult result = run_step(sandbox, step, scenario);
    // Now and then Wine ends a process with status 1 before it has written anything. The
    // program never does that while it has a standard error to write to, so such a run is
    // Wine's, not the program's: it is run again, and said so.
    for (int retry = 0; retry < 2 && wine_ended_it_silently(step, result); ++retry) {
      std::cerr << "Wine ended a run with status 1 and no output; running the step again\n";
      result = run_step(sandbox, step, scenario);
    }
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.output, step.expected_output);
    if (step.error_is_prefix) {
      EXPECT_TRUE(result.error.starts_with(step.expected_error)) << result.error;
      EXPECT_TRUE(result.error.ends_with("\n") && result.error.find('\n') == result.error.size() - 1) << result.error;
    } else {
      EXPECT_EQ(result.error, step.expected_error);
    }
    EXPECT_EQ(result.exit_status, step.status);
  }
}

std::vector<Scenario> for_current_target(std::vector<Scenario> scenarios) {
  const auto target = static_cast<unsigned>(current_target());
  std::erase_if(scenarios, [target](const Scenario& scenario) { return (scenario.targets & target) == 0; });
  return scenarios;
}

}  // namespace lupirane::testing
