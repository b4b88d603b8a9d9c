#include "crashreport/delivery/PrintReportWin32.h"

#include <commdlg.h>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/delivery/MailClientWin32.h"
#include "crashreport/settings/SettingsWin32.h"
#include "framework/Win32Util.h"

namespace {

// "&" is printed, not taken for a mnemonic; a word wider than the page (a long path) is broken
// instead of cut off at the edge.
constexpr UINT LineFormat = DT_WORDBREAK | DT_EDITCONTROL | DT_EXTERNALLEADING | DT_NOPREFIX | DT_EXPANDTABS;

struct TPrinterDC {
    HDC DC;
    ~TPrinterDC() { ::DeleteDC(DC); }
};

} // namespace

TPrinterPage PrinterPageOf(HDC dc) {
    TPrinterPage p;
    p.DpiX = ::GetDeviceCaps(dc, LOGPIXELSX);
    p.DpiY = ::GetDeviceCaps(dc, LOGPIXELSY);
    p.SheetWidth = ::GetDeviceCaps(dc, PHYSICALWIDTH);
    p.SheetHeight = ::GetDeviceCaps(dc, PHYSICALHEIGHT);
    p.OffsetX = ::GetDeviceCaps(dc, PHYSICALOFFSETX);
    p.OffsetY = ::GetDeviceCaps(dc, PHYSICALOFFSETY);
    p.PrintableWidth = ::GetDeviceCaps(dc, HORZRES);
    p.PrintableHeight = ::GetDeviceCaps(dc, VERTRES);
    return p;
}

HFONT CreatePrintFont(HDC dc) {
    return ::CreateFontW(-::MulDiv(8, ::GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                         FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         FIXED_PITCH | FF_MODERN, L"Courier New");
}

std::vector<TPrintedLine> DrawReportPages(HDC dc, const std::vector<std::string>& lines,
                                          const TPageRect& area, const std::function<bool()>& startPage,
                                          const std::function<bool()>& endPage) {
    std::vector<TPrintedLine> out;
    if (lines.empty()) return out;
    int page = 0, top = area.Top;
    bool pageEmpty = true;
    if (!startPage()) return out;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::wstring text = Widen(lines[i]);
        RECT r{area.Left, top, area.Right, top};
        ::DrawTextW(dc, text.c_str(), int(text.size()), &r, LineFormat | DT_CALCRECT);
        const int height = r.bottom - r.top;
        // A line taller than the page goes on a page of its own rather than on no page at all.
        if (top + height > area.Bottom && !pageEmpty) {
            if (!endPage() || !startPage()) return out;
            ++page;
            top = area.Top;
        }
        RECT line{area.Left, top, area.Right, top + height};
        ::DrawTextW(dc, text.c_str(), int(text.size()), &line, LineFormat);
        out.push_back({page, i, line});
        top += height;
        pageEmpty = false;
    }
    endPage();
    return out;
}

void PrintBugReport(const std::string& report, HWND parent, IMESettings* settings) {
    if (LoaderLockHeld(250)) {
        ::MessageBeep(MB_OK);
        return;
    }
    TRef<IMESettings> own;
    if (!settings) {
        own = MainSettings();
        settings = own.Get();
    }
    PRINTDLGW pd{};
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = parent;
    pd.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_HIDEPRINTTOFILE | PD_NONETWORKBUTTON |
               PD_USEDEVMODECOPIESANDCOLLATE;
    if (!::PrintDlgW(&pd) || !pd.hDC) {
        if (pd.hDevMode) ::GlobalFree(pd.hDevMode);
        if (pd.hDevNames) ::GlobalFree(pd.hDevNames);
        return;
    }
    if (pd.hDevMode) ::GlobalFree(pd.hDevMode);
    if (pd.hDevNames) ::GlobalFree(pd.hDevNames);
    TPrinterDC printer{pd.hDC};
    HDC dc = printer.DC;
    TGdi<HFONT> font(CreatePrintFont(dc));
    TSelectObject selected(dc, font.Get());
    const std::wstring docName = Widen(settings ? settings->ReadText("PrintBtnTxt") : std::string());
    DOCINFOW doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = docName.c_str();
    if (::StartDocW(dc, &doc) <= 0) return;
    bool failed = false;
    const auto start = [&] { return !(failed = ::StartPage(dc) <= 0); };
    const auto end = [&] { return !(failed = ::EndPage(dc) <= 0); };
    DrawReportPages(dc, PrintLines(report), PrintMargins(PrinterPageOf(dc)), start, end);
    // A job cut short is taken back rather than printed in part.
    if (failed)
        ::AbortDoc(dc);
    else
        ::EndDoc(dc);
}
