#include "crashreport/symbols/SymbolData.h"

#include <algorithm>
#include <cstring>
#include <string>

bool TMiniStream::ReadByte(uint8_t& value) {
    if (FPos >= FBytes.size()) return false;
    value = FBytes[FPos++];
    return true;
}

bool TMiniStream::ReadPackedInt(uint64_t& value) {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        uint8_t b;
        if (!ReadByte(b)) return false;
        v |= uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) {
            value = v;
            return true;
        }
    }
    return false; // more than ten bytes
}

bool TMiniStream::ReadPackedInt32(uint32_t& value) {
    uint64_t v;
    if (!ReadPackedInt(v) || v > 0xFFFFFFFFu) return false;
    value = uint32_t(v);
    return true;
}

bool TMiniStream::ReadPackedString(std::string_view& value, size_t maxLength) {
    uint64_t length;
    if (!ReadPackedInt(length) || length > maxLength || length > Remaining()) return false;
    value = std::string_view(reinterpret_cast<const char*>(FBytes.data() + FPos), size_t(length));
    FPos += size_t(length);
    return true;
}

namespace {

const uint8_t Magic[4] = {'X', 'U', 'N', 'S'};
constexpr uint8_t FormatVersion = 1;

// The key is not stored as one constant: it is folded from a phrase when first needed.
uint32_t SymbolKey() {
    static const uint32_t key = [] {
        const char phrase[] = "Zembrak stones fall in line";
        uint32_t h = 0x811C9DC5u;
        for (char c : phrase)
            h = (h ^ uint8_t(c)) * 0x01000193u;
        return h ^ 0x5EED1E55u;
    }();
    return key;
}

// xorshift32 keystream, one byte per step.
void Cipher(uint8_t* data, size_t size, uint32_t nonce) {
    uint32_t state = SymbolKey() ^ nonce;
    if (state == 0) state = 0x9E3779B9u;
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        data[i] ^= uint8_t(state >> 24);
    }
}

uint32_t Checksum(const uint8_t* data, size_t size) {
    uint32_t h = 0x811C9DC5u;
    for (size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 0x01000193u;
    return h;
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutInt(std::vector<uint8_t>& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    out.push_back(uint8_t(v));
}

void PutString(std::vector<uint8_t>& out, std::string_view s) {
    PutInt(out, s.size());
    out.insert(out.end(), s.begin(), s.end());
}

uint64_t ZigZag(int64_t v) {
    return (uint64_t(v) << 1) ^ uint64_t(v >> 63);
}
int64_t UnZigZag(uint64_t v) {
    return int64_t(v >> 1) ^ -int64_t(v & 1);
}

bool ReadPayload(TMiniStream& in, TMapFile& map) {
    uint32_t count;
    std::string_view text;
    // Units.
    if (!in.ReadPackedInt32(count) || count > in.Remaining() || count > MaxSymbolEntries) return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (!in.ReadPackedString(text, MaxSymbolNameLength)) return false;
        // Unit names are unique in data we wrote; a duplicate means damage.
        if (map.AddUnit(text) != i) return false;
    }
    const uint32_t units = count;
    // Segments.
    if (!in.ReadPackedInt32(count) || count > in.Remaining() || count > MaxSymbolEntries) return false;
    uint64_t address = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t delta;
        uint32_t length, unit, cls;
        if (!in.ReadPackedInt(delta) || !in.ReadPackedInt32(length) || !in.ReadPackedInt32(unit) ||
            !in.ReadPackedInt32(cls))
            return false;
        address += delta;
        if (delta > 0xFFFFFFFFu || address > 0xFFFFFFFFu || unit >= units || cls > 1) return false;
        if (!map.AddSegment(uint32_t(address), length, unit, TSegmentClass(cls))) return false;
    }
    // Publics.
    if (!in.ReadPackedInt32(count) || count > in.Remaining() || count > MaxSymbolEntries) return false;
    address = 0;
    std::string name, previous;
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t delta, shared;
        if (!in.ReadPackedInt(delta) || !in.ReadPackedInt(shared) || shared > previous.size() ||
            !in.ReadPackedString(text, MaxSymbolNameLength))
            return false;
        address += delta;
        if (delta > 0xFFFFFFFFu || address > 0xFFFFFFFFu || shared + text.size() > MaxSymbolNameLength)
            return false;
        name.assign(previous, 0, size_t(shared));
        name.append(text);
        if (!map.AddPublic(uint32_t(address), name)) return false;
        previous.swap(name);
    }
    // Lines.
    if (!in.ReadPackedInt32(count) || count > in.Remaining() || count > MaxSymbolEntries) return false;
    address = 0;
    int64_t line = 0;
    uint32_t unit = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t delta, lineDelta;
        uint32_t unitCode;
        if (!in.ReadPackedInt(delta) || !in.ReadPackedInt(lineDelta) || !in.ReadPackedInt32(unitCode))
            return false;
        address += delta;
        line += UnZigZag(lineDelta);
        if (delta > 0xFFFFFFFFu || address > 0xFFFFFFFFu || line < 0 || line > 0x7FFFFFFF) return false;
        if (unitCode != 0) {
            if (unitCode - 1 >= units) return false;
            unit = unitCode - 1;
        } else if (i == 0) {
            return false; // the first line names its unit
        }
        if (!map.AddLine(uint32_t(address), int32_t(line), unit)) return false;
    }
    return in.Remaining() == 0;
}

} // namespace

