// Reading an interactive console: Ctrl-Z, interrupted reads, and surrogate pairs split
// between reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "driver/console_input.hpp"
#include "driver/secret_intake.hpp"

namespace lupirane::driver {
namespace {

struct ConsoleRead {
  bool succeeded = true;
  std::u16string units;
  std::uint32_t last_error = 0;
};

ConsoleRead typed(std::u16string units) { return {true, std::move(units), 0}; }
const ConsoleRead end_of_input{true, u"", 0};
const ConsoleRead interrupted{true, u"", console::error_operation_aborted};
ConsoleRead failed(std::uint32_t error) { return {false, u"", error}; }

// Plays back one scripted read per call and records the room each call was offered.
class ScriptedConsole final : public ConsoleDevice {
 public:
  explicit ScriptedConsole(std::vector<ConsoleRead> script) : script_(std::move(script)) {}

  Result read(std::span<char16_t> into) override {
    offered.push_back(into.size());
    if (next_ == script_.size()) {
      ADD_FAILURE() << "read after the script ended";
      return {true, 0, 0};
    }
    const ConsoleRead& step = script_[next_++];
    if (step.units.size() > into.size()) {
      ADD_FAILURE() << "scripted read of " << step.units.size() << " units offered " << into.size();
      return {false, 0, 122};
    }
    std::copy(step.units.begin(), step.units.end(), into.begin());
    return {step.succeeded, step.units.size(), step.last_error};
  }
  [[nodiscard]] std::size_t reads() const noexcept { return next_; }

  std::vector<std::size_t> offered;

 private:
  std::vector<ConsoleRead> script_;
  std::size_t next_ = 0;
};

// All of the input, taken `piece` bytes at a time; nullopt on a read failure.
std::optional<std::string> read_all(InputStream& input, std::size_t piece) {
  std::string bytes;
  std::vector<char> buffer(piece);
  for (;;) {
    const auto count = input.read(buffer);
    if (!count) return std::nullopt;
    if (*count == 0) return bytes;
    bytes.append(buffer.data(), *count);
  }
}

struct ConsoleCase {
  const char* name;
  std::vector<ConsoleRead> script;
  std::optional<std::string> expected;  // nullopt: ReadFailure
};

TEST(ConsoleInput, ReadingRules) {
  constexpr std::uint32_t access_denied = 5;
  const std::string smiley = "\xF0\x9F\x98\x80";
  const ConsoleCase cases[] = {
      {"Ctrl-Z alone ends the input", {typed(u"abc\r\n"), typed(u"\x1A")}, "abc\r\n"},
      {"empty read ends the input", {typed(u"abc\r\n"), end_of_input}, "abc\r\n"},
      {"nothing typed", {typed(u"\x1A")}, ""},
      {"Ctrl-Z after characters ends only that read", {typed(u"ab\x1A"), typed(u"cd\r\n"), typed(u"\x1A")},
       "abcd\r\n"},
      {"Ctrl-Z inside a read kept", {typed(u"a\x1A" u"b"), typed(u"\x1A")}, "a\x1A" "b"},
      {"non-ASCII converted", {typed(u"a\u00E7\u00E3o\r\n"), end_of_input}, "a\xC3\xA7\xC3\xA3o\r\n"},
      {"interrupted reads repeated", {typed(u"ab"), interrupted, interrupted, typed(u"c\r\n"), end_of_input},
       "abc\r\n"},
      {"invalid handle ends the input", {typed(u"ab"), failed(console::error_invalid_handle)}, "ab"},
      {"invalid handle at once", {failed(console::error_invalid_handle)}, ""},
      {"other failure", {typed(u"ab"), failed(access_denied)}, std::nullopt},
      {"failed read with the abort code", {failed(console::error_operation_aborted)}, std::nullopt},
      {"pair split between reads", {typed(u"a\xD83D"), typed(u"\xDE00" u"b\r\n"), end_of_input},
       "a" + smiley + "b\r\n"},
      {"high surrogate alone in a read", {typed(u"\xD83D"), typed(u"\xDE00"), typed(u"\x1A")}, smiley},
      {"split pair then Ctrl-Z", {typed(u"\xD83D"), typed(u"\xDE00\x1A"), typed(u"\x1A")}, smiley},
      {"interrupted between the halves", {typed(u"\xD83D"), interrupted, typed(u"\xDE00"), end_of_input}, smiley},
      {"low surrogate alone", {typed(u"a\xDE00"), end_of_input}, std::nullopt},
      {"high then not low in one read", {typed(u"\xD83D" u"a"), end_of_input}, std::nullopt},
      {"high then not low in the next read", {typed(u"x\xD83D"), typed(u"a")}, std::nullopt},
      {"high held at Ctrl-Z", {typed(u"x\xD83D"), typed(u"\x1A")}, std::nullopt},
      {"high held at the end", {typed(u"x\xD83D"), end_of_input}, std::nullopt},
      {"high held at invalid handle", {typed(u"x\xD83D"), failed(console::error_invalid_handle)}, std::nullopt},
  };
  constexpr std::size_t units_per_read = 8;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    for (const std::size_t piece : {std::size_t{4096}, std::size_t{1}, std::size_t{3}}) {
      SCOPED_TRACE(::testing::Message() << "taken " << piece << " bytes at a time");
      ScriptedConsole device(test.script);
      ConsoleInput input(device, units_per_read);

      EXPECT_EQ(read_all(input, piece), test.expected);
      if (test.expected) {
        EXPECT_EQ(device.reads(), test.script.size()) << "stopped early";
        // Once the input has ended, it stays ended.
        char byte = 0;
        const auto after_end = input.read({&byte, 1});
        EXPECT_TRUE(after_end.has_value() && *after_end == 0);
      }
      // A surrogate held back must never cost the next read its room.
      for (const std::size_t room : device.offered) EXPECT_GE(room, units_per_read);
    }
  }
}

TEST(ConsoleInput, ComposesWithSecretIntake) {
  ScriptedConsole device({typed(u"p\u00E1ss \xD83D"), typed(u"\xDE00\r\n"), typed(u"\x1A")});
  ConsoleInput input(device);
  const auto secret = read_secret(input);
  ASSERT_TRUE(secret.has_value()) << secret.error();
  EXPECT_TRUE(secret->view() == "p\xC3\xA1ss \xF0\x9F\x98\x80\r\n");

  ScriptedConsole broken({typed(u"abc\xDE00\r\n"), typed(u"\x1A")});
  ConsoleInput broken_input(broken);
  const auto rejected = read_secret(broken_input);
  ASSERT_FALSE(rejected.has_value());
  EXPECT_EQ(rejected.error(), intake_message::unreadable);
}

}  // namespace
}  // namespace lupirane::driver
