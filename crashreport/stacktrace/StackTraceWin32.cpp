#include "crashreport/stacktrace/StackTraceWin32.h"

#include <algorithm>
#include <cstring>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/symbols/SymbolsWin32.h"

bool TProcessMemoryReader::Read(uint64_t address, void* buffer, size_t size) const {
    SIZE_T done = 0;
    return size == 0 ||
           (ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(uintptr_t(address)), buffer,
                              size, &done) &&
            done == size);
}

const uint8_t* TProcessMemoryReader::View(uint64_t address, size_t& available) const {
    available = SIZE_MAX - size_t(address);
    return reinterpret_cast<const uint8_t*>(uintptr_t(address));
}

namespace {

constexpr DWORD ReadableProtection = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE |
                                     PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// The stack copy taken while the thread was suspended, and the process behind it for code.
class TStackCopyReader : public IMemoryReader {
public:
    TStackCopyReader(uint64_t base, const std::vector<uint8_t>& copy, const IMemoryReader& process)
        : FCopy(base, copy), FProcess(process) {}
    bool Read(uint64_t address, void* buffer, size_t size) const override {
        return FCopy.Read(address, buffer, size) || FProcess.Read(address, buffer, size);
    }

private:
    TSpanMemoryReader FCopy;
    const IMemoryReader& FProcess;
};

// Most values on a stack are no code addresses: the snapshot answers for them without a read of
// the system, which would cost a system call each.
struct TCheckedProcess {
    TMemorySnapshot Snapshot;
    TProcessMemoryReader Raw;
    TCheckedMemoryReader Memory{Raw, Snapshot};
    TCheckedProcess() { TakeMemorySnapshot(Snapshot); }
};

uint64_t RegionEnd(uint64_t address) {
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(reinterpret_cast<const void*>(uintptr_t(address)), &info, sizeof info) ||
        info.State != MEM_COMMIT)
        return 0;
    return uint64_t(uintptr_t(info.BaseAddress)) + info.RegionSize;
}

void ReadRegisters(const CONTEXT& c, TStackRange& range, uint64_t& address) {
#ifdef _WIN64
    range.StackPointer = c.Rsp;
    range.FramePointer = c.Rbp;
    address = c.Rip;
#else
    range.StackPointer = c.Esp;
    range.FramePointer = c.Ebp;
    address = c.Eip;
#endif
}

void Prepare(TThreadCapture& capture, const IMemoryReader& memory, uint64_t exceptionAddress,
             const CONTEXT& context) {
    capture.Unwound = UnwindStack(context);
    std::vector<uint64_t> slots;
    for (const TUnwoundFrame& frame : capture.Unwound)
        slots.push_back(frame.Slot);
    capture.Prepared = PrepareStack(memory, capture.Range, ProcessMode, exceptionAddress, slots);
    capture.Valid = true;
}

} // namespace

void TakeMemorySnapshot(TMemorySnapshot& snapshot) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    auto at = uintptr_t(system.lpMinimumApplicationAddress);
    const auto end = uintptr_t(system.lpMaximumApplicationAddress);
    MEMORY_BASIC_INFORMATION info;
    while (at < end && VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info)) {
        const auto base = uintptr_t(info.BaseAddress);
        if (info.State == MEM_COMMIT && (info.Protect & ReadableProtection) && !(info.Protect & PAGE_GUARD))
            snapshot.Add(base, base + info.RegionSize, info.Type == MEM_IMAGE,
                         (info.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                                          PAGE_EXECUTE_WRITECOPY)) != 0);
        if (base + info.RegionSize <= at) break;
        at = base + info.RegionSize;
    }
}

std::vector<TUnwoundFrame> UnwindStack(const CONTEXT& context, size_t maxFrames) {
    std::vector<TUnwoundFrame> frames;
#ifdef _WIN64
    CONTEXT c = context;
    const uint64_t top = RegionEnd(c.Rsp);
    TProcessMemoryReader memory;
    while (frames.size() < maxFrames && c.Rip && c.Rsp < top) {
        DWORD64 base = 0;
        PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(c.Rip, &base, nullptr);
        const uint64_t before = c.Rsp;
        uint64_t slot;
        if (entry) {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, c.Rip, entry, &c, &handlerData, &establisher, nullptr);
            slot = c.Rsp - 8;
        } else {
            // A leaf function: the return address is at the stack pointer.
            slot = c.Rsp;
            if (!memory.Read(slot, &c.Rip, 8)) break;
            c.Rsp += 8;
        }
        if (c.Rsp <= before || c.Rip == 0) break;
        frames.push_back({c.Rip, slot});
    }
#else
    (void)context;
    (void)maxFrames;
