#pragma once
// The registry of thread names, creators and creating classes that every module of the process
// carrying the crash reporter shares: anchored in the shared memory block
// "xunExceptThreadNameBuf" + process id and guarded by the mutex "xunExceptThreadNameMtx" +
// process id. Records live on the process heap, so any module's copy can read and free them.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/report/CapturedProcess.h"

struct TThreadNameRecord {
    DWORD ThreadId;
    DWORD CreatorId;
    uint64_t CreatorAddress;
    char Name[64];
    char ClassName[64];
    TThreadNameRecord* Next;
};

// The shared block: each module maps its own view and counts once while it uses it.
struct TThreadNameBuf {
    LONG RefCount;
    HANDLE Mapping; // keeps the block's name alive while any module uses it
    TThreadNameRecord* Head;
    DWORD MainThreadId;
    LONG Reserved;
};
#ifndef _WIN64
static_assert(sizeof(TThreadNameBuf) == 20);
#endif

// "xunExceptThreadNameBuf" followed by the process id as 8 upper-case hexadecimal digits.
std::wstring ThreadNameBufferName(DWORD processId);

class TThreadRegistry {
public:
    // This module's view of the process's registry; opened on first use.
    static TThreadRegistry& Instance();

    // Creates or opens the block; the module that creates it names the process's first thread
    // "main thread". False when it can be neither created nor opened.
    bool Open();
    // Leaves the block; the last module to leave frees the records.
    void Close();
    bool IsOpen() const { return FBuf != nullptr; }

    // False when the mutex could not be had within the time.
    bool Lock(DWORD timeoutMs);
    void Unlock();

    // Thread id (DWORD)-1 means the calling thread. An empty name removes the name.
    void SetName(DWORD threadId, std::string_view name);
    void SetCreator(DWORD threadId, DWORD creatorId, uint64_t creatorAddress, std::string_view className);
    void Remove(DWORD threadId);
    // While locked.
    bool Find(DWORD threadId, TThreadEntry& entry);
    DWORD MainThreadId();

private:
    TThreadNameRecord* Record(DWORD threadId, bool create);

    TKernelHandle FMutex, FMapping;
    TMappedView FView;
    TThreadNameBuf* FBuf = nullptr;
};

// The registry as the bug report reads it.
TRef<IThreadNames> Win32ThreadNames();

// The debugger convention for naming a thread (code 0x406D1388, first word 0x1000, flags 0; the
// name's address and the thread id, -1 for the calling thread, in between): enters the name into
// the registry and answers true; false for any other exception.
bool HandleThreadNamingException(const EXCEPTION_RECORD& record);
