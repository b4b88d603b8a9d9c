#pragma once
// The stack tracer as the bug report uses it, over this process, and the bug report of this
// process as the crash reporter composes it.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "crashreport/report/BugReport.h"
#include "crashreport/report/StackTracer.h"

TRef<IStackTracer> Win32StackTracer();

// The report of `e`, made now: the system's facts for `module`, the process's threads as they
// are (without the excluded ones), the thread registry, and the tracer (Win32StackTracer when
// none is given). Header and sections are composed on first access.
TRef<TBugReport> ProcessBugReport(TReportException e, TRef<IMESettings> settings, HMODULE module,
                                  std::vector<uint32_t> excludedThreads = {}, TRef<IStackTracer> tracer = {});
