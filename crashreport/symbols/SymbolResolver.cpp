#include "crashreport/symbols/SymbolResolver.h"

bool TMapSymbolResolver::Rva(uint64_t address, uint32_t& rva) const {
    if (!FMap || address < FBase || address - FBase > 0xFFFFFFFFu) return false;
    rva = uint32_t(address - FBase);
    return true;
}

bool TMapSymbolResolver::NameAt(uint64_t address, std::string& name) const {
    uint32_t rva;
    if (!Rva(address, rva)) return false;
    const TMapPublic* p = FMap->FindPublic(rva);
    if (!p || p->Address != rva) return false;
    name = FMap->PublicName(*p);
    return true;
}

int TMapSymbolResolver::LineAt(uint64_t address) const {
    uint32_t rva;
    if (!Rva(address, rva)) return 0;
    return std::max(FMap->FindLine(rva).Line, 0);
}
