#pragma once
// The rules of the handling flow that need no operating system: the exception history and the
// repeat rule of the automatic restart and close, the choice of filter settings by class name,
// the request record the catch points hand to the worker thread, and the texts of operating-system
// exceptions.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/settings/Settings.h"

// Where an exception was caught (stored in the exception object).
enum TCatchSource : uint8_t {
    CatchFreezeWatchdog = 1,
    CatchShowException = 3,
    CatchApplicationShow = 4,
    CatchApplicationHandle = 5,
    CatchSynchronize = 10,
    CatchRuntimeError = 11,
    CatchPackageInit = 12,
    CatchThreadLastChance = 13,
    CatchSystemException = 14,
    CatchHidden = 15,
};

// Ten time stamps in whole seconds since 1601, newest first; 0 = empty.
struct TExceptionHistory {
    std::array<uint64_t, 10> Times{};
    void Push(uint64_t now);
};

// Whether AutoRestart or AutoClose (value n) holds now: 0 never, 1 always, n >= 2 when ten
// exceptions happened within n seconds.
bool RepeatRule(int32_t n, const TExceptionHistory& history, uint64_t now);

// The per-exception switches that the chosen filter set gives.
struct TFilterChoice {
    std::string Set; // "F1", "F2" or "Gn"
    bool WantReport = true;
    bool WantScreenShot = false;
    bool PauseThreads = false;
    bool RunHandlers = true;
    int32_t DisplayMode = 0;
    int32_t DisplayAssistant = 0;
    bool AttachScreenShot = false;
};

// classChain: the exception's class name, then its ancestors' names.
TFilterChoice ApplyExceptionFilter(IMESettings& settings, const std::vector<std::string>& classChain);

// The record a catch point writes into the worker's pipe. Each field takes 4 bytes in the 32-bit
// build (56 bytes in all) and the width of a pointer in the 64-bit build (112 bytes).
struct TExceptionRequest {
    uint64_t Event = 0; // 0: the worker ends
    uint64_t ThreadId = 0;
    uint8_t Kind = 0; // 0 normal, 1 frozen main thread, 2 hidden
    uint64_t ExceptionObject = 0;
    uint64_t ExceptionAddress = 0;
    bool CanContinue = false;
    uint64_t StackPointer = 0;
    uint64_t FramePointer = 0;
    uint64_t Context = 0;
    uint64_t ReportText = 0;
    uint8_t CatchSource = 0;
    uint64_t RelatedObject = 0;
    uint64_t Package = 0;
    uint64_t PreparedStack = 0;
};
constexpr size_t ExceptionRequestFields = 14;
std::vector<uint8_t> EncodeExceptionRequest(const TExceptionRequest& request, size_t fieldSize);
bool DecodeExceptionRequest(const uint8_t* bytes, size_t size, size_t fieldSize, TExceptionRequest& request);

// The runtime's text and class for an operating-system exception without a language exception
// object. info: the record's parameters (for an access violation: 0 read / 1 write / 8 execute,
// and the address).
struct TSystemExceptionText {
    std::string ClassName;
    std::string Message;
};
TSystemExceptionText SystemExceptionText(uint32_t code, uint64_t address, std::string_view module,
                                         const std::vector<uint64_t>& info, int addressDigits);

// Whether a class chain holds the silent-abort class.
bool IsSilentAbort(const std::vector<std::string>& classChain);

// The thread-naming convention of debuggers (0x406D1388 with 0x1000 as first word, flags 0).
constexpr uint32_t ThreadNamingCode = 0x406D1388;
bool IsThreadNaming(uint32_t code, const std::vector<uint64_t>& info);

// The executable-image checksum of a PE file: the 16-bit one's-complement sum of the file's words
// with the checksum field counted as 0, plus the file's length. storedAt: the field's offset
// (0 when the file is no PE image).
uint32_t ImageChecksum(const uint8_t* file, size_t size, size_t& storedAt);
