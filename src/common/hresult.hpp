// HRESULT values the program produces or tests for, usable without <windows.h>.
#pragma once

#include <bit>
#include <cstdint>

namespace lupirane {

using HResult = std::int32_t;

constexpr HResult hresult_from_bits(std::uint32_t bits) noexcept { return std::bit_cast<HResult>(bits); }
constexpr std::uint32_t hresult_bits(HResult code) noexcept { return std::bit_cast<std::uint32_t>(code); }

namespace hresult {
inline constexpr HResult ok = 0;
inline constexpr HResult fail = hresult_from_bits(0x80004005);           // E_FAIL
inline constexpr HResult pointer = hresult_from_bits(0x80004003);        // E_POINTER
inline constexpr HResult access_denied = hresult_from_bits(0x80070005);  // E_ACCESSDENIED
inline constexpr HResult out_of_memory = hresult_from_bits(0x8007000E);  // E_OUTOFMEMORY
inline constexpr HResult disk_full = hresult_from_bits(0x80070070);      // ERROR_DISK_FULL
inline constexpr HResult not_found = hresult_from_bits(0x80070490);      // ERROR_NOT_FOUND
inline constexpr HResult file_corrupt = hresult_from_bits(0x80070570);   // ERROR_FILE_CORRUPT
inline constexpr HResult class_not_registered = hresult_from_bits(0x80040154);  // REGDB_E_CLASSNOTREG
}  // namespace hresult

}  // namespace lupirane
