#pragma once
// The seam between the bug report and the stack tracer: the report prepares a thread's stack
// when its section is created and has it traced later, in the background.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crashreport/base/RefCounted.h"
#include "crashreport/report/StackLines.h"

class ISymbolResolver;
class ILineSource;

// One listed thread, as the tracer needs it.
struct TThreadStackRecord {
    uint32_t ThreadId = 0;
    std::string Title;
    bool Crashed = false;
    bool OsException = false;      // an operating-system exception rather than a language one
    bool Termination = false;      // a runtime-termination exception
    uint64_t ExceptionAddress = 0; // crashed thread only
    uint64_t CurrentAddress = 0;   // where the thread is (its instruction pointer, or the exception address)
    uint64_t StackPointer = 0;
    uint64_t FramePointer = 0;
    uint64_t StackTop = 0; // end of the memory region that holds the stack pointer
    uint32_t CreatorId = 0;
    uint64_t CreatorAddress = 0;
    std::vector<uint8_t> PreparedStack; // opaque to the report
};

struct TTraceOptions {
    bool HideUglyItems = false;
    bool ShowRelAddrs = true;
    bool ShowRelLines = true;
};

struct TStackTrace {
    std::vector<TStackLine> Lines;  // innermost first; with a creator, its item is the last
    std::string Error;              // ">> internal error in ..." when the trace failed
    uint64_t ExceptionFunction = 0; // the function holding the exception location, for "disassembling"
    bool ExceptionFunctionKnown = false;
    std::vector<std::string> MinimalDebugInfo; // functions named from symbol data
};

class IStackTracer : public IRefCounted {
public:
    // Captures what the thread's stack holds now, while it may still run on.
    virtual std::vector<uint8_t> PrepareStack(const TThreadStackRecord& thread) = 0;
    // Traces a prepared thread; stops early when abort is set; progress in thousandths.
    virtual TStackTrace TraceStack(const TThreadStackRecord& thread, const TTraceOptions& options,
                                   const std::atomic<bool>& abort,
                                   const std::function<void(int)>& progress) = 0;
    // One code address resolved to module, unit, line and function.
    virtual TStackLine Locate(uint64_t address) = 0;
    // Names and lines for the "disassembling" listing; may be null.
    virtual const ISymbolResolver* Symbols() = 0;
    virtual const ILineSource* Lines() = 0;
};
