#pragma once
// Our packed symbol format, used for the resource a module carries (type "XUN", name "EXCEPT")
// and for ".xun" files beside a module:
//   header (20 bytes, clear): "XUNS", version 1, three zero bytes, nonce, payload size, checksum
//   payload (enciphered): packed integers and packed strings —
//     units:    count, then each name
//     segments: count, then each start (delta from the previous, by start), length, unit, class
//     publics:  count, then each address (delta), length of the prefix shared with the previous
//               name, the rest of the name
//     lines:    count, then each address (delta), line (zig-zag delta), unit + 1 (0: as before)
// Packed integers are little-endian base-128 (7 bits a byte, high bit: more follow); a packed
// string is its length followed by its bytes. The cipher is a byte stream from a generator seeded
// with a key built at run time and the header's nonce; the checksum covers the clear payload.
// tools/gen_symbols.py writes the same format.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "crashreport/symbols/MapFile.h"

constexpr size_t SymbolDataHeaderSize = 20;
constexpr size_t MaxSymbolDataSize = size_t(64) << 20;

// A read cursor over a memory buffer; every read fails cleanly at the end.
class TMiniStream {
public:
    explicit TMiniStream(std::span<const uint8_t> bytes) : FBytes(bytes) {}
    bool ReadByte(uint8_t& value);
    bool ReadPackedInt(uint64_t& value);
    bool ReadPackedInt32(uint32_t& value);
    bool ReadPackedString(std::string_view& value, size_t maxLength);
    size_t Remaining() const { return FBytes.size() - FPos; }

private:
    std::span<const uint8_t> FBytes;
    size_t FPos = 0;
};

// Packs the finished map (segments, publics, lines); nonce 0 picks one.
std::vector<uint8_t> PackSymbolData(const TMapFile& map, uint32_t nonce = 0);

// Fills map (segments, publics, lines) from packed data and finishes it; false for anything
// damaged, and the map is then left empty.
bool UnpackSymbolData(std::span<const uint8_t> data, TMapFile& map);

// The payload reader alone, on clear bytes (the fuzz target reaches it past the checksum).
bool UnpackSymbolPayload(std::span<const uint8_t> payload, TMapFile& map);
