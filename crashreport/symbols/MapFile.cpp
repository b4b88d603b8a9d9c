#include "crashreport/symbols/MapFile.h"

#include <algorithm>

uint32_t TMapFile::AddUnit(std::string_view name) {
    if (name.size() > MaxSymbolNameLength) name = name.substr(0, MaxSymbolNameLength);
    std::string key(name);
    auto it = FUnitIndex.find(key);
    if (it != FUnitIndex.end()) return it->second;
    if (FUnits.size() >= MaxSymbolEntries) return 0; // a full table shares unit 0
    uint32_t index = uint32_t(FUnits.size());
    FUnits.push_back(key);
    FUnitIndex.emplace(std::move(key), index);
    return index;
}

bool TMapFile::AddSegment(uint32_t start, uint32_t length, uint32_t unit, TSegmentClass cls) {
    if (FSegments.size() >= MaxSymbolEntries) return false;
    FSegments.push_back({start, length, unit, cls});
    return true;
}

bool TMapFile::AddPublic(uint32_t address, std::string_view name) {
    if (FPublics.size() >= MaxSymbolEntries) return false;
    if (name.size() > MaxSymbolNameLength) name = name.substr(0, MaxSymbolNameLength);
    if (FNames.size() + name.size() > MaxSymbolNamePool) return false;
    FPublics.push_back({address, uint32_t(FNames.size()), uint32_t(name.size())});
    FNames.append(name);
    return true;
}

bool TMapFile::AddLine(uint32_t address, int32_t line, uint32_t unit) {
    if (FLines.size() >= MaxSymbolEntries) return false;
    FLines.push_back({address, line, unit});
    return true;
}

void TMapFile::Finish() {
    std::stable_sort(FSegments.begin(), FSegments.end(), [](const TMapSegment& a, const TMapSegment& b) {
        return a.Class != b.Class ? a.Class < b.Class : a.Start < b.Start;
    });
    FCodeSegments =
        size_t(std::partition_point(FSegments.begin(), FSegments.end(),
                                    [](const TMapSegment& s) { return s.Class == TSegmentClass::Code; }) -
               FSegments.begin());
    std::stable_sort(FPublics.begin(), FPublics.end(),
                     [](const TMapPublic& a, const TMapPublic& b) { return a.Address < b.Address; });
    std::stable_sort(FLines.begin(), FLines.end(),
                     [](const TMapLine& a, const TMapLine& b) { return a.Address < b.Address; });
    FUnitIndex.clear(); // only needed while building
    FUnitIndex.rehash(0);
}

void TMapFile::Clear() {
    FUnits.clear();
    FUnitIndex.clear();
    FSegments.clear();
    FCodeSegments = 0;
    FPublics.clear();
    FNames.clear();
    FLines.clear();
}

const TMapSegment* TMapFile::FindSegmentOfClass(TSegmentClass cls, uint32_t address) const {
    auto first = FSegments.begin() + (cls == TSegmentClass::Code ? 0 : ptrdiff_t(FCodeSegments));
    auto last = cls == TSegmentClass::Code ? FSegments.begin() + ptrdiff_t(FCodeSegments) : FSegments.end();
    auto it =
        std::upper_bound(first, last, address, [](uint32_t a, const TMapSegment& s) { return a < s.Start; });
    if (it == first) return nullptr;
    --it;
    return uint64_t(address) < uint64_t(it->Start) + it->Length ? &*it : nullptr;
}

const TMapSegment* TMapFile::FindSegment(bool codeOnly, uint32_t address) const {
    if (!Valid) return nullptr;
    if (auto s = FindSegmentOfClass(TSegmentClass::Code, address)) return s;
    return codeOnly ? nullptr : FindSegmentOfClass(TSegmentClass::Data, address);
}

