#include "crashreport/capture/SettingsWin32.h"

#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "framework/Strings.h"
#include "framework/Win32Util.h"

namespace {

// One module's entry in the shared list. Records come from the process heap, so whichever
// module's copy of the crash reporter walks the list can use them.
struct TModuleSettingsRecord {
    HMODULE Module;
    IMEModuleSettings* Settings; // holds one reference
    TModuleSettingsRecord* Next;
};

struct TSharedSettingsBuf {
    LONG RefCount;
    HANDLE Mapping;
    CRITICAL_SECTION Lock; // guards the module list
    TModuleSettingsRecord* Head;
    LONG Reserved;
};
#ifndef _WIN64
static_assert(sizeof(TSharedSettingsBuf) == 40);
#endif

class TMessageBoxSink : public IInternalErrorSink {
public:
    void ShowInternalError(std::string_view text, std::string_view caption) override {
        ::MessageBoxW(nullptr, Widen(Cp1252ToUtf8(text)).c_str(), Widen(Cp1252ToUtf8(caption)).c_str(),
                      MB_OK | MB_ICONERROR | MB_TASKMODAL);
    }
};

std::u16string ToU16(std::wstring_view s) {
    return std::u16string(s.begin(), s.end());
}

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

std::string FileNameCp1252(HMODULE module) {
    std::wstring path = ModulePath(module);
    size_t slash = path.find_last_of(L"\\/");
    return Utf16ToCp1252(ToU16(slash == std::wstring::npos ? path : path.substr(slash + 1)));
}

// Reads through the system, so a wrong VersionVar fails instead of faulting.
bool ReadMemory(const void* address, void* out, size_t size) {
    SIZE_T done = 0;
    return ::ReadProcessMemory(::GetCurrentProcess(), address, out, size, &done) && done == size;
}

std::string VersionVariableText(HMODULE module, uint32_t offset) {
    const char* text = nullptr;
    if (!ReadMemory(reinterpret_cast<const BYTE*>(module) + offset, &text, sizeof text) || !text) return {};
    std::string out;
    char c = 0;
    while (out.size() < 256 && ReadMemory(text + out.size(), &c, 1) && c != 0)
        out.push_back(c);
    return out;
}

template <class F> F LoadProc(HMODULE lib, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(lib, name)));
}

// version.dll is loaded on demand: the program links nothing beyond what it always needs.
std::string FileVersionText(HMODULE module) {
    HMODULE lib = ::LoadLibraryW(L"version.dll");
    if (!lib) return {};
    using TSize = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using TInfo = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using TQuery = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    auto getSize = LoadProc<TSize>(lib, "GetFileVersionInfoSizeW");
    auto getInfo = LoadProc<TInfo>(lib, "GetFileVersionInfoW");
    auto query = LoadProc<TQuery>(lib, "VerQueryValueW");
    std::string result;
    std::wstring path = ModulePath(module);
    DWORD handle = 0;
    DWORD size = getSize && getInfo && query && !path.empty() ? getSize(path.c_str(), &handle) : 0;
    if (size > 0 && size < 16 * 1024 * 1024) {
        std::vector<BYTE> info(size);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT len = 0;
        if (getInfo(path.c_str(), 0, size, info.data()) &&
            query(info.data(), L"\\", reinterpret_cast<LPVOID*>(&fixed), &len) && fixed &&
            len >= sizeof(VS_FIXEDFILEINFO)) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", unsigned(HIWORD(fixed->dwFileVersionMS)),
                          unsigned(LOWORD(fixed->dwFileVersionMS)), unsigned(HIWORD(fixed->dwFileVersionLS)),
                          unsigned(LOWORD(fixed->dwFileVersionLS)));
            result = buf;
        }
    }
    ::FreeLibrary(lib);
    return result;
}

std::string SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return Utf16ToCp1252(ToU16(path));
}

