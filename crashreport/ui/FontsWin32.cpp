#include "crashreport/ui/FontsWin32.h"

#include "crashreport/base/HandlesWin32.h"

HFONT MakeFont(const wchar_t* face, int height, int weight) {
    return ::CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

// CreateFont would quietly hand out another face: ask which one it gave.
HFONT MakeDialogFont(int weight) {
    HFONT font = MakeFont(L"Tahoma", 11, weight);
    bool tahoma = false;
    if (font) {
        TMemoryDC dc(::CreateCompatibleDC(nullptr));
        HGDIOBJ old = ::SelectObject(dc.Get(), font);
        wchar_t face[LF_FACESIZE] = {};
        ::GetTextFaceW(dc.Get(), LF_FACESIZE, face);
        ::SelectObject(dc.Get(), old);
        tahoma = ::lstrcmpiW(face, L"Tahoma") == 0;
    }
    if (!tahoma) {
        if (font) ::DeleteObject(font);
        font = MakeFont(L"MS Sans Serif", 12, weight);
    }
    return font;
}
