#include "crashreport/stacktrace/StackTrace.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

#include "crashreport/x86/Decoder.h"

// ---------------------------------------------------------------------------------------------
// Memory

void TMemorySnapshot::Add(uint64_t begin, uint64_t end, bool image, bool executable) {
    if (end <= begin) return;
    if (!FRuns.empty() && FRuns.back().End == begin && FRuns.back().Image == image &&
        FRuns.back().Executable == executable) {
        FRuns.back().End = end;
        return;
    }
    FRuns.push_back({begin, end, image, executable});
}

const TMemorySnapshot::TRun* TMemorySnapshot::Find(uint64_t address) const {
    auto it = std::upper_bound(FRuns.begin(), FRuns.end(), address,
                               [](uint64_t a, const TRun& run) { return a < run.Begin; });
    if (it == FRuns.begin()) return nullptr;
    --it;
    return address < it->End ? &*it : nullptr;
}

bool TMemorySnapshot::Readable(uint64_t address, uint64_t size) const {
    // Neighbouring runs of other kinds are contiguous too.
    while (size > 0) {
        const TRun* run = Find(address);
        if (!run) return false;
        uint64_t here = run->End - address;
        if (here >= size) return true;
        address = run->End;
        size -= here;
    }
    return true;
}

bool TMemorySnapshot::InImage(uint64_t address) const {
    const TRun* run = Find(address);
    return run && run->Image;
}

bool TMemorySnapshot::Executable(uint64_t address) const {
    const TRun* run = Find(address);
    return run && run->Executable;
}

uint64_t TMemorySnapshot::RunEnd(uint64_t address) const {
    const TRun* run = Find(address);
    return run ? run->End : 0;
}

bool TCheckedMemoryReader::Read(uint64_t address, void* buffer, size_t size) const {
    if (size == 0) return true;
    if (!FSnapshot.Readable(address, size)) return false;
    // Module images are read through their view, as the decoder reads code anyway: a system call
    // per read (candidates are checked by the thousand) costs more than the whole trace.
    if (FSnapshot.InImage(address) && FSnapshot.RunEnd(address) - address >= size) {
        size_t available = 0;
        if (const uint8_t* view = FRaw.View(address, available); view && available >= size) {
            std::memcpy(buffer, view, size);
            return true;
        }
    }
    constexpr uint64_t PageSize = 4096;
    const uint64_t page = address & ~(PageSize - 1);
    if (address - page + size <= PageSize && FSnapshot.Readable(page, PageSize)) {
        auto found = FPages.find(page);
        if (found == FPages.end()) {
            if (FPages.size() >= 1024) FPages.clear(); // at most 4 MB
            auto read = std::make_unique<TPage>();
            read->Ok = FRaw.Read(page, read->Bytes, PageSize);
            found = FPages.emplace(page, std::move(read)).first;
        }
        if (found->second->Ok) {
            std::memcpy(buffer, found->second->Bytes + (address - page), size);
            return true;
        }
    }
    return FRaw.Read(address, buffer, size);
}

const uint8_t* TCheckedMemoryReader::View(uint64_t address, size_t& available) const {
    available = 0;
    uint64_t end = FSnapshot.RunEnd(address);
    if (end == 0) return nullptr;
    size_t raw = 0;
    const uint8_t* view = FRaw.View(address, raw);
    if (!view) return nullptr;
    available = size_t(std::min<uint64_t>(raw, end - address));
    return view;
}

// ---------------------------------------------------------------------------------------------
// Call sites

bool IsCallSite(const IMemoryReader& memory, uint64_t v, TX86Mode mode) {
    uint8_t b[8];
    if (v < 8 || !memory.Read(v - 8, b, 8)) return false;
    // b[8 - n] is the byte at v - n.
    if (b[3] == 0xE8) return true;
    for (int n : {2, 3, 4, 6, 7})
        if (b[8 - n] == 0xFF && (b[9 - n] & 0x30) == 0x10) return true;
    return mode == TX86Mode::Bits32 && b[1] == 0x9A;
}

