#include "editor/Unit1.h"

#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "framework/Strings.h"
#include "level/LevelFile.h"

#include <algorithm>
#include <cstdint>

bool Running = false;

namespace {

const char* const NoHint = "";

struct TPaletteEntry {
    int32_t StoneNr;
    const char* Hint;
    void (TForm1::*Click)(TObject*);
};
// The stone bar, left to right (Stone0 stands alone on MouseBar).
const TPaletteEntry StoneBarEntries[] = {
    {1, "Statischer / bewegter Stein", &TForm1::Stone1Click},
    {2, "Statischer / bewegter Stein", &TForm1::Stone2Click},
    {5, "Stein mit Inhalt", &TForm1::Stone5Click},
    {12, "Tür zum Verlassen des Levels", &TForm1::Stone12Click},
    {15, "Trampolin", &TForm1::Stone15Click},
    {10, "Zemb", &TForm1::Stone10Click},
    {4, "Stacheldraht", &TForm1::Stone4Click},
    {13, "Lava", &TForm1::Stone13Click},
    {9, NoHint, &TForm1::Stone9Click},
    {8, NoHint, &TForm1::Stone8Click},
    {3, NoHint, &TForm1::Stone3Click},
    {11, NoHint, &TForm1::Stone11Click},
    {17, NoHint, &TForm1::Stone17Click},
};

std::wstring ResourceName(const wchar_t* prefix, int n) {
    wchar_t buf[32];
    ::swprintf(buf, 32, L"%ls%02d", prefix, n);
    return buf;
}

void Place(TWinControl& c, int left, int top, int width = -1, int height = -1) {
    c.SetBounds(left, top, width < 0 ? c.Width() : width, height < 0 ? c.Height() : height);
}

} // namespace

TForm1::TForm1() {
    Name = "Form1";
    Hint = "actin";
    SetBounds(139, 86, 883, 599);
    ::SetWindowPos(Handle(), nullptr, 139, 86, 883, 599, SWP_NOZORDER | SWP_NOACTIVATE);

    for (int i = 0; i < 11; ++i)
        ToolList.AddResourceBitmap(ResourceName(L"TOOL", i).c_str());
    for (int i = 0; i <= MaxStoneNr; ++i)
        StoneList.AddResourceBitmap(ResourceName(L"STONE", i).c_str());
    PaletteList.AddResourceBitmap(L"SELECTTOOL");
    for (int i = 1; i <= MaxStoneNr; ++i)
        PaletteList.AddResourceBitmap(ResourceName(L"STONE", i).c_str());
    StonePictures = std::make_unique<TStonePictures>(StoneList);

    CreateMenus();
    CreateToolBars();
    CreateStatusBar();
    CreateLeftPanel();
    CreateCanvas();

    OnCloseQuery = [this](TObject* s, bool& canClose) { FormClose(s, canClose); };
    OnActivate = [this](TObject* s) { FormActivate(s); };
    OnResize = [this](TObject* s) { FormResize(s); };
    Level.OnRefreshCanvas = [this] {
        if (ClientScrollBox) ClientScrollBox->UpdateScrollRanges();
    };
    Realign();
    FormCreate(this);
    LevelOptionForm = std::make_unique<TLevelOptionForm>(Level);
    ::SetWindowLongPtrW(LevelOptionForm->Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(Handle()));
}

TForm1::~TForm1() {
    if (FToolTip) ::DestroyWindow(FToolTip);
    // The stones are tiles of the canvas: free them while it still exists.
    Level.Clear();
}

