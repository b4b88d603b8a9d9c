#include "crashreport/x86/Decoder.h"

#include <cstddef>
#include <cstring>

#include "crashreport/x86/DecoderTables.h"
#include "crashreport/x86/X86Tables.inc"

using namespace ze::x86tables;

bool TSpanMemoryReader::Read(uint64_t address, void* buffer, size_t size) const {
    if (address < FBase) return false;
    const uint64_t offset = address - FBase;
    if (offset > FBytes.size() || size > FBytes.size() - offset) return false;
    if (size) std::memcpy(buffer, FBytes.data() + offset, size);
    return true;
}

const uint8_t* TSpanMemoryReader::View(uint64_t address, size_t& available) const {
    available = 0;
    if (address < FBase) return nullptr;
    const uint64_t offset = address - FBase;
    if (offset >= FBytes.size()) return nullptr;
    available = FBytes.size() - size_t(offset);
    return FBytes.data() + offset;
}

namespace {

// What a byte means in front of an opcode: 0 no prefix, else the kind below.
enum : uint8_t { PfxNone, PfxSeg, PfxOpSize, PfxAdSize, PfxLock, PfxRepne, PfxRep, PfxRex };

struct TPrefixInfo {
    uint8_t Kind[256];
    uint8_t Segment[256];
};

constexpr TPrefixInfo MakePrefixInfo(bool x64) {
    TPrefixInfo info{};
    if (x64)
        for (int b = 0x40; b < 0x50; ++b)
            info.Kind[b] = PfxRex;
    const uint8_t segs[] = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65};
    for (int i = 0; i < 6; ++i) {
        info.Kind[segs[i]] = PfxSeg;
        info.Segment[segs[i]] = uint8_t(X86SegEs + i);
    }
    info.Kind[0x66] = PfxOpSize;
    info.Kind[0x67] = PfxAdSize;
    info.Kind[0xF0] = PfxLock;
    info.Kind[0xF2] = PfxRepne;
    info.Kind[0xF3] = PfxRep;
    return info;
}

constexpr TPrefixInfo Prefix[2] = {MakePrefixInfo(false), MakePrefixInfo(true)};

bool HasOperand(const TLeaf& leaf, uint8_t op) {
    return leaf.Operands[0] == op || leaf.Operands[1] == op || leaf.Operands[2] == op;
}

} // namespace