class TWin32TextVariables : public TRefCountedImpl<ITextVariableSource> {
public:
    explicit TWin32TextVariables(HMODULE module) : FModule(module) {}

    std::string AppName() override { return FileNameCp1252(nullptr); }
    std::string ModName() override { return FileNameCp1252(FModule); }
    std::string ModVersion() override {
        if (uint32_t offset = SettingsForModule(FModule)->GetVersionVar(); offset != 0) {
            std::string text = VersionVariableText(FModule, offset);
            if (!text.empty()) return text;
        }
        return FileVersionText(FModule);
    }
    TLocalTime Now() override {
        SYSTEMTIME st;
        ::GetLocalTime(&st);
        return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    }
    std::string UserAppData() override { return SpecialFolder(CSIDL_APPDATA); }
    std::string CommonAppData() override { return SpecialFolder(CSIDL_COMMON_APPDATA); }
    std::string ExeFolder() override {
        std::wstring path = ModulePath(nullptr);
        size_t slash = path.find_last_of(L"\\/");
        return Utf16ToCp1252(ToU16(slash == std::wstring::npos ? std::wstring() : path.substr(0, slash)));
    }

private:
    HMODULE FModule;
};

std::wstring SharedBufferName() {
    wchar_t name[64];
    std::swprintf(name, 64, L"xunExceptSettingsBuf%08X", static_cast<unsigned>(::GetCurrentProcessId()));
    return name;
}

TSharedSettingsBuf* OpenSharedBuffer() {
    TKernelHandle mutex(::CreateMutexW(nullptr, FALSE, L"xunExceptSettingsMtx"));
    if (mutex) ::WaitForSingleObject(mutex.Get(), INFINITE);
    TSharedSettingsBuf* buf = nullptr;
    HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          sizeof(TSharedSettingsBuf), SharedBufferName().c_str());
    bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (mapping) {
        buf = static_cast<TSharedSettingsBuf*>(
            ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TSharedSettingsBuf)));
        if (!buf) {
            ::CloseHandle(mapping);
        } else if (!existed) {
            std::memset(buf, 0, sizeof *buf);
            ::InitializeCriticalSection(&buf->Lock);
            buf->Mapping = mapping; // the block keeps its own mapping open for the process's life
        } else {
            ::CloseHandle(mapping); // the view keeps the block alive
        }
    }
    if (buf) ::InterlockedIncrement(&buf->RefCount);
    if (mutex) ::ReleaseMutex(mutex.Get());
    return buf;
}

TSharedSettingsBuf* SharedBuffer() {
    static TSharedSettingsBuf* const buf = [] {
        TSharedSettingsBuf* b = OpenSharedBuffer();
        if (!b)
            MessageBoxErrorSink().ShowInternalError("internal error (opening settings buffer)", "xunExcept");
        return b;
    }();
    return buf;
}

TRef<IMEModuleSettings> NewSettings(HMODULE module, bool withResource) {
    TSettingsLoader loader;
    if (withResource)
        loader = [module](std::vector<uint8_t>& data) { return LoadSettingsResource(module, data); };
    return MakeRef<TIMESettings>(std::move(loader), &MessageBoxErrorSink(), Win32TextVariables(module));
}

// The module's entry in the shared list, created on the first request, not yet tied to the main
// settings.
TRef<IMEModuleSettings> ModuleEntry(HMODULE module) {
    TSharedSettingsBuf* buf = SharedBuffer();
    if (!buf) {
        static TRef<IMEModuleSettings> none = NewSettings(nullptr, false);
        return none;
    }
    auto find = [&]() -> TRef<IMEModuleSettings> {
        for (TModuleSettingsRecord* r = buf->Head; r; r = r->Next)
            if (r->Module == module) return TRef<IMEModuleSettings>(r->Settings);
        return nullptr;
    };
    ::EnterCriticalSection(&buf->Lock);
    TRef<IMEModuleSettings> found = find();
    ::LeaveCriticalSection(&buf->Lock);
    if (found) return found;

    // Parsed outside the lock: a broken resource shows a message box, which must not hold up
    // other threads asking for settings.
    TRef<IMEModuleSettings> created = NewSettings(module, true);
    ::EnterCriticalSection(&buf->Lock);
    found = find();
    if (!found) {
        auto* record = static_cast<TModuleSettingsRecord*>(
            ::HeapAlloc(::GetProcessHeap(), 0, sizeof(TModuleSettingsRecord)));
        if (record) {
            *record = {module, created.Get(), buf->Head};
            created->AddRef();
            buf->Head = record;
        }
        found = created;
    }
    ::LeaveCriticalSection(&buf->Lock);
    return found;
}