void TForm1::CreateMenus() {
    TMenuItem& root = MainMenu.Items();
    FileMenu = root.Add("FileMenu", "&Datei");
    NewMenu = FileMenu->Add("NewMenu", "&Neu", scCtrl | 'N', "Erstellt ein neues Level");
    OpenMenu = FileMenu->Add("OpenMenu", "Ö&ffnen...", scCtrl | 'O', "Öffnet ein bereits vorhandenes Level");
    FileMenu->AddSeparator();
    SaveMenu = FileMenu->Add("SaveMenu", "&Speichern", scCtrl | 'S', "Speichert das aktuelle Level");
    SaveUsMenu = FileMenu->Add("SaveUsMenu", "Speichern &unter...", 0,
                               "Speichert das aktuelle Level unter einem neuen Namen");
    FileMenu->AddSeparator();
    CloseFileMenu = FileMenu->Add("CloseFileMenu", "Datei schließen", scCtrl | VK_F4);
    CloseFileMenu->SetVisible(false);
    CloseMenu = FileMenu->Add("CloseMenu", "B&eenden", scAlt | VK_F4, "Beendet den LevelEditor");

    EditMenu = root.Add("EditMenu", "&Bearbeiten");
    UndoMenu = EditMenu->Add("UndoMenu", "Rückgängig", scCtrl | 'Z');
    EditMenu->AddSeparator();
    CutMenu = EditMenu->Add("CutMenu", "Ausschneiden", scCtrl | 'X');
    CopyMenu = EditMenu->Add("CopyMenu", "Kopieren", scCtrl | 'C');
    PasteMenu = EditMenu->Add("PasteMenu", "Einfügen", scCtrl | 'V');
    EditMenu->AddSeparator();
    DeleteMenu = EditMenu->Add("DeleteMenu", "Löschen", VK_DELETE, "Löscht den aktiven Stone");
    RecicleMenu = EditMenu->Add("RecicleMenu", "Papierkorb...", scCtrl | 'R');
    EditMenu->AddSeparator();
    MoveUpMenu = EditMenu->Add("MoveUpMenu", "Nach oben verschieben", VK_UP,
                               "Verschiebt den aktuellen Stone nach oben");
    MoveDownMenu = EditMenu->Add("MoveDownMenu", "Nach unten verschieben", VK_DOWN,
                                 "Verschiebt den aktuellen Stone nach unten");
    MoveLeftMenu = EditMenu->Add("MoveLeftMenu", "Nach links verschieben", VK_LEFT,
                                 "Verschiebt den aktuellen Stone nach links");
    MoveRightMenu = EditMenu->Add("MoveRightMenu", "Nach rechts verschieben", VK_RIGHT,
                                  "Verschiebt den aktuellen Stone nach rechts");
    EditMenu->AddSeparator();
    StoneNrPlusMenu = EditMenu->Add("StoneNrPlusMenu", "StoneNr aufwärts", VK_PRIOR,
                                    "Verändert die Stone-Nummer des aktuellen Stone aufwärts");
    StoneNrMinusMenu = EditMenu->Add("StoneNrMinusMenu", "Stonenr abwärts", VK_NEXT,
                                     "Verändert die Stone-Nummer des aktuellen Stone abwärts");
    for (TMenuItem* m : {UndoMenu, CutMenu, CopyMenu, PasteMenu, RecicleMenu})
        m->SetEnabled(false);

    ViewMenu = root.Add("ViewMenu", "&Ansicht");
    ShowToolBarMenu =
        ViewMenu->Add("ShowToolBarMenu", "Symbolleiste anzeigen", 0, "Blendet die Symbolleiste ein/aus");
    ShowStoneBarMenu =
        ViewMenu->Add("ShowStoneBarMenu", "StoneBar anzeigen", 0, "Blendet die Stonebar ein/aus");
    ShowStatusBarMenu =
        ViewMenu->Add("ShowStatusBarMenu", "Statusbar anzeigen", 0, "Blendet die Statusbar ein/aus");
    for (TMenuItem* m : {ShowToolBarMenu, ShowStoneBarMenu, ShowStatusBarMenu})
        m->SetChecked(true);

    LevelMenu = root.Add("LevelMenu", "&Level");
    LevelOptionMenu = LevelMenu->Add("LevelOptionMenu", "Optionen...", VK_F12,
                                     "Ruft ein Dialogfenster zu den Leveloptionen auf");
    CleanMenu = LevelMenu->Add("CleanMenu", "Säubern", scCtrl | VK_SPACE, "Entfernt überflüssige Linien");

    NewMenu->OnClick = [this](TObject* s) { NewMenuClick(s); };
    OpenMenu->OnClick = [this](TObject* s) { OpenMenuClick(s); };
    SaveMenu->OnClick = [this](TObject* s) { SaveMenuClick(s); };
    SaveUsMenu->OnClick = [this](TObject* s) { SaveUsMenuClick(s); };
    CloseFileMenu->OnClick = [this](TObject* s) { CloseFileMenuClick(s); };
    CloseMenu->OnClick = [this](TObject* s) { CloseMenuClick(s); };
    ShowToolBarMenu->OnClick = [this](TObject* s) { ShowToolBarMenuClick(s); };
    ShowStoneBarMenu->OnClick = [this](TObject* s) { ShowStoneBarMenuClick(s); };
    ShowStatusBarMenu->OnClick = [this](TObject* s) { ShowStatusBarMenuClick(s); };
    CleanMenu->OnClick = [this](TObject* s) { CleanMenuClick(s); };
    LevelOptionMenu->OnClick = [this](TObject* s) { LevelOptionMenuClick(s); };
    DeleteMenu->OnClick = [this](TObject* s) { DeleteMenuClick(s); };
    MoveUpMenu->OnClick = [this](TObject* s) { MoveUpMenuClick(s); };
    MoveDownMenu->OnClick = [this](TObject* s) { MoveDownMenuClick(s); };
    MoveLeftMenu->OnClick = [this](TObject* s) { MoveLeftMenuClick(s); };
    MoveRightMenu->OnClick = [this](TObject* s) { MoveRightMenuClick(s); };
    StoneNrPlusMenu->OnClick = [this](TObject* s) { StoneNrPlusMenuClick(s); };
    StoneNrMinusMenu->OnClick = [this](TObject* s) { StoneNrMinusMenuClick(s); };

    EditToolBarMenu = ToolBarMenu.Items().Add("EditToolBarMenu", "Bearbeiten...");
    EditToolBarMenu->SetEnabled(false);
    CloseToolBarMenu = ToolBarMenu.Items().Add("CloseToolBarMenu", "Schließen");
    CloseToolBarMenu->OnClick = [this](TObject* s) { CloseToolBarMenuClick(s); };
    CloseStoneBarMenu = StoneBarMenu.Items().Add("CloseStoneBarMenu", "Schließen");
    CloseStoneBarMenu->OnClick = [this](TObject* s) { CloseStoneBarMenuClick(s); };

    SetMenu(&MainMenu);
}

