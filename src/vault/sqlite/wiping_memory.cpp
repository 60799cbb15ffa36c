// An allocator for SQLite that overwrites every block before it goes back to the C library.
#include "vault/sqlite/wiping_memory.hpp"

#include <malloc.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

#include "common/secret_buffer.hpp"

namespace lupirane::vault {

namespace {

void* allocate(int size) { return std::malloc(static_cast<std::size_t>(size)); }

void release(void* block) {
  if (block == nullptr) return;
  text::wipe_memory(block, malloc_usable_size(block));
  std::free(block);
}

// Never realloc in place: the block left behind would keep its bytes.
void* reallocate(void* block, int size) {
  void* moved = std::malloc(static_cast<std::size_t>(size));
  if (moved == nullptr) return nullptr;
  const std::size_t old_size = malloc_usable_size(block);
  std::memcpy(moved, block, old_size < static_cast<std::size_t>(size) ? old_size : static_cast<std::size_t>(size));
  release(block);
  return moved;
}

int size_of(void* block) { return static_cast<int>(malloc_usable_size(block)); }
int round_up(int size) { return (size + 7) & ~7; }
int initialize(void*) { return SQLITE_OK; }
void shut_down(void*) {}

const sqlite3_mem_methods wiping_methods = {allocate, release, reallocate, size_of, round_up, initialize, shut_down,
                                            nullptr};

}  // namespace

bool configure_sqlite_memory() noexcept {
  static const bool configured =
      sqlite3_config(SQLITE_CONFIG_MALLOC, &wiping_methods) == SQLITE_OK &&
      // One thread does everything: no mutexes to take on every call.
      sqlite3_config(SQLITE_CONFIG_SINGLETHREAD) == SQLITE_OK &&
      // Pages one at a time, as needed, rather than a block for twenty that is wiped whole.
      sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0) == SQLITE_OK;
  return configured;
}

}  // namespace lupirane::vault
