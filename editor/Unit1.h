#pragma once
// The main window: menus, tool bar, stone bar, properties panel, canvas, status bar, and the
// document commands.
#include "editor/LevelCanvas.h"
#include "editor/LevelOption.h"
#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/SpinEdit.h"
#include "framework/StdCtrls.h"
#include "level/Level.h"
#include "level/LevelStone.h"

#include <memory>

// The program's main loop runs while this is true.
extern bool Running;

inline constexpr const char* LevelFileFilterOpen = "Leveldateien (*.lvl)|*.lvl|Alle Dateien (*.*)|*.*";
inline constexpr const char* LevelFileFilterSave = "Leveldateien (*.lvl)|*.lvl";

// A 30 x 30 picture of a stone type: the 50 x 50 picture stretched, its masked pixels showing the
// panel's colour.
class TStoneImage : public TPanel {
public:
    TStoneImage(TWinControl* parent, const TImageList& images, int index);
    void PaintContent(HDC dc, const RECT& area) override;
    int Index() const { return FIndex; }

private:
    const TImageList& FImages;
    int FIndex;
};

class TForm1 : public TForm {
public:
    TForm1();
    ~TForm1() override;

    TLevel Level;

    // Editor state of the canvas.
    int32_t PaletteStoneNr = 0;
    bool Dragging = false;
    bool PickingTarget = false;
    bool PanelUpdating = false;

    // Menus.
    TMainMenu MainMenu;
    TMenuItem *FileMenu, *NewMenu, *OpenMenu, *SaveMenu, *SaveUsMenu, *CloseFileMenu, *CloseMenu;
    TMenuItem *EditMenu, *UndoMenu, *CutMenu, *CopyMenu, *PasteMenu, *DeleteMenu, *RecicleMenu;
    TMenuItem *MoveUpMenu, *MoveDownMenu, *MoveLeftMenu, *MoveRightMenu, *StoneNrPlusMenu, *StoneNrMinusMenu;
    TMenuItem *ViewMenu, *ShowToolBarMenu, *ShowStoneBarMenu, *ShowStatusBarMenu;
    TMenuItem *LevelMenu, *LevelOptionMenu, *CleanMenu;
    TPopupMenu ToolBarMenu, StoneBarMenu;
    TMenuItem *EditToolBarMenu, *CloseToolBarMenu, *CloseStoneBarMenu;

    // Pictures.
    TImageList ToolList{16, 16};
    TImageList StoneList{50, 50};
    TImageList PaletteList{50, 50}; // the palette buttons: the stone pictures, the select tool's arrow
    std::unique_ptr<TStonePictures> StonePictures;
    // The pictures of the panel's captionless buttons; they outlive the buttons that show them.
    TIcon CopyPositionIcon, PickTargetIcon;

    // Controls, in creation order (which is also the alignment order).
    std::unique_ptr<TBevel> ToolBevel;
    std::unique_ptr<TPanel> ToolBarPanel;
    std::unique_ptr<TToolBar> ToolBar;
    std::unique_ptr<TScrollBox> StoneBarPnl;
    std::unique_ptr<TToolBar> MouseBar;
    std::unique_ptr<TToolBar> StoneBar;
    std::unique_ptr<TPanel> StatusBar;
    std::unique_ptr<TStatusBar> PosBar;
    std::unique_ptr<TSplitter> StatusSplitter;
    std::unique_ptr<TStatusBar> MenuBar;
    std::unique_ptr<TPanel> LeftPanel;
    std::unique_ptr<TBevel> LeftBevel;
    std::unique_ptr<TLabel> Label1, Label2, Label3;
    std::unique_ptr<TEdit> PX, PY, PNr;
    std::unique_ptr<TCheckBox> PVisible;
    std::unique_ptr<TBevel> Bevel3;

    // The kind panels of the properties panel.
    std::unique_ptr<TPanel> DefaultXP;
    std::unique_ptr<TCheckBox> DefaultXPMoveXCheck, DefaultXPMoveYCheck;
    std::unique_ptr<TLabel> DefaultXPLbl2, DefaultXPLbl3, DefaultXPLbl4, DefaultXPLbl5;
    std::unique_ptr<TEdit> DefaultXPStartX, DefaultXPStopX, DefaultXPStartY, DefaultXPStopY;
    std::unique_ptr<TButton> DefaultXPStartXBtn, DefaultXPStopXBtn, DefaultXPStartYBtn, DefaultXPStopYBtn;

