// Running out of memory: the program's own allocation routine reports the size that failed
// on standard error and ends the process at once.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <new>

namespace {

// Too large for any allocator; volatile so the request can't be folded away.
volatile std::size_t impossible_size = SIZE_MAX / 2;

// Kept where the optimiser can't see it unused, or it may drop the allocation altogether.
char* volatile last_block = nullptr;

void allocate_impossibly() { last_block = static_cast<char*>(::operator new(impossible_size)); }
void allocate_impossible_array() { last_block = new char[impossible_size]; }

#ifdef _WIN32
// The exit code of a process ended for want of memory (STATUS_NO_MEMORY).
constexpr int out_of_memory_exit = static_cast<int>(0xC0000017u);
const auto ends_for_want_of_memory = ::testing::ExitedWithCode(out_of_memory_exit);
#else
const auto ends_for_want_of_memory = ::testing::KilledBySignal(SIGABRT);
#endif

#ifdef LUPIRANE_SANITIZED
// AddressSanitizer warns of the impossible request on standard error before it fails.
constexpr const char* report = "memory allocation of 9223372036854775807 bytes failed\n$";
#else
constexpr const char* report = "^memory allocation of 9223372036854775807 bytes failed\n$";
#endif

TEST(AllocationFailure, ReportsTheSizeAndEndsAtOnce) {
  ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
  EXPECT_EXIT(allocate_impossibly(), ends_for_want_of_memory, report);
}

TEST(AllocationFailure, ArrayAllocationsGoTheSameWay) {
  ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
  EXPECT_EXIT(allocate_impossible_array(), ends_for_want_of_memory, report);
}

}  // namespace
