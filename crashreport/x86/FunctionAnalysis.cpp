#include "crashreport/x86/FunctionAnalysis.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace {

// Bounds that keep a damaged or hostile image from making the analysis run away.
constexpr size_t MaxAreas = 4096;
constexpr size_t MaxInstructions = 200000;
constexpr uint32_t MaxJumpTableEntries = 1024;
constexpr uint32_t MaxHandlerEntries = 256;
constexpr uint32_t ContinuationWindow = 1024;

const char* const NoReturnRoutines[] = {
    "__cxa_throw",
    "__cxa_rethrow",
    "_Unwind_Resume",
    "abort",
    "exit",
    "_exit",
    "ExitProcess",
    "RaiseInOutError",
    "RaiseFileCreateError",
    "RaiseFileOpenError",
    "RaiseConvertError",
};

bool IsIdentChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool MatchesNoReturn(std::string_view s) {
    for (const char* n : NoReturnRoutines)
        if (s == n) return true;
    return false;
}

// The last <length><identifier> of a mangled name after "_Z": of the nested name N...E (with
// its qualifiers and an "St" prefix), or the unscoped one. Empty for other forms (templates,
// substitutions, operators): none of the routines that never return has such a name.
std::string_view MangledFunctionName(std::string_view m) {
    size_t i = 2;
    const bool nested = i < m.size() && m[i] == 'N';
    if (nested)
        for (++i; i < m.size() && std::string_view("KVrRO").find(m[i]) != std::string_view::npos; ++i) {
        }
    if (m.substr(i, 2) == "St") i += 2;
    std::string_view last;
    while (i < m.size() && m[i] >= '1' && m[i] <= '9') {
        size_t length = 0;
        for (; i < m.size() && m[i] >= '0' && m[i] <= '9' && length <= m.size(); ++i)
            length = length * 10 + size_t(m[i] - '0');
        if (length > m.size() - i) return {};
        last = m.substr(i, length);
        i += length;
        if (!nested) return last;
    }
    return nested && i < m.size() && m[i] == 'E' ? last : std::string_view();
}

} // namespace

bool IsNoReturnName(std::string_view name) {
    if (name.empty()) return false;
    if (MatchesNoReturn(name)) return true;
    // Itanium mangling: the function's own name is the last component of a nested name
    // ("_ZN2ze17RaiseConvertErrorEv") or the unscoped name ("_Z5abortv").
    std::string_view m = name;
    while (m.size() > 2 && m[0] == '_' && m[1] == '_' && m[2] == 'Z')
        m.remove_prefix(1);
    if (m.size() > 2 && m[0] == '_' && m[1] == 'Z') return MatchesNoReturn(MangledFunctionName(m));
    // Plain or demangled: cut the parameter list and stdcall suffix, then namespaces.
    std::string_view s = name;
    if (size_t p = s.find('('); p != std::string_view::npos) s = s.substr(0, p);
    if (size_t p = s.find('@', 1); p != std::string_view::npos) s = s.substr(0, p);
    if (size_t p = s.rfind("::"); p != std::string_view::npos) s = s.substr(p + 2);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    for (char c : s)
        if (!IsIdentChar(c)) return false;
    if (MatchesNoReturn(s)) return true;
    // COFF symbols of C functions carry one leading underscore ("_abort", "__exit", "___cxa_throw").
    if (s.size() > 1 && s[0] == '_') return MatchesNoReturn(s.substr(1));
    return false;
}

namespace {

class TAnalyser {
public:
    TAnalyser(const IMemoryReader& memory, const TCodeRange& code, const ISymbolResolver* symbols,
              TFunctionAnalysis& result)
        : FMemory(memory), FCode(code), FSymbols(symbols), FResult(result) {}

    bool Run();

private:
    struct TArea {
        uint64_t End = 0;
        TCodeAreaKind Kind = TCodeAreaKind::Code;
        bool Label = false;
        bool Done = false;
    };

    bool AddTarget(uint64_t target, bool label);
    bool FollowArea(uint64_t begin, bool tentative, std::vector<uint64_t>* jumps);
    bool NoReturnTarget(uint64_t target) const;
    void CheckJumpTable(const TX86Instruction& cmp, const TX86Instruction& jcc, const TX86Instruction& jmp);
    bool TryContinuation();
    void FollowHandlerTable(const TX86Instruction& jmp);

