#include "crashreport/x86/Decoder.h"

#include "tests/crashreport/x86/DecoderTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crashreport/x86/Disassembler.h"

namespace {

using namespace DecoderTest;

TX86Instruction Decode(const std::string& hex, uint64_t address = 0x401000,
                       TX86Mode mode = TX86Mode::Bits32) {
    const std::vector<uint8_t> b = Hex(hex);
    TX86Instruction ins;
    DecodeX86(b.data(), b.size(), address, ins, mode);
    return ins;
}

TX86Instruction Decode64(const std::string& hex, uint64_t address = 0x140001000) {
    return Decode(hex, address, TX86Mode::Bits64);
}

} // namespace

TEST(Decoder, LengthsOfAddressingFormsAndPrefixes) {
    struct {
        const char* Bytes;
        int Length;
    } cases[] = {
        {"8B 04 24", 3},                   // SIB, no displacement
        {"8B 04 25 00 10 40 00", 7},       // SIB with base 5 and mod 0: disp32
        {"8B 44 24 08", 4},                // SIB + disp8
        {"8B 84 24 00 01 00 00", 7},       // SIB + disp32
        {"A1 00 10 40 00", 5},             // moffs32
        {"67 A1 00 10", 4},                // moffs16 with the address-size prefix
        {"67 8B 46 02", 4},                // 16-bit addressing, disp8
        {"67 8B 06 34 12", 5},             // 16-bit addressing [disp16]
        {"66 B8 34 12", 4},                // mov ax, imm16
        {"66 81 C1 34 12", 5},             // opsize shortens Iz
        {"66 6A FF", 3},                   // push imm8 stays one byte
        {"F6 C1 01", 3},                   // test r/m8, imm8 (group 3 /0)
        {"F6 D1", 2},                      // not cl: no immediate
        {"F7 C1 01 00 00 00", 6},          // test r/m32, imm32
        {"F7 D9", 2},                      // neg ecx
        {"C8 10 00 01", 4},                // enter imm16, imm8
        {"9A 78 56 34 12 1B 00", 7},       // far call ptr16:32
        {"66 9A 34 12 1B 00", 6},          // far call ptr16:16
        {"66 0F B6 C0", 4},                // 66 falls back to the prefix-less form: movzx ax, al
        {"66 0F 3A 0F C1 08", 6},          // 0F 3A always carries an imm8
        {"0F 20 C0", 3},                   // mov from CR: ModR/M mod ignored
        {"0F 20 00", 3},                   // ... even when it says memory
        {"26 2E 36 3E 64 65 F0 8B 00", 9}, // many prefixes
        {"F3 0F 1E FB", 4},                // endbr32
        {"DD 05 00 10 40 00", 6},          // fld qword ptr [abs]
    };
    for (const auto& c : cases) {
        const TX86Instruction ins = Decode(c.Bytes);
        EXPECT_TRUE(ins.Valid) << c.Bytes;
        EXPECT_EQ(ins.Length, c.Length) << c.Bytes;
        EXPECT_EQ(ins.Next, 0x401000u + c.Length) << c.Bytes;
    }
}

TEST(Decoder, RejectsUndefinedTruncatedAndOverlongInput) {
    for (const char* bytes : {"D6", "0F 04", "0F 0A", "8D C0", "C4 C0", "FF FF", "0F 38 FF C0"})
        EXPECT_FALSE(Decode(bytes).Valid) << bytes;
    // Every proper prefix of a valid instruction is too short.
    const std::vector<uint8_t> full = Hex("64 66 0F 3A 0F 84 24 00 01 00 00 08");
    for (size_t n = 0; n < full.size(); ++n) {
        TX86Instruction ins;
        EXPECT_FALSE(DecodeX86(full.data(), n, 0x1000, ins)) << n;
        EXPECT_EQ(ins.Length, 1);
    }
    // 14 prefixes + a 2-byte instruction exceed 15 bytes.
    EXPECT_FALSE(Decode("66 66 66 66 66 66 66 66 66 66 66 66 66 66 89 C0").Valid);
    EXPECT_TRUE(Decode("66 66 66 66 66 66 66 66 66 66 66 66 66 89 C0").Valid);
}

