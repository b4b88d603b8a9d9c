#pragma once
// What the bug report is composed from: the system's facts, the process's threads with their
// contexts, its memory and the shared thread registry. The Win32 layer captures the real process;
// tests hand in fakes. Each answer may fail (throw): the field or section that asked is then left
// out or gets its internal-error text.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crashreport/base/MemoryReader.h"
#include "crashreport/base/RefCounted.h"
#include "crashreport/report/ReportFormats.h"
#include "crashreport/settings/TextVariables.h"
#include "crashreport/x86/FunctionAnalysis.h"

class ISystemFacts : public IRefCounted {
public:
    virtual std::string ComputerName() = 0;
    virtual std::string WtsClientName() = 0; // empty outside a remote session
    virtual std::string UserName() = 0;
    virtual bool UserIsAdmin() = 0;
    virtual std::string RegisteredOwner() = 0;
    virtual std::string RegisteredOrganization() = 0;
    virtual TOsVersion OsVersion() = 0;
    virtual std::string SystemLanguage() = 0; // in English
    virtual uint64_t SystemUpTimeSeconds() = 0;
    virtual uint64_t ProgramUpTimeMilliseconds() = 0;
    virtual std::string ProcessorBrand() = 0;
    virtual int ProcessorCount() = 0;
    virtual uint64_t AvailablePhysicalMemory() = 0;
    virtual uint64_t TotalPhysicalMemory() = 0;
    virtual std::string SystemResources() = 0; // only the old consumer systems have any
    virtual char SystemDrive() = 0;            // 'C'
    virtual char ExeDrive() = 0;               // 0 when the executable is on no drive letter
    virtual std::optional<uint64_t> FreeDiskSpace(char drive) = 0;
    virtual std::string DecimalSeparator() = 0;
    virtual int DisplayWidth() = 0;
    virtual int DisplayHeight() = 0;
    virtual int DisplayBitsPerPixel() = 0;
    virtual uint32_t ProcessId() = 0;
    virtual uint64_t AllocatedMemory() = 0; // committed private memory outside module images
    virtual std::string CommandLine() = 0;
    virtual std::string ExecutablePath() = 0;
    virtual std::string ModulePath() = 0;    // the crash reporter's module
    virtual TLocalTime ModuleFileTime() = 0; // local last-write time
    virtual std::string ModuleVersion() = 0; // version variable, else file version, else empty
    virtual std::string BdeVersion() = 0;    // empty unless the database engine is loaded
};

struct TCpuContext {
    bool Bits64 = false;
    // 32-bit: eax ebx ecx edx esi edi eip esp ebp in the first nine; 64-bit: rax rbx rcx rdx rsi
    // rdi rip rsp rbp r8 .. r15.
    uint64_t Regs[17] = {};
    enum TReg : int { RegAx, RegBx, RegCx, RegDx, RegSi, RegDi, RegIp, RegSp, RegBp, RegR8 };
    uint64_t Ip() const { return Regs[RegIp]; }
    uint64_t Sp() const { return Regs[RegSp]; }
    uint64_t Fp() const { return Regs[RegBp]; }
};

struct TThreadState {
    bool Suspended = false;
    int Priority = 0; // 0 = normal
};

class ICapturedProcess : public IRefCounted {
public:
    virtual bool Bits64() = 0;
    virtual uint32_t MainThreadId() = 0;
    // Every thread of the process in the order the system lists them.
    virtual std::vector<uint32_t> ThreadIds() = 0;
    virtual bool ThreadState(uint32_t id, TThreadState& state) = 0;
    // The thread's registers now; false when it cannot be opened or its context not fetched.
    virtual bool ThreadContext(uint32_t id, TCpuContext& context) = 0;
    // Reads that fail instead of faulting.
    virtual const IMemoryReader& Memory() = 0;
    // The end of the committed region holding the address; false when there is none.
    virtual bool RegionEnd(uint64_t address, uint64_t& end) = 0;
    // The code range of the module holding the address, for following a function.
    virtual bool CodeRange(uint64_t address, TCodeRange& range) = 0;
};

// The process-wide registry of thread names, creators and creating classes.
struct TThreadEntry {
    std::string Name;      // empty when unnamed
    std::string ClassName; // the creating class, when known
    uint32_t CreatorId = 0;
    uint64_t CreatorAddress = 0;
};

class IThreadNames : public IRefCounted {
public:
    // False when the registry cannot be locked within the time.
    virtual bool Lock(int timeoutMs) = 0;
    virtual void Unlock() = 0;
    // The entry of a thread, while locked; false when the registry knows nothing of it.
    virtual bool Find(uint32_t threadId, TThreadEntry& entry) = 0;
};
