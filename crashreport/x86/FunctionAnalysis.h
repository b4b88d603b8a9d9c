#pragma once
// Following a function through its code: the areas of code and data that belong to it, the calls
// it makes, and its listing for the bug report's "disassembling" section.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/base/MemoryReader.h"
#include "crashreport/x86/Disassembler.h"

enum class TCodeAreaKind : uint8_t { Code, JumpTable, HandlerTable };

struct TCodeArea {
    uint64_t Begin = 0;
    uint64_t End = 0; // exclusive
    TCodeAreaKind Kind = TCodeAreaKind::Code;
    bool Label = false; // reached by a jump (or a handler/table entry)
};

struct TFunctionCall {
    uint64_t Address = 0; // of the call instruction
    uint64_t Next = 0;    // address after it
    uint64_t Target = 0;
    bool TargetKnown = false;
};

// The module's code; targets outside it are not followed.
struct TCodeRange {
    uint64_t Begin = 0;
    uint64_t End = 0; // exclusive
    bool Contains(uint64_t a) const { return a >= Begin && a < End; }
};

constexpr uint32_t FunctionErrorInvalidCode = 0x20000001; // our own code for undecodable code
constexpr uint32_t FunctionErrorNotCommitted = 87;        // the system's "invalid parameter"

struct TFunctionAnalysis {
    uint64_t Entry = 0;
    TX86Mode Mode = TX86Mode::Bits32;
    bool Valid = false;
    uint32_t ErrorCode = 0;
    std::string ErrorText;
    std::vector<TCodeArea> Areas; // sorted by Begin, not overlapping
    std::vector<TFunctionCall> Calls;
    std::vector<TFunctionCall> UnknownCalls; // targets not known (through registers, unreadable pointers)
    // The first 6 bytes hold no jump, no relative call and no jump target: a 5-byte jump may be
    // written over the entry.
    bool EntryStraight = false;
};

// Exception frames, jump tables and handler tables are recognised in the patterns of 32-bit code
// only; 64-bit code is followed through its calls and jumps.

// The routines that never return (the area ends after a call to one of them). Accepts decorated
// forms: leading underscores, stdcall "@n", C++ parameter lists, namespaces, Itanium mangling.
bool IsNoReturnName(std::string_view name);

TFunctionAnalysis AnalyseFunction(const IMemoryReader& memory, uint64_t entry, const TCodeRange& code,
                                  const ISymbolResolver* symbols = nullptr, TX86Mode mode = TX86Mode::Bits32);
