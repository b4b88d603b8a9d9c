#include "crashreport/x86/Disassembler.h"

#include "crashreport/x86/DecoderTables.h"
#include "crashreport/x86/X86Tables.inc"

using namespace ze::x86tables;

namespace {

const char* const Reg8[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
// With any REX prefix the byte registers 4..7 are the low bytes of rsp, rbp, rsi and rdi.
const char* const Reg8Rex[16] = {"al",  "cl",  "dl",   "bl",   "spl",  "bpl",  "sil",  "dil",
                                 "r8b", "r9b", "r10b", "r11b", "r12b", "r13b", "r14b", "r15b"};
const char* const Reg16[16] = {"ax",  "cx",  "dx",   "bx",   "sp",   "bp",   "si",   "di",
                               "r8w", "r9w", "r10w", "r11w", "r12w", "r13w", "r14w", "r15w"};
const char* const Reg32[16] = {"eax", "ecx", "edx",  "ebx",  "esp",  "ebp",  "esi",  "edi",
                               "r8d", "r9d", "r10d", "r11d", "r12d", "r13d", "r14d", "r15d"};
const char* const Reg64[16] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi",
                               "r8",  "r9",  "r10", "r11", "r12", "r13", "r14", "r15"};
const char* const Seg[8] = {"es", "cs", "ss", "ds", "fs", "gs", "?", "?"};
const char* const Mem16[8] = {"bx+si", "bx+di", "bp+si", "bp+di", "si", "di", "bp", "bx"};

// Bounded writer; everything past the end is dropped.
struct TWriter {
    char* P;
    char* Begin;
    char* End; // last usable position (room for the zero)

