#include "crashreport/base/ModulesWin32.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>

#include "crashreport/base/LibraryWin32.h"

std::wstring ModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

std::vector<HMODULE> ProcessModules() {
    std::vector<HMODULE> modules(256);
    for (;;) {
        DWORD needed = 0;
        if (!::EnumProcessModules(::GetCurrentProcess(), modules.data(),
                                  static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed))
            return {};
        size_t count = needed / sizeof(HMODULE);
        if (count <= modules.size() || modules.size() >= 65536) {
            modules.resize(std::min(count, modules.size()));
            return modules;
        }
        modules.resize(count + 16); // more were loaded meanwhile
    }
}

HMODULE ModuleOfAddress(const void* address) {
    // A null address would name the program itself.
    if (uintptr_t(address) < 0x10000) return nullptr;
    HMODULE owner = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &owner))
        return nullptr;
    return owner;
}

std::span<const uint8_t> ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type) {
    HRSRC res = ::FindResourceW(module, name, type);
    if (!res) return {};
    DWORD size = ::SizeofResource(module, res);
    HGLOBAL global = ::LoadResource(module, res);
    const void* bytes = global ? ::LockResource(global) : nullptr;
    if (!bytes) return {};
    return {static_cast<const uint8_t*>(bytes), size};
}

std::string FileVersionText(const std::wstring& path) {
    static TSystemLibrary lib(L"version.dll");
    static const auto getSize = ZE_SYSTEM_PROC(lib, GetFileVersionInfoSizeW);
    static const auto getInfo = ZE_SYSTEM_PROC(lib, GetFileVersionInfoW);
    static const auto query = ZE_SYSTEM_PROC(lib, VerQueryValueW);
    DWORD handle = 0;
    const DWORD size = getSize && getInfo && query && !path.empty() ? getSize(path.c_str(), &handle) : 0;
    if (size == 0 || size >= 16 * 1024 * 1024) return {};
    std::vector<BYTE> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (!getInfo(path.c_str(), 0, size, info.data()) ||
        !query(info.data(), L"\\", reinterpret_cast<LPVOID*>(&fixed), &len) || !fixed ||
        len < sizeof(VS_FIXEDFILEINFO))
        return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", unsigned(HIWORD(fixed->dwFileVersionMS)),
                  unsigned(LOWORD(fixed->dwFileVersionMS)), unsigned(HIWORD(fixed->dwFileVersionLS)),
                  unsigned(LOWORD(fixed->dwFileVersionLS)));
    return buf;
}
