#pragma once
// The texts of the report's sections that need no tracer: thread titles, "cpu registers",
// "stack dump", placeholders and internal errors.
#include <cstdint>
#include <string>
#include <string_view>

#include "crashreport/base/MemoryReader.h"
#include "crashreport/report/CapturedProcess.h"

extern const char* const PendingText;        // "will be calculated soon"
extern const char* const PendingSection;     // ">> will be calculated soon"
extern const char* const PendingStack;       // ">> stack will be calculated soon"
extern const char* const StackNotAccessible; // ">> stack not accessible"

// ">> internal error in STEP:" and, when known, a line break and the location.
std::string InternalErrorText(std::string_view step, std::string_view location = {});

// "eax = 0012FF40", nine lines for 32-bit code; 64-bit code lists rax, rbx, rcx, rdx, rsi, rdi,
// r8 .. r15, rip, rsp, rbp with 16 digits.
std::string CpuRegistersText(const TCpuContext& context);

// At most 20 lines of 16 bytes from the stack pointer, ending at the region's end.
std::string StackDumpText(const IMemoryReader& memory, uint64_t stackPointer, uint64_t regionEnd,
                          int addressDigits);

// Threads the listings leave out unless it is the crashed thread.
bool IsHiddenThreadName(std::string_view name);

// "name ($1A4)", "thread $1A4 (TMyThread)" or "thread $1A4", then ":", " <suspended>",
// " <priority:N>". entry is null when the registry could not be locked.
std::string ThreadSectionTitle(uint32_t threadId, const TThreadEntry* entry, const TThreadState& state);