namespace {

// Addresses of 32-bit code wrap at 4 GB.
uint64_t InMode(uint64_t address, bool x64) {
    return x64 ? address : uint32_t(address);
}

bool DecodeBytes(const uint8_t* code, size_t available, uint64_t address, TX86Instruction& out,
                 TX86Mode mode) {
    const bool x64 = mode == TX86Mode::Bits64;
    // All but Bytes, which DecodeX86 fills: cheaper than assigning a whole new instruction.
    std::memset(static_cast<void*>(&out), 0, offsetof(TX86Instruction, Bytes));
    out.Address = address;
    out.Mode = mode;
    out.Length = 1;
    out.Next = InMode(address + 1, x64);
    if (available > X86MaxLength) available = X86MaxLength;
    if (available == 0) return false;

    const TPrefixInfo& prefix = Prefix[x64];
    size_t pos = 0;
    uint8_t lastRep = 0; // F2 or F3, whichever came last
    uint8_t rex = 0;
    uint8_t b = 0;
    for (;;) {
        if (pos >= available) return false;
        b = code[pos];
        const uint8_t kind = prefix.Kind[b];
        if (kind == PfxNone) break;
        ++pos;
        rex = 0; // a REX prefix counts only right in front of the opcode
        switch (kind) {
        case PfxRex:
            rex = b;
            break;
        case PfxSeg:
            out.Segment = prefix.Segment[b];
            break;
        case PfxOpSize:
            out.Prefixes |= X86PrefixOpSize;
            break;
        case PfxAdSize:
            out.Prefixes |= X86PrefixAdSize;
            break;
        case PfxLock:
            out.Prefixes |= X86PrefixLock;
            break;
        default:
            lastRep = b;
            break;
        }
    }
    ++pos;
    int map = 0;
    uint8_t op = b;
    if (op == 0x0F) {
        if (pos >= available) return false;
        op = code[pos++];
        map = 1;
        if (op == 0x38 || op == 0x3A) {
            if (pos >= available) return false;
            map = op == 0x38 ? 2 : 3;
            op = code[pos++];
        }
    }
    out.Opcode = uint16_t(map * 0x100 + op);
    if (ModRMFollows[map][op]) {
        if (pos >= available) return false;
        out.ModRM = code[pos++];
        out.HasModRM = true;
    }
    const uint8_t mod = out.ModRM >> 6, reg = (out.ModRM >> 3) & 7, rm = out.ModRM & 7;
    out.Rex = rex;
    const bool rexW = (rex & X86RexW) != 0;

    // Walk the opcode's decision tree. A mandatory prefix whose branch has no entry falls back to
    // the prefix-less form (the prefix then keeps its ordinary meaning).
    int mandatory = 0;
    bool opSize16 = (out.Prefixes & X86PrefixOpSize) != 0;
    TNode node = Roots[x64][map][op];
    // 90 with REX.B is no nop but xchg r8, rax.
    if (op == 0x90 && (rex & X86RexB) && map == 0 && !lastRep) node = Roots[1][0][0x91];
    TNode fallback{NodeEmpty, 0};
    for (;;) {
        switch (node.Kind) {
        case NodeLeaf:
            break;
        case NodeEmpty:
            if (fallback.Kind == NodeEmpty) return false;
            node = fallback;
            fallback = TNode{NodeEmpty, 0};
            mandatory = 0;
            opSize16 = (out.Prefixes & X86PrefixOpSize) != 0;
            continue;
        case NodePrefix: {
            int slot = 0;
            if (lastRep == 0xF3)
                slot = 2;
            else if (lastRep == 0xF2)
                slot = 3;
            else if (out.Prefixes & X86PrefixOpSize)
                slot = 1;
            if (slot) fallback = ChildNodes[node.Index];
            mandatory = slot;
            if (slot == 1) opSize16 = false;
            node = ChildNodes[node.Index + slot];
            continue;
        }
        case NodeMod:
            node = ChildNodes[node.Index + (mod == 3)];
            continue;
        case NodeReg:
            node = ChildNodes[node.Index + reg];
            continue;
        case NodeRm:
            node = ChildNodes[node.Index + rm];
            continue;
        case NodeOpSize:
            node = ChildNodes[node.Index + (rexW ? 2 : opSize16 ? 0 : 1)];
            continue;
        case NodeAdSize:
            node = ChildNodes[node.Index + x64 + ((out.Prefixes & X86PrefixAdSize) ? 0 : 1)];
            continue;
        default:
            return false;
        }
        break;
    }
    const TLeaf& leaf = Leaves[node.Index];
    out.Leaf = node.Index;
    bool opSize64 = false;
    if (rexW) {
        opSize16 = false;
        opSize64 = true;
    } else if (x64 && (leaf.Flags & FlagD64)) {
        opSize64 = !opSize16;
    }
    out.OpSize16 = opSize16;
    out.OpSize64 = opSize64;
    const bool adPrefix = (out.Prefixes & X86PrefixAdSize) != 0;
    out.AdSize16 = adPrefix && !x64;
    out.AdSize32 = adPrefix && x64;
    if (mandatory == 1) out.Prefixes &= uint8_t(~X86PrefixOpSize);
    if (mandatory < 2) {
        if (lastRep == 0xF3) out.Prefixes |= X86PrefixRep;
        if (lastRep == 0xF2) out.Prefixes |= X86PrefixRepne;
    }

    // Addressing bytes.
    if (out.HasModRM && mod != 3 && !(leaf.Flags & FlagForcereg)) {
        if (!out.AdSize16) {
            if (rm == 4) {
                if (pos >= available) return false;
                out.Sib = code[pos++];
                out.HasSib = true;
            }
            if (mod == 1)
                out.DispSize = 1;
            else if (mod == 2)
                out.DispSize = 4;
            else if (rm == 5 || (out.HasSib && (out.Sib & 7) == 5))
                out.DispSize = 4;
        } else {
            if (mod == 1)
                out.DispSize = 1;
            else if (mod == 2 || rm == 6)
                out.DispSize = 2;
        }
        if (out.DispSize) {
            if (pos + out.DispSize > available) return false;
            const uint8_t* p = code + pos;
            if (out.DispSize == 1)
                out.Disp = int8_t(p[0]);
            else if (out.DispSize == 2)
                out.Disp = int16_t(uint16_t(p[0] | p[1] << 8));
            else
                out.Disp = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                   uint32_t(p[3]) << 24);
            pos += out.DispSize;
        }
    }

