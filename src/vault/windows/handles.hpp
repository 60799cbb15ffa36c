// Owners for the Windows handles the binding uses: COM pointers, HSTRING, BSTR, and the
// LocalAlloc buffers of FormatMessageW. Each releases its handle exactly once.
#pragma once

#include <windows.h>

#include <oleauto.h>
#include <winstring.h>

#include <utility>

namespace lupirane::winrt {

template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(Interface* pointer) noexcept : pointer_(pointer) {}
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) reset(std::exchange(other.pointer_, nullptr));
    return *this;
  }
  ~ComPtr() { reset(); }

  [[nodiscard]] Interface* get() const noexcept { return pointer_; }
  Interface* operator->() const noexcept { return pointer_; }
  [[nodiscard]] explicit operator bool() const noexcept { return pointer_ != nullptr; }
  // The address for an out-parameter; whatever was held is released first.
  [[nodiscard]] Interface** put() noexcept {
    reset();
    return &pointer_;
  }
  [[nodiscard]] void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  void reset(Interface* pointer = nullptr) noexcept {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = pointer;
  }

 private:
  Interface* pointer_ = nullptr;
};

class UniqueHString {
 public:
  UniqueHString() = default;
  UniqueHString(const UniqueHString&) = delete;
  UniqueHString& operator=(const UniqueHString&) = delete;
  UniqueHString(UniqueHString&& other) noexcept : string_(std::exchange(other.string_, nullptr)) {}
  UniqueHString& operator=(UniqueHString&& other) noexcept {
    if (this != &other) {
      reset();
      string_ = std::exchange(other.string_, nullptr);
    }
    return *this;
  }
  ~UniqueHString() { reset(); }

  [[nodiscard]] HSTRING get() const noexcept { return string_; }
  [[nodiscard]] HSTRING* put() noexcept {
    reset();
    return &string_;
  }
  void reset() noexcept {
    if (string_ != nullptr) WindowsDeleteString(string_);
    string_ = nullptr;
  }

 private:
  HSTRING string_ = nullptr;
};

class UniqueBstr {
 public:
  UniqueBstr() = default;
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  ~UniqueBstr() { reset(); }

  [[nodiscard]] BSTR get() const noexcept { return string_; }
  [[nodiscard]] BSTR* put() noexcept {
    reset();
    return &string_;
  }
  void reset() noexcept {
    if (string_ != nullptr) SysFreeString(string_);
    string_ = nullptr;
  }

 private:
  BSTR string_ = nullptr;
};

// A buffer that the system allocated with LocalAlloc on the caller's behalf.
class UniqueLocalBuffer {
 public:
  UniqueLocalBuffer() = default;
  UniqueLocalBuffer(const UniqueLocalBuffer&) = delete;
  UniqueLocalBuffer& operator=(const UniqueLocalBuffer&) = delete;
  ~UniqueLocalBuffer() {
    if (buffer_ != nullptr) LocalFree(buffer_);
  }

  [[nodiscard]] wchar_t* get() const noexcept { return buffer_; }
  // FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER takes the address of the pointer,
  // passed as if it were the buffer.
  [[nodiscard]] LPWSTR put_for_allocation() noexcept { return reinterpret_cast<LPWSTR>(&buffer_); }

 private:
  wchar_t* buffer_ = nullptr;
};

}  // namespace lupirane::winrt
