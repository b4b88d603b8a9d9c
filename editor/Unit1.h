#pragma once
// The main window: menus, tool bar, stone bar, properties panel, canvas, status bar, and the
// document commands.
#include "editor/LevelCanvas.h"
#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "level/Level.h"
#include "level/LevelStone.h"

#include <memory>

// The program's main loop runs while this is true.
extern bool Running;

inline constexpr const char* LevelFileFilterOpen = "Leveldateien (*.lvl)|*.lvl|Alle Dateien (*.*)|*.*";
inline constexpr const char* LevelFileFilterSave = "Leveldateien (*.lvl)|*.lvl";

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
    std::unique_ptr<TPanel> ClientPanel;
    std::unique_ptr<TScrollBox> ClientScrollBox;
    std::unique_ptr<TLevelCanvas> LevelImage;

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
    void LevelImageImgMouseDown(TObject* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y);
    void LevelImageImgMouseMove(TObject* sender, TShiftState shift, int32_t x, int32_t y);
    void LevelImageImgMouseUp(TObject* sender, TMouseButton button, TShiftState shift, int32_t x, int32_t y);

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
    void CreateCanvas();
    void UpdateToolBevel();
    // The unsaved-changes question; IDYES, IDNO or IDCANCEL.
    int AskSaveChanges();
    // The question before the level is discarded; false when the command must stop.
    bool ConfirmDiscard();
};
