#include "crashreport/capture/SettingsWin32.h"

#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "crashreport/capture/SettingsSelection.h"
#include "framework/Strings.h"
#include "framework/Win32Util.h"

namespace {

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

// This module's view of the shared block. Users counts this module's state and every settings
// object it made: the view stays mapped until the last of them is gone, then this module's count
// in the block is given back. Plain globals, so no destructor order can unmap it early.
TSharedSettingsBuf* GView = nullptr;
std::atomic<long> GViewUsers{0};

class TSettingsMutex {
public:
    TSettingsMutex() : FMutex(::CreateMutexW(nullptr, FALSE, L"xunExceptSettingsMtx")) {
        if (FMutex) ::WaitForSingleObject(FMutex.Get(), INFINITE);
    }
    ~TSettingsMutex() {
        if (FMutex) ::ReleaseMutex(FMutex.Get());
    }
    TSettingsMutex(const TSettingsMutex&) = delete;
    TSettingsMutex& operator=(const TSettingsMutex&) = delete;

private:
    TKernelHandle FMutex;
};

TSharedSettingsBuf* OpenSharedBuffer() {
    TSettingsMutex guard;
    HANDLE mapping =
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TSharedSettingsBuf),
                             SettingsBufferName(::GetCurrentProcessId()).c_str());
    if (!mapping) return nullptr;
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    auto* buf = static_cast<TSharedSettingsBuf*>(
        ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TSharedSettingsBuf)));
    if (!buf) {
        ::CloseHandle(mapping);
        return nullptr;
    }
    if (!existed) {
        std::memset(buf, 0, sizeof *buf);
        ::InitializeCriticalSection(&buf->Lock);
        buf->Mapping = mapping;
    } else {
        ::CloseHandle(mapping); // the creator's handle keeps the name
    }
    ++buf->RefCount; // under the mutex, like every change of the count
    return buf;
}

void CloseSharedBuffer(TSharedSettingsBuf* buf) {
    TSettingsMutex guard;
    if (--buf->RefCount == 0) {
        // The last module: nobody can reach the list any more.
        ::DeleteCriticalSection(&buf->Lock);
        HANDLE mapping = buf->Mapping;
        ::UnmapViewOfFile(buf);
        ::CloseHandle(mapping);
    } else {
        ::UnmapViewOfFile(buf);
    }
}

void AddViewUser() {
    GViewUsers.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseViewUser() {
    if (GViewUsers.fetch_sub(1, std::memory_order_acq_rel) == 1 && GView) {
        TSharedSettingsBuf* buf = std::exchange(GView, nullptr);
        CloseSharedBuffer(buf);
    }
}

void UnlinkRecord(TSharedSettingsBuf* buf, IMEModuleSettings* settings) {
    for (TModuleSettingsRecord** link = &buf->Head; *link; link = &(*link)->Next) {
        if ((*link)->Settings == settings) {
            TModuleSettingsRecord* record = *link;
            *link = record->Next;
            ::HeapFree(::GetProcessHeap(), 0, record);
            return;
        }
    }
}

// A module's settings as kept in the shared list. The count is taken over from the base so the
// step to zero can happen under the list's lock: a lookup that finds the record then never gets
// an object that is being freed.
class TModuleSettings final : public TIMESettings {
public:
    explicit TModuleSettings(HMODULE module)
        : TIMESettings([module](std::vector<uint8_t>& data) { return LoadSettingsResource(module, data); },
                       &MessageBoxErrorSink(), Win32TextVariables(module)),
          FBuf(GView) {
        AddViewUser();
    }

    long AddRef() noexcept override { return FCount.fetch_add(1, std::memory_order_relaxed) + 1; }

    long Release() noexcept override {
        long count = FCount.load(std::memory_order_relaxed);
        while (count > 1)
            if (FCount.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel)) return count - 1;
        ::EnterCriticalSection(&FBuf->Lock);
        const long left = FCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) UnlinkRecord(FBuf, this);
        ::LeaveCriticalSection(&FBuf->Lock);
        if (left == 0) {
            delete this;
            ReleaseViewUser();
        }
        return left;
    }

private:
    ~TModuleSettings() override = default;

    TSharedSettingsBuf* FBuf;
    std::atomic<long> FCount{0};
};

// This module's part: its use of the shared block and the main settings, chosen once since the
// modules that carry settings are loaded with the program.
struct TModuleState {
    TModuleState() {
        GView = OpenSharedBuffer();
        if (GView)
            AddViewUser();
        else
            MessageBoxErrorSink().ShowInternalError("internal error (opening settings buffer)", "xunExcept");
    }
    ~TModuleState() {
        Main.Reset();
        if (GView) ReleaseViewUser();
    }
    TModuleState(const TModuleState&) = delete;
    TModuleState& operator=(const TModuleState&) = delete;