void TForm1::CreateToolBars() {
    ToolBevel = std::make_unique<TBevel>(this);
    ToolBevel->Name = "ToolBevel";
    ToolBevel->SetBounds(0, 0, 883, 2);
    ToolBevel->SetAlign(TAlign::alTop);

    ToolBarPanel = std::make_unique<TPanel>(this);
    ToolBarPanel->Name = "ToolBarPanel";
    ToolBarPanel->SetBounds(0, 2, 883, 23);
    ToolBarPanel->SetAlign(TAlign::alTop);
    ToolBar = std::make_unique<TToolBar>(ToolBarPanel.get(), &ToolList, 23, 22, false);
    ToolBar->Name = "ToolBar";
    ToolBar->SetBounds(0, 0, 883, 23);
    ToolBar->SetAlign(TAlign::alClient);
    auto tool = [this](const char* name, int image, const char* hint, TMenuItem* menu) {
        TToolButton b;
        b.Name = name;
        b.ImageIndex = image;
        b.Hint = hint;
        b.Enabled = menu ? menu->Enabled() : false;
        if (menu)
            b.OnClick = [menu](TObject*) {
                if (menu->EffectiveEnabled()) menu->Click();
            };
        ToolBar->AddButton(std::move(b));
    };
    auto separator = [this] {
        TToolButton b;
        b.Separator = true;
        ToolBar->AddButton(std::move(b));
    };
    tool("NewBtn", 0, "Erstellt ein neues Level", NewMenu);
    tool("OpenBtn", 1, "Öffnet ein bereits vorhandenes Level", OpenMenu);
    tool("SaveBtn", 2, "Speichert das aktuelle Level", SaveMenu);
    separator();
    tool("UndoBtn", 3, NoHint, UndoMenu);
    separator();
    tool("CutBtn", 4, NoHint, CutMenu);
    tool("CopyBtn", 5, NoHint, CopyMenu);
    tool("PasteBtn", 6, NoHint, PasteMenu);
    separator();
    tool("DeleteBtn", 7, "Löscht den aktiven Stone", DeleteMenu);
    tool("RecicleBtn", 8, NoHint, RecicleMenu);
    separator();
    tool("LevelOptionBtn", 9, "Ruft ein Dialogfenster zu den Leveloptionen auf", LevelOptionMenu);
    tool("LevelCleanBtn", 10, "Entfernt überflüssige Linien", CleanMenu);
    ToolBar->OnContextMenu = [this](TObject*, TMouseButton, TShiftState, int32_t x, int32_t y) {
        ToolBarMenu.Popup(Handle(), x, y);
    };

    StoneBarPnl = std::make_unique<TScrollBox>(this, true, false, ::GetSysColor(COLOR_BTNFACE));
    StoneBarPnl->Name = "StoneBarPnl";
    StoneBarPnl->SetBounds(0, 25, 883, 80);
    StoneBarPnl->SetAlign(TAlign::alTop);
    MouseBar = std::make_unique<TToolBar>(StoneBarPnl.get(), &PaletteList, 57, 56, true);
    MouseBar->Name = "MouseBar";
    TToolButton select;
    select.Name = "Stone0";
    select.ImageIndex = 0;
    select.Hint = "Objekte auswählen";
    select.Check = true;
    select.OnClick = [this](TObject* s) { Stone0Click(s); };
    MouseBar->AddButton(std::move(select));
    MouseBar->SetBounds(0, 0, 61, 60);

    StoneBar = std::make_unique<TToolBar>(StoneBarPnl.get(), &PaletteList, 57, 56, true);
    StoneBar->Name = "StoneBar";
    for (const TPaletteEntry& e : StoneBarEntries) {
        TToolButton b;
        b.Name = "Stone" + std::to_string(e.StoneNr);
        b.ImageIndex = e.StoneNr; // PaletteList: 0 is the arrow, n the picture of type n
        b.Hint = e.Hint;
        b.Check = true;
        b.OnClick = [this, click = e.Click](TObject* s) { (this->*click)(s); };
        StoneBar->AddButton(std::move(b));
    }
    StoneBar->SetBounds(MouseBar->Width() + 4, 0, StoneBar->ContentWidth() + 4, 60);
    MouseBar->SetDown(0, true);
    auto stoneBarMenu = [this](TObject*, TMouseButton, TShiftState, int32_t x, int32_t y) {
        StoneBarMenu.Popup(Handle(), x, y);
    };
    MouseBar->OnContextMenu = stoneBarMenu;
    StoneBar->OnContextMenu = stoneBarMenu;
    StoneBarPnl->UpdateScrollRanges();
}

