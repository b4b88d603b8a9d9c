#pragma once
// The crash reporter in the running program: started before the program's own start-up code,
// it takes every exception the program does not handle itself through its catch points into one
// entry, CatchException, and processes it on a worker thread: the exception object and its filter
// set, the bug report, the automatic actions, and then continue, restart or close.
#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "crashreport/capture/HandlingRules.h"

struct TCaughtException {
    uint8_t Kind = 0; // 0 normal, 1 frozen main thread, 2 hidden
    // A language exception: its class name and ancestors, and its message.
    std::vector<std::string> ClassChain;
    std::string Message;
    // An operating-system exception: the record's code and parameters.
    bool OsException = false;
    uint32_t Code = 0;
    std::vector<uint64_t> Info;
    uint64_t Address = 0;
    uint32_t ThreadId = 0;
    uint8_t Source = 0;
    bool HasContext = false;
    CONTEXT Context{};
    uint64_t StackPointer = 0;
    uint64_t FramePointer = 0;
    bool CanContinue = false;
    bool Termination = false;          // the runtime is about to end the program
    std::string* ReportText = nullptr; // receives the complete report when set
};

// Start-up in its order; false when the settings disable crash reporting (nothing is installed
// then). module: the one carrying the settings resource (the program).
bool StartCrashReporter(HMODULE module);
// Everything undone in reverse order.
void StopCrashReporter();
bool CrashReporterRunning();

// Hands an exception to the worker and waits (the main thread keeps its messages going); returns
// when the exception has been processed and the program goes on.
void CatchException(TCaughtException& caught);
// A C++ exception at a catch point of the framework or the runtime.
void CatchLanguageException(std::exception_ptr e, uint8_t source, bool canContinue);

// The exception history (handed over on a restart).
TExceptionHistory CurrentExceptionHistory();
