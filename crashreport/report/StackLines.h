#pragma once
// Stack lines: the shown items of a thread's stack, as the tracer resolves them and as the bug
// report writes them, and the checksums that tell one stack from another.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TStackLine { // one shown stack item, innermost first
    uint64_t Address = 0;
    uint64_t FunctionStart = 0;
    bool FunctionStartKnown = false;
    std::string Module; // file name without path; "???" when unknown
    std::string Unit;   // may be empty
    int Line = 0;       // 0 = unknown
    int RelLine = 0;
    bool RelLineKnown = false;
    std::string Function; // may be empty
};

// The lines with their columns aligned over the whole list, separated by CR LF (none after the last).
std::string ComposeStackLines(const std::vector<TStackLine>& lines, bool showRelAddrs, bool showRelLines,
                              int addressDigits);
// One item without alignment, for exception locations and internal errors.
std::string StackLineText(const TStackLine& line, bool showRelAddrs, bool showRelLines, int addressDigits);

// The CRC-32 table update (polynomial 0xEDB88320) without pre- or post-inversion.
uint32_t UpdateCrc(uint32_t crc, const void* bytes, size_t size);

// The item's offset in its function run through the CRC with its lower-cased module, unit and
// function names; without function start, module or name the address itself. A 64-bit address is
// folded to 32 bits by XOR of its two halves, so the 32-bit build's values stay what they were.
uint32_t StackItemChecksum(const TStackLine& line);
// The first item's value as seed, each further item's value fed in as 4 little-endian bytes.
uint32_t StackChecksum(const std::vector<TStackLine>& lines);
// Feeds one 32-bit value into a running checksum, as StackChecksum does.
uint32_t FeedChecksum(uint32_t crc, uint32_t value);