    std::unique_ptr<TPanel> ActionXP;
    std::unique_ptr<TLabel> Label5;
    std::unique_ptr<TPanel> ActionInhaltPnl, ActionInhaltPnl2;
    std::unique_ptr<TPanel> ActionXPGoldsPnl, ActionXPLivesPnl, ActionXPKeysPnl;
    std::unique_ptr<TStoneImage> ActionXGoldsImg, ActionXPLivesImg, ActionXPKeysImg;
    std::unique_ptr<TSpinEdit> ActionXPGolds, ActionXPLives, ActionXPKeys;

    std::unique_ptr<TPanel> SchalterXP;
    std::unique_ptr<TLabel> SchalterXPLbl1;
    std::unique_ptr<TRadioButton> SchalterXPShowStone, SchalterXPHideStone, SchalterXPMovePlatform;
    std::unique_ptr<TButton> SchalterXPShowStoneBtn, SchalterXPHideStoneBtn, SchalterXPMovePlatformBtn;

    std::unique_ptr<TPanel> ZembXP;
    std::unique_ptr<TLabel> ZembXPZembLbl;
    std::unique_ptr<TComboBox> ZembXPZembBox;
    std::unique_ptr<TPanel> ZembXPZembPnl;
    std::unique_ptr<TLabel> ZembXPZembTxt;
    std::unique_ptr<TEdit> ZembXPZembTexte; // hidden; line n describes stage n
    std::unique_ptr<TRadioButton> ZembXPInhalt1Btn, ZembXPInhalt2Btn, ZembXPInhalt3Btn, ZembXPInhalt4Btn;
    std::unique_ptr<TStoneImage> ZembXPInhalt1Img, ZembXPInhalt2Img, ZembXPInhalt3Img, ZembXPInhalt4Img;

    std::unique_ptr<TPanel> ClientPanel;
    std::unique_ptr<TScrollBox> ClientScrollBox;
    std::unique_ptr<TLevelCanvas> LevelImage;

    // Created with the window, hidden between uses.
    std::unique_ptr<TLevelOptionForm> LevelOptionForm;

    TOpenDialog OpenDialog{LevelFileFilterOpen, {true, true, true, false}};
    TSaveDialog SaveDialog{LevelFileFilterSave, {true, true, false, true}};

    // Handlers.
    void FormCreate(TObject* sender);
    void NewMenuClick(TObject* sender);
    void OpenMenuClick(TObject* sender);
    // Save and Save As answer whether the level was written (false: cancelled or refused).
    bool SaveMenuClick(TObject* sender);
    bool SaveUsMenuClick(TObject* sender);
    void CloseMenuClick(TObject* sender);
    void CloseFileMenuClick(TObject* sender);
    void FormClose(TObject* sender, bool& canClose);
    void FormActivate(TObject* sender);
    void ShowAppHint(TObject* sender);
    void FormResize(TObject* sender);
    void ShowToolBarMenuClick(TObject* sender);
    void ShowStoneBarMenuClick(TObject* sender);
    void ShowStatusBarMenuClick(TObject* sender);
    void CloseToolBarMenuClick(TObject* sender);
    void CloseStoneBarMenuClick(TObject* sender);
    void StoneClick(TObject* sender, int32_t stoneNr);
    void Stone0Click(TObject* sender);
    void Stone1Click(TObject* sender);
    void Stone2Click(TObject* sender);
    void Stone3Click(TObject* sender);
    void Stone4Click(TObject* sender);
    void Stone5Click(TObject* sender);
    void Stone8Click(TObject* sender);
    void Stone9Click(TObject* sender);
    void Stone10Click(TObject* sender);
    void Stone11Click(TObject* sender);
    void Stone12Click(TObject* sender);
    void Stone13Click(TObject* sender);
    void Stone15Click(TObject* sender);
    void Stone17Click(TObject* sender);
    void LevelImageImgMouseDown(TObject* sender, TMouseButton button, TShiftState shift, int32_t x,
                                int32_t y);
    void LevelImageImgMouseMove(TObject* sender, TShiftState shift, int32_t x, int32_t y);
    void LevelImageImgMouseUp(TObject* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y);

