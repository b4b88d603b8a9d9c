#include "crashreport/threads/ThreadRegistryWin32.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>

#include "crashreport/base/Text.h"

namespace {

std::wstring Suffixed(const char* name, DWORD processId) {
    std::string s = name + Hex(processId, 8);
    return std::wstring(s.begin(), s.end());
}

void CopyText(char (&to)[64], std::string_view from) {
    const size_t n = std::min(from.size(), sizeof to - 1);
    std::memcpy(to, from.data(), n);
    to[n] = 0;
}

// The process's first thread: the first one the system lists for it.
DWORD FirstThreadId() {
    TFileHandle snap(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 te{};
    te.dwSize = sizeof te;
    const DWORD pid = ::GetCurrentProcessId();
    if (snap)
        for (BOOL ok = ::Thread32First(snap.Get(), &te); ok; ok = ::Thread32Next(snap.Get(), &te))
            if (te.th32OwnerProcessID == pid) return te.th32ThreadID;
    return ::GetCurrentThreadId();
}

class TWin32ThreadNames : public TRefCountedImpl<IThreadNames> {
public:
    bool Lock(int timeoutMs) override {
        TThreadRegistry& r = TThreadRegistry::Instance();
        return (r.IsOpen() || r.Open()) && r.Lock(DWORD(timeoutMs));
    }
    void Unlock() override { TThreadRegistry::Instance().Unlock(); }
    bool Find(uint32_t threadId, TThreadEntry& entry) override {
        return TThreadRegistry::Instance().Find(threadId, entry);
    }
};

} // namespace

std::wstring ThreadNameBufferName(DWORD processId) {
    return Suffixed("xunExceptThreadNameBuf", processId);
}

TThreadRegistry& TThreadRegistry::Instance() {
    static TThreadRegistry registry;
    return registry;
}

bool TThreadRegistry::Open() {
    if (FBuf) return true;
    const DWORD pid = ::GetCurrentProcessId();
    // Open to everyone: other modules of the process may run under other security contexts.
    SECURITY_DESCRIPTOR sd;
    ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    FMutex.Reset(::CreateMutexW(&sa, FALSE, Suffixed("xunExceptThreadNameMtx", pid).c_str()));
    if (!FMutex) return false;
    // The mutex also makes creating and initialising the block one step.
    if (::WaitForSingleObject(FMutex.Get(), 5000) == WAIT_TIMEOUT) return false;
    FMapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, sizeof(TThreadNameBuf),
                                        ThreadNameBufferName(pid).c_str()));
    const bool created = FMapping && ::GetLastError() != ERROR_ALREADY_EXISTS;
    if (FMapping)
        FView.Reset(::MapViewOfFile(FMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TThreadNameBuf)));
    if (FView) {
        FBuf = static_cast<TThreadNameBuf*>(FView.Get());
        if (created) {
            std::memset(FBuf, 0, sizeof *FBuf);
            FBuf->Mapping = FMapping.Get();
            FBuf->MainThreadId = FirstThreadId();
        }
        ++FBuf->RefCount;
        if (created) SetName(FBuf->MainThreadId, "main thread");
    }
    ::ReleaseMutex(FMutex.Get());
    return FBuf != nullptr;
}

void TThreadRegistry::Close() {
    if (!FBuf) return;
    ::WaitForSingleObject(FMutex.Get(), INFINITE);
    if (--FBuf->RefCount == 0) {
        for (TThreadNameRecord* r = FBuf->Head; r;) {
            TThreadNameRecord* next = r->Next;
            ::HeapFree(::GetProcessHeap(), 0, r);
            r = next;
        }
        FBuf->Head = nullptr;
    }
    FBuf = nullptr;
    FView.Reset();
    FMapping.Reset();
    ::ReleaseMutex(FMutex.Get());
    FMutex.Reset();
}

