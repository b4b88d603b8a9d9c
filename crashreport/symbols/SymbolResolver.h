#pragma once
// A module's symbol data as the disassembly's source of names and lines.
#include <cstdint>
#include <string>

#include "crashreport/symbols/MapFile.h"
#include "crashreport/x86/FunctionListing.h"

// The map as name and line source of the disassembly (addresses of a module at base).
class TMapSymbolResolver : public ISymbolResolver, public ILineSource {
public:
    TMapSymbolResolver(TRef<TMapFile> map, uint64_t base) : FMap(std::move(map)), FBase(base) {}
    bool NameAt(uint64_t address, std::string& name) const override;
    int LineAt(uint64_t address) const override;

private:
    bool Rva(uint64_t address, uint32_t& rva) const;
    TRef<TMapFile> FMap;
    uint64_t FBase;
};