    // Immediates.
    const uint8_t immKinds[2] = {leaf.Imm1, leaf.Imm2};
    for (int i = 0; i < 2; ++i) {
        size_t size = 0;
        switch (immKinds[i]) {
        case ImmNone:
            continue;
        case ImmByte:
            size = 1;
            break;
        case ImmWord:
            size = 2;
            break;
        case ImmOpSize:
            size = opSize16 ? 2 : 4;
            break;
        case ImmFarPtr:
            size = opSize16 ? 2 : 4;
            break;
        case ImmMoffs:
            size = x64 ? (adPrefix ? 4 : 8) : (adPrefix ? 2 : 4);
            break;
        case ImmOpSize64:
            size = opSize16 ? 2 : opSize64 ? 8 : 4;
            break;
        }
        if (pos + size > available) return false;
        uint64_t v = 0;
        for (size_t k = 0; k < size; ++k)
            v |= uint64_t(code[pos + k]) << (8 * k);
        pos += size;
        if (i == 0) {
            out.Imm = v;
            out.ImmSize = uint8_t(size);
            if (immKinds[i] == ImmFarPtr) {
                if (pos + 2 > available) return false;
                out.Imm2 = uint32_t(code[pos] | code[pos + 1] << 8);
                out.Imm2Size = 2;
                pos += 2;
            }
        } else {
            out.Imm2 = uint32_t(v);
            out.Imm2Size = uint8_t(size);
        }
    }
    if (pos > X86MaxLength) return false;

    out.Length = uint8_t(pos);
    out.Next = InMode(address + pos, x64);
    out.Valid = true;
    out.IsCall = (leaf.Flags & FlagCall) != 0;
    out.IsConditional = (leaf.Flags & FlagJcc) != 0;
    out.IsJump = (leaf.Flags & (FlagJmp | FlagJcc)) != 0;
    out.IsReturn = (leaf.Flags & FlagRet) != 0;
    const bool memory = out.HasModRM && mod != 3 && !(leaf.Flags & FlagForcereg);
    if (x64 && memory && mod == 0 && rm == 5) {
        out.RipRelative = true;
        out.RipAddress = out.Next + uint64_t(int64_t(out.Disp));
        if (adPrefix) out.RipAddress = uint32_t(out.RipAddress);
    }
    if ((out.IsCall || out.IsJump) && (HasOperand(leaf, OpJb) || HasOperand(leaf, OpJz))) {
        out.HasTarget = true;
        out.TargetSize = out.ImmSize;
        const int32_t rel = out.ImmSize == 1   ? int32_t(int8_t(out.Imm))
                            : out.ImmSize == 2 ? int32_t(int16_t(out.Imm))
                                               : int32_t(uint32_t(out.Imm));
        out.Target = InMode(out.Next + uint64_t(int64_t(rel)), x64);
        if (out.ImmSize == 2) out.Target &= 0xFFFF;
    } else if ((out.IsCall || out.IsJump) && memory && mod == 0 && rm == 5 && !out.AdSize16 &&
               out.Segment != X86SegFs && out.Segment != X86SegGs) {
        out.HasPointer = true;
        if (x64) {
            out.PointerAddress = out.RipAddress;
            out.TargetSize = opSize64 ? 8 : opSize16 ? 2 : 4;
        } else {
            out.PointerAddress = uint32_t(out.Disp);
            out.TargetSize = 4;
        }
    }
    return true;
}

} // namespace

bool DecodeX86(const uint8_t* code, size_t available, uint64_t address, TX86Instruction& out, TX86Mode mode) {
    const bool valid = DecodeBytes(code, available, address, out, mode);
    // The bytes of the instruction, or the one byte a "db" line shows (bytes after them may follow).
    if (available >= X86MaxLength) {
        std::memcpy(out.Bytes, code, X86MaxLength); // fixed size: two moves
    } else {
        std::memset(out.Bytes, 0, X86MaxLength);
        if (available) std::memcpy(out.Bytes, code, valid ? out.Length : 1);
    }
    return valid;
}

bool DecodeX86(const IMemoryReader& memory, uint64_t address, TX86Instruction& out, TX86Mode mode) {
    size_t available = 0;
    bool ok;
    if (const uint8_t* view = memory.View(address, available)) {
        ok = DecodeX86(view, available, address, out, mode);
    } else {
        // Near the end of readable memory fewer than 15 bytes may be there.
        uint8_t buffer[X86MaxLength];
        available = X86MaxLength;
        while (available > 0 && !memory.Read(address, buffer, available)) {
            available = available > 4 ? 4 : available - 1;
        }
        // A 4-byte probe succeeded: take what can be had byte by byte.
        if (available == 4) {
            while (available < X86MaxLength && memory.Read(address + available, buffer + available, 1))
                ++available;
        }
        ok = DecodeX86(buffer, available, address, out, mode);
    }
    if (ok && out.HasPointer) {
        uint64_t value = 0;
        if (memory.Read(out.PointerAddress, &value, out.TargetSize)) {
            out.PointerValueValid = true;
            out.PointerValue = value; // little-endian host and target
        }
    }
    return ok;
}

const char* X86Mnemonic(const TX86Instruction& ins) {
    if (!ins.Valid) return "db";
    return Mnemonics + Leaves[ins.Leaf].Mnemonic;
}
