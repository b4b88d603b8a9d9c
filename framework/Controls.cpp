#include "framework/Controls.h"

TControl::~TControl() = default;

void TControl::SetParent(TControl* parent) {
    FParent = parent;
}

void TControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    FBounds = {left, top, left + width, top + height};
}

void TControl::SetVisible(bool v) {
    FVisible = v;
}

std::string TControl::EffectiveHint() const {
    for (const TControl* c = this; c; c = c->Parent())
        if (!c->Hint.empty()) return c->Hint;
    return {};
}

TGraphicControl::~TGraphicControl() {
    if (FParent) {
        FParent->InvalidateArea(FBounds);
        FParent->RemoveGraphic(this);
    }
}

void TGraphicControl::SetParent(TControl* parent) {
    if (parent == FParent) return;
    if (FParent) {
        FParent->InvalidateArea(FBounds);
        FParent->RemoveGraphic(this);
    }
    FParent = parent;
    if (FParent) {
        FParent->InsertGraphic(this);
        Invalidate();
    }
}

void TGraphicControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    TRect old = FBounds;
    TControl::SetBounds(left, top, width, height);
    if (FParent && FVisible && !(old == FBounds)) {
        FParent->InvalidateArea(old);
        FParent->InvalidateArea(FBounds);
    }
}

void TGraphicControl::SetVisible(bool v) {
    if (v == FVisible) return;
    FVisible = v;
    if (FParent) FParent->InvalidateArea(FBounds);
}

void TGraphicControl::Invalidate() {
    if (FParent && FVisible) FParent->InvalidateArea(FBounds);
}

void TImage::SetPicture(int32_t index) {
    // Reloading the picture an image already shows changes no pixel: a selection click reloads
    // every stone of the level and must repaint only the ones that lose their frame.
    bool changed = index != FPictureIndex || FFrameDrawn;
    FPictureIndex = index;
    FFrameDrawn = false;
    if (changed) Invalidate();
}

void TImage::DrawFrame() {
    FFrameDrawn = true;
    Invalidate();
}

void TGraphicList::Insert(TGraphicControl* c) {
    c->ParentSlot = FItems.size();
    FItems.push_back(c);
}

void TGraphicList::Remove(TGraphicControl* c) {
    size_t slot = c->ParentSlot;
    if (slot >= FItems.size() || FItems[slot] != c) return;
    FItems[slot] = nullptr;
    c->ParentSlot = SIZE_MAX;
    ++FDead;
    if (FDead == FItems.size()) {
        FItems.clear();
        FDead = 0;
    } else if (FDead > 64 && FDead * 2 > FItems.size()) {
        Compact();
    }
}

void TGraphicList::Compact() {
    size_t n = 0;
    for (TGraphicControl* c : FItems) {
        if (!c) continue;
        c->ParentSlot = n;
        FItems[n++] = c;
    }
    FItems.resize(n);
    FDead = 0;
}

TGraphicControl* TGraphicList::HitTest(int32_t x, int32_t y) const {
    for (auto it = FItems.rbegin(); it != FItems.rend(); ++it)
        if (*it && (*it)->Visible() && (*it)->BoundsRect().Contains(x, y)) return *it;
    return nullptr;
}
