#pragma once
// The text of one decoded instruction, as the bug report's disassembly shows it:
//   "00401000   mov     eax, dword ptr [ebp+8]  ; comment"
//   "0000000140001000   mov     rax, qword ptr [rbp+8]  ; comment" (64-bit code)
#include <cstddef>
#include <cstdint>
#include <string>

#include "crashreport/x86/Decoder.h"

// Names for addresses; symbol lookup provides the real one.
class ISymbolResolver {
public:
    virtual ~ISymbolResolver() = default;
    // The name of the function that starts exactly at address.
    virtual bool NameAt(uint64_t address, std::string& name) const = 0;
    // The class name behind a class reference of an exception-handler table.
    virtual bool ClassNameAt(uint64_t classRef, std::string& name) const {
        (void)classRef;
        (void)name;
        return false;
    }
};

// Longest text FormatX86 writes, including the terminating zero.
constexpr size_t X86TextMax = 256;

// Writes the instruction's line into buffer (zero-terminated, truncated to size) and returns
// its length. symbols and memory are optional: they supply the "  ; name" and "  ; 'text'" comments.
size_t FormatX86(const TX86Instruction& ins, char* buffer, size_t size,
                 const ISymbolResolver* symbols = nullptr, const IMemoryReader* memory = nullptr);

std::string X86InstructionText(const TX86Instruction& ins, const ISymbolResolver* symbols = nullptr,
                               const IMemoryReader* memory = nullptr);

// Hexadecimal in the listing's style: below 10 a plain digit, else upper-case digits with a
// trailing "h" and a leading "0" when the first digit is a letter ("0Ch", "401000h"); at most 18
// characters, no terminating zero.
size_t FormatX86Hex(uint64_t value, char* buffer);

// Digits of an address at the start of a line: 8 for 32-bit code, 16 for 64-bit code.
inline int X86AddressDigits(TX86Mode mode) {
    return mode == TX86Mode::Bits64 ? 16 : 8;
}