namespace {

// Length and branch facts: "call", "jump", "cond", "ret", "->target/size of the displacement", "ptr".
std::string Branch(const TX86Instruction& i) {
    std::ostringstream out;
    out << std::uppercase << std::hex << int(i.Length) << ":" << (i.IsCall ? " call" : "")
        << (i.IsJump ? " jump" : "") << (i.IsConditional ? " cond" : "") << (i.IsReturn ? " ret" : "")
        << (i.HasPointer ? " ptr" : "");
    if (i.HasTarget) out << " ->" << i.Target << "/" << int(i.TargetSize);
    return out.str();
}

} // namespace

TEST(Decoder, BranchesInBothModes) {
    struct {
        const char* Name;
        const char* Bytes;
        uint64_t Address;
        const char* Want;
        TX86Mode Mode = TX86Mode::Bits32;
    } cases[] = {
        {"call to itself", "E8 FB FF FF FF", 0x401000, "5: call ->401000/4"},
        {"short jump", "EB FE", 0x401000, "2: jump ->401000/1"},
        {"jne", "0F 85 00 01 00 00", 0x401000, "6: jump cond ->401106/4"},
        {"wraps at 4 GB", "E9 00 00 00 80", 0x80000000, "5: jump ->5/4"},
        {"loop", "E2 FE", 0x401000, "2: jump cond ->401000/1"},
        {"ret", "C3", 0x401000, "1: ret"},
        {"ret imm16", "C2 04 00", 0x401000, "3: ret"},
        {"call eax", "FF D0", 0x401000, "2: call"},
        {"call through fs: no absolute pointer", "64 FF 15 00 00 00 00", 0x401000, "7: call"},
        {"64-bit call backwards", "E8 00 00 00 80", 0x140001000, "5: call ->C0001005/4", TX86Mode::Bits64},
        {"64-bit short jump", "EB 80", 0x7FFFFFFFFFFF0000, "2: jump ->7FFFFFFFFFFEFF82/1", TX86Mode::Bits64},
        {"no wrap at 4 GB", "0F 85 00 01 00 00", 0x1FFFFFF00, "6: jump cond ->200000006/4", TX86Mode::Bits64},
        // 66 shortens the displacement to 16 bits and the target with it, as on AMD64 and in
        // objdump; REX.W overrides 66.
        {"66 call", "66 E8 00 10", 0x140012340, "4: call ->3344/2", TX86Mode::Bits64},
        {"66 REX.W call", "66 48 E8 00 00 00 00", 0x140001000, "7: call ->140001007/4", TX86Mode::Bits64},
        {"jrcxz", "E3 FE", 0x140001000, "2: jump cond ->140001000/1", TX86Mode::Bits64},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Branch(Decode(c.Bytes, c.Address, c.Mode)), c.Want) << c.Name;
    EXPECT_EQ(Decode("0F 85 00 01 00 00").Opcode, 0x185);
    EXPECT_EQ(std::string(X86Mnemonic(Decode64("E3 FE"))), "jrcxz");
    EXPECT_EQ(std::string(X86Mnemonic(Decode64("67 E3 FE"))), "jecxz");
}

TEST(Decoder, IndirectCallReadsThePointerWhenReadable) {
    TBlocks memory;
    memory.Add(0x401000, Hex("FF 15 00 20 40 00 FF 25 04 20 40 00"));
    memory.Add(0x402000, Hex("34 12 60 7B"));
    TX86Instruction ins;
    ASSERT_TRUE(DecodeX86(memory, 0x401000, ins));
    EXPECT_TRUE(ins.IsCall && ins.HasPointer && ins.PointerValueValid);
    EXPECT_EQ(ins.PointerAddress, 0x402000u);
    EXPECT_EQ(ins.PointerValue, 0x7B601234u);
    ASSERT_TRUE(DecodeX86(memory, 0x401006, ins));
    EXPECT_TRUE(ins.IsJump && ins.HasPointer);
    EXPECT_EQ(ins.PointerAddress, 0x402004u);
    EXPECT_FALSE(ins.PointerValueValid);
}

