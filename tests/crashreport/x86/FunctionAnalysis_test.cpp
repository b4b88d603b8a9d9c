#include "crashreport/x86/FunctionListing.h"

#include "tests/crashreport/x86/DecoderTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace DecoderTest;

const TCodeRange TestCode{0x401000, 0x402000};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// A switch: cmp eax, 5 / ja default / jmp [eax*4+table] with the table right after the jump.
TBlocks SwitchFunction() {
    TBlocks m;
    m.Add(0x401000, Hex("55 89 E5 8B 45 08 83 F8 05 77 1F FF 24 85 12 10 40 00"
                        " 2E 10 40 00 31 10 40 00 34 10 40 00 37 10 40 00 3A 10 40 00 3D 10 40 00"
                        " 31 C0 5D C3"                                              // default, 40102A
                        " 40 5D C3 40 5D C3 40 5D C3 40 5D C3 40 5D C3 40 5D C3")); // cases from 40102E
    return m;
}

} // namespace

TEST(FunctionAnalysis, SwitchYieldsJumpTableAndCaseAreas) {
    const TBlocks m = SwitchFunction();
    const TFunctionAnalysis f = AnalyseFunction(m, 0x401000, TestCode);
    ASSERT_TRUE(f.Valid) << f.ErrorText;
    ASSERT_EQ(f.Areas.size(), 9u);
    EXPECT_EQ(f.Areas[0].Begin, 0x401000u);
    EXPECT_EQ(f.Areas[0].End, 0x401012u);
    EXPECT_EQ(f.Areas[1].Kind, TCodeAreaKind::JumpTable);
    EXPECT_EQ(f.Areas[1].Begin, 0x401012u);
    EXPECT_EQ(f.Areas[1].End, 0x40102Au);
    for (size_t i = 2; i < 9; ++i) {
        EXPECT_EQ(f.Areas[i].Kind, TCodeAreaKind::Code);
        EXPECT_TRUE(f.Areas[i].Label);
    }
    EXPECT_EQ(f.Areas[2].Begin, 0x40102Au);
    EXPECT_EQ(f.Areas[3].Begin, 0x40102Eu);
    EXPECT_EQ(f.Areas[8].End, 0x401040u);
    EXPECT_TRUE(f.EntryStraight);

    TListingOptions options;
    options.LineBreak = "\n";
    options.ExceptionAddress = 0x401007; // inside the cmp
    const std::vector<std::string> lines = Lines(ListFunction(f, m, nullptr, nullptr, options));
    ASSERT_GE(lines.size(), 20u);
    EXPECT_EQ(lines[0], "00401000 sub_401000");
    // Label and first table entry padded to 31 characters before their comments.
    EXPECT_EQ(lines[1],
              std::string("00401000 sub_401000:") + std::string(11, ' ') + "  ; function entry point");
    EXPECT_EQ(lines[5], "00401006 > cmp     eax, 5");
    EXPECT_EQ(lines[6], "00401009   ja      40102Ah");
    EXPECT_EQ(lines[7], "0040100B   jmp     dword ptr [eax*4+401012h]");
    EXPECT_EQ(lines[8],
              std::string("00401012   dd loc_40102E") + std::string(7, ' ') + "  ; case jump table");
    EXPECT_EQ(lines[13], "00401026   dd loc_40103D");
    EXPECT_EQ(lines[14], "0040102A loc_40102A:");
    EXPECT_EQ(lines[15], "0040102A   xor     eax, eax");
    EXPECT_EQ(lines[18], "0040102E loc_40102E:");
}

TEST(FunctionAnalysis, UndecodableCodeAndUnreadableEntry) {
    TBlocks m;
    m.Add(0x401000, Hex("55 89 E5 D6 C3"));
    TFunctionAnalysis f = AnalyseFunction(m, 0x401000, TestCode);
    EXPECT_FALSE(f.Valid);
    EXPECT_EQ(f.ErrorText, "Invalid code!");
    EXPECT_TRUE(f.Areas.empty());
    EXPECT_EQ(ListFunction(f, m, nullptr, nullptr, {}), "");

    f = AnalyseFunction(m, 0x500000, TestCode);
    EXPECT_FALSE(f.Valid);
    EXPECT_EQ(f.ErrorCode, FunctionErrorNotCommitted);
}

