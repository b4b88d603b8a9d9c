// The text map reader and the lookups on whatever it made of the bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crashreport/symbols/MapFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TRef<TMapFile> map = MakeRef<TMapFile>();
    map->CodeBase = 0x1000;
    map->CodeTop = 0x80000;
    ReadTextMap(std::string_view(reinterpret_cast<const char*>(data), size), *map);
    map->Valid = true;
    for (uint32_t address : {0u, 0x1000u, 0x1234u, 0x4000u, 0x7FFFFu, 0xFFFFFFFFu}) {
        map->FindSegment(false, address);
        if (const TMapPublic* p = map->FindPublic(address)) (void)map->PublicName(*p).size();
        map->FindLine(address);
    }
    return 0;
}
