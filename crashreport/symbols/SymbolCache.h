#pragma once
// Symbol lookup for code addresses: which module, unit, function and source line. The symbol
// data of each module is found once (embedded resource, then ".map", then ".xun" beside the
// module) and cached for the process. The operating system is reached through ISymbolPlatform;
// SymbolsWin32.h has the real one.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/symbols/MapFile.h"
#include "crashreport/symbols/PeLayout.h"

struct TSymbolModule {
    std::string FileName; // full path, UTF-8
    uint64_t Base = 0;    // load address (the module handle)
    TPeLayout Layout;
};

class ISymbolPlatform {
public:
    virtual ~ISymbolPlatform() = default;
    // The module image that holds committed memory at address.
    virtual bool FindModule(uint64_t address, TSymbolModule& module) = 0;
    // The module's "XUN"/"EXCEPT" resource.
    virtual bool ReadEmbedded(const TSymbolModule& module, std::vector<uint8_t>& data) = 0;
    // A whole file, at most limit bytes; false when missing, larger or unreadable.
    virtual bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& data) = 0;
};

constexpr size_t MaxTextMapSize = size_t(256) << 20;

// The names point into the module's symbol data, which the info keeps alive.
struct TAddressInfo {
    bool Valid = false;
    std::string_view ModuleName; // file name without path
    std::string_view UnitName;
    int Line = 0; // 0 when unknown
    uint64_t FunctionStart = 0;
    std::string_view FunctionName;
    TRef<TMapFile> Map;
};

// Where a module's symbol data came from.
enum class TSymbolSource { None, Embedded, TextMap, PackedFile };

// Loads one module's symbol data, trying the sources in order.
TRef<TMapFile> LoadModuleSymbols(ISymbolPlatform& platform, const TSymbolModule& module,
                                 TSymbolSource* source = nullptr);

// The per-process cache of symbol data, keyed by module file name (case-insensitive).
class TSymbolCache {
public:
    explicit TSymbolCache(ISymbolPlatform& platform) : FPlatform(platform) {}
    // The symbol data of the module that holds address, or null; an invalid result is not cached.
    TRef<TMapFile> SymbolsForAddress(uint64_t address);
    TAddressInfo AddressInfo(uint64_t address);
    void Clear();

private:
    ISymbolPlatform& FPlatform;
    std::mutex FLock;
    std::vector<TRef<TMapFile>> FMaps; // a process has few modules with symbol data
};

// The lookups of one map by absolute address (module base + RVA).
TAddressInfo AddressInfoIn(const TRef<TMapFile>& map, uint64_t base, uint64_t address);

// Functions that stack traces resolved through symbol data, for the dialog's compact list.
class TMinDebugInfo {
public:
    struct TItem {
        std::string Name;
        std::string Module;
    };
    static constexpr size_t MaxItems = 4096;
    void Add(const std::string& name, const std::string& module); // ignores repeats
    std::vector<TItem> Items() const;

private:
    mutable std::mutex FLock;
    std::vector<TItem> FItems;
};
