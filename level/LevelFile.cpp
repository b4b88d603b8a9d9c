#include "level/LevelFile.h"

#include "framework/Exceptions.h"
#include "level/Level.h"
#include "level/LevelStone.h"

#include <algorithm>
#include <limits>
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

// The types whose records carry more than position and type.
constexpr int32_t TypeMoving1 = 1;
constexpr int32_t TypeMoving2 = 2;
constexpr int32_t TypeContent = 5;
constexpr int32_t TypeSwitch = 6;
constexpr int32_t TypeZemb = 10;

constexpr size_t MaxRecordSize = 9;

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
    const std::pair<const char*, int32_t> header[] = {{"LevelWidth", level.LevelWidth},
                                                      {"LevelHeight", level.LevelHeight},
                                                      {"StartPointX", level.StartPointX},
                                                      {"StartPointY", level.StartPointY}};
    for (const auto& [name, value] : header)
        if (out(value, MaxOneByte))
            return TLevelRangeError{TLevelRangeError::Header, name, value, MaxOneByte};

    struct TField {
        const char* Name;
        int32_t Value;
        int64_t Max;
    };
    for (size_t i = 0; i < level.Stones.size(); ++i) {
        const TLevelStone& s = *level.Stones[i];
        TField fields[8];
        size_t n = 0;
        fields[n++] = {"X", s.X, MaxOneByte};
        fields[n++] = {"Y", s.Y, MaxOneByte};
        fields[n++] = {"StoneNr", s.StoneNr, MaxOneByte};
        switch (s.StoneNr) {
        case TypeMoving1:
        case TypeMoving2:
            fields[n++] = {"StartX", s.StartX, MaxOneByte};
            fields[n++] = {"StopX", s.StopX, MaxOneByte};
            fields[n++] = {"StartY", s.StartY, MaxOneByte};
            fields[n++] = {"StopY", s.StopY, MaxOneByte};
            break;
        case TypeContent:
            fields[n++] = {"Golds", s.Golds, MaxOneByte};
            fields[n++] = {"Lives", s.Lives, MaxOneByte};
            fields[n++] = {"Keys", s.Keys, MaxOneByte};
            fields[n++] = {"Extras", s.Extras, MaxOneByte};
            fields[n++] = {"ContentIndex", s.ContentIndex, MaxTwoBytes};
            break;
        case TypeSwitch:
            fields[n++] = {"SchalterAction", s.SchalterAction, MaxOneByte};
            fields[n++] = {"SchalterTarget", s.SchalterTarget, MaxTwoBytes};
            break;
        case TypeZemb:
            fields[n++] = {"ZembStage", s.ZembStage, MaxOneByte};
            fields[n++] = {"ZembInhalt", s.ZembInhalt, MaxOneByte};
            break;
        default:
            break;
        }
        for (size_t f = 0; f < n; ++f)
            if (out(fields[f].Value, fields[f].Max))
                return TLevelRangeError{i,  fields[f].Name, fields[f].Value, fields[f].Max, s.StoneNr, s.X,
                                        s.Y};
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
    std::vector<uint8_t> out(6 + level.Stones.size() * MaxRecordSize + 3);
    uint8_t* p = out.data();
    // Unsigned arithmetic: an unchecked value is truncated, never undefined.
    auto value = [&p](int32_t v) { *p++ = static_cast<uint8_t>(static_cast<uint32_t>(v) + ValueOffset); };
    auto pair = [&value](int32_t v) {
        value(v / static_cast<int32_t>(PairBase));
        value(v % static_cast<int32_t>(PairBase));
    };
    auto flag = [&p](bool b) { *p++ = b ? FlagTrue : FlagFalse; };

    *p++ = MarkerHeader;
    value(level.LevelWidth);
    value(level.LevelHeight);
    value(level.StartPointX);
    value(level.StartPointY);
    *p++ = MarkerStones;
    for (const TLevelStone* s : level.Stones) {
        value(s->X);
        value(s->Y);
        value(s->StoneNr);
        switch (s->StoneNr) {
        case TypeMoving1:
        case TypeMoving2:
            flag(s->MoveX);
            value(s->StartX);
            value(s->StopX);
            flag(s->MoveY);
            value(s->StartY);
            value(s->StopY);
            break;
        case TypeContent:
            // Not the declared order of the fields: the game reads them this way.
            value(s->Golds);
            value(s->Lives);
            value(s->Keys);
            value(s->Extras);
            pair(s->ContentIndex);
            break;
        case TypeSwitch:
            value(s->SchalterAction);
            pair(s->SchalterTarget);
            break;
        case TypeZemb:
            value(s->ZembStage);
            value(s->ZembInhalt);
            break;
        default:
            break;
        }
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
            DropPending();
            FSection = Section::Header;
            FStep = 0;
            continue;
        case MarkerStones:
            DropPending();
            FSection = Section::Stones;
            FStep = 0;
            continue;
        case MarkerEnd:
        case EndOfText:
            DropPending();
            FStopped = true;
            return false;
        default:
            break;
        }
        const int32_t v = int32_t{b} - ValueOffset;

        if (FSection == Section::Header) {
            switch (FStep) {
            case 0:
                FLevel.LevelWidth = v;
                break;
            case 1:
                FLevel.LevelHeight = v;
                break;
            case 2:
                FLevel.StartPointX = v;
                break;
            case 3:
                FLevel.StartPointY = v;
                break;
            default:
                continue; // extra header bytes wait for the next marker
            }
            ++FStep;
            continue;
        }
        if (FSection != Section::Stones) continue;

        int next = 0;
        bool complete = false;
        switch (FStep) {
        case 0:
            if (FLevel.Stones.size() >= MaxStones)
                RaiseInOutError("Die Leveldatei enthält mehr als " + std::to_string(MaxStones) + " Stones.");
            FPending = FFactory(FLevel);
            if (!FPending) throw EInvalidOperation("TLevelReader: the stone factory made no stone");
            FPending->SetPosition(v, 0);
            next = 1;
            break;
        case 1:
            FPending->SetPosition(FPending->X, v);
            next = 2;
            break;
        case 2:
            FPending->SetStoneNr(v);
            // The raw value decides, not the clamped type; every value above 17 is a plain record.
            switch (v) {
            case TypeMoving1:
            case TypeMoving2:
                next = 10;
                break;
            case TypeContent:
                next = 20;
                break;
            case TypeSwitch:
                next = 30;
                break;
            case TypeZemb:
                next = 40;
                break;
            default:
                complete = true;
                break;
            }
            break;
        case 10:
            FPending->MoveX = b == FlagTrue;
            next = 11;
            break;
        case 11:
            FPending->StartX = v;
            next = 12;
            break;
        case 12:
            FPending->StopX = v;
            next = 13;
            break;
        case 13:
            FPending->MoveY = b == FlagTrue;
            next = 14;
            break;
        case 14:
            FPending->StartY = v;
            next = 15;
            break;
        case 15:
            FPending->StopY = v;
            complete = true;
            break;
        case 20:
            FPending->Golds = v;
            next = 21;
            break;
        case 21:
            FPending->Lives = v;
            next = 22;
            break;
        case 22:
            FPending->Keys = v;
            next = 23;
            break;
        case 23:
            FPending->Extras = v;
            next = 24;
            break;
        case 24:
            next = 25;
            break; // ContentIndex is recomputed at every save
        case 25:
            complete = true;
            break;
        case 30:
            FPending->SchalterAction = v;
            next = 31;
            break;
        case 31:
            FHigh = v;
            next = 32;
            break;
        case 32:
            FPending->SchalterTarget = FHigh * static_cast<int32_t>(PairBase) + v;
            complete = true;
            break;
        case 40:
            FPending->ZembStage = v;
            next = 41;
            break;
        case 41:
            FPending->ZembInhalt = v;
            complete = true;
            break;
        default:
            break;
        }
        if (complete) {
            FLevel.Stones.push_back(FPending); // may throw: the stone stays pending and is freed
            FPending = nullptr;
        }
        FStep = next;
    }
    return true;
}

void DecodeLevel(TLevel& level, const uint8_t* data, size_t size, const TLevelReader::StoneFactory& factory) {
    TLevelReader reader(level, factory);
    reader.Feed(data, size);
    reader.Finish();
    level.Saved = true;
}
