#include "crashreport/stacktrace/StackTrace.h"

#include <gtest/gtest.h>

#include <cstring>

#include "crashreport/symbols/SymbolData.h"
#include "tests/crashreport/x86/DecoderTestSupport.h"

namespace {

using DecoderTest::Hex;

TEST(StackTrace, CallSiteForms) {
    struct TCase {
        const char* Bytes; // the 8 bytes in front of the value
        bool Bits32, Bits64;
    };
    const TCase cases[] = {
        {"90 90 90 E8 10 20 30 40", true, true},   // call rel32
        {"90 90 90 90 90 90 FF D0", true, true},   // call eax
        {"90 90 90 90 90 41 FF D3", true, true},   // call r11 (REX in front)
        {"90 90 90 90 90 FF 50 08", true, true},   // call [eax+8]
        {"90 90 90 90 FF 54 24 08", true, true},   // call [esp+8]
        {"90 90 FF 15 00 10 40 00", true, true},   // call [imm32] / call [rip+disp32]
        {"90 FF 94 24 10 01 00 00", true, true},   // call [esp+disp32]
        {"90 90 90 90 90 90 FF 18", true, true},   // call far [eax]
        {"90 9A 00 10 40 00 08 00", true, false},  // call far ptr: 32-bit code only
        {"90 90 90 90 90 90 FF E0", false, false}, // jmp eax: register field 4
        {"90 90 90 90 90 90 FF 30", false, false}, // push [eax]: register field 6
        {"90 90 90 90 E8 10 20 30", false, false}, // a call one byte short of the value
        {"90 90 90 90 90 90 90 90", false, false}, // no call at all
    };
    for (const TCase& c : cases) {
        std::vector<uint8_t> bytes = Hex(c.Bytes);
        TSpanMemoryReader memory(0x1000, bytes);
        EXPECT_EQ(IsCallSite(memory, 0x1008, TX86Mode::Bits32), c.Bits32) << c.Bytes;
        EXPECT_EQ(IsCallSite(memory, 0x1008, TX86Mode::Bits64), c.Bits64) << c.Bytes;
    }
    // Unreadable bytes in front: no call site.
    std::vector<uint8_t> bytes = Hex("E8 10 20 30 40");
    TSpanMemoryReader memory(0x1000, bytes);
    EXPECT_FALSE(IsCallSite(memory, 0x1005, TX86Mode::Bits32));
}

// A small 32-bit program: Main calls A, A calls B, B calls C, C calls A again (recursion) or
// Leaf; D also calls C but is not on the stack. Each function is 16 bytes with a frame.
constexpr uint64_t Base = 0x400000;
constexpr uint64_t Code = Base + 0x1000;
enum : uint64_t {
    Main = Code,
    A = Code + 0x10,
    B = Code + 0x20,
    C = Code + 0x30,
    D = Code + 0x40,
    Leaf = Code + 0x50
};

struct TProgram : ISymbolPlatform {
    std::vector<uint8_t> Image = std::vector<uint8_t>(0x2000, 0xCC);
    std::vector<uint8_t> Stack;
    uint64_t StackBase = 0x200000;

    TProgram() {
        auto call = [&](uint64_t at, uint64_t target) {
            uint8_t* p = &Image[at - Base];
            p[0] = 0xE8;
            int32_t rel = int32_t(target - (at + 5));
            std::memcpy(p + 1, &rel, 4);
        };
        for (uint64_t f : {Main, A, B, C, D, Leaf}) {
            std::vector<uint8_t> frame = Hex("55 89 E5 90 90 90 90 90 90 90 90 90 90 5D C3");
            std::memcpy(&Image[f - Base], frame.data(), frame.size());
        }
        call(Main + 3, A);
        call(A + 3, B);
        call(B + 3, C);
        call(C + 3, A);
        call(C + 8, Leaf);
        call(D + 3, C);
    }
    // The return address behind a function's call (C's second call for Leaf).
    static uint64_t Return(uint64_t caller, bool second = false) { return caller + (second ? 13 : 8); }

    bool FindModule(uint64_t address, TSymbolModule& module) override {
        if (address < Base || address >= Base + Image.size()) return false;
        module.FileName = "C:\\Zembrak\\Chain.exe";
        module.Base = Base;
        module.Layout.SizeOfImage = uint32_t(Image.size());
        module.Layout.CodeBase = 0x1000;
        module.Layout.CodeTop = 0x1100;
        module.Layout.DataTop = 0x2000;
        return true;
    }
    bool ReadEmbedded(const TSymbolModule&, std::vector<uint8_t>& data) override {
        TRef<TMapFile> map = MakeRef<TMapFile>();
        uint32_t unit = map->AddUnit("Chain");
        map->AddSegment(0x1000, 0x100, unit, TSegmentClass::Code);
        const char* names[] = {"Main", "A", "B", "C", "D", "Leaf"};
        for (uint32_t i = 0; i < 6; ++i) {
            map->AddPublic(0x1000 + 0x10 * i, names[i]);
            map->AddLine(0x1000 + 0x10 * i, int32_t(10 * i + 1), unit);
            map->AddLine(0x1003 + 0x10 * i, int32_t(10 * i + 2), unit);
            map->AddLine(0x1008 + 0x10 * i, int32_t(10 * i + 3), unit);
        }
        map->Finish();
        data = PackSymbolData(*map);
        return true;
    }
    bool ReadWholeFile(const std::string&, size_t, std::vector<uint8_t>&) override { return false; }

