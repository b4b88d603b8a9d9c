#include "crashreport/symbols/SymbolCache.h"

#include <algorithm>

#include "crashreport/symbols/SymbolData.h"

namespace {

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
    } else if (platform.ReadWholeFile(WithExtension(module.FileName, ".map"), MaxTextMapSize, bytes) &&
               ReadTextMap(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                           *map)) {
        if (source) *source = TSymbolSource::TextMap;
    } else {
        map->Clear();
        if (platform.ReadWholeFile(WithExtension(module.FileName, ".xun"), MaxSymbolDataSize, bytes) &&
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
    if (FItems.size() < MaxItems) FItems.push_back({name, module});
}

std::vector<TMinDebugInfo::TItem> TMinDebugInfo::Items() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FItems;
}
