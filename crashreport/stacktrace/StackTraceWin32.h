#pragma once
// The stack tracer in the running process: its memory, its modules, its threads.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "crashreport/stacktrace/StackTrace.h"

constexpr TX86Mode ProcessMode = sizeof(void*) == 8 ? TX86Mode::Bits64 : TX86Mode::Bits32;

// Reads of this process's memory that fail instead of faulting; the direct view is only handed
// out through TCheckedMemoryReader, after the snapshot said the memory is there.
class TProcessMemoryReader : public IMemoryReader {
public:
    bool Read(uint64_t address, void* buffer, size_t size) const override;
    const uint8_t* View(uint64_t address, size_t& available) const override;
};

void TakeMemorySnapshot(TMemorySnapshot& snapshot);

// A thread's stack as captured at one moment.
struct TThreadCapture {
    bool Valid = false;
    TStackRange Range;
    uint64_t Address = 0; // where the thread is (the exception address for a faulting thread)
    std::vector<uint8_t> Prepared;
    struct TUnwoundFrame {
        uint64_t ReturnAddress = 0;
        uint64_t Slot = 0;
    };
    std::vector<TUnwoundFrame> Unwound; // the system unwinder's walk (64-bit), innermost first
};

// Another thread of the process: suspended while its context and stack are taken. The calling
// thread: its context at the call of this function (the trace starts at the caller).
bool CaptureThread(DWORD threadId, TThreadCapture& capture);
// The context of the function that called the caller of this one, as it was at that call: what a
// catch point reports for the place that handed it the exception.
void CaptureCallerContext(CONTEXT& context);
// A thread stopped in an exception, from the exception's context.
bool CaptureContext(const CONTEXT& context, TThreadCapture& capture, uint64_t exceptionAddress);

// The system unwinder's walk of a stack from a context (64-bit; empty in 32-bit code): the
// return addresses and the slots that held them, innermost first.
using TUnwoundFrame = TThreadCapture::TUnwoundFrame;
std::vector<TUnwoundFrame> UnwindStack(const CONTEXT& context, size_t maxFrames = 256);

TStackTraceCache& ProcessStackTraces();

// Traces a captured thread with the process-wide caches and a fresh snapshot.
TTraceResult TraceCapture(const TThreadCapture& capture, TTraceRequest request);
