#pragma once
// Reading memory that may not be there: the decoder and the function analysis read code and
// data of a process that has just crashed, so every read can fail and must never fault.
#include <cstddef>
#include <cstdint>
#include <span>

class IMemoryReader {
public:
    virtual ~IMemoryReader() = default;
    // Copies size bytes at address into buffer; false (and nothing usable) if any byte is unreadable.
    virtual bool Read(uint64_t address, void* buffer, size_t size) const = 0;
    // Optional fast path: a direct view of the readable bytes from address on, or nullptr.
    virtual const uint8_t* View(uint64_t address, size_t& available) const {
        (void)address;
        available = 0;
        return nullptr;
    }
    // False when address certainly holds no code (not executable); a cheap filter before reads.
    virtual bool MayBeCode(uint64_t address) const {
        (void)address;
        return true;
    }
};

// A block of bytes mapped at a base address; used by tests and host tools.
class TSpanMemoryReader : public IMemoryReader {
public:
    TSpanMemoryReader(uint64_t base, std::span<const uint8_t> bytes) : FBase(base), FBytes(bytes) {}
    bool Read(uint64_t address, void* buffer, size_t size) const override;
    const uint8_t* View(uint64_t address, size_t& available) const override;
    uint64_t Base() const { return FBase; }
    size_t Size() const { return FBytes.size(); }

private:
    uint64_t FBase;
    std::span<const uint8_t> FBytes;
};