void TForm1::CreateStatusBar() {
    StatusBar = std::make_unique<TPanel>(this);
    StatusBar->Name = "StatusBar";
    StatusBar->SetBounds(0, 0, 883, 21);
    StatusBar->SetAlign(TAlign::alBottom);
    PosBar = std::make_unique<TStatusBar>(StatusBar.get());
    PosBar->Name = "PosBar";
    PosBar->SetBounds(0, 0, 138, 21);
    PosBar->SetAlign(TAlign::alRight);
    StatusSplitter = std::make_unique<TSplitter>(StatusBar.get(), PosBar.get(), 100);
    StatusSplitter->SetBounds(0, 0, 3, 21);
    StatusSplitter->SetAlign(TAlign::alRight);
    MenuBar = std::make_unique<TStatusBar>(StatusBar.get());
    MenuBar->Name = "MenuBar";
    MenuBar->SetAlign(TAlign::alClient);
}

void TForm1::CreateLeftPanel() {
    LeftPanel = std::make_unique<TPanel>(this);
    LeftPanel->Name = "LeftPanel";
    LeftPanel->SetBounds(0, 0, 144, 400);
    LeftPanel->SetAlign(TAlign::alLeft);
    LeftBevel = std::make_unique<TBevel>(LeftPanel.get());
    LeftBevel->SetBounds(0, 0, 144, 2);
    LeftBevel->SetAlign(TAlign::alTop);

    Label1 = std::make_unique<TLabel>(LeftPanel.get(), "X");
    Place(*Label1, 8, 16);
    PX = std::make_unique<TEdit>(LeftPanel.get());
    PX->Name = "PX";
    Place(*PX, 32, 16, 89, 21);
    Label2 = std::make_unique<TLabel>(LeftPanel.get(), "Y");
    Place(*Label2, 8, 40);
    PY = std::make_unique<TEdit>(LeftPanel.get());
    PY->Name = "PY";
    Place(*PY, 32, 40, 89, 21);
    Label3 = std::make_unique<TLabel>(LeftPanel.get(), "Nr");
    Place(*Label3, 8, 64);
    PNr = std::make_unique<TEdit>(LeftPanel.get());
    PNr->Name = "PNr";
    Place(*PNr, 31, 64, 89, 21);
    PVisible = std::make_unique<TCheckBox>(LeftPanel.get(), "Sichtbar");
    PVisible->Name = "PVisible";
    Place(*PVisible, 8, 88, 97, 17);
    Bevel3 = std::make_unique<TBevel>(LeftPanel.get());
    Place(*Bevel3, 0, 112, 145, 2);

    PX->OnKeyDown = [this](TObject* s, WORD& key, TShiftState sh) { PXKeyDown(s, key, sh); };
    PY->OnKeyDown = [this](TObject* s, WORD& key, TShiftState sh) { PYKeyDown(s, key, sh); };
    PNr->OnKeyDown = [this](TObject* s, WORD& key, TShiftState sh) { PNrKeyDown(s, key, sh); };
    PVisible->OnClick = [this](TObject* s) { PVisibleClick(s); };

    CreateDefaultXP();
    CreateActionXP();
    CreateSchalterXP();
    CreateZembXP();
}

