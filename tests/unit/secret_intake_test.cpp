// Reading the secret of a "Set" request: kept byte for byte, judged while it streams.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/secret_intake.hpp"
#include "support/fakes.hpp"

namespace lupirane::driver {
namespace {

// Watches the reads of the scripted input: how many came back empty, and whether any came
// after the end was reported.
class WatchedInput final : public InputStream {
 public:
  explicit WatchedInput(InputStream& input) : input_(input) {}
  std::expected<std::size_t, ReadFailure> read(std::span<char> into) override {
    if (end_reads > 0) ++reads_after_end;
    const auto count = input_.read(into);
    if (count && *count == 0) ++end_reads;
    return count;
  }
  int end_reads = 0;
  int reads_after_end = 0;

 private:
  InputStream& input_;
};

struct IntakeCase {
  const char* name;
  std::string input;
  std::optional<std::string_view> message;  // nullopt: accepted unchanged
  std::optional<std::size_t> fail_at_read = std::nullopt;
};

void check_intake(const IntakeCase& test, const std::vector<std::vector<std::size_t>>& chunkings) {
  SCOPED_TRACE(test.name);
  for (const auto& chunks : chunkings) {
    SCOPED_TRACE(::testing::Message() << "chunks " << ::testing::PrintToString(chunks));
    testing::ScriptedInput scripted(test.input, chunks, test.fail_at_read);
    WatchedInput input(scripted);

    const auto result = read_secret(input);

    if (test.message) {
      ASSERT_FALSE(result.has_value()) << "accepted " << result->size() << " bytes";
      EXPECT_EQ(result.error(), *test.message);
    } else {
      ASSERT_TRUE(result.has_value()) << result.error();
      EXPECT_EQ(result->size(), test.input.size());
      EXPECT_TRUE(result->view() == test.input) << "bytes differ from the input";
    }
    if (!test.fail_at_read) {
      // Whatever the verdict, the input is read to its end and no further.
      EXPECT_EQ(input.end_reads, 1);
      EXPECT_EQ(input.reads_after_end, 0);
    }
  }
}

// Each case under every chunking, so that a sequence split between reads is exercised.
const std::vector<std::vector<std::size_t>> all_chunkings = {{1}, {2, 3}, {7}, {4096}, {}};
// Large inputs: whole reads, and a mix that splits at odd places.
const std::vector<std::vector<std::size_t>> large_chunkings = {{}, {4096, 1}};

constexpr auto unreadable = intake_message::unreadable;
constexpr auto blank = intake_message::blank;
constexpr auto too_long = intake_message::too_long;

TEST(ReadSecret, SmallInputs) {
  const IntakeCase cases[] = {
      {"line feed kept", "abc\n", std::nullopt},
      {"spaces around kept", "  pass word \t", std::nullopt},
      {"four-byte character", "\xF0\x9F\x98\x80", std::nullopt},
      {"white three-byte character then letter", "\xE3\x80\x80x", std::nullopt},
      {"zero width space is not blank", "\xE2\x80\x8B", std::nullopt},
      {"byte order mark kept", "\xEF\xBB\xBF" "a", std::nullopt},
      {"NUL bytes kept", std::string("a\0b\0", 4), std::nullopt},
      {"empty", "", blank},
      {"CR LF only", "\r\n", blank},
      {"ideographic space only", "\xE3\x80\x80", blank},
      {"mixed white space only", " \xC2\xA0\xE2\x80\xA8\t\xC2\x85", blank},
      {"NUL only", std::string(1, '\0'), std::nullopt},
      {"lone FF", "\xFF", unreadable},
      {"lone FF after text", "abc\xFF", unreadable},
      {"truncated at the end", "ab\xE2\x82", unreadable},
      {"encoded surrogate", "\xED\xA0\x80", unreadable},
      {"overlong", "\xC0\xAF", unreadable},
      {"above U+10FFFF", "\xF4\x90\x80\x80", unreadable},
      {"sequence broken by ASCII", "x\xE2\x28\xA1", unreadable},
      {"invalid wins over blank", "  \xFF  ", unreadable},
      {"read failure at once", "abc", unreadable, 0},
      {"read failure after some data", "abcdef", unreadable, 1},
  };
  for (const auto& test : cases) check_intake(test, all_chunkings);
}

TEST(ReadSecret, LimitAndLargeInputs) {
  const std::size_t limit = MAX_SECRET_BYTES;
  ASSERT_EQ(limit, 1'000'000u);
  std::string euros;
  for (int i = 0; i < 333'334; ++i) euros += "\xE2\x82\xAC";  // 1,000,002 bytes
  const std::string letters = std::string(1'999'990, 'a');

  const IntakeCase cases[] = {
      {"exactly the limit", std::string(limit - 1, ' ').insert(0, 1, 'k'), std::nullopt},
      {"exactly the limit, ending in a three-byte character", std::string(limit - 3, 'a') + "\xE2\x82\xAC",
       std::nullopt},
      {"one byte over", std::string(limit + 1, 'a'), too_long},
      {"line feed within the limit", std::string(limit - 1, 'a') + "\n", std::nullopt},
      {"line feed over the limit", std::string(limit, 'a') + "\n", too_long},
      {"blank wins over too long", std::string(limit + 1, ' '), blank},
      {"three-byte characters over the limit", euros, too_long},
      {"invalid near the end", letters + "\xFF" + "aaaaaaaaa", unreadable},
      {"invalid at the start, read to the end", std::string(2'000'000, 'a').insert(0, 1, '\xFF'), unreadable},
      {"invalid after many spaces", std::string(3'000'000, ' ') + "\xFF", unreadable},
      {"read failure on a long input", std::string(3'000'000, 'a'), unreadable, 10},
  };
  for (const auto& test : cases) check_intake(test, large_chunkings);
}

}  // namespace
}  // namespace lupirane::driver
