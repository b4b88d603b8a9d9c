#include "crashreport/symbols/PeLayout.h"

namespace {

uint16_t U16(std::span<const uint8_t> b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

constexpr uint32_t ScnCntCode = 0x00000020;

} // namespace

bool ParsePeLayout(std::span<const uint8_t> b, TPeLayout& layout) {
    layout = TPeLayout();
    if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') return false;
    size_t nt = U32(b, 0x3C);
    if (nt > b.size() || b.size() - nt < 24 || U32(b, nt) != 0x00004550) return false;
    size_t sections = U16(b, nt + 6);
    size_t optSize = U16(b, nt + 20);
    size_t opt = nt + 24;
    if (b.size() - opt < optSize || optSize < 0x40) return false;
    uint16_t magic = U16(b, opt);
    if (magic == 0x20B) {
        layout.Is64 = true;
        layout.ImageBase = uint64_t(U32(b, opt + 24)) | uint64_t(U32(b, opt + 28)) << 32;
    } else if (magic == 0x10B) {
        layout.ImageBase = U32(b, opt + 28);
    } else {
        return false;
    }
    uint32_t sizeOfCode = U32(b, opt + 4);
    uint32_t sizeOfData = U32(b, opt + 8) + U32(b, opt + 12);
    layout.EntryPoint = U32(b, opt + 16);
    uint32_t baseOfCode = U32(b, opt + 20);
    layout.SizeOfImage = U32(b, opt + 56);
    layout.CodeBase = baseOfCode;
    layout.CodeTop = baseOfCode + sizeOfCode;
    // PE32+ headers have no data base: the data follows the code.
    layout.DataBase = layout.Is64 ? layout.CodeTop : U32(b, opt + 24);
    layout.DataTop = layout.DataBase + sizeOfData;
    size_t table = opt + optSize;
    for (size_t i = 0; i < sections && table + (i + 1) * 40 <= b.size(); ++i) {
        size_t s = table + i * 40;
        uint32_t size = U32(b, s + 8), rva = U32(b, s + 12), flags = U32(b, s + 36);
        if (baseOfCode >= rva && baseOfCode - rva < std::max<uint32_t>(size, 1)) {
            if (flags & ScnCntCode) {
                layout.CodeBase = rva;
                layout.CodeTop = rva + size;
            }
            break;
        }
    }
    return true;
}
