#pragma once
// The portable part of the visual component layer: the control base and the non-windowed image
// control. A non-windowed control has no window handle; its parent paints it and routes the mouse
// to it. The Win32 layer derives its windowed controls from TControl.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    bool Intersects(const TRect& o) const {
        return Left < o.Right && o.Left < Right && Top < o.Bottom && o.Top < Bottom;
    }
    bool Contains(int32_t x, int32_t y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
    bool operator==(const TRect&) const = default;
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// Modifier keys and pressed buttons, as a bit set.
enum TShiftFlag : uint32_t { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = uint32_t;

class TObject {
public:
    virtual ~TObject() = default;
};

class TGraphicControl;

using TNotifyEvent = std::function<void(TObject* sender)>;
using TMouseEvent =
    std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int32_t x, int32_t y)>;

class TControl : public TObject {
public:
    TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;
    ~TControl() override;

    std::string Name;
    std::string Hint;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

    TControl* Parent() const { return FParent; }
    virtual void SetParent(TControl* parent);

    int32_t Left() const { return FBounds.Left; }
    int32_t Top() const { return FBounds.Top; }
    int32_t Width() const { return FBounds.Width(); }
    int32_t Height() const { return FBounds.Height(); }
    const TRect& BoundsRect() const { return FBounds; }
    virtual void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
    void SetLeft(int32_t v) { SetBounds(v, Top(), Width(), Height()); }
    void SetTop(int32_t v) { SetBounds(Left(), v, Width(), Height()); }

    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool v);

    // The hint that applies to this control: its own, else its nearest parent's.
    std::string EffectiveHint() const;

    // Services a parent offers its non-windowed children.
    virtual void InsertGraphic(TGraphicControl*) {}
    virtual void RemoveGraphic(TGraphicControl*) {}
    virtual void InvalidateArea(const TRect&) {}

protected:
    TControl* FParent = nullptr;
    TRect FBounds;
    bool FVisible = true;
};

class TGraphicControl : public TControl {
public:
    ~TGraphicControl() override;
    void SetParent(TControl* parent) override;
    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
    void SetVisible(bool v) override;
    void Invalidate();

    // Bookkeeping of the parent's child list (an index, so removal costs O(1)).
    size_t ParentSlot = SIZE_MAX;
};

// A non-windowed picture. Pictures live in a list shared by all images of a parent (by index), so
// an image costs a few bytes; FrameDrawn says whether the red selection frame was drawn onto this
// image's own copy of its picture.
class TImage : public TGraphicControl {
public:
    int32_t PictureIndex() const { return FPictureIndex; }
    bool FrameDrawn() const { return FFrameDrawn; }
    void SetPicture(int32_t index); // a fresh picture: no frame
    void DrawFrame();

private:
    int32_t FPictureIndex = -1;
    bool FFrameDrawn = false;
};

// The child list of a control that hosts non-windowed controls, in paint order (first = bottom).
class TGraphicList {
public:
    void Insert(TGraphicControl* c);
    void Remove(TGraphicControl* c);
    size_t Count() const { return FItems.size() - FDead; }
    // Visits the live children from bottom to top.
    template <class F> void ForEach(F&& f) const {
        for (TGraphicControl* c : FItems)
            if (c) f(c);
    }
    // The topmost visible child that contains (x, y), or none.
    TGraphicControl* HitTest(int32_t x, int32_t y) const;

private:
    void Compact();
    std::vector<TGraphicControl*> FItems;
    size_t FDead = 0;
};