void TForm1::CreateCanvas() {
    ClientPanel = std::make_unique<TPanel>(this, RGB(128, 128, 128));
    ClientPanel->Name = "ClientPanel";
    ClientPanel->SetAlign(TAlign::alClient);
    ClientScrollBox = std::make_unique<TScrollBox>(ClientPanel.get(), true, true, RGB(255, 255, 255));
    ClientScrollBox->Name = "ClientScrollBox";
    ClientScrollBox->SetAlign(TAlign::alClient);
    LevelImage = std::make_unique<TLevelCanvas>(ClientScrollBox.get(), *StonePictures);
    LevelImage->Name = "LevelImage";
    LevelImage->SetBounds(0, 0, 800, 600);
    LevelImage->OnMouseDown = [this](TObject* s, TMouseButton b, TShiftState sh, int32_t x, int32_t y) {
        LevelImageImgMouseDown(s, b, sh, x, y);
    };
    LevelImage->OnMouseMove = [this](TObject* s, TShiftState sh, int32_t x, int32_t y) {
        LevelImageImgMouseMove(s, sh, x, y);
    };
    LevelImage->OnMouseUp = [this](TObject* s, TMouseButton b, TShiftState sh, int32_t x, int32_t y) {
        LevelImageImgMouseUp(s, b, sh, x, y);
    };
}

