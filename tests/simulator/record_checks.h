// Checks on records as the simulator writes them, shared by the native tests
// and the tests of the DLL under Wine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

constexpr inline std::uint8_t kCanary = 0xA5;

// A text field up to its terminator, never past its width.
template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

inline bool AllBytes(const void* data, std::size_t size, std::uint8_t value) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != value) {
            return false;
        }
    }
    return true;
}