    const IMemoryReader& FMemory;
    TCodeRange FCode;
    const ISymbolResolver* FSymbols;
    TFunctionAnalysis& FResult;
    std::map<uint64_t, TArea> FAreas;
    std::vector<uint64_t> FPending;
    std::set<uint64_t> FCallSites;
    size_t FInstructions = 0;
};

bool TAnalyser::AddTarget(uint64_t target, bool label) {
    if (!FCode.Contains(target)) return true;
    auto it = FAreas.upper_bound(target);
    if (it != FAreas.begin()) {
        auto prev = std::prev(it);
        if (prev->first == target) {
            prev->second.Label |= label;
            return true;
        }
        // A jump into an area already followed splits it there.
        if (prev->second.Done && target < prev->second.End && prev->second.Kind == TCodeAreaKind::Code) {
            TArea tail = prev->second;
            tail.Label = label;
            prev->second.End = target;
            FAreas[target] = tail;
            return true;
        }
    }
    if (FAreas.size() >= MaxAreas) return false;
    TArea area;
    area.Label = label;
    FAreas[target] = area;
    FPending.push_back(target);
    return true;
}

bool TAnalyser::NoReturnTarget(uint64_t target) const {
    std::string name;
    return FSymbols && FSymbols->NameAt(target, name) && IsNoReturnName(name);
}

void TAnalyser::CheckJumpTable(const TX86Instruction& cmp, const TX86Instruction& jcc,
                               const TX86Instruction& jmp) {
    // cmp reg, imm8 (83 /7), or the imm32 forms (81 /7, 3D) that larger switches use.
    uint32_t limit;
    unsigned reg;
    if ((cmp.Opcode == 0x83 || cmp.Opcode == 0x81) && cmp.HasModRM && (cmp.ModRM & 0xF8) == 0xF8 &&
        !cmp.OpSize16) {
        reg = cmp.ModRM & 7;
        limit = cmp.Opcode == 0x83 ? uint32_t(int32_t(int8_t(cmp.Imm))) : uint32_t(cmp.Imm);
    } else if (cmp.Opcode == 0x3D && !cmp.OpSize16) {
        reg = 0;
        limit = uint32_t(cmp.Imm);
    } else {
        return;
    }
    uint32_t count;
    switch (jcc.Opcode) {
    case 0x77:
    case 0x7F:
    case 0x187:
    case 0x18F:
        count = limit + 1;
        break;
    case 0x73:
    case 0x7D:
    case 0x183:
    case 0x18D:
        count = limit;
        break;
    default:
        return;
    }
    // jmp dword ptr [table+reg*4]
    if (jmp.Opcode != 0xFF || jmp.ModRM != 0x24 || !jmp.HasSib || (jmp.Sib & 0xC7) != 0x85 ||
        ((jmp.Sib >> 3) & 7) != reg || jmp.AdSize16 || jmp.Segment)
        return;
    if (count == 0 || count > MaxJumpTableEntries) return;
    const uint64_t table = uint32_t(jmp.Disp);
    uint32_t entries[MaxJumpTableEntries];
    if (!FMemory.Read(table, entries, count * 4)) return;
    // Tables right behind the jump are part of the function; elsewhere they are just followed.
    if (table == jmp.Next && FAreas.size() < MaxAreas) {
        TArea area;
        area.End = table + count * 4;
        area.Kind = TCodeAreaKind::JumpTable;
        area.Done = true;
        FAreas[table] = area;
    }
    for (uint32_t i = 0; i < count; ++i)
        AddTarget(entries[i], true);
}

// An exception handler that dispatches on classes jumps to the runtime's dispatcher, and its
// table follows the jump: a count, then pairs of class reference (0 for the default) and handler.
void TAnalyser::FollowHandlerTable(const TX86Instruction& jmp) {
    std::string name;
    if (!FSymbols || !FSymbols->NameAt(jmp.Target, name)) return;
    const std::string_view suffix = "HandleOnException";
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return;
    uint32_t count = 0;
    if (!FMemory.Read(jmp.Next, &count, 4) || count == 0 || count > MaxHandlerEntries) return;
    uint32_t pairs[2 * MaxHandlerEntries];
    if (!FMemory.Read(jmp.Next + 4, pairs, count * 8) || FAreas.size() >= MaxAreas) return;
    TArea area;
    area.End = jmp.Next + 4 + count * 8;
    area.Kind = TCodeAreaKind::HandlerTable;
    area.Done = true;
    FAreas[jmp.Next] = area;
    for (uint32_t i = 0; i < count; ++i)
        AddTarget(pairs[2 * i + 1], true);
}

// Follows one area of code. jumps (tentative areas only) collects the jump targets met.
bool TAnalyser::FollowArea(uint64_t begin, bool tentative, std::vector<uint64_t>* jumps) {
    const bool x64 = FResult.Mode == TX86Mode::Bits64;
    uint64_t cur = begin;
    TX86Instruction history[3];
    int seen = 0;
    for (;;) {
        if (cur != begin) {
            auto it = FAreas.find(cur);
            if (it != FAreas.end()) break;
        }
        // An entry outside the known code (no usable headers) is still followed to its end.
        if (!FCode.Contains(cur) && FCode.Contains(begin)) break;
        if (++FInstructions > MaxInstructions) return false;
        TX86Instruction& ins = history[seen % 3];
        if (!DecodeX86(FMemory, cur, ins, FResult.Mode)) return false;
        ++seen;
        cur = ins.Next;
        bool endsArea = ins.IsReturn || (ins.IsJump && !ins.IsConditional);
        if (ins.IsJump && ins.HasTarget) {
            std::string name;
            // A jump to the start of another named function is a tail call, not part of this one.
            const bool tailCall = !ins.IsConditional && ins.Target != FResult.Entry && FSymbols &&
                                  FSymbols->NameAt(ins.Target, name);
            if (tentative)
                jumps->push_back(ins.Target);
            else if (!tailCall && !AddTarget(ins.Target, true))
                return false;
        }
        if (ins.IsCall && !tentative) {
            TFunctionCall call{ins.Address, ins.Next, 0, false};
            if (ins.HasTarget) {
                call.Target = ins.Target;
                call.TargetKnown = true;
            } else if (ins.HasPointer && ins.PointerValueValid) {
                call.Target = ins.PointerValue;
                call.TargetKnown = true;
            }
            if (FCallSites.insert(ins.Address).second)
                (call.TargetKnown ? FResult.Calls : FResult.UnknownCalls).push_back(call);
        }
        if (ins.IsCall) {
            const bool known = ins.HasTarget || (ins.HasPointer && ins.PointerValueValid);
            const uint64_t target = ins.HasTarget ? ins.Target : ins.PointerValue;
            if (known && NoReturnTarget(target)) endsArea = true;
            // The call may go through a pointer whose own address carries the import's name.
            if (!ins.HasTarget && ins.HasPointer && NoReturnTarget(ins.PointerAddress)) endsArea = true;
        }
        if (seen >= 2 && !tentative && !x64) {
            // Exception frame: push offset handler; push dword ptr fs:[reg] / fs:[0].
            const TX86Instruction& prev = history[(seen - 2) % 3];
            if (prev.Opcode == 0x68 && !prev.OpSize16 && ins.Segment == X86SegFs && ins.Opcode == 0xFF &&
                ((ins.ModRM & 0x38) >> 3) == 6 &&
                (((ins.ModRM >> 6) == 0 && (ins.ModRM & 7) != 5 && (ins.ModRM & 7) != 4) ||
                 (ins.ModRM == 0x35 && ins.Disp == 0))) {
                if (!AddTarget(prev.Imm, true)) return false;
            }
        }
        if (seen >= 3 && !tentative && !x64 && ins.Opcode == 0xFF)
            CheckJumpTable(history[(seen - 3) % 3], history[(seen - 2) % 3], ins);
        if (!tentative && !x64 && ins.Opcode == 0xE9 && ins.HasTarget) FollowHandlerTable(ins);
        if (endsArea) break;
    }
    if (!tentative) {
        TArea& area = FAreas[begin];
        area.End = cur;
        area.Done = true;
    }
    return true;
}

// Code right behind the last area may still belong to the function (parts reached only through
// tables or handlers the patterns did not recognise). It is taken only when it decodes cleanly,
// is no function of its own, and jumps back into the function.
bool TAnalyser::TryContinuation() {
    if (FAreas.empty()) return false;
    uint64_t start = std::prev(FAreas.end())->second.End;
    const uint64_t limit = start + ContinuationWindow;
    // Skip alignment padding.
    for (;;) {
        if (start >= limit || !FCode.Contains(start)) return false;
        TX86Instruction ins;
        if (!DecodeX86(FMemory, start, ins, FResult.Mode)) return false;
        const bool padding =
            ins.Opcode == 0x90 || ins.Opcode == 0xCC || ins.Opcode == 0x11F ||
            (ins.Opcode == 0x8D && ((ins.ModRM >> 3) & 7) == (ins.ModRM & 7) && ins.Disp == 0 &&
             (!ins.HasSib || ins.Sib == 0x24 || ins.Sib == 0x26 || ins.Sib == 0x27 ||
              ((ins.Sib >> 3) & 7) == 4));
        if (!padding) break;
        start = ins.Next;
    }
    std::string name;
    if (FSymbols && FSymbols->NameAt(start, name)) return false;
    std::vector<uint64_t> jumps;
    if (!FollowArea(start, true, &jumps)) return false;
    bool jumpsBack = false;
    for (uint64_t j : jumps) {
        auto it = FAreas.upper_bound(j);
        if (it != FAreas.begin() && j < std::prev(it)->second.End) jumpsBack = true;
    }
    if (!jumpsBack) return false;
    if (FAreas.size() >= MaxAreas) return false;
    FAreas[start] = TArea{};
    FPending.push_back(start);
    return true;
}

bool TAnalyser::Run() {
    FAreas[FResult.Entry] = TArea{};
    FAreas[FResult.Entry].Label = true;
    FPending.push_back(FResult.Entry);
    for (;;) {
        while (!FPending.empty()) {
            const uint64_t begin = FPending.back();
            FPending.pop_back();
            auto it = FAreas.find(begin);
            if (it == FAreas.end() || it->second.Done) continue;
            if (!FollowArea(begin, false, nullptr)) return false;
        }
        if (!TryContinuation()) break;
    }
    for (const auto& [begin, area] : FAreas) {
        TCodeArea a;
        a.Begin = begin;
        a.End = area.End;
        a.Kind = area.Kind;
        a.Label = area.Label;
        if (a.End > a.Begin) FResult.Areas.push_back(a);
    }
    // A jump into the area being followed starts an area inside it: the earlier one ends there.
    for (size_t i = 0; i + 1 < FResult.Areas.size(); ++i)
        if (FResult.Areas[i].End > FResult.Areas[i + 1].Begin)
            FResult.Areas[i].End = FResult.Areas[i + 1].Begin;
    // A straight entry: no jump or relative call among the instructions of the first 6 bytes,
    // and nothing jumps into them. RIP-relative operands would not survive a move either.
    FResult.EntryStraight = true;
    for (uint64_t cur = FResult.Entry; cur < FResult.Entry + 6;) {
        TX86Instruction ins;
        if (!DecodeX86(FMemory, cur, ins, FResult.Mode) || ins.IsJump || ins.IsReturn ||
            (ins.IsCall && ins.HasTarget) || ins.RipRelative) {
            FResult.EntryStraight = false;
            break;
        }
        cur = ins.Next;
    }
    for (const TCodeArea& a : FResult.Areas)
        if (a.Label && a.Begin > FResult.Entry && a.Begin < FResult.Entry + 6) FResult.EntryStraight = false;
    return true;
}

} // namespace

TFunctionAnalysis AnalyseFunction(const IMemoryReader& memory, uint64_t entry, const TCodeRange& code,
                                  const ISymbolResolver* symbols, TX86Mode mode) {
    TFunctionAnalysis result;
    result.Entry = entry;
    result.Mode = mode;
    uint8_t probe;
    if (!memory.Read(entry, &probe, 1)) {
        result.ErrorCode = FunctionErrorNotCommitted;
        result.ErrorText = "The parameter is incorrect.";
        return result;
    }
    TAnalyser analyser(memory, code, symbols, result);
    if (!analyser.Run()) {
        result = TFunctionAnalysis{};
        result.Entry = entry;
        result.Mode = mode;
        result.ErrorCode = FunctionErrorInvalidCode;
        result.ErrorText = "Invalid code!";
        return result;
    }
    result.Valid = true;
    return result;
}
