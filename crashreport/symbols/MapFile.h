#pragma once
// The symbol data of one module: segments (units and their address ranges), publics (functions)
// and line tables, with the lookups the stack lines and the disassembly need. All addresses are
// offsets from the module's base (RVAs), so one TMapFile serves both the 32- and 64-bit builds.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "crashreport/base/RefCounted.h"

enum class TSegmentClass : uint8_t { Code = 0, Data = 1 };

struct TMapSegment {
    uint32_t Start = 0;
    uint32_t Length = 0;
    uint32_t Unit = 0; // index into the unit names
    TSegmentClass Class = TSegmentClass::Code;
};

struct TMapPublic {
    uint32_t Address = 0;
    uint32_t NameOffset = 0; // into the name pool
    uint32_t NameLength = 0;
};

struct TMapLine {
    uint32_t Address = 0;
    int32_t Line = 0;
    uint32_t Unit = 0;
};

struct TLineResult {
    int Line = 0;      // 0 unknown, -1 no line table but the address lies in a code segment
    uint32_t Next = 0; // where the next line begins (0 when unknown)
};

// Bounds on what one module's symbol data may hold, whatever its source says.
constexpr size_t MaxSymbolEntries = size_t(1) << 22;
constexpr size_t MaxSymbolNameLength = 2048;
constexpr size_t MaxSymbolNamePool = size_t(64) << 20;

class TMapFile : public TRefCountedImpl<IRefCounted> {
public:
    // The module.
    std::string FileName;   // full path
    std::string ModuleName; // its name part
    uint64_t Handle = 0;
    bool CodeOnly = false;
    bool Valid = false;
    uint32_t CodeBase = 0; // the code range; CodeTop 0 means unknown
    uint32_t CodeTop = 0;
    uint32_t DataBase = 0;
    uint32_t DataTop = 0;
    uint32_t EntryPoint = 0;

    // Building. Each Add fails (false) once its table is full; Finish sorts.
    uint32_t AddUnit(std::string_view name);
    bool AddSegment(uint32_t start, uint32_t length, uint32_t unit, TSegmentClass cls);
    bool AddPublic(uint32_t address, std::string_view name);
    bool AddLine(uint32_t address, int32_t line, uint32_t unit);
    void Finish();
    void Clear();
    bool Empty() const { return FSegments.empty() && FPublics.empty() && FLines.empty(); }

    const std::vector<std::string>& Units() const { return FUnits; }
    const std::vector<TMapSegment>& Segments() const { return FSegments; } // by class, then start
    const std::vector<TMapPublic>& Publics() const { return FPublics; }    // by address
    const std::vector<TMapLine>& Lines() const { return FLines; }          // by address
    std::string_view UnitName(uint32_t unit) const {
        return unit < FUnits.size() ? std::string_view(FUnits[unit]) : std::string_view();
    }
    std::string_view PublicName(const TMapPublic& p) const {
        return std::string_view(FNames).substr(p.NameOffset, p.NameLength);
    }

    // Lookups; they find nothing on an invalid map.
    const TMapSegment* FindSegment(bool codeOnly, uint32_t address) const;
    const TMapPublic* FindPublic(uint32_t address) const;
    TLineResult FindLine(uint32_t address) const;

private:
    const TMapSegment* FindSegmentOfClass(TSegmentClass cls, uint32_t address) const;

    std::vector<std::string> FUnits;
    std::unordered_map<std::string, uint32_t> FUnitIndex;
    std::vector<TMapSegment> FSegments;
    size_t FCodeSegments = 0; // segments [0, FCodeSegments) are code
    std::vector<TMapPublic> FPublics;
    std::string FNames;
    std::vector<TMapLine> FLines;
};

// Reads a text map file (the layout the linker of the original tool chain wrote). Addresses
// become offsets from the module base through map.CodeBase, which the caller sets first.
// True when the text gave any segment, public or line.
bool ReadTextMap(std::string_view text, TMapFile& map);
