#pragma once
// The progress window (unit xunNVPrgrAlert): a small topmost tool window with an optional
// picture, the current stage's text and a bar that runs once from 0 to 1000 over weighted
// stages. It belongs to the thread that shows it; other threads may advance and close it.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/base/RefCounted.h"
#include "crashreport/ui/ProgressStages.h"

class IProgressAlert : public IRefCounted {
public:
    virtual std::string Title() const = 0;
    virtual void SetTitle(const std::string& title) = 0;
    virtual int32_t StagePosition() const = 0;
    virtual void SetStagePosition(int32_t position) = 0; // 0..1000 within the current stage
    virtual void AddStage(const std::string& text, uint64_t weight) = 0;
    virtual void ClearStages() = 0;
    virtual void StageDone() = 0;
    virtual int32_t CurrentStage() const = 0;
    virtual void SetCurrentStage(int32_t stage) = 0;
    virtual void PumpMessages() = 0;
    // False when the window is already showing.
    virtual bool ShowAlert(HWND owner, bool activate) = 0;
    virtual void CloseAlert() = 0;
};

class TIProgressAlert : public TRefCountedImpl<IProgressAlert> {
public:
    TIProgressAlert(const std::string& title, HMODULE bitmapModule, const std::string& bitmapName);

    std::string Title() const override;
    void SetTitle(const std::string& title) override;
    int32_t StagePosition() const override;
    void SetStagePosition(int32_t position) override;
    void AddStage(const std::string& text, uint64_t weight) override;
    void ClearStages() override;
    void StageDone() override;
    int32_t CurrentStage() const override;
    void SetCurrentStage(int32_t stage) override;
    void PumpMessages() override;
    bool ShowAlert(HWND owner, bool activate) override;
    void CloseAlert() override;

    HMODULE BitmapModule() const { return FBitmapModule; }
    const std::wstring& BitmapName() const { return FBitmapName; }

protected:
    ~TIProgressAlert() override;

private:
    bool OwnsWindow(HWND wnd) const;
    void ShowStageText();
    HFONT MakeFont();

    mutable std::mutex FLock; // stages, title and window handles
    std::string FTitle;
    const HMODULE FBitmapModule;
    const std::wstring FBitmapName;
    TProgressStages FStages;
    HWND FWnd = nullptr, FPicture = nullptr, FLabel = nullptr, FBar = nullptr;
    HWND FOwner = nullptr;
    bool FBuilding = false; // ShowAlert is creating the window
    TGdi<HFONT> FFont;      // declared before the DC: deleted after it
    TMemoryDC FMeasureDC;
    HGDIOBJ FOldFont = nullptr; // selected back in before either goes
};

TRef<IProgressAlert> CreateProgressAlert(const std::string& title, HMODULE bitmapModule,
                                         const std::string& bitmapName);

// Draws a size x size picture of 32-bit pixels with alpha, blended onto the button face, at
// (0, 0). `bytes` must be a 40-byte bitmap information header and exactly size*size pixels;
// anything else draws nothing (false).
bool DrawAlphaPixels(HDC dc, const uint8_t* bytes, size_t count, int size);
// The same from a bitmap resource of the module.
bool DrawAlphaPicture(HDC dc, HMODULE module, const wchar_t* name, int size);
