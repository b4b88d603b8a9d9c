#pragma once
// The level options dialog: the level's size and the player's start cell. Not modal: while it
// waits, every window of the program keeps working.
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

#include <memory>

class TLevel;

// True while ShowOptions waits.
extern bool DialogRunning;

class TLevelOptionForm : public TForm {
public:
    explicit TLevelOptionForm(TLevel& level);
    ~TLevelOptionForm() override;

    std::unique_ptr<TGroupBox> SizeGroup, StartGroup;
    std::unique_ptr<TLabel> SizeWidthLbl1, SizeWidthLbl2, SizeHeightLbl1, SizeHeightLbl2;
    std::unique_ptr<TLabel> StartXLbl1, StartXLbl2, StartYLbl1, StartYLbl2;
    std::unique_ptr<TEdit> SizeWidthTxt, SizeHeightTxt, StartXTxt, StartYTxt;
    std::unique_ptr<TButton> OKBtn, CancelBtn;

    // Fills, shows and waits until OK, Cancel or the close button ends the wait.
    void ShowOptions();
    void OKBtnClick(TObject* sender);
    void CancelBtnClick(TObject* sender);
    void FormClose(TObject* sender, bool& canClose);

private:
    TLevel& FLevel;
    HFONT FFont;
};
