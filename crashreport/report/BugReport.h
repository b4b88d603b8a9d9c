#pragma once
// One exception's bug report: the header fields, the sections with their placeholders, the
// background completion that replaces them one by one, the callstack checksums and the rendered
// text. Portable: the system, the process, the thread registry and the tracer come in through
// interfaces (CapturedProcess.h, StackTracer.h); how completion runs in the background is the
// runner's business (BugReportWin32.h).
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/base/RefCounted.h"
#include "crashreport/report/CapturedProcess.h"
#include "crashreport/report/Fields.h"
#include "crashreport/report/Plugins.h"
#include "crashreport/report/StackTracer.h"
#include "crashreport/settings/Settings.h"

enum class TExceptionKind : uint8_t { Normal = 0, Frozen = 1, Hidden = 2 };

struct TReportException {
    TExceptionKind Kind = TExceptionKind::Normal;
    std::string ClassName; // empty: "Unknown"
    std::string Message;
    uint64_t Address = 0;
    uint32_t CrashedThreadId = 0;
    bool HasContext = false;
    TCpuContext Context;
    uint64_t CatchStackPointer = 0, CatchFramePointer = 0; // when there is no context
    bool OsException = false;
    bool Termination = false;
    TLocalTime Created; // local time the exception object was made
};

struct TReportSources {
    TRef<IMESettings> Settings;
    TRef<ISystemFacts> Facts;
    TRef<ICapturedProcess> Process;
    TRef<IStackTracer> Tracer;                     // may be null: no stacks, no disassembly
    TRef<IThreadNames> ThreadNames;                // may be null: every thread unnamed
    TPluginRegistry* Plugins = nullptr;            // null: the process's registry
    std::vector<uint32_t> ExcludedThreads;         // the worker and the watchdog, never listed
    std::function<uint64_t()> NextExceptionNumber; // null: the process's counter
};

// The part of the progress window that completion drives.
class IReportProgress {
public:
    virtual ~IReportProgress() = default;
    virtual void AddStage(const std::string& text, uint64_t weight) = 0;
    virtual void StageDone() = 0;
    virtual void SetStagePosition(int32_t position) = 0;
};

class TBugReport;

// How completion runs: on a thread of its own, or on the caller with the please-wait window.
class ICompletionRunner : public IRefCounted {
public:
    // The sections have just been composed.
    virtual void Start(TBugReport& report) = 0;
    // Returns once the report is complete (or aborted).
    virtual void Wait(TBugReport& report) = 0;
};

// The process's exception counter: 1 for the first exception.
uint64_t NextProcessExceptionNumber();

// The report's text: the header aligned on the longest field name, then each section.
std::string RenderReport(IMEFields& header, IMEFields& sections);

class TBugReport : public TRefCountedImpl<IRefCounted> {
public:
    TBugReport(TReportException exception, TReportSources sources);

    // Composed on first access.
    TRef<IMEFields> Header();
    // Composed on first access, which also starts the completion unless it is deferred.
    TRef<IMEFields> Sections();
    void SetRunner(TRef<ICompletionRunner> runner);
    void SetDeferCompletion(bool defer) { FDefer = defer; }

    // Runs the next step of the completion; false when none is left (or it was aborted).
    bool StepCompletion(IReportProgress* progress = nullptr);
    // Runs every step that is left on this thread.
    void RunCompletion(IReportProgress* progress = nullptr);
    bool IsComplete() const { return FComplete.load(); }
    // Asks the completion to stop between steps; the placeholders left stay.
    void Abort() { FAbort = true; }
    bool AbortRequested() const { return FAbort.load(); }
    const std::atomic<bool>& AbortFlag() const { return FAbort; }
    // Weights of the progress areas, one per listed thread in step order: stack top minus
    // stack pointer.
    std::vector<uint64_t> ProgressWeights();

    // The rendered text; with complete, after waiting for the completion. A text set by
    // SetReportText (the dialog's editor) stays the report's text from then on.
    std::string ReportText(bool complete);
    void SetReportText(std::string text);

    // Change events are held back while locked and raised once at the last unlock.
    void LockChanges();
    void UnlockChanges();
    void SetOnChange(std::function<void()> onChange);
    // Called once when the last placeholder has been replaced (the flow's phase 4).
    void SetOnComplete(std::function<void()> onComplete);

    // The three callstack checksums; valid once the first thread's stack is traced.
    std::array<uint32_t, 3> Checksums();
    // The functions the traces named from symbol data.
    std::vector<std::string> MinimalDebugInfo();
    const TReportException& Exception() const { return FException; }
    IMESettings& Settings() { return *FSources.Settings; }
    int AddressDigits();

    // The text variables, with the exception message and this report's text.
    std::string ExpandVariables(ITextVariableSource* source, std::string_view text);

protected:
    ~TBugReport() override;

private:
    struct TThreadSection {
        TThreadStackRecord Record;
        std::string Title;
        bool Accessible = false;
        uint32_t Checksum = 0;
        bool HasLines = false;
    };
    enum class TStepKind { Thread, CpuRegisters, StackDump, DisAsm, Plugin };
    struct TStep {
        TStepKind Kind;
        size_t Index; // thread or plug-in
    };

    void ComposeHeader();
    void ComposeSections();
    void AddThreadSection(uint32_t id, bool crashed);
    std::string CreatorTitle(uint32_t creatorId);
    std::string LocationText(uint64_t address);
    void Replace(const std::string& title, const std::string& contents);
    void RunStep(const TStep& step, IReportProgress* progress);
    void TraceThread(TThreadSection& thread, IReportProgress* progress);
    void Finish();
    void FieldsChanged();
    TTraceOptions TraceOptions();

    TReportException FException;
    TReportSources FSources;
    TRef<ICompletionRunner> FRunner;
    bool FDefer = false;

    std::mutex FComposeLock; // first access of header and sections
    TRef<TIMEFields> FHeader, FSections;
    std::vector<TThreadSection> FThreads;
    std::vector<TReportPlugin> FPluginSections;

    std::mutex FStepLock; // one step at a time, whoever runs it
    std::atomic<std::thread::id> FStepThread{};
    std::vector<TStep> FSteps;
    size_t FNextStep = 0;
    bool FProgressPlanned = false;
    std::atomic<bool> FAbort{false}, FComplete{false};
    uint64_t FExceptionFunction = 0;
    bool FExceptionFunctionKnown = false;

    std::mutex FChecksumLock; // checksums and the names of the traces
    std::array<uint32_t, 3> FChecksums{};
    std::vector<std::string> FMinimalDebugInfo;

    std::mutex FChangeLock;
    int FChangeLocks = 0;
    bool FChangePending = false;
    std::function<void()> FOnChange, FOnComplete;

    std::mutex FTextLock; // the exception object's critical section for the text
    std::string FCachedText;
    uint64_t FCachedHeaderGen = ~uint64_t(0), FCachedSectionsGen = ~uint64_t(0);
    bool FTextEdited = false;
};