    void Put(char c) {
        if (P < End) *P++ = c;
    }
    void Puts(const char* s) {
        while (*s && P < End)
            *P++ = *s++;
    }
    void Hex(uint64_t v) {
        char tmp[24];
        const size_t n = FormatX86Hex(v, tmp);
        for (size_t i = 0; i < n; ++i)
            Put(tmp[i]);
    }
    void HexDigits(uint64_t v, int digits) {
        static const char hex[] = "0123456789ABCDEF";
        if (End - P < digits) {
            for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
                Put(hex[(v >> shift) & 15]);
            return;
        }
        // Every line starts with one: written from the back without a check per digit.
        for (int i = digits - 1; i >= 0; --i, v >>= 4)
            P[i] = hex[v & 15];
        P += digits;
    }
    void Dec(unsigned v) {
        if (v >= 10) Dec(v / 10);
        Put(char('0' + v % 10));
    }
    size_t Length() const { return size_t(P - Begin); }
    void PadTo(size_t column) {
        while (Length() < column && P < End)
            *P++ = ' ';
    }
};

enum ESize : uint8_t { SizeNone, SizeByte, SizeWord, SizeDword, SizeQword, SizeTbyte, SizeXmm, SizeFword };
const char* const SizeNames[] = {"", "byte", "word", "dword", "qword", "tbyte", "xmmword", "fword"};

ESize MemorySize(uint8_t op, const TX86Instruction& ins) {
    const bool opSize16 = ins.OpSize16;
    switch (op) {
    case OpEb:
    case OpMb:
    case OpEdb:
    case OpXb:
    case OpYb:
    case OpOb:
        return SizeByte;
    case OpEw:
    case OpMw:
    case OpEdw:
    case OpWw:
        return SizeWord;
    case OpEd:
    case OpMd:
    case OpWd:
    case OpQd:
        return SizeDword;
    case OpEv:
    case OpMv:
    case OpXv:
    case OpYv:
    case OpOv:
        return opSize16 ? SizeWord : ins.OpSize64 ? SizeQword : SizeDword;
    case OpEy:
    case OpMy:
        return ins.OpSize64 ? SizeQword : SizeDword;
    case OpEq:
    case OpMq:
    case OpWq:
    case OpQq:
        return SizeQword;
    case OpMt:
        return SizeTbyte;
    case OpMx:
    case OpWx:
        return SizeXmm;
    case OpMp:
        return opSize16 ? SizeDword : ins.OpSize64 ? SizeTbyte : SizeFword;
    case OpMa:
        return opSize16 ? SizeDword : SizeQword;
    default:
        return SizeNone;
    }
}

// Register-file of an E/Q/W-type operand in its register form.
enum ERegFile : uint8_t { File8, File16, File32, File64, FileMmx, FileXmm };

ERegFile OperandSizeFile(const TX86Instruction& ins) {
    return ins.OpSize16 ? File16 : ins.OpSize64 ? File64 : File32;
}

ERegFile RegisterFile(uint8_t op, const TX86Instruction& ins) {
    switch (op) {
    case OpEb:
        return File8;
    case OpEw:
        return File16;
    case OpEv:
    case OpRv:
        return OperandSizeFile(ins);
    case OpEy:
        return ins.OpSize64 ? File64 : File32;
    case OpEq:
        return File64;
    case OpRd: // control and debug register moves take full-size registers
        return ins.Mode == TX86Mode::Bits64 ? File64 : File32;
    case OpQq:
    case OpQd:
    case OpNq:
    case OpPq:
        return FileMmx;
    case OpWx:
    case OpWq:
    case OpWd:
    case OpWw:
    case OpUx:
    case OpVx:
        return FileXmm;
    default:
        return File32;
    }
}

// n is the register number including its REX bit.
void PutRegister(TWriter& w, ERegFile file, unsigned n, uint8_t rex) {
    switch (file) {
    case File8:
        w.Puts(rex ? Reg8Rex[n & 15] : Reg8[n & 7]);
        break;
    case File16:
        w.Puts(Reg16[n & 15]);
        break;
    case File32:
        w.Puts(Reg32[n & 15]);
        break;
    case File64:
        w.Puts(Reg64[n & 15]);
        break;
    case FileMmx:
        w.Puts("mm");
        w.Put(char('0' + (n & 7)));
        break;
    case FileXmm:
        w.Puts("xmm");
        w.Dec(n & 15);
        break;
    }
}

void PutSigned(TWriter& w, int32_t v) {
    if (v < 0) {
        w.Put('-');
        w.Hex(uint32_t(0) - uint32_t(v));
    } else {
        w.Put('+');
        w.Hex(uint32_t(v));
    }
}

void PutMemory(TWriter& w, const TX86Instruction& ins, ESize size) {
    if (size != SizeNone) {
        w.Puts(SizeNames[size]);
        w.Puts(" ptr ");
    }
    if (ins.Segment) {
        w.Puts(Seg[ins.Segment - 1]);
        w.Put(':');
    }
    w.Put('[');
    const uint8_t mod = ins.ModRM >> 6, rm = ins.ModRM & 7;
    // Address registers: 32-bit, or 64-bit in 64-bit mode without 67.
    const char* const* regs = ins.Mode == TX86Mode::Bits64 && !ins.AdSize32 ? Reg64 : Reg32;
    const unsigned rexB = ins.Rex & X86RexB ? 8 : 0, rexX = ins.Rex & X86RexX ? 8 : 0;
    bool any = false;
    if (ins.RipRelative) {
        // The address it refers to says more than the distance.
        w.Hex(ins.RipAddress);
        w.Put(']');
        return;
    }
    if (ins.AdSize16) {
        if (!(mod == 0 && rm == 6)) {
            w.Puts(Mem16[rm]);
            any = true;
        }
    } else if (ins.HasSib) {
        const unsigned base = ins.Sib & 7, index = ((ins.Sib >> 3) & 7) | rexX, scale = ins.Sib >> 6;
        if (!(base == 5 && mod == 0)) {
            w.Puts(regs[base | rexB]);
            any = true;
        }
        if (index != 4) {
            if (any) w.Put('+');
            w.Puts(regs[index]);
            if (scale) {
                w.Put('*');
                w.Put(char('0' + (1 << scale)));
            }
            any = true;
        }
    } else if (!(mod == 0 && rm == 5)) {
        w.Puts(regs[rm | rexB]);
        any = true;
    }
    if (!any) {
        if (ins.AdSize16)
            w.Hex(uint32_t(ins.Disp) & 0xFFFF);
        else if (regs == Reg64)
            w.Hex(uint64_t(int64_t(ins.Disp)));
        else
            w.Hex(uint32_t(ins.Disp));
    } else if (ins.DispSize && ins.Disp != 0) {
        PutSigned(w, ins.Disp);
    }
    w.Put(']');
}

void PutStringOperand(TWriter& w, const TX86Instruction& ins, ESize size, bool destination) {
    w.Puts(SizeNames[size]);
    w.Puts(" ptr ");
    if (destination)
        w.Puts("es:");
    else
        w.Puts(ins.Segment ? Seg[ins.Segment - 1] : "ds"), w.Put(':');
    w.Put('[');
    if (ins.AdSize16)
        w.Puts(destination ? "di" : "si");
    else if (ins.Mode == TX86Mode::Bits64 && !ins.AdSize32)
        w.Puts(destination ? "rdi" : "rsi");
    else
        w.Puts(destination ? "edi" : "esi");
    w.Put(']');
}

// A sign-extended immediate at the instruction's operand size.
uint64_t ImmediateOfSize(uint64_t v, const TX86Instruction& ins) {
    return ins.OpSize16 ? v & 0xFFFF : ins.OpSize64 ? v : uint32_t(v);
}

void PutOperand(TWriter& w, const TX86Instruction& ins, uint8_t op, bool secondImmediate) {
    const uint8_t mod = ins.ModRM >> 6;
    const unsigned reg = ((ins.ModRM >> 3) & 7) | (ins.Rex & X86RexR ? 8 : 0);
    const unsigned rm = (ins.ModRM & 7) | (ins.Rex & X86RexB ? 8 : 0);
    const unsigned opReg = (ins.Opcode & 7) | (ins.Rex & X86RexB ? 8 : 0);
    switch (op) {
    case OpEb:
    case OpEw:
    case OpEd:
    case OpEv:
    case OpEdw:
    case OpEdb:
    case OpEy:
    case OpEq:
    case OpQq:
    case OpQd:
    case OpWx:
    case OpWq:
    case OpWd:
    case OpWw:
    case OpM:
    case OpMb:
    case OpMw:
    case OpMd:
    case OpMq:
    case OpMt:
    case OpMx:
    case OpMp:
    case OpMa:
    case OpMv:
    case OpMy:
        if (mod == 3)
            PutRegister(w, RegisterFile(op, ins), rm, ins.Rex);
        else
            PutMemory(w, ins, MemorySize(op, ins));
        break;
    case OpRv:
    case OpRd:
    case OpNq:
    case OpUx:
        PutRegister(w, RegisterFile(op, ins), rm, ins.Rex);
        break;
    case OpGb:
        PutRegister(w, File8, reg, ins.Rex);
        break;
    case OpGw:
        PutRegister(w, File16, reg, ins.Rex);
        break;
    case OpGd:
        PutRegister(w, File32, reg, ins.Rex);
        break;
    case OpGv:
        PutRegister(w, OperandSizeFile(ins), reg, ins.Rex);
        break;
    case OpGy:
        PutRegister(w, ins.OpSize64 ? File64 : File32, reg, ins.Rex);
        break;
    case OpGq:
        PutRegister(w, File64, reg, ins.Rex);
        break;
    case OpPq:
        PutRegister(w, FileMmx, reg, ins.Rex);
        break;
    case OpVx:
        PutRegister(w, FileXmm, reg, ins.Rex);
        break;
    case OpSw:
        w.Puts(Seg[reg & 7]);
        break;
    case OpCd:
        w.Puts("cr");
        w.Dec(reg);
        break;
    case OpDd:
        w.Puts("dr");
        w.Dec(reg);
        break;
    case OpIb:
        w.Hex(secondImmediate ? ins.Imm2 : ins.Imm);
        break;
    case OpIbs:
        w.Hex(ImmediateOfSize(uint64_t(int64_t(int8_t(ins.Imm))), ins));
        break;
    case OpIw:
        w.Hex(ins.Imm);
        break;
    case OpIz:
        // Sign-extended to 64 bits; as encoded otherwise.
        w.Hex(ins.OpSize64 ? uint64_t(int64_t(int32_t(uint32_t(ins.Imm)))) : ins.Imm);
        break;
    case OpIv:
        w.Hex(ins.Imm);
        break;
    case OpJb:
    case OpJz:
        w.Hex(ins.Target);
        break;
    case OpAp:
        w.Hex(ins.Imm2);
        w.Put(':');
        w.Hex(ins.Imm);
        break;
    case OpOb:
    case OpOv: {
        // The accumulator operand already tells the size.
        if (ins.Segment) w.Puts(Seg[ins.Segment - 1]), w.Put(':');
        w.Put('[');
        w.Hex(ins.Imm);
        w.Put(']');
        break;
    }
    case OpXb:
    case OpXv:
        PutStringOperand(w, ins, MemorySize(op, ins), false);
        break;
    case OpYb:
    case OpYv:
        PutStringOperand(w, ins, MemorySize(op, ins), true);
        break;
    case OpZb:
        PutRegister(w, File8, opReg, ins.Rex);
        break;
    case OpZv:
        PutRegister(w, OperandSizeFile(ins), opReg, ins.Rex);
        break;
    case OpZd:
        PutRegister(w, File32, opReg, ins.Rex);
        break;
    case OpZy:
        PutRegister(w, ins.OpSize64 ? File64 : File32, opReg, ins.Rex);
        break;
    case OpST:
        w.Puts("st");
        break;
    case OpSTi:
        w.Puts("st(");
        w.Put(char('0' + (rm & 7)));
        w.Put(')');
        break;
    case OpOne:
        w.Put('1');
        break;
    case OpAl:
        w.Puts("al");
        break;
    case OpCl:
        w.Puts("cl");
        break;
    case OpDx:
        w.Puts("dx");
        break;
    case OpAx:
        w.Puts("ax");
        break;
    case OpEAX:
    case OpECX:
    case OpEDX:
    case OpEBX:
    case OpESP:
    case OpEBP:
    case OpESI:
    case OpEDI:
        PutRegister(w, OperandSizeFile(ins), unsigned(op - OpEAX), ins.Rex);
        break;
    case OpEs:
    case OpCs:
    case OpSs:
    case OpDs:
    case OpFs:
    case OpGs:
        w.Puts(Seg[op - OpEs]);
        break;
    case OpXmm0:
        w.Puts("xmm0");
        break;
    default:
        w.Put('?');
        break;
    }
}

// Text of printable characters at address, for the "  ; 'text'" comment.
bool ReadableText(const IMemoryReader& memory, uint64_t address, char* text, size_t textSize) {
    uint8_t bytes[48];
    size_t n = sizeof bytes;
    while (n >= 4 && !memory.Read(address, bytes, n))
        n /= 2;
    if (n < 4) return false;
    size_t len = 0;
    while (len < n && bytes[len] >= 0x20 && bytes[len] < 0x7F)
        ++len;
    // Short runs are more often numbers or code than text.
    if (len < 4 || (len < n && bytes[len] != 0 && bytes[len] != '\r' && bytes[len] != '\n')) return false;
    if (len >= textSize) len = textSize - 1;
    for (size_t i = 0; i < len; ++i)
        text[i] = char(bytes[i]);
    text[len] = 0;
    return true;
}

} // namespace