bool HasSettingsResource(HMODULE module) {
    return ::FindResourceW(module, L"TXUNEXCEPT", MAKEINTRESOURCEW(10)) != nullptr;
}

bool Usable(const TRef<IMEModuleSettings>& s) {
    return s && s->IsValid() && !s->GetNoSettings();
}

TRef<IMEModuleSettings> ChooseMainSettings() {
    HMODULE program = ::GetModuleHandleW(nullptr);
    if (HasSettingsResource(program)) {
        TRef<IMEModuleSettings> s = ModuleEntry(program);
        if (Usable(s)) return s;
    }
    if (HMODULE ide = ::GetModuleHandleW(L"xunExceptIde_.bpl")) return ModuleEntry(ide);
    std::vector<HMODULE> modules(1024);
    DWORD needed = 0;
    if (::EnumProcessModules(::GetCurrentProcess(), modules.data(),
                             static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed)) {
        modules.resize(std::min<size_t>(modules.size(), needed / sizeof(HMODULE)));
        std::sort(modules.begin(), modules.end(), [](HMODULE a, HMODULE b) {
            return reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b);
        });
        for (HMODULE m : modules) {
            if (m == program || !HasSettingsResource(m)) continue;
            TRef<IMEModuleSettings> s = ModuleEntry(m);
            if (Usable(s)) return s;
        }
    }
    return ModuleEntry(program);
}

} // namespace

IInternalErrorSink& MessageBoxErrorSink() {
    static TMessageBoxSink sink;
    return sink;
}

TRef<ITextVariableSource> Win32TextVariables(HMODULE module) {
    return MakeRef<TWin32TextVariables>(module);
}

bool LoadSettingsResource(HMODULE module, std::vector<uint8_t>& data) {
    HRSRC res = ::FindResourceW(module, L"TXUNEXCEPT", MAKEINTRESOURCEW(10));
    if (!res) return false;
    HGLOBAL global = ::LoadResource(module, res);
    const void* bytes = global ? ::LockResource(global) : nullptr;
    DWORD size = ::SizeofResource(module, res);
    if (!bytes) return false;
    const auto* p = static_cast<const uint8_t*>(bytes);
    data.assign(p, p + size);
    return true;
}

TRef<IMEModuleSettings> MainSettings() {
    // Chosen once: the modules that carry settings are loaded with the program.
    static std::mutex lock;
    static TRef<IMEModuleSettings> main;
    std::lock_guard guard(lock);
    if (!main) main = ChooseMainSettings();
    return main;
}

TRef<IMEModuleSettings> SettingsForModule(HMODULE module) {
    if (!module) module = ::GetModuleHandleW(nullptr);
    TRef<IMEModuleSettings> settings = ModuleEntry(module);
    TRef<IMEModuleSettings> main = MainSettings();
    if (main.Get() != settings.Get()) settings->SetMainSettings(main);
    return settings;
}

TRef<IMEModuleSettings> SettingsForAddress(const void* address) {
    HMODULE module = nullptr;
    if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCWSTR>(address), &module) &&
        module != ::GetModuleHandleW(nullptr) && HasSettingsResource(module)) {
        TRef<IMEModuleSettings> s = SettingsForModule(module);
        if (Usable(s)) return s;
    }
    return MainSettings();
}
