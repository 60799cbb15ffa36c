// Every allocation of the program goes through here, so that running out of memory ends
// the process with the size that failed instead of an exception nobody catches.
#include <cstdlib>
#include <new>

#include "driver/platform.hpp"

namespace {

[[noreturn]] void allocation_failed(std::size_t size) noexcept {
  // Put together in a fixed buffer: there is no memory to ask for.
  constexpr std::string_view prefix = "memory allocation of ";
  constexpr std::string_view suffix = " bytes failed\n";
  char message[prefix.size() + 20 + suffix.size()];
  std::size_t used = prefix.copy(message, prefix.size());
  char digits[20];
  std::size_t digit_count = 0;
  do {
    digits[digit_count++] = static_cast<char>('0' + size % 10);
    size /= 10;
  } while (size != 0);
  while (digit_count != 0) message[used++] = digits[--digit_count];
  used += suffix.copy(message + used, suffix.size());
  lupirane::driver::platform::write_error_unbuffered({message, used});
  lupirane::driver::platform::abort_process();
}

void* allocate(std::size_t size) noexcept {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) allocation_failed(size);
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
