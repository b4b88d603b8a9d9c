#pragma once
// Layout of the generated opcode tables (x86-opcodes.txt -> gen_x86_tables.py -> X86Tables.inc).
#include <cstdint>

namespace ze::x86tables {

// Decision nodes of an opcode's tree; the numbers are shared with the generator.
enum ENodeKind : uint8_t {
    NodeEmpty,
    NodeLeaf,
    NodePrefix, // children: none, 66, F3, F2
    NodeMod,    // children: memory, register
    NodeReg,    // children: ModR/M reg 0..7
    NodeRm,     // children: ModR/M rm 0..7
    NodeOpSize, // children: 16, 32, 64 (REX.W)
    NodeAdSize, // children: 16, 32, 64
};

// Immediate kinds of a leaf, in the order the immediates follow the instruction.
// ImmOpSize is at most 4 bytes (sign-extended with REX.W); ImmOpSize64 is 8 bytes with REX.W.
enum EImmKind : uint8_t { ImmNone, ImmByte, ImmWord, ImmOpSize, ImmFarPtr, ImmMoffs, ImmOpSize64 };

enum : uint8_t {
    FlagCall = 1,
    FlagJmp = 2,
    FlagJcc = 4,
    FlagRet = 8,
    FlagStr = 16,
    FlagForcereg = 32,
    FlagD64 = 64,
};

struct TNode {
    uint8_t Kind;
    uint16_t Index; // leaf index, or first of the children in ChildNodes
};

struct TLeaf {
    uint16_t Mnemonic; // offset into Mnemonics
    uint8_t Operands[3];
    uint8_t Imm1, Imm2;
    uint8_t Flags;
};

} // namespace ze::x86tables
