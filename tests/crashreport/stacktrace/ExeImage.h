#pragma once
// A Windows exe mapped as the loader would map it (headers and sections at their RVAs), as the
// module of a synthetic process: for stack traces over real machine code of our own builds.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crashreport/base/MemoryReader.h"
#include "crashreport/symbols/SymbolCache.h"
#include "crashreport/x86/Decoder.h"

class TExeImage : public ISymbolPlatform {
public:
    std::string Path;
    uint64_t Base = 0;
    std::vector<uint8_t> Image;
    TPeLayout Layout;
    TX86Mode Mode = TX86Mode::Bits32;

    // False when the file is missing or is no PE image.
    bool Load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (file.size() < 0x400 || !ParsePeLayout(file, Layout)) return false;
        Path = path;
        Base = Layout.ImageBase;
        Mode = Layout.Is64 ? TX86Mode::Bits64 : TX86Mode::Bits32;
        Image.assign(Layout.SizeOfImage, 0);
        const uint32_t nt = U32(file, 0x3C);
        const uint32_t sections = U16(file, nt + 6), optSize = U16(file, nt + 20);
        const uint32_t headers = U32(file, nt + 24 + 60);
        std::memcpy(Image.data(), file.data(), std::min<size_t>({headers, file.size(), Image.size()}));
        for (uint32_t i = 0; i < sections; ++i) {
            const size_t s = nt + 24 + optSize + 40 * i;
            const uint32_t rva = U32(file, s + 12), raw = U32(file, s + 16), at = U32(file, s + 20);
            const size_t size = std::min<size_t>({raw, file.size() - std::min<size_t>(at, file.size()),
                                                  Image.size() - std::min<size_t>(rva, Image.size())});
            std::memcpy(Image.data() + rva, file.data() + at, size);
        }
        return true;
    }

    bool FindModule(uint64_t address, TSymbolModule& module) override {
        if (address < Base || address >= Base + Image.size()) return false;
        module.FileName = Path;
        module.Base = Base;
        module.Layout = Layout;
        return true;
    }
    // The symbol data comes from the text map the build writes beside the exe.
    bool ReadEmbedded(const TSymbolModule&, std::vector<uint8_t>&) override { return false; }
    bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& data) override {
        std::ifstream in(path, std::ios::binary);
        if (!in) return false;
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return data.size() <= limit;
    }

private:
    static uint32_t U16(const std::vector<uint8_t>& b, size_t at) {
        return at + 2 <= b.size() ? b[at] | b[at + 1] << 8 : 0;
    }
    static uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
        return U16(b, at) | U16(b, at + 2) << 16;
    }
};

#include "crashreport/stacktrace/StackTrace.h"

// A call chain through the exe's own functions, found in its code: F0 calls F1 … calls Fn, each
// call direct. The stack holds the return addresses outermost first, with a stale return address
// of each function's other calls in between; the thread stands at the entry of Fn.
struct TImageChain {
    std::vector<uint64_t> Stack; // outermost first
    uint64_t Top = 0;
    std::vector<std::string> Expected; // innermost first
};

inline bool FindImageChain(const TExeImage& exe, const TMapFile& map, size_t depth, TImageChain& chain) {
    TSpanMemoryReader memory(exe.Base, exe.Image);
    const TCodeRange code{exe.Base + map.CodeBase, exe.Base + map.CodeTop};
    auto named = [&](uint64_t address) -> const TMapPublic* {
        const TMapPublic* p = address >= exe.Base ? map.FindPublic(uint32_t(address - exe.Base)) : nullptr;
        return p && exe.Base + p->Address == address ? p : nullptr;
    };
    std::vector<uint64_t> path;
    std::vector<uint64_t> returns;
    size_t tries = 0;
    auto dfs = [&](auto& self, uint64_t function) -> bool {
        if (path.size() == depth + 1) return true;
        if (++tries > 20000) return false;
        TFunctionAnalysis f = AnalyseFunction(memory, function, code, nullptr, exe.Mode);
        for (const TFunctionCall& call : f.Calls) {
            // The symbol data must agree that the call lies in this function (code that GCC shares
            // between a function and its split parts belongs to either).
            const TMapPublic* caller = map.FindPublic(uint32_t(call.Next - 1 - exe.Base));
            if (!caller || exe.Base + caller->Address != function) continue;
            if (!named(call.Target) || std::find(path.begin(), path.end(), call.Target) != path.end())
                continue;
            path.push_back(call.Target);
            returns.push_back(call.Next);
            if (self(self, call.Target)) return true;
            path.pop_back();
            returns.pop_back();
        }
        return false;
    };
    for (const TMapPublic& p : map.Publics()) {
        path = {exe.Base + p.Address};
        returns.clear();
        if (!dfs(dfs, path.front())) continue;
        chain = TImageChain();
        // Stale frames: each function's return address from an earlier call off the chain,
        // left where its callee's frame now lies.
        for (size_t i = 0; i < returns.size(); ++i) {
            chain.Stack.push_back(returns[i]);
            for (const TFunctionCall& call : AnalyseFunction(memory, path[i], code, nullptr, exe.Mode).Calls)
                if (call.Next != returns[i] &&
                    std::find(path.begin(), path.end(), call.Target) == path.end()) {
                    chain.Stack.push_back(call.Next);
                    break;
                }
        }
        chain.Top = path.back();
        for (size_t i = path.size(); i-- > 0;)
            chain.Expected.emplace_back(map.PublicName(*named(path[i])));
        return true;
    }
    return false;
}

// The chain as one thread's stack in memory below the image, traced through a cache.
struct TImageProcess {
    const TExeImage& Exe;
    std::vector<uint8_t> Stack;
    uint64_t StackBase = 0x10000;
    TMemorySnapshot Snapshot;

    TImageProcess(const TExeImage& exe, const TImageChain& chain) : Exe(exe) {
        const size_t slot = exe.Mode == TX86Mode::Bits64 ? 8 : 4;
        Stack.assign((chain.Stack.size() + 4) * slot, 0);
        size_t at = Stack.size();
        for (uint64_t v : chain.Stack) {
            at -= slot;
            std::memcpy(&Stack[at], &v, slot);
        }
        Snapshot.Add(StackBase, StackBase + Stack.size(), false);
        Snapshot.Add(exe.Base, exe.Base + exe.Image.size(), true);
    }

    TTraceResult Trace(TStackTraceCache& cache, uint64_t top) const {
        TBlockReader memory{{Exe.Base, Exe.Image}, {StackBase, Stack}};
        TTraceRequest request;
        request.Mode = Exe.Mode;
        request.Range = {StackBase, StackBase + Stack.size(), 0};
        request.CurrentAddress = top;
        return cache.Trace(memory, Snapshot, request);
    }

private:
    struct TBlockReader : IMemoryReader {
        TSpanMemoryReader A, B;
        TBlockReader(TSpanMemoryReader a, TSpanMemoryReader b) : A(a), B(b) {}
        bool Read(uint64_t address, void* buffer, size_t size) const override {
            return A.Read(address, buffer, size) || B.Read(address, buffer, size);
        }
        const uint8_t* View(uint64_t address, size_t& available) const override {
            const uint8_t* v = A.View(address, available);
            return v ? v : B.View(address, available);
        }
    };
};
