#pragma once
// The level file: one line of value bytes (value + 32) with the markers 1, 2 and 3, ended by
// carriage return and line feed.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TLevel;
class TLevelStone;

// A value that the format cannot hold (a one-byte field outside 0..223, a two-byte field outside
// 0..50175). Such a level is not written: a file that reads back differently would lose data.
struct TLevelRangeError {
    static constexpr size_t Header = SIZE_MAX;
    size_t StoneIndex = Header; // index in Stones, or Header for the level header
    std::string Field;          // e.g. "LevelWidth", "X", "ContentIndex"
    int64_t Value = 0;
    int64_t Maximum = 0; // 223 or 50175
    int32_t StoneNr = 0; // the stone's type and cell, for the message
    int32_t X = 0;
    int32_t Y = 0;
};

// Sets ContentIndex of every type-5 stone: the stone count plus the contents of the type-5
// stones before it.
void ComputeContentIndexes(TLevel& level);

// The first value the writer could not store, checking the header and then the stones in list
// order, each field in file order; none when the whole level fits.
std::optional<TLevelRangeError> CheckLevelRanges(const TLevel& level);

// The German text shown to the user for a range error.
std::string LevelRangeErrorText(const TLevelRangeError& error);

// The file's bytes: payload and CR LF. Expects ContentIndex computed and the ranges checked.
std::vector<uint8_t> EncodeLevel(const TLevel& level);

// The reader's state machine, fed any number of chunks. It creates stones through the factory
// (which gives each its parent and mouse routing), appends every complete record to Stones and
// frees the stone of a record cut short. It never reads outside the given bytes. While it reads,
// the level's canvas refreshes are deferred to one at Finish.
class TLevelReader {
public:
    using StoneFactory = std::function<TLevelStone*(TLevel&)>;
    TLevelReader(TLevel& level, StoneFactory factory);
    ~TLevelReader();
    TLevelReader(const TLevelReader&) = delete;
    TLevelReader& operator=(const TLevelReader&) = delete;

    // Consumes bytes; returns false once reading has stopped (marker 3 or byte 26), after which
    // further bytes are ignored.
    bool Feed(const uint8_t* data, size_t size);
    // The end of the file: a record still open is dropped.
    void Finish();
    bool Stopped() const { return FStopped; }

    // Untrusted files must not grow the level without bound: a record beyond this many stones
    // raises EInOutError. A full 223 x 223 level has 49,729.
    size_t MaxStones = 1000000;

private:
    void DropPending();
    void ReadStoneByte(uint8_t b);

    TLevel& FLevel;
    StoneFactory FFactory;
    enum class Section { None, Header, Stones } FSection = Section::None;
    size_t FStep = 0;        // the field being read, in the header or in the stone's record
    bool FInExtra = false;   // past X, Y and type, in the extra record of FRawStoneNr
    int32_t FRawStoneNr = 0; // the type byte as read, before SetStoneNr clamps it
    bool FHighRead = false;  // FHigh holds the first byte of a two-byte value
    int32_t FHigh = 0;
    TLevelStone* FPending = nullptr;
    bool FStopped = false;
    bool FUpdating = false; // holds the level's BeginUpdate until Finish or destruction
};

// Reads a whole level from memory into a cleared level (used by tests, fuzzing and benchmarks;
// the editor streams the file through TLevelReader). Sets Saved to true.
void DecodeLevel(TLevel& level, const uint8_t* data, size_t size, const TLevelReader::StoneFactory& factory);
