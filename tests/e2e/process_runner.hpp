// Starts a program the way a host application does: a chosen environment, bytes on
// standard input, and standard output and error captured (or closed, or failing).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lupirane::testing {

enum class OutputMode {
  pipe,         // captured
  closed,       // the descriptor is closed in the child
  reader_gone,  // a pipe whose reading end is already closed: writes fail with EPIPE
  full,         // /dev/full: writes fail with ENOSPC
  discarded,    // /dev/null
};

struct ProgramRun {
  std::vector<std::string> command;
  std::vector<std::pair<std::string, std::string>> environment;  // the whole environment
  std::optional<std::string> input = std::string();  // nullopt: descriptor 0 closed
  OutputMode output = OutputMode::pipe;
  OutputMode error = OutputMode::pipe;
  std::chrono::milliseconds timeout{60'000};
  // SIGKILL this long after the start should the program still run: an abrupt end at any point.
  std::optional<std::chrono::microseconds> kill_after;
};

struct ProgramResult {
  std::string output;
  std::string error;
  int exit_status = -1;  // -1 when ended by a signal
  int signal = 0;
  bool timed_out = false;
};

[[nodiscard]] ProgramResult run_program(const ProgramRun& run);

}  // namespace lupirane::testing
