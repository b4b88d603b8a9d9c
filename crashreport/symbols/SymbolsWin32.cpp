#include "crashreport/symbols/SymbolsWin32.h"

#include <algorithm>

#include "crashreport/base/ModulesWin32.h"
#include "crashreport/symbols/SymbolData.h"
#include "framework/Win32Util.h"

bool TWin32SymbolPlatform::FindModule(uint64_t address, TSymbolModule& module) {
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(reinterpret_cast<const void*>(uintptr_t(address)), &info, sizeof info) ||
        info.State != MEM_COMMIT || info.Type != MEM_IMAGE || !info.AllocationBase)
        return false;
    auto base = static_cast<const uint8_t*>(info.AllocationBase);
    // The headers: the first page of the image, committed and readable as long as it is mapped.
    MEMORY_BASIC_INFORMATION head;
    if (!VirtualQuery(base, &head, sizeof head) || head.State != MEM_COMMIT ||
        (head.Protect & (PAGE_NOACCESS | PAGE_GUARD)) || head.RegionSize < 0x400)
        return false;
    size_t headerSize = head.RegionSize < 0x1000 ? head.RegionSize : 0x1000;
    if (!ParsePeLayout(std::span(base, headerSize), module.Layout)) return false;
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(HMODULE(info.AllocationBase), path, DWORD(std::size(path)));
    if (length == 0 || length >= std::size(path)) return false;
    module.FileName = Narrow(std::wstring_view(path, length));
    module.Base = uint64_t(uintptr_t(base));
    return true;
}

bool TWin32SymbolPlatform::ReadEmbedded(const TSymbolModule& module, std::vector<uint8_t>& data) {
    std::span<const uint8_t> bytes = ResourceBytes(HMODULE(uintptr_t(module.Base)), L"EXCEPT", L"XUN");
    if (bytes.empty() || bytes.size() > MaxSymbolDataSize) return false;
    data.assign(bytes.begin(), bytes.end());
    return true;
}

bool TWin32SymbolPlatform::ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& data) {
    TFileHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || uint64_t(size.QuadPart) > limit)
        return false;
    data.resize(size_t(size.QuadPart));
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = DWORD(std::min<size_t>(data.size() - done, 1 << 24)), read = 0;
        if (!ReadFile(file.Get(), data.data() + done, chunk, &read, nullptr) || read == 0) return false;
        done += read;
    }
    return true;
}

ISymbolPlatform& ProcessSymbolPlatform() {
    static TWin32SymbolPlatform platform;
    return platform;
}

TSymbolCache& ProcessSymbols() {
    static TSymbolCache cache(ProcessSymbolPlatform());
    return cache;
}

TMinDebugInfo& MinimalDebugInfo() {
    static TMinDebugInfo list;
    return list;
}

TRef<TMapFile> SymbolsForAddress(const void* address) {
    return ProcessSymbols().SymbolsForAddress(uint64_t(uintptr_t(address)));
}

TAddressInfo AddressInfo(const void* address) {
    return ProcessSymbols().AddressInfo(uint64_t(uintptr_t(address)));
}
