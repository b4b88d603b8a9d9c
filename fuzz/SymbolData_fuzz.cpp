// The packed symbol reader: the bytes as a whole file (header, cipher, checksum) and, since the
// checksum stops almost every mutation there, as a clear payload.
#include <cstddef>
#include <cstdint>
#include <span>

#include "crashreport/symbols/SymbolData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    TRef<TMapFile> map = MakeRef<TMapFile>();
    UnpackSymbolData(bytes, *map);
    if (UnpackSymbolPayload(bytes, *map)) {
        // What was read must pack and read back.
        TRef<TMapFile> back = MakeRef<TMapFile>();
        if (!UnpackSymbolData(PackSymbolData(*map), *back)) __builtin_trap();
        map->Valid = true;
        map->FindLine(0x1000);
        map->FindPublic(0x1000);
    }
    return 0;
}