TEST(Decoder, ReaderDecodesUpToTheEndOfReadableMemory) {
    // The last instruction ends exactly at the end of the block; the one before the end is cut.
    TBlocks memory;
    memory.Add(0x1000, Hex("90 B8 01 00 00 00"));
    TX86Instruction ins;
    EXPECT_TRUE(DecodeX86(memory, 0x1001, ins));
    EXPECT_EQ(ins.Length, 5);
    memory.Add(0x2000, Hex("B8 01 00 00"));
    EXPECT_FALSE(DecodeX86(memory, 0x2000, ins));
    EXPECT_FALSE(DecodeX86(memory, 0x3000, ins));
}

// ---- 64-bit mode ----

TEST(Decoder64, LengthsOperandSizesAndRegisters) {
    // One instruction each: all bytes are its own, and its text (after the address).
    struct {
        const char* Bytes;
        const char* Text;
    } cases[] = {
        {"50", "push    rax"}, // push and pop default to 64 bits
        {"66 50", "push    ax"},
        {"41 58", "pop     r8"},
        {"8F C0", "pop     rax"},
        {"FF 30", "push    qword ptr [rax]"},
        {"68 00 10 00 00", "push    1000h"},
        {"6A FF", "push    0FFFFFFFFFFFFFFFFh"},
        {"B8 01 00 00 00", "mov     eax, 1"},
        {"41 B8 01 00 00 00", "mov     r8d, 1"},
        {"48 B8 88 77 66 55 44 33 22 11", "mov     rax, 1122334455667788h"}, // the one imm64
        {"48 C7 C0 FF FF FF FF", "mov     rax, 0FFFFFFFFFFFFFFFFh"},         // imm32 sign-extended
        {"48 69 C0 00 01 00 00", "imul    rax, rax, 100h"},
        {"48 83 C4 F8", "add     rsp, 0FFFFFFFFFFFFFFF8h"},
        {"48 FF C0", "inc     rax"},
        {"88 F4", "mov     ah, dh"},
        {"40 88 F4", "mov     spl, sil"}, // any REX turns ah..bh into spl..dil
        {"45 88 C8", "mov     r8b, r9b"},
        {"66 41 89 C0", "mov     r8w, ax"},
        {"48 66 89 C0", "mov     ax, ax"}, // a REX in front of another prefix is ignored
        {"41 C3", "ret"},
        {"4C 8B 04 24", "mov     r8, qword ptr [rsp]"},
        {"41 8B 04 24", "mov     eax, dword ptr [r12]"},                 // rm 4 with REX.B: still a SIB
        {"41 8B 45 00", "mov     eax, dword ptr [r13]"},                 // rm 5 with REX.B and mod 1
        {"4A 8B 04 E0", "mov     rax, qword ptr [rax+r12*8]"},           // REX.X: index r12
        {"42 8B 04 25 10 00 00 00", "mov     eax, dword ptr [r12+10h]"}, // no base
        {"65 48 8B 04 25 30 00 00 00", "mov     rax, qword ptr gs:[30h]"},
        {"67 8B 00", "mov     eax, dword ptr [eax]"},
        {"48 63 C1", "movsxd  rax, ecx"},
        {"98", "cwde"},
        {"48 98", "cdqe"},
        {"48 99", "cqo"},
        {"90", "nop"},
        {"48 90", "nop"},
        {"66 90", "xchg    ax, ax"},
        {"41 90", "xchg    r8d, eax"}, // 90 with REX.B is no nop
        {"49 91", "xchg    r9, rax"},
        {"9C", "pushfq"},
        {"66 9C", "pushf"},
        {"48 CF", "iretq"},
        {"48 A5", "movs    qword ptr es:[rdi], qword ptr ds:[rsi]"},
        {"67 A4", "movs    byte ptr es:[edi], byte ptr ds:[esi]"},
        {"48 A1 88 77 66 55 44 33 22 11", "mov     rax, [1122334455667788h]"}, // moffs64
        {"67 A1 78 56 34 12", "mov     eax, [12345678h]"},
        {"41 FF D3", "call    r11"},
        {"66 FF D0", "call    ax"},
        {"FF 24 C5 00 20 00 40", "jmp     qword ptr [rax*8+40002000h]"},
        {"0F 05", "syscall"},
        {"0F 01 F8", "swapgs"},
        {"F3 0F 1E FA", "endbr64"},
        {"0F 20 C0", "mov     rax, cr0"},
        {"44 0F 20 C0", "mov     rax, cr8"},
        {"66 0F 6E C0", "movd    xmm0, eax"},
        {"66 48 0F 6E C0", "movq    xmm0, rax"},
        {"66 48 0F 7E C0", "movq    rax, xmm0"},
        {"F2 48 0F 2A C0", "cvtsi2sd xmm0, rax"},
        {"F2 4C 0F 2C C0", "cvttsd2si r8, xmm0"},
        {"44 0F 28 C1", "movaps  xmm8, xmm1"},
        {"48 0F C8", "bswap   rax"},
        {"41 0F C9", "bswap   r9d"},
        {"48 0F C7 0E", "cmpxchg16b xmmword ptr [rsi]"},
        {"66 48 0F 3A 16 C0 01", "pextrq  rax, xmm0, 1"},
    };
    for (const auto& c : cases) {
        const TX86Instruction ins = Decode64(c.Bytes);
        EXPECT_TRUE(ins.Valid) << c.Bytes;
        EXPECT_EQ(ins.Length, Hex(c.Bytes).size()) << c.Bytes;
        const std::string text = X86InstructionText(ins);
        EXPECT_EQ(text.substr(std::min<size_t>(19, text.size())), c.Text) << c.Bytes;
    }
}

