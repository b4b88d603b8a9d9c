// Stands in for the picture editor that the "edit" verb of a .bmp file starts: paints the whole
// 32-bit picture red, written to a new file first and then put in place, as editors save.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 1;
    HANDLE in = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return 1;
    std::vector<uint8_t> bmp(::GetFileSize(in, nullptr));
    DWORD got = 0;
    const bool read = ::ReadFile(in, bmp.data(), DWORD(bmp.size()), &got, nullptr) && got == bmp.size();
    ::CloseHandle(in);
    uint32_t offset = 0;
    uint16_t bits = 0;
    if (!read || bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') return 1;
    std::memcpy(&offset, &bmp[10], 4);
    std::memcpy(&bits, &bmp[28], 2);
    if (bits != 32 || offset > bmp.size()) return 1;
    for (size_t i = offset; i + 4 <= bmp.size(); i += 4) {
        const uint8_t red[4] = {0, 0, 255, 0};
        std::memcpy(&bmp[i], red, 4);
    }
    const std::wstring part = std::wstring(argv[1]) + L".part";
    HANDLE out = ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const bool ok =
        ::WriteFile(out, bmp.data(), DWORD(bmp.size()), &written, nullptr) && written == bmp.size();
    ::CloseHandle(out);
    return ok && ::MoveFileExW(part.c_str(), argv[1], MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
