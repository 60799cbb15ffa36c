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

// One owner for a handle released by a plain function, such as an HSTRING or a BSTR.
template <class Handle, void (*release)(Handle) noexcept>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~UniqueHandle() { reset(); }

  [[nodiscard]] Handle get() const noexcept { return handle_; }
  // The address for an out-parameter; whatever was held is released first.
  [[nodiscard]] Handle* put() noexcept {
    reset();
    return &handle_;
  }
  void reset() noexcept {
    if (handle_ != nullptr) release(handle_);
    handle_ = nullptr;
  }

 private:
  Handle handle_ = nullptr;
};

inline void delete_hstring(HSTRING string) noexcept { WindowsDeleteString(string); }
inline void free_bstr(BSTR string) noexcept { SysFreeString(string); }
inline void free_local(wchar_t* buffer) noexcept { LocalFree(buffer); }

using UniqueHString = UniqueHandle<HSTRING, delete_hstring>;
using UniqueBstr = UniqueHandle<BSTR, free_bstr>;

// A buffer that the system allocated with LocalAlloc on the caller's behalf.
class UniqueLocalBuffer : public UniqueHandle<wchar_t*, free_local> {
 public:
  // FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER takes the address of the pointer,
  // passed as if it were the buffer.
  [[nodiscard]] LPWSTR put_for_allocation() noexcept { return reinterpret_cast<LPWSTR>(put()); }
};

}  // namespace lupirane::winrt
