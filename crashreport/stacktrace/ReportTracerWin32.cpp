#include "crashreport/stacktrace/ReportTracerWin32.h"

#include "crashreport/base/ModulesWin32.h"
#include "crashreport/report/ReportWin32.h"
#include "crashreport/stacktrace/StackTraceWin32.h"
#include "crashreport/symbols/SymbolsWin32.h"
#include "crashreport/threads/ThreadRegistryWin32.h"
#include "crashreport/x86/FunctionListing.h"
#include "framework/Win32Util.h"

namespace {

// Names and lines of the process's code for the disassembly.
class TProcessNames : public ISymbolResolver, public ILineSource {
public:
    bool NameAt(uint64_t address, std::string& name) const override {
        TAddressInfo info = AddressInfo(reinterpret_cast<const void*>(uintptr_t(address)));
        if (!info.Valid || info.FunctionStart != address || info.FunctionName.empty()) return false;
        name = info.FunctionName;
        return true;
    }
    int LineAt(uint64_t address) const override {
        return AddressInfo(reinterpret_cast<const void*>(uintptr_t(address))).Line;
    }
};

TStackLine ToStackLine(const TTraceLine& t) {
    TStackLine line;
    line.Address = t.Address;
    line.FunctionStart = t.FunctionStart;
    line.FunctionStartKnown = t.FunctionStartKnown;
    line.Module = t.Module;
    line.Unit = t.Unit;
    line.Line = t.Line;
    line.RelLine = t.RelLine;
    line.RelLineKnown = t.RelLineKnown;
    line.Function = t.Function;
    return line;
}

class TWin32StackTracer : public TRefCountedImpl<IStackTracer> {
public:
    std::vector<uint8_t> PrepareStack(const TThreadStackRecord& thread) override {
        TStackRange range{thread.StackPointer, thread.StackTop, thread.FramePointer};
        std::vector<uint64_t> slots;
#ifdef _WIN64
        // The unwinder needs the instruction, stack and frame pointer; the other registers it
        // restores from the frames it walks.
        CONTEXT context = {};
        context.Rip = thread.CurrentAddress;
        context.Rsp = thread.StackPointer;
        context.Rbp = thread.FramePointer;
        for (const TUnwoundFrame& frame : UnwindStack(context))
            slots.push_back(frame.Slot);
#endif
        // Checked against a snapshot first: most stack values are no code addresses, and a read
        // of the system for each would cost a system call.
        TMemorySnapshot snapshot;
        TakeMemorySnapshot(snapshot);
        TProcessMemoryReader raw;
        TCheckedMemoryReader memory(raw, snapshot);
        return ::PrepareStack(memory, range, ProcessMode, thread.Crashed ? thread.ExceptionAddress : 0,
                              slots);
    }

    TStackTrace TraceStack(const TThreadStackRecord& thread, const TTraceOptions& options,
                           const std::atomic<bool>& abort,
                           const std::function<void(int)>& progress) override {
        TThreadCapture capture;
        capture.Valid = true;
        capture.Range = {thread.StackPointer, thread.StackTop, thread.FramePointer};
        capture.Address =
            thread.Crashed && thread.ExceptionAddress ? thread.ExceptionAddress : thread.CurrentAddress;
        capture.Prepared = thread.PreparedStack;
        TTraceRequest request;
        request.CreatorAddress = thread.CreatorAddress;
        request.HideUglyItems = options.HideUglyItems;
        request.ShowRelativeLines = options.ShowRelLines;
        request.IsException = thread.Crashed && thread.ExceptionAddress != 0;
        request.Abort = &abort;
        request.Progress = progress;
        TTraceResult result = TraceCapture(capture, request);
        TStackTrace trace;
        trace.Error = result.Error;
        for (const TTraceLine& line : result.Lines)
            trace.Lines.push_back(ToStackLine(line));
        trace.ExceptionFunction = result.ExceptionFunction;
        trace.ExceptionFunctionKnown = result.ExceptionFunction != 0;
        for (const TMinDebugInfo::TItem& named : result.Named) {
            trace.MinimalDebugInfo.push_back(named.Name);
            MinimalDebugInfo().Add(named.Name, named.Module);
        }
        return trace;
    }

    TStackLine Locate(uint64_t address) override {
        TStackLine line;
        line.Address = address;
        line.Module = "???";
        TAddressInfo info = AddressInfo(reinterpret_cast<const void*>(uintptr_t(address)));
        if (info.Valid) {
            line.Module = info.ModuleName;
            line.Unit = info.UnitName;
            line.Line = info.Line;
            line.Function = info.FunctionName;
            line.FunctionStart = info.FunctionStart;
            line.FunctionStartKnown = info.FunctionStart != 0;
        } else if (HMODULE module = ModuleOfAddress(reinterpret_cast<const void*>(uintptr_t(address)))) {
            std::wstring path = ModulePath(module);
            line.Module = Narrow(path.substr(path.find_last_of(L"\\/") + 1));
        }
        return line;
    }

    const ISymbolResolver* Symbols() override {
        return &FNames;
    }
    const ILineSource* Lines() override {
        return &FNames;
    }

private:
    TProcessNames FNames;
};

} // namespace

TRef<IStackTracer> Win32StackTracer() {
    static TRef<IStackTracer> tracer = MakeRef<TWin32StackTracer>();
    return tracer;
}

TRef<TBugReport> ProcessBugReport(TReportException e, TRef<IMESettings> settings, HMODULE module,
                                  std::vector<uint32_t> excludedThreads, TRef<IStackTracer> tracer) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    e.Created = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    TReportSources sources;
    sources.Settings = std::move(settings);
    sources.Facts = Win32SystemFacts(module);
    sources.Process = CaptureCurrentProcess(TThreadRegistry::Instance().MainThreadId());
    sources.Tracer = tracer ? std::move(tracer) : Win32StackTracer();
    sources.ThreadNames = Win32ThreadNames();
    sources.ExcludedThreads = std::move(excludedThreads);
    return MakeRef<TBugReport>(e, sources);
}
