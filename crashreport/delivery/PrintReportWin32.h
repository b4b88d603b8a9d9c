#pragma once
// Printing the bug report: the print dialog, then the report in Courier New 8 pt, word-wrapped,
// page after page.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "crashreport/delivery/PrintReport.h"
#include "crashreport/settings/Settings.h"

// Shows the print dialog owned by `parent` and prints on the printer chosen; the document is
// named `PrintBtnTxt`. Without settings the program's are used.
void PrintBugReport(const std::string& report, HWND parent, IMESettings* settings);

// The printer's page as its device context reports it.
TPrinterPage PrinterPageOf(HDC dc);
// "Courier New" of 8 points at the device's resolution.
HFONT CreatePrintFont(HDC dc);

struct TPrintedLine {
    int Page = 0; // from 0
    size_t Line = 0;
    RECT Rect{};
};
// Draws the lines with the font selected in `dc`, each word-wrapped to the area's width; a line
// that does not fit below the one before starts a new page at the area's top. `startPage` and
// `endPage` frame each page (false: stop). Returns where each line went.
std::vector<TPrintedLine> DrawReportPages(HDC dc, const std::vector<std::string>& lines,
                                          const TPageRect& area, const std::function<bool()>& startPage,
                                          const std::function<bool()>& endPage);
