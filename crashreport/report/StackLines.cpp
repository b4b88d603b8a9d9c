#include "crashreport/report/StackLines.h"

#include <algorithm>
#include <array>

#include "crashreport/base/Text.h"

namespace {

bool Resolved(const TStackLine& line) {
    return !line.Module.empty() && line.Module != "???";
}

uint64_t RelAddress(const TStackLine& line) {
    return line.FunctionStartKnown && line.Address >= line.FunctionStart ? line.Address - line.FunctionStart
                                                                         : 0;
}

std::string RelLineText(const TStackLine& line, bool showRelLines) {
    if (!showRelLines || !line.RelLineKnown || line.Line <= 0) return {};
    return "+" + std::to_string(line.RelLine);
}

std::string LineText(const TStackLine& line) {
    return line.Line > 0 ? std::to_string(line.Line) : std::string();
}

void PadRight(std::string& out, std::string_view s, size_t width) {
    out += s;
    out.append(width - s.size(), ' ');
}
void PadLeft(std::string& out, std::string_view s, size_t width) {
    out.append(width - s.size(), ' ');
    out += s;
}

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

uint32_t UpdateCrcLower(uint32_t crc, std::string_view s) {
    for (char ch : s) {
        uint8_t b = static_cast<uint8_t>(ch);
        if (b >= 'A' && b <= 'Z') b = uint8_t(b + 32);
        crc = UpdateCrc(crc, &b, 1);
    }
    return crc;
}

} // namespace

std::string ComposeStackLines(const std::vector<TStackLine>& lines, bool showRelAddrs, bool showRelLines,
                              int addressDigits) {
    size_t relWidth = 0, moduleWidth = 0, unitWidth = 0, lineWidth = 0, relLineWidth = 0;
    for (const TStackLine& l : lines) {
        // The entry is "+" and the digits; the digits are zero-padded to the entry's width.
        relWidth = std::max(relWidth, Hex(RelAddress(l)).size() + 1);
        moduleWidth = std::max(moduleWidth, l.Module.size());
        unitWidth = std::max(unitWidth, l.Unit.size());
        lineWidth = std::max(lineWidth, LineText(l).size());
        relLineWidth = std::max(relLineWidth, RelLineText(l, showRelLines).size());
    }
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        const TStackLine& l = lines[i];
        if (i) out += "\r\n";
        AppendHex(out, l.Address, addressDigits);
        out += ' ';
        if (showRelAddrs) {
            out += '+';
            AppendHex(out, RelAddress(l), int(relWidth));
            out += ' ';
        }
        PadRight(out, l.Module, moduleWidth + 1);
        PadRight(out, l.Unit, unitWidth + 1);
        PadLeft(out, LineText(l), lineWidth);
        out += ' ';
        if (showRelLines) {
            PadLeft(out, RelLineText(l, true), relLineWidth);
            out += ' ';
        }
        out += l.Function;
        // Nothing after the function name: an empty one must not leave the padding behind.
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
    }
    return out;
}

std::string StackLineText(const TStackLine& line, bool showRelAddrs, bool showRelLines, int addressDigits) {
    std::string out = Hex(line.Address, addressDigits);
    if (showRelAddrs) out += " +" + Hex(RelAddress(line));
    if (!Resolved(line)) return out + " ???";
    out += ' ' + line.Module + ' ' + line.Unit + ' ';
    if (line.Line > 0) out += LineText(line) + ' ';
    if (std::string rel = RelLineText(line, showRelLines); !rel.empty()) out += rel + ' ';
    out += line.Function;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

uint32_t UpdateCrc(uint32_t crc, const void* bytes, size_t size) {
    const auto& table = CrcTable();
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t StackItemChecksum(const TStackLine& line) {
    if (line.FunctionStartKnown && Resolved(line) && !line.Function.empty()) {
        uint32_t crc = uint32_t(RelAddress(line));
        crc = UpdateCrcLower(crc, line.Module);
        crc = UpdateCrcLower(crc, line.Unit);
        return UpdateCrcLower(crc, line.Function);
    }
    return uint32_t(line.Address) ^ uint32_t(line.Address >> 32);
}

uint32_t FeedChecksum(uint32_t crc, uint32_t value) {
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                              uint8_t(value >> 24)};
    return UpdateCrc(crc, bytes, 4);
}

uint32_t StackChecksum(const std::vector<TStackLine>& lines) {
    if (lines.empty()) return 0;
    uint32_t crc = StackItemChecksum(lines[0]);
    for (size_t i = 1; i < lines.size(); ++i)
        crc = FeedChecksum(crc, StackItemChecksum(lines[i]));
    return crc;
}
