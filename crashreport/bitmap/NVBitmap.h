#pragma once
// The screenshot bitmap (unit xunNVBitmap): a 32-bit DIB section with its memory DC, screen
// capture, BMP and PNG output and zoom. The codecs themselves are portable (Bitmap32, PngWriter,
// Zoom); this layer owns the GDI objects.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/base/RefCounted.h"
#include "crashreport/bitmap/Bitmap32.h"

class INVBitmap : public IRefCounted {
public:
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual void Draw(HDC dc, int x, int y) = 0;
    virtual std::vector<uint8_t> AsBmp() const = 0;
    virtual bool SaveBmp(const std::string& path) const = 0; // UTF-8 path
    virtual std::vector<uint8_t> AsPng(int mode) const = 0;  // empty when compression failed
    virtual bool SavePng(const std::string& path, int mode) const = 0;
    virtual TRef<INVBitmap> Zoom(int32_t width, int32_t height) const = 0; // null on failure
    // The pixels as the portable code sees them (top-down, fourth byte 0).
    virtual TBitmap32 Pixels() const = 0;
};

class TINVBitmap : public TRefCountedImpl<INVBitmap> {
public:
    // A white bitmap; check Valid() afterwards.
    TINVBitmap(int32_t width, int32_t height);
    bool Valid() const { return FBits != nullptr; }
    HDC DC() const { return FDC.Get(); }

    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }
    void Draw(HDC dc, int x, int y) override;
    std::vector<uint8_t> AsBmp() const override;
    bool SaveBmp(const std::string& path) const override;
    std::vector<uint8_t> AsPng(int mode) const override;
    bool SavePng(const std::string& path, int mode) const override;
    TRef<INVBitmap> Zoom(int32_t width, int32_t height) const override;
    TBitmap32 Pixels() const override;
    void SetPixels(const TBitmap32& bmp); // same size only

protected:
    ~TINVBitmap() override;

private:
    int32_t FWidth = 0, FHeight = 0;
    TMemoryDC FDC; // declared before the bitmap: deleted after it
    TGdi<HBITMAP> FBitmap;
    HGDIOBJ FOldBitmap = nullptr; // selected back in before either goes
    uint32_t* FBits = nullptr;    // rows bottom-up, as the DIB stores them
};

// A new bitmap holding the picture; null when it is empty or GDI refuses.
TRef<INVBitmap> NewNVBitmap(const TBitmap32& bmp);

// The whole virtual screen, or only this process's visible top-level windows (the parts not
// covered by other windows; white elsewhere). Null when nothing could be captured.
TRef<INVBitmap> CaptureScreen(bool applicationOnly);

// A BMP file as a 32-bit bitmap; null when it cannot be read.
TRef<INVBitmap> LoadNVBitmap(const std::string& path);
