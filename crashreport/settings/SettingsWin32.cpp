// The shared list of the modules' settings and the choice of the main settings.
#include "crashreport/settings/SettingsWin32.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/base/ModulesWin32.h"
#include "crashreport/settings/SettingsSelection.h"

namespace {

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
    TKernelHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(TSharedSettingsBuf),
                                               SettingsBufferName(::GetCurrentProcessId()).c_str()));
    if (!mapping) return nullptr;
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    TMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TSharedSettingsBuf)));
    if (!view) return nullptr;
    auto* buf = static_cast<TSharedSettingsBuf*>(view.Release());
    if (!existed) {
        std::memset(buf, 0, sizeof *buf);
        ::InitializeCriticalSection(&buf->Lock);
        buf->Mapping = mapping.Release(); // closed by the last module to let go of the block
    }                                     // (else the creator's handle keeps the name)
    ++buf->RefCount;                      // under the mutex, like every change of the count
    return buf;
}

void CloseSharedBuffer(TSharedSettingsBuf* buf) {
    TSettingsMutex guard;
    TKernelHandle mapping;
    if (--buf->RefCount == 0) {
        // The last module: nobody can reach the list any more.
        ::DeleteCriticalSection(&buf->Lock);
        mapping.Reset(buf->Mapping);
    }
    TMappedView view(buf); // unmapped before the mapping is closed
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
        std::vector<TModuleId> ids;
        for (HMODULE m : ProcessModules())
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
    TProcessModules modules;
    if (TModuleId chosen = ChooseSettingsModuleForOwner(modules, ToId(ModuleOfAddress(address))))
        return SettingsForModule(ToModule(chosen));
    return MainSettings();
}
