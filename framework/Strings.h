#pragma once
// String helpers of the portable core. Text is UTF-8 in std::string; the Win32 layer converts
// at its boundary.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// The file name part of a path (after the last '\\', '/' or ':').
std::string ExtractFileName(std::string_view path);

// The integer entry rule of the editor's fields: leading blanks, optional sign, then decimal
// digits or hexadecimal digits after "$", "x", "X", "0x" or "0X", nothing after them, and the
// value must fit into a signed 32-bit integer.
std::optional<int32_t> TryStrToInt(std::string_view text);

std::string IntToStr(int64_t v);
