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

TX86Instruction Decode(const std::string& hex, uint32_t address = 0x401000) {
    const std::vector<uint8_t> b = Hex(hex);
    TX86Instruction ins;
    DecodeX86(b.data(), b.size(), address, ins);
    return ins;
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

TEST(Decoder, BranchTargetsAndFlags) {
    TX86Instruction call = Decode("E8 FB FF FF FF", 0x401000);
    EXPECT_TRUE(call.IsCall);
    EXPECT_TRUE(call.HasTarget);
    EXPECT_EQ(call.Target, 0x401000u);
    EXPECT_EQ(call.TargetSize, 4);

    TX86Instruction shortJump = Decode("EB FE", 0x401000);
    EXPECT_TRUE(shortJump.IsJump);
    EXPECT_FALSE(shortJump.IsConditional);
    EXPECT_EQ(shortJump.Target, 0x401000u);
    EXPECT_EQ(shortJump.TargetSize, 1);

    TX86Instruction jcc = Decode("0F 85 00 01 00 00", 0x401000);
    EXPECT_TRUE(jcc.IsJump && jcc.IsConditional);
    EXPECT_EQ(jcc.Opcode, 0x185);
    EXPECT_EQ(jcc.Target, 0x401106u);

    TX86Instruction wrap = Decode("E9 00 00 00 80", 0x80000000);
    EXPECT_EQ(wrap.Target, 0x80000000u + 5 + 0x80000000u);

    EXPECT_TRUE(Decode("E2 FE").IsConditional); // loop
    EXPECT_TRUE(Decode("C3").IsReturn);
    EXPECT_TRUE(Decode("C2 04 00").IsReturn);
    EXPECT_FALSE(Decode("FF D0").HasTarget); // call eax
    EXPECT_TRUE(Decode("FF D0").IsCall);
    EXPECT_FALSE(Decode("64 FF 15 00 00 00 00").HasPointer); // through fs: not an absolute pointer
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

TEST(Disassembler, HexStyle) {
    char buffer[16];
    auto hex = [&](uint32_t v) { return std::string(buffer, FormatX86Hex(v, buffer)); };
    EXPECT_EQ(hex(0), "0");
    EXPECT_EQ(hex(9), "9");
    EXPECT_EQ(hex(10), "0Ah");
    EXPECT_EQ(hex(0x10), "10h");
    EXPECT_EQ(hex(0xFFFFFFFF), "0FFFFFFFFh");
}

TEST(Disassembler, TruncatesIntoSmallBuffers) {
    const TX86Instruction ins = Decode("C7 84 24 00 01 00 00 FF FF FF FF");
    char buffer[12];
    const size_t n = FormatX86(ins, buffer, sizeof buffer);
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(std::string(buffer), "00401000   ");
    EXPECT_EQ(FormatX86(ins, buffer, 0), 0u);
}

// Golden cases: decoder_text.in (address: bytes) against decoder_text.out.
TEST(Disassembler, GoldenText) {
    const std::filesystem::path dir = std::filesystem::path(ZE_SOURCE_DIR) / "tests/crashreport/x86/testdata";
    std::ifstream in(dir / "decoder_text.in");
    ASSERT_TRUE(in);
    TBlocks memory;
    memory.Add(0x402000, Hex("34 12 60 7B"));
    const std::string hello = "Hello, world";
    memory.Add(0x403010, std::vector<uint8_t>(hello.begin(), hello.end() + 1));
    TNames names;
    names.Names[0x401000] = "TestEntry";
    names.Names[0x7B601234] = "ExitProcess";
    std::string actual, line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const uint32_t address = uint32_t(std::stoul(line.substr(0, 8), nullptr, 16));
        std::vector<uint8_t> bytes = Hex(line.substr(9));
        memory.Add(address, bytes);
        for (size_t pos = 0; pos < bytes.size();) {
            TX86Instruction ins;
            DecodeX86(memory, address + uint32_t(pos), ins);
            actual += X86InstructionText(ins, &names, &memory) + "\n";
            pos += ins.Length;
        }
    }
    const std::filesystem::path golden = dir / "decoder_text.out";
    if (std::getenv("ZE_REBASE_GOLDEN")) {
        std::ofstream(golden, std::ios::binary) << actual;
        GTEST_SKIP() << "rebased " << golden;
    }
    std::ifstream expectedFile(golden, std::ios::binary);
    std::stringstream expected;
    expected << expectedFile.rdbuf();
    EXPECT_EQ(actual, expected.str());
}

// ---- agreement with binutils on real code ----

namespace {

struct TReferenceInstruction {
    uint32_t Address;
    uint8_t Length;
    bool Fwait; // objdump folded a 9B prefix into this instruction
    bool HasTarget;
    uint32_t Target;
};

// Runs objdump over the file's code and rebuilds the code bytes from its listing.
bool RunObjdump(const std::string& path, std::map<uint32_t, std::vector<uint8_t>>& sections,
                std::vector<TReferenceInstruction>& reference) {
    const std::string command =
        "i686-w64-mingw32-objdump -d -M intel --insn-width=16 '" + path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char line[1024];
    std::vector<uint8_t>* section = nullptr;
    uint32_t sectionNext = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        std::string s(line);
        const size_t colon = s.find(":\t");
        if (colon == std::string::npos || colon > 12) continue;
        const size_t first = s.find_first_not_of(' ');
        if (s.find_first_not_of("0123456789abcdef", first) != colon) continue;
        const uint32_t address = uint32_t(std::stoul(s.substr(first, colon - first), nullptr, 16));
        const size_t tab2 = s.find('\t', colon + 2);
        const std::string bytesText =
            s.substr(colon + 2, tab2 == std::string::npos ? std::string::npos : tab2 - colon - 2);
        const std::string text = tab2 == std::string::npos ? "" : s.substr(tab2 + 1);
        const std::vector<uint8_t> bytes = Hex(bytesText);
        if (bytes.empty()) continue;
        if (!section || address != sectionNext) section = &sections[address];
        section->insert(section->end(), bytes.begin(), bytes.end());
        sectionNext = address + uint32_t(bytes.size());
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
                r.Target = uint32_t(std::stoul(text.substr(start, end - start), nullptr, 16));
            }
        }
        reference.push_back(r);
    }
    return pclose(pipe) == 0;
}

