#include "crashreport/threads/ThreadHooksWin32.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <new>
#include <process.h>
#include <string_view>
#include <vector>

#include "crashreport/symbols/SymbolsWin32.h"
#include "crashreport/threads/ThreadRegistryWin32.h"

namespace {

struct TImportPatch {
    void** Slot;
    void* Old;
};

std::mutex PatchLock;
std::vector<TImportPatch> Patches;
DWORD HookedSlot = TLS_OUT_OF_INDEXES;

bool WriteSlot(void** slot, void* value) {
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return true;
}

// The import address slot of dll!function in module, or null. Imports bound without their name
// table cannot be told apart and are left alone.
void** ImportSlot(HMODULE module, const char* dll, const char* function) {
    auto* base = reinterpret_cast<uint8_t*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return nullptr;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        if (_stricmp(reinterpret_cast<const char*>(base + d->Name), dll) != 0 || !d->OriginalFirstThunk)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

// The entry points as the patched slots held them (the import stubs of this module would lead
// back through its own patched slots).
decltype(&CreateThread) RealCreateThread;
decltype(&CreateRemoteThread) RealCreateRemoteThread;
decltype(&QueueUserWorkItem) RealQueueUserWorkItem;
using TBeginThreadEx = uintptr_t(__cdecl*)(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned,
                                           unsigned*);
using TBeginThread = uintptr_t(__cdecl*)(void(__cdecl*)(void*), unsigned, void*);
TBeginThreadEx RealBeginThreadEx;
TBeginThread RealBeginThread;

// The routines of the runtime that start a thread for the program: the creation address is the
// program's call into them.
bool IsThreadStartRoutine(std::string_view name) {
    for (const char* prefix : {"pthread_create", "std::thread::_M_start_thread", "_beginthread", "__gthread"})
        if (name.substr(0, std::strlen(prefix)) == prefix) return true;
    return false;
}

uint64_t CreationAddress(void* returnAddress) {
    void* frames[12];
    const USHORT n = RtlCaptureStackBackTrace(0, 12, frames, nullptr);
    uint64_t chosen = uint64_t(uintptr_t(returnAddress));
    bool passed = false;
    for (USHORT i = 0; i < n; ++i) {
        if (!passed) {
            passed = frames[i] == returnAddress;
            if (!passed) continue;
        }
        const TAddressInfo info = AddressInfo(frames[i]);
        chosen = uint64_t(uintptr_t(frames[i]));
        if (!info.Valid || !IsThreadStartRoutine(info.FunctionName)) break;
    }
    return chosen;
}

struct TThreadStart {
    enum { Plain, Runtime, RuntimeCdecl, WorkItem } Kind;
    void* Proc;
    void* Param;
    DWORD Creator;
    uint64_t Address;
};

TThreadStart* Describe(decltype(TThreadStart::Kind) kind, void* proc, void* param, void* returnAddress) {
    return new (std::nothrow)
        TThreadStart{kind, proc, param, GetCurrentThreadId(), CreationAddress(returnAddress)};
}

// Runs on the new thread: registered first, then its own procedure.
DWORD Run(TThreadStart* start) {
    const TThreadStart s = *start;
    delete start;
    TThreadRegistry::Instance().SetCreator(GetCurrentThreadId(), s.Creator, s.Address, "");
    if (s.Kind != TThreadStart::WorkItem && HookedSlot != TLS_OUT_OF_INDEXES)
        TlsSetValue(HookedSlot, &HookedSlot);
    switch (s.Kind) {
    case TThreadStart::Runtime:
        return reinterpret_cast<unsigned(__stdcall*)(void*)>(s.Proc)(s.Param);
    case TThreadStart::RuntimeCdecl:
        reinterpret_cast<void(__cdecl*)(void*)>(s.Proc)(s.Param);
        return 0;
    default:
        return reinterpret_cast<LPTHREAD_START_ROUTINE>(s.Proc)(s.Param);
    }
}

DWORD WINAPI StartThread(void* start) {
    return Run(static_cast<TThreadStart*>(start));
}
unsigned __stdcall StartRuntimeThread(void* start) {
    return Run(static_cast<TThreadStart*>(start));
}
void __cdecl StartRuntimeCdeclThread(void* start) {
    Run(static_cast<TThreadStart*>(start));
}

HANDLE WINAPI HookCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE proc,
                               LPVOID param, DWORD flags, LPDWORD id) {
    TThreadStart* start =
        Describe(TThreadStart::Plain, reinterpret_cast<void*>(proc), param, __builtin_return_address(0));
    if (!start) return RealCreateThread(security, stack, proc, param, flags, id);
    HANDLE thread = RealCreateThread(security, stack, StartThread, start, flags, id);
    if (!thread) delete start;
    return thread;
}

HANDLE WINAPI HookCreateRemoteThread(HANDLE process, LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                     LPTHREAD_START_ROUTINE proc, LPVOID param, DWORD flags, LPDWORD id) {
    // Only a thread of this process runs code of ours.
    TThreadStart* start =
        GetProcessId(process) == GetCurrentProcessId()
            ? Describe(TThreadStart::Plain, reinterpret_cast<void*>(proc), param, __builtin_return_address(0))
            : nullptr;
    if (!start) return RealCreateRemoteThread(process, security, stack, proc, param, flags, id);
    HANDLE thread = RealCreateRemoteThread(process, security, stack, StartThread, start, flags, id);
    if (!thread) delete start;
    return thread;
}

BOOL WINAPI HookQueueUserWorkItem(LPTHREAD_START_ROUTINE proc, PVOID param, ULONG flags) {
    TThreadStart* start =
        Describe(TThreadStart::WorkItem, reinterpret_cast<void*>(proc), param, __builtin_return_address(0));
    if (!start) return RealQueueUserWorkItem(proc, param, flags);
    const BOOL queued = RealQueueUserWorkItem(StartThread, start, flags);
    if (!queued) delete start;
    return queued;
}

uintptr_t __cdecl HookBeginThreadEx(void* security, unsigned stack, unsigned(__stdcall* proc)(void*),
                                    void* param, unsigned flags, unsigned* id) {
    TThreadStart* start =
        Describe(TThreadStart::Runtime, reinterpret_cast<void*>(proc), param, __builtin_return_address(0));
    if (!start) return RealBeginThreadEx(security, stack, proc, param, flags, id);
    const uintptr_t thread = RealBeginThreadEx(security, stack, StartRuntimeThread, start, flags, id);
    if (!thread) delete start;
    return thread;
}

uintptr_t __cdecl HookBeginThread(void(__cdecl* proc)(void*), unsigned stack, void* param) {
    TThreadStart* start = Describe(TThreadStart::RuntimeCdecl, reinterpret_cast<void*>(proc), param,
                                   __builtin_return_address(0));
    if (!start) return RealBeginThread(proc, stack, param);
    const uintptr_t thread = RealBeginThread(StartRuntimeCdeclThread, stack, start);
    if (thread == uintptr_t(-1)) delete start;
    return thread;
}

template <class T>
void Patch(HMODULE module, std::initializer_list<const char*> dlls, const char* function, T hook, T& real) {
    for (const char* dll : dlls) {
        void** slot = ImportSlot(module, dll, function);
        if (!slot || *slot == reinterpret_cast<void*>(hook)) continue;
        void* old = *slot;
        if (!real) real = reinterpret_cast<T>(old);
        if (WriteSlot(slot, reinterpret_cast<void*>(hook))) Patches.push_back({slot, old});
    }
}

} // namespace

