#pragma once
// A captured process, system facts, thread registry and tracer made up for the report's tests.
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "crashreport/report/BugReport.h"

class TFakeFacts : public TRefCountedImpl<ISystemFacts> {
public:
    std::string Computer = "DESK7", Wts, User = "anna", Owner = "Anna", Org;
    bool Admin = true;
    TOsVersion Os{true, 5, 1, 2600, true, false, false, false, false, false, "Service Pack 3"};
    uint64_t UpSeconds = 93784, UpMs = 320;
    std::string Brand = "  Intel(R)  Core(TM)   i5 ";
    int Cpus = 4;
    std::string Sep = ",";
    std::string Cmd = "\"C:\\Games\\LevelEditor.exe\" level1.lvl";
    std::string Exe = "C:\\Games\\LevelEditor.exe", Module = "C:\\Games\\LevelEditor.exe";
    std::string Version = "1.0.0.1";
    bool FailComputerName = false;

    std::string ComputerName() override {
        if (FailComputerName) throw std::runtime_error("no name");
        return Computer;
    }
    std::string WtsClientName() override { return Wts; }
    std::string UserName() override { return User; }
    bool UserIsAdmin() override { return Admin; }
    std::string RegisteredOwner() override { return Owner; }
    std::string RegisteredOrganization() override { return Org; }
    TOsVersion OsVersion() override { return Os; }
    std::string SystemLanguage() override { return "German (Germany)"; }
    uint64_t SystemUpTimeSeconds() override { return UpSeconds; }
    uint64_t ProgramUpTimeMilliseconds() override { return UpMs; }
    std::string ProcessorBrand() override { return Brand; }
    int ProcessorCount() override { return Cpus; }
    uint64_t AvailablePhysicalMemory() override { return uint64_t(1234) << 20; }
    uint64_t TotalPhysicalMemory() override { return uint64_t(4096) << 20; }
    std::string SystemResources() override { return {}; }
    char SystemDrive() override { return 'C'; }
    char ExeDrive() override { return Exe.empty() ? 0 : Exe[0]; }
    std::optional<uint64_t> FreeDiskSpace(char drive) override {
        return drive == 'C' ? std::optional<uint64_t>(uint64_t(12) << 30) : std::optional<uint64_t>(1536);
    }
    std::string DecimalSeparator() override { return Sep; }
    int DisplayWidth() override { return 1280; }
    int DisplayHeight() override { return 1024; }
    int DisplayBitsPerPixel() override { return 32; }
    uint32_t ProcessId() override { return 0x1A4; }
    uint64_t AllocatedMemory() override { return uint64_t(5) << 20; }
    std::string CommandLine() override { return Cmd; }
    std::string ExecutablePath() override { return Exe; }
    std::string ModulePath() override { return Module; }
    TLocalTime ModuleFileTime() override { return {2006, 5, 1, 9, 5, 0, 0}; }
    std::string ModuleVersion() override { return Version; }
    std::string BdeVersion() override { return {}; }
};

// Threads with contexts over one block of stack memory.
class TFakeProcess : public TRefCountedImpl<ICapturedProcess> {
public:
    TFakeProcess() : FMemory(0x12F000, Stack) {}
    struct TThread {
        uint32_t Id;
        TCpuContext Context;
        TThreadState State;
        bool Accessible = true;
    };
    std::vector<TThread> Threads;
    std::vector<uint8_t> Stack = std::vector<uint8_t>(0x1000);
    bool Is64 = false;

    void Add(uint32_t id, uint64_t ip, uint64_t sp, TThreadState state = {}, bool accessible = true) {
        TCpuContext c;
        c.Bits64 = Is64;
        c.Regs[TCpuContext::RegIp] = ip;
        c.Regs[TCpuContext::RegSp] = sp;
        c.Regs[TCpuContext::RegBp] = sp + 0x10;
        Threads.push_back({id, c, state, accessible});
    }
    bool Bits64() override { return Is64; }
    uint32_t MainThreadId() override { return Threads.empty() ? 0 : Threads[0].Id; }
    std::vector<uint32_t> ThreadIds() override {
        std::vector<uint32_t> ids;
        for (const TThread& t : Threads)
            ids.push_back(t.Id);
        return ids;
    }
    bool ThreadState(uint32_t id, TThreadState& state) override {
        for (const TThread& t : Threads)
            if (t.Id == id) state = t.State;
        return true;
    }
    bool ThreadContext(uint32_t id, TCpuContext& context) override {
        for (const TThread& t : Threads)
            if (t.Id == id && t.Accessible) {
                context = t.Context;
                return true;
            }
        return false;
    }
    const IMemoryReader& Memory() override { return FMemory; }
    bool RegionEnd(uint64_t address, uint64_t& end) override {
        if (address < 0x12F000 || address >= 0x130000) return false;
        end = 0x130000;
        return true;
    }
    bool CodeRange(uint64_t, TCodeRange&) override { return false; }

private:
    TSpanMemoryReader FMemory;
};

class TFakeThreadNames : public TRefCountedImpl<IThreadNames> {
public:
    std::map<uint32_t, TThreadEntry> Entries;
    bool Lockable = true;
    bool Lock(int) override { return Lockable; }
    void Unlock() override {}
    bool Find(uint32_t id, TThreadEntry& entry) override {
        auto it = Entries.find(id);
        if (it == Entries.end()) return false;
        entry = it->second;
        return true;
    }
};

// Traces answer what the test put in for each thread; addresses resolve through a small table.
class TFakeTracer : public TRefCountedImpl<IStackTracer> {
public:
    std::map<uint32_t, TStackTrace> Traces;
    std::map<uint64_t, TStackLine> Locations;
    std::vector<uint32_t> Prepared, Traced;

    std::vector<uint8_t> PrepareStack(const TThreadStackRecord& t) override {
        Prepared.push_back(t.ThreadId);
        return {1, 2, 3};
    }
    TStackTrace TraceStack(const TThreadStackRecord& t, const TTraceOptions&, const std::atomic<bool>&,
                           const std::function<void(int)>& progress) override {
        Traced.push_back(t.ThreadId);
        if (t.PreparedStack != std::vector<uint8_t>{1, 2, 3}) throw std::runtime_error("not prepared");
        progress(500);
        auto it = Traces.find(t.ThreadId);
        if (it == Traces.end()) throw std::runtime_error("no trace");
        return it->second;
    }
    TStackLine Locate(uint64_t address) override {
        auto it = Locations.find(address);
        if (it != Locations.end()) return it->second;
        TStackLine l;
        l.Address = address;
        l.Module = "???";
        return l;
    }
    const ISymbolResolver* Symbols() override { return nullptr; }
    const ILineSource* Lines() override { return nullptr; }
};

inline TStackLine Item(uint64_t address, uint64_t start, const std::string& module, const std::string& unit,
                       int line, int relLine, const std::string& function) {
    TStackLine l;
    l.Address = address;
    l.FunctionStart = start;
    l.FunctionStartKnown = start != 0;
    l.Module = module;
    l.Unit = unit;
    l.Line = line;
    l.RelLine = relLine;
    l.RelLineKnown = line > 0;
    l.Function = function;
    return l;
}
