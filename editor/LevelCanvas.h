#pragma once
// The canvas panel `LevelImage`: paints its stones (non-windowed image controls) from the shared
// stone pictures, and routes mouse presses, moves and releases to the topmost stone under the
// pointer — or, while a button is held, to the control that got the press.
#include "framework/ComCtrls.h"
#include "framework/Forms.h"

#include <array>

// One opaque 50 x 50 picture per stone type: white, with the type's image drawn through its mask.
class TStonePictures {
public:
    explicit TStonePictures(const TImageList& stoneList);
    ~TStonePictures();
    TStonePictures(const TStonePictures&) = delete;
    TStonePictures& operator=(const TStonePictures&) = delete;
    int Count() const { return static_cast<int>(FBitmaps.size()); }
    HDC PictureDC() const { return FDC; }
    HBITMAP Bitmap(int index) const { return FBitmaps[static_cast<size_t>(index)]; }

private:
    std::vector<HBITMAP> FBitmaps;
    HDC FDC;
};

class TLevelCanvas : public TPanel {
public:
    TLevelCanvas(TWinControl* parent, const TStonePictures& pictures);

    void InsertGraphic(TGraphicControl* c) override { FGraphics.Insert(c); }
    void RemoveGraphic(TGraphicControl* c) override;
    void InvalidateArea(const TRect& r) override;
    size_t GraphicCount() const { return FGraphics.Count(); }
    TGraphicControl* GraphicAt(int32_t x, int32_t y) const { return FGraphics.HitTest(x, y); }

    // Bulk changes (loading or clearing tens of thousands of stones) collect their invalidated
    // areas and repaint once at the end.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    void PaintContent(HDC dc, const RECT& area) override;
    std::string HintAt(POINT pt) const override;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void RouteMouse(UINT msg, WPARAM wParam, LPARAM lParam);
    TGraphicList FGraphics;
    const TStonePictures& FPictures;
    TControl* FCaptureTarget = nullptr; // the control that got the press, while a button is held
    int FUpdateCount = 0;
    bool FPending = false;
    TRect FPendingArea;
};

// Draws the red selection frame as the stone draws it onto its picture: a closed line of width 3
// through the corner pixels (0,0), (W-1,0), (W-1,H-1), (0,H-1).
void DrawSelectionFrame(HDC dc, int x, int y, int w, int h);