void TForm1::FormCreate(TObject*) {
    LevelImage->SetBounds(0, 0, LevelImage->Width(), LevelImage->Height());
    Level.Saved = true;
    Level.Stones.clear();
    NewMenuClick(this);
    Level.CurrentStone = nullptr;
    PX->SetEnabled(false);
    PY->SetEnabled(false);
    PNr->SetEnabled(false);
    PVisible->SetEnabled(false);
    ZembXPZembBox->SetItemIndex(0);
}

void TForm1::SetTitle() {
    std::string title = ExtractFileName(Level.FileName) + " - LevelEditor";
    SetCaption(title);
    Application().SetTitle(title);
}

void TForm1::ResizeCanvas() {
    // The options dialog sets no upper bound: a size whose pixels exceed int32 gets the widest
    // canvas there is instead of wrapping around to a negative or a small one.
    auto extent = [](int32_t cells) {
        return static_cast<int32_t>(std::clamp<int64_t>(int64_t{cells} * StoneSize, 0, INT32_MAX));
    };
    LevelImage->SetBounds(LevelImage->Left(), LevelImage->Top(), extent(Level.LevelWidth),
                          extent(Level.LevelHeight));
    ClientScrollBox->UpdateScrollRanges();
}

void TForm1::RefreshCanvas() {
    // Re-evaluating the ranges clamps the view to a range that became shorter; the position
    // otherwise stays where it was.
    ClientScrollBox->UpdateScrollRanges();
    LevelImage->Invalidate();
}

void TForm1::ClearLevel() {
    LevelImage->BeginUpdate();
    struct TEndUpdate {
        TLevelCanvas& C;
        ~TEndUpdate() { C.EndUpdate(); }
    } endUpdate{*LevelImage};
    Level.Clear();
    ResizeCanvas();
}

TLevelStone* TForm1::CreateStone() {
    auto* stone = new TLevelStone(Level);
    stone->SetParent(LevelImage.get());
    stone->OnMouseDown = LevelImage->OnMouseDown;
    stone->OnMouseMove = LevelImage->OnMouseMove;
    stone->OnMouseUp = LevelImage->OnMouseUp;
    return stone;
}

int TForm1::AskSaveChanges() {
    return Application().MessageBox("Änderungen an '" + Level.FileName + "' speichern?", Caption(),
                                    MB_YESNOCANCEL | MB_ICONQUESTION);
}

bool TForm1::ConfirmDiscard() {
    if (Level.Saved) return true;
    switch (AskSaveChanges()) {
    case IDYES:
        // A save that does not happen (dialog cancelled, level refused) keeps the changes.
        return SaveMenuClick(this);
    case IDNO:
        return true;
    default:
        return false;
    }
}

void TForm1::NewMenuClick(TObject*) {
    if (!ConfirmDiscard()) return;
    Level.FileName = UntitledLevelName;
    SetTitle();
    ClearLevel();
    Level.Saved = true;
}

void TForm1::OpenMenuClick(TObject*) {
    OpenDialog.FileName.clear();
    if (!OpenDialog.Execute(Handle())) return;
    if (!ConfirmDiscard()) return;
    OpenLevelFile(OpenDialog.FileName);
}

void TForm1::OpenLevelFile(const std::string& path) {
    ClearLevel();
    Level.FileName = path;
    LoadLevel();
    SetTitle();
    ResizeCanvas();
}

bool TForm1::SaveMenuClick(TObject*) {
    if (Level.FileName == UntitledLevelName) return SaveUsMenuClick(this);
    return SaveLevel();
}

