// Compares the decoder with Capstone (libcapstone-dev) over the code sections of PE files (PE32 in
// 32-bit mode, PE32+ in 64-bit mode): lengths, direct branch targets, and the classes of mnemonic
// difference. A one-off check tool, not part of the build:
//   g++ -std=c++20 -O2 -I. -Ibuild/<dir>/generated tests/tools/compare_capstone.cpp
//       crashreport/x86/Decoder.cpp crashreport/x86/Disassembler.cpp -lcapstone -o
//       /tmp/compare_capstone
//   /tmp/compare_capstone /usr/lib/i386-linux-gnu/wine/i386-windows/{kernel32,user32,ntdll}.dll
//   /tmp/compare_capstone /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/{kernel32,user32,ntdll}.dll
#include "crashreport/x86/Decoder.h"
#include "crashreport/x86/Disassembler.h"
#include <algorithm>
#include <capstone/capstone.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>
static uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return at + 4 > b.size() ? 0
                             : uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
                                   uint32_t(b[at + 3]) << 24;
}
int main(int argc, char** argv) {
    csh handles[2];
    cs_open(CS_ARCH_X86, CS_MODE_32, &handles[0]);
    cs_open(CS_ARCH_X86, CS_MODE_64, &handles[1]);
    for (csh h : handles)
        cs_option(h, CS_OPT_DETAIL, CS_OPT_ON);
    cs_insn* insns[2] = {cs_malloc(handles[0]), cs_malloc(handles[1])};
    for (int a = 1; a < argc; ++a) {
        std::ifstream in(argv[a], std::ios::binary);
        std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        uint32_t pe = Get32(f, 0x3C);
        unsigned ns = f[pe + 6] | f[pe + 7] << 8, os = f[pe + 20] | f[pe + 21] << 8;
        const bool x64 = (f[pe + 24] | f[pe + 25] << 8) == 0x20B;
        const TX86Mode mode = x64 ? TX86Mode::Bits64 : TX86Mode::Bits32;
        const csh h = handles[x64];
        cs_insn* insn = insns[x64];
        uint64_t base =
            x64 ? Get32(f, pe + 24 + 24) | uint64_t(Get32(f, pe + 24 + 28)) << 32 : Get32(f, pe + 24 + 28);
        size_t total = 0, lenbad = 0, tgt = 0, tgtbad = 0, capbad = 0, oursbad = 0, textdiff = 0;
        std::map<std::string, int> classes;
        std::map<std::string, std::string> ex;
        for (unsigned i = 0; i < ns; ++i) {
            size_t sh = pe + 24 + os + i * 40;
            if (!(Get32(f, sh + 36) & 0x20)) continue;
            uint32_t va = Get32(f, sh + 12), raw = Get32(f, sh + 20),
                     size = std::min(Get32(f, sh + 8), Get32(f, sh + 16));
            const uint8_t* p = f.data() + raw;
            for (size_t pos = 0; pos < size;) {
                TX86Instruction ins;
                DecodeX86(p + pos, size - pos, base + va + pos, ins, mode);
                const uint8_t* cp = p + pos;
                size_t cs = size - pos;
                uint64_t addr = base + va + pos;
                bool ok = cs_disasm_iter(h, &cp, &cs, &addr, insn);
                if (!ok) {
                    capbad++;
                    pos += ins.Length;
                    continue;
                }
                total++;
                if (!ins.Valid) {
                    oursbad++;
                    if (oursbad < 5)
                        printf("ours invalid %08llx %s %s\n", (unsigned long long)insn->address,
                               insn->mnemonic, insn->op_str);
                    pos += insn->size;
                    continue;
                }
                if (ins.Length != insn->size) {
                    lenbad++;
                    if (lenbad < 15)
                        printf("len %08llx cap %d '%s %s' ours %d '%s'\n", (unsigned long long)insn->address,
                               insn->size, insn->mnemonic, insn->op_str, ins.Length,
                               X86InstructionText(ins).c_str());
                } else {
                    std::string m = X86Mnemonic(ins);
                    std::string cm = insn->mnemonic;
                    if (m != cm) {
                        std::string k = cm + "/" + m;
                        classes[k]++;
                        ex[k] = std::string(insn->mnemonic) + " " + insn->op_str + " | " +
                                X86InstructionText(ins);
                        textdiff++;
                    }
                    if (ins.HasTarget) {
                        tgt++;
                        cs_x86& x = insn->detail->x86;
                        if (x.op_count < 1 || x.operands[0].type != X86_OP_IMM ||
                            uint64_t(x.operands[0].imm) != ins.Target) {
                            tgtbad++;
                            if (tgtbad < 5) printf("tgt %08llx\n", (unsigned long long)insn->address);
                        }
                    }
                }
                pos += ins.Length;
            }
        }
        printf("%s: %zu compared, length diffs %zu, ours invalid %zu, capstone invalid %zu, targets %zu bad "
               "%zu, mnemonic diffs %zu\n",
               argv[a], total, lenbad, oursbad, capbad, tgt, tgtbad, textdiff);
        std::vector<std::pair<int, std::string>> v;
        for (auto& [k, n] : classes)
            v.push_back({n, k});
        std::sort(v.rbegin(), v.rend());
        for (size_t i = 0; i < v.size() && i < 15; ++i)
            printf("   %6d %s  e.g. %s\n", v[i].first, v[i].second.c_str(), ex[v[i].second].c_str());
    }
}