TEST(Decoder64, OpcodesThatOnlyThe32BitModeHas) {
    // Valid 32-bit code, invalid (or a lone REX prefix) in 64-bit mode.
    for (const char* bytes : {"06",    "07",    "0E", "16",    "17",       "1E",
                              "1F",    "27",    "2F", "37",    "3F",       "40",
                              "4F",    "60",    "61", "62 00", "82 C0 01", "9A 78 56 34 12 1B 00",
                              "C4 00", "C5 00", "CE", "D4 0A", "D5 0A",    "EA 78 56 34 12 1B 00"}) {
        EXPECT_TRUE(Decode(bytes).Valid) << bytes;
        EXPECT_FALSE(Decode64(bytes).Valid) << bytes;
    }
    // 63 is arpl in 32-bit code; REX prefixes count towards the 15 bytes.
    EXPECT_EQ(std::string(X86Mnemonic(Decode("63 C1"))), "arpl");
    EXPECT_EQ(std::string(X86Mnemonic(Decode64("63 C1"))), "movsxd");
    EXPECT_FALSE(Decode64("66 66 66 66 66 66 66 66 66 66 66 66 66 48 89 C0").Valid);
    EXPECT_TRUE(Decode64("66 66 66 66 66 66 66 66 66 66 66 66 48 89 C0").Valid);
}