    std::mutex MainLock;
    TRef<IMEModuleSettings> Main;
};

TModuleState& State() {
    static TModuleState state;
    return state;
}

// Without the shared block a module gets no settings: built-in values, the crash reporter off.
TRef<IMEModuleSettings> NoSettingsObject() {
    static TRef<IMEModuleSettings> none = MakeRef<TIMESettings>(TSettingsLoader(), nullptr, nullptr);
    return none;
}

// The module's entry in the shared list, created on the first request, not yet tied to the main
// settings.
TRef<IMEModuleSettings> ModuleEntry(HMODULE module) {
    State();
    TSharedSettingsBuf* buf = GView;
    if (!buf) return NoSettingsObject();
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
    TRef<IMEModuleSettings> created(new TModuleSettings(module));
    ::EnterCriticalSection(&buf->Lock);
    found = find();
    if (!found) {
        auto* record = static_cast<TModuleSettingsRecord*>(
            ::HeapAlloc(::GetProcessHeap(), 0, sizeof(TModuleSettingsRecord)));
        if (record) {
            *record = {module, created.Get(), buf->Head};
            buf->Head = record;
        }
        found = created;
    }
    ::LeaveCriticalSection(&buf->Lock);
    return found; // a lost race frees `created` here, outside the lock
}

bool HasSettingsResource(HMODULE module) {
    return module && ::FindResourceW(module, L"TXUNEXCEPT", MAKEINTRESOURCEW(10)) != nullptr;
}

// The module's own NoSettings decides, not the value it would borrow from the main settings.
bool Usable(IMEModuleSettings& s) {
    if (!s.IsValid()) return false;
    TPropEntry e;
    if (!s.FindOwnProperty("NoSettings", e) && !FindBuiltInProperty("NoSettings", e)) return false;
    return !e.BoolValue;
}

HMODULE ToModule(TModuleId id) {
    return reinterpret_cast<HMODULE>(id);
}

TModuleId ToId(HMODULE module) {
    return reinterpret_cast<TModuleId>(module);
}

class TProcessModules : public ISettingsModules {
public:
    TModuleId Program() override { return ToId(::GetModuleHandleW(nullptr)); }
    TModuleId IdeHelper() override { return ToId(::GetModuleHandleW(L"xunExceptIde_.bpl")); }
    std::vector<TModuleId> Modules() override {
        std::vector<HMODULE> modules(256);
        for (;;) {
            DWORD needed = 0;
            if (!::EnumProcessModules(::GetCurrentProcess(), modules.data(),
                                      static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed))
                return {};
            size_t count = needed / sizeof(HMODULE);
            if (count <= modules.size() || modules.size() >= 65536) {
                modules.resize(std::min(count, modules.size()));
                break;
            }
            modules.resize(count + 16);
        }
        std::vector<TModuleId> ids;
        for (HMODULE m : modules)
            ids.push_back(ToId(m));
        return ids;
    }
    bool HasSettingsResource(TModuleId module) override { return ::HasSettingsResource(ToModule(module)); }
    bool SettingsUsable(TModuleId module) override { return Usable(*ModuleEntry(ToModule(module))); }
};

} // namespace

std::wstring SettingsBufferName(DWORD processId) {
    wchar_t name[64];
    std::swprintf(name, 64, L"xunExceptSettingsBuf%08X", static_cast<unsigned>(processId));
    return name;
}

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
    TModuleState& state = State();
    std::lock_guard guard(state.MainLock);
    if (!state.Main) {
        TProcessModules modules;
        state.Main = ModuleEntry(ToModule(ChooseMainSettingsModule(modules)));
        state.Main->SetMainSettings(nullptr);
    }
    return state.Main;
}

TRef<IMEModuleSettings> SettingsForModule(HMODULE module) {
    if (!module) module = ::GetModuleHandleW(nullptr);
    TRef<IMEModuleSettings> settings = ModuleEntry(module);
    TRef<IMEModuleSettings> main = MainSettings();
    if (main.Get() != settings.Get()) settings->SetMainSettings(main);
    return settings;
}

TRef<IMEModuleSettings> SettingsForAddress(const void* address) {
    HMODULE owner = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &owner))
        owner = nullptr;
    TProcessModules modules;
    if (TModuleId chosen = ChooseSettingsModuleForOwner(modules, ToId(owner)))
        return SettingsForModule(ToModule(chosen));
    return MainSettings();
}