std::vector<uint8_t> PackSymbolData(const TMapFile& map, uint32_t nonce) {
    std::vector<uint8_t> payload;
    PutInt(payload, map.Units().size());
    for (const std::string& u : map.Units())
        PutString(payload, u);

    std::vector<TMapSegment> segments = map.Segments();
    std::stable_sort(segments.begin(), segments.end(),
                     [](const TMapSegment& a, const TMapSegment& b) { return a.Start < b.Start; });
    PutInt(payload, segments.size());
    uint32_t previous = 0;
    for (const TMapSegment& s : segments) {
        PutInt(payload, s.Start - previous);
        PutInt(payload, s.Length);
        PutInt(payload, s.Unit);
        PutInt(payload, uint8_t(s.Class));
        previous = s.Start;
    }

    PutInt(payload, map.Publics().size());
    previous = 0;
    std::string_view last;
    for (const TMapPublic& p : map.Publics()) {
        std::string_view name = map.PublicName(p);
        size_t shared = 0;
        while (shared < name.size() && shared < last.size() && name[shared] == last[shared])
            ++shared;
        PutInt(payload, p.Address - previous);
        PutInt(payload, shared);
        PutString(payload, name.substr(shared));
        previous = p.Address;
        last = name;
    }

    PutInt(payload, map.Lines().size());
    previous = 0;
    int64_t line = 0;
    int64_t unit = -1;
    for (const TMapLine& l : map.Lines()) {
        PutInt(payload, l.Address - previous);
        PutInt(payload, ZigZag(int64_t(l.Line) - line));
        PutInt(payload, l.Unit == unit ? 0 : uint64_t(l.Unit) + 1);
        previous = l.Address;
        line = l.Line;
        unit = l.Unit;
    }

    if (nonce == 0) nonce = Checksum(payload.data(), payload.size()) | 1;
    std::vector<uint8_t> out(Magic, Magic + 4);
    out.push_back(FormatVersion);
    out.insert(out.end(), 3, 0);
    PutU32(out, nonce);
    PutU32(out, uint32_t(payload.size()));
    PutU32(out, Checksum(payload.data(), payload.size()));
    Cipher(payload.data(), payload.size(), nonce);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

bool UnpackSymbolData(std::span<const uint8_t> data, TMapFile& map) {
    map.Clear();
    if (data.size() < SymbolDataHeaderSize || data.size() > MaxSymbolDataSize ||
        std::memcmp(data.data(), Magic, 4) != 0 || data[4] != FormatVersion)
        return false;
    uint32_t nonce = GetU32(&data[8]);
    uint32_t size = GetU32(&data[12]);
    if (size != data.size() - SymbolDataHeaderSize) return false;
    std::vector<uint8_t> payload(data.begin() + SymbolDataHeaderSize, data.end());
    Cipher(payload.data(), payload.size(), nonce);
    bool ok = Checksum(payload.data(), payload.size()) == GetU32(&data[16]);
    if (ok) {
        TMiniStream in(payload);
        ok = ReadPayload(in, map);
    }
    if (!ok) map.Clear();
    map.Finish();
    return ok;
}

bool UnpackSymbolPayload(std::span<const uint8_t> payload, TMapFile& map) {
    map.Clear();
    TMiniStream in(payload);
    bool ok = ReadPayload(in, map);
    if (!ok) map.Clear();
    map.Finish();
    return ok;
}