void InstallThreadHooks(HMODULE module) {
    std::lock_guard<std::mutex> guard(PatchLock);
    if (HookedSlot == TLS_OUT_OF_INDEXES) HookedSlot = TlsAlloc();
    const auto kernel = {"kernel32.dll", "api-ms-win-core-processthreads-l1-1-0.dll"};
    const auto runtime = {"msvcrt.dll", "ucrtbase.dll", "api-ms-win-crt-runtime-l1-1-0.dll"};
    Patch(module, kernel, "CreateThread", HookCreateThread, RealCreateThread);
    Patch(module, kernel, "CreateRemoteThread", HookCreateRemoteThread, RealCreateRemoteThread);
    Patch(module, {"kernel32.dll"}, "QueueUserWorkItem", HookQueueUserWorkItem, RealQueueUserWorkItem);
    Patch(module, runtime, "_beginthreadex", HookBeginThreadEx, RealBeginThreadEx);
    Patch(module, runtime, "_beginthread", HookBeginThread, RealBeginThread);
}

void RemoveThreadHooks() {
    std::lock_guard<std::mutex> guard(PatchLock);
    for (auto it = Patches.rbegin(); it != Patches.rend(); ++it)
        WriteSlot(it->Slot, it->Old);
    Patches.clear();
}

bool IsHookedThread() {
    return HookedSlot != TLS_OUT_OF_INDEXES && TlsGetValue(HookedSlot) != nullptr;
}