bool TForm1::SaveUsMenuClick(TObject*) {
    SaveDialog.FileName.clear();
    if (!SaveDialog.Execute(Handle())) return false;
    std::string path = SaveDialog.FileName;
    if (ExtractFileName(path).find('.') == std::string::npos) path += ".lvl";
    Level.FileName = path;
    if (!SaveLevel()) return false;
    SetTitle();
    return true;
}

void TForm1::CloseMenuClick(TObject*) {
    Close();
}

void TForm1::CloseFileMenuClick(TObject*) {
    Close();
    Running = true;
}

void TForm1::FormClose(TObject*, bool& canClose) {
    if (Level.Saved) {
        Running = false;
        return;
    }
    switch (AskSaveChanges()) {
    case IDYES:
        if (!SaveMenuClick(this)) {
            canClose = false;
            return;
        }
        Running = false;
        break;
    case IDNO:
        Running = false;
        break;
    default:
        canClose = false;
        break;
    }
}

void TForm1::FormActivate(TObject*) {
    Application().OnHint = [this](TObject* s) { ShowAppHint(s); };
}

void TForm1::ShowAppHint(TObject*) {
    MenuBar->SetText(Application().Hint());
}

void TForm1::FormResize(TObject*) {
    if (::IsIconic(Handle())) Application().Minimize();
}

void TForm1::UpdateToolBevel() {
    ToolBevel->SetVisible(ToolBarPanel->Visible() || StoneBarPnl->Visible());
}

void TForm1::ShowToolBarMenuClick(TObject*) {
    ShowToolBarMenu->SetChecked(!ShowToolBarMenu->Checked());
    ToolBarPanel->SetVisible(ShowToolBarMenu->Checked());
    UpdateToolBevel();
}

void TForm1::ShowStoneBarMenuClick(TObject*) {
    ShowStoneBarMenu->SetChecked(!ShowStoneBarMenu->Checked());
    StoneBarPnl->SetVisible(ShowStoneBarMenu->Checked());
    UpdateToolBevel();
}

void TForm1::ShowStatusBarMenuClick(TObject*) {
    ShowStatusBarMenu->SetChecked(!ShowStatusBarMenu->Checked());
    StatusBar->SetVisible(ShowStatusBarMenu->Checked());
}

void TForm1::CloseToolBarMenuClick(TObject*) {
    ToolBarPanel->SetVisible(false);
    ShowToolBarMenu->SetChecked(false);
    UpdateToolBevel();
}

void TForm1::CloseStoneBarMenuClick(TObject*) {
    StoneBarPnl->SetVisible(false);
    ShowStoneBarMenu->SetChecked(false);
    UpdateToolBevel();
}

TForm1::TPaletteButton TForm1::PaletteButton(int32_t stoneNr) const {
    if (stoneNr == 0) return {MouseBar.get(), 0};
    return {StoneBar.get(), StoneBar->IndexOf("Stone" + std::to_string(stoneNr))};
}

void TForm1::StoneClick(TObject*, int32_t stoneNr) {
    MouseBar->SetDown(0, false);
    for (int i = 0; i < StoneBar->ButtonCount(); ++i)
        StoneBar->SetDown(i, false);
    TPaletteButton b = PaletteButton(stoneNr);
    if (b.Bar && b.Index >= 0) b.Bar->SetDown(b.Index, true);
    PaletteStoneNr = stoneNr;
}

