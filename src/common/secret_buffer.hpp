// Owned memory for secrets: every block it lets go of is overwritten first.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

namespace lupirane::text {

// Overwrites memory with zeros in a way the optimiser can't drop.
void wipe_memory(void* data, std::size_t size) noexcept;

// A growable array of trivially copyable units (bytes or UTF-16 units) for secret text.
// Unlike std::string it has no inline buffer and wipes every block it frees, so no copy
// of the secret outlives the buffer.
template <class Unit>
class SecretBuffer {
  static_assert(std::is_trivially_copyable_v<Unit>);

 public:
  SecretBuffer() = default;
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;
  SecretBuffer(SecretBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  SecretBuffer& operator=(SecretBuffer&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ~SecretBuffer() { release(); }

  [[nodiscard]] Unit* data() noexcept { return data_; }
  [[nodiscard]] const Unit* data() const noexcept { return data_; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  [[nodiscard]] std::basic_string_view<Unit> view() const noexcept { return {data_, size_}; }

  // Makes room for at least `wanted` units in all; moving to a new block wipes the old one.
  void reserve(std::size_t wanted) {
    if (wanted <= capacity_) return;
    auto* block = static_cast<Unit*>(::operator new(wanted * sizeof(Unit)));
    if (size_ != 0) std::memcpy(block, data_, size_ * sizeof(Unit));
    release_block();
    data_ = block;
    capacity_ = wanted;
  }

  void push_back(Unit unit) {
    grow_for(1);
    data_[size_++] = unit;
  }

  void append(const Unit* units, std::size_t count) {
    if (count == 0) return;
    grow_for(count);
    std::memcpy(data_ + size_, units, count * sizeof(Unit));
    size_ += count;
  }

  // The reserved room past the end, for a reader to fill before calling commit().
  [[nodiscard]] std::span<Unit> spare() noexcept { return {data_ + size_, capacity_ - size_}; }
  void commit(std::size_t count) noexcept { size_ += count; }

  // Forgets the contents (wiped) but keeps the block.
  void clear() noexcept {
    if (data_ != nullptr) wipe_memory(data_, size_ * sizeof(Unit));
    size_ = 0;
  }

 private:
  void grow_for(std::size_t extra) {
    if (capacity_ - size_ >= extra) return;
    const std::size_t doubled = capacity_ < 16 ? 32 : capacity_ * 2;
    reserve(doubled > size_ + extra ? doubled : size_ + extra);
  }
  void release_block() noexcept {
    if (data_ == nullptr) return;
    wipe_memory(data_, capacity_ * sizeof(Unit));
    ::operator delete(data_);
    data_ = nullptr;
  }
  void release() noexcept {
    release_block();
    size_ = 0;
    capacity_ = 0;
  }

  Unit* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

using SecretText = SecretBuffer<char>;       // UTF-8
using SecretUtf16 = SecretBuffer<char16_t>;  // UTF-16

}  // namespace lupirane::text