const TMapPublic* TMapFile::FindPublic(uint32_t address) const {
    if (!Valid) return nullptr;
    auto it = std::upper_bound(FPublics.begin(), FPublics.end(), address,
                               [](uint32_t a, const TMapPublic& p) { return a < p.Address; });
    if (it == FPublics.begin()) return nullptr;
    bool last = it == FPublics.end();
    --it;
    // The last public has no successor to bound it: the end of the code does.
    if (last && CodeTop != 0 && address >= CodeTop) return nullptr;
    return &*it;
}

TLineResult TMapFile::FindLine(uint32_t address) const {
    TLineResult result;
    if (!Valid) return result;
    if (FLines.empty()) {
        if (FindSegment(true, address)) result.Line = -1;
        return result;
    }
    auto it = std::upper_bound(FLines.begin(), FLines.end(), address,
                               [](uint32_t a, const TMapLine& l) { return a < l.Address; });
    if (it == FLines.begin()) return result;
    bool last = it == FLines.end();
    if (last && CodeTop != 0 && address >= CodeTop) return result;
    const TMapLine& line = *(it - 1);
    // The nearest entry may belong to the unit before a gap: it counts only inside this segment.
    const TMapSegment* segment = FindSegment(false, address);
    if (!segment || line.Address < segment->Start ||
        uint64_t(line.Address) > uint64_t(segment->Start) + segment->Length)
        return result;
    result.Line = line.Line;
    result.Next = last ? (CodeTop != 0 ? CodeTop : 0) : it->Address;
    return result;
}

// ---- text map reader