TEST(Decoder64, RipRelativeOperandsAndPointers) {
    TBlocks memory;
    // call [rip+0FF4h]; jmp [rip+0FF6h] with REX.B (still RIP-relative); lea rax, [rip-7];
    // call [rip+...] with 67: the address wraps at 4 GB.
    memory.Add(0x140001000,
               Hex("FF 15 FA 0F 00 00 41 FF 25 F3 0F 00 00 48 8D 05 F9 FF FF FF 67 FF 15 00 00 00 00"));
    memory.Add(0x140002000, Hex("78 56 34 12 F8 7F 00 00"));
    TX86Instruction ins;
    ASSERT_TRUE(DecodeX86(memory, 0x140001000, ins, TX86Mode::Bits64));
    EXPECT_TRUE(ins.IsCall && ins.HasPointer && ins.PointerValueValid && ins.RipRelative);
    EXPECT_EQ(ins.PointerAddress, 0x140002000u);
    EXPECT_EQ(ins.PointerValue, 0x7FF812345678u);
    EXPECT_EQ(ins.TargetSize, 8);
    ASSERT_TRUE(DecodeX86(memory, 0x140001006, ins, TX86Mode::Bits64));
    EXPECT_TRUE(ins.IsJump && ins.HasPointer);
    EXPECT_EQ(ins.PointerAddress, 0x140002000u);
    ASSERT_TRUE(DecodeX86(memory, 0x14000100D, ins, TX86Mode::Bits64));
    EXPECT_TRUE(ins.RipRelative);
    EXPECT_FALSE(ins.HasPointer);
    EXPECT_EQ(ins.RipAddress, 0x14000100Du);
    ASSERT_TRUE(DecodeX86(memory, 0x140001014, ins, TX86Mode::Bits64));
    EXPECT_EQ(ins.PointerAddress, 0x4000101Bu);
    EXPECT_FALSE(ins.PointerValueValid);
    // In 32-bit code the same bytes are an absolute address, and nothing is RIP-relative.
    ins = Decode("FF 15 00 20 40 00");
    EXPECT_FALSE(ins.RipRelative);
    EXPECT_EQ(ins.PointerAddress, 0x402000u);
    EXPECT_FALSE(Decode64("FF 14 25 00 20 40 00").HasPointer); // absolute through SIB: not a slot we read
}

TEST(Disassembler, HexStyle) {
    char buffer[24];
    auto hex = [&](uint64_t v) { return std::string(buffer, FormatX86Hex(v, buffer)); };
    EXPECT_EQ(hex(0), "0");
    EXPECT_EQ(hex(9), "9");
    EXPECT_EQ(hex(10), "0Ah");
    EXPECT_EQ(hex(0x10), "10h");
    EXPECT_EQ(hex(0xFFFFFFFF), "0FFFFFFFFh");
    EXPECT_EQ(hex(0xFFFFFFFFFFFFFFF8), "0FFFFFFFFFFFFFFF8h");
}

TEST(Disassembler, TruncatesIntoSmallBuffers) {
    const TX86Instruction ins = Decode("C7 84 24 00 01 00 00 FF FF FF FF");
    char buffer[12];
    const size_t n = FormatX86(ins, buffer, sizeof buffer);
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(std::string(buffer), "00401000   ");
    EXPECT_EQ(FormatX86(ins, buffer, 0), 0u);
}

namespace {

// Golden cases: NAME.in (address: bytes) against NAME.out.
void CheckGoldenText(const std::string& name, TX86Mode mode, TBlocks memory, const TNames& names) {
    const std::filesystem::path dir = std::filesystem::path(ZE_SOURCE_DIR) / "tests/crashreport/x86/testdata";
    std::ifstream in(dir / (name + ".in"));
    ASSERT_TRUE(in);
    std::string actual, line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t colon = line.find(':');
        const uint64_t address = std::stoull(line.substr(0, colon), nullptr, 16);
        std::vector<uint8_t> bytes = Hex(line.substr(colon + 1));
        memory.Add(address, bytes);
        for (size_t pos = 0; pos < bytes.size();) {
            TX86Instruction ins;
            DecodeX86(memory, address + pos, ins, mode);
            actual += X86InstructionText(ins, &names, &memory) + "\n";
            pos += ins.Length;
        }
    }
    const std::filesystem::path golden = dir / (name + ".out");
    if (std::getenv("ZE_REBASE_GOLDEN")) {
        std::ofstream(golden, std::ios::binary) << actual;
        GTEST_SKIP() << "rebased " << golden;
    }
    std::ifstream expectedFile(golden, std::ios::binary);
    std::stringstream expected;
    expected << expectedFile.rdbuf();
    EXPECT_EQ(actual, expected.str());
}

std::vector<uint8_t> CString(const std::string& s) {
    return std::vector<uint8_t>(s.c_str(), s.c_str() + s.size() + 1);
}

} // namespace