    // The stack from its top (outermost value first) down to the stack pointer.
    void Push(const std::vector<uint64_t>& outerFirst) {
        Stack.assign(outerFirst.size() * 4 + 16, 0);
        size_t at = Stack.size();
        for (uint64_t v : outerFirst) {
            at -= 4;
            uint32_t v32 = uint32_t(v);
            std::memcpy(&Stack[at], &v32, 4);
        }
    }
    TStackRange Range() const { return {StackBase, StackBase + Stack.size(), 0}; }

    std::vector<std::string> Trace(bool prepared = false, uint64_t current = Leaf + 3) {
        DecoderTest::TBlocks memory;
        memory.Add(Base, Image);
        memory.Add(StackBase, Stack);
        TMemorySnapshot snapshot;
        snapshot.Add(StackBase, StackBase + Stack.size(), false);
        snapshot.Add(Base, Base + Image.size(), true);
        TSymbolCache symbols(*this);
        TStackTraceCache cache(*this, symbols, Base);
        TTraceRequest request;
        request.Range = Range();
        request.CurrentAddress = current;
        std::vector<uint8_t> prepare;
        if (prepared) {
            prepare = PrepareStack(memory, request.Range, TX86Mode::Bits32, 0);
            request.Prepared = &prepare;
        }
        TTraceResult result = cache.Trace(memory, snapshot, request);
        std::vector<std::string> lines;
        for (const TTraceLine& line : result.Lines)
            lines.push_back(line.Function + ":" + std::to_string(line.Line));
        return lines;
    }
};

std::vector<uint64_t> Recursion(int repeats, std::vector<uint64_t> junk = {}) {
    std::vector<uint64_t> stack = {0x12345678, TProgram::Return(Main)};
    for (int i = 0; i < repeats; ++i) {
        stack.push_back(TProgram::Return(A));
        stack.insert(stack.end(), junk.begin(), junk.end());
        stack.push_back(TProgram::Return(B));
        stack.push_back(i + 1 < repeats ? TProgram::Return(C) : TProgram::Return(C, true));
        stack.push_back(7);
    }
    return stack;
}

TEST(StackTrace, ChainThroughRecursionAndJunk) {
    TProgram program;
    program.Push(Recursion(1));
    const std::vector<std::string> once = {"Leaf:52", "C:33", "B:22", "A:12", "Main:2"};
    EXPECT_EQ(program.Trace(), once);
    EXPECT_EQ(program.Trace(true), once);

    // Five rounds of A, B, C leave one repetition.
    program.Push(Recursion(5));
    const std::vector<std::string> twice = {"Leaf:52", "C:33", "B:22", "A:12",
                                            "C:32",    "B:22", "A:12", "Main:2"};
    EXPECT_EQ(program.Trace(), twice);
    program.Push(Recursion(2));
    EXPECT_EQ(program.Trace(), twice);

    // Stale return addresses that belong to no chain between A and B: one into D (which calls C
    // but is not called by A), one that is no call site at all.
    program.Push(Recursion(1, {TProgram::Return(D), Main + 5}));
    EXPECT_EQ(program.Trace(), once);
    EXPECT_EQ(program.Trace(true), once);

    // A thread stopped right behind a call whose return address is also further out on the
    // stack: the top item is kept, not taken for a repetition.
    program.Push({TProgram::Return(Main), TProgram::Return(A), TProgram::Return(B)});
    const std::vector<std::string> top = {"B:23", "A:12", "Main:2"};
    EXPECT_EQ(program.Trace(false, TProgram::Return(B)), top);
}

TEST(StackTrace, PreparedStackFormat) {
    TProgram program;
    // From the top: a plain return address, a frame (return address above the saved frame
    // pointer, which here holds a call-site value), the exception address, one more below it.
    program.Push({0, TProgram::Return(Main), TProgram::Return(D), TProgram::Return(B), TProgram::Return(A),
                  TProgram::Return(C)});
    TStackRange range = program.Range();
    range.FramePointer = range.StackTop - 4 * 4;
    DecoderTest::TBlocks memory;
    memory.Add(Base, program.Image);
    memory.Add(program.StackBase, program.Stack);
    std::vector<uint8_t> prepared = PrepareStack(memory, range, TX86Mode::Bits32, TProgram::Return(A));
    uint32_t count;
    std::memcpy(&count, prepared.data(), 4);
    ASSERT_EQ(prepared.size(), 4u + 5 * count);
    std::vector<std::pair<int, uint32_t>> entries;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t value;
        std::memcpy(&value, &prepared[4 + 5 * i + 1], 4);
        entries.push_back({prepared[4 + 5 * i], value});
    }
    const std::vector<std::pair<int, uint32_t>> expected = {
        {PreparedPlain, uint32_t(TProgram::Return(Main))},
        {PreparedFramePointer, uint32_t(TProgram::Return(D))}};
    EXPECT_EQ(entries, expected);
}

} // namespace