TEST(FunctionAnalysis, CallsKnownAndUnknown) {
    TBlocks m;
    m.Add(0x401000, Hex("FF 15 00 20 40 00 FF D0 E8 F3 0F 00 00 FF 15 04 20 40 00 C3"));
    m.Add(0x402000, Hex("34 12 60 7B")); // import slot; the next slot is unreadable
    const TFunctionAnalysis f = AnalyseFunction(m, 0x401000, TestCode);
    ASSERT_TRUE(f.Valid);
    ASSERT_EQ(f.Calls.size(), 2u);
    EXPECT_EQ(f.Calls[0].Address, 0x401000u);
    EXPECT_EQ(f.Calls[0].Next, 0x401006u);
    EXPECT_EQ(f.Calls[0].Target, 0x7B601234u);
    EXPECT_EQ(f.Calls[1].Target, 0x402000u);
    ASSERT_EQ(f.UnknownCalls.size(), 2u);
    EXPECT_EQ(f.UnknownCalls[0].Address, 0x401006u);
    EXPECT_EQ(f.UnknownCalls[1].Address, 0x40100Du);
    EXPECT_TRUE(f.EntryStraight); // an absolute indirect call moves with the code
}

TEST(FunctionAnalysis, CallToARoutineThatNeverReturnsEndsTheArea) {
    TBlocks m;
    // call 401100h, then bytes that do not decode.
    m.Add(0x401000, Hex("55 89 E5 E8 F8 00 00 00 D6 D6"));
    m.Add(0x401100, Hex("C3"));
    EXPECT_FALSE(AnalyseFunction(m, 0x401000, TestCode).Valid);
    TNames names;
    for (const char* name : {"___cxa_throw", "_ExitProcess@4", "ze::RaiseConvertError(std::string const&)",
                             "__ZN2ze15RaiseInOutErrorEi"}) {
        names.Names[0x401100] = name;
        const TFunctionAnalysis f = AnalyseFunction(m, 0x401000, TestCode, &names);
        ASSERT_TRUE(f.Valid) << name;
        EXPECT_EQ(f.Areas.back().End, 0x401008u) << name;
    }
}

TEST(FunctionAnalysis, NoReturnNames) {
    for (const char* yes : {"abort", "_abort", "exit", "_exit", "__exit", "ExitProcess", "ExitProcess@4",
                            "__cxa_rethrow", "_Unwind_Resume", "RaiseFileOpenError",
                            "_ZN2ze18RaiseFileOpenErrorERKSs", "_ZNK2ze17RaiseConvertErrorEv", "_Z5abortv",
                            "_ZSt4exiti", "RaiseFileCreateError(const std::string&)"})
        EXPECT_TRUE(IsNoReturnName(yes)) << yes;
    // Mangled: only the function's own name counts, not a class or namespace of that name, nor a
    // longer name that holds it.
    for (const char* no :
         {"", "exit2", "atexit", "_atexit", "MyRaiseConvertErrorX", "_ZN2ze18XRaiseConvertErrorEv",
          "_ZN2ze20A17RaiseConvertErrorEv", "_ZN17RaiseConvertError4HelpEv", "_ZN2ze99AbortE",
          "_ZN2ze17RaiseConvertErrorIiEEvv", "ExitThread"})
        EXPECT_FALSE(IsNoReturnName(no)) << no;
}

TEST(FunctionAnalysis, ExceptionFrameHandlerBecomesAnArea) {
    TBlocks m;
    // push offset 401020h; push dword ptr fs:[eax]; mov fs:[eax], esp; ... ret
    m.Add(0x401000, Hex("68 20 10 40 00 64 FF 30 64 89 20 31 C0 C3"));
    m.Add(0x401020, Hex("B8 01 00 00 00 C3"));
    TFunctionAnalysis f = AnalyseFunction(m, 0x401000, TestCode);
    ASSERT_TRUE(f.Valid);
    ASSERT_EQ(f.Areas.size(), 2u);
    EXPECT_EQ(f.Areas[1].Begin, 0x401020u);
    EXPECT_TRUE(f.Areas[1].Label);

    // The fs:[0] form; a plain push before it is no frame.
    m.Add(0x401000, Hex("68 20 10 40 00 64 FF 35 00 00 00 00 C3"));
    EXPECT_EQ(AnalyseFunction(m, 0x401000, TestCode).Areas.size(), 2u);
    m.Add(0x401000, Hex("68 20 10 40 00 FF 30 C3"));
    EXPECT_EQ(AnalyseFunction(m, 0x401000, TestCode).Areas.size(), 1u);
}

