#include "framework/ComCtrls.h"

#include <algorithm>
#include <windowsx.h>

TImageList::TImageList(int width, int height)
    : FHandle(::ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 20, 4)), FWidth(width),
      FHeight(height) {}

TImageList::~TImageList() {
    ::ImageList_Destroy(FHandle);
}

int TImageList::AddMasked(HBITMAP bitmap, COLORREF maskColor) {
    return ::ImageList_AddMasked(FHandle, bitmap, maskColor);
}

int TImageList::AddResourceBitmap(const wchar_t* name) {
    HBITMAP bmp = static_cast<HBITMAP>(
        ::LoadImageW(::GetModuleHandleW(nullptr), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bmp) throw EOSError("Bild " + Narrow(name) + " fehlt in den Ressourcen");
    int index = AddMasked(bmp, RGB(255, 0, 255));
    ::DeleteObject(bmp);
    return index;
}

void TImageList::Draw(HDC dc, int x, int y, int index) const {
    ::ImageList_Draw(FHandle, index, dc, x, y, ILD_TRANSPARENT);
}

TToolBar::TToolBar(TWinControl* parent, TImageList* images, int buttonWidth, int buttonHeight, bool showTips)
    : TWinControl(parent), FImages(images) {
    CreateHandle(TOOLBARCLASSNAMEW, TBSTYLE_FLAT | CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE |
                                        (showTips ? TBSTYLE_TOOLTIPS : 0));
    ::SendMessageW(Handle(), TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    if (images) {
        ::SendMessageW(Handle(), TB_SETBITMAPSIZE, 0, MAKELPARAM(images->Width(), images->Height()));
        ::SendMessageW(Handle(), TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images->Handle()));
    }
    ::SendMessageW(Handle(), TB_SETBUTTONSIZE, 0, MAKELPARAM(buttonWidth, buttonHeight));
}

int TToolBar::AddButton(TToolButton button) {
    static UINT nextCommand = 0x8000;
    button.Command = nextCommand++;
    TBBUTTON b{};
    b.iBitmap = button.Separator ? 6 : (button.ImageIndex >= 0 ? button.ImageIndex : I_IMAGENONE);
    b.idCommand = static_cast<int>(button.Command);
    b.fsState = button.Enabled ? TBSTATE_ENABLED : 0;
    b.fsStyle = static_cast<BYTE>(button.Separator ? BTNS_SEP : (button.Check ? BTNS_CHECK : BTNS_BUTTON));
    ::SendMessageW(Handle(), TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&b));
    FButtons.push_back(std::move(button));
    return static_cast<int>(FButtons.size()) - 1;
}

int TToolBar::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < FButtons.size(); ++i)
        if (FButtons[i].Name == name) return static_cast<int>(i);
    return -1;
}

void TToolBar::SetButtonEnabled(int index, bool enabled) {
    FButtons[static_cast<size_t>(index)].Enabled = enabled;
    ::SendMessageW(Handle(), TB_ENABLEBUTTON, FButtons[static_cast<size_t>(index)].Command,
                   MAKELPARAM(enabled, 0));
}

bool TToolBar::ButtonEnabled(int index) const {
    return ::SendMessageW(Handle(), TB_ISBUTTONENABLED, FButtons[static_cast<size_t>(index)].Command, 0) != 0;
}

void TToolBar::SetDown(int index, bool down) {
    ::SendMessageW(Handle(), TB_CHECKBUTTON, FButtons[static_cast<size_t>(index)].Command,
                   MAKELPARAM(down, 0));
}

bool TToolBar::Down(int index) const {
    return ::SendMessageW(Handle(), TB_ISBUTTONCHECKED, FButtons[static_cast<size_t>(index)].Command, 0) != 0;
}

RECT TToolBar::ButtonRect(int index) const {
    RECT r{};
    ::SendMessageW(Handle(), TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
    return r;
}

int TToolBar::ContentWidth() const {
    return FButtons.empty() ? 0 : static_cast<int>(ButtonRect(static_cast<int>(FButtons.size()) - 1).right);
}

std::string TToolBar::HintAt(POINT pt) const {
    int index = static_cast<int>(::SendMessageW(Handle(), TB_HITTEST, 0, reinterpret_cast<LPARAM>(&pt)));
    if (index >= 0 && index < ButtonCount() && !FButtons[static_cast<size_t>(index)].Separator &&
        !FButtons[static_cast<size_t>(index)].Hint.empty())
        return FButtons[static_cast<size_t>(index)].Hint;
    return EffectiveHint();
}

bool TToolBar::TipText(UINT_PTR command, std::wstring& text) {
    for (const TToolButton& b : FButtons) {
        if (b.Command != command) continue;
        text = Widen(b.Hint.empty() ? EffectiveHint() : b.Hint);
        size_t bar = text.find(L'|');
        if (bar != std::wstring::npos) text = text.substr(0, bar);
        return true;
    }
    return false;
}

bool TToolBar::HandleCommand(WPARAM wParam) {
    for (TToolButton& b : FButtons) {
        if (b.Command == LOWORD(wParam)) {
            if (b.OnClick && b.Enabled) b.OnClick(this);
            return true;
        }
    }
    return false;
}

LRESULT TToolBar::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CONTEXTMENU && OnContextMenu) {
        OnContextMenu(this, TMouseButton::mbRight, 0, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    }
    return TWinControl::WndProc(msg, wParam, lParam);
}

TStatusBar::TStatusBar(TWinControl* parent) : TWinControl(parent) {
    CreateHandle(STATUSCLASSNAMEW, CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER);
    ::SendMessageW(Handle(), SB_SIMPLE, TRUE, 0);
}

void TStatusBar::SetText(std::string_view text) {
    FText = text;
    ::SendMessageW(Handle(), SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(Widen(text).c_str()));
}

TSplitter::TSplitter(TWinControl* parent, TWinControl* resized, int minSize)
    : TWinControl(parent), FResized(resized), FMinSize(minSize) {
    CreateHandle(ZWindowClass(), 0);
}

LRESULT TSplitter::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SETCURSOR:
        ::SetCursor(::LoadCursorW(nullptr, IDC_SIZEWE));
        return TRUE;
    case WM_LBUTTONDOWN: {
        POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ::ClientToScreen(Handle(), &pt);
        FDragStart = pt.x;
        FStartSize = FResized->Width();
        FDragging = true;
        ::SetCapture(Handle());
        return 0;
    }
    case WM_MOUSEMOVE:
        if (FDragging) {
            POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ::ClientToScreen(Handle(), &pt);
            RECT parent;
            ::GetClientRect(ParentWin()->Handle(), &parent);
            // The resized control lies right of the splitter: dragging left makes it wider.
            int size = FStartSize + (FDragStart - pt.x);
            int maxSize = std::max<int>(FMinSize, parent.right - Width() - FMinSize);
            size = std::clamp(size, FMinSize, maxSize);
            FResized->SetBounds(FResized->Left(), FResized->Top(), size, FResized->Height());
            ParentWin()->Realign();
            return 0;
        }
        break;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (FDragging) {
            FDragging = false;
            if (msg == WM_LBUTTONUP) ::ReleaseCapture();
            return 0;
        }
        break;
    default:
        break;
    }
    return TWinControl::WndProc(msg, wParam, lParam);
}
