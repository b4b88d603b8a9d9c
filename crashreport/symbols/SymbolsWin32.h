#pragma once
// Symbol lookup in the running process: modules found through the memory they occupy, their
// embedded symbol resource and the files beside them.
#include <cstdint>

#include "crashreport/symbols/SymbolCache.h"

class TWin32SymbolPlatform : public ISymbolPlatform {
public:
    bool FindModule(uint64_t address, TSymbolModule& module) override;
    bool ReadEmbedded(const TSymbolModule& module, std::vector<uint8_t>& data) override;
    bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& data) override;
};

// The process-wide cache and the minimal debug info list.
ISymbolPlatform& ProcessSymbolPlatform();
TSymbolCache& ProcessSymbols();
TMinDebugInfo& MinimalDebugInfo();

TRef<TMapFile> SymbolsForAddress(const void* address);
TAddressInfo AddressInfo(const void* address);
