#pragma once
// Hexadecimal numbers and the parts of a file path, as the report texts and file names need them.
#include <cstdint>
#include <string>
#include <string_view>

// `digits` upper-case hexadecimal digits of v (more when v needs them); 0 digits: no leading zeros.
inline void AppendHex(std::string& s, uint64_t v, int digits = 0) {
    char tmp[16];
    int n = 0;
    do {
        tmp[n++] = "0123456789ABCDEF"[v & 15];
        v >>= 4;
    } while (v && n < 16);
    while (n < digits && n < 16)
        tmp[n++] = '0';
    while (n)
        s += tmp[--n];
}

inline std::string Hex(uint64_t v, int digits = 0) {
    std::string s;
    AppendHex(s, v, digits);
    return s;
}

// The name part of a path: after the last '\\' or '/'.
template <class Char> std::basic_string_view<Char> ExtractFileName(std::basic_string_view<Char> path) {
    for (size_t i = path.size(); i > 0; --i)
        if (path[i - 1] == Char('\\') || path[i - 1] == Char('/')) return path.substr(i);
    return path;
}
inline std::string_view ExtractFileName(const std::string& path) {
    return ExtractFileName(std::string_view(path));
}
inline std::wstring_view ExtractFileName(const std::wstring& path) {
    return ExtractFileName(std::wstring_view(path));
}

// The folder part of a path, without the last separator; empty when there is none.
template <class Char> std::basic_string_view<Char> ExtractFileDir(std::basic_string_view<Char> path) {
    for (size_t i = path.size(); i > 0; --i)
        if (path[i - 1] == Char('\\') || path[i - 1] == Char('/')) return path.substr(0, i - 1);
    return {};
}
inline std::string_view ExtractFileDir(const std::string& path) {
    return ExtractFileDir(std::string_view(path));
}
inline std::wstring_view ExtractFileDir(const std::wstring& path) {
    return ExtractFileDir(std::wstring_view(path));
}
