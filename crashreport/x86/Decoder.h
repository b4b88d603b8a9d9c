#pragma once
// Decoder for x86 machine code in 32-bit and 64-bit mode: lengths, branch targets and the parts
// the instruction text needs. Table-driven (X86Tables.inc, generated from x86-opcodes.txt); no
// allocation.
#include <cstddef>
#include <cstdint>

#include "crashreport/base/MemoryReader.h"

enum : uint8_t {
    X86PrefixLock = 1,
    X86PrefixRep = 2,   // F3, when not used as a mandatory prefix
    X86PrefixRepne = 4, // F2, likewise
    X86PrefixOpSize = 8,
    X86PrefixAdSize = 16,
};

// Segment override register numbers (0 = none): es, cs, ss, ds, fs, gs are 1..6.
enum : uint8_t { X86SegNone, X86SegEs, X86SegCs, X86SegSs, X86SegDs, X86SegFs, X86SegGs };

constexpr size_t X86MaxLength = 15;

enum class TX86Mode : uint8_t { Bits32, Bits64 };

// REX prefix bits (64-bit mode).
enum : uint8_t { X86RexB = 1, X86RexX = 2, X86RexR = 4, X86RexW = 8 };

// Fields are ordered by size: the decoder clears everything in front of Bytes at once.
struct TX86Instruction {
    uint64_t Address = 0;
    uint64_t Next = 0; // address of the following instruction
    // Relative calls and jumps: the target (TargetSize: the size of the encoded displacement).
    uint64_t Target = 0;
    // Indirect calls and jumps through an absolute (32-bit mode) or RIP-relative (64-bit mode)
    // memory operand (TargetSize: the pointer's size).
    uint64_t PointerAddress = 0;
    uint64_t PointerValue = 0;
    // A RIP-relative memory operand: the address it refers to.
    uint64_t RipAddress = 0;
    uint64_t Imm = 0; // as encoded, not sign-extended
    int32_t Disp = 0;
    uint32_t Imm2 = 0; // second immediate (enter) or the segment of a far pointer
    // The opcode byte; 0x100 + byte for 0F xx, 0x200 + byte for 0F 38 xx, 0x300 + byte for 0F 3A xx.
    uint16_t Opcode = 0;
    uint16_t Leaf = 0; // index into the generated leaf table
    uint8_t Length = 0;
    bool Valid = false;
    TX86Mode Mode = TX86Mode::Bits32;
    uint8_t ModRM = 0;
    bool HasModRM = false;
    uint8_t Sib = 0;
    bool HasSib = false;
    uint8_t Prefixes = 0; // X86Prefix*
    uint8_t Segment = 0;  // X86Seg*
    uint8_t Rex = 0;      // the REX prefix in front of the opcode, 0 without
    bool OpSize16 = false;
    bool OpSize64 = false; // REX.W, or an instruction that defaults to 64 bits in 64-bit mode
    bool AdSize16 = false; // 32-bit mode with 67
    bool AdSize32 = false; // 64-bit mode with 67

    bool IsCall = false;
    bool IsJump = false;        // any jump, conditional or not
    bool IsConditional = false; // Jcc, loop, jecxz
    bool IsReturn = false;
    bool HasTarget = false;
    bool HasPointer = false;
    bool PointerValueValid = false;
    bool RipRelative = false;
    uint8_t TargetSize = 0;
    uint8_t DispSize = 0; // 0, 1, 2 or 4
    uint8_t ImmSize = 0;
    uint8_t Imm2Size = 0;
    uint8_t Bytes[X86MaxLength] = {}; // from the instruction's first byte; Length of them are its own
};

// Decodes the instruction in code[0..available) located at address. Never reads beyond available.
// Returns Valid; an invalid result still has Address, and Length 1. In 32-bit mode addresses
// wrap at 4 GB.
bool DecodeX86(const uint8_t* code, size_t available, uint64_t address, TX86Instruction& out,
               TX86Mode mode = TX86Mode::Bits32);

// Same through a memory reader; also reads the pointer of an indirect call or jump when possible.
bool DecodeX86(const IMemoryReader& memory, uint64_t address, TX86Instruction& out,
               TX86Mode mode = TX86Mode::Bits32);

// Mnemonic of a decoded instruction (valid instructions only).
const char* X86Mnemonic(const TX86Instruction& ins);