namespace {

bool HexAt(std::string_view s, size_t pos, size_t digits, uint32_t& value) {
    if (pos + digits > s.size()) return false;
    uint32_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        char c = s[pos + i];
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = uint32_t(c - '0');
        else if (c >= 'A' && c <= 'F')
            d = uint32_t(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            d = uint32_t(c - 'a' + 10);
        else
            return false;
        v = v << 4 | d;
    }
    value = v;
    return true;
}

char At(std::string_view s, size_t pos) {
    return pos < s.size() ? s[pos] : '\0';
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

bool Blank(std::string_view s) {
    return TrimLeft(TrimRight(s)).empty();
}

// "ssss:oooooooo" at pos.
bool SegOffsetAt(std::string_view s, size_t pos, uint32_t& seg, uint32_t& offset) {
    return At(s, pos + 4) == ':' && HexAt(s, pos, 4, seg) && HexAt(s, pos + 5, 8, offset);
}

enum class TBlock { None, SegmentTable, Segments, Publics, Lines };

struct TMapReader {
    TMapFile& Map;
    uint32_t CodeLength = 0; // rounded; added to the offsets of segments 2 and above
    uint32_t DataSegment = 2;
    TBlock Block = TBlock::None;
    bool BlockStarted = false;
    uint32_t LineUnit = 0;
    bool Any = false;

    bool Address(uint32_t seg, uint32_t offset, uint32_t& address) const {
        uint64_t a = uint64_t(offset) + Map.CodeBase + (seg >= 2 ? CodeLength : 0);
        if (a > 0xFFFFFFFFu) return false;
        address = uint32_t(a);
        return true;
    }

    bool Heading(std::string_view line) {
        std::string_view t = TrimLeft(line);
        if (t.starts_with("Start") && t.find("Length") != t.npos && t.find("Name") != t.npos &&
            t.find("Class") != t.npos) {
            Enter(TBlock::SegmentTable);
        } else if (t.find("Detailed map of segments") != t.npos) {
            Enter(TBlock::Segments);
        } else if (t.find("Publics by Value") != t.npos) {
            Enter(TBlock::Publics);
        } else if (t.find("Publics by Name") != t.npos) {
            Enter(TBlock::None);
        } else if (t.starts_with("Line numbers for ")) {
            std::string_view unit = t.substr(17);
            unit = TrimRight(unit.substr(0, unit.find('(')));
            LineUnit = Map.AddUnit(unit);
            Enter(TBlock::Lines);
        } else if (size_t p = t.find("Program entry point at "); p != t.npos) {
            uint32_t seg, offset, address;
            if (SegOffsetAt(t, p + 23, seg, offset) && Address(seg, offset, address))
                Map.EntryPoint = address;
            Enter(TBlock::None);
        } else {
            return false;
        }
        return true;
    }

    void Enter(TBlock block) {
        Block = block;
        BlockStarted = false;
    }

    void SegmentTableLine(std::string_view s) {
        uint32_t v;
        if (s.find(".text") != s.npos && At(s, 5) == ':' && At(s, 14) == ' ' && At(s, 23) == 'H' &&
            HexAt(s, 15, 8, v)) {
            CodeLength = uint32_t((uint64_t(v) + 4095) / 4096 * 4096);
        } else if (s.find(".data") != s.npos && HexAt(s, 1, 4, v)) {
            DataSegment = v >= 2 && v <= 9 ? v : 2;
        }
    }

    void SegmentLine(std::string_view s) {
        uint32_t seg, start, length, address;
        if (s.size() <= 72 || At(s, 5) != ':' || At(s, 14) != ' ' || At(s, 23) != ' ' || At(s, 24) != 'C' ||
            At(s, 25) != '=')
            return;
        if (!HexAt(s, 1, 4, seg) || seg == 0 || seg > DataSegment || !HexAt(s, 6, 8, start) ||
            !HexAt(s, 15, 8, length) || !Address(seg, start, address))
            return;
        std::string_view cls = s.substr(26);
        cls = cls.substr(0, cls.find(' '));
        // The unit is the last "name=value" before the final word (ACBP=..).
        std::string_view rest = TrimRight(s);
        size_t lastBlank = rest.find_last_of(' ');
        rest = TrimRight(rest.substr(0, lastBlank == rest.npos ? 0 : lastBlank));
        size_t cut = rest.find_last_of("=\\|");
        std::string_view unit = cut == rest.npos ? rest : rest.substr(cut + 1);
        bool code = cls == "CODE" || cls == "ICODE";
        if (Map.AddSegment(address, length, Map.AddUnit(unit),
                           code ? TSegmentClass::Code : TSegmentClass::Data))
            Any = true;
    }

    void PublicLine(std::string_view s) {
        uint32_t seg, offset, address;
        if (At(s, 5) != ':' || !HexAt(s, 1, 4, seg) || !HexAt(s, 6, 8, offset) ||
            !Address(seg, offset, address))
            return;
        std::string_view name = s.size() > 14 ? TrimRight(TrimLeft(s.substr(14))) : std::string_view();
        if (name.empty()) return;
        if (Map.AddPublic(address, name)) Any = true;
    }

    void LineNumbersLine(std::string_view s) {
        size_t pos = 0;
        for (;;) {
            while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t'))
                ++pos;
            size_t digits = pos;
            uint64_t number = 0;
            while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && number <= 0x7FFFFFFF)
                number = number * 10 + uint64_t(s[pos++] - '0');
            if (pos == digits || number > 0x7FFFFFFF) return;
            while (pos < s.size() && s[pos] == ' ')
                ++pos;
            uint32_t seg, offset, address;
            if (!SegOffsetAt(s, pos, seg, offset)) return;
            pos += 13;
            if (Address(seg, offset, address) && Map.AddLine(address, int32_t(number), LineUnit)) Any = true;
        }
    }

    void Line(std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (Blank(line)) {
            // Blank lines separate a heading from its block and end the block.
            if (BlockStarted) Enter(TBlock::None);
            return;
        }
        if (Heading(line)) return;
        BlockStarted = true;
        switch (Block) {
        case TBlock::SegmentTable:
            SegmentTableLine(line);
            break;
        case TBlock::Segments:
            SegmentLine(line);
            break;
        case TBlock::Publics:
            PublicLine(line);
            break;
        case TBlock::Lines:
            LineNumbersLine(line);
            break;
        case TBlock::None:
            break;
        }
    }
};

} // namespace

bool ReadTextMap(std::string_view text, TMapFile& map) {
    TMapReader reader{map};
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == text.npos) end = text.size();
        reader.Line(text.substr(pos, end - pos));
        pos = end + 1;
    }
    map.Finish();
    return reader.Any;
}