bool CallBefore(const IMemoryReader& memory, uint64_t address, TX86Mode mode, TX86Instruction& call) {
    uint8_t bytes[16];
    if (address < 8 || !memory.Read(address - 8, bytes, 8)) return false;
    for (int back = 8; back >= 2; --back) {
        if (back == 8 && mode == TX86Mode::Bits32) continue; // 7 bytes is the longest 32-bit call form
        TX86Instruction ins;
        if (!DecodeX86(bytes + 8 - back, size_t(back), address - uint64_t(back), ins, mode)) continue;
        if (ins.IsCall && ins.Next == address) {
            // Again through the reader, which also fetches the pointer of an indirect call.
            DecodeX86(memory, address - uint64_t(back), call, mode);
            return call.Valid && call.IsCall && call.Next == address;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Preparing a stack

namespace {

size_t SlotSize(TX86Mode mode) {
    return mode == TX86Mode::Bits64 ? 8 : 4;
}

bool ReadSlot(const IMemoryReader& memory, uint64_t at, TX86Mode mode, uint64_t& value) {
    if (mode == TX86Mode::Bits64) return memory.Read(at, &value, 8);
    uint32_t v32;
    if (!memory.Read(at, &v32, 4)) return false;
    value = v32;
    return true;
}

// The return-address slots of the frame-pointer chain, while it stays inside the stack and rises.
std::vector<uint64_t> FrameSlots(const IMemoryReader& memory, const TStackRange& range, TX86Mode mode) {
    std::vector<uint64_t> slots;
    const size_t slot = SlotSize(mode);
    uint64_t frame = range.FramePointer, last = 0;
    while (frame >= range.StackPointer && frame + 2 * slot <= range.StackTop && frame > last &&
           slots.size() < 100000) {
        slots.push_back(frame + slot);
        last = frame;
        if (!ReadSlot(memory, frame, mode, frame)) break;
    }
    return slots;
}

void PutLE(std::vector<uint8_t>& out, uint64_t value, size_t size) {
    for (size_t i = 0; i < size; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

} // namespace

std::vector<uint8_t> PrepareStack(const IMemoryReader& memory, const TStackRange& range, TX86Mode mode,
                                  uint64_t exceptionAddress, const std::vector<uint64_t>& unwoundSlots) {
    std::vector<uint8_t> out(4, 0);
    const size_t slot = SlotSize(mode);
    if (range.StackTop <= range.StackPointer || range.StackTop - range.StackPointer < slot) return out;
    // Frame pointers mark the certain slots of 32-bit code; 64-bit code has the unwinder's.
    std::vector<uint64_t> frames =
        mode == TX86Mode::Bits32 ? FrameSlots(memory, range, mode) : std::vector<uint64_t>();
    std::sort(frames.begin(), frames.end());
    std::vector<uint64_t> unwound = unwoundSlots;
    std::sort(unwound.begin(), unwound.end());
    // One read of the whole stack; slots are taken from the copy.
    const uint64_t top = range.StackPointer + (range.StackTop - range.StackPointer) / slot * slot;
    std::vector<uint8_t> stack(size_t(top - range.StackPointer));
    if (!memory.Read(range.StackPointer, stack.data(), stack.size())) return out;
    // The exception address stops the scan only where it is code: the slots below it belong to
    // the exception's dispatch. A value like 0x10 (a call through a null object) is no code and
    // may well lie in the frames of the program.
    uint8_t probe;
    if (exceptionAddress && !memory.Read(exceptionAddress, &probe, 1)) exceptionAddress = 0;
    uint32_t count = 0;
    for (uint64_t at = top; at >= range.StackPointer + slot;) {
        at -= slot;
        uint64_t value = 0;
        std::memcpy(&value, stack.data() + (at - range.StackPointer), slot);
        if (exceptionAddress && value == exceptionAddress) break;
        // Most values are data or point at it: only executable memory is asked about calls.
        if (value <= 7 || !memory.MayBeCode(value) || !IsCallSite(memory, value, mode)) continue;
        uint8_t flag = PreparedPlain;
        if (std::binary_search(unwound.begin(), unwound.end(), at))
            flag = PreparedUnwound;
        else if (std::binary_search(frames.begin(), frames.end(), at))
            flag = PreparedFramePointer;
        out.push_back(flag);
        PutLE(out, value, slot);
        ++count;
        if (flag == PreparedFramePointer && at >= range.StackPointer + slot)
            at -= slot; // the saved frame pointer
    }
    std::memcpy(out.data(), &count, 4);
    return out;
}

// ---------------------------------------------------------------------------------------------
// The caches

namespace {

struct TExport {
    uint64_t Address = 0;
    uint32_t NameRva = 0;
};

struct TTraceModule {
    uint64_t Base = 0;
    uint64_t End = 0;
    std::string FileName;
    TCodeRange Code;
    TCodeRange Second;
    uint64_t Entry = 0;
    bool IsProgram = false;
    TRef<TMapFile> Symbols;
    std::vector<TExport> Exports; // by address; read for modules without symbol data
};

struct TTraceFunction {
    int Module = -1;
    std::string Name;
    bool NameFromSymbols = false;
    uint64_t Start = 0;
    bool Analysed = false;
    bool Approved = false;
    bool Invalid = false;
    bool Spread = false; // its callees carry its approval
    TFunctionAnalysis Analysis;
};

constexpr uint64_t ScoreStart = 0x1000000000000000ull;
constexpr uint64_t ScoreEndKnown = 0x7000000000000000ull;
constexpr uint64_t ScoreEndUnknown = 0x5000000000000000ull;
constexpr uint64_t ScoreTypedBit = 0x2000000000000000ull;
constexpr uint64_t ScoreReachedBit = 0x4000000000000000ull;

constexpr size_t MaxItems = 20000;
constexpr size_t MaxFunctions = 50000;

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The named exports of an image in memory, forwarders left out.
std::vector<TExport> ReadExports(const IMemoryReader& memory, uint64_t base) {
    std::vector<TExport> result;
    uint8_t dos[0x40];
    if (!memory.Read(base, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return result;
    uint64_t nt = base + Le32(dos + 0x3C);
    uint8_t head[24 + 0x80];
    if (!memory.Read(nt, head, sizeof head) || Le32(head) != 0x00004550) return result;
    const uint8_t* opt = head + 24;
    const bool is64 = (opt[0] | opt[1] << 8) == 0x20B;
    const uint8_t* dir = opt + (is64 ? 112 : 96);
    uint32_t dirRva = Le32(dir), dirSize = Le32(dir + 4);
    uint8_t ed[40];
    if (dirRva == 0 || !memory.Read(base + dirRva, ed, sizeof ed)) return result;
    uint32_t functions = Le32(ed + 20), names = Le32(ed + 24);
    if (functions > 65536 || names > 65536) return result;
    std::vector<uint32_t> addresses(functions), nameRvas(names);
    std::vector<uint16_t> ordinals(names);
    if (!memory.Read(base + Le32(ed + 28), addresses.data(), functions * 4) ||
        !memory.Read(base + Le32(ed + 32), nameRvas.data(), names * 4) ||
        !memory.Read(base + Le32(ed + 36), ordinals.data(), names * 2))
        return result;
    for (uint32_t i = 0; i < names; ++i) {
        if (ordinals[i] >= functions) continue;
        uint32_t rva = addresses[ordinals[i]];
        if (rva == 0 || (rva >= dirRva && rva - dirRva < dirSize)) continue;
        result.push_back({base + rva, nameRvas[i]});
    }
    std::sort(result.begin(), result.end(),
              [](const TExport& a, const TExport& b) { return a.Address < b.Address; });
    return result;
}

std::string ReadName(const IMemoryReader& memory, uint64_t at) {
    char buffer[256];
    std::string name;
    for (size_t chunk = 16; name.size() < MaxSymbolNameLength; chunk = 64) {
        size_t got = chunk;
        while (got > 0 && !memory.Read(at, buffer, got))
            got /= 2;
        if (got == 0) break;
        size_t n = strnlen(buffer, got);
        name.append(buffer, n);
        if (n < got) break;
        at += got;
    }
    return name;
}

} // namespace

struct TStackTraceCache::TState {
    std::vector<TTraceModule> Modules;
    std::vector<TTraceFunction> Functions;
    std::unordered_map<uint64_t, int> FunctionByStart;
};

TStackTraceCache::~TStackTraceCache() {
    delete FState;
}

void TStackTraceCache::Clear() {
    std::lock_guard<std::mutex> guard(FLock);
    delete FState;
    FState = nullptr;
}

size_t TStackTraceCache::FunctionCount() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FState ? FState->Functions.size() : 0;
}

// ---------------------------------------------------------------------------------------------
// One trace

struct TLink {
    int Target = -1;   // item, -1 none
    int Function = -1; // -1 unknown
    uint64_t CallTarget = 0;
    uint64_t CodeAddress = 0; // the call instruction
    bool TargetKnown = false;
    bool Scored = false;
    uint64_t Score = 0;
};

struct TItem {
    uint64_t Address = 0;
    uint64_t Code = 0; // where the top item's location moved to
    int Module = -1;
    bool Certain = false;
    bool Top = false;
    bool Creator = false;
    bool Hidden = false;
    std::vector<TLink> Own;     // the item's own call: its function, no target item
    std::vector<TLink> Callers; // towards outer items (lower numbers)
    std::vector<TLink> Callees; // towards inner items
    int BestCaller = -1;
    int BestCallee = -1;
};

class TStackTracer : public ISymbolResolver {
public:
    TStackTracer(TStackTraceCache& cache, const IMemoryReader& memory, const TMemorySnapshot& snapshot,
                 const TTraceRequest& request)
        : FCache(cache), FState(*cache.FState), FMemory(memory), FSnapshot(snapshot), FRequest(request),
          FSlot(SlotSize(request.Mode)) {}

    TTraceResult Run();

    bool NameAt(uint64_t address, std::string& name) const override;

private:
    bool Aborted() const { return FRequest.Abort && FRequest.Abort->load(std::memory_order_relaxed); }
    void Progress(int thousandths) {
        if (FRequest.Progress) FRequest.Progress(thousandths);
    }

    int ModuleAt(uint64_t address);
    int FunctionAt(uint64_t start, int module, const std::string& name, bool fromSymbols);
    TTraceFunction* Analysed(int index);
    int ContainingFunction(uint64_t address, int module);
    int ResolveThunks(uint64_t target);
    void Approve(int index);
    static bool InAreas(const TTraceFunction& f, uint64_t address);
    static const TFunctionCall* CallReturningTo(const TTraceFunction& f, uint64_t address);

    void Collect();
    bool Accept(uint64_t value, bool certain);
    void AddTop();
    void RemoveRecursion(bool remove);
    void DeepCheck();
    void FillLinks(int index, const TLink& call);
    void ChooseChains();
    uint64_t ScoreChain(bool callees, bool typed, int from, int to, int depth);
    bool HasLine(int item, uint64_t code);
    void Resolve(TTraceResult& result);

    TStackTraceCache& FCache;
    TStackTraceCache::TState& FState;
    const IMemoryReader& FMemory;
    const TMemorySnapshot& FSnapshot;
    const TTraceRequest& FRequest;
    const size_t FSlot;
    std::vector<TItem> FItems;
    uint64_t FPrevious = 0;
};

int TStackTracer::ModuleAt(uint64_t address) {
    for (size_t i = 0; i < FState.Modules.size(); ++i)
        if (address >= FState.Modules[i].Base && address < FState.Modules[i].End) return int(i);
    TSymbolModule found;
    if (!FCache.FPlatform.FindModule(address, found)) return -1;
    TTraceModule m;
    m.Base = found.Base;
    m.End = found.Base + std::max<uint64_t>(found.Layout.SizeOfImage, 0x1000);
    size_t slash = found.FileName.find_last_of("\\/");
    m.FileName = slash == std::string::npos ? found.FileName : found.FileName.substr(slash + 1);
    m.Code = {m.Base + found.Layout.CodeBase, m.Base + found.Layout.CodeTop};
    m.Second = {m.Base + found.Layout.CodeBase,
                m.Base + std::max(found.Layout.DataTop, found.Layout.CodeTop)};
    m.Entry = found.Layout.EntryPoint ? m.Base + found.Layout.EntryPoint : 0;
    m.IsProgram = found.Base == FCache.FProgramBase;
    TRef<TMapFile> symbols = FCache.FSymbols.SymbolsForAddress(address);
    if (symbols && symbols->Valid && symbols->Handle == found.Base) m.Symbols = symbols;
    if (!m.Symbols) m.Exports = ReadExports(FMemory, m.Base);
    // A module unloaded and another loaded at its place: the old entry goes.
    for (TTraceModule& old : FState.Modules)
        if (old.Base < m.End && m.Base < old.End) old.End = old.Base;
    FState.Modules.push_back(std::move(m));
    return int(FState.Modules.size() - 1);
}

int TStackTracer::FunctionAt(uint64_t start, int module, const std::string& name, bool fromSymbols) {
    if (auto it = FState.FunctionByStart.find(start); it != FState.FunctionByStart.end()) {
        TTraceFunction& f = FState.Functions[size_t(it->second)];
        if (f.Name.empty() && !name.empty()) f.Name = name;
        if (fromSymbols && !f.NameFromSymbols) {
            f.NameFromSymbols = true;
            Approve(it->second);
        }
        return it->second;
    }
    if (FState.Functions.size() >= MaxFunctions) return -1;
    TTraceFunction f;
    f.Module = module;
    f.Name = name;
    f.NameFromSymbols = fromSymbols;
    f.Start = start;
    FState.Functions.push_back(std::move(f));
    int index = int(FState.Functions.size() - 1);
    FState.FunctionByStart[start] = index;
    if (fromSymbols) Approve(index);
    return index;
}

TTraceFunction* TStackTracer::Analysed(int index) {
    if (index < 0) return nullptr;
    TTraceFunction* f = &FState.Functions[size_t(index)];
    if (!f->Analysed) {
        f->Analysed = true;
        const TCodeRange code =
            f->Module >= 0 ? FState.Modules[size_t(f->Module)].Code : TCodeRange{f->Start, f->Start + 1};
        f->Analysis = AnalyseFunction(FMemory, f->Start, code, this, FRequest.Mode);
        f = &FState.Functions[size_t(index)];
        if (!f->Analysis.Valid) f->Invalid = true;
    }
    if (f->Approved && !f->Spread) {
        f->Spread = true;
        std::vector<uint64_t> targets;
        for (const TFunctionCall& call : f->Analysis.Calls)
            targets.push_back(call.Target);
        for (uint64_t target : targets) {
            int callee = ResolveThunks(target);
            if (callee >= 0) Approve(callee);
        }
        f = &FState.Functions[size_t(index)];
    }
    return f;
}

void TStackTracer::Approve(int index) {
    if (index < 0) return;
    FState.Functions[size_t(index)].Approved = true;
}

bool TStackTracer::InAreas(const TTraceFunction& f, uint64_t address) {
    for (const TCodeArea& area : f.Analysis.Areas)
        if (area.Kind == TCodeAreaKind::Code && address >= area.Begin && address < area.End) return true;
    return false;
}

const TFunctionCall* TStackTracer::CallReturningTo(const TTraceFunction& f, uint64_t address) {
    for (const auto* list : {&f.Analysis.Calls, &f.Analysis.UnknownCalls})
        for (const TFunctionCall& call : *list)
            if (call.Next == address) return &call;
    return nullptr;
}

// The function whose code holds address: by symbol data, else (not for the program) the nearest
// export below it or the entry point, if nearer.
int TStackTracer::ContainingFunction(uint64_t address, int module) {
    if (module < 0) return -1;
    TTraceModule& m = FState.Modules[size_t(module)];
    if (m.Symbols) {
        const TMapPublic* p = m.Symbols->FindPublic(uint32_t(address - m.Base));
        if (!p) return -1;
        return FunctionAt(m.Base + p->Address, module, std::string(m.Symbols->PublicName(*p)), true);
    }
    if (m.IsProgram) return -1;
    auto it = std::upper_bound(m.Exports.begin(), m.Exports.end(), address,
                               [](uint64_t a, const TExport& e) { return a < e.Address; });
    uint64_t start = 0;
    uint32_t nameRva = 0;
    if (it != m.Exports.begin()) {
        start = std::prev(it)->Address;
        nameRva = std::prev(it)->NameRva;
    }
    if (m.Entry && m.Entry <= address && m.Entry > start) {
        start = m.Entry;
        nameRva = 0;
    }
    if (start == 0 || !m.Code.Contains(start)) return -1;
    if (auto found = FState.FunctionByStart.find(start); found != FState.FunctionByStart.end())
        return found->second;
    std::string name = nameRva ? ReadName(FMemory, m.Base + nameRva) : std::string();
    return FunctionAt(start, module, name, false);
}

// A call target, followed through jump thunks (import stubs, incremental-link jumps).
int TStackTracer::ResolveThunks(uint64_t target) {
    for (int hop = 0; hop < 4; ++hop) {
        int module = ModuleAt(target);
        if (module < 0 || !FState.Modules[size_t(module)].Code.Contains(target)) return -1;
        TX86Instruction ins;
        if (DecodeX86(FMemory, target, ins, FRequest.Mode) && ins.IsJump && !ins.IsConditional) {
            uint64_t next = ins.HasTarget ? ins.Target : ins.PointerValueValid ? ins.PointerValue : 0;
            // A jump that leads nowhere we know (an import not bound) leaves the thunk itself as
            // the function.
            const int nextModule = next && next != target ? ModuleAt(next) : -1;
            if (nextModule >= 0 && FState.Modules[size_t(nextModule)].Code.Contains(next)) {
                target = next;
                continue;
            }
        }
        const TTraceModule& m = FState.Modules[size_t(module)];
        if (auto it = FState.FunctionByStart.find(target); it != FState.FunctionByStart.end())
            return it->second;
        std::string name;
        bool fromSymbols = false;
        if (m.Symbols) {
            const TMapPublic* p = m.Symbols->FindPublic(uint32_t(target - m.Base));
            if (p && m.Base + p->Address == target) {
                name = m.Symbols->PublicName(*p);
                fromSymbols = true;
            }
        } else {
            NameAt(target, name);
        }
        return FunctionAt(target, module, name, fromSymbols);
    }
    return -1;
}

bool TStackTracer::NameAt(uint64_t address, std::string& name) const {
    for (const TTraceModule& m : FState.Modules) {
        if (address < m.Base || address >= m.End) continue;
        if (m.Symbols) {
            const TMapPublic* p = m.Symbols->FindPublic(uint32_t(address - m.Base));
            if (!p || m.Base + p->Address != address) return false;
            name = m.Symbols->PublicName(*p);
            return true;
        }
        auto it = std::lower_bound(m.Exports.begin(), m.Exports.end(), address,
                                   [](const TExport& e, uint64_t a) { return e.Address < a; });
        if (it == m.Exports.end() || it->Address != address) return false;
        name = ReadName(FMemory, m.Base + it->NameRva);
        return !name.empty();
    }
    if (auto it = FState.FunctionByStart.find(address); it != FState.FunctionByStart.end()) {
        name = FState.Functions[size_t(it->second)].Name;
        return !name.empty();
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Collecting candidates

bool TStackTracer::Accept(uint64_t value, bool certain) {
    if (value == FPrevious || value <= 7 || FItems.size() >= MaxItems) return false;
    if (!FSnapshot.InImage(value - 1) || !IsCallSite(FMemory, value, FRequest.Mode)) return false;
    int module = ModuleAt(value - 1);
    if (module < 0) return false;
    {
        const TTraceModule& m = FState.Modules[size_t(module)];
        if (!m.Code.Contains(value - 1) && !m.Second.Contains(value - 1)) return false;
    }
    TItem item;
    item.Address = item.Code = value;
    item.Module = module;
    item.Certain = certain;
    const bool symbols = bool(FState.Modules[size_t(module)].Symbols);
    int function = ContainingFunction(value - 1, module);
    if (const TTraceFunction* f = Analysed(function)) {
        if (const TFunctionCall* call = CallReturningTo(*f, value)) {
            TLink own;
            own.Function = function;
            own.CodeAddress = call->Address;
            own.CallTarget = call->Target;
            own.TargetKnown = call->TargetKnown;
            item.Own.push_back(own);
        } else if (!symbols && !InAreas(*f, value - 1) && !certain) {
            return false; // not inside the export it would be named after
        }
    }
    FPrevious = value;
    FItems.push_back(std::move(item));
    return true;
}

void TStackTracer::AddTop() {
    if (FRequest.CurrentAddress == 0) return;
    TItem top;
    top.Address = top.Code = FRequest.CurrentAddress;
    top.Top = top.Certain = true;
    top.Module = ModuleAt(top.Address);
    TX86Instruction call;
    uint64_t location = top.Address;
    // A raising routine's caller is the place to show, not the return address behind the call.
    if (CallBefore(FMemory, top.Address, FRequest.Mode, call)) {
        std::string name;
        uint64_t target = call.HasTarget ? call.Target : call.PointerValueValid ? call.PointerValue : 0;
        int callee = target ? ResolveThunks(target) : -1;
        if (callee >= 0) name = FState.Functions[size_t(callee)].Name;
        if (IsNoReturnName(name) || name.find("Raise") != std::string::npos ||
            name.find("Error") != std::string::npos)
            location = call.Address;
    }
    int function = ContainingFunction(location, top.Module);
    if (const TTraceFunction* f = Analysed(function)) {
        bool verified = false;
        for (const TCodeArea& area : f->Analysis.Areas) {
            if (area.Kind != TCodeAreaKind::Code || location < area.Begin || location >= area.End) continue;
            for (uint64_t at = area.Begin; at <= location;) {
                if (at == location) verified = true;
                TX86Instruction ins;
                if (!DecodeX86(FMemory, at, ins, FRequest.Mode)) break;
                at = ins.Next;
            }
        }
        if (verified) {
            TLink own;
            own.Function = function;
            own.CodeAddress = location;
            top.Own.push_back(own);
            top.Code = location;
        }
    }
    FItems.push_back(std::move(top));
}

void TStackTracer::Collect() {
    Progress(0);
    if (FRequest.CreatorAddress) {
        TItem creator;
        creator.Address = creator.Code = FRequest.CreatorAddress;
        creator.Creator = true;
        creator.Module = ModuleAt(creator.Address);
        int function = ContainingFunction(creator.Address, creator.Module);
        if (function >= 0) {
            TLink own;
            own.Function = function;
            own.CodeAddress = creator.Address;
            creator.Own.push_back(own);
        }
        FItems.push_back(std::move(creator));
    }
    const uint64_t exception =
        FRequest.IsException && FSnapshot.InImage(FRequest.CurrentAddress) ? FRequest.CurrentAddress : 0;
    bool topMet = false;
    auto take = [&](uint64_t value, uint8_t flag) -> bool {
        if (exception && value == exception) {
            topMet = true;
            return false;
        }
        return Accept(value, flag != PreparedPlain) && flag == PreparedFramePointer;
    };
    if (FRequest.Prepared && FRequest.Prepared->size() >= 4) {
        const std::vector<uint8_t>& p = *FRequest.Prepared;
        uint32_t count = Le32(p.data());
        size_t at = 4;
        for (uint32_t i = 0; i < count && at + 1 + FSlot <= p.size() && !topMet; ++i, at += 1 + FSlot) {
            uint64_t value = 0;
            std::memcpy(&value, p.data() + at + 1, FSlot);
            take(value, p[at]);
            if (Aborted()) return;
        }
    } else {
        const TStackRange& r = FRequest.Range;
        if (r.StackTop > r.StackPointer && r.StackTop - r.StackPointer >= FSlot) {
            std::vector<uint64_t> frames = FRequest.Mode == TX86Mode::Bits32
                                               ? FrameSlots(FMemory, r, FRequest.Mode)
                                               : std::vector<uint64_t>();
            std::sort(frames.begin(), frames.end());
            const uint64_t top = r.StackPointer + (r.StackTop - r.StackPointer) / FSlot * FSlot;
            std::vector<uint8_t> stack(size_t(top - r.StackPointer));
            if (!FMemory.Read(r.StackPointer, stack.data(), stack.size())) stack.clear();
            for (uint64_t at = r.StackPointer + stack.size(); at >= r.StackPointer + FSlot && !topMet;) {
                at -= FSlot;
                uint64_t value = 0;
                std::memcpy(&value, stack.data() + (at - r.StackPointer), FSlot);
                bool frame = std::binary_search(frames.begin(), frames.end(), at);
                if (take(value, frame ? PreparedFramePointer : PreparedPlain) && at >= r.StackPointer + FSlot)
                    at -= FSlot;
                if (Aborted()) return;
            }
        }
    }
    if (!FRequest.DontAddTopItem || topMet) AddTop();
}

// ---------------------------------------------------------------------------------------------
// Recursion

void TStackTracer::RemoveRecursion(bool remove) {
    for (bool changed = true; changed && !Aborted();) {
        changed = false;
        std::vector<int> visible;
        for (size_t i = 0; i < FItems.size(); ++i)
            if (!FItems[i].Hidden) visible.push_back(int(i));
        // Positions within the visible list, innermost first.
        for (int inner = int(visible.size()) - 1; inner > 0 && !changed; --inner) {
            const uint64_t address = FItems[size_t(visible[size_t(inner)])].Address;
            int outer = inner - 1;
            while (outer >= 0 && FItems[size_t(visible[size_t(outer)])].Address != address)
                --outer;
            if (outer < 0) continue;
            const int j = inner - outer - 1;
            if (outer < j) continue;
            bool same = true;
            for (int k = 1; k <= j && same; ++k)
                same = FItems[size_t(visible[size_t(inner - k)])].Address ==
                       FItems[size_t(visible[size_t(outer - k)])].Address;
            if (!same) continue;
            // The top and the creator stay, whatever repeats them.
            bool fixed = false;
            for (int k = outer + 1; k <= inner; ++k)
                fixed |= FItems[size_t(visible[size_t(k)])].Top || FItems[size_t(visible[size_t(k)])].Creator;
            if (fixed) continue;
            // The inner block: the item and the j items between the two occurrences.
            if (remove) {
                std::vector<int> gone(visible.begin() + outer + 1, visible.begin() + inner + 1);
                std::vector<int> newIndex(FItems.size(), -1);
                std::vector<TItem> kept;
                for (size_t i = 0; i < FItems.size(); ++i) {
                    if (std::find(gone.begin(), gone.end(), int(i)) != gone.end()) continue;
                    newIndex[i] = int(kept.size());
                    kept.push_back(std::move(FItems[i]));
                }
                for (TItem& item : kept)
                    for (auto* list : {&item.Callers, &item.Callees}) {
                        std::erase_if(*list, [&](const TLink& l) {
                            return l.Target >= 0 && newIndex[size_t(l.Target)] < 0;
                        });
                        for (TLink& l : *list)
                            if (l.Target >= 0) l.Target = newIndex[size_t(l.Target)];
                    }
                FItems = std::move(kept);
            } else {
                for (int k = outer + 1; k <= inner; ++k)
                    FItems[size_t(visible[size_t(k)])].Hidden = true;
            }
            changed = true;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Deep check

void TStackTracer::FillLinks(int index, const TLink& call) {
    TItem& from = FItems[size_t(index)];
    int callee = call.TargetKnown ? ResolveThunks(call.CallTarget) : -1;
    const TTraceFunction* f = call.TargetKnown ? Analysed(callee) : nullptr;
    if (call.TargetKnown && !f) return;
    for (size_t k = size_t(index) + 1; k < FItems.size(); ++k) {
        TItem& inner = FItems[k];
        if (!inner.Hidden && !inner.Creator) {
            // The code in front of the inner item: its call, or the top item's own location.
            uint64_t innerCall = inner.Top           ? inner.Code
                                 : inner.Own.empty() ? inner.Address - 1
                                                     : inner.Own.front().CodeAddress;
            bool linked =
                !call.TargetKnown ||
                (f && (InAreas(*f, innerCall) || (!inner.Top && CallReturningTo(*f, inner.Address))));
            if (linked) {
                TLink down;
                down.Target = int(k);
                down.Function = call.TargetKnown ? callee : -1;
                down.CallTarget = call.CallTarget;
                down.TargetKnown = call.TargetKnown;
                down.CodeAddress = call.CodeAddress;
                FItems[size_t(index)].Callees.push_back(down);
                TLink up = down;
                up.Target = index;
                up.CodeAddress = inner.Top           ? inner.Code
                                 : inner.Own.empty() ? 0
                                                     : inner.Own.front().CodeAddress;
                inner.Callers.push_back(up);
            }
        }
        if (inner.Certain) break;
    }
    (void)from;
}

void TStackTracer::DeepCheck() {
    const size_t n = FItems.size();
    for (size_t i = 0; i < n; ++i) {
        if (Aborted()) return;
        Progress(25 + int(625 * i / std::max<size_t>(n, 1)));
        TItem& item = FItems[i];
        if (item.Creator || item.Hidden || item.Top) continue;
        auto approvedLink = [&]() -> int {
            for (size_t l = 0; l < item.Own.size(); ++l) {
                const TTraceFunction& f = FState.Functions[size_t(item.Own[l].Function)];
                if (f.Approved && !f.Invalid) return int(l);
            }
            return -1;
        };
        int approved = approvedLink();
        if (approved < 0) {
            // The first approved function whose code holds the item's call.
            for (size_t fi = 0; fi < FState.Functions.size(); ++fi) {
                TTraceFunction& f = FState.Functions[fi];
                if (!f.Approved || f.Invalid || !f.Analysed || !InAreas(f, item.Address - 1)) continue;
                if (const TFunctionCall* call = CallReturningTo(f, item.Address)) {
                    TLink own;
                    own.Function = int(fi);
                    own.CodeAddress = call->Address;
                    own.CallTarget = call->Target;
                    own.TargetKnown = call->TargetKnown;
                    FItems[i].Own.insert(FItems[i].Own.begin(), own);
                    approved = 0;
                } else {
                    FItems[i].Hidden = true;
                }
                break;
            }
            if (FItems[i].Hidden) continue;
        }
        TItem& checked = FItems[i];
        if (approved >= 0) {
            for (size_t l = 0; l < checked.Own.size(); ++l)
                if (int(l) != approved && checked.Own[l].Function != checked.Own[size_t(approved)].Function)
                    FState.Functions[size_t(checked.Own[l].Function)].Invalid = true;
            TLink call = checked.Own[size_t(approved)];
            FillLinks(int(i), call);
        } else if (!checked.Own.empty()) {
            TLink call = checked.Own.front();
            FillLinks(int(i), call);
        } else {
            TX86Instruction ins;
            if (CallBefore(FMemory, checked.Address, FRequest.Mode, ins)) {
                TLink call;
                call.CodeAddress = ins.Address;
                call.TargetKnown = ins.HasTarget || ins.PointerValueValid;
                call.CallTarget = ins.HasTarget ? ins.Target : ins.PointerValue;
                FillLinks(int(i), call);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Choosing the chain

bool TStackTracer::HasLine(int item, uint64_t code) {
    const TItem& it = FItems[size_t(item)];
    if (it.Module < 0 || code == 0) return false;
    const TTraceModule& m = FState.Modules[size_t(it.Module)];
    return m.Symbols && code >= m.Base && m.Symbols->FindLine(uint32_t(code - m.Base)).Line > 0;
}

uint64_t TStackTracer::ScoreChain(bool callees, bool typed, int from, int to, int depth) {
    uint64_t best = ScoreStart;
    int bestLink = -1;
    if (Aborted() || depth > 4000) return best;
    const bool down = callees;
    const size_t count = (down ? FItems[size_t(from)].Callees : FItems[size_t(from)].Callers).size();
    for (size_t l = 0; l < count; ++l) {
        TLink link = (down ? FItems[size_t(from)].Callees : FItems[size_t(from)].Callers)[l];
        const int t = link.Target;
        if (t < 0 || FItems[size_t(t)].Hidden) continue;
        if (down ? (t <= from || t > to) : (t >= from || t < to)) continue;
        if (!link.Scored) {
            const bool known = link.Function >= 0;
            uint64_t score = t == to ? (known ? ScoreEndKnown : ScoreEndUnknown)
                                     : ScoreChain(callees, typed && known, t, to, depth + 1);
            int e = 0;
            if (!known) {
                score &= ~ScoreTypedBit;
            } else {
                e = (typed || (score & ScoreTypedBit)) ? 28 : 14;
                if (FState.Functions[size_t(link.Function)].Approved) e += 14;
            }
            const TItem& a = FItems[size_t(from)];
            const TItem& b = FItems[size_t(t)];
            if (a.Module >= 0 && b.Module >= 0 && FState.Modules[size_t(a.Module)].Symbols) {
                bool mine = HasLine(from, a.Own.empty() ? a.Code : a.Own.front().CodeAddress);
                bool theirs = HasLine(t, b.Own.empty() ? b.Code : b.Own.front().CodeAddress);
                e += mine && theirs ? 9 : mine ? 6 : 3;
            }
            score += uint64_t(1) << e;
            TLink& stored = (down ? FItems[size_t(from)].Callees : FItems[size_t(from)].Callers)[l];
            stored.Score = score;
            stored.Scored = true;
            link = stored;
        }
        if (link.Score > best) {
            best = link.Score;
            bestLink = int(l);
        }
    }
    (down ? FItems[size_t(from)].BestCallee : FItems[size_t(from)].BestCaller) = bestLink;
    return best;
}

void TStackTracer::ChooseChains() {
    std::vector<int> certain;
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Certain && !FItems[i].Creator) certain.push_back(int(i));
    if (certain.empty()) return;
    std::vector<std::pair<int, int>> stretches;
    for (size_t c = certain.size() - 1; c > 0; --c)
        stretches.push_back({certain[c - 1], certain[c]});
    if (certain.front() > 0) stretches.push_back({0, certain.front()});
    for (size_t s = 0; s < stretches.size(); ++s) {
        if (Aborted()) return;
        Progress(650 + int(350 * s / stretches.size()));
        auto [a, b] = stretches[s];
        if (b - a <= 1) continue;
        for (TItem& item : FItems) {
            for (TLink& l : item.Callees)
                l.Scored = false;
            for (TLink& l : item.Callers)
                l.Scored = false;
        }
        const uint64_t down = ScoreChain(true, true, a, b, 0);
        const uint64_t up = (down & ScoreReachedBit) ? 0 : ScoreChain(false, true, b, a, 0);
        for (int i = a + 1; i < b; ++i)
            FItems[size_t(i)].Hidden = true;
        // The start of the list is no certain point of its own (unless it is the creator): shown
        // only when the chosen chain passes through it, or the outermost frame of a thread could
        // be any stale value from the top of its stack (a start address pushed as a parameter).
        if (a == 0 && !FItems[0].Certain && !FItems[0].Creator && !(down > up && (down & ScoreReachedBit)))
            FItems[0].Hidden = true;
        // A walk that does not reach the other end follows only links to known functions: one
        // through a call of unknown target joins nothing for sure, and a stale return address is
        // as likely there as a real frame.
        const bool reached = ((down > up ? down : up) & ScoreReachedBit) != 0;
        if (down > up) {
            for (int i = a; i < b;) {
                const TItem& item = FItems[size_t(i)];
                if (item.BestCallee < 0) break;
                const TLink& link = item.Callees[size_t(item.BestCallee)];
                if (link.Target <= i || link.Target > b || (!reached && link.Function < 0)) break;
                FItems[size_t(link.Target)].Hidden = false;
                i = link.Target;
            }
        } else {
            for (int i = b; i > a;) {
                const TItem& item = FItems[size_t(i)];
                if (item.BestCaller < 0) break;
                const TLink& link = item.Callers[size_t(item.BestCaller)];
                if (link.Target >= i || link.Target < a || (!reached && link.Function < 0)) break;
                FItems[size_t(link.Target)].Hidden = false;
                i = link.Target;
            }
        }
    }
    Progress(1000);
}

// ---------------------------------------------------------------------------------------------
// Resolution

void TStackTracer::Resolve(TTraceResult& result) {
    uint64_t lastShown = 0;
    bool anyShown = false;
    for (size_t n = FItems.size(); n-- > 0;) {
        const TItem& item = FItems[n];
        if (item.Hidden) continue;
        TTraceLine line;
        int function = -1;
        uint64_t location = 0;
        for (const auto* list : {&item.Own, &item.Callers}) {
            for (const TLink& l : *list)
                if (l.Function >= 0 && FState.Functions[size_t(l.Function)].Approved &&
                    !FState.Functions[size_t(l.Function)].Invalid && l.CodeAddress) {
                    function = l.Function;
                    location = l.CodeAddress;
                    break;
                }
            if (location) break;
        }
        if (!location)
            for (const auto* list : {&item.Own, &item.Callers}) {
                for (const TLink& l : *list)
                    if (l.CodeAddress) {
                        location = l.CodeAddress;
                        if (l.Function >= 0 && !FState.Functions[size_t(l.Function)].Invalid)
                            function = l.Function;
                        break;
                    }
                if (location) break;
            }
        if (!location && item.BestCaller >= 0 && item.Callers[size_t(item.BestCaller)].CodeAddress)
            location = item.Callers[size_t(item.BestCaller)].CodeAddress;
        if (!location) location = item.Code;
        line.Address = location;
        if (function >= 0) {
            line.Function = FState.Functions[size_t(function)].Name;
            line.FunctionStart = FState.Functions[size_t(function)].Start;
            line.FunctionStartKnown = true;
        }
        const TTraceModule* m = item.Module >= 0 ? &FState.Modules[size_t(item.Module)] : nullptr;
        line.Module = m ? m->FileName : "???";
        if (m && m->Symbols && location >= m->Base) {
            const TMapFile& map = *m->Symbols;
            const uint32_t rva = uint32_t(location - m->Base);
            if (line.Function.empty())
                if (const TMapPublic* p = map.FindPublic(rva)) {
                    line.Function = map.PublicName(*p);
                    line.FunctionStart = m->Base + p->Address;
                    line.FunctionStartKnown = true;
                }
            if (const TMapSegment* segment = map.FindSegment(true, rva))
                line.Unit = map.UnitName(segment->Unit);
            line.Line = std::max(map.FindLine(rva).Line, 0);
            if (line.Line > 0) result.HasLines = true;
            if (FRequest.ShowRelativeLines && line.Line > 0 && line.FunctionStartKnown &&
                line.FunctionStart >= m->Base) {
                int first = map.FindLine(uint32_t(line.FunctionStart - m->Base)).Line;
                // A line in front of the function's first comes from code inlined into it.
                if (first > 0 && line.Line >= first) {
                    line.RelLine = line.Line - first;
                    line.RelLineKnown = true;
                }
            }
            if (!line.Function.empty()) {
                bool known = false;
                for (const auto& named : result.Named)
                    known |= named.Name == line.Function && named.Module == line.Module;
                if (!known) result.Named.push_back({line.Function, line.Module});
            }
        }
        if (!result.ExceptionLocation && (line.FunctionStartKnown || item.Top)) {
            result.ExceptionLocation = location;
            result.ExceptionFunction = line.FunctionStartKnown ? line.FunctionStart : 0;
        }
        const bool always = item.Top || item.Creator;
        if (!always && (line.Function.empty() || (FRequest.HideUglyItems && line.Line <= 0))) continue;
        if (anyShown && location == lastShown) continue;
        lastShown = location;
        anyShown = true;
        result.Lines.push_back(std::move(line));
    }
}

TTraceResult TStackTracer::Run() {
    TTraceResult result;
    const char* stage = "CollectPossibleStackItems";
    try {
        Collect();
        Progress(25);
        if (!Aborted()) {
            stage = "RemoveRecursiveStackAreas";
            RemoveRecursion(true);
        }
        if (!Aborted()) {
            stage = "InDeepChecks";
            DeepCheck();
        }
        if (!Aborted()) {
            stage = "RealizeOptimalLinkChains";
            ChooseChains();
        }
        if (!Aborted()) {
            stage = "RemoveRecursiveAreas";
            RemoveRecursion(false);
        }
        result.Aborted = Aborted();
        stage = "FillFinalOutput";
        Resolve(result);
    } catch (...) {
        result = TTraceResult();
        result.Error = std::string(">> internal error in ") + stage + ":";
    }
    return result;
}

TTraceResult TStackTraceCache::Trace(const IMemoryReader& raw, const TMemorySnapshot& snapshot,
                                     const TTraceRequest& request) {
    std::lock_guard<std::mutex> guard(FLock);
    if (!FState) FState = new TState();
    TCheckedMemoryReader memory(raw, snapshot);
    TStackTracer tracer(*this, memory, snapshot, request);
    return tracer.Run();
}
