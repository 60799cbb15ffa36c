// fork and exec with pipes, fed and drained together so that no side blocks the other.
#include "process_runner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace lupirane::testing {

namespace {

struct Pipe {
  int read = -1;
  int write = -1;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  return {fds[0], fds[1]};
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// In the child: put `source` at `target`, or close `target` when source is -1.
void place(int source, int target) {
  if (source < 0) {
    ::close(target);
  } else if (source == target) {
    ::fcntl(target, F_SETFD, 0);
  } else {
    ::dup2(source, target);
  }
}

}  // namespace

ProgramResult run_program(const ProgramRun& run) {
  // A child that stops reading its input must not kill the test with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  Pipe input;
  if (run.input) input = make_pipe();
  Pipe output_pipe;
  Pipe error_pipe;
  const auto prepare = [](OutputMode mode, Pipe& pipe) -> int {
    switch (mode) {
      case OutputMode::pipe:
      case OutputMode::reader_gone:
        pipe = make_pipe();
        if (mode == OutputMode::reader_gone) close_fd(pipe.read);
        return pipe.write;
      case OutputMode::full:
        pipe.write = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        return pipe.write;
      case OutputMode::discarded:
        pipe.write = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        return pipe.write;
      case OutputMode::closed:
        return -1;
    }
    return -1;
  };
  const int child_output = prepare(run.output, output_pipe);
  const int child_error = prepare(run.error, error_pipe);

  std::vector<std::string> environment_strings;
  for (const auto& [name, value] : run.environment) environment_strings.push_back(name + "=" + value);
  std::vector<char*> environment;
  for (auto& entry : environment_strings) environment.push_back(entry.data());
  environment.push_back(nullptr);
  std::vector<std::string> arguments = run.command;
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  const auto started = std::chrono::steady_clock::now();
  if (child < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (child == 0) {
    // Raise the three descriptors above 2 first, so that placing one can't clobber another.
    const int in = input.read >= 0 ? ::fcntl(input.read, F_DUPFD_CLOEXEC, 10) : -1;
    const int out = child_output >= 0 ? ::fcntl(child_output, F_DUPFD_CLOEXEC, 10) : -1;
    const int err = child_error >= 0 ? ::fcntl(child_error, F_DUPFD_CLOEXEC, 10) : -1;
    place(in, 0);
    place(out, 1);
    place(err, 2);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(argv[0], argv.data(), environment.data());
    ::_exit(127);
  }

  close_fd(input.read);
  close_fd(output_pipe.write);
  close_fd(error_pipe.write);
  if (input.write >= 0) ::fcntl(input.write, F_SETFL, O_NONBLOCK);

  ProgramResult result;
  std::size_t written = 0;
  const std::string empty;
  const std::string& to_write = run.input ? *run.input : empty;
  if (input.write >= 0 && to_write.empty()) close_fd(input.write);
  const auto deadline = std::chrono::steady_clock::now() + run.timeout;
  std::optional<std::chrono::steady_clock::time_point> kill_at;
  if (run.kill_after) kill_at = started + *run.kill_after;
  char buffer[65536];
  while (input.write >= 0 || output_pipe.read >= 0 || error_pipe.read >= 0) {
    pollfd fds[3];
    nfds_t count = 0;
    const auto add = [&](int fd, short events) {
      if (fd >= 0) fds[count++] = pollfd{fd, events, 0};
    };
    add(input.write, POLLOUT);
    add(output_pipe.read, POLLIN);
    add(error_pipe.read, POLLIN);
    const auto now = std::chrono::steady_clock::now();
    if (kill_at && now >= *kill_at) {
      // The pipes close as it dies, which ends the loop.
      ::kill(child, SIGKILL);
      kill_at.reset();
    }
    auto left = deadline - now;
    if (left.count() <= 0) {
      result.timed_out = true;
      ::kill(child, SIGKILL);
      break;
    }
    if (kill_at) left = std::min(left, *kill_at - now);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec wait{static_cast<time_t>(seconds.count()),
                        static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
    if (::ppoll(fds, count, &wait, nullptr) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == input.write) {
        const ssize_t n = ::write(input.write, to_write.data() + written, to_write.size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        // A reader that has gone (EPIPE) or a finished input both end the feeding.
        if ((n < 0 && errno != EAGAIN) || written == to_write.size()) close_fd(input.write);
      } else {
        int& fd = fds[i].fd == output_pipe.read ? output_pipe.read : error_pipe.read;
        std::string& sink = fds[i].fd == output_pipe.read ? result.output : result.error;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
          sink.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          close_fd(fd);
        }
      }
    }
  }
  close_fd(input.write);
  close_fd(output_pipe.read);
  close_fd(error_pipe.read);

  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace lupirane::testing
