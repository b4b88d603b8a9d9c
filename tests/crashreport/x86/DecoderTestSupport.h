#pragma once
// Memory and names for the decoder and function analysis tests.
#include "crashreport/base/MemoryReader.h"
#include "crashreport/x86/Disassembler.h"

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace DecoderTest {

// "8B FF 55" → bytes.
inline std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok)
        bytes.push_back(uint8_t(std::stoul(tok, nullptr, 16)));
    return bytes;
}

// Several blocks of memory at their addresses; everything else is unreadable.
class TBlocks : public IMemoryReader {
public:
    void Add(uint64_t address, std::vector<uint8_t> bytes) { FBlocks[address] = std::move(bytes); }
    bool Read(uint64_t address, void* buffer, size_t size) const override {
        for (const auto& [base, bytes] : FBlocks)
            if (TSpanMemoryReader(base, bytes).Read(address, buffer, size)) return true;
        return false;
    }

private:
    std::map<uint64_t, std::vector<uint8_t>> FBlocks;
};

class TNames : public ISymbolResolver {
public:
    std::map<uint64_t, std::string> Names;
    bool NameAt(uint64_t address, std::string& name) const override {
        auto it = Names.find(address);
        if (it == Names.end()) return false;
        name = it->second;
        return true;
    }
};

} // namespace DecoderTest
