// Wiping memory so that the compiler can't prove the stores dead.
#include "common/secret_buffer.hpp"

namespace lupirane::text {

namespace {
// Calling memset through a volatile pointer keeps the call: the optimiser can't see its target.
void* (*const volatile secure_memset)(void*, int, std::size_t) = std::memset;
}  // namespace

void wipe_memory(void* data, std::size_t size) noexcept {
  if (data != nullptr && size != 0) secure_memset(data, 0, size);
}

}  // namespace lupirane::text
