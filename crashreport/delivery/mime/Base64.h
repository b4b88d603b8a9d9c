#pragma once
// Base64 with the standard alphabet and "=" fill, no line breaks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t Base64Length(size_t bytes) {
    return (bytes + 2) / 3 * 4;
}

// Appends the base64 form of `count` bytes to `out`.
void AppendBase64(std::string& out, const uint8_t* data, size_t count);

inline std::string Base64(std::string_view bytes) {
    std::string out;
    AppendBase64(out, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return out;
}