bool TThreadRegistry::Lock(DWORD timeoutMs) {
    if (!FBuf) return false;
    const DWORD r = ::WaitForSingleObject(FMutex.Get(), timeoutMs);
    // An owner that died leaves the list as it was between two whole updates.
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

void TThreadRegistry::Unlock() {
    ::ReleaseMutex(FMutex.Get());
}

TThreadNameRecord* TThreadRegistry::Record(DWORD threadId, bool create) {
    for (TThreadNameRecord* r = FBuf->Head; r; r = r->Next)
        if (r->ThreadId == threadId) return r;
    if (!create) return nullptr;
    auto* r = static_cast<TThreadNameRecord*>(
        ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TThreadNameRecord)));
    if (!r) return nullptr;
    r->ThreadId = threadId;
    r->Next = FBuf->Head;
    FBuf->Head = r;
    return r;
}

void TThreadRegistry::SetName(DWORD threadId, std::string_view name) {
    if (threadId == DWORD(-1)) threadId = ::GetCurrentThreadId();
    if ((!FBuf && !Open()) || !Lock(INFINITE)) return;
    if (TThreadNameRecord* r = Record(threadId, !name.empty())) CopyText(r->Name, name);
    Unlock();
}

void TThreadRegistry::SetCreator(DWORD threadId, DWORD creatorId, uint64_t creatorAddress,
                                 std::string_view className) {
    if (threadId == DWORD(-1)) threadId = ::GetCurrentThreadId();
    if ((!FBuf && !Open()) || !Lock(INFINITE)) return;
    if (TThreadNameRecord* r = Record(threadId, true)) {
        r->CreatorId = creatorId;
        r->CreatorAddress = creatorAddress;
        CopyText(r->ClassName, className);
    }
    Unlock();
}

void TThreadRegistry::Remove(DWORD threadId) {
    if (!FBuf || !Lock(INFINITE)) return;
    for (TThreadNameRecord** p = &FBuf->Head; *p; p = &(*p)->Next)
        if ((*p)->ThreadId == threadId) {
            TThreadNameRecord* gone = *p;
            *p = gone->Next;
            ::HeapFree(::GetProcessHeap(), 0, gone);
            break;
        }
    Unlock();
}

bool TThreadRegistry::Find(DWORD threadId, TThreadEntry& entry) {
    if (!FBuf) return false;
    TThreadNameRecord* r = Record(threadId, false);
    if (!r) return false;
    entry.Name = r->Name;
    entry.ClassName = r->ClassName;
    entry.CreatorId = r->CreatorId;
    entry.CreatorAddress = r->CreatorAddress;
    return true;
}

DWORD TThreadRegistry::MainThreadId() {
    return FBuf || Open() ? FBuf->MainThreadId : 0;
}

TRef<IThreadNames> Win32ThreadNames() {
    return MakeRef<TWin32ThreadNames>();
}

bool HandleThreadNamingException(const EXCEPTION_RECORD& record) {
    if (record.ExceptionCode != 0x406D1388 || record.NumberParameters < 3) return false;
    const ULONG_PTR* info = record.ExceptionInformation;
#ifdef _WIN64
    // The record's 4-byte id and flags share the third 8-byte word.
    const DWORD threadId = DWORD(info[2]), flags = DWORD(info[2] >> 32);
#else
    const DWORD threadId = DWORD(info[2]), flags = record.NumberParameters >= 4 ? DWORD(info[3]) : 0;
#endif
    if (DWORD(info[0]) != 0x1000 || flags != 0) return false;
    // The name comes from whoever raised it: read it so that a bad pointer fails instead of faulting.
    char name[64] = {};
    size_t n = 0;
    SIZE_T done = 0;
    while (n < sizeof name - 1 &&
           ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const char*>(info[1]) + n, &name[n], 1,
                               &done) &&
           done == 1 && name[n] != 0)
        ++n;
    name[n] = 0;
    TThreadRegistry::Instance().SetName(threadId, std::string_view(name, n));
    return true;
}
