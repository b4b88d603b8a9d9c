#pragma once
// Turning a thread's raw stack into a checked list of code locations, innermost first. Every
// value on the stack that could be a return address is a candidate; the code in front of it must
// be a call, the functions involved are analysed, candidates are linked by who calls whom, the
// most plausible chain between the certain points is chosen by score, repeated recursion blocks
// are removed and the survivors are resolved through the symbol data.
//
// Portable: the process is reached through a memory reader, a readable-memory snapshot and the
// symbol platform (modules and their symbol data). StackTraceWin32.h supplies the running
// process.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "crashreport/base/MemoryReader.h"
#include "crashreport/symbols/SymbolCache.h"
#include "crashreport/x86/FunctionAnalysis.h"

// The committed, readable runs of the address space, taken once per trace.
class TMemorySnapshot {
public:
    struct TRun {
        uint64_t Begin = 0;
        uint64_t End = 0; // exclusive
        bool Image = false;
        bool Executable = true;
    };
    // In ascending order; joins neighbours of the same kind.
    void Add(uint64_t begin, uint64_t end, bool image, bool executable = true);
    bool Readable(uint64_t address, uint64_t size) const;
    bool InImage(uint64_t address) const;
    bool Executable(uint64_t address) const;
    // The end of the run that holds address (0 when unreadable).
    uint64_t RunEnd(uint64_t address) const;
    const std::vector<TRun>& Runs() const { return FRuns; }

private:
    const TRun* Find(uint64_t address) const;
    std::vector<TRun> FRuns;
};

// Every read is checked against the snapshot first, then done by a read that fails instead of
// faulting.
class TCheckedMemoryReader : public IMemoryReader {
public:
    TCheckedMemoryReader(const IMemoryReader& raw, const TMemorySnapshot& snapshot)
        : FRaw(raw), FSnapshot(snapshot) {}
    bool Read(uint64_t address, void* buffer, size_t size) const override;
    const uint8_t* View(uint64_t address, size_t& available) const override;
    bool MayBeCode(uint64_t address) const override { return FSnapshot.Executable(address); }

private:
    // Memory outside module images is read a page at a time and kept while the reader lives:
    // candidates cluster in few pages, and each read of the system is a system call.
    struct TPage {
        bool Ok = false;
        uint8_t Bytes[4096];
    };
    const IMemoryReader& FRaw;
    const TMemorySnapshot& FSnapshot;
    mutable std::unordered_map<uint64_t, std::unique_ptr<TPage>> FPages;
};

// Could value be a return address: do the bytes in front of it form a call? E8 rel32; FF /2 or
// FF /3 in its 2-, 3-, 4-, 6- and 7-byte forms (a REX prefix in front changes none of the
// positions); 9A far call (32-bit code only).
bool IsCallSite(const IMemoryReader& memory, uint64_t value, TX86Mode mode);

// The call instruction that ends exactly at address, found by decoding from 7 down to 2 bytes
// in front of it.
bool CallBefore(const IMemoryReader& memory, uint64_t address, TX86Mode mode, TX86Instruction& call);

// A prepared stack: a 32-bit entry count, then per entry one flag byte and the slot's value (4
// bytes in 32-bit code, 8 in 64-bit code).
enum : uint8_t {
    PreparedPlain = 0,
    PreparedFramePointer = 1, // the slot below it holds the saved frame pointer
    PreparedUnwound = 2,      // a return address the system unwinder found
};

struct TStackRange {
    uint64_t StackPointer = 0;
    uint64_t StackTop = 0; // end of the stack's memory region (exclusive)
    uint64_t FramePointer = 0;
};

// Captures a thread's stack at once: the frame-pointer chain (or the unwinder's return-address
// slots) and every slot from the top down to the stack pointer that passes the call-site test,
// stopping at a slot that holds the exception address.
std::vector<uint8_t> PrepareStack(const IMemoryReader& memory, const TStackRange& range, TX86Mode mode,
                                  uint64_t exceptionAddress, const std::vector<uint64_t>& unwoundSlots = {});

// One shown location, innermost first.
struct TTraceLine {
    uint64_t Address = 0;
    uint64_t FunctionStart = 0;
    bool FunctionStartKnown = false;
    std::string Module; // "???" when unknown
    std::string Unit;
    int Line = 0; // 0 unknown
    int RelLine = 0;
    bool RelLineKnown = false;
    std::string Function;
};

struct TTraceRequest {
    TX86Mode Mode = TX86Mode::Bits32;
    TStackRange Range;
    uint64_t CurrentAddress = 0; // the exception address, or where the thread is
    uint64_t CreatorAddress = 0; // where the thread was created; 0 unknown
    const std::vector<uint8_t>* Prepared = nullptr;
    bool HideUglyItems = false;
    bool ShowRelativeLines = false;
    bool DontAddTopItem = false;
    bool IsException = false;
    const std::atomic<bool>* Abort = nullptr;
    std::function<void(int)> Progress; // thousandths
};

struct TTraceResult {
    std::vector<TTraceLine> Lines;
    // Empty, or ">> internal error in <stage>:" when a stage failed; Lines then stay empty.
    std::string Error;
    // The innermost resolved location: its function for the "disassembling" section.
    uint64_t ExceptionLocation = 0;
    uint64_t ExceptionFunction = 0;
    bool HasLines = false;                   // some item resolved to a source line
    std::vector<TMinDebugInfo::TItem> Named; // functions named from symbol data
    bool Aborted = false;
};

// The process-wide module and function caches; a second trace reuses every analysis. Traces
// through one cache run one at a time.
class TStackTraceCache {
public:
    TStackTraceCache(ISymbolPlatform& platform, TSymbolCache& symbols, uint64_t programBase)
        : FPlatform(platform), FSymbols(symbols), FProgramBase(programBase) {}
    ~TStackTraceCache();

    TTraceResult Trace(const IMemoryReader& raw, const TMemorySnapshot& snapshot,
                       const TTraceRequest& request);
    void Clear();
    size_t FunctionCount() const;

private:
    friend class TStackTracer;
    struct TState;
    ISymbolPlatform& FPlatform;
    TSymbolCache& FSymbols;
    uint64_t FProgramBase;
    mutable std::mutex FLock;
    TState* FState = nullptr;
};