TEST(Disassembler, GoldenText) {
    TBlocks memory;
    memory.Add(0x402000, Hex("34 12 60 7B"));
    memory.Add(0x403010, CString("Hello, world"));
    TNames names;
    names.Names[0x401000] = "TestEntry";
    names.Names[0x7B601234] = "ExitProcess";
    CheckGoldenText("decoder_text", TX86Mode::Bits32, memory, names);
}

TEST(Disassembler, GoldenText64) {
    TBlocks memory;
    memory.Add(0x140003000, Hex("78 56 34 12 F8 7F 00 00"));
    memory.Add(0x140004010, CString("Hello, world"));
    TNames names;
    names.Names[0x140001000] = "TestEntry";
    names.Names[0x7FF812345678] = "ExitProcess";
    CheckGoldenText("decoder_text64", TX86Mode::Bits64, memory, names);
}

// ---- agreement with binutils on real code ----

namespace {

struct TReferenceInstruction {
    uint64_t Address;
    uint8_t Length;
    bool Fwait; // objdump folded a 9B prefix into this instruction
    bool HasTarget;
    uint64_t Target;
};

const char* Objdump(TX86Mode mode) {
    return mode == TX86Mode::Bits64 ? "x86_64-w64-mingw32-objdump" : "i686-w64-mingw32-objdump";
}

// Runs objdump over the file's code and rebuilds the code bytes from its listing.
bool RunObjdump(const std::string& path, TX86Mode mode, std::map<uint64_t, std::vector<uint8_t>>& sections,
                std::vector<TReferenceInstruction>& reference) {
    const std::string command =
        std::string(Objdump(mode)) + " -d -M intel --insn-width=16 '" + path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char line[1024];
    std::vector<uint8_t>* section = nullptr;
    uint64_t sectionNext = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        std::string s(line);
        const size_t colon = s.find(":\t");
        if (colon == std::string::npos || colon > 20) continue;
        const size_t first = s.find_first_not_of(' ');
        if (s.find_first_not_of("0123456789abcdef", first) != colon) continue;
        const uint64_t address = std::stoull(s.substr(first, colon - first), nullptr, 16);
        const size_t tab2 = s.find('\t', colon + 2);
        const std::string bytesText =
            s.substr(colon + 2, tab2 == std::string::npos ? std::string::npos : tab2 - colon - 2);
        const std::string text = tab2 == std::string::npos ? "" : s.substr(tab2 + 1);
        const std::vector<uint8_t> bytes = Hex(bytesText);
        if (bytes.empty()) continue;
        if (!section || address != sectionNext) section = &sections[address];
        section->insert(section->end(), bytes.begin(), bytes.end());
        sectionNext = address + bytes.size();
        if (text.rfind("(bad)", 0) == 0 || text.rfind(".byte", 0) == 0 ||
            text.find("(bad)") != std::string::npos)
            continue;
        TReferenceInstruction r{address, uint8_t(bytes.size()), bytes[0] == 0x9B && bytes.size() > 1, false,
                                0};
        // Direct branches: "call   7b6012a0 <...>", "jne    7b60f2e0 <...>".
        const bool branch = text[0] == 'j' || text.rfind("call ", 0) == 0 || text.rfind("loop", 0) == 0;
        const size_t sp = text.find_first_of(" \n");
        if (branch && sp != std::string::npos) {
            const size_t start = text.find_first_not_of(' ', sp);
            const size_t end =
                start == std::string::npos ? start : text.find_first_not_of("0123456789abcdef", start);
            if (start != std::string::npos && end != start &&
                (end == std::string::npos || text[end] == ' ' || text[end] == '\n')) {
                r.HasTarget = true;
                r.Target = std::stoull(text.substr(start, end - start), nullptr, 16);
            }
        }
        reference.push_back(r);
    }
    return pclose(pipe) == 0;
}