    // Edit commands (menu "Bearbeiten", "Level" > "Säubern", their keys and tool bar buttons).
    void DeleteMenuClick(TObject* sender);
    void MoveUpMenuClick(TObject* sender);
    void MoveDownMenuClick(TObject* sender);
    void MoveLeftMenuClick(TObject* sender);
    void MoveRightMenuClick(TObject* sender);
    void StoneNrPlusMenuClick(TObject* sender);
    void StoneNrMinusMenuClick(TObject* sender);
    void CleanMenuClick(TObject* sender);
    void LevelOptionMenuClick(TObject* sender);

    // The properties panel.
    void PXKeyDown(TObject* sender, WORD& key, TShiftState shift);
    void PYKeyDown(TObject* sender, WORD& key, TShiftState shift);
    void PNrKeyDown(TObject* sender, WORD& key, TShiftState shift);
    void PVisibleClick(TObject* sender);
    void DefaultXPMoveXCheckClick(TObject* sender);
    void DefaultXPMoveYCheckClick(TObject* sender);
    void DefaultXPStartXBtnClick(TObject* sender);
    void DefaultXPStopXBtnClick(TObject* sender);
    void DefaultXPStartYBtnClick(TObject* sender);
    void DefaultXPStopYBtnClick(TObject* sender);
    void ActionXPGoldsChange(TObject* sender);
    void ActionXPLivesChange(TObject* sender);
    void ActionXPKeysChange(TObject* sender);
    void SchalterXPShowStoneClick(TObject* sender);
    void SchalterXPClick(TObject* sender);
    void SchalterXPMovePlatformClick(TObject* sender);
    void SchalterXPShowStoneBtnClick(TObject* sender);
    void SchalterXPHideStoneBtnClick(TObject* sender);
    void SchalterXPMovePlatformBtnClick(TObject* sender);
    void ZembXPZembBoxChange(TObject* sender);
    void ZembXPInhalt1BtnClick(TObject* sender);
    void ZembXPInhalt2BtnClick(TObject* sender);
    void ZembXPInhalt3BtnClick(TObject* sender);
    void ZembXPInhalt4BtnClick(TObject* sender);

    // Line n of ZembXPZembTexte.
    std::string ZembStageText(int n) const;
    // Empties and disables the top fields and hides the kind panels.
    void ClearPanel();
    // Fills the panel from a stone (the selection click).
    void ShowStoneInPanel(TLevelStone* stone);

    // Repaints the canvas and its stones and keeps the scroll position.
    void RefreshCanvas();
    void ClearLevel();
    // False when the level holds a value the file cannot store (the user was told why).
    bool SaveLevel();
    void LoadLevel();
    // Opens a level file as Open does, without the dialog (the command line's file).
    void OpenLevelFile(const std::string& path);
    // Creates a stone on the canvas with the canvas's mouse routing.
    TLevelStone* CreateStone();

    // Index of a palette button in MouseBar (Stone0) or StoneBar, by stone number.
    struct TPaletteButton {
        TToolBar* Bar;
        int Index;
    };
    TPaletteButton PaletteButton(int32_t stoneNr) const;
    void SetTitle();
    void ResizeCanvas();

private:
    void CreateMenus();
    void CreateToolBars();
    void CreateStatusBar();
    void CreateLeftPanel();
    void CreateDefaultXP();
    void CreateActionXP();
    void CreateSchalterXP();
    void CreateZembXP();
    void ApplyPosition(TEdit& field, bool column);
    void MoveCurrentStone(int dx, int dy);
    void StartPicking();
    void AddToolTip(TWinControl& control, const char* text);
    HWND FToolTip = nullptr; // the tooltips of the panel's buttons
    void CreateCanvas();
    void UpdateToolBevel();
    // The unsaved-changes question; IDYES, IDNO or IDCANCEL.
    int AskSaveChanges();
    // The question before the level is discarded; false when the command must stop.
    bool ConfirmDiscard();
};