void CompareWithObjdump(const std::string& path) {
    std::map<uint32_t, std::vector<uint8_t>> sections;
    std::vector<TReferenceInstruction> reference;
    ASSERT_TRUE(RunObjdump(path, sections, reference)) << path;
    ASSERT_GT(reference.size(), 1000u) << path;
    std::map<uint32_t, TX86Instruction> ours;
    for (const auto& [base, bytes] : sections) {
        for (size_t pos = 0; pos < bytes.size();) {
            TX86Instruction ins;
            DecodeX86(bytes.data() + pos, bytes.size() - pos, base + uint32_t(pos), ins);
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

bool HaveObjdump() {
    return std::system("i686-w64-mingw32-objdump --version >/dev/null 2>&1") == 0;
}

} // namespace

TEST(DecoderReference, AgreesWithObjdumpOnWineSystemDlls) {
    if (!HaveObjdump()) GTEST_SKIP() << "binutils-mingw-w64-i686 not installed";
    const std::string dir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
    for (const char* dll : {"kernel32.dll", "user32.dll", "ntdll.dll"}) {
        if (!std::filesystem::exists(dir + dll)) GTEST_SKIP() << "wine32 not installed";
        CompareWithObjdump(dir + dll);
    }
}

TEST(DecoderReference, AgreesWithObjdumpOnMinGWCode) {
    if (!HaveObjdump() || std::system("i686-w64-mingw32-g++-posix --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "MinGW i686 tool chain not installed";
    const std::filesystem::path exe = std::filesystem::temp_directory_path() / "ze_decoder_sample.exe";
    const std::string command =
        std::string("i686-w64-mingw32-g++-posix -O2 -g -static -fno-omit-frame-pointer -o '") + exe.string() +
        "' '" + ZE_SOURCE_DIR + "/tests/crashreport/x86/testdata/decoder_sample.cpp'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    CompareWithObjdump(exe.string());
    std::filesystem::remove(exe);
}
