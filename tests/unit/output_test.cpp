// Line buffering of standard output over a stream that may take part of a write or fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "driver/output.hpp"

namespace lupirane::driver {
namespace {

constexpr std::int32_t disk_full = 28;

// Records the bytes offered by each call; takes at most `accept_per_call` of them and fails
// the call numbered `fail_at_call` (from 1) only.
class RecordingOutput final : public RawOutput {
 public:
  std::size_t accept_per_call = std::numeric_limits<std::size_t>::max();
  std::optional<std::size_t> fail_at_call;
  std::vector<std::string> offered;
  std::string written;

  std::expected<std::size_t, OsError> write_some(std::span<const char> bytes) override {
    offered.emplace_back(bytes.data(), bytes.size());
    if (fail_at_call && offered.size() == *fail_at_call) return std::unexpected(OsError{disk_full});
    const std::size_t count = std::min(bytes.size(), accept_per_call);
    written.append(bytes.data(), count);
    return count;
  }
};

TEST(WriteAll, RetriesPartialWritesUntilDone) {
  RecordingOutput output;
  output.accept_per_call = 4;
  ASSERT_TRUE(write_all(output, "0123456789").has_value());
  EXPECT_EQ(output.offered, (std::vector<std::string>{"0123456789", "456789", "89"}));
  EXPECT_EQ(output.written, "0123456789");
}

TEST(WriteAll, StopsAtTheFirstError) {
  RecordingOutput output;
  output.accept_per_call = 4;
  output.fail_at_call = 2;
  const auto result = write_all(output, "0123456789");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().code, disk_full);
  EXPECT_EQ(output.offered.size(), 2u);
  EXPECT_EQ(output.written, "0123");
}

struct Operation {
  enum class Kind { write, flush } kind;
  std::string bytes;
};

Operation put(std::string bytes) { return {Operation::Kind::write, std::move(bytes)}; }
const Operation flush_now{Operation::Kind::flush, {}};

struct BufferingCase {
  const char* name;
  std::size_t accept_per_call;
  std::vector<Operation> operations;
  std::vector<std::string> expected_calls;
  std::string expected_buffered;
};

TEST(LineBufferedWriter, WhatGoesOutAndWhatWaits) {
  const std::size_t all = std::numeric_limits<std::size_t>::max();
  const std::string big(1025, 'x');
  const std::string lines_1500 = std::string(1500, 'y') + "\n";
  const BufferingCase cases[] = {
      {"tail waits", all, {put("abc")}, {}, "abc"},
      {"tail goes out on flush", all, {put("abc"), flush_now}, {"abc"}, ""},
      {"tails gather", all, {put("ab"), put("cd")}, {}, "abcd"},
      {"empty write", all, {put("")}, {}, ""},
      {"lines at once when nothing waits", all, {put("a\nb\nc")}, {"a\nb\n"}, "c"},
      {"waiting bytes go out with the lines", all, {put("x"), put("y\nz")}, {"xy\n"}, "z"},
      {"line end alone completes the waiting line", all, {put("abc"), put("\n")}, {"abc\n"}, ""},
      {"large write bypasses the buffer", all, {put("ab"), put(big)}, {"ab", big}, ""},
      {"large lines bypass the buffer", all, {put("ab"), put(lines_1500 + "t")}, {"ab", lines_1500}, "t"},
      {"large tail bypasses the buffer", all, {put("a\n" + big)}, {"a\n", big}, ""},
      {"tail that doesn't fit flushes first", all,
       {put(std::string(1000, 'a')), put(std::string(100, 'b'))}, {std::string(1000, 'a')},
       std::string(100, 'b')},
      {"tail that fills the buffer exactly", all, {put(std::string(1000, 'a')), put(std::string(24, 'b'))},
       {}, std::string(1000, 'a') + std::string(24, 'b')},
      {"partial writes retried", 3, {put("hello\nwor")}, {"hello\n", "lo\n"}, "wor"},
      {"partial flush retried", 2, {put("abcde"), flush_now}, {"abcde", "cde", "e"}, ""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    RecordingOutput output;
    output.accept_per_call = test.accept_per_call;
    LineBufferedWriter writer(output);
    std::string sent;
    for (const auto& operation : test.operations) {
      if (operation.kind == Operation::Kind::write) {
        EXPECT_TRUE(writer.write(operation.bytes).has_value());
        sent += operation.bytes;
      } else {
        EXPECT_TRUE(writer.flush().has_value());
      }
    }
    EXPECT_EQ(output.offered, test.expected_calls);
    EXPECT_EQ(writer.buffered(), test.expected_buffered);
    // Nothing lost, nothing doubled, order kept.
    EXPECT_EQ(output.written + std::string(writer.buffered()), sent);
  }
}

class LineBufferedWriterFailure : public ::testing::Test {
 protected:
  RecordingOutput output;
  LineBufferedWriter writer{output};
};

TEST_F(LineBufferedWriterFailure, FailedFlushKeepsTheUnwrittenRest) {
  ASSERT_TRUE(writer.write("abcdef").has_value());
  output.accept_per_call = 2;
  output.fail_at_call = 2;

  const auto flushed = writer.flush();
  ASSERT_FALSE(flushed.has_value());
  EXPECT_EQ(flushed.error().code, disk_full);
  EXPECT_EQ(writer.buffered(), "cdef");

  ASSERT_TRUE(writer.flush().has_value());
  EXPECT_EQ(output.written, "abcdef");
  EXPECT_EQ(writer.buffered(), "");
}

TEST_F(LineBufferedWriterFailure, WaitingLineGoesOutBeforeNewTail) {
  ASSERT_TRUE(writer.write("ab").has_value());
  output.accept_per_call = 1;
  output.fail_at_call = 2;
  const auto failed = writer.write("c\nd");
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().code, disk_full);
  ASSERT_EQ(writer.buffered(), "bc\n");

  // The completed line must not wait behind a tail that may never get a line end.
  output.accept_per_call = std::numeric_limits<std::size_t>::max();
  ASSERT_TRUE(writer.write("e").has_value());
  EXPECT_EQ(output.written, "abc\n");
  EXPECT_EQ(writer.buffered(), "e");
}

}  // namespace
}  // namespace lupirane::driver