size_t FormatX86Hex(uint64_t value, char* buffer) {
    if (value < 10) {
        buffer[0] = char('0' + value);
        return 1;
    }
    static const char digits[] = "0123456789ABCDEF";
    char tmp[16];
    int n = 0;
    while (value) {
        tmp[n++] = digits[value & 15];
        value >>= 4;
    }
    size_t len = 0;
    if (tmp[n - 1] > '9') buffer[len++] = '0';
    while (n)
        buffer[len++] = tmp[--n];
    buffer[len++] = 'h';
    return len;
}

size_t FormatX86(const TX86Instruction& ins, char* buffer, size_t size, const ISymbolResolver* symbols,
                 const IMemoryReader* memory) {
    if (size == 0) return 0;
    TWriter w{buffer, buffer, buffer + size - 1};
    const bool x64 = ins.Mode == TX86Mode::Bits64;
    const int digits = X86AddressDigits(ins.Mode);
    w.HexDigits(ins.Address, digits);
    w.Puts("   ");
    if (!ins.Valid) {
        w.Puts("db ");
        w.Hex(ins.Bytes[0]);
        *w.P = 0;
        return w.Length();
    }
    const TLeaf& leaf = Leaves[ins.Leaf];
    if (ins.Prefixes & X86PrefixLock) w.Puts("lock ");
    if (leaf.Flags & FlagStr) {
        if (ins.Prefixes & X86PrefixRepne)
            w.Puts("repne ");
        else if (ins.Prefixes & X86PrefixRep)
            w.Puts("rep ");
    }
    w.Puts(Mnemonics + leaf.Mnemonic);
    if (leaf.Operands[0] != OpNone) {
        w.Put(' ');
        w.PadTo(size_t(digits) + 11);
        bool sawImmediate = false;
        for (int i = 0; i < 3 && leaf.Operands[i] != OpNone; ++i) {
            if (i) w.Puts(", ");
            const uint8_t op = leaf.Operands[i];
            const bool isImm = op == OpIb || op == OpIw || op == OpIz || op == OpIbs;
            PutOperand(w, ins, op, isImm && sawImmediate);
            sawImmediate |= isImm;
        }
    }

    // Comments: a named target, or text that an address operand points to.
    std::string name;
    bool haveName = false;
    if (symbols) {
        // Through a pointer: the routine it holds, else the pointer itself (an import slot).
        if (ins.HasTarget)
            haveName = symbols->NameAt(ins.Target, name);
        else if (ins.HasPointer)
            haveName = (ins.PointerValueValid && symbols->NameAt(ins.PointerValue, name)) ||
                       symbols->NameAt(ins.PointerAddress, name);
    }
    if (haveName) {
        w.Puts("  ; ");
        w.Puts(name.c_str());
    } else if (memory) {
        char text[41];
        bool found = false;
        if (x64) {
            if (ins.RipRelative) found = ReadableText(*memory, ins.RipAddress, text, sizeof text);
            if (!found && ins.ImmSize >= 4 && !ins.HasTarget)
                found = ReadableText(*memory, ins.Imm, text, sizeof text);
        } else {
            if (ins.ImmSize == 4 && !ins.HasTarget) found = ReadableText(*memory, ins.Imm, text, sizeof text);
            if (!found && ins.DispSize == 4)
                found = ReadableText(*memory, uint32_t(ins.Disp), text, sizeof text);
        }
        if (found) {
            w.Puts("  ; '");
            w.Puts(text);
            w.Put('\'');
        }
    }
    *w.P = 0;
    return w.Length();
}

std::string X86InstructionText(const TX86Instruction& ins, const ISymbolResolver* symbols,
                               const IMemoryReader* memory) {
    char buffer[X86TextMax];
    const size_t n = FormatX86(ins, buffer, sizeof buffer, symbols, memory);
    return std::string(buffer, n);
}