TEST(FunctionAnalysis, JumpsSplitAreasAndEntryStraightness) {
    TBlocks m;
    // loop: 401003 is jumped to from below, inside the first area's straight run.
    m.Add(0x401000, Hex("55 89 E5 48 75 FD 5D C3"));
    TFunctionAnalysis f = AnalyseFunction(m, 0x401000, TestCode);
    ASSERT_TRUE(f.Valid);
    ASSERT_EQ(f.Areas.size(), 2u);
    EXPECT_EQ(f.Areas[0].End, 0x401003u);
    EXPECT_EQ(f.Areas[1].Begin, 0x401003u);
    EXPECT_TRUE(f.Areas[1].Label);
    EXPECT_FALSE(f.EntryStraight);

    m.Add(0x401000, Hex("55 89 E5 83 EC 08 C9 C3"));
    EXPECT_TRUE(AnalyseFunction(m, 0x401000, TestCode).EntryStraight);
    m.Add(0x401000, Hex("55 E8 FA 00 00 00 C3"));
    EXPECT_FALSE(AnalyseFunction(m, 0x401000, TestCode).EntryStraight);
}

namespace {
class TLinesEvery4 : public ILineSource {
public:
    int LineAt(uint64_t address) const override {
        return address < 0x401000 ? 0 : 98 + int(address - 0x401000) / 4;
    }
};
} // namespace

TEST(FunctionAnalysis, ListingLimitMarkerAndLineNumbers) {
    TBlocks m;
    std::string code;
    for (int i = 0; i < 40; ++i)
        code += "90 ";
    m.Add(0x401000, Hex(code + "C3"));
    TNames names;
    names.Names[0x401000] = "TForm1.SaveClick";
    const TFunctionAnalysis f = AnalyseFunction(m, 0x401000, TestCode, &names);
    ASSERT_TRUE(f.Valid);
    TListingOptions options;
    options.LineBreak = "\n";
    options.ExceptionAddress = 0x401014;
    options.LimitDisAsm = 5;
    TLinesEvery4 sourceLines;
    const std::vector<std::string> lines = Lines(ListFunction(f, m, &names, &sourceLines, options));
    ASSERT_EQ(lines.size(), 1u + 1 + 5 + 1 + 5 + 1);
    EXPECT_EQ(lines[0], "00401000 public TForm1.SaveClick");
    EXPECT_EQ(lines[1], "[...]");
    EXPECT_EQ(lines[2], "0040100F       nop");
    EXPECT_EQ(lines[5], "00401012       nop");
    EXPECT_EQ(lines[6], "00401013       nop");
    EXPECT_EQ(lines[7], "00401014 > 103 nop");
    EXPECT_EQ(lines[12], "00401019       nop");
    EXPECT_EQ(lines[13], "[...]");

    // Without the limit: every line, the entry label, lines numbered from 098 up to 108.
    options.LimitDisAsm = 0;
    const std::vector<std::string> all = Lines(ListFunction(f, m, &names, &sourceLines, options));
    ASSERT_EQ(all.size(), 2u + 41);
    EXPECT_EQ(all[1], "00401000 TForm1.SaveClick:       ; function entry point");
    EXPECT_EQ(all[2], "00401000   098 nop");
    EXPECT_EQ(all[42], "00401028   108 ret");
}

namespace {
class TRuntimeNames : public TNames {
public:
    bool ClassNameAt(uint64_t classRef, std::string& name) const override {
        if (classRef != 0x404000) return false;
        name = "EConvertError";
        return true;
    }
};
} // namespace

TEST(FunctionAnalysis, HandlerTableOfAClassDispatchingHandler) {
    TBlocks m;
    m.Add(0x401000, Hex("68 20 10 40 00 64 FF 30 64 89 20 31 C0 C3"));
    // Handler: jmp HandleOnException, then count and (class, handler) pairs; class 0 is the default.
    m.Add(0x401020, Hex("E9 DB 00 00 00 03 00 00 00 00 40 40 00 50 10 40 00 10 40 40 00 54 10 40 00"
                        " 00 00 00 00 58 10 40 00"));
    m.Add(0x401050, Hex("C3 90 90 90 C3 90 90 90 C3"));
    m.Add(0x401100, Hex("C3"));
    TRuntimeNames names;
    names.Names[0x401100] = "@HandleOnException";
    const TFunctionAnalysis f = AnalyseFunction(m, 0x401000, TestCode, &names);
    ASSERT_TRUE(f.Valid);
    ASSERT_EQ(f.Areas.size(), 6u);
    EXPECT_EQ(f.Areas[2].Kind, TCodeAreaKind::HandlerTable);
    EXPECT_EQ(f.Areas[2].Begin, 0x401025u);
    EXPECT_EQ(f.Areas[2].End, 0x401041u);
    EXPECT_EQ(f.Areas[5].Begin, 0x401058u);

    TListingOptions options;
    options.LineBreak = "\n";
    const std::string text = ListFunction(f, m, &names, nullptr, options);
    EXPECT_NE(text.find("\n00401029   on EConvertError do loc_401050\n"
                        "00401031   on EUnknown      do loc_401054\n"
                        "00401039   else loc_401058\n"),
              std::string::npos)
        << text;
}

