#pragma once
// The bug report's sources in this process: the system's facts, the threads with their contexts
// and the memory, and the runner that completes a report on a thread of its own.
#include <windows.h>

#include "crashreport/report/BugReport.h"
#include "crashreport/ui/ProgressAlert.h"

// Milliseconds of the performance counter at the crash reporter's start (the first call, or the
// loading of this code, whichever came first).
uint64_t ProgramStartMilliseconds();

// The facts of this system and process; module is the one carrying the crash reporter.
TRef<ISystemFacts> Win32SystemFacts(HMODULE module);

// This process, as it is while the report is composed. mainThreadId 0: the first thread the
// system lists.
TRef<ICapturedProcess> CaptureCurrentProcess(uint32_t mainThreadId = 0);

// A CONTEXT as the report keeps it.
TCpuContext CpuContextOf(const CONTEXT& context);

// Runs completion on a thread of above-normal priority (background), or at once on the caller
// with the please-wait window; waiting raises the thread to the highest priority and, with the please-wait
// window, keeps its messages going every 50 ms.
class TWin32CompletionRunner : public TRefCountedImpl<ICompletionRunner> {
public:
    // alert is the please-wait window (may be null); background: the caller is the worker thread
    // and the process is not blocked.
    TWin32CompletionRunner(TRef<IProgressAlert> alert, bool plWaitBox, bool background);

    void Start(TBugReport& report) override;
    void Wait(TBugReport& report) override;
    // The completion thread's handle while it runs (for tests).
    HANDLE Thread() const { return FThread.Get(); }

protected:
    ~TWin32CompletionRunner() override;

private:
    class TAlertProgress : public IReportProgress {
    public:
        explicit TAlertProgress(IProgressAlert* alert) : FAlert(alert) {}
        void AddStage(const std::string& text, uint64_t weight) override {
            if (FAlert) FAlert->AddStage(text, weight);
        }
        void StageDone() override {
            if (FAlert) FAlert->StageDone();
        }
        void SetStagePosition(int32_t p) override {
            if (FAlert) FAlert->SetStagePosition(p);
        }

    private:
        IProgressAlert* FAlert;
    };
    static DWORD WINAPI ThreadProc(void* param);

    TRef<IProgressAlert> FAlert;
    TAlertProgress FProgress;
    bool FPlWaitBox, FBackground;
    TKernelHandle FThread;
    DWORD FThreadId = 0;
    TRef<TBugReport> FRunning; // held by the thread while it runs
};
