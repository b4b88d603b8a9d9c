#include "level/LevelFile.h"

#include "framework/Exceptions.h"
#include "level/Level.h"
#include "level/LevelStone.h"

#include <algorithm>
#include <array>
#include <limits>
#include <span>
#include <utility>

namespace {

constexpr uint8_t MarkerHeader = 1;
constexpr uint8_t MarkerStones = 2;
constexpr uint8_t MarkerEnd = 3;
constexpr uint8_t EndOfText = 26; // the text reading takes it for the end of the file
constexpr uint8_t FlagTrue = 'e';
constexpr uint8_t FlagFalse = 'd';
constexpr int32_t ValueOffset = 32;
constexpr int64_t MaxOneByte = 223;
constexpr int64_t PairBase = 224;
constexpr int64_t MaxTwoBytes = PairBase * PairBase - 1; // 50175
constexpr int32_t TypeContent = 5;

struct THeaderField {
    const char* Name;
    int32_t TLevel::*Value;
};

constexpr THeaderField HeaderFields[] = {{"LevelWidth", &TLevel::LevelWidth},
                                         {"LevelHeight", &TLevel::LevelHeight},
                                         {"StartPointX", &TLevel::StartPointX},
                                         {"StartPointY", &TLevel::StartPointY}};

// Flag: one byte, and only FlagTrue reads as true. One: one value byte, 0..223. Two: 0..50175 in
// base 224, high byte first.
enum class TWidth { Flag, One, Two };

using TLoad = void (*)(TLevelStone&, int32_t);

// One field of a stone's record: the range check, the writer and the reader all go by these.
struct TStoneField {
    const char* Name; // as a range error names it
    TWidth Width;
    int32_t TLevelStone::*Value = nullptr;
    bool TLevelStone::*Flag = nullptr;
    TLoad Load = nullptr; // where reading does more than assign the value
};

constexpr TStoneField FlagField(const char* name, bool TLevelStone::*flag) {
    return {name, TWidth::Flag, nullptr, flag};
}
constexpr TStoneField OneByte(const char* name, int32_t TLevelStone::*value, TLoad load = nullptr) {
    return {name, TWidth::One, value, nullptr, load};
}
constexpr TStoneField TwoBytes(const char* name, int32_t TLevelStone::*value, TLoad load = nullptr) {
    return {name, TWidth::Two, value, nullptr, load};
}

// Every record starts with these.
constexpr TStoneField StoneHead[] = {
    // Through SetPosition, which clamps the stone onto the header's grid.
    OneByte("X", &TLevelStone::X, [](TLevelStone& s, int32_t v) { s.SetPosition(v, 0); }),
    OneByte("Y", &TLevelStone::Y, [](TLevelStone& s, int32_t v) { s.SetPosition(s.X, v); }),
    // Last, because the reader takes its raw value to pick the extra record.
    OneByte("StoneNr", &TLevelStone::StoneNr, [](TLevelStone& s, int32_t v) { s.SetStoneNr(v); }),
};

constexpr TStoneField MovingRecord[] = {
    FlagField("MoveX", &TLevelStone::MoveX), OneByte("StartX", &TLevelStone::StartX),
    OneByte("StopX", &TLevelStone::StopX),   FlagField("MoveY", &TLevelStone::MoveY),
    OneByte("StartY", &TLevelStone::StartY), OneByte("StopY", &TLevelStone::StopY),
};

// Not the declared order of the fields: the game reads them this way.
constexpr TStoneField ContentRecord[] = {
    OneByte("Golds", &TLevelStone::Golds),
    OneByte("Lives", &TLevelStone::Lives),
    OneByte("Keys", &TLevelStone::Keys),
    OneByte("Extras", &TLevelStone::Extras),
    // Recomputed at every save, so the stored value is skipped.
    TwoBytes("ContentIndex", &TLevelStone::ContentIndex, [](TLevelStone&, int32_t) {}),
};

constexpr TStoneField SwitchRecord[] = {
    OneByte("SchalterAction", &TLevelStone::SchalterAction),
    TwoBytes("SchalterTarget", &TLevelStone::SchalterTarget),
};

constexpr TStoneField ZembRecord[] = {
    OneByte("ZembStage", &TLevelStone::ZembStage),
    OneByte("ZembInhalt", &TLevelStone::ZembInhalt),
};

struct TExtraRecord {
    int32_t StoneNr;
    std::span<const TStoneField> Fields;
};

constexpr TExtraRecord ExtraRecords[] = {
    {1, MovingRecord}, {2, MovingRecord}, {TypeContent, ContentRecord}, {6, SwitchRecord}, {10, ZembRecord},
};

// Looked up for every stone written and every stone byte read.
constexpr auto ExtraRecordByNr = [] {
    std::array<std::span<const TStoneField>, MaxStoneNr + 1> byNr{};
    for (const TExtraRecord& r : ExtraRecords)
        byNr[static_cast<size_t>(r.StoneNr)] = r.Fields;
    return byNr;
}();

// Every other type, including values outside 0..17, has no extra record.
constexpr std::span<const TStoneField> ExtraRecord(int32_t stoneNr) {
    if (stoneNr < 0 || stoneNr > MaxStoneNr) return {};
    return ExtraRecordByNr[static_cast<size_t>(stoneNr)];
}

constexpr std::array<std::span<const TStoneField>, 2> StoneRecord(int32_t stoneNr) {
    return {StoneHead, ExtraRecord(stoneNr)};
}

constexpr size_t RecordSize(std::span<const TStoneField> fields) {
    size_t size = 0;
    for (const TStoneField& f : fields)
        size += f.Width == TWidth::Two ? 2 : 1;
    return size;
}

constexpr size_t MaxRecordSize = [] {
    size_t extra = 0;
    for (const TExtraRecord& r : ExtraRecords)
        extra = std::max(extra, RecordSize(r.Fields));
    return RecordSize(StoneHead) + extra;
}();

} // namespace

