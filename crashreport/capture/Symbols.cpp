#include "crashreport/capture/Symbols.h"

#include <algorithm>

#include "crashreport/capture/SymbolData.h"

namespace {

uint16_t U16(std::span<const uint8_t> b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

constexpr uint32_t kScnCntCode = 0x00000020;

bool SameFileName(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string NamePart(const std::string& path) {
    size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string WithExtension(const std::string& path, const char* extension) {
    size_t slash = path.find_last_of("\\/:");
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + extension;
    return path.substr(0, dot) + extension;
}

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
            if (flags & kScnCntCode) {
                layout.CodeBase = rva;
                layout.CodeTop = rva + size;
            }
            break;
        }
    }
    return true;
}

TRef<TMapFile> LoadModuleSymbols(ISymbolPlatform& platform, const TSymbolModule& module,
                                 TSymbolSource* source) {
    TRef<TMapFile> map = MakeRef<TMapFile>();
    map->FileName = module.FileName;
    map->ModuleName = NamePart(module.FileName);
    map->Handle = module.Base;
    map->CodeBase = module.Layout.CodeBase;
    map->CodeTop = module.Layout.CodeTop;
    map->DataBase = module.Layout.DataBase;
    map->DataTop = module.Layout.DataTop;
    map->EntryPoint = module.Layout.EntryPoint;
    if (source) *source = TSymbolSource::None;
    std::vector<uint8_t> bytes;
    // TD32 and ".jdbg" debug information are not read: our tool chain writes neither.
    if (platform.ReadEmbedded(module, bytes) && UnpackSymbolData(bytes, *map) && !map->Empty()) {
        if (source) *source = TSymbolSource::Embedded;
    } else if (platform.ReadWholeFile(WithExtension(module.FileName, ".map"), kMaxTextMapSize, bytes) &&
               ReadTextMap(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                           *map)) {
        if (source) *source = TSymbolSource::TextMap;
    } else {
        map->Clear();
        if (platform.ReadWholeFile(WithExtension(module.FileName, ".xun"), kMaxSymbolDataSize, bytes) &&
            UnpackSymbolData(bytes, *map) && !map->Empty()) {
            if (source) *source = TSymbolSource::PackedFile;
        } else {
            map->Clear();
            return map;
        }
    }
    map->Valid = true;
    return map;
}

TRef<TMapFile> TSymbolCache::SymbolsForAddress(uint64_t address) {
    TSymbolModule module;
    if (address == 0 || !FPlatform.FindModule(address, module)) return nullptr;
    auto cached = [&]() -> TRef<TMapFile>* {
        for (TRef<TMapFile>& map : FMaps)
            if (SameFileName(map->FileName, module.FileName)) return &map;
        return nullptr;
    };
    {
        std::lock_guard<std::mutex> guard(FLock);
        // A module unloaded and loaded elsewhere keeps its name but not its handle.
        if (TRef<TMapFile>* map = cached(); map && (*map)->Handle == module.Base) return *map;
    }
    // Loaded outside the lock: a second thread may load the same module meanwhile; the first
    // one stored wins and the other copy is dropped.
    TRef<TMapFile> map = LoadModuleSymbols(FPlatform, module);
    if (!map->Valid) return map;
    std::lock_guard<std::mutex> guard(FLock);
    TRef<TMapFile>* slot = cached();
    if (!slot) return FMaps.emplace_back(map);
    if ((*slot)->Handle != module.Base) *slot = map;
    return *slot;
}

void TSymbolCache::Clear() {
    std::lock_guard<std::mutex> guard(FLock);
    FMaps.clear();
}

TAddressInfo AddressInfoIn(const TRef<TMapFile>& ref, uint64_t base, uint64_t address) {
    TAddressInfo info;
    if (address == 0 || !ref || !ref->Valid || address < base || address - base > 0xFFFFFFFFu) return info;
    const TMapFile& map = *ref;
    uint32_t rva = uint32_t(address - base);
    info.Map = ref;
    info.ModuleName = map.ModuleName;
    if (const TMapSegment* segment = map.FindSegment(true, rva)) info.UnitName = map.UnitName(segment->Unit);
    if (const TMapPublic* p = map.FindPublic(rva)) {
        info.FunctionStart = base + p->Address;
        info.FunctionName = map.PublicName(*p);
    }
    info.Line = std::max(map.FindLine(rva).Line, 0);
    info.Valid = true;
    return info;
}

TAddressInfo TSymbolCache::AddressInfo(uint64_t address) {
    TRef<TMapFile> map = SymbolsForAddress(address);
    if (!map || !map->Valid) return {};
    return AddressInfoIn(map, map->Handle, address);
}

void TMinDebugInfo::Add(const std::string& name, const std::string& module) {
    if (name.empty()) return;
    std::lock_guard<std::mutex> guard(FLock);
    for (const TItem& item : FItems)
        if (item.Name == name && item.Module == module) return;
    if (FItems.size() < kMaxItems) FItems.push_back({name, module});
}

std::vector<TMinDebugInfo::TItem> TMinDebugInfo::Items() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FItems;
}

bool TMapSymbolResolver::Rva(uint64_t address, uint32_t& rva) const {
    if (!FMap || address < FBase || address - FBase > 0xFFFFFFFFu) return false;
    rva = uint32_t(address - FBase);
    return true;
}

bool TMapSymbolResolver::NameAt(uint32_t address, std::string& name) const {
    uint32_t rva;
    if (!Rva(address, rva)) return false;
    const TMapPublic* p = FMap->FindPublic(rva);
    if (!p || p->Address != rva) return false;
    name = FMap->PublicName(*p);
    return true;
}

int TMapSymbolResolver::LineAt(uint32_t address) const {
    uint32_t rva;
    if (!Rva(address, rva)) return 0;
    return std::max(FMap->FindLine(rva).Line, 0);
}