TEST(FunctionAnalysis, EntryOutsideTheCodeRangeIsStillFollowed) {
    TBlocks m;
    m.Add(0x600000, Hex("55 89 E5 74 02 5D C3 C9 C3"));
    const TFunctionAnalysis f = AnalyseFunction(m, 0x600000, TestCode);
    ASSERT_TRUE(f.Valid);
    ASSERT_EQ(f.Areas.size(), 1u); // the je target lies outside the code range: not followed
    EXPECT_EQ(f.Areas[0].End, 0x600007u);
}

TEST(FunctionAnalysis, Code64CallsJumpsAndListing) {
    TBlocks m;
    // sub rsp, 28h; test rcx, rcx; je 140001015h; call [140002000h]; add rsp, 28h; ret; int3;
    // 140001015: call 140001100h; jmp 14000100Fh
    m.Add(0x140001000, Hex("48 83 EC 28 48 85 C9 74 0C FF 15 F1 0F 00 00 48 83 C4 28 C3 CC"
                           " E8 E6 00 00 00 EB F3"));
    m.Add(0x140002000, Hex("78 56 34 12 F8 7F 00 00")); // import slot
    m.Add(0x140001100, Hex("C3"));
    TNames names;
    names.Names[0x7FF812345678] = "HeapFree";
    const TCodeRange code{0x140001000, 0x140003000};
    const TFunctionAnalysis f = AnalyseFunction(m, 0x140001000, code, &names, TX86Mode::Bits64);
    ASSERT_TRUE(f.Valid) << f.ErrorText;
    ASSERT_EQ(f.Areas.size(), 3u); // split where the jump back lands
    EXPECT_EQ(f.Areas[0].End, 0x14000100Fu);
    EXPECT_EQ(f.Areas[1].Begin, 0x14000100Fu);
    EXPECT_EQ(f.Areas[1].End, 0x140001014u);
    EXPECT_EQ(f.Areas[2].Begin, 0x140001015u);
    EXPECT_EQ(f.Areas[2].End, 0x14000101Cu);
    ASSERT_EQ(f.Calls.size(), 2u);
    EXPECT_EQ(f.Calls[0].Address, 0x140001009u);
    EXPECT_EQ(f.Calls[0].Next, 0x14000100Fu);
    EXPECT_EQ(f.Calls[0].Target, 0x7FF812345678u);
    EXPECT_EQ(f.Calls[1].Target, 0x140001100u);
    EXPECT_TRUE(f.EntryStraight);

    TListingOptions options;
    options.LineBreak = "\n";
    options.ExceptionAddress = 0x14000100B;
    const std::vector<std::string> lines = Lines(ListFunction(f, m, &names, nullptr, options));
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[0], "0000000140001000 sub_140001000");
    EXPECT_EQ(lines[1], std::string("0000000140001000 sub_140001000:") + std::string(8, ' ') +
                            "  ; function entry point");
    EXPECT_EQ(lines[4], "0000000140001007   je      140001015h");
    EXPECT_EQ(lines[5], "0000000140001009 > call    qword ptr [140002000h]  ; HeapFree");
    EXPECT_EQ(lines[6], "000000014000100F loc_14000100F:");
    EXPECT_EQ(lines[9], "0000000140001014");
    EXPECT_EQ(lines[10], "0000000140001014 ; ---------------------------------------------------------");
    EXPECT_EQ(lines[11], "0000000140001015 loc_140001015:");

    // A RIP-relative operand at the entry cannot be moved.
    m.Add(0x140001000, Hex("48 8B 05 F9 0F 00 00 C3"));
    EXPECT_FALSE(AnalyseFunction(m, 0x140001000, code, &names, TX86Mode::Bits64).EntryStraight);
}