void ComputeContentIndexes(TLevel& level) {
    // 64-bit with saturation: contents are plain int32 fields, and an overflowed index must still
    // be refused by the range check rather than wrap into range.
    int64_t running = static_cast<int64_t>(level.Stones.size());
    for (TLevelStone* s : level.Stones) {
        if (s->StoneNr != TypeContent) continue;
        s->ContentIndex = static_cast<int32_t>(std::clamp<int64_t>(
            running, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
        running += int64_t{s->Golds} + s->Lives + s->Keys + s->Extras;
    }
}

std::optional<TLevelRangeError> CheckLevelRanges(const TLevel& level) {
    auto out = [](int64_t v, int64_t max) { return v < 0 || v > max; };
    for (const THeaderField& f : HeaderFields)
        if (out(level.*f.Value, MaxOneByte))
            return TLevelRangeError{TLevelRangeError::Header, f.Name, level.*f.Value, MaxOneByte};

    for (size_t i = 0; i < level.Stones.size(); ++i) {
        const TLevelStone& s = *level.Stones[i];
        for (std::span<const TStoneField> record : StoneRecord(s.StoneNr))
            for (const TStoneField& f : record) {
                if (f.Width == TWidth::Flag) continue;
                const int64_t max = f.Width == TWidth::Two ? MaxTwoBytes : MaxOneByte;
                if (out(s.*f.Value, max))
                    return TLevelRangeError{i, f.Name, s.*f.Value, max, s.StoneNr, s.X, s.Y};
            }
    }
    return std::nullopt;
}

std::string LevelRangeErrorText(const TLevelRangeError& error) {
    std::string text = "Das Level kann nicht gespeichert werden: ";
    if (error.StoneIndex == TLevelRangeError::Header) {
        text += error.Field + " hat den Wert ";
    } else {
        text += "Stone " + std::to_string(error.StoneIndex + 1) + " (Nr " + std::to_string(error.StoneNr) +
                ") auf Feld (" + std::to_string(error.X) + ", " + std::to_string(error.Y) + ") hat für " +
                error.Field + " den Wert ";
    }
    text += std::to_string(error.Value) + "; im Leveldateiformat sind nur 0 bis " +
            std::to_string(error.Maximum) + " möglich.";
    return text;
}

std::vector<uint8_t> EncodeLevel(const TLevel& level) {
    std::vector<uint8_t> out(2 + std::size(HeaderFields) + level.Stones.size() * MaxRecordSize + 3);
    uint8_t* p = out.data();
    // Unsigned arithmetic: an unchecked value is truncated, never undefined.
    auto value = [&p](int32_t v) { *p++ = static_cast<uint8_t>(static_cast<uint32_t>(v) + ValueOffset); };

    *p++ = MarkerHeader;
    for (const THeaderField& f : HeaderFields)
        value(level.*f.Value);
    *p++ = MarkerStones;
    for (const TLevelStone* s : level.Stones)
        for (std::span<const TStoneField> record : StoneRecord(s->StoneNr))
            for (const TStoneField& f : record)
                switch (f.Width) {
                case TWidth::Flag:
                    *p++ = s->*f.Flag ? FlagTrue : FlagFalse;
                    break;
                case TWidth::One:
                    value(s->*f.Value);
                    break;
                case TWidth::Two:
                    value(s->*f.Value / static_cast<int32_t>(PairBase));
                    value(s->*f.Value % static_cast<int32_t>(PairBase));
                    break;
                }
    *p++ = MarkerEnd;
    *p++ = '\r';
    *p++ = '\n';
    out.resize(static_cast<size_t>(p - out.data()));
    return out;
}

TLevelReader::TLevelReader(TLevel& level, StoneFactory factory)
    : FLevel(level), FFactory(std::move(factory)) {
    FLevel.BeginUpdate();
    FUpdating = true;
}

TLevelReader::~TLevelReader() {
    DropPending();
    if (FUpdating) {
        FUpdating = false;
        try {
            FLevel.EndUpdate();
        } catch (...) {
            // A failing canvas refresh must not escape a destructor that may run during unwinding.
        }
    }
}

void TLevelReader::DropPending() {
    // The stone never reached Stones; freeing it also takes its tile off the canvas.
    delete FPending;
    FPending = nullptr;
}

void TLevelReader::Finish() {
    DropPending();
    FStopped = true;
    if (FUpdating) {
        FUpdating = false;
        FLevel.EndUpdate();
    }
}

bool TLevelReader::Feed(const uint8_t* data, size_t size) {
    if (FStopped) return false;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        switch (b) {
        case MarkerHeader:
        case MarkerStones:
            DropPending();
            FSection = b == MarkerHeader ? Section::Header : Section::Stones;
            FStep = 0;
            FInExtra = false;
            FHighRead = false;
            continue;
        case MarkerEnd:
        case EndOfText:
            DropPending();
            FStopped = true;
            return false;
        default:
            break;
        }
        if (FSection == Section::Header) {
            // extra header bytes wait for the next marker
            if (FStep < std::size(HeaderFields))
                FLevel.*HeaderFields[FStep++].Value = int32_t{b} - ValueOffset;
        } else if (FSection == Section::Stones) {
            ReadStoneByte(b);
        }
    }
    return true;
}

// The position in the record moves on only once the byte has been taken, so a throw leaves it where
// it was.
void TLevelReader::ReadStoneByte(uint8_t b) {
    const int32_t v = int32_t{b} - ValueOffset;
    const std::span<const TStoneField> record = FInExtra ? ExtraRecord(FRawStoneNr) : StoneHead;
    if (!FInExtra && FStep == 0) {
        if (FLevel.Stones.size() >= MaxStones)
            RaiseInOutError("Die Leveldatei enthält mehr als " + std::to_string(MaxStones) + " Stones.");
        FPending = FFactory(FLevel);
        if (!FPending) throw EInvalidOperation("TLevelReader: the stone factory made no stone");
    }
    const TStoneField& field = record[FStep];
    if (field.Width == TWidth::Two && !FHighRead) {
        FHigh = v;
        FHighRead = true;
        return;
    }
    const int32_t value = FHighRead ? FHigh * static_cast<int32_t>(PairBase) + v : v;
    if (field.Width == TWidth::Flag)
        FPending->*field.Flag = b == FlagTrue;
    else if (field.Load)
        field.Load(*FPending, value);
    else
        FPending->*field.Value = value;

    if (FStep + 1 < record.size()) {
        ++FStep;
    } else if (!FInExtra && !ExtraRecord(v).empty()) {
        // The raw type byte decides, not the clamped StoneNr: every value above 17 is a plain record.
        FInExtra = true;
        FRawStoneNr = v;
        FStep = 0;
    } else {
        FLevel.Stones.push_back(FPending); // may throw: the stone stays pending and is freed
        FPending = nullptr;
        FInExtra = false;
        FStep = 0;
    }
    FHighRead = false;
}

void DecodeLevel(TLevel& level, const uint8_t* data, size_t size, const TLevelReader::StoneFactory& factory) {
    TLevelReader reader(level, factory);
    reader.Feed(data, size);
    reader.Finish();
    level.Saved = true;
}
