// The process entry: one run, then the one routine that ends the process.
#include "driver/platform.hpp"
#include "driver/run.hpp"
#include "vault/binding.hpp"

namespace {

using namespace lupirane;

// The running process as a run sees it.
class SystemProcess final : public driver::Process {
 public:
  explicit SystemProcess(driver::StandardStreams& streams) : streams_(streams) {}
  std::optional<std::string> environment_value(std::string_view name) override {
    return driver::platform::environment_value(name);
  }
  driver::InputStream& standard_input() override { return driver::platform::standard_input(); }
  void write_output(std::string_view bytes) override { streams_.write_output(bytes); }

 private:
  driver::StandardStreams& streams_;
};

}  // namespace

int main() {
  driver::platform::prepare_process();
  driver::StandardStreams streams(driver::platform::standard_output(), driver::platform::standard_error(),
                                  driver::platform::process_control());
  const driver::RunOutcome outcome = [&streams] {
    SystemProcess process(streams);
    const auto binding = vault::make_platform_binding();
    return driver::run(process, *binding);
  }();
  if (outcome.is_error()) streams.write_error_line(outcome.message());
  streams.exit(outcome.exit_status());
}
