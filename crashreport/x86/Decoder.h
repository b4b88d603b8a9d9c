#pragma once
// Decoder for 32-bit x86 machine code: lengths, branch targets and the parts the instruction
// text needs. Table-driven (X86Tables.inc, generated from x86-opcodes.txt); no allocation.
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

struct TX86Instruction {
    uint32_t Address = 0;
    uint32_t Next = 0; // address of the following instruction
    uint8_t Length = 0;
    bool Valid = false;
    // The opcode byte; 0x100 + byte for 0F xx, 0x200 + byte for 0F 38 xx, 0x300 + byte for 0F 3A xx.
    uint16_t Opcode = 0;
    uint8_t ModRM = 0;
    bool HasModRM = false;
    uint8_t Sib = 0;
    bool HasSib = false;
    uint8_t Prefixes = 0; // X86Prefix*
    uint8_t Segment = 0;  // X86Seg*
    bool OpSize16 = false;
    bool AdSize16 = false;

    bool IsCall = false;
    bool IsJump = false;        // any jump, conditional or not
    bool IsConditional = false; // Jcc, loop, jecxz
    bool IsReturn = false;
    // Relative calls and jumps: the target, and the size of the encoded displacement.
    bool HasTarget = false;
    uint32_t Target = 0;
    uint8_t TargetSize = 0;
    // Indirect calls and jumps through a 32-bit absolute memory operand.
    bool HasPointer = false;
    uint32_t PointerAddress = 0;
    bool PointerValueValid = false;
    uint32_t PointerValue = 0;

    int32_t Disp = 0;
    uint8_t DispSize = 0; // 0, 1, 2 or 4
    uint32_t Imm = 0;
    uint8_t ImmSize = 0;
    uint32_t Imm2 = 0; // second immediate (enter) or the segment of a far pointer
    uint8_t Imm2Size = 0;
    uint16_t Leaf = 0;                // index into the generated leaf table
    uint8_t Bytes[X86MaxLength] = {}; // from the instruction's first byte; Length of them are its own
};

// Decodes the instruction in code[0..available) located at address. Never reads beyond available.
// Returns Valid; an invalid result still has Address, and Length 1.
bool DecodeX86(const uint8_t* code, size_t available, uint32_t address, TX86Instruction& out);

// Same through a memory reader; also reads the pointer of an indirect call or jump when possible.
bool DecodeX86(const IMemoryReader& memory, uint32_t address, TX86Instruction& out);

// Mnemonic of a decoded instruction (valid instructions only).
const char* X86Mnemonic(const TX86Instruction& ins);