void TForm1::Stone0Click(TObject* sender) {
    StoneClick(sender, 0);
}
void TForm1::Stone1Click(TObject* sender) {
    StoneClick(sender, 1);
}
void TForm1::Stone2Click(TObject* sender) {
    StoneClick(sender, 2);
}
void TForm1::Stone3Click(TObject* sender) {
    StoneClick(sender, 3);
}
void TForm1::Stone4Click(TObject* sender) {
    StoneClick(sender, 4);
}
void TForm1::Stone5Click(TObject* sender) {
    StoneClick(sender, 5);
}
void TForm1::Stone8Click(TObject* sender) {
    StoneClick(sender, 8);
}
void TForm1::Stone9Click(TObject* sender) {
    StoneClick(sender, 9);
}
void TForm1::Stone10Click(TObject* sender) {
    StoneClick(sender, 10);
}
void TForm1::Stone11Click(TObject* sender) {
    StoneClick(sender, 11);
}
void TForm1::Stone12Click(TObject* sender) {
    StoneClick(sender, 12);
}
void TForm1::Stone13Click(TObject* sender) {
    StoneClick(sender, 13);
}
void TForm1::Stone15Click(TObject* sender) {
    StoneClick(sender, 15);
}
void TForm1::Stone17Click(TObject* sender) {
    StoneClick(sender, 17);
}

void TForm1::LevelImageImgMouseDown(TObject* sender, TMouseButton button, TShiftState, int32_t x, int32_t y) {
    auto* stone = sender == LevelImage.get() ? nullptr : dynamic_cast<TLevelStone*>(sender);
    if (stone) Stone0Click(sender);
    if (button != TMouseButton::mbLeft) return;
    Dragging = true;

    if (PaletteStoneNr != 0) {
        // Only the canvas gets here: a press on a stone chose the select tool above.
        TLevelStone* placed = CreateStone();
        placed->SetStoneNr(PaletteStoneNr);
        placed->SetPosition(x / StoneSize, y / StoneSize);
        Level.CurrentStone = placed;
        Level.Stones.push_back(placed);
        return;
    }

    if (PickingTarget && stone) {
        auto it = std::find(Level.Stones.begin(), Level.Stones.end(), stone);
        if (it != Level.Stones.end()) {
            PickingTarget = false;
            MenuBar->SetText("");
            if (Level.CurrentStone) {
                Level.CurrentStone->SchalterTarget = static_cast<int32_t>(it - Level.Stones.begin());
                return;
            }
            // The switch the pick was for is gone: the click selects, as any click on a stone.
        }
    }

    // The selection click. The panel ends up cleared, or filled from the clicked stone; it goes
    // there directly, so controls that keep their state are not repainted on a large level.
    PanelUpdating = true;
    struct TPanelUpdated {
        bool& Flag;
        ~TPanelUpdated() { Flag = false; }
    } panelUpdated{PanelUpdating};
    Level.CurrentStone = nullptr;
    for (TLevelStone* s : Level.Stones) {
        if (s == stone) {
            s->Select();
            Level.CurrentStone = s;
        } else {
            s->Unselect();
        }
    }
    if (Level.CurrentStone)
        ShowStoneInPanel(Level.CurrentStone);
    else
        ClearPanel();
}

void TForm1::LevelImageImgMouseMove(TObject* sender, TShiftState, int32_t x, int32_t y) {
    int64_t px = x, py = y;
    if (sender != LevelImage.get()) {
        if (auto* c = dynamic_cast<TControl*>(sender)) {
            px += c->Left();
            py += c->Top();
        }
    }
    // Division truncates toward zero, so the first 49 pixels left of the canvas still read 0.
    auto col = static_cast<int32_t>(px / StoneSize), row = static_cast<int32_t>(py / StoneSize);
    PosBar->SetText("X: " + IntToStr(col) + "; Y: " + IntToStr(row));
    if (TLevelStone* s = Level.CurrentStone; s && Dragging) {
        s->SetPosition(col, row);
        PX->SetText(IntToStr(s->X));
        PY->SetText(IntToStr(s->Y));
        Level.Saved = false;
    }
}

void TForm1::LevelImageImgMouseUp(TObject*, TMouseButton button, TShiftState, int32_t, int32_t) {
    if (button == TMouseButton::mbLeft) Dragging = false;
}