void CompareWithObjdump(const std::string& path, TX86Mode mode) {
    std::map<uint64_t, std::vector<uint8_t>> sections;
    std::vector<TReferenceInstruction> reference;
    ASSERT_TRUE(RunObjdump(path, mode, sections, reference)) << path;
    ASSERT_GT(reference.size(), 1000u) << path;
    std::map<uint64_t, TX86Instruction> ours;
    for (const auto& [base, bytes] : sections) {
        for (size_t pos = 0; pos < bytes.size();) {
            TX86Instruction ins;
            DecodeX86(bytes.data() + pos, bytes.size() - pos, base + pos, ins, mode);
            ours[ins.Address] = ins;
            pos += ins.Length;
        }
    }
    size_t compared = 0, lengthErrors = 0, targetErrors = 0;
    for (TReferenceInstruction r : reference) {
        auto it = ours.find(r.Address);
        if (it == ours.end()) continue; // objdump resynchronised at a symbol inside data
        if (r.Fwait && it->second.Valid && it->second.Length == 1) {
            // We list fwait on its own; compare the x87 instruction after it.
            ++r.Address;
            --r.Length;
            it = ours.find(r.Address);
            if (it == ours.end()) continue;
        }
        ++compared;
        const TX86Instruction& ins = it->second;
        if (!ins.Valid || ins.Length != r.Length) {
            if (++lengthErrors <= 10)
                ADD_FAILURE() << path << ": length at " << std::hex << r.Address << ": objdump "
                              << int(r.Length) << ", ours " << int(ins.Length)
                              << (ins.Valid ? "" : " (invalid)");
            continue;
        }
        if (r.HasTarget && (!ins.HasTarget || ins.Target != r.Target)) {
            if (++targetErrors <= 10)
                ADD_FAILURE() << path << ": target at " << std::hex << r.Address << ": objdump " << r.Target
                              << ", ours " << ins.Target;
        }
    }
    EXPECT_EQ(lengthErrors, 0u) << path;
    EXPECT_EQ(targetErrors, 0u) << path;
    EXPECT_GT(compared, reference.size() * 99 / 100) << path;
}

bool HaveObjdump(TX86Mode mode) {
    return std::system((std::string(Objdump(mode)) + " --version >/dev/null 2>&1").c_str()) == 0;
}

void CompareOnWineDlls(TX86Mode mode) {
    const bool x64 = mode == TX86Mode::Bits64;
    if (!HaveObjdump(mode)) GTEST_SKIP() << Objdump(mode) << " not installed";
    const std::string dir =
        x64 ? "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/" : "/usr/lib/i386-linux-gnu/wine/i386-windows/";
    for (const char* dll : {"kernel32.dll", "user32.dll", "ntdll.dll"}) {
        if (!std::filesystem::exists(dir + dll))
            GTEST_SKIP() << (x64 ? "wine64" : "wine32") << " not installed";
        CompareWithObjdump(dir + dll, mode);
    }
}

void CompareOnMinGWCode(TX86Mode mode) {
    const std::string compiler =
        mode == TX86Mode::Bits64 ? "x86_64-w64-mingw32-g++-posix" : "i686-w64-mingw32-g++-posix";
    if (!HaveObjdump(mode) || std::system((compiler + " --version >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << compiler << " not installed";
    const std::filesystem::path exe =
        std::filesystem::temp_directory_path() /
        (mode == TX86Mode::Bits64 ? "ze_decoder_sample64.exe" : "ze_decoder_sample.exe");
    const std::string command = compiler + " -O2 -g -static -fno-omit-frame-pointer -o '" + exe.string() +
                                "' '" + ZE_SOURCE_DIR + "/tests/crashreport/x86/testdata/decoder_sample.cpp'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    CompareWithObjdump(exe.string(), mode);
    std::filesystem::remove(exe);
}

} // namespace

TEST(DecoderReference, AgreesWithObjdumpOnWineSystemDlls) {
    CompareOnWineDlls(TX86Mode::Bits32);
}

TEST(DecoderReference, AgreesWithObjdumpOnWine64SystemDlls) {
    CompareOnWineDlls(TX86Mode::Bits64);
}

TEST(DecoderReference, AgreesWithObjdumpOnMinGWCode) {
    CompareOnMinGWCode(TX86Mode::Bits32);
}

TEST(DecoderReference, AgreesWithObjdumpOnMinGW64Code) {
    CompareOnMinGWCode(TX86Mode::Bits64);
}