#endif
    return frames;
}

bool CaptureContext(const CONTEXT& context, TThreadCapture& capture, uint64_t exceptionAddress) {
    capture = TThreadCapture();
    ReadRegisters(context, capture.Range, capture.Address);
    if (exceptionAddress) capture.Address = exceptionAddress;
    capture.Range.StackTop = RegionEnd(capture.Range.StackPointer);
    if (!capture.Range.StackTop) return false;
    TCheckedProcess process;
    Prepare(capture, process.Memory, exceptionAddress, context);
    return true;
}

__attribute__((noinline)) bool CaptureThread(DWORD threadId, TThreadCapture& capture) {
    capture = TThreadCapture();
    if (threadId == GetCurrentThreadId()) {
        // The caller's context at its call of this function (what 32-bit RtlCaptureContext gives
        // by itself; 64-bit code takes one step back with the unwinder).
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_FULL;
        RtlCaptureContext(&context);
#ifdef _WIN64
        DWORD64 base = 0;
        if (PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(context.Rip, &base, nullptr)) {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, entry, &context, &handlerData,
                             &establisher, nullptr);
        }
#endif
        return CaptureContext(context, capture, 0);
    }
    TKernelHandle thread(
        OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, threadId));
    if (!thread) return false;
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_FULL;
    // First look: how big is the stack. Nothing is allocated while the thread is held: it may
    // own the heap's lock.
    if (SuspendThread(thread.Get()) == DWORD(-1)) return false;
    BOOL got = GetThreadContext(thread.Get(), &context);
    ResumeThread(thread.Get());
    if (!got) return false;
    ReadRegisters(context, capture.Range, capture.Address);
    capture.Range.StackTop = RegionEnd(capture.Range.StackPointer);
    if (!capture.Range.StackTop) return false;
    const uint64_t regionBase = capture.Range.StackPointer & ~uint64_t(0xFFF);
    std::vector<uint8_t> copy(size_t(capture.Range.StackTop - regionBase) + 0x10000);
    TCheckedProcess process;
    // Second look: context and stack at the same moment.
    if (SuspendThread(thread.Get()) == DWORD(-1)) return false;
    got = GetThreadContext(thread.Get(), &context);
    bool copied = false;
    uint64_t copyBase = 0;
    if (got) {
        ReadRegisters(context, capture.Range, capture.Address);
        copyBase = capture.Range.StackPointer;
        const uint64_t size = capture.Range.StackTop - copyBase;
        SIZE_T done = 0;
        copied = copyBase < capture.Range.StackTop && size <= copy.size() &&
                 ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(uintptr_t(copyBase)),
                                   copy.data(), size_t(size), &done) &&
                 done == size;
        if (copied) copy.resize(size_t(size));
    }
    ResumeThread(thread.Get());
    if (!copied) return false;
    TStackCopyReader memory(copyBase, copy, process.Memory);
    Prepare(capture, memory, 0, context);
    return true;
}

__attribute__((noinline)) void CaptureCallerContext(CONTEXT& context) {
    context = CONTEXT();
    context.ContextFlags = CONTEXT_FULL;
#ifdef _WIN64
    RtlCaptureContext(&context);
    for (int step = 0; step < 2; ++step) {
        DWORD64 base = 0;
        PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(context.Rip, &base, nullptr);
        if (!entry) break;
        void* handlerData = nullptr;
        DWORD64 establisher = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, entry, &context, &handlerData, &establisher,
                         nullptr);
    }
#else
    // Our code keeps frame pointers: the caller's frame tells where its caller stands.
    auto* own = static_cast<uintptr_t*>(__builtin_frame_address(0));
    auto* frame = reinterpret_cast<uintptr_t*>(own[0]);
    context.Eip = DWORD(frame[1]);
    context.Esp = DWORD(uintptr_t(frame) + 8);
    context.Ebp = DWORD(frame[0]);
#endif
}

TStackTraceCache& ProcessStackTraces() {
    static TStackTraceCache cache(ProcessSymbolPlatform(), ProcessSymbols(),
                                  uint64_t(uintptr_t(GetModuleHandleW(nullptr))));
    return cache;
}

TTraceResult TraceCapture(const TThreadCapture& capture, TTraceRequest request) {
    TMemorySnapshot snapshot;
    TakeMemorySnapshot(snapshot);
    TProcessMemoryReader memory;
    request.Mode = ProcessMode;
    request.Range = capture.Range;
    request.CurrentAddress = capture.Address;
    request.Prepared = capture.Valid ? &capture.Prepared : nullptr;
    return ProcessStackTraces().Trace(memory, snapshot, request);
}
