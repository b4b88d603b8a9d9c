#pragma once
// The one level the editor works on: size, start cell, the owned, ordered stone list, the
// selection, the file it belongs to and whether it has unsaved changes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TLevelStone;

inline constexpr const char* UntitledLevelName = "Unbenannt.lvl";

class TLevel {
public:
    TLevel() = default;
    TLevel(const TLevel&) = delete;
    TLevel& operator=(const TLevel&) = delete;
    ~TLevel();

    std::vector<TLevelStone*> Stones; // owned; list order is file order
    TLevelStone* CurrentStone = nullptr;
    std::string FileName = UntitledLevelName;
    bool Saved = true;
    int32_t LevelWidth = 16;
    int32_t LevelHeight = 12;
    int32_t StartPointX = 0;
    int32_t StartPointY = 0;

    // The main window's canvas refresh; SetPosition calls it after every real move.
    std::function<void()> OnRefreshCanvas;
    void RefreshCanvas();

    // Bulk work (loading tens of thousands of stones) defers the refreshes to one at the end.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    // Frees every stone in list order, empties the list, resets size (16 x 12) and start point
    // (0, 0), and clears CurrentStone. FileName and Saved are the caller's.
    void Clear();

    // Frees the stone at index and removes it from Stones (CurrentStone is cleared if it was it).
    void DeleteStone(size_t index);

private:
    int FUpdateCount = 0;
    bool FRefreshPending = false;
};
