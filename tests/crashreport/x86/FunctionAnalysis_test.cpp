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

// "*" marks a label (the entry has one); "/table" and "/handlers" the two kinds of table.
std::string Areas(const TFunctionAnalysis& f) {
    std::ostringstream out;
    out << std::uppercase << std::hex;
    for (const TCodeArea& a : f.Areas)
        out << (&a == f.Areas.data() ? "" : " ") << (a.Label ? "*" : "") << a.Begin << "-" << a.End
            << (a.Kind == TCodeAreaKind::JumpTable      ? "/table"
                : a.Kind == TCodeAreaKind::HandlerTable ? "/handlers"
                                                        : "");
    return out.str();
}

// "address-next>target" per known call, then "?address" per unknown one.
std::string Calls(const TFunctionAnalysis& f) {
    std::ostringstream out;
    out << std::uppercase << std::hex;
    for (const TFunctionCall& c : f.Calls)
        out << c.Address << "-" << c.Next << ">" << c.Target << " ";
    for (const TFunctionCall& c : f.UnknownCalls)
        out << "?" << c.Address << " ";
    return out.str();
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
    EXPECT_EQ(Areas(f), "*401000-401012 401012-40102A/table *40102A-40102E *40102E-401031 *401031-401034 "
                        "*401034-401037 *401037-40103A *40103A-40103D *40103D-401040");
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

// Small functions at the entry; a handler at 401020 for those that install an exception frame.
TEST(FunctionAnalysis, AreasAndEntryStraightness) {
    const TCodeRange code64{0x140001000, 0x140003000};
    struct {
        const char* Name;
        uint64_t Entry;
        const char* Bytes;
        const char* Areas;
        bool Straight;
        TX86Mode Mode = TX86Mode::Bits32;
    } cases[] = {
        {"frame set-up only", 0x401000, "55 89 E5 83 EC 08 C9 C3", "*401000-401008", true},
        {"a loop back into the entry's straight run", 0x401000, "55 89 E5 48 75 FD 5D C3",
         "*401000-401003 *401003-401008", false},
        {"a relative call at the entry", 0x401000, "55 E8 FA 00 00 00 C3", "*401000-401007", false},
        {"exception frame through fs:[eax]", 0x401000, "68 20 10 40 00 64 FF 30 64 89 20 31 C0 C3",
         "*401000-40100E *401020-401026", true},
        {"exception frame through fs:[0]", 0x401000, "68 20 10 40 00 64 FF 35 00 00 00 00 C3",
         "*401000-40100D *401020-401026", true},
        {"a plain push is no frame", 0x401000, "68 20 10 40 00 FF 30 C3", "*401000-401008", true},
        // the je target lies outside the code range: not followed
        {"entry outside the code range", 0x600000, "55 89 E5 74 02 5D C3 C9 C3", "*600000-600007", false},
        {"a RIP-relative operand at the entry cannot be moved", 0x140001000, "48 8B 05 F9 0F 00 00 C3",
         "*140001000-140001008", false, TX86Mode::Bits64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TBlocks m;
        m.Add(c.Entry, Hex(c.Bytes));
        m.Add(0x401020, Hex("B8 01 00 00 00 C3"));
        const TFunctionAnalysis f =
            AnalyseFunction(m, c.Entry, c.Mode == TX86Mode::Bits64 ? code64 : TestCode, nullptr, c.Mode);
        ASSERT_TRUE(f.Valid) << f.ErrorText;
        EXPECT_EQ(Areas(f), c.Areas);
        EXPECT_EQ(f.EntryStraight, c.Straight);
    }
}

TEST(FunctionAnalysis, CallsKnownAndUnknown) {
    TBlocks m;
    m.Add(0x401000, Hex("FF 15 00 20 40 00 FF D0 E8 F3 0F 00 00 FF 15 04 20 40 00 C3"));
    m.Add(0x402000, Hex("34 12 60 7B")); // import slot; the next slot is unreadable
    const TFunctionAnalysis f = AnalyseFunction(m, 0x401000, TestCode);
    ASSERT_TRUE(f.Valid);
    EXPECT_EQ(Calls(f), "401000-401006>7B601234 401008-40100D>402000 ?401006 ?40100D ");
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
    EXPECT_EQ(Areas(f), "*401000-40100E *401020-401025 401025-401041/handlers *401050-401051 *401054-401055 "
                        "*401058-401059");

    TListingOptions options;
    options.LineBreak = "\n";
    const std::string text = ListFunction(f, m, &names, nullptr, options);
    EXPECT_NE(text.find("\n00401029   on EConvertError do loc_401050\n"
                        "00401031   on EUnknown      do loc_401054\n"
                        "00401039   else loc_401058\n"),
              std::string::npos)
        << text;
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
    // split where the jump back lands
    EXPECT_EQ(Areas(f), "*140001000-14000100F *14000100F-140001014 *140001015-14000101C");
    EXPECT_EQ(Calls(f), "140001009-14000100F>7FF812345678 140001015-14000101A>140001100 ");
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
}
