#include "editor/LevelOption.h"

#include "framework/Application.h"
#include "framework/Strings.h"
#include "level/Level.h"

#include <optional>

bool DialogRunning = false;

namespace {

HFONT DialogFont() {
    TWindowDC dc(nullptr);
    int height = -::MulDiv(8, ::GetDeviceCaps(dc.Get(), LOGPIXELSY), 72);
    return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
}

void Place(TWinControl& c, int left, int top, int width = -1, int height = -1) {
    c.SetBounds(left, top, width < 0 ? c.Width() : width, height < 0 ? c.Height() : height);
}

} // namespace

TLevelOptionForm::TLevelOptionForm(TLevel& level) : FLevel(level), FFont(DialogFont()) {
    Name = "LevelOptionForm";
    SetCaption("Leveloptionen");
    // A fixed dialog frame: no resizing, no minimize or maximize box.
    ::SetWindowLongPtrW(Handle(), GWL_STYLE, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN);
    ::SetWindowLongPtrW(Handle(), GWL_EXSTYLE, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT);
    ::SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    SetBounds(200, 200, 393, 188);

    auto label = [this](std::unique_ptr<TLabel>& l, TWinControl* parent, const char* text, int x, int y) {
        l = std::make_unique<TLabel>(parent, text);
        l->SetFont(FFont);
        l->AdjustSize();
        Place(*l, x, y);
    };
    auto edit = [this](std::unique_ptr<TEdit>& e, TWinControl* parent, const char* name, const char* text,
                       int y) {
        e = std::make_unique<TEdit>(parent);
        e->Name = name;
        e->SetFont(FFont);
        e->SetText(text);
        Place(*e, 56, y, 65, 21);
    };
    // Both groups hold two rows: caption, field, "Stones".
    auto group = [this](std::unique_ptr<TGroupBox>& g, const char* caption, int left) {
        g = std::make_unique<TGroupBox>(this, caption);
        g->SetFont(FFont);
        Place(*g, left, 8, 177, 97);
    };
    auto row = [&](TGroupBox& g, int y, std::unique_ptr<TLabel>& lbl1, const char* caption,
                   std::unique_ptr<TEdit>& txt, const char* name, const char* text,
                   std::unique_ptr<TLabel>& lbl2) {
        label(lbl1, &g, caption, 8, y + 4);
        edit(txt, &g, name, text, y);
        label(lbl2, &g, "Stones", 128, y + 4);
    };
    group(SizeGroup, "Größe", 8);
    row(*SizeGroup, 24, SizeWidthLbl1, "Breite:", SizeWidthTxt, "SizeWidthTxt", "16", SizeWidthLbl2);
    row(*SizeGroup, 56, SizeHeightLbl1, "Höhe:", SizeHeightTxt, "SizeHeightTxt", "12", SizeHeightLbl2);
    group(StartGroup, "Startpunkt", 200);
    row(*StartGroup, 24, StartXLbl1, "X:", StartXTxt, "StartXTxt", "0", StartXLbl2);
    row(*StartGroup, 56, StartYLbl1, "Y:", StartYTxt, "StartYTxt", "0", StartYLbl2);

    OKBtn = std::make_unique<TButton>(this, "OK", true);
    OKBtn->SetFont(FFont);
    Place(*OKBtn, 216, 120, 75, 25);
    CancelBtn = std::make_unique<TButton>(this, "Abbrechen");
    CancelBtn->SetFont(FFont);
    Place(*CancelBtn, 304, 120, 75, 25);
    // Enter and Escape reach the buttons through the dialog keys (IDOK, IDCANCEL).
    ::SetWindowLongPtrW(OKBtn->Handle(), GWLP_ID, IDOK);
    ::SetWindowLongPtrW(CancelBtn->Handle(), GWLP_ID, IDCANCEL);

    OKBtn->OnClick = [this](TObject* s) { OKBtnClick(s); };
    CancelBtn->OnClick = [this](TObject* s) { CancelBtnClick(s); };
    OnCloseQuery = [this](TObject* s, bool& canClose) { FormClose(s, canClose); };
}

TLevelOptionForm::~TLevelOptionForm() {
    DialogRunning = false;
    ::DeleteObject(FFont);
}

void TLevelOptionForm::ShowOptions() {
    DialogRunning = true;
    SizeWidthTxt->SetText(IntToStr(FLevel.LevelWidth));
    SizeHeightTxt->SetText(IntToStr(FLevel.LevelHeight));
    StartXTxt->SetText(IntToStr(FLevel.StartPointX));
    StartYTxt->SetText(IntToStr(FLevel.StartPointY));
    Show();
    ::SetForegroundWindow(Handle());
    ::BringWindowToTop(Handle());
    SizeWidthTxt->SetFocus();
    // Waits without spinning; a quit request of the application also ends the wait. Not
    // WaitMessage: it sleeps through a message that arrived before the last look at the queue
    // (here the quit check), so a click posted at that moment would wait for the next mouse move.
    while (DialogRunning) {
        Application().ProcessMessages();
        MSG quit;
        if (!DialogRunning || ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) break;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    DialogRunning = false;
    Hide();
}

void TLevelOptionForm::OKBtnClick(TObject*) {
    auto fail = [](const char* field) {
        Application().MessageBox(std::string("Der Wert im Feld '") + field + "' ist keine gültige Zahl.",
                                 "Fehler", MB_OK | MB_ICONQUESTION);
    };
    std::optional<int32_t> w = TryStrToInt(SizeWidthTxt->Text());
    if (!w || *w < 1) return fail("Größe/Breite");
    FLevel.LevelWidth = *w;
    std::optional<int32_t> h = TryStrToInt(SizeHeightTxt->Text());
    if (!h || *h < 1) return fail("Größe/Höhe");
    FLevel.LevelHeight = *h;
    std::optional<int32_t> x = TryStrToInt(StartXTxt->Text());
    if (!x || *x < 0 || *x >= FLevel.LevelWidth) return fail("Startpunkt/X");
    FLevel.StartPointX = *x;
    std::optional<int32_t> y = TryStrToInt(StartYTxt->Text());
    if (!y || *y < 0 || *y >= FLevel.LevelHeight) return fail("Startpunkt/Y");
    FLevel.StartPointY = *y;
    DialogRunning = false;
}

void TLevelOptionForm::CancelBtnClick(TObject*) {
    DialogRunning = false;
}

void TLevelOptionForm::FormClose(TObject*, bool&) {
    DialogRunning = false;
}
